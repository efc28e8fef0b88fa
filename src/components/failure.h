#pragma once
// The one way a routine with a failure handler deals with failures: the routine is a list
// of numbered steps; a failing step goes to the routine's reporter, whose answer decides:
// 4 repeats the step, 5 goes on with the next one, anything else leaves the routine.
#include <functional>
#include <string>
#include <vector>

#include "components/error.h"

namespace etapas {

// Answers for a failure: 4 retry, 5 ignore, anything else abandon.
using Reportador = std::function<int(const RaisedError& error)>;

inline constexpr int kReintentar = 4;
inline constexpr int kIgnorar = 5;
inline constexpr int kAbandonar = 3;

class Pasos {
 public:
  explicit Pasos(Reportador reportador) : reportador_(std::move(reportador)) {}

  // Adds a step; returns its number (from 0).
  size_t Paso(std::function<void()> paso) {
    pasos_.push_back(std::move(paso));
    return pasos_.size() - 1;
  }
  // Runs when the routine is left after a failure (releases what the routine holds).
  void AlAbandonar(std::function<void()> liberar) { liberar_ = std::move(liberar); }

  // From inside a step: no more steps run (a normal end).
  void Terminar() { siguiente_ = pasos_.size(); }
  // From inside a step: the routine goes on at step n.
  void IrA(size_t n) { siguiente_ = n; }

  // Runs the steps; false when the routine was abandoned after a failure.
  bool Ejecutar();

 private:
  Reportador reportador_;
  std::vector<std::function<void()>> pasos_;
  std::function<void()> liberar_;
  size_t siguiente_ = 0;
};

// Turns any failure escaping a step into a RaisedError (standard exceptions included).
RaisedError ComoError(std::exception_ptr e);

// Reporters for the routines that never ask: skip every failing step.
inline int SaltarSiempre(const RaisedError&) { return kIgnorar; }

}  // namespace etapas
