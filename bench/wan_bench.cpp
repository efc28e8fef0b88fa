// A save and an etapas-admin sincronizar run to N points of sale a WAN away, each beside its
// floor. The stores' server is ETAPAS_BENCH_PG_POS as scripts/wan.sh start prints it (40 ms
// round trip); home is ETAPAS_BENCH_PG_HOME (else ETAPAS_TEST_PG_HOME), at head office with
// the operator, so without delay. Superuser: ETAPAS_BENCH_PG_USER (else "etapas").
//
// BM_Guardar/N: one status saved and carried to N stores.
// BM_Sincronizar/N: N stores each owing one change, served by the unattended run.
// BM_PisoConcurrente/N: the floor: a minimal libpq client serving all N stores at once (a
//   thread each: connect, read the row, update it), after the home save.
// Counters: ratio_one (time over the same benchmark with one store, measured in this run),
// ratio_floor (over BM_PisoConcurrente of the same N) and rtt (the time of one store's part
// in round trips of ETAPAS_WAN_RTT_MS).
#include <benchmark/benchmark.h>
#include <libpq-fe.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "common/mod_global.h"
#include "components/cls_datos.h"
#include "components/schema_files.h"
#include "pg_bench.h"
#include "components/text.h"
#include "engine/sql/tsql.h"
#include "replication/mod_grupos_emp.h"
#include "replication/pendientes.h"
#include "replication/sincronizar.h"

