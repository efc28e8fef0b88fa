// The data API's cost over the engine's own: the status table's lookup and update
// statements through ClsDatos, against the same work sent straight to SQLite.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <chrono>
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
  const std::string lookup = kLookup;  // callers hold their statement's text, as the floor does
  for (auto _ : state) {
    d->AbrirRecordset(lookup, rs, nullptr, 0, 1, -1, true);
    const int n = static_cast<int>(rs->FieldCount());
    for (int i = 0; i < n; ++i) benchmark::DoNotOptimize(&rs->Valor(i));
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
class PreparedFloor {
 public:
  explicit PreparedFloor(const char* tsql) : db_(OpenRaw()), text_(tsql) {
    const std::string sql = engine::sql::Translate(tsql, {engine::sql::Engine::SQLite, "EMPRESA1"}).sql;
    sqlite3_prepare_v2(db_, sql.c_str(), -1, &kept_[text_], nullptr);
    values_.resize(static_cast<size_t>(sqlite3_column_count(kept_[text_])));
  }
  ~PreparedFloor() {
    sqlite3_finalize(kept_[text_]);
    sqlite3_close(db_);
  }
  PreparedFloor(const PreparedFloor&) = delete;
  PreparedFloor& operator=(const PreparedFloor&) = delete;

  void Run() {
    sqlite3_stmt* st = kept_.find(text_)->second;
    const int n = static_cast<int>(values_.size());
    // The row's values taken out, as a reader keeps them past the next step.
    while (sqlite3_step(st) == SQLITE_ROW)
      for (int i = 0; i < n; ++i) {
        const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(st, i));
        values_[static_cast<size_t>(i)].assign(t ? t : "", static_cast<size_t>(sqlite3_column_bytes(st, i)));
        benchmark::DoNotOptimize(values_[static_cast<size_t>(i)].data());
      }
    sqlite3_reset(st);
  }

 private:
  sqlite3* db_;
  std::string text_;
  std::unordered_map<std::string, sqlite3_stmt*> kept_;
  std::vector<std::string> values_;
};

void RawPrepared(benchmark::State& state, const char* tsql) {
  PreparedFloor floor(tsql);
  for (auto _ : state) floor.Run();
}

void BM_Lookup_RawPrepared(benchmark::State& state) { RawPrepared(state, kLookup); }
void BM_Update_RawPrepared(benchmark::State& state) { RawPrepared(state, kUpdate); }

// The same lookup on the engine session alone, without the data API's objects.
void BM_Lookup_Session(benchmark::State& state) {
  auto d = Open();
  auto& session = d->Conexion()->session();
  std::vector<engine::ProviderError> errs;
  std::vector<Variant> row;
  const std::string lookup = kLookup;
  for (auto _ : state) {
    auto s = session.Stream(lookup, errs);
    while (s->Next(row, errs)) benchmark::DoNotOptimize(row.data());
  }
}

// The same lookup through ClsDatos and on the floor, one after the other in every iteration
// (in turn first), so that both see the same machine: the ratio holds where the separate
// timings drift from run to run.
void Paired(benchmark::State& state, const char* tsql, bool query) {
  auto d = Open();
  PreparedFloor floor(tsql);
  ado::RecordsetPtr rs;
  const std::string text = tsql;
  auto ours = [&] {
    if (!query) return d->EjecutarSQL(text);
    d->AbrirRecordset(text, rs, nullptr, 0, 1, -1, true);
    const int n = static_cast<int>(rs->FieldCount());
    for (int i = 0; i < n; ++i) benchmark::DoNotOptimize(&rs->Valor(i));
    // Closed before the floor runs: an open query's read lock would spare the floor its own.
    d->CerrarRecordset(rs);
  };
  using Clock = std::chrono::steady_clock;
  Clock::duration onFloor{}, throughClsDatos{};
  bool floorFirst = false;
  for (auto _ : state) {
    floorFirst = !floorFirst;
    const auto t0 = Clock::now();
    if (floorFirst)
      floor.Run();
    else
      ours();
    const auto t1 = Clock::now();
    if (floorFirst)
      ours();
    else
      floor.Run();
    const auto t2 = Clock::now();
    onFloor += floorFirst ? t1 - t0 : t2 - t1;
    throughClsDatos += floorFirst ? t2 - t1 : t1 - t0;
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["floor_ns"] = std::chrono::duration<double, std::nano>(onFloor).count() / n;
  state.counters["clsdatos_ns"] = std::chrono::duration<double, std::nano>(throughClsDatos).count() / n;
  state.counters["ratio"] = std::chrono::duration<double>(throughClsDatos) / std::chrono::duration<double>(onFloor);
}
void BM_Lookup_Paired(benchmark::State& state) { Paired(state, kLookup, true); }
void BM_Update_Paired(benchmark::State& state) { Paired(state, kUpdate, false); }

BENCHMARK(BM_Lookup_Paired);
BENCHMARK(BM_Update_Paired);
BENCHMARK(BM_Lookup_ClsDatos);
BENCHMARK(BM_Lookup_Session);
BENCHMARK(BM_Lookup_RawPrepared);
BENCHMARK(BM_Update_RawPrepared);
BENCHMARK(BM_Lookup_Raw);
BENCHMARK(BM_Update_ClsDatos);
BENCHMARK(BM_Update_Raw);

}  // namespace

BENCHMARK_MAIN();
