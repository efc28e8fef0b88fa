// Reaching the points of sale before a save, on PostgreSQL servers.
//
// (a) engine::ConnectAll of 50 stores of which 5 accept the connection and never answer,
//     against the same 45 reachable ones alone: the difference, over one connection time-out
//     (`connect_timeout=2` on the hung ones), is what the hung stores cost the batch
//     (counter `extra_over_timeout` of BM_ConnectAll_Hung, from the median of
//     BM_ConnectAll_Reachable in the same run). BM_ConnectOneByOne_Hung is the same 50 tried
//     one after another with engine::Connect, as the walk did.
// (b) per reachable store: PoolConexiones::Probar, the reachability session and the target
//     session taking the pooled connection in a ClsDatos, and the statements a save sends to
//     the target (its columns from the catalogue, the row, its update), against one libpq
//     connection with the same statements (the probe's included). items_per_second counts
//     stores.
//
// Servers: as replication_pg_bench (ETAPAS_BENCH_PG_HOME / ETAPAS_BENCH_PG_POS, else the
// tests' ETAPAS_TEST_PG_HOME / ETAPAS_TEST_PG_POS; superuser ETAPAS_BENCH_PG_USER).
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <libpq-fe.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "components/cls_datos.h"
#include "components/pool_conexiones.h"
#include "components/schema_files.h"
#include "pg_bench.h"
#include "components/text.h"
#include "engine/session.h"
#include "engine/sql/tsql.h"

