#pragma once
// The replication routines' failure handling: every failure goes to ReportaError without
// a routine name; retry repeats the step, ignore goes on, anything else leaves the
// routine and every replication routine that called it.
#include <functional>
#include <utility>

#include "common/mod_global.h"
#include "components/failure.h"

namespace etapas::replicacion {

class Rutina {
 public:
  Rutina() : pasos_([](const RaisedError& e) { return ReportaError(e); }) {}

  size_t Paso(std::function<void()> paso) { return pasos_.Paso(std::move(paso)); }
  void Terminar() { pasos_.Terminar(); }
  void IrA(size_t n) { pasos_.IrA(n); }
  // From a step: a called routine that was left leaves this one too.
  void Llamar(bool completa) {
    if (!completa) {
      abandonada_ = true;
      pasos_.Terminar();
    }
  }
  // False when the operator chose to stop.
  bool Ejecutar() { return pasos_.Ejecutar() && !abandonada_; }

 private:
  Pasos pasos_;
  bool abandonada_ = false;
};

// A recordset the routine expected to have opened.
inline ado::Recordset& Abierto(const ado::RecordsetPtr& rs) {
  if (!rs) throw ObjectNotSet();
  return *rs;
}

}  // namespace etapas::replicacion
