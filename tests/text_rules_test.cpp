// The embedded engine's text rules (text_rules.h): TSQLCI against ICU itself, on every
// ASCII text of up to two characters and on random ones; bytes that are not UTF-8; the case
// mappings; and the indexes of a database written with the earlier order, rebuilt when it
// is opened. What the two engines answer alike is in conformance_test.cpp.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unicode/ucol.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "components/text.h"
#include "db_fixture.h"
#include "engine/session.h"
#include "engine/sqlite/text_rules.h"
#include "test_support.h"

namespace etapas {
namespace {

using engine::sqlite::TextCollation;

int Sign(int v) { return (v > 0) - (v < 0); }

// ICU's root collation at secondary strength, as PostgreSQL's tsql_ci, on the texts
// without their trailing blanks: the definition TSQLCI must follow.
class Reference {
 public:
  Reference() {
    UErrorCode status = U_ZERO_ERROR;
    collator_ = ucol_open("und-u-ks-level2", &status);
    EXPECT_TRUE(U_SUCCESS(status)) << u_errorName(status);
  }
  ~Reference() { ucol_close(collator_); }
  int Compare(std::string_view a, std::string_view b) const {
    a = text::TrimEnd(a, " ");
    b = text::TrimEnd(b, " ");
    UErrorCode status = U_ZERO_ERROR;
    return ucol_strcollUTF8(collator_, a.data(), static_cast<int32_t>(a.size()), b.data(),
                            static_cast<int32_t>(b.size()), &status);
  }