namespace {

using namespace etapas;
using Clock = std::chrono::steady_clock;

constexpr int kBases = 15;  // databases; the 45 reachable stores are three logins' worth each
constexpr int kAlcanzables = 45;
constexpr int kColgados = 5;
constexpr int kTimeout = 2;  // connect_timeout of the hung stores

std::string Env(const char* name, const char* fallback, const std::string& last = "") {
  for (const char* n : {name, fallback})
    if (const char* v = std::getenv(n); v && *v) return v;
  return last;
}

const std::string kHome = Env("ETAPAS_BENCH_PG_HOME", "ETAPAS_TEST_PG_HOME");
const std::string kPos = Env("ETAPAS_BENCH_PG_POS", "ETAPAS_TEST_PG_POS", kHome);
const std::string kUser = Env("ETAPAS_BENCH_PG_USER", "ETAPAS_TEST_PG_USER", "etapas");

const std::string kPrueba =
    "BEGIN TRANSACTION; SELECT TOP 0 * FROM V_TA_ETAPAS; "
    "UPDATE V_TA_ETAPAS SET CODIGOESTADO = CODIGOESTADO WHERE 1 = 0; ROLLBACK TRANSACTION";

std::string Base(int i) { return "TIENDA" + std::to_string(i); }
std::string Servidor(int i) { return i % 2 ? "POSB" : "POSA"; }
std::string Direccion(int i) { return i % 2 ? kPos : kHome; }

// Listening, never answering.
struct Colgado {
  int fd = -1, port = 0;
  Colgado() {
    fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    bind(fd, reinterpret_cast<sockaddr*>(&a), len);
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    listen(fd, 64);
    port = ntohs(a.sin_port);
  }
  ~Colgado() { close(fd); }
};

struct Fixture {
  std::string root, prefix;
  std::vector<std::unique_ptr<Colgado>> colgados;
  Fixture() {
    root = (std::filesystem::temp_directory_path() / ("etapas-reach-bench-" + std::to_string(getpid()))).string();
    prefix = "r" + std::to_string(getpid()) + "_";
    std::filesystem::remove_all(root);
    std::filesystem::create_directories(root);
    setenv("ETAPAS_DATA", root.c_str(), 1);
    {
      std::ofstream conf(root + "/servers.conf");
      conf << "POSA = postgresql " << kHome << " admin=" << kUser << " prefix=" << prefix << "\n";
      conf << "POSB = postgresql " << kPos << " admin=" << kUser << " prefix=" << prefix << "\n";
      for (int i = 0; i < kColgados; ++i) {
        colgados.push_back(std::make_unique<Colgado>());
        conf << "COLGADO" << i << " = postgresql 127.0.0.1:" << colgados.back()->port << " connect_timeout=" << kTimeout
             << "\n";
      }
    }
    for (int i = 1; i <= kBases; ++i) {
      Run(Servidor(i), "master", "CREATE DATABASE [" + Base(i) + "]");
      Run(Servidor(i), Base(i), schema::Files().at("pos.sql"));
      Run(Servidor(i), Base(i), "INSERT INTO V_TA_ETAPAS VALUES ('0013','EN REPARACION','255','E',' 0001|')");
    }
  }
  ~Fixture() {
    PoolConexiones::Compartido().Vaciar();
    for (int i = 1; i <= kBases; ++i) Run(Servidor(i), "master", "DROP DATABASE [" + Base(i) + "]", false);
    std::filesystem::remove_all(root);
  }
  static void Run(const std::string& server, const std::string& db, const std::string& sql, bool strict = true) {
    pgbench::Run(server, db, sql, strict);
  }
};

Fixture& Shared() {
  static Fixture f;
  return f;
}

engine::ConnectRequest Pedido(const std::string& server, const std::string& base) {
  engine::ConnectRequest r;
  r.server = server;
  r.database = r.user = r.password = base;
  return r;
}

std::vector<engine::ConnectRequest> Pedidos(bool conColgados) {
  std::vector<engine::ConnectRequest> r;
  for (int i = 0; i < kAlcanzables; ++i) {
    r.push_back(Pedido(Servidor(i % kBases + 1), Base(i % kBases + 1)));
    if (conColgados && i % 9 == 0) r.push_back(Pedido("COLGADO" + std::to_string(i / 9), "TPV"));
  }
  return r;
}

// ---- (a) ---------------------------------------------------------------------------------

double gReachable = 0;  // seconds, the latest BM_ConnectAll_Reachable's mean

void Check(const std::vector<engine::ConnectResult>& results, size_t expected) {
  size_t n = 0;
  for (const auto& r : results) n += r.session != nullptr;
  if (n != expected) {
    std::cerr << "connected " << n << " of " << expected << "\n";
    std::abort();
  }
}

void BM_ConnectAll_Reachable(benchmark::State& state) {
  Shared();
  const auto pedidos = Pedidos(false);
  double total = 0;
  for (auto _ : state) {
    const auto start = Clock::now();
    auto results = engine::ConnectAll(pedidos, 10);
    total += std::chrono::duration<double>(Clock::now() - start).count();
    Check(results, kAlcanzables);
  }
  gReachable = total / static_cast<double>(state.iterations());
}

void BM_ConnectAll_Hung(benchmark::State& state) {
  Shared();
  const auto pedidos = Pedidos(true);
  double total = 0;
  for (auto _ : state) {
    const auto start = Clock::now();
    auto results = engine::ConnectAll(pedidos, 10);
    total += std::chrono::duration<double>(Clock::now() - start).count();
    Check(results, kAlcanzables);
  }
  const double mean = total / static_cast<double>(state.iterations());
  state.counters["extra_over_timeout"] = (mean - gReachable) / kTimeout;
}

void BM_ConnectOneByOne_Hung(benchmark::State& state) {
  Shared();
  const auto pedidos = Pedidos(true);
  for (auto _ : state) {
    std::vector<engine::ConnectResult> results;
    for (const auto& p : pedidos) {
      engine::ConnectResult r;
      r.session = engine::Connect(p, r.error);
      results.push_back(std::move(r));
    }
    Check(results, kAlcanzables);
  }
}

// ---- (b) ---------------------------------------------------------------------------------

const std::string kLeer = "SELECT * FROM V_TA_ETAPAS WHERE CODIGOESTADO = '0013'";
std::string Guardar(int k) {
  return std::string("UPDATE V_TA_ETAPAS SET Descripcion='") + (k ? "REPARADO" : "EN REPARACION") +
         "'   WHERE CODIGOESTADO = '0013'";
}

void Tomar(ClsDatos& d, int i) {
  d.Servidor(Servidor(i));
  d.BaseDatos(Base(i));
  d.Usuario(Base(i));
  d.Clave(Base(i));
  std::string c;
  d.Conectar(false, 3, c, true, false);
  if (!d.Conectado()) {
    std::cerr << Base(i) << ": " << d.MotivoFallo() << "\n";
    std::abort();
  }
}

void BM_Pool(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  Fixture& f = Shared();
  auto& pool = PoolConexiones::Compartido();
  std::vector<DestinoConexion> destinos;
  for (int i = 1; i <= n; ++i) destinos.push_back({Servidor(i), Base(i), Base(i), Base(i)});
  ClsDatos remotos, destino;
  int it = 0;
  for (auto _ : state) {
    const int k = it++ % 2;
    for (const auto& p : pool.Probar(f.root, destinos, 5, kPrueba))
      if (!p.conectado) std::abort();
    for (int i = 1; i <= n; ++i) {
      // The reachability test, as the walk prepares it, then the target.
      Tomar(remotos, i);
      remotos.ConexionAbierta().SetDefaultDatabase(Base(i));
      remotos.ConexionAbierta().SetCommandTimeout(360);
      remotos.Desconectar();
      Tomar(destino, i);
      auto columnas = destino.ConexionAbierta().OpenSchema(
          ado::kSchemaColumns, {Variant(destino.BaseDatos()), Variant(), Variant("V_TA_ETAPAS"), Variant()});
      for (; !columnas->EOF_(); columnas->MoveNext()) benchmark::DoNotOptimize(columnas->Fields(3L).Value());
      ado::RecordsetPtr rs;
      destino.AbrirRecordset(kLeer, rs);
      for (long c = 0; c < rs->FieldCount(); ++c) benchmark::DoNotOptimize(rs->Fields(c).Value());
      destino.EjecutarSQL(Guardar(k));
      if (destino.Conexion()->Errors().Count()) std::abort();
      destino.Desconectar();
    }
    pool.Vaciar();
  }
  state.SetItemsProcessed(state.iterations() * n);
}

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
  std::vector<std::string> leer, actualizar[2], topCero, nada;
  for (int i = 1; i <= n; ++i) {
    leer.push_back(Motor(kLeer, Base(i)));
    topCero.push_back(Motor("SELECT TOP 0 * FROM V_TA_ETAPAS", Base(i)));
    nada.push_back(Motor("UPDATE V_TA_ETAPAS SET CODIGOESTADO = CODIGOESTADO WHERE 1 = 0", Base(i)));
    for (int k = 0; k < 2; ++k) actualizar[k].push_back(Motor(Guardar(k), Base(i)));
  }
  int it = 0;
  for (auto _ : state) {
    const int k = it++ % 2;
    for (int i = 0; i < n; ++i) {
      const auto s = static_cast<size_t>(i);
      PGconn* c = Abrir(Direccion(i + 1), f.prefix + text::Lower(Base(i + 1)), Base(i + 1));
      Sentencia(c, "BEGIN");
      Sentencia(c, topCero[s]);
      Sentencia(c, nada[s]);
      Sentencia(c, "ROLLBACK");
      Sentencia(c, kCatalogo);
      Sentencia(c, leer[s]);
      Sentencia(c, actualizar[k][s]);
      PQfinish(c);
    }
  }
  state.SetItemsProcessed(state.iterations() * n);
}

BENCHMARK(BM_ConnectAll_Reachable)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_ConnectAll_Hung)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_ConnectOneByOne_Hung)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_Pool)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Piso)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond)->UseRealTime();

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
