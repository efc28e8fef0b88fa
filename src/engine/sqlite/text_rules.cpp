#include "engine/sqlite/text_rules.h"

#include <sqlite3.h>
#include <unicode/uchar.h>
#include <unicode/ucol.h>
#include <unicode/ustring.h>
#include <unicode/uvernum.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <vector>

#include "components/text.h"
#include "engine/sqlite/like.h"

namespace etapas::engine::sqlite {
namespace {

// Raised by the functions for a length SQL Server refuses (errors 536 and 537); the
// backend maps it (sqlite_backend.cpp).
constexpr const char* kInvalidLeft = "tsql_length:LEFT";
constexpr const char* kInvalidRight = "tsql_length:RIGHT";
constexpr const char* kInvalidSubstring = "tsql_length:SUBSTRING";

// Changes whenever what TSQLCI does changes here, beside ICU's own version.
constexpr std::string_view kRules = "etapas TSQLCI: und-u-ks-level2, trailing blanks, bad bytes last|1";

UCollator* Clone(const UCollator* c) {
  if (!c) return nullptr;
  UErrorCode status = U_ZERO_ERROR;
#if U_ICU_VERSION_MAJOR_NUM >= 71
  UCollator* copy = ucol_clone(c, &status);
#else
  UCollator* copy = ucol_safeClone(c, nullptr, nullptr, &status);
#endif
  if (U_FAILURE(status)) {
    ucol_close(copy);
    return nullptr;
  }
  return copy;
}

// The collator of the process, opened once; connections compare with clones of it.
struct Prototype {
  UCollator* collator = nullptr;
  // The weight of each ASCII character, in ICU's order at secondary strength: 0 for the
  // characters ICU ignores (the controls), equal for upper and lower case.
  std::array<uint8_t, 128> weight{};
  bool ascii = false;  // the weights stand for ICU on ASCII texts
  int stamp = 1;

  Prototype() {
    UErrorCode status = U_ZERO_ERROR;
    collator = ucol_open("und-u-ks-level2", &status);
    if (U_FAILURE(status)) {
      ucol_close(collator);
      collator = nullptr;
    }
    uint32_t h = 2166136261u;  // FNV-1a of the rules and ICU's version of them
    auto mix = [&](unsigned char c) { h = (h ^ c) * 16777619u; };
    for (char c : kRules) mix(static_cast<unsigned char>(c));
    if (collator) {
      UVersionInfo v;
      ucol_getVersion(collator, v);
      for (uint8_t b : v) mix(b);
    } else {
      for (char c : std::string_view("without ICU")) mix(static_cast<unsigned char>(c));
    }
    stamp = static_cast<int>(h & 0x7FFFFFFF);
    if (stamp == 0) stamp = 1;
    if (collator) WeighAscii();
  }

