// The embedded engine's comparison of text (TSQLCI, text_rules.h), which every index walk
// over a text column calls, against the one before it (text::CompareNoCase: the bytes of
// the text upper-cased in ASCII and Latin-1, no ICU): status codes (ASCII, the common case)
// and Spanish words with accents; and LIKE over a table of such words, through SQLite.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <string>
#include <vector>

#include "components/text.h"
#include "engine/sqlite/text_rules.h"

namespace {

using namespace etapas;

std::vector<std::string> Codes() {
  std::vector<std::string> out;
  for (int i = 0; i < 256; ++i) {
    std::string c = std::to_string(1000 + i * 37 % 9000);
    out.push_back(i % 3 ? c : c + "  ");
  }
  return out;
}

std::vector<std::string> Words() {
  const char* base[] = {"CAMIÓN", "camión", "Ñandú", "ACCIÓN", "pingüino", "Œuvre", "ÁRBOL", "árbol", "Ärger", "éxito"};
  std::vector<std::string> out;
  for (int i = 0; i < 256; ++i) out.push_back(std::string(base[i % 10]) + " " + std::to_string(i % 17));
  return out;
}

template <typename Compare>
void Pairs(benchmark::State& state, const std::vector<std::string>& texts, Compare compare) {
  int sum = 0;
  for (auto _ : state) {
    for (size_t k = 1; k < texts.size(); ++k) sum += compare(texts[k - 1], texts[k]);
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(texts.size() - 1));
}

void BM_Tsqlci_Codes(benchmark::State& state) {
  const engine::sqlite::TextCollation c;
  Pairs(state, Codes(), [&](const std::string& a, const std::string& b) { return c.Compare(a, b); });
}
void BM_Earlier_Codes(benchmark::State& state) { Pairs(state, Codes(), text::CompareNoCase); }
void BM_Tsqlci_Words(benchmark::State& state) {
  const engine::sqlite::TextCollation c;
  Pairs(state, Words(), [&](const std::string& a, const std::string& b) { return c.Compare(a, b); });
}
void BM_Earlier_Words(benchmark::State& state) { Pairs(state, Words(), text::CompareNoCase); }

// SELECT COUNT(*) ... WHERE v LIKE pattern over 10,000 rows of an in-memory table.
void BM_Like(benchmark::State& state, const char* pattern) {
  sqlite3* db = nullptr;
  sqlite3_open(":memory:", &db);
  engine::sqlite::RegisterTextRules(db);
  sqlite3_exec(db, "CREATE TABLE t (v TEXT COLLATE TSQLCI)", nullptr, nullptr, nullptr);
  sqlite3_stmt* insert = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO t VALUES (?)", -1, &insert, nullptr);
  const auto words = Words();
  sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
  for (int i = 0; i < 10000; ++i) {
    const std::string& w = words[static_cast<size_t>(i) % words.size()];
    sqlite3_bind_text(insert, 1, w.data(), static_cast<int>(w.size()), SQLITE_STATIC);
    sqlite3_step(insert);
    sqlite3_reset(insert);
  }
  sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_finalize(insert);
  sqlite3_stmt* query = nullptr;
  sqlite3_prepare_v2(db, (std::string("SELECT COUNT(*) FROM t WHERE v LIKE '") + pattern + "'").c_str(), -1, &query,
                     nullptr);
  for (auto _ : state) {
    sqlite3_step(query);
    benchmark::DoNotOptimize(sqlite3_column_int(query, 0));
    sqlite3_reset(query);
  }
  state.SetItemsProcessed(state.iterations() * 10000);
  sqlite3_finalize(query);
  sqlite3_close(db);
}

BENCHMARK(BM_Tsqlci_Codes);
BENCHMARK(BM_Earlier_Codes);
BENCHMARK(BM_Tsqlci_Words);
BENCHMARK(BM_Earlier_Words);
BENCHMARK_CAPTURE(BM_Like, prefix, "cami%");
BENCHMARK_CAPTURE(BM_Like, infix, "%IÓN%");

}  // namespace

BENCHMARK_MAIN();
