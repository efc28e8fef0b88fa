#include "components/text.h"

namespace etapas::text {
namespace {

// Case mapping of one UTF-8 sequence: ASCII letters and the Latin-1 letters
// U+00C0..U+00DE / U+00E0..U+00FE (the letters of the suite's languages).
template <bool ToUpper>
std::string MapCase(std::string_view s) {
  std::string out(s);
  for (size_t i = 0; i < out.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(out[i]);
    if (c < 0x80) {
      if (ToUpper && c >= 'a' && c <= 'z') out[i] = static_cast<char>(c - 32);
      if (!ToUpper && c >= 'A' && c <= 'Z') out[i] = static_cast<char>(c + 32);
    } else if (c == 0xC3 && i + 1 < out.size()) {
      unsigned char d = static_cast<unsigned char>(out[i + 1]);
      if (ToUpper && d >= 0xA0 && d <= 0xBE && d != 0xB7) out[i + 1] = static_cast<char>(d - 0x20);
      if (!ToUpper && d >= 0x80 && d <= 0x9E && d != 0x97) out[i + 1] = static_cast<char>(d + 0x20);
      ++i;
    }
  }
  return out;
}

}  // namespace

std::string_view TrimEnd(std::string_view s, std::string_view chars) {
  while (!s.empty() && chars.find(s.back()) != std::string_view::npos) s.remove_suffix(1);
  return s;
}

std::string_view Trim(std::string_view s, std::string_view chars) {
  while (!s.empty() && chars.find(s.front()) != std::string_view::npos) s.remove_prefix(1);
  return TrimEnd(s, chars);
}

std::string TrimCopy(std::string_view s) { return std::string(Trim(s)); }
std::string Upper(std::string_view s) { return MapCase<true>(s); }
std::string Lower(std::string_view s) { return MapCase<false>(s); }
std::string CompareKey(std::string_view s) { return Upper(TrimEnd(s, " ")); }

namespace {
// One byte folded to upper case; `lead` is the previous byte (0xC3 starts the Latin-1
// letters in UTF-8, whose second byte carries the case).
inline unsigned char FoldByte(unsigned char c, unsigned char lead) {
  if (c >= 'a' && c <= 'z') return static_cast<unsigned char>(c - 32);
  if (lead == 0xC3 && c >= 0xA0 && c <= 0xBE && c != 0xB7) return static_cast<unsigned char>(c - 0x20);
  return c;
}
}  // namespace

namespace {
// Walks a text as MapCase<true> does, giving each byte as it comes out upper-cased.
class UpperBytes {
 public:
  explicit UpperBytes(std::string_view s) : s_(s) {}
  bool Done() const { return i_ >= s_.size(); }
  unsigned char Next() {
    const auto c = static_cast<unsigned char>(s_[i_++]);
    if (second_) {
      second_ = false;
      return c >= 0xA0 && c <= 0xBE && c != 0xB7 ? static_cast<unsigned char>(c - 0x20) : c;
    }
    if (c >= 'a' && c <= 'z') return static_cast<unsigned char>(c - 32);
    second_ = c == 0xC3 && i_ < s_.size();
    return c;
  }

 private:
  std::string_view s_;
  size_t i_ = 0;
  bool second_ = false;
};

std::string_view WithoutTrailingBlanks(std::string_view s) {
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}
}  // namespace

int CompareNoCase(std::string_view a, std::string_view b) {
  UpperBytes x(WithoutTrailingBlanks(a)), y(WithoutTrailingBlanks(b));
  while (!x.Done() && !y.Done()) {
    const unsigned char cx = x.Next(), cy = y.Next();
    if (cx != cy) return cx < cy ? -1 : 1;
  }
  return x.Done() ? (y.Done() ? 0 : -1) : 1;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  unsigned char la = 0, lb = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    const auto ca = static_cast<unsigned char>(a[i]), cb = static_cast<unsigned char>(b[i]);
    if (ca != cb && FoldByte(ca, la) != FoldByte(cb, lb)) return false;
    la = ca;
    lb = cb;
  }
  return true;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && EqualsNoCase(s.substr(0, prefix.size()), prefix);
}

size_t FindNoCase(std::string_view hay, std::string_view needle, size_t from) {
  return Upper(hay).find(Upper(needle), from);
}

std::string RemoveAllNoCase(std::string_view s, std::string_view needle) {
  if (needle.empty()) return std::string(s);
  std::string out(s);
  for (size_t p; (p = FindNoCase(out, needle)) != std::string::npos;) out.erase(p, needle.size());
  return out;
}

std::string ReplaceAll(std::string_view s, std::string_view from, std::string_view to) {
  if (from.empty()) return std::string(s);
  std::string out;
  size_t i = 0;
  for (size_t p; (p = s.find(from, i)) != std::string_view::npos; i = p + from.size()) {
    out.append(s.substr(i, p - i));
    out.append(to);
  }
  out.append(s.substr(i));
  return out;
}

