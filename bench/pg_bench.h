#pragma once
// What the PostgreSQL benchmarks share: running set-up statements with a database's own
// login, and the home session as the editor opens it.
#include <cstdlib>
#include <iostream>
#include <string>

#include "common/mod_global.h"
#include "components/cls_datos.h"

namespace etapas::pgbench {

// Runs sql on server/db logged in as the database (name and password: its name); a failure
// ends the benchmark unless strict is false.
inline void Run(const std::string& server, const std::string& db, const std::string& sql, bool strict = true) {
  ClsDatos d;
  d.Servidor(server);
  d.BaseDatos(db);
  d.Usuario(db);
  d.Clave(db);
  std::string c;
  d.Conectar(false, 3, c, true, false);
  if (!d.Conectado()) {
    if (!strict) return;
    std::cerr << server << "/" << db << ": " << d.MotivoFallo() << "\n";
    std::abort();
  }
  d.EjecutarSQL(sql);
  if (strict && d.Conexion()->Errors().Count()) {
    std::cerr << server << "/" << db << ": " << d.Conexion()->Errors().Item(0).Description << "\n";
    std::abort();
  }
}

// The shared module's main session on CASA/EMPRESA1, from a clean state.
inline ClsDatos& SesionCasa() {
  ReiniciarEstadoGlobal();
  ClsDatos& datos = *SesionSistema.Datos;
  datos.Servidor("CASA");
  datos.BaseDatos("EMPRESA1");
  datos.Usuario("EMPRESA1");
  datos.Clave("EMPRESA1");
  std::string c;
  datos.Conectar(false, 3, c, true, false);
  return datos;
}

}  // namespace etapas::pgbench
