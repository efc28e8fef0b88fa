#include "components/interrupcion.h"

#include <atomic>
#include <csignal>

namespace etapas {
namespace {

volatile std::sig_atomic_t pedida = 0;
std::atomic<int> trabajos{0};

}  // namespace

void PedirInterrupcion() { pedida = 1; }
bool InterrupcionPedida() { return pedida != 0; }
void OlvidarInterrupcion() { pedida = 0; }

bool HayTrabajoEnCurso() { return trabajos.load() > 0; }

TrabajoEnCurso::TrabajoEnCurso() { ++trabajos; }
TrabajoEnCurso::~TrabajoEnCurso() { --trabajos; }

}  // namespace etapas
