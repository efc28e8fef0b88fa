// The T-SQL engine against the engine underneath, in the same run:
// - a 100,000-row listing read through ClsDatos.AbrirRecordset (forward-only) against the
//   same rows stepped straight out of SQLite, every column's value taken;
// - `etapas-admin sql` printing those rows against the sqlite3 shell printing them as JSON
//   (wall time of each process, and its peak memory at 10,000 and 100,000 rows).
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <string>
#include <vector>

#include "raw_sqlite.h"

extern char** environ;

namespace {

using namespace etapas;

constexpr int kRows = 100000;

struct ListingDatabase {
  bench::HomeDatabase home{"etapas-engine-bench", 10};
  ListingDatabase() {
    bench::RunOn("LOCAL", "EMPRESA1",
                 "CREATE TABLE LISTADO (ID int NOT NULL PRIMARY KEY, CODIGO varchar(10) NOT NULL, "
                 "DESCRIPCION varchar(60) NULL, IMPORTE float NULL, TIPO char(1) NULL)");
    std::string batch;
    for (int i = 1; i <= kRows; ++i) {
      const std::string n = std::to_string(i);
      batch += std::string(batch.empty() ? "" : ",") + "(" + n + ",'C" + n + "','DESCRIPCION DEL ARTICULO " + n + "'," +
               n + ".25,'" + (i % 2 ? "A" : "B") + "')";
      if (i % 1000 == 0) {
        bench::RunOn("LOCAL", "EMPRESA1",
                     "INSERT INTO LISTADO (ID, CODIGO, DESCRIPCION, IMPORTE, TIPO) VALUES " + batch);
        batch.clear();
      }
    }
  }
};

ListingDatabase& Shared() {
  static ListingDatabase db;
  return db;
}

std::string Query(int rows) { return "SELECT TOP " + std::to_string(rows) + " * FROM LISTADO ORDER BY ID"; }
std::string RawQuery(int rows) { return "SELECT * FROM LISTADO ORDER BY ID LIMIT " + std::to_string(rows); }

void BM_Listing_AbrirRecordset(benchmark::State& state) {
  Shared();
  ClsDatos d;
  d.Servidor("LOCAL");
  d.BaseDatos("EMPRESA1");
  std::string c;
  d.Conectar(false, 3, c, true, false);
  const std::string sql = Query(kRows);
  for (auto _ : state) {
    ado::RecordsetPtr rs;
    d.AbrirRecordset(sql, rs, nullptr, 0, 1, -1, true);
    const int n = static_cast<int>(rs->FieldCount());
    long rows = 0;
    for (; !rs->EOF_(); rs->MoveNext(), ++rows)
      for (int i = 0; i < n; ++i) benchmark::DoNotOptimize(&rs->Valor(i));
    if (rows != kRows) state.SkipWithError("rows missing");
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}

// The least the engine must do for the same rows: prepare, step, and take each column's
// value in its own type (texts copied out, as any reader keeps them past the next step).
void BM_Listing_Raw(benchmark::State& state) {
  sqlite3* db = bench::OpenRaw(Shared().home.file);
  const std::string sql = RawQuery(kRows);
  for (auto _ : state) {
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr);
    const int n = sqlite3_column_count(st);
    std::string text;
    while (sqlite3_step(st) == SQLITE_ROW) {
      for (int i = 0; i < n; ++i) {
        switch (sqlite3_column_type(st, i)) {
          case SQLITE_INTEGER: benchmark::DoNotOptimize(sqlite3_column_int64(st, i)); break;
          case SQLITE_FLOAT: benchmark::DoNotOptimize(sqlite3_column_double(st, i)); break;
          case SQLITE_NULL: break;
          default:
            text.assign(reinterpret_cast<const char*>(sqlite3_column_text(st, i)),
                        static_cast<size_t>(sqlite3_column_bytes(st, i)));
            benchmark::DoNotOptimize(text.data());
        }
      }
    }
    sqlite3_finalize(st);
  }
  state.SetItemsProcessed(state.iterations() * kRows);
  sqlite3_close(db);
}

// Runs a program with its output to /dev/null; wall seconds, and its peak memory in KiB.
double RunProgram(const std::vector<std::string>& argv, long* peakKiB) {
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ) != 0) return -1;
  posix_spawn_file_actions_destroy(&actions);
  // The program's own peak (VmHWM), read while it runs: the rusage figure would count this
  // process's pages the child shared before its exec.
  int status = 0;
  long peak = 0;
  const std::string statusFile = "/proc/" + std::to_string(pid) + "/status";
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (FILE* f = std::fopen(statusFile.c_str(), "r")) {
      char line[256];
      while (std::fgets(line, sizeof line, f))
        if (std::strncmp(line, "VmHWM:", 6) == 0) peak = std::max(peak, std::strtol(line + 6, nullptr, 10));
      std::fclose(f);
    }
    usleep(1000);
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (peakKiB) *peakKiB = peak;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? seconds : -1;
}

void Program(benchmark::State& state, bool admin) {
  Shared();
  const int rows = static_cast<int>(state.range(0));
  const std::vector<std::string> argv =
      admin ? std::vector<std::string>{ETAPAS_ADMIN_PATH, "sql",      "--server", "LOCAL",
                                       "--database",      "EMPRESA1", Query(rows)}
            : std::vector<std::string>{"sqlite3", "-json", Shared().home.file, RawQuery(rows)};
  long peak = 0;
  for (auto _ : state) {
    const double s = RunProgram(argv, &peak);
    if (s < 0) {
      state.SkipWithError("the program failed");
      return;
    }
    state.SetIterationTime(s);
  }
  state.counters["peak_KiB"] = static_cast<double>(peak);
}

void BM_Sql_EtapasAdmin(benchmark::State& state) { Program(state, true); }
void BM_Sql_Sqlite3Shell(benchmark::State& state) { Program(state, false); }

BENCHMARK(BM_Listing_AbrirRecordset)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Listing_Raw)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Sql_EtapasAdmin)->Arg(10000)->Arg(kRows)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Sql_Sqlite3Shell)->Arg(10000)->Arg(kRows)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
