#pragma once
// SQL Server's rules for text on the embedded engine, written with ICU so that they are the
// rules of the PostgreSQL backend, whose text columns compare by ICU's root collation at
// secondary strength (und-u-ks-level2): the collation TSQLCI and the functions UPPER, LOWER,
// LIKE, LEN, LEFT, RIGHT, SUBSTRING, CHARINDEX and REPLACE.
#include <string>
#include <string_view>

struct sqlite3;
struct UCollator;

namespace etapas::engine::sqlite {

// TSQLCI: ICU's root collation at secondary strength (letter case ignored for every
// letter, accents and other marks kept: 'œuvre' = 'ŒUVRE', 'e' <> 'é'), trailing blanks
// ignored ('sa' = 'SA '). Bytes that are not UTF-8 compare as U+FFFD and then by their own
// values, so two texts that differ in such bytes are never equal. Texts of ASCII alone
// are compared without ICU, in ICU's order. Each object holds its own copy of the
// collator: one per connection (a connection is used by one thread at a time).
class TextCollation {
 public:
  TextCollation();
  ~TextCollation();
  TextCollation(const TextCollation&) = delete;
  TextCollation& operator=(const TextCollation&) = delete;
  int Compare(std::string_view a, std::string_view b) const;  // <0, 0, >0

 private:
  UCollator* collator_;
  const unsigned char* asciiWeights_;  // null when ASCII texts too go to ICU
};

// Registers the collation TSQLCI and the text functions on a connection: like (2 and 3
// arguments), upper, lower (both in place of the engine's own, which know only ASCII),
// tsql_len, tsql_left, tsql_right, tsql_substring, tsql_charindex (2 and 3), tsql_replace.
void RegisterTextRules(sqlite3* db);
// The collation alone, for a connection opened by other means (the tests' and the
// benchmarks' own): it must order the indexes as the engine does.
void RegisterCollation(sqlite3* db);

// What PRAGMA user_version holds in a database whose indexes are in TSQLCI's order. It
// changes with ICU's version of the root collation, and was 0 for every database made
// before TSQLCI followed ICU (the order was the bytes of the upper-cased text).
int CollationStamp();
// Rebuilds the indexes that use TSQLCI when the database's stamp is not CollationStamp(),
// and stamps it, in one write transaction; a database without such indexes is only
// stamped (when it can be written). False with `error` when the indexes cannot be rebuilt:
// the database is then not to be used, as its indexes would be read in another order
// than the one they were built in (two keys that only the new order makes equal, a file
// that cannot be written, a lock held meanwhile by another program).
bool EnsureIndexOrder(sqlite3* db, std::string& error);

// UPPER and LOWER as ICU's root locale maps case (full mappings: 'ß' becomes "SS", 'İ'
// becomes "i̇"), bytes that are not UTF-8 copied as they are.
std::string Upper(std::string_view utf8);
std::string Lower(std::string_view utf8);
// The code point with its case folded (simple folding: one code point for one), how LIKE,
// CHARINDEX and REPLACE match characters. Code points 0xDC80..0xDCFF stand for bytes that
// are not UTF-8 (DecodeFolded): no character is folded to them.
char32_t FoldCase(char32_t c);
// The text as folded code points, a byte that starts no valid UTF-8 sequence as 0xDC00 plus
// its value.
std::u32string DecodeFolded(std::string_view utf8);

}  // namespace etapas::engine::sqlite
