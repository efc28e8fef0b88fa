#include "components/interrupcion.h"

#include <atomic>
#include <signal.h>

#include <csignal>

namespace etapas {
namespace {

volatile std::sig_atomic_t pedida = 0;
std::atomic<int> trabajos{0};

}  // namespace

void PedirInterrupcion() { pedida = 1; }
bool InterrupcionPedida() { return pedida != 0; }
void OlvidarInterrupcion() { pedida = 0; }

void EscucharFinDeSesion(void (*manejador)(int)) {
  struct sigaction sa {};
  sa.sa_handler = manejador;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGHUP, &sa, nullptr);
}

bool HayTrabajoEnCurso() { return trabajos.load() > 0; }

TrabajoEnCurso::TrabajoEnCurso() { ++trabajos; }
TrabajoEnCurso::~TrabajoEnCurso() { --trabajos; }

}  // namespace etapas