  // An ASCII text holds no contraction or expansion in the root collation and no secondary
  // differences: comparing it is comparing its characters' weights in turn, the ignorable
  // ones skipped. Kept only when ICU agrees character by character.
  void WeighAscii() {
    UCollator* primary = Clone(collator);
    if (!primary) return;
    ucol_setStrength(primary, UCOL_PRIMARY);
    auto cmp = [](const UCollator* c, UChar x, UChar y) { return ucol_strcoll(c, &x, 1, &y, 1); };
    std::array<UChar, 128> order;
    std::iota(order.begin(), order.end(), UChar(0));
    std::stable_sort(order.begin(), order.end(), [&](UChar x, UChar y) { return cmp(collator, x, y) == UCOL_LESS; });
    bool ok = true;
    int w = 0;
    for (size_t k = 0; k < order.size(); ++k) {
      const UChar c = order[k];
      if (ucol_strcoll(collator, &c, 1, &c, 0) == UCOL_EQUAL) {
        weight[c] = 0;  // ignorable: sorts first, before every weighed character
        continue;
      }
      if (k == 0 || weight[order[k - 1]] == 0 || cmp(collator, order[k - 1], c) != UCOL_EQUAL) {
        // A secondary difference alone would be outweighed by a primary one further on.
        if (k > 0 && weight[order[k - 1]] != 0 && cmp(primary, order[k - 1], c) == UCOL_EQUAL) ok = false;
        ++w;
      }
      weight[c] = static_cast<uint8_t>(w);
    }
    ucol_close(primary);
    ascii = ok && w < 256;
  }
};

// Never destroyed: connections of static objects may still compare at the process's end.
const Prototype& Proto() {
  static const Prototype* p = new Prototype();
  return *p;
}

std::string_view WithoutTrailingBlanks(std::string_view s) {
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

bool IsAscii(std::string_view s) {
  size_t i = 0;
  uint64_t any = 0;
  for (; i + 8 <= s.size(); i += 8) {
    uint64_t word;
    std::memcpy(&word, s.data() + i, 8);
    any |= word;
  }
  for (; i < s.size(); ++i) any |= static_cast<unsigned char>(s[i]);
  return (any & 0x8080808080808080ULL) == 0;
}

int CompareAscii(const uint8_t* weight, std::string_view a, std::string_view b) {
  size_t i = 0, j = 0;
  for (;;) {
    while (i < a.size() && weight[static_cast<unsigned char>(a[i])] == 0) ++i;
    while (j < b.size() && weight[static_cast<unsigned char>(b[j])] == 0) ++j;
    if (i == a.size() || j == b.size()) return i == a.size() ? (j == b.size() ? 0 : -1) : 1;
    const uint8_t x = weight[static_cast<unsigned char>(a[i++])], y = weight[static_cast<unsigned char>(b[j++])];
    if (x != y) return x < y ? -1 : 1;
  }
}

// The next byte of s from i that starts no valid UTF-8 sequence, or -1 at the end.
int NextBadByte(std::string_view s, size_t& i) {
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    const size_t len = text::Utf8SequenceLength(s, i);
    if (len == 0) {
      ++i;
      return c;
    }
    i += len;
  }
  return -1;
}

// Texts ICU finds equal are told apart by the bytes in them that are not UTF-8 (which ICU
// reads all alike, as U+FFFD).
int CompareBadBytes(std::string_view a, std::string_view b) {
  size_t i = 0, j = 0;
  for (;;) {
    const int x = NextBadByte(a, i), y = NextBadByte(b, j);
    if (x != y) return x < y ? -1 : 1;
    if (x < 0) return 0;
  }
}

int Sign(int v) { return (v > 0) - (v < 0); }

// ---- Case mapping --------------------------------------------------------------------

// A run of valid UTF-8 mapped by ICU, appended to out.
void MapRun(std::string_view run, bool upper, std::string& out) {
  UErrorCode status = U_ZERO_ERROR;
  std::u16string in(run.size(), u'\0');
  int32_t n = 0;
  u_strFromUTF8(in.data(), static_cast<int32_t>(in.size()), &n, run.data(), static_cast<int32_t>(run.size()), &status);
  if (U_FAILURE(status)) {
    out.append(run);
    return;
  }
  std::u16string mapped(static_cast<size_t>(n) + 8, u'\0');
  for (int attempt = 0; attempt < 2; ++attempt) {
    status = U_ZERO_ERROR;
    const int32_t m = upper
                          ? u_strToUpper(mapped.data(), static_cast<int32_t>(mapped.size()), in.data(), n, "", &status)
                          : u_strToLower(mapped.data(), static_cast<int32_t>(mapped.size()), in.data(), n, "", &status);
    if (status == U_BUFFER_OVERFLOW_ERROR) {
      mapped.assign(static_cast<size_t>(m), u'\0');
      continue;
    }
    if (U_FAILURE(status)) break;
    std::string bytes(static_cast<size_t>(m) * 3, '\0');
    int32_t length = 0;
    status = U_ZERO_ERROR;
    u_strToUTF8(bytes.data(), static_cast<int32_t>(bytes.size()), &length, mapped.data(), m, &status);
    if (U_FAILURE(status)) break;
    out.append(bytes.data(), static_cast<size_t>(length));
    return;
  }
  out.append(run);
}

std::string MapCase(std::string_view s, bool upper) {
  std::string out;
  if (IsAscii(s)) {
    out.assign(s);
    for (char& c : out) {
      if (upper && c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
      if (!upper && c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    }
    return out;
  }
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    size_t j = i;
    for (size_t len; j < s.size() && (len = text::Utf8SequenceLength(s, j)) != 0;) j += len;
    if (j > i) MapRun(s.substr(i, j - i), upper, out);
    if (j < s.size()) out += s[j++];
    i = j;
  }
  return out;
}

// ---- Characters ------------------------------------------------------------------------

constexpr char32_t kBadByteBase = 0xDC00;

// The folded code point at s[i], advancing i past it.
char32_t NextFolded(std::string_view s, size_t& i) {
  const auto c = static_cast<unsigned char>(s[i]);
  if (c < 0x80) {
    ++i;
    return c >= 'A' && c <= 'Z' ? c + 32 : c;
  }
  if (text::Utf8SequenceLength(s, i) == 0) {
    ++i;
    return kBadByteBase + c;
  }
  return FoldCase(text::NextChar(s, i, text::BadUtf8::kKeepByte));
}

// Folded code points, and where each starts in the bytes (one more: the end).
void DecodeWithOffsets(std::string_view s, std::u32string& chars, std::vector<size_t>& at) {
  chars.clear();
  at.clear();
  for (size_t i = 0; i < s.size();) {
    at.push_back(i);
    chars.push_back(NextFolded(s, i));
  }
  at.push_back(s.size());
}

// The byte offset n characters after byte `from` (the end when the text is shorter); a
// byte that starts no valid sequence is one character, as the engine counts.
size_t Advance(std::string_view s, size_t from, long long n) {
  size_t i = from;
  for (long long k = 0; k < n && i < s.size(); ++k) {
    const size_t len = text::Utf8SequenceLength(s, i);
    i += len == 0 ? 1 : len;
  }
  return i;
}

long long CharCount(std::string_view s) { return static_cast<long long>(text::Length(s)); }

// Position of needle in hay from character `from`, or npos.
size_t Find(const std::u32string& hay, const std::u32string& needle, size_t from) {
  if (needle.empty() || needle.size() > hay.size()) return std::u32string::npos;
  for (size_t i = from; i + needle.size() <= hay.size(); ++i)
    if (std::equal(needle.begin(), needle.end(), hay.begin() + static_cast<std::ptrdiff_t>(i))) return i;
  return std::u32string::npos;
}

// ---- SQL functions -------------------------------------------------------------------------

std::string_view TextOf(sqlite3_value* v) {
  const unsigned char* t = sqlite3_value_text(v);
  return {t ? reinterpret_cast<const char*>(t) : "", static_cast<size_t>(sqlite3_value_bytes(v))};
}

bool AnyNull(int argc, sqlite3_value** argv) {
  for (int k = 0; k < argc; ++k)
    if (sqlite3_value_type(argv[k]) == SQLITE_NULL) return true;
  return false;
}

void ResultText(sqlite3_context* ctx, std::string_view s) {
  sqlite3_result_text64(ctx, s.data(), s.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
}

int CompareCollation(void* collation, int na, const void* a, int nb, const void* b) {
  return static_cast<const TextCollation*>(collation)->Compare({static_cast<const char*>(a), static_cast<size_t>(na)},
                                                               {static_cast<const char*>(b), static_cast<size_t>(nb)});
}

void DeleteCollation(void* collation) { delete static_cast<TextCollation*>(collation); }

void DeletePattern(void* pattern) { delete static_cast<std::u32string*>(pattern); }

// SQL Server's LIKE: % _ [set] [^set] [a-z] and the escape character, letters matched as
// FoldCase folds them; the value's trailing blanks are not held against the pattern.
void LikeFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL || sqlite3_value_type(argv[1]) == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  // The pattern is folded once for as long as it stays the same (the engine keeps it).
  const auto* pattern = static_cast<const std::u32string*>(sqlite3_get_auxdata(ctx, 0));
  std::u32string local;
  if (!pattern) {
    local = DecodeFolded(TextOf(argv[0]));
    sqlite3_set_auxdata(ctx, 0, new std::u32string(local), DeletePattern);
    pattern = &local;
  }
  thread_local std::u32string subject;
  subject.clear();
  const std::string_view value = TextOf(argv[1]);
  for (size_t i = 0; i < value.size();) subject.push_back(NextFolded(value, i));
  char32_t esc = 0;
  if (argc == 3 && sqlite3_value_type(argv[2]) != SQLITE_NULL) {
    const std::string_view e = TextOf(argv[2]);
    size_t i = 0;
    if (!e.empty()) esc = NextFolded(e, i);
  }
  bool hit = LikeMatch(*pattern, subject, esc);
  if (!hit && !subject.empty() && subject.back() == U' ') {
    const size_t end = subject.find_last_not_of(U' ');
    hit = LikeMatch(*pattern, std::u32string_view(subject).substr(0, end == std::u32string::npos ? 0 : end + 1), esc);
  }
  sqlite3_result_int(ctx, hit ? 1 : 0);
}

template <bool ToUpper>
void CaseFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) return sqlite3_result_null(ctx);
  const std::string mapped = ToUpper ? Upper(TextOf(argv[0])) : Lower(TextOf(argv[0]));
  ResultText(ctx, mapped);
}

// LEN: characters, not counting trailing blanks (leading ones count).
void LenFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) return sqlite3_result_null(ctx);
  sqlite3_result_int64(ctx, CharCount(WithoutTrailingBlanks(TextOf(argv[0]))));
}

void LeftFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) return sqlite3_result_null(ctx);
  const long long n = sqlite3_value_int64(argv[1]);
  if (n < 0) return sqlite3_result_error(ctx, kInvalidLeft, -1);
  const std::string_view s = TextOf(argv[0]);
  ResultText(ctx, s.substr(0, Advance(s, 0, n)));
}

void RightFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) return sqlite3_result_null(ctx);
  const long long n = sqlite3_value_int64(argv[1]);
  if (n < 0) return sqlite3_result_error(ctx, kInvalidRight, -1);
  const std::string_view s = TextOf(argv[0]);
  const long long count = CharCount(s);
  ResultText(ctx, s.substr(n >= count ? 0 : Advance(s, 0, count - n)));
}

// SUBSTRING(s, start, length): the characters from start to start + length - 1 that are in
// the text; a start before the first character counts the missing ones.
void SubstringFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) return sqlite3_result_null(ctx);
  const long long start = sqlite3_value_int64(argv[1]), length = sqlite3_value_int64(argv[2]);
  if (length < 0) return sqlite3_result_error(ctx, kInvalidSubstring, -1);
  long long end;  // one past the last character wanted, counted from 1
  if (__builtin_add_overflow(start, length, &end)) end = INT64_MAX;
  const long long first = std::max(start, 1LL);
  if (end <= first) return ResultText(ctx, "");
  const std::string_view s = TextOf(argv[0]);
  const size_t from = Advance(s, 0, first - 1);
  ResultText(ctx, s.substr(from, Advance(s, from, end - first) - from));
}

