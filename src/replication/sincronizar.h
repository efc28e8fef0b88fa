#pragma once
// Serving what the targets owe without an operator (etapas-admin sincronizar), with the
// walk's own reading of the points of sale, connection of all of them at once and transfer.
#include <functional>
#include <string>

namespace etapas {

struct OpcionesSincronizar {
  std::string tabla;  // only this table's changes; empty: all
  std::string punto;  // only this target (a CODIGO, or kDestinoGrupo); empty: all
  bool comparar = false, borrar = false;
};

struct CuentaSincronizar {
  std::string quien;  // "0001 SUC1", "@GRUPO GRUPO", "total"
  int servidos = 0, pendientes = 0, corregidas = 0, borradas = 0, sobrantes = 0;
  std::string nota;   // why something is left ("unreachable", "failed", ...)
  std::string aviso;  // a comparison's problem, for the log
  void Sumar(const CuentaSincronizar& c);
};

enum class FinSincronizar {
  Hecho,
  PuntoDesconocido,  // opciones.punto names no point of sale and nothing is owed to it
  SinCasa,           // SesionSistema.Datos is not a home database (the reason in motivo)
};

// Runs on SesionSistema.Datos, open on the home database. Each target's count goes to
// informe as soon as that target is done; the total is left in total. The counts are what
// V_TA_REPLICACION_PENDIENTE holds afterwards.
FinSincronizar Sincronizar(const OpcionesSincronizar& opciones,
                           const std::function<void(const CuentaSincronizar&)>& informe, CuentaSincronizar& total,
                           std::string& motivo);

}  // namespace etapas
