#include "replication/desenlace.h"

namespace etapas::replicacion {
namespace {

// Each worker of a walk serves its own target.
thread_local Desenlace* actual = nullptr;

}  // namespace

void AnotarFallo(const std::string& motivo) {
  if (!actual || actual->fallo) return;
  actual->fallo = true;
  actual->motivo = motivo;
}

std::function<void()>& AntesDeEscribir() {
  static std::function<void()> gancho;
  return gancho;
}

Anotando::Anotando(Desenlace& d) : anterior_(actual) { actual = &d; }
Anotando::~Anotando() { actual = anterior_; }

}  // namespace etapas::replicacion