// CHARINDEX(needle, hay [, start]): where needle starts in hay, from character start (1
// when lower), letter case aside; 0 when it is not there or is empty.
void CharIndexFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) return sqlite3_result_null(ctx);
  const long long start = argc == 3 ? std::max(sqlite3_value_int64(argv[2]), 1LL) : 1;
  const std::u32string needle = DecodeFolded(TextOf(argv[0])), hay = DecodeFolded(TextOf(argv[1]));
  if (start - 1 > static_cast<long long>(hay.size())) return sqlite3_result_int64(ctx, 0);
  const size_t at = Find(hay, needle, static_cast<size_t>(start - 1));
  sqlite3_result_int64(ctx, at == std::u32string::npos ? 0 : static_cast<long long>(at) + 1);
}

// REPLACE(s, from, to): every occurrence of from, letter case aside, left to right; an
// empty from changes nothing.
void ReplaceFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (AnyNull(argc, argv)) return sqlite3_result_null(ctx);
  const std::string_view s = TextOf(argv[0]), to = TextOf(argv[2]);
  const std::u32string from = DecodeFolded(TextOf(argv[1]));
  std::u32string chars;
  std::vector<size_t> at;
  DecodeWithOffsets(s, chars, at);
  std::string out;
  size_t done = 0;  // characters copied or replaced
  for (size_t p; (p = Find(chars, from, done)) != std::u32string::npos; done = p + from.size()) {
    out.append(s.substr(at[done], at[p] - at[done]));
    out.append(to);
  }
  out.append(s.substr(at[done]));
  ResultText(ctx, out);
}

}  // namespace

TextCollation::TextCollation()
    : collator_(Clone(Proto().collator)), asciiWeights_(Proto().ascii ? Proto().weight.data() : nullptr) {}
TextCollation::~TextCollation() { ucol_close(collator_); }

int TextCollation::Compare(std::string_view a, std::string_view b) const {
  a = WithoutTrailingBlanks(a);
  b = WithoutTrailingBlanks(b);
  if (asciiWeights_) {
    // Equal bytes weigh the same: only what follows the common start is weighed.
    const size_t n = std::min(a.size(), b.size());
    size_t k = 0;
    while (k < n && a[k] == b[k] && static_cast<unsigned char>(a[k]) < 0x80) ++k;
    const std::string_view x = a.substr(k), y = b.substr(k);
    if (IsAscii(x) && IsAscii(y)) return CompareAscii(asciiWeights_, x, y);
  }
  if (!collator_) return text::CompareNoCase(a, b);
  UErrorCode status = U_ZERO_ERROR;
  const UCollationResult r = ucol_strcollUTF8(collator_, a.data(), static_cast<int32_t>(a.size()), b.data(),
                                              static_cast<int32_t>(b.size()), &status);
  if (U_FAILURE(status)) return Sign(a.compare(b));
  if (r != UCOL_EQUAL) return r == UCOL_LESS ? -1 : 1;
  return CompareBadBytes(a, b);
}

