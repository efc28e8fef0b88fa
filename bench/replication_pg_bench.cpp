// One status saved and replicated to N points of sale on PostgreSQL servers, against a floor
// made of the same work sent straight through libpq: per point of sale the database is
// opened once with the point's own login, proven readable and writable, the point's flag is
// written at home, the target's columns are read from the catalogue, the row is looked up
// at both ends and updated, and what the point owed is looked up and settled at home.
// items_per_second counts points of sale.
//
// BM_Colgados: the same save to 45 points of sale, alone and then with 5 more whose
// machines take the connection and never answer (connect_timeout=2), one after the other
// in each iteration; counter extra_over_timeout is what the 5 add, over one time-out.
//
// The servers: ETAPAS_BENCH_PG_HOME and ETAPAS_BENCH_PG_POS (HOST:PORT; else the tests'
// ETAPAS_TEST_PG_HOME / ETAPAS_TEST_PG_POS, as printed by scripts/pg.sh start) with the
// superuser ETAPAS_BENCH_PG_USER (else ETAPAS_TEST_PG_USER, else "etapas"). The home
// database is on the first; points of sale alternate between both. Without a server the
// program says so and measures nothing.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <libpq-fe.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "common/mod_global.h"
#include "components/cls_datos.h"
#include "components/schema_files.h"
#include "pg_bench.h"
#include "engine/sql/tsql.h"
#include "components/text.h"
#include "replication/mod_grupos_emp.h"

namespace {

using namespace etapas;

constexpr int kMaxPuntos = 50;
constexpr int kColgados = 5;
constexpr int kEsperaColgados = 2;  // connect_timeout of the hung ones

std::string Env(const char* name, const char* fallback, const std::string& last = "") {
  for (const char* n : {name, fallback})
    if (const char* v = std::getenv(n); v && *v) return v;
  return last;
}

const std::string kHome = Env("ETAPAS_BENCH_PG_HOME", "ETAPAS_TEST_PG_HOME");
const std::string kPos = Env("ETAPAS_BENCH_PG_POS", "ETAPAS_TEST_PG_POS", kHome);
const std::string kUser = Env("ETAPAS_BENCH_PG_USER", "ETAPAS_TEST_PG_USER", "etapas");

std::string Codigo(int i) {
  char c[16];
  std::snprintf(c, sizeof c, "%04d", i);
  return c;
}
std::string Servidor(int i) { return "POS" + Codigo(i); }
std::string Base(int i) { return "SUC" + Codigo(i); }
std::string Direccion(int i) { return i % 2 ? kPos : kHome; }

// A machine that takes the connection and never answers.
int Colgado() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t largo = sizeof a;
  if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, 64) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&a), &largo) != 0)
    std::abort();
  return ntohs(a.sin_port);
}

struct Fixture {
  std::string root, prefix;
  Fixture() {
    root = (std::filesystem::temp_directory_path() / ("etapas-repl-pg-bench-" + std::to_string(getpid()))).string();
    prefix = "b" + std::to_string(getpid()) + "_";
    std::filesystem::remove_all(root);
    std::filesystem::create_directories(root);
    setenv("ETAPAS_DATA", root.c_str(), 1);
    {
      std::ofstream conf(root + "/servers.conf");
      conf << "CASA = postgresql " << kHome << " admin=" << kUser << " prefix=" << prefix << "casa_\n";
      for (int i = 1; i <= kMaxPuntos; ++i)
        conf << Servidor(i) << " = postgresql " << Direccion(i) << " admin=" << kUser << " prefix=" << Prefix(i)
             << "\n";
      for (int i = 1; i <= kColgados; ++i)
        conf << "COLGADO" << i << " = postgresql 127.0.0.1:" << Colgado() << " connect_timeout=" << kEsperaColgados
             << "\n";
    }
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
    for (int i = 1; i <= kColgados; ++i)
      puntos += ",('" + Codigo(90 + i) + "','Colgado " + std::to_string(i) + "','COLGADO" + std::to_string(i) +
                "','TPVC" + std::to_string(i) + "',0,1)";
    Run("CASA", "EMPRESA1", puntos);
  }
  ~Fixture() {
    Run("CASA", "master", "DROP DATABASE [EMPRESA1]", false);
    for (int i = 1; i <= kMaxPuntos; ++i) Run(Servidor(i), "master", "DROP DATABASE [" + Base(i) + "]", false);
    std::filesystem::remove_all(root);
  }
  std::string Prefix(int i) const { return prefix + text::Lower(Servidor(i)) + "_"; }

