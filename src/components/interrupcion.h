#pragma once
// Asking the program to end while it may be carrying a change to the stores: the window's
// close box, Alt+F4, a logout (SIGTERM, SIGHUP). Work that must not be cut in the middle
// (a save and its walk) marks itself with TrabajoEnCurso and looks at InterrupcionPedida()
// between targets; the front end ends the program once that work has returned.
namespace etapas {

// Asks the running work to stop at its next safe point and the program to end after it.
// Async-signal-safe.
void PedirInterrupcion();
bool InterrupcionPedida();
// For tests and for a front end that has handled the request.
void OlvidarInterrupcion();

// Runs manejador (async-signal-safe code only) on SIGTERM and on SIGHUP, a logout; system
// calls it interrupts are restarted.
void EscucharFinDeSesion(void (*manejador)(int));

// True while a TrabajoEnCurso is alive.
bool HayTrabajoEnCurso();

class TrabajoEnCurso {
 public:
  TrabajoEnCurso();
  ~TrabajoEnCurso();
  TrabajoEnCurso(const TrabajoEnCurso&) = delete;
  TrabajoEnCurso& operator=(const TrabajoEnCurso&) = delete;
};

}  // namespace etapas
