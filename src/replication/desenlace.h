#pragma once
// What happened to the target being served, said by the place that knows it: a refused
// statement, a failure the operator did not have repeated, a column the home table lacks.
// The ledger records from this, never from what was shown on screen.
#include <functional>
#include <string>

namespace etapas::replicacion {

struct Desenlace {
  bool fallo = false;
  std::string motivo;  // the first failure
};

// Notes a failure of the transfer in progress; nothing outside one.
void AnotarFallo(const std::string& motivo);

// Makes d the outcome of the transfer in progress while it lives.
class Anotando {
 public:
  explicit Anotando(Desenlace& d);
  ~Anotando();
  Anotando(const Anotando&) = delete;
  Anotando& operator=(const Anotando&) = delete;

 private:
  Desenlace* anterior_;
};

// Run just before a statement goes to a target, after the home row was read: a test holds
// a transfer there to make another process's save land in between. Empty otherwise.
std::function<void()>& AntesDeEscribir();

}  // namespace etapas::replicacion