 private:
  UCollator* collator_ = nullptr;
};

std::string Show(std::string_view s) {
  std::string out;
  for (unsigned char c : s) {
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  return out;
}

// ASCII texts are compared without ICU: the same order, or every index over them would be
// read in another order than the one it was written in.
TEST(TextCollationTest, AsciiTextsOrderAsIcuDoes) {
  const Reference icu;
  const TextCollation tsqlci;
  std::vector<std::string> texts{""};
  for (int a = 0; a < 128; ++a) {
    texts.push_back(std::string(1, static_cast<char>(a)));
    for (int b = 0; b < 128; ++b) texts.push_back(std::string{static_cast<char>(a), static_cast<char>(b)});
  }
  // Sorted by one, neighbours compare alike by the other: both are the same total order.
  auto check = [&](auto first, auto second, const char* by) {
    std::vector<std::string> sorted = texts;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [&](const std::string& x, const std::string& y) { return first(x, y) < 0; });
    for (size_t k = 1; k < sorted.size(); ++k)
      ASSERT_EQ(Sign(first(sorted[k - 1], sorted[k])), Sign(second(sorted[k - 1], sorted[k])))
          << by << ": '" << Show(sorted[k - 1]) << "' '" << Show(sorted[k]) << "'";
  };
  auto ours = [&](std::string_view x, std::string_view y) { return tsqlci.Compare(x, y); };
  auto theirs = [&](std::string_view x, std::string_view y) { return icu.Compare(x, y); };
  check(theirs, ours, "sorted by ICU");
  check(ours, theirs, "sorted by TSQLCI");

  // Longer texts over what codes and names are made of, controls and blanks included.
  const std::string alphabet = "aAbBzZ019 _-.,'/\\~`^@[]{}|\t\x01\x7F";
  std::mt19937 random(20260301);
  auto make = [&] {
    std::string s(random() % 9, ' ');
    for (char& c : s) c = alphabet[random() % alphabet.size()];
    return s;
  };
  for (int k = 0; k < 200000; ++k) {
    const std::string x = make(), y = make();
    ASSERT_EQ(Sign(tsqlci.Compare(x, y)), Sign(icu.Compare(x, y))) << "'" << Show(x) << "' '" << Show(y) << "'";
  }
}

TEST(TextCollationTest, CaseIsIgnoredForEveryLetterAndAccentsAreNot) {
  const TextCollation c;
  const std::pair<const char*, const char*> same[] = {
      {"œuvre", "ŒUVRE"}, {"šal", "ŠAL"},       {"ÿ", "Ÿ"},    {"łódź", "ŁÓDŹ"}, {"camión", "CAMIÓN  "},
      {"ΣΟΦΊΑ", "σοφία"}, {"МОСКВА", "москва"}, {"sa", "SA "}, {"", "   "},      {"ǆ", "Ǆ"},
  };
  for (const auto& [a, b] : same) EXPECT_EQ(c.Compare(a, b), 0) << a << " = " << b;
  const std::pair<const char*, const char*> different[] = {
      {"e", "é"}, {"camion", "camión"}, {"i", "ı"}, {"I", "İ"}, {"l", "ł"}, {"n", "ñ"}, {" sa", "sa"}, {"sa\t", "sa"},
  };
  for (const auto& [a, b] : different) {
    EXPECT_NE(c.Compare(a, b), 0) << a << " <> " << b;
    EXPECT_EQ(Sign(c.Compare(a, b)), -Sign(c.Compare(b, a))) << a << " " << b;
  }
}

// ICU reads every byte that is not UTF-8 as U+FFFD; texts that differ in such bytes stay
// different, and the order stays an order.
TEST(TextCollationTest, BytesThatAreNotUtf8StayApartAndOrdered) {
  const TextCollation c;
  EXPECT_NE(c.Compare("CAMI\xD3N", "CAMI\xC9N"), 0);
  EXPECT_EQ(c.Compare("cami\xD3n", "CAMI\xD3N "), 0);
  EXPECT_NE(c.Compare("a\xFF", "a\xEF\xBF\xBD"), 0);
  std::vector<std::string> texts = {
      "",     "a", "A",        "a\xFF",        "A\xFF",    "a\xFE",        "\xFF", "\xFE\xFF", "\xC3",  "\xC3\xA1",
      "\xC1", "é", "\xE2\x82", "\xE2\x82\xAC", "\xF0\x9F", "\xED\xA0\x80", "z",    "\x80z",    "\xC3 ", "\xEF\xBF\xBD"};
  std::mt19937 random(7);
  for (int k = 0; k < 300; ++k) {
    std::string s(random() % 5, ' ');
    for (char& ch : s) ch = "aA\xC3\xA1\xFF\x80\xE2\x82 "[random() % 10];
    texts.push_back(s);
  }
  for (const auto& x : texts)
    for (const auto& y : texts) {
      ASSERT_EQ(Sign(c.Compare(x, y)), -Sign(c.Compare(y, x))) << Show(x) << " " << Show(y);
      for (const auto& z : {texts[3], texts[8], texts[12]})
        if (c.Compare(x, y) <= 0 && c.Compare(y, z) <= 0) {
          ASSERT_LE(c.Compare(x, z), 0) << Show(x) << Show(y) << Show(z);
        }
    }
}

TEST(TextCaseTest, UpperAndLowerMapAsIcusRootLocale) {
  using engine::sqlite::Lower;
  using engine::sqlite::Upper;
  EXPECT_EQ(Upper("œuvre šal ÿ łódź ñandú"), "ŒUVRE ŠAL Ÿ ŁÓDŹ ÑANDÚ");
  EXPECT_EQ(Lower("ŒUVRE ŠAL Ÿ ŁÓDŹ ÑANDÚ"), "œuvre šal ÿ łódź ñandú");
  EXPECT_EQ(Upper("straße"), "STRASSE");
  EXPECT_EQ(Upper("ıi"), "II");
  EXPECT_EQ(Lower("İI"), "i\xCC\x87i");
  EXPECT_EQ(Lower("ΟΔΟΣ"), "οδος");  // the final sigma
  // Bytes that are not UTF-8 are copied as they are, the text around them mapped.
  EXPECT_EQ(Upper("a\xFFœ\xC3"), "A\xFFŒ\xC3");
  EXPECT_EQ(Lower(std::string("A\0B", 3)), std::string("a\0b", 3));
}

// ---- A database written in the earlier order ----------------------------------------------

// The earlier TSQLCI: the bytes of the text upper-cased in ASCII and Latin-1.
int EarlierOrder(void*, int na, const void* a, int nb, const void* b) {
  return text::CompareNoCase({static_cast<const char*>(a), static_cast<size_t>(na)},
                             {static_cast<const char*>(b), static_cast<size_t>(nb)});
}

class EarlierDatabase : public ::testing::Test {
 protected:
  void SetUp() override {
    if (test::OnPostgreSQL()) GTEST_SKIP() << "the embedded engine's files";
    auto master = test::Connect("CASA", "master");
    test::Exec(*master, "CREATE DATABASE [VIEJA]");
    auto db = test::Connect("CASA", "VIEJA");
    test::Exec(*db, "CREATE TABLE t (clave varchar(10) NOT NULL PRIMARY KEY, n int NULL)");
    test::Exec(*db, "CREATE INDEX ix_n ON t (n)");
  }

