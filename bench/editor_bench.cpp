// Confirming a code on a table of 10,000 statuses: the previous-status list filled and the
// status shown (headless), against the engine's own time for the same two queries.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "common/mod_global.h"
#include "components/cls_datos.h"
#include "components/platform.h"
#include "components/schema_files.h"
#include "components/sql/tsql.h"
#include "components/text.h"
#include "editor/frm_v_ta_etapas.h"

namespace {

using namespace etapas;

constexpr int kStatuses = 10000;

struct Fixture {
  std::string root, file;
  Fixture() {
    root = (std::filesystem::temp_directory_path() / ("etapas-bench-editor-" + std::to_string(getpid()))).string();
    std::filesystem::remove_all(root);
    setenv("ETAPAS_DATA", root.c_str(), 1);
    Run("master", "CREATE DATABASE [EMPRESA1]");
    Run("EMPRESA1", schema::Files().at("home.sql"));
    std::string rows;
    for (int i = 1; i <= kStatuses; ++i) {
      char code[8];
      std::snprintf(code, sizeof code, "%04d", i % 10000);
      rows += std::string(rows.empty() ? "" : ",") + "('" + code + "','ESTADO NUMERO " + code + "','255','E',' 0001|0002|0003|')";
      if (i % 1000 == 0) {
        Run("EMPRESA1", "INSERT INTO V_TA_ETAPAS (CODIGOESTADO, Descripcion, Color, Tipo, PosiblesEstadoPrevio) VALUES " + rows);
        rows.clear();
      }
    }
    file = root + "/servers/local/empresa1.db";
  }
  ~Fixture() { std::filesystem::remove_all(root); }
  static void Run(const std::string& db, const std::string& sql) {
    ClsDatos d;
    d.Servidor("LOCAL");
    d.BaseDatos(db);
    std::string c;
    d.Conectar(false, 3, c, true, false);
    d.EjecutarSQL(sql);
    if (!d.Conectado() || d.Conexion()->Errors().Count()) std::abort();
  }
};

Fixture& Shared() {
  static Fixture f;
  return f;
}

int CompareCi(void*, int na, const void* a, int nb, const void* b) {
  std::string x = text::Upper({static_cast<const char*>(a), static_cast<size_t>(na)});
  std::string y = text::Upper({static_cast<const char*>(b), static_cast<size_t>(nb)});
  while (!x.empty() && x.back() == ' ') x.pop_back();
  while (!y.empty() && y.back() == ' ') y.pop_back();
  return x.compare(y);
}

void BM_ConfirmCode_Editor(benchmark::State& state) {
  Shared();
  PlataformaGuionada platform;
  SetPlatform(&platform);
  ReiniciarEstadoGlobal();
  ClsDatos& d = *SesionSistema.Datos;
  d.Servidor("LOCAL");
  d.BaseDatos("EMPRESA1");
  std::string c;
  d.Conectar(false, 3, c, true, false);
  FrmV_TA_ETAPAS form;
  form.Visible = true;
  for (auto _ : state) {
    form.Txtfields[0].Text = "5000";
    form.Txtfields_KeyDown(0, 13, 0);
    benchmark::DoNotOptimize(form.LstEstPrev.Items.size());
  }
  if (form.LstEstPrev.Items.size() != kStatuses - 1 || form.Txtfields[1].Text != "ESTADO NUMERO 5000") std::abort();
  SetPlatform(nullptr);
}

void BM_ConfirmCode_Engine(benchmark::State& state) {
  Shared();
  sqlite3* db = nullptr;
  sqlite3_open_v2(Shared().file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
  sqlite3_create_collation_v2(db, "TSQLCI", SQLITE_UTF8, nullptr, CompareCi, nullptr);
  const std::string list = sql::Translate("SELECT CODIGOESTADO, DESCRIPCION FROM V_TA_ETAPAS WHERE CODIGOESTADO<>'5000'",
                                          {sql::Engine::SQLite, "EMPRESA1"}).sql;
  const std::string row = "SELECT * FROM \"V_TA_ETAPAS\" WHERE \"CODIGOESTADO\" = '5000'";
  for (auto _ : state) {
    for (const std::string* q : {&list, &row}) {
      sqlite3_stmt* st = nullptr;
      sqlite3_prepare_v2(db, q->c_str(), -1, &st, nullptr);
      const int n = sqlite3_column_count(st);
      while (sqlite3_step(st) == SQLITE_ROW)
        for (int i = 0; i < n; ++i) benchmark::DoNotOptimize(sqlite3_column_text(st, i));
      sqlite3_finalize(st);
    }
  }
  sqlite3_close(db);
}

BENCHMARK(BM_ConfirmCode_Editor)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConfirmCode_Engine)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
