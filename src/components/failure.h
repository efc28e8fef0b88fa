#pragma once
// The one way a routine with a failure handler deals with failures: the routine is a list
// of steps; a failing step goes to the routine's reporter, whose answer decides:
// 4 repeats the step, 5 goes on with the next one, anything else leaves the routine.
//
// A branch or a loop is a step that runs another list of steps (a sub-list) with the same
// reporter, so that no step ever has to jump:
// - Sublista(l) runs l; Rama(elegir) runs the list elegir() returns (none for nullptr).
// - Mientras(condicion, cuerpo) runs cuerpo while condicion() holds; PorCada(cuantos,
//   indice, cuerpo) runs cuerpo with indice = 0, 1, ... while indice < cuantos().
// Inside a sub-list the answers keep their meaning: retry repeats the failed step of the
// sub-list, ignore goes on with its next step (after its last one, with the step after
// the sub-list, or the loop's next turn), anything else leaves the whole routine.
// Choosing is a step too: a failing elegir() is retried, or ignored by running no list; a
// failing loop condition is retried, or ignored by running the body (the step after it),
// except PorCada's count, whose failure ignored ends the loop.
// Terminar() ends the whole routine normally from any depth; TerminarLista() ends the
// running list only (in a loop, the routine goes on with the next turn).
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

class Pasos;

// A list of steps, run in order by Pasos (the routine's own list is one too). A list that
// another step runs must outlive the routine's Ejecutar.
class ListaPasos {
 public:
  ListaPasos() = default;
  ListaPasos(const ListaPasos&) = delete;
  ListaPasos& operator=(const ListaPasos&) = delete;

  // Adds a plain step.
  void Paso(std::function<void()> paso);
  // Adds a step that runs `lista`.
  void Sublista(const ListaPasos& lista);
  void Sublista(const ListaPasos&&) = delete;
  // Adds a step that runs the list `elegir` returns when the step is reached (nullptr: none).
  void Rama(std::function<const ListaPasos*()> elegir);
  // Adds a loop: `cuerpo` runs while `condicion` holds, evaluated before every turn.
  void Mientras(std::function<bool()> condicion, const ListaPasos& cuerpo);
  void Mientras(std::function<bool()>, const ListaPasos&&) = delete;
  // Adds a loop over elements: `cuerpo` runs once for each indice from 0 while indice < cuantos().
  void PorCada(std::function<size_t()> cuantos, size_t& indice, const ListaPasos& cuerpo);
  void PorCada(std::function<size_t()>, size_t&, const ListaPasos&&) = delete;

 private:
  friend class Pasos;
  struct Item {
    std::function<void()> accion;                // a plain step
    std::function<const ListaPasos*()> elegir;   // a sub-list or a branch
    std::function<bool()> condicion;             // a loop
    std::function<void()> alEmpezar, alAvanzar;  // PorCada's index
    const ListaPasos* cuerpo = nullptr;
    bool ignorarTermina = false;  // the loop's condition ignored ends the loop
  };
  std::vector<Item> items_;
};

class Pasos : public ListaPasos {
 public:
  using Lista = ListaPasos;

  explicit Pasos(Reportador reportador) : reportador_(std::move(reportador)) {}

  // Runs when the routine is left after a failure (releases what the routine holds).
  void AlAbandonar(std::function<void()> liberar) { liberar_ = std::move(liberar); }

  // From inside a step: no more steps run, at any depth (a normal end).
  void Terminar() { terminar_ = true; }
  // From inside a step: no more steps of the running list; the routine goes on after it
  // (in a loop, with the next turn). In the routine's own list, the same as Terminar.
  void TerminarLista() { terminarLista_ = true; }

  // Runs the steps; false when the routine was abandoned after a failure.
  bool Ejecutar();

 private:
  enum class Fin { kSigue, kTerminada, kAbandonada };
  enum class Respuesta { kHecha, kRepetir, kSeguir, kSalir };
  Respuesta Intentar(const std::function<void()>& accion);
  Fin Correr(const ListaPasos& lista);
  Fin CorrerBucle(const Item& bucle);

  Reportador reportador_;
  std::function<void()> liberar_;
  bool terminar_ = false, terminarLista_ = false;
};

// Turns any failure escaping a step into a RaisedError (standard exceptions included).
RaisedError ComoError(const std::exception_ptr& e);

// Reporters for the routines that never ask: skip every failing step.
inline int SaltarSiempre(const RaisedError&) { return kIgnorar; }

}  // namespace etapas
