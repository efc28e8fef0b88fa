// The data API's cost over the engine's own: the status table's lookup and update
// statements through ClsDatos, against the same work sent straight to SQLite.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unordered_map>
#include <vector>

#include "components/cls_datos.h"
#include "components/schema_files.h"
#include "engine/sql/tsql.h"
#include "components/text.h"
#include "raw_sqlite.h"

namespace {

using namespace etapas;

const char* kLookup = "select * from V_TA_ETAPAS where CODIGOESTADO = '0013'";
const char* kUpdate = "UPDATE V_TA_ETAPAS SET DESCRIPCION='EN REPARACION'  , Color='255'   WHERE CODIGOESTADO = '0013'";

bench::HomeDatabase& Shared() {
  static bench::HomeDatabase f("etapas-bench", 1000);
  return f;
}

std::unique_ptr<ClsDatos> Open() {
  Shared();
  auto d = std::make_unique<ClsDatos>();
  d->Servidor("LOCAL");
  d->BaseDatos("EMPRESA1");
  std::string c;
  d->Conectar(false, 3, c, true, false);
  return d;
}

sqlite3* OpenRaw() { return bench::OpenRaw(Shared().file); }

void RawStatement(sqlite3* db, const std::string& sql) { bench::RawStatement(db, sql); }

void BM_Lookup_ClsDatos(benchmark::State& state) {
  auto d = Open();
  ado::RecordsetPtr rs;
  for (auto _ : state) {
    d->AbrirRecordset(kLookup, rs, nullptr, 0, 1, -1, true);
    for (long i = 0; i < rs->FieldCount(); ++i) benchmark::DoNotOptimize(&rs->Valor(static_cast<int>(i)));
  }
}

void BM_Lookup_Raw(benchmark::State& state) {
  sqlite3* db = OpenRaw();
  const std::string sql = engine::sql::Translate(kLookup, {engine::sql::Engine::SQLite, "EMPRESA1"}).sql;
  for (auto _ : state) RawStatement(db, sql);
  sqlite3_close(db);
}

void BM_Update_ClsDatos(benchmark::State& state) {
  auto d = Open();
  for (auto _ : state) d->EjecutarSQL(kUpdate);
}

void BM_Update_Raw(benchmark::State& state) {
  sqlite3* db = OpenRaw();
  const std::string sql = engine::sql::Translate(kUpdate, {engine::sql::Engine::SQLite, "EMPRESA1"}).sql;
  for (auto _ : state) RawStatement(db, sql);
  sqlite3_close(db);
}

// The engine at its best: the statement prepared once and reset between runs. A caller
// hands the text, so the least it takes is finding the statement kept for that text.
void RawPrepared(benchmark::State& state, const char* tsql) {
  sqlite3* db = OpenRaw();
  const std::string sql = engine::sql::Translate(tsql, {engine::sql::Engine::SQLite, "EMPRESA1"}).sql;
  std::unordered_map<std::string, sqlite3_stmt*> kept;
  sqlite3_prepare_v2(db, sql.c_str(), -1, &kept[tsql], nullptr);
  const std::string text = tsql;
  const int n = sqlite3_column_count(kept[tsql]);
  // The row's values taken out, as a reader keeps them past the next step.
  std::vector<std::string> values(static_cast<size_t>(n));
  for (auto _ : state) {
    sqlite3_stmt* st = kept.find(text)->second;
    while (sqlite3_step(st) == SQLITE_ROW)
      for (int i = 0; i < n; ++i) {
        const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(st, i));
        values[static_cast<size_t>(i)].assign(t ? t : "", static_cast<size_t>(sqlite3_column_bytes(st, i)));
        benchmark::DoNotOptimize(values[static_cast<size_t>(i)].data());
      }
    sqlite3_reset(st);
  }
  sqlite3_finalize(kept[tsql]);
  sqlite3_close(db);
}
void BM_Lookup_RawPrepared(benchmark::State& state) { RawPrepared(state, kLookup); }
void BM_Update_RawPrepared(benchmark::State& state) { RawPrepared(state, kUpdate); }

// The same lookup on the engine session alone, without the data API's objects.
void BM_Lookup_Session(benchmark::State& state) {
  auto d = Open();
  auto& session = d->Conexion()->session();
  std::vector<engine::ProviderError> errs;
  std::vector<Variant> row;
  for (auto _ : state) {
    auto s = session.Stream(kLookup, errs);
    while (s->Next(row, errs)) benchmark::DoNotOptimize(row.data());
  }
}

BENCHMARK(BM_Lookup_ClsDatos);
BENCHMARK(BM_Lookup_Session);
BENCHMARK(BM_Lookup_RawPrepared);
BENCHMARK(BM_Update_RawPrepared);
BENCHMARK(BM_Lookup_Raw);
BENCHMARK(BM_Update_ClsDatos);
BENCHMARK(BM_Update_Raw);

}  // namespace

BENCHMARK_MAIN();
