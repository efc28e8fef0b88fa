#pragma once
// The floor of the benchmarks: the engine used directly, as the embedded server sets up a
// connection (its text collation registered), and a helper to lay data through ClsDatos.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "components/cls_datos.h"
#include "components/schema_files.h"
#include "components/text.h"
#include "engine/sqlite/text_rules.h"

namespace etapas::bench {

inline sqlite3* OpenRaw(const std::string& file) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
  // Text compares ignoring case and trailing blanks, as the server's collation does, with
  // the cheapest comparison there is for it (the engine's own).
  engine::sqlite::RegisterCollation(db);
  sqlite3_busy_timeout(db, 30000);
  sqlite3_exec(db, "PRAGMA foreign_keys = ON", nullptr, nullptr, nullptr);
  return db;
}

// Prepare, step, read every column, finalize.
inline void RawStatement(sqlite3* db, const std::string& sql) {
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr);
  const int n = sqlite3_column_count(st);
  while (sqlite3_step(st) == SQLITE_ROW)
    for (int i = 0; i < n; ++i) benchmark::DoNotOptimize(sqlite3_column_text(st, i));
  sqlite3_finalize(st);
}

// Runs T-SQL on an embedded server's database through ClsDatos; aborts on any error.
inline void RunOn(const std::string& server, const std::string& database, const std::string& sql) {
  ClsDatos d;
  d.Servidor(server);
  d.BaseDatos(database);
  std::string c;
  d.Conectar(false, 3, c, true, false);
  if (!d.Conectado()) std::abort();
  d.EjecutarSQL(sql);
  if (d.Conexion()->Errors().Count()) std::abort();
}

// A private data root whose embedded server LOCAL holds EMPRESA1 (the home schema) with
// `statuses` statuses 0001, 0002... ; removed at the end.
struct HomeDatabase {
  std::string root, file;
  HomeDatabase(const std::string& name, int statuses) {
    root = (std::filesystem::temp_directory_path() / (name + "-" + std::to_string(getpid()))).string();
    std::filesystem::remove_all(root);
    setenv("ETAPAS_DATA", root.c_str(), 1);
    RunOn("LOCAL", "master", "CREATE DATABASE [EMPRESA1]");
    RunOn("LOCAL", "EMPRESA1", schema::Files().at("home.sql"));
    std::string rows;
    for (int i = 1; i <= statuses; ++i) {
      char code[8];
      std::snprintf(code, sizeof code, "%04d", i % 10000);
      rows += std::string(rows.empty() ? "" : ",") + "('" + code + "','ESTADO NUMERO " + code +
              "','255','E',' 0001|0002|')";
      if (i % 1000 == 0 || i == statuses) {
        RunOn("LOCAL", "EMPRESA1",
              "INSERT INTO V_TA_ETAPAS (CODIGOESTADO, Descripcion, Color, Tipo, PosiblesEstadoPrevio) VALUES " + rows);
        rows.clear();
      }
    }
    file = root + "/servers/local/empresa1.db";
  }
  ~HomeDatabase() { std::filesystem::remove_all(root); }
};

}  // namespace etapas::bench