std::string HideSecrets(std::string_view s) {
  std::string out;
  size_t i = 0;
  while (i < s.size()) {
    size_t key = 0;
    for (std::string_view k : {std::string_view("password"), std::string_view("pwd")})
      if (s.size() - i >= k.size() && EqualsNoCase(s.substr(i, k.size()), k)) key = k.size();
    if (key == 0) {
      out += s[i++];
      continue;
    }
    size_t j = i + key;
    while (j < s.size() && (s[j] == ' ' || s[j] == '\t')) ++j;
    size_t value = std::string_view::npos, end = j;
    if (j < s.size() && s[j] == '=') {
      value = ++j;
      while (value < s.size() && (s[value] == ' ' || s[value] == '\t')) ++value;
      end = value;
      if (end < s.size() && (s[end] == '\'' || s[end] == '"')) {
        const char q = s[end];
        end = s.find(q, end + 1);
        end = end == std::string_view::npos ? s.size() : end + 1;
      } else {
        while (end < s.size() && s[end] != ';' && s[end] != ' ' && s[end] != '\t' && s[end] != '\n' && s[end] != '\r')
          ++end;
      }
    } else if (j < s.size() && s[j] == '\'') {
      // An SQL literal: a doubled quote stays inside it.
      value = j;
      end = j + 1;
      for (;;) {
        end = s.find('\'', end);
        if (end == std::string_view::npos) {
          end = s.size();
          break;
        }
        if (end + 1 < s.size() && s[end + 1] == '\'') {
          end += 2;
          continue;
        }
        ++end;
        break;
      }
    }
    if (value == std::string_view::npos) {
      out.append(s.substr(i, key));
      i += key;
      continue;
    }
    out.append(s.substr(i, value - i));
    if (end > value) out += "***";
    i = end;
  }
  return out;
}

}  // namespace etapas::text

namespace etapas::text {
namespace {
// Code points of bytes 0x80..0x9F in Windows-1252 (0 where the byte is undefined).
constexpr char32_t kCp1252High[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

}  // namespace

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

size_t Utf8SequenceLength(std::string_view s, size_t i) {
  const auto c = static_cast<unsigned char>(s[i]);
  if (c < 0x80) return 1;
  size_t len;
  char32_t cp, min;
  if (c >= 0xC2 && c <= 0xDF) {
    len = 2;
    cp = c & 0x1F;
    min = 0x80;
  } else if (c >= 0xE0 && c <= 0xEF) {
    len = 3;
    cp = c & 0x0F;
    min = 0x800;
  } else if (c >= 0xF0 && c <= 0xF4) {
    len = 4;
    cp = c & 0x07;
    min = 0x10000;
  } else
    return 0;
  if (i + len > s.size()) return 0;
  for (size_t k = 1; k < len; ++k) {
    const auto d = static_cast<unsigned char>(s[i + k]);
    if ((d & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (d & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}

char32_t NextChar(std::string_view s, size_t& i, BadUtf8 bad) {
  const auto c = static_cast<unsigned char>(s[i]);
  const size_t len = Utf8SequenceLength(s, i);
  if (len == 0) {
    ++i;
    return bad == BadUtf8::kReplace ? U'\uFFFD' : c;
  }
  char32_t cp = len == 1 ? c : len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
  for (size_t k = 1; k < len; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
  i += len;
  return cp;
}

std::u32string DecodeUtf8(std::string_view s, BadUtf8 bad) {
  std::u32string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) out.push_back(NextChar(s, i, bad));
  return out;
}

std::string ReplaceBadUtf8(std::string_view s, bool nulIsBad) {
  std::string out;
  size_t done = 0;
  for (size_t i = 0; i < s.size();) {
    const size_t len = Utf8SequenceLength(s, i);
    if (len == 0 || (nulIsBad && s[i] == '\0')) {
      out.append(s.substr(done, i - done));
      out += "\xEF\xBF\xBD";
      done = ++i;
    } else {
      i += len;
    }
  }
  if (done == 0) return std::string(s);
  out.append(s.substr(done));
  return out;
}

std::string Utf8ToCp1252(std::string_view utf8) {
  std::string out;
  for (size_t i = 0; i < utf8.size();) {
    char32_t cp = NextChar(utf8, i, BadUtf8::kKeepByte);
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
      out += static_cast<char>(cp);
      continue;
    }
    char mapped = '?';
    for (int k = 0; k < 32; ++k)
      if (kCp1252High[k] == cp && cp != 0) mapped = static_cast<char>(0x80 + k);
    out += mapped;
  }
  return out;
}

std::string Cp1252ToUtf8(std::string_view cp1252) {
  std::string out;
  for (char ch : cp1252) {
    unsigned char c = static_cast<unsigned char>(ch);
    char32_t cp = c;
    if (c >= 0x80 && c < 0xA0) cp = kCp1252High[c - 0x80] ? kCp1252High[c - 0x80] : U'?';
    AppendUtf8(out, cp);
  }
  return out;
}

size_t Length(std::string_view utf8) {
  size_t n = 0;
  for (size_t i = 0; i < utf8.size(); ++n) NextChar(utf8, i, BadUtf8::kKeepByte);
  return n;
}

std::string Left(std::string_view utf8, size_t n) {
  size_t i = 0;
  for (size_t k = 0; k < n && i < utf8.size(); ++k) NextChar(utf8, i, BadUtf8::kKeepByte);
  return std::string(utf8.substr(0, i));
}

}  // namespace etapas::text