namespace {

using namespace etapas;
using Clock = std::chrono::steady_clock;

constexpr int kMaxTiendas = 50;

std::string Env(const char* name, const char* fallback, const std::string& last = "") {
  for (const char* n : {name, fallback})
    if (n && *n)
      if (const char* v = std::getenv(n); v && *v) return v;
  return last;
}

const std::string kHome = Env("ETAPAS_BENCH_PG_HOME", "ETAPAS_TEST_PG_HOME");
const std::string kPos = Env("ETAPAS_BENCH_PG_POS", "");
const std::string kUser = Env("ETAPAS_BENCH_PG_USER", "", "etapas");
const double kRtt = std::atof(Env("ETAPAS_WAN_RTT_MS", "", "40").c_str()) / 1000.0;

std::string Codigo(int i) {
  char c[8];
  std::snprintf(c, sizeof c, "%04d", i);
  return c;
}
std::string Base(int i) { return "WAN" + Codigo(i); }

struct Fixture {
  std::string root, prefix;
  Fixture() {
    root = (std::filesystem::temp_directory_path() / ("etapas-wan-bench-" + std::to_string(getpid()))).string();
    prefix = "w" + std::to_string(getpid()) + "_";
    std::filesystem::create_directories(root);
    setenv("ETAPAS_DATA", root.c_str(), 1);
    std::ofstream(root + "/servers.conf")
        << "CASA = postgresql " << kHome << " admin=" << kUser << " prefix=" << prefix << "casa_\n"
        << "LEJOS = postgresql " << kPos << " admin=" << kUser << " prefix=" << prefix << "lejos_\n";
    const std::string fila = "INSERT INTO V_TA_ETAPAS VALUES ('0013','EN REPARACION','255','E',' 0001|')";
    Run("CASA", "master", "CREATE DATABASE [EMPRESA1]");
    Run("CASA", "EMPRESA1", schema::Files().at("home.sql") + ";" + fila);
    std::string puntos = "INSERT INTO V_TA_TPV (CODIGO, Descripcion, Server, Dbname, INTERNET, BAJA) VALUES ";
    for (int i = 1; i <= kMaxTiendas; ++i) {
      Run("LEJOS", "master", "CREATE DATABASE [" + Base(i) + "]");
      Run("LEJOS", Base(i), schema::Files().at("pos.sql") + ";" + fila);
      puntos += std::string(i > 1 ? "," : "") + "('" + Codigo(i) + "','Tienda " + Codigo(i) + "','LEJOS','" + Base(i) +
                "',0,1)";
    }
    Run("CASA", "EMPRESA1", puntos);
  }
  ~Fixture() {
    Run("CASA", "master", "DROP DATABASE [EMPRESA1]", false);
    for (int i = 1; i <= kMaxTiendas; ++i) Run("LEJOS", "master", "DROP DATABASE [" + Base(i) + "]", false);
    std::filesystem::remove_all(root);
  }
  static void Run(const std::string& server, const std::string& db, const std::string& sql, bool strict = true) {
    pgbench::Run(server, db, sql, strict);
  }
  static void Habilitar(int n) {
    Run("CASA", "EMPRESA1", "UPDATE V_TA_TPV SET BAJA = CASE WHEN CODIGO <= '" + Codigo(n) + "' THEN 0 ELSE 1 END");
  }
};

Fixture& Shared() {
  static Fixture f;
  return f;
}

using pgbench::SesionCasa;

std::string Guardar(int iteracion) {
  return std::string("UPDATE V_TA_ETAPAS SET Descripcion = '") + (iteracion % 2 ? "REPARADO" : "EN REPARACION") +
         "' WHERE CODIGOESTADO = '0013'";
}

// Seconds per iteration of each benchmark and N, to make the ratios within one run.
std::map<std::string, double>& Medidas() {
  static std::map<std::string, double> m;
  return m;
}

void Informar(benchmark::State& state, const std::string& nombre, int n, double segundos) {
  const double porVuelta = segundos / static_cast<double>(state.iterations());
  Medidas()[nombre + "/" + std::to_string(n)] = porVuelta;
  if (auto it = Medidas().find(nombre + "/1"); it != Medidas().end())
    state.counters["ratio_one"] = porVuelta / it->second;
  if (auto it = Medidas().find("piso/" + std::to_string(n)); it != Medidas().end())
    state.counters["ratio_floor"] = porVuelta / it->second;
  if (n == 1) state.counters["rtt"] = porVuelta / kRtt;
  state.SetItemsProcessed(state.iterations() * n);
}

void BM_Guardar(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  Shared().Habilitar(n);
  ClsDatos& datos = SesionCasa();
  int i = 0;
  double total = 0;
  for (auto _ : state) {
    const auto t = Clock::now();
    datos.EjecutarSQL(Guardar(i++));
    std::string tabla = "V_TA_ETAPAS";
    ReplicarTabla(tabla, 2, "'0013'");
    total += std::chrono::duration<double>(Clock::now() - t).count();
  }
  datos.EjecutarSQL("DELETE FROM V_TA_REPLICACION_PENDIENTE");
  Informar(state, "guardar", n, total);
  ReiniciarEstadoGlobal();
}

void BM_Sincronizar(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  Shared().Habilitar(n);
  ClsDatos& datos = SesionCasa();
  int i = 0;
  double total = 0;
  for (auto _ : state) {
    state.PauseTiming();
    datos.EjecutarSQL(Guardar(i++));
    std::vector<CambioPendiente> cambios;
    for (int k = 1; k <= n; ++k) {
      CambioPendiente c;
      c.Tabla = "V_TA_ETAPAS";
      c.Accion = 2;
      c.Valores = {"'0013'"};
      c.Destino = Codigo(k);
      c.Servidor = "LEJOS";
      c.Base = Base(k);
      c.Motivo = "bench";
      cambios.push_back(c);
    }
    AnotarPendientes(datos, cambios);
    state.ResumeTiming();
    const auto t = Clock::now();
    CuentaSincronizar cuenta;
    std::string motivo;
    Sincronizar(
        {}, [](const CuentaSincronizar&) {}, cuenta, motivo);
    total += std::chrono::duration<double>(Clock::now() - t).count();
    if (cuenta.servidos != n) state.SkipWithError(("served " + std::to_string(cuenta.servidos)).c_str());
  }
  Informar(state, "sincronizar", n, total);
  ReiniciarEstadoGlobal();
}

PGconn* Abrir(const std::string& address, const std::string& database, const std::string& login) {
  const auto colon = address.rfind(':');
  const std::string host = address.substr(0, colon), port = address.substr(colon + 1);
  const std::string user = text::Lower(login);
  const char* keys[] = {"host", "port", "dbname", "user", "password", "connect_timeout", nullptr};
  const char* values[] = {host.c_str(), port.c_str(), database.c_str(), user.c_str(), login.c_str(), "15", nullptr};
  return PQconnectdbParams(keys, values, 0);
}

void BM_PisoConcurrente(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  Fixture& f = Shared();
  PGconn* casa = Abrir(kHome, f.prefix + "casa_empresa1", "EMPRESA1");
  const std::string leer = "SELECT * FROM v_ta_etapas WHERE codigoestado = '0013'";
  int it = 0;
  double total = 0;
  for (auto _ : state) {
    const auto t = Clock::now();
    const std::string guardar = engine::sql::Translate(Guardar(it++), {engine::sql::Engine::PostgreSQL, "X"}).sql;
    PQclear(PQexec(casa, guardar.c_str()));
    std::vector<std::thread> hilos;
    for (int i = 1; i <= n; ++i)
      hilos.emplace_back([&, i] {
        PGconn* c = Abrir(kPos, f.prefix + "lejos_" + text::Lower(Base(i)), Base(i));
        PQclear(PQexec(c, leer.c_str()));
        PQclear(PQexec(c, guardar.c_str()));
        PQfinish(c);
      });
    for (auto& h : hilos) h.join();
    total += std::chrono::duration<double>(Clock::now() - t).count();
  }
  PQfinish(casa);
  Informar(state, "piso", n, total);
}

BENCHMARK(BM_PisoConcurrente)->Arg(1)->Arg(10)->Arg(50)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Guardar)->Arg(1)->Arg(10)->Arg(50)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Sincronizar)->Arg(1)->Arg(10)->Arg(50)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (kHome.empty() || kPos.empty()) {
    std::cout << "No servers configured (ETAPAS_BENCH_PG_HOME or ETAPAS_TEST_PG_HOME for home, ETAPAS_BENCH_PG_POS "
                 "for the stores, as scripts/pg.sh start and scripts/wan.sh start print them): nothing measured.\n";
    return 0;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
