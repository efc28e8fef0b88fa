#pragma once
// Text as PostgreSQL's lexer reads it (scan.l of PostgreSQL 15, standard_conforming_strings
// on, as the sessions set it), for checking what a translation means to the engine rather
// than to the T-SQL lexer: E'' B'' X'' U&'' U&"" and $$ literals, $1 parameters, strings
// joined across a line break, nested block comments, :: and operators made of several
// characters (|- is one operator to it). A number with letters right after it is read as
// PostgreSQL before 15 reads it, a number and then a name.
#include <string>
#include <string_view>
#include <vector>

namespace etapas::test::pg {

enum class Kind {
  Space,
  Comment,
  String,         // '...' and N'...': value is the content
  EscapeString,   // E'...'
  BitString,      // B'...' and X'...'
  UnicodeString,  // U&'...'
  DollarString,   // $$...$$, $tag$...$tag$
  Name,           // bare identifier or keyword, value as written
  QuotedName,     // "..."; value without the quotes
  UnicodeName,    // U&"..."
  Number,
  Parameter,  // $1
  Operator,   // one operator as the engine reads it: +, <=, ~*, |-, ...
  Self,       // , ( ) [ ] . ; : and the single-character operators
  Cast,       // ::
  Other,      // anything else the engine would refuse (a lone $, a backslash, ...)
};

struct Token {
  Kind kind;
  std::string text;
  std::string value;
};

struct Error {
  std::string what;
};

inline bool IsIdentStart(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || u >= 0x80;
}
inline bool IsIdentCont(char c) { return IsIdentStart(c) || (c >= '0' && c <= '9') || c == '$'; }
inline bool IsDigit(char c) { return c >= '0' && c <= '9'; }
inline bool IsOpChar(char c) { return std::string_view("~!@#^&|`?+-*/%<>=").find(c) != std::string_view::npos; }
inline bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

// Throws Error on what the engine's lexer refuses (an unterminated literal or comment).
inline std::vector<Token> Tokenize(std::string_view s) {
  std::vector<Token> out;
  const size_t n = s.size();
  auto at = [&](size_t k) { return k < n ? s[k] : '\0'; };
  // After a closing quote: whitespace holding a line break, then a quote, continues the
  // literal. Returns where the next quote opens, or npos.
  auto continuation = [&](size_t k) -> size_t {
    bool newline = false;
    while (k < n) {
      if (s[k] == ' ' || s[k] == '\t' || s[k] == '\f') {
        ++k;
      } else if (s[k] == '\n' || s[k] == '\r') {
        newline = true;
        ++k;
      } else if (newline && s[k] == '-' && at(k + 1) == '-') {
        while (k < n && s[k] != '\n' && s[k] != '\r') ++k;
        if (k == n) return std::string::npos;  // a comment continues only with its line break
      } else {
        break;
      }
    }
    return newline && at(k) == '\'' ? k : std::string::npos;
  };
  // A quoted literal from the quote at `k`; backslashes escape in E strings.
  auto quoted = [&](size_t k, bool escapes, std::string& value) {
    for (;;) {
      ++k;  // past the opening quote
      for (;; ++k) {
        if (k >= n) throw Error{"unterminated quoted string"};
        if (escapes && s[k] == '\\') {
          if (k + 1 >= n) throw Error{"unterminated quoted string"};
          value += s[++k];
        } else if (s[k] == '\'' && at(k + 1) == '\'') {
          value += '\'';
          ++k;
        } else if (s[k] == '\'') {
          break;
        } else {
          value += s[k];
        }
      }
      ++k;  // past the closing quote
      const size_t more = continuation(k);
      if (more == std::string::npos) return k;
      k = more;
    }
  };

  for (size_t i = 0; i < n;) {
    const size_t start = i;
    const char c = s[i];
    Kind kind = Kind::Other;
    std::string value;
    const char u = static_cast<char>(c & ~0x20);  // upper case of a letter
    if (IsSpace(c)) {
      while (i < n && IsSpace(s[i])) ++i;
      kind = Kind::Space;
    } else if (c == '-' && at(i + 1) == '-') {
      while (i < n && s[i] != '\n' && s[i] != '\r') ++i;
      kind = Kind::Comment;
    } else if (c == '/' && at(i + 1) == '*') {
      int depth = 0;
      do {
        if (i + 1 >= n) throw Error{"unterminated /* comment"};
        if (s[i] == '/' && s[i + 1] == '*') {
          ++depth;
          i += 2;
        } else if (s[i] == '*' && s[i + 1] == '/') {
          --depth;
          i += 2;
        } else {
          ++i;
        }
      } while (depth > 0);
      kind = Kind::Comment;
    } else if (c == '\'') {
      i = quoted(i, false, value);
      kind = Kind::String;
    } else if ((u == 'E' || u == 'B' || u == 'X' || u == 'N') && at(i + 1) == '\'') {
      i = quoted(i + 1, u == 'E', value);
      kind = u == 'E' ? Kind::EscapeString : u == 'N' ? Kind::String : Kind::BitString;
    } else if (u == 'U' && at(i + 1) == '&' && (at(i + 2) == '\'' || at(i + 2) == '"')) {
      if (at(i + 2) == '\'') {
        i = quoted(i + 2, false, value);
        kind = Kind::UnicodeString;
      } else {
        for (i += 3;; ++i) {
          if (i >= n) throw Error{"unterminated quoted identifier"};
          if (s[i] == '"' && at(i + 1) == '"') {
            value += '"';
            ++i;
          } else if (s[i] == '"') {
            break;
          } else {
            value += s[i];
          }
        }
        ++i;
        kind = Kind::UnicodeName;
      }
    } else if (c == '"') {
      for (++i;; ++i) {
        if (i >= n) throw Error{"unterminated quoted identifier"};
        if (s[i] == '"' && at(i + 1) == '"') {
          value += '"';
          ++i;
        } else if (s[i] == '"') {
          break;
        } else {
          value += s[i];
        }
      }
      ++i;
      kind = Kind::QuotedName;
    } else if (c == '$' && IsDigit(at(i + 1))) {
      for (++i; i < n && IsDigit(s[i]);) ++i;
      kind = Kind::Parameter;
    } else if (c == '$') {
      // $tag$ opens a literal that runs to the same $tag$.
      size_t k = i + 1;
      if (IsIdentStart(at(k)))
        while (k < n && IsIdentCont(s[k]) && s[k] != '$') ++k;
      if (at(k) == '$') {
        const std::string_view tag = s.substr(i, k + 1 - i);
        const size_t close = s.find(tag, k + 1);
        if (close == std::string_view::npos) throw Error{"unterminated dollar-quoted string"};
        value = std::string(s.substr(k + 1, close - k - 1));
        i = close + tag.size();
        kind = Kind::DollarString;
      } else {
        ++i;
        kind = Kind::Other;
      }
    } else if (IsIdentStart(c)) {
      while (i < n && IsIdentCont(s[i])) ++i;
      kind = Kind::Name;
    } else if (IsDigit(c) || (c == '.' && IsDigit(at(i + 1)))) {
      while (i < n && IsDigit(s[i])) ++i;
      // 1..2 is a number and "..".
      if (at(i) == '.' && at(i + 1) != '.')
        for (++i; i < n && IsDigit(s[i]);) ++i;
      if ((at(i) == 'e' || at(i) == 'E') &&
          (IsDigit(at(i + 1)) || ((at(i + 1) == '+' || at(i + 1) == '-') && IsDigit(at(i + 2)))))
        for (i += 2; i < n && IsDigit(s[i]);) ++i;
      kind = Kind::Number;
    } else if (c == ':' && at(i + 1) == ':') {
      i += 2;
      kind = Kind::Cast;
    } else if (IsOpChar(c)) {
      size_t k = i;
      while (k < n && IsOpChar(s[k])) ++k;
      std::string_view op = s.substr(i, k - i);
      // A comment starting inside ends the operator.
      for (size_t j = 1; j < op.size(); ++j)
        if ((op[j - 1] == '-' && op[j] == '-') || (op[j - 1] == '/' && op[j] == '*')) {
          op = op.substr(0, j - 1);
          break;
        }
      // A trailing + or - is a sign of what follows, unless the operator holds one of these.
      if (op.size() > 1 && op.find_first_of("~!@#^&|`?%") == std::string_view::npos)
        while (op.size() > 1 && (op.back() == '+' || op.back() == '-')) op.remove_suffix(1);
      if (op.empty()) op = s.substr(i, 1);
      i += op.size();
      kind = op.size() == 1 && std::string_view("+-*/%^<>=").find(op[0]) != std::string_view::npos ? Kind::Self
                                                                                                   : Kind::Operator;
    } else if (std::string_view(",()[].;:").find(c) != std::string_view::npos) {
      ++i;
      kind = Kind::Self;
    } else {
      ++i;
      kind = Kind::Other;
    }
    std::string text(s.substr(start, i - start));
    if (kind != Kind::String && kind != Kind::EscapeString && kind != Kind::BitString && kind != Kind::UnicodeString &&
        kind != Kind::DollarString && kind != Kind::QuotedName && kind != Kind::UnicodeName)
      value = text;
    out.push_back(Token{kind, std::move(text), std::move(value)});
  }
  return out;
}

inline bool Significant(const Token& t) { return t.kind != Kind::Space && t.kind != Kind::Comment; }

}  // namespace etapas::test::pg
