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
#include "engine/sql/tsql.h"
#include "components/text.h"
#include "editor/frm_v_ta_etapas.h"
#include "raw_sqlite.h"

namespace {

using namespace etapas;

constexpr int kStatuses = 10000;

bench::HomeDatabase& Shared() {
  static bench::HomeDatabase f("etapas-bench-editor", kStatuses);
  return f;
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
  sqlite3* db = bench::OpenRaw(Shared().file);
  const std::string list =
      engine::sql::Translate("SELECT CODIGOESTADO, DESCRIPCION FROM V_TA_ETAPAS WHERE CODIGOESTADO<>'5000'",
                             {engine::sql::Engine::SQLite, "EMPRESA1"})
          .sql;
  const std::string row = "SELECT * FROM \"V_TA_ETAPAS\" WHERE \"CODIGOESTADO\" = '5000'";
  for (auto _ : state) {
    bench::RawStatement(db, list);
    bench::RawStatement(db, row);
  }
  sqlite3_close(db);
}

BENCHMARK(BM_ConfirmCode_Editor)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConfirmCode_Engine)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
