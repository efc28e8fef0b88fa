// One status saved and replicated to N points of sale on embedded servers, against a
// floor made of the same work sent straight to SQLite: per point of sale the database is
// opened twice (the reachability test, then the target), the point's flag is written at
// home, the target's columns are read, the row is looked up at both ends and updated.
// items_per_second counts points of sale: its inverse is the time per point of sale.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include "raw_sqlite.h"
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "common/mod_global.h"
#include "components/cls_datos.h"
#include "components/schema_files.h"
#include "engine/sql/tsql.h"
#include "components/text.h"
#include "replication/mod_grupos_emp.h"

namespace {

using namespace etapas;

constexpr int kMaxPuntos = 50;

std::string Codigo(int i) {
  char c[16];
  std::snprintf(c, sizeof c, "%04d", i);
  return c;
}
std::string Servidor(int i) { return "POS" + Codigo(i); }
std::string Base(int i) { return "SUC" + Codigo(i); }

struct Fixture {
  std::string root;
  Fixture() {
    root = (std::filesystem::temp_directory_path() / ("etapas-repl-bench-" + std::to_string(getpid()))).string();
    std::filesystem::remove_all(root);
    setenv("ETAPAS_DATA", root.c_str(), 1);
    const std::string fila = "INSERT INTO V_TA_ETAPAS VALUES ('0013','EN REPARACION','255','E',' 0001|')";
    Run("CASA", "master", "CREATE DATABASE [EMPRESA1]");
    Run("CASA", "EMPRESA1", schema::Files().at("home.sql"));
    Run("CASA", "EMPRESA1", fila);
    std::string puntos = "INSERT INTO V_TA_TPV (CODIGO, Descripcion, Server, Dbname, INTERNET, BAJA) VALUES ";
    for (int i = 1; i <= kMaxPuntos; ++i) {
      Run(Servidor(i), "master", "CREATE DATABASE [" + Base(i) + "]");
      Run(Servidor(i), Base(i), schema::Files().at("pos.sql"));
      Run(Servidor(i), Base(i), fila);
      puntos += std::string(i > 1 ? "," : "") + "('" + Codigo(i) + "','Sucursal " + Codigo(i) + "','" + Servidor(i) +
                "','" + Base(i) + "',0,1)";
    }
    Run("CASA", "EMPRESA1", puntos);
  }
  ~Fixture() { std::filesystem::remove_all(root); }

