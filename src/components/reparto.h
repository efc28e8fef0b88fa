#pragma once
// Serving many targets at once. Each target's work runs on a worker thread of its own that
// touches only that target's connections; whatever needs the home session or the operator
// is handed to the thread that started the run, which does it while it waits. What the
// operator and the home database are told comes in the targets' order (EnTurno), so a run
// shows and records exactly what serving them one after the other would, only sooner.
#include <cstddef>
#include <functional>
#include <vector>

namespace etapas {

struct AvanceReparto {
  size_t hechos = 0, total = 0;
  std::vector<size_t> enCurso;  // the jobs started and not finished, in order
};

// Runs trabajo(0) .. trabajo(n - 1), at most `hilos` at a time, started in index order. The
// calling thread meanwhile does what the workers hand it and calls avance every slice and
// whenever a job ends; avance answering true stops the run: no job is started any more and
// the running ones see RepartoDetenido(). Returns when every started job has ended; a job's
// exception is thrown here afterwards. A run inside a run works serially.
void Repartir(size_t n, size_t hilos, const std::function<void(size_t)>& trabajo,
              const std::function<bool(const AvanceReparto&)>& avance = {});

// On a worker of a run.
bool EnTrabajador();
// The run this worker belongs to was stopped (by avance or by DetenerReparto).
bool RepartoDetenido();
// From a worker: no job is started any more (the running ones see RepartoDetenido()).
void DetenerReparto();

// Runs f on the thread that started the run, as soon as it is free: for the home session.
// At once where no run is under way. What f throws is thrown to the caller.
void EnCasa(const std::function<void()>& f);
// The same, once every job before this one has ended: for the operator's messages and the
// home database's records, which must come in the jobs' order.
void EnTurno(const std::function<void()>& f);

// The same without waiting for it: for what the worker needs no answer of (a flag, a log
// row, a message with only OK). It is done in its turn, before anything the job asks later.
void EnTurnoSinEsperar(std::function<void()> f);

template <class F>
auto EnCasaValor(F&& f) {
  decltype(f()) valor{};
  EnCasa([&] { valor = f(); });
  return valor;
}

}  // namespace etapas