void RegisterCollation(sqlite3* db) {
  sqlite3_create_collation_v2(db, "TSQLCI", SQLITE_UTF8, new TextCollation(), CompareCollation, DeleteCollation);
}

void RegisterTextRules(sqlite3* db) {
  RegisterCollation(db);
  struct Function {
    const char* name;
    int args;
    void (*call)(sqlite3_context*, int, sqlite3_value**);
  };
  static constexpr Function kFunctions[] = {
      {"like", 2, LikeFunction},
      {"like", 3, LikeFunction},
      {"upper", 1, CaseFunction<true>},
      {"lower", 1, CaseFunction<false>},
      {"tsql_len", 1, LenFunction},
      {"tsql_left", 2, LeftFunction},
      {"tsql_right", 2, RightFunction},
      {"tsql_substring", 3, SubstringFunction},
      {"tsql_charindex", 2, CharIndexFunction},
      {"tsql_charindex", 3, CharIndexFunction},
      {"tsql_replace", 3, ReplaceFunction},
  };
  for (const Function& f : kFunctions)
    sqlite3_create_function_v2(db, f.name, f.args, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, f.call, nullptr,
                               nullptr, nullptr);
}

int CollationStamp() { return Proto().stamp; }

namespace {

bool UserVersion(sqlite3* db, int& version) {
  sqlite3_stmt* st = nullptr;
  bool ok = sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &st, nullptr) == SQLITE_OK && st &&
            sqlite3_step(st) == SQLITE_ROW;
  if (ok) version = sqlite3_column_int(st, 0);
  sqlite3_finalize(st);
  return ok;
}

// Whether an index of the database (primary keys and unique constraints included) orders
// by TSQLCI.
bool IndexesUseCollation(sqlite3* db) {
  sqlite3_stmt* st = nullptr;
  const char* q =
      "SELECT 1 FROM sqlite_master m, pragma_index_list(m.name) l, pragma_index_xinfo(l.name) x "
      "WHERE m.type = 'table' AND x.coll = 'TSQLCI' COLLATE NOCASE LIMIT 1";
  // When the catalogue cannot be read, rebuilding is the safe answer.
  bool uses = true;
  if (sqlite3_prepare_v2(db, q, -1, &st, nullptr) == SQLITE_OK) {
    const int rc = sqlite3_step(st);
    uses = rc != SQLITE_DONE;
  }
  sqlite3_finalize(st);
  return uses;
}

bool Exec(sqlite3* db, const std::string& sql, std::string& error) {
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK) return true;
  error = sqlite3_errmsg(db);
  return false;
}

}  // namespace

bool EnsureIndexOrder(sqlite3* db, std::string& error) {
  const int stamp = CollationStamp();
  int version = 0;
  if (UserVersion(db, version) && version == stamp) return true;
  const bool rebuild = IndexesUseCollation(db);
  std::string why;
  // Under the write lock, read again: another connection may have done it meanwhile.
  bool ok = Exec(db, "BEGIN IMMEDIATE", why);
  if (ok) {
    ok = UserVersion(db, version);
    if (!ok) why = sqlite3_errmsg(db);
    if (ok && version != stamp) {
      ok = (!rebuild || Exec(db, "REINDEX TSQLCI", why)) &&
           Exec(db, "PRAGMA user_version = " + std::to_string(stamp), why);
    }
    ok = ok && Exec(db, "COMMIT", why);
    if (!ok) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  if (ok || !rebuild) return true;  // nothing is ordered by TSQLCI: no order to keep
  error = "its indexes could not be rebuilt for this version's comparison of text (" + why +
          "); until they are, the database cannot be used";
  return false;
}

std::string Upper(std::string_view utf8) { return MapCase(utf8, true); }
std::string Lower(std::string_view utf8) { return MapCase(utf8, false); }

char32_t FoldCase(char32_t c) {
  if (c < 0x80) return c >= 'A' && c <= 'Z' ? c + 32 : c;
  if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return c;
  return static_cast<char32_t>(u_foldCase(static_cast<UChar32>(c), U_FOLD_CASE_DEFAULT));
}

std::u32string DecodeFolded(std::string_view utf8) {
  std::u32string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) out.push_back(NextFolded(utf8, i));
  return out;
}

}  // namespace etapas::engine::sqlite