  static void Run(const std::string& server, const std::string& db, const std::string& sql) {
    ClsDatos d;
    d.Servidor(server);
    d.BaseDatos(db);
    std::string c;
    d.Conectar(false, 3, c, true, false);
    if (!d.Conectado()) std::abort();
    d.EjecutarSQL(sql);
    if (d.Conexion()->Errors().Count()) std::abort();
  }
  std::string File(const std::string& server, const std::string& db) const {
    return root + "/servers/" + text::Lower(server) + "/" + text::Lower(db) + ".db";
  }
  // Only the first n points of sale are enabled.
  void Habilitar(int n) {
    Run("CASA", "EMPRESA1", "UPDATE V_TA_TPV SET BAJA = CASE WHEN CODIGO <= '" + Codigo(n) + "' THEN 0 ELSE 1 END");
  }
};

Fixture& Shared() {
  static Fixture f;
  return f;
}

std::string Guardar(int iteracion) {
  return std::string("UPDATE V_TA_ETAPAS SET Descripcion = '") + (iteracion % 2 ? "REPARADO" : "EN REPARACION") +
         "' WHERE CODIGOESTADO = '0013'";
}

void BM_Replicar(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  Shared().Habilitar(n);
  ReiniciarEstadoGlobal();
  ClsDatos& datos = *SesionSistema.Datos;
  datos.Servidor("CASA");
  datos.BaseDatos("EMPRESA1");
  datos.Usuario("sa");
  datos.Clave("x");
  std::string c;
  datos.Conectar(false, 3, c, true, false);
  int i = 0;
  for (auto _ : state) {
    datos.EjecutarSQL(Guardar(i++));
    std::string tabla = "V_TA_ETAPAS";
    ReplicarTabla(tabla, 2, "'0013'");
  }
  state.SetItemsProcessed(state.iterations() * n);
  ReiniciarEstadoGlobal();
}

// ---- The floor ---------------------------------------------------------------------------

// A connection as the embedded server sets one up.
sqlite3* Abrir(const std::string& file) {
  sqlite3* db = bench::OpenRaw(file);
  sqlite3_exec(db, "PRAGMA journal_mode = WAL", nullptr, nullptr, nullptr);
  return db;
}

void Sentencia(sqlite3* db, const std::string& sql) { bench::RawStatement(db, sql); }

std::string Motor(const std::string& tsql, const std::string& db) {
  return engine::sql::Translate(tsql, {engine::sql::Engine::SQLite, db}).sql;
}

void BM_Piso(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  Fixture& f = Shared();
  f.Habilitar(n);
  sqlite3* casa = Abrir(f.File("CASA", "EMPRESA1"));
  const std::string puntos =
      Motor("SELECT * FROM V_TA_TPV  with(nolock)  WHERE INTERNET = 0 AND BAJA = 0 ORDER BY CODIGO ", "EMPRESA1");
  const std::string cfg =
      Motor("SELECT VALOR, valoraux FROM ta_configuracion with(nolock)  WHERE CLAVE = 'GRP_Tablas'", "EMPRESA1");
  const std::string filaCasa = Motor("SELECT * FROM  V_TA_ETAPAS WHERE CODIGOESTADO = '0013'", "EMPRESA1");
  const std::string guardar[2] = {Motor(Guardar(0), "EMPRESA1"), Motor(Guardar(1), "EMPRESA1")};
  std::vector<std::string> conectado, buscar, actualizar[2];
  for (int i = 1; i <= n; ++i) {
    conectado.push_back(Motor("UPDATE V_TA_TPV SET CONECTADO = 1 WHERE CODIGO = '" + Codigo(i) + "'", "EMPRESA1"));
    buscar.push_back(Motor("SELECT * FROM V_TA_ETAPAS WHERE CODIGOESTADO = '0013'", Base(i)));
    for (int k = 0; k < 2; ++k)
      actualizar[k].push_back(Motor(std::string("UPDATE V_TA_ETAPAS SET Descripcion='") +
                                        (k ? "REPARADO" : "EN REPARACION") + "'   WHERE CODIGOESTADO = '0013'",
                                    Base(i)));
  }
  const std::string tablas =
      "SELECT name FROM \"main\".sqlite_master WHERE type IN ('table','view') AND name NOT LIKE 'sqlite!_%' ESCAPE '!' "
      "ORDER BY name";
  const std::string columnas = "PRAGMA \"main\".table_info(\"V_TA_ETAPAS\")";
  int it = 0;
  for (auto _ : state) {
    const int k = it++ % 2;
    Sentencia(casa, guardar[k]);
    Sentencia(casa, puntos);
    for (int i = 0; i < n; ++i) {
      const std::string file = f.File(Servidor(i + 1), Base(i + 1));
      sqlite3_close_v2(Abrir(file));  // the reachability test
      Sentencia(casa, conectado[static_cast<size_t>(i)]);
      sqlite3* destino = Abrir(file);
      Sentencia(destino, tablas);
      Sentencia(destino, columnas);
      Sentencia(destino, buscar[static_cast<size_t>(i)]);
      Sentencia(casa, filaCasa);
      Sentencia(destino, actualizar[k][static_cast<size_t>(i)]);
      sqlite3_close_v2(destino);
    }
    Sentencia(casa, cfg);
    Sentencia(casa, cfg);
  }
  sqlite3_close_v2(casa);
  state.SetItemsProcessed(state.iterations() * n);
}

BENCHMARK(BM_Replicar)->Arg(1)->Arg(10)->Arg(50)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Piso)->Arg(1)->Arg(10)->Arg(50)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