  // Each database with its own login (name and password: the database's name).
  static void Run(const std::string& server, const std::string& db, const std::string& sql, bool strict = true) {
    pgbench::Run(server, db, sql, strict);
  }
  void Habilitar(int n, bool colgados = false) {
    Run("CASA", "EMPRESA1",
        "UPDATE V_TA_TPV SET BAJA = CASE WHEN CODIGO <= '" + Codigo(n) + "' THEN 0 " +
            (colgados ? "WHEN CODIGO > '0090' THEN 0 " : "") + "ELSE 1 END");
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

using pgbench::SesionCasa;

void Grabar(ClsDatos& datos, int iteracion) {
  datos.EjecutarSQL(Guardar(iteracion));
  std::string tabla = "V_TA_ETAPAS";
  ReplicarTabla(tabla, 2, "'0013'");
}

void BM_Replicar(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  Shared().Habilitar(n);
  ClsDatos& datos = SesionCasa();
  int i = 0;
  for (auto _ : state) Grabar(datos, i++);
  state.SetItemsProcessed(state.iterations() * n);
  ReiniciarEstadoGlobal();
}

void BM_Colgados(benchmark::State& state) {
  using Clock = std::chrono::steady_clock;
  const int n = static_cast<int>(state.range(0));
  ClsDatos& datos = SesionCasa();
  int i = 0;
  double extra = 0;
  for (auto _ : state) {
    Shared().Habilitar(n);
    const auto t0 = Clock::now();
    Grabar(datos, i++);
    const auto t1 = Clock::now();
    Shared().Habilitar(n, true);
    const auto t2 = Clock::now();
    Grabar(datos, i++);
    const auto t3 = Clock::now();
    extra += std::chrono::duration<double>((t3 - t2) - (t1 - t0)).count();
  }
  // What they still owe is no part of the next run.
  datos.EjecutarSQL("DELETE FROM V_TA_REPLICACION_PENDIENTE");
  state.counters["extra_over_timeout"] = extra / static_cast<double>(state.iterations()) / kEsperaColgados;
  ReiniciarEstadoGlobal();
}

// ---- The floor ---------------------------------------------------------------------------

// A connection as the driver opens one.
PGconn* Abrir(const std::string& address, const std::string& database, const std::string& login) {
  const auto colon = address.rfind(':');
  const std::string host = address.substr(0, colon), port = colon == std::string::npos ? "" : address.substr(colon + 1);
  const std::string user = text::Lower(login);
  const char* keys[] = {"host", "port", "dbname", "user", "password", "connect_timeout", "options", "client_encoding",
                        nullptr};
  const char* values[] = {host.c_str(),
                          port.c_str(),
                          database.c_str(),
                          user.c_str(),
                          login.c_str(),
                          "5",
                          "-c DateStyle=ISO,DMY -c standard_conforming_strings=on -c statement_timeout=30000",
                          "UTF8",
                          nullptr};
  PGconn* c = PQconnectdbParams(keys, values, 0);
  if (PQstatus(c) != CONNECTION_OK) {
    std::cerr << PQerrorMessage(c);
    std::abort();
  }
  return c;
}

// Send, read every value, clear.
void Sentencia(PGconn* c, const std::string& sql) {
  PGresult* r = PQexecParams(c, sql.c_str(), 0, nullptr, nullptr, nullptr, nullptr, 0);
  const int rows = PQntuples(r), cols = PQnfields(r);
  for (int i = 0; i < rows; ++i)
    for (int k = 0; k < cols; ++k) benchmark::DoNotOptimize(PQgetvalue(r, i, k));
  PQclear(r);
}

std::string Motor(const std::string& tsql, const std::string& db) {
  return engine::sql::Translate(tsql, {engine::sql::Engine::PostgreSQL, db}).sql;
}

// The columns of the target's tables with their declared names and types, in one query.
const std::string kCatalogo =
    "SELECT c.oid, c.relname, obj_description(c.oid, 'pg_class'), a.attnum, a.attname, a.atttypid, "
    "a.atttypmod, a.attnotnull, col_description(c.oid, a.attnum), COALESCE(a.attnum = ANY (i.indkey), false) "
    "FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace "
    "JOIN pg_attribute a ON a.attrelid = c.oid AND a.attnum > 0 AND NOT a.attisdropped "
    "LEFT JOIN pg_index i ON i.indrelid = c.oid AND i.indisprimary "
    "WHERE n.nspname = current_schema() AND c.relkind IN ('r', 'v', 'm', 'f', 'p') "
    "ORDER BY c.relname, a.attnum";

void BM_Piso(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  Fixture& f = Shared();
  f.Habilitar(n);
  PGconn* casa = Abrir(kHome, f.prefix + "casa_empresa1", "EMPRESA1");
  const std::string puntos =
      Motor("SELECT * FROM V_TA_TPV  with(nolock)  WHERE INTERNET = 0 AND BAJA = 0 ORDER BY CODIGO ", "EMPRESA1");
  const std::string cfg =
      Motor("SELECT VALOR, valoraux FROM ta_configuracion with(nolock)  WHERE CLAVE = 'GRP_Tablas'", "EMPRESA1");
  const std::string filaCasa = Motor("SELECT * FROM  V_TA_ETAPAS WHERE CODIGOESTADO = '0013'", "EMPRESA1");
  const std::string guardar[2] = {Motor(Guardar(0), "EMPRESA1"), Motor(Guardar(1), "EMPRESA1")};
  std::vector<std::string> conectado, buscar, actualizar[2], descartar, listar;
  const std::string prueba[4] = {"BEGIN", Motor("SELECT TOP 0 * FROM V_TA_ETAPAS", "X"),
                                 Motor("UPDATE V_TA_ETAPAS SET CODIGOESTADO = CODIGOESTADO WHERE 1 = 0", "X"),
                                 "ROLLBACK"};
  for (int i = 1; i <= n; ++i) {
    const std::string donde =
        " WHERE TABLA = 'V_TA_ETAPAS' AND VALOR1 = '''0013''' AND VALOR2 = '' AND VALOR3 = '' AND "
        "VALOR4 = '' AND VALOR5 = '' AND VALOR6 = '' AND FILTRO = '' AND DESTINO = '" +
        Codigo(i) + "'";
    descartar.push_back(Motor("DELETE FROM V_TA_REPLICACION_PENDIENTE" + donde, "EMPRESA1"));
    listar.push_back(Motor(
        "SELECT * FROM V_TA_REPLICACION_PENDIENTE WHERE 1 = 1 AND DESTINO = '" + Codigo(i) + "' ORDER BY DESTINO, ID",
        "EMPRESA1"));
    conectado.push_back(Motor("UPDATE V_TA_TPV SET CONECTADO = 1 WHERE CODIGO = '" + Codigo(i) + "'", "EMPRESA1"));
    buscar.push_back(Motor("SELECT * FROM V_TA_ETAPAS WHERE CODIGOESTADO = '0013'", Base(i)));
    for (int k = 0; k < 2; ++k)
      actualizar[k].push_back(Motor(std::string("UPDATE V_TA_ETAPAS SET Descripcion='") +
                                        (k ? "REPARADO" : "EN REPARACION") + "'   WHERE CODIGOESTADO = '0013'",
                                    Base(i)));
  }
  int it = 0;
  for (auto _ : state) {
    const int k = it++ % 2;
    Sentencia(casa, guardar[k]);
    Sentencia(casa, puntos);
    for (int i = 0; i < n; ++i) {
      const std::string db = f.Prefix(i + 1) + text::Lower(Base(i + 1));
      PGconn* destino = Abrir(Direccion(i + 1), db, Base(i + 1));
      for (const auto& sql : prueba) Sentencia(destino, sql);  // the reachability test
      Sentencia(casa, conectado[static_cast<size_t>(i)]);
      Sentencia(destino, kCatalogo);
      Sentencia(destino, buscar[static_cast<size_t>(i)]);
      Sentencia(casa, filaCasa);
      Sentencia(destino, actualizar[k][static_cast<size_t>(i)]);
      Sentencia(casa, descartar[static_cast<size_t>(i)]);
      Sentencia(casa, listar[static_cast<size_t>(i)]);
      PQfinish(destino);
    }
    Sentencia(casa, cfg);
    Sentencia(casa, cfg);
  }
  PQfinish(casa);
  state.SetItemsProcessed(state.iterations() * n);
}

BENCHMARK(BM_Replicar)->Arg(1)->Arg(10)->Arg(50)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Piso)->Arg(1)->Arg(10)->Arg(50)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Colgados)->Arg(45)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (kHome.empty()) {
    std::cout << "No PostgreSQL server configured (ETAPAS_BENCH_PG_HOME, or ETAPAS_TEST_PG_HOME as "
                 "scripts/pg.sh start prints it): nothing measured.\n";
    return 0;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