  // Rows written, and every index rebuilt, by a program of the earlier version.
  void WriteEarlier(const std::vector<std::string>& keys) {
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(root.DatabaseFile("CASA", "VIEJA").c_str(), &raw), SQLITE_OK);
    sqlite3_create_collation_v2(raw, "TSQLCI", SQLITE_UTF8, nullptr, EarlierOrder, nullptr);
    std::string sql = "PRAGMA user_version = 0; REINDEX TSQLCI;";
    int n = 0;
    for (const auto& k : keys) sql += "INSERT INTO t (clave, n) VALUES ('" + k + "', " + std::to_string(++n) + ");";
    EXPECT_EQ(sqlite3_exec(raw, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(raw);
    sqlite3_close(raw);
  }

  // The database's own check of its indexes, comparing as the engine now does.
  std::string IntegrityCheck() {
    sqlite3* raw = nullptr;
    EXPECT_EQ(sqlite3_open(root.DatabaseFile("CASA", "VIEJA").c_str(), &raw), SQLITE_OK);
    engine::sqlite::RegisterCollation(raw);
    std::string result;
    sqlite3_exec(
        raw, "PRAGMA integrity_check",
        [](void* out, int, char** values, char**) {
          *static_cast<std::string*>(out) += std::string(values[0] ? values[0] : "") + ";";
          return 0;
        },
        &result, nullptr);
    sqlite3_close(raw);
    return result;
  }

  int UserVersion() {
    sqlite3* raw = nullptr;
    EXPECT_EQ(sqlite3_open(root.DatabaseFile("CASA", "VIEJA").c_str(), &raw), SQLITE_OK);
    int version = -1;
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(raw, "PRAGMA user_version", -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW)
      version = sqlite3_column_int(st, 0);
    sqlite3_finalize(st);
    sqlite3_close(raw);
    return version;
  }

  test::TempDataRoot root{false};
};

// Keys whose order the two comparisons do not share (punctuation, letters beyond Latin-1):
// read through the earlier index with the new comparison, some would not be found.
TEST_F(EarlierDatabase, ItsIndexesAreRebuiltWhenItIsOpened) {
  const std::vector<std::string> keys = {"_a", "~b", "b", "B1", "a-1", "a.1", "{x", "ŒUVRE", "oz", "Šal", "sb", "0001"};
  WriteEarlier(keys);
  EXPECT_EQ(UserVersion(), 0);
  auto db = test::Connect("CASA", "VIEJA");
  EXPECT_EQ(UserVersion(), engine::sqlite::CollationStamp());
  EXPECT_EQ(IntegrityCheck(), "ok;");
  for (size_t k = 0; k < keys.size(); ++k) {
    EXPECT_EQ(test::Scalar(*db, "SELECT n FROM t WHERE clave = '" + keys[k] + "'"), std::to_string(k + 1)) << keys[k];
    EXPECT_EQ(test::Scalar(*db, "SELECT n FROM t WHERE clave = '" + engine::sqlite::Lower(keys[k]) + " '"),
              std::to_string(k + 1))
        << keys[k];
  }
  EXPECT_EQ(test::Rows(*db, "SELECT clave FROM t WHERE clave < '0' ORDER BY clave"),
            (std::vector<std::string>{"_a", "{x", "~b"}))
      << "ICU's order: punctuation and symbols before digits and letters";
  // A second session finds it done.
  auto again = test::Connect("CASA", "VIEJA");
  EXPECT_EQ(test::Scalar(*again, "SELECT COUNT(*) FROM t"), std::to_string(keys.size()));
}

// Two keys that only the new comparison makes equal cannot both stay in a primary key: the
// database is refused rather than read through an index in the wrong order, and is left as
// it was.
TEST_F(EarlierDatabase, KeysThatBecameEqualKeepItClosed) {
  WriteEarlier({"œuvre", "ŒUVRE", "otra"});
  engine::ConnectRequest request;
  request.dataRoot = root.Path();
  request.server = "CASA";
  request.database = "VIEJA";
  request.user = request.password = "sa";
  engine::ProviderError error;
  EXPECT_EQ(engine::Connect(request, error), nullptr);
  EXPECT_EQ(error.native, engine::native::kCannotOpenDatabase);
  EXPECT_NE(error.description.find("UNIQUE constraint failed"), std::string::npos) << error.description;
  EXPECT_NE(error.description.find("indexes could not be rebuilt"), std::string::npos) << error.description;
  EXPECT_EQ(UserVersion(), 0);
}

TEST_F(EarlierDatabase, ANewDatabaseIsStampedFromTheStart) {
  auto master = test::Connect("CASA", "master");
  test::Exec(*master, "CREATE DATABASE [NUEVA]");
  sqlite3* raw = nullptr;
  ASSERT_EQ(sqlite3_open(root.DatabaseFile("CASA", "NUEVA").c_str(), &raw), SQLITE_OK);
  sqlite3_stmt* st = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(raw, "PRAGMA user_version", -1, &st, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(st, 0), engine::sqlite::CollationStamp());
  sqlite3_finalize(st);
  sqlite3_close(raw);
}

}  // namespace
}  // namespace etapas
