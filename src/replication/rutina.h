#pragma once
// The replication routines' failure handling: every failure goes to ReportaError without
// a routine name; retry repeats the step, ignore goes on, anything else leaves the
// routine and every replication routine that called it.
#include <functional>
#include <utility>

#include "common/mod_global.h"
#include "components/failure.h"
#include "replication/desenlace.h"

namespace etapas::replicacion {

class Rutina {
 public:
  // A failure the operator does not have repeated is the target's outcome.
  Rutina()
      : pasos_([](const RaisedError& e) {
          const int respuesta = ReportaError(e);
          if (respuesta != kReintentar) AnotarFallo(e.Description());
          return respuesta;
        }) {}

  using Lista = Pasos::Lista;

  // The steps and sub-lists of failure.h.
  void Paso(std::function<void()> paso) { pasos_.Paso(std::move(paso)); }
  void Sublista(const Lista& lista) { pasos_.Sublista(lista); }
  void Rama(std::function<const Lista*()> elegir) { pasos_.Rama(std::move(elegir)); }
  void Mientras(std::function<bool()> condicion, const Lista& cuerpo) { pasos_.Mientras(std::move(condicion), cuerpo); }
  void PorCada(std::function<size_t()> cuantos, size_t& indice, const Lista& cuerpo) {
    pasos_.PorCada(std::move(cuantos), indice, cuerpo);
  }
  void Terminar() { pasos_.Terminar(); }
  void TerminarLista() { pasos_.TerminarLista(); }
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
