#include "engine/sql/lexer.h"

#include <array>

#include "engine/sql/internal.h"
#include "components/sql_text.h"

namespace etapas::engine::sql {

using namespace detail;

// One pass over the text: each kind of token is a case of the same loop.
// NOLINTNEXTLINE(readability-function-cognitive-complexity)
std::vector<Token> Tokenize(std::string_view s) {
  // The engines take a statement as a C string: past a NUL they would run a shorter
  // statement than the one written (a DELETE without its WHERE).
  if (const size_t nul = s.find('\0'); nul != std::string_view::npos)
    throw SyntaxError("a NUL character at offset " + std::to_string(nul));
  std::vector<Token> out;
  const size_t n = s.size();
  auto at = [&](size_t k) { return k < n ? s[k] : '\0'; };
  auto unterminated = [](const char* what, size_t from) {
    return SyntaxError(std::string("unterminated ") + what + " at offset " + std::to_string(from));
  };
  // Reads up to `close`, where a doubled `close` stands for itself; returns the end.
  auto delimited = [&](size_t from, char close, const char* what, std::string& value) {
    for (size_t k = from; k < n; ++k) {
      if (s[k] != close) {
        value += s[k];
      } else if (at(k + 1) == close) {
        value += close;
        ++k;
      } else {
        return k + 1;
      }
    }
    throw unterminated(what, from - 1);
  };

  for (size_t i = 0; i < n;) {
    const size_t start = i;
    const char c = s[i];
    TokenKind kind = TokenKind::Symbol;
    std::string value;
    bool ownValue = false;
    if (IsBlank(c)) {
      while (i < n && IsBlank(s[i])) ++i;
      kind = TokenKind::Space;
    } else if (c == '-' && at(i + 1) == '-') {
      while (i < n && s[i] != '\r' && s[i] != '\n') ++i;
      kind = TokenKind::Comment;
    } else if (c == '/' && at(i + 1) == '*') {
      int depth = 0;  // T-SQL block comments nest
      do {
        if (i + 1 >= n) throw unterminated("comment", start);
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
      kind = TokenKind::Comment;
    } else if (c == '\'' || ((c == 'N' || c == 'n') && at(i + 1) == '\'')) {
      // 'a'N'b' is no literal: without its N the second would read as a doubled quote.
      if (!out.empty() && out.back().kind == TokenKind::String)
        throw SyntaxError("a string right after a string at offset " + std::to_string(start));
      i = delimited(i + (c == '\'' ? 1 : 2), '\'', "string", value);
      kind = TokenKind::String;
      ownValue = true;
    } else if (c == '[' || c == '"') {
      i = delimited(i + 1, c == '[' ? ']' : '"', "name", value);
      kind = TokenKind::QuotedName;
      ownValue = true;
    } else if (c == '@' && (IsWordChar(at(i + 1)) || (at(i + 1) == '@' && IsWordChar(at(i + 2))))) {
      i += at(i + 1) == '@' ? 2 : 1;
      while (i < n && IsWordChar(s[i])) ++i;
      kind = TokenKind::Variable;
    } else if (IsDigit(c) || (c == '.' && IsDigit(at(i + 1)) &&
                              !(i > 0 && (IsWordChar(s[i - 1]) || s[i - 1] == ']' || s[i - 1] == '"')))) {
      if (c == '0' && Upper(at(i + 1)) == 'X') {
        for (i += 2; i < n && IsHexDigit(s[i]);) ++i;
      } else {
        while (i < n && IsDigit(s[i])) ++i;
        if (at(i) == '.')
          for (++i; i < n && IsDigit(s[i]);) ++i;
        if (Upper(at(i)) == 'E' &&
            (IsDigit(at(i + 1)) || ((at(i + 1) == '+' || at(i + 1) == '-') && IsDigit(at(i + 2)))))
          for (i += 2; i < n && IsDigit(s[i]);) ++i;
      }
      kind = TokenKind::Number;
    } else if (IsWordStart(c)) {
      while (i < n && IsWordChar(s[i])) ++i;
      kind = TokenKind::Word;
    } else {
      constexpr std::array<std::string_view, 6> kPairs = {"<>", "<=", ">=", "!=", "||", "::"};
      const bool pair = i + 1 < n && std::find(kPairs.begin(), kPairs.end(), s.substr(i, 2)) != kPairs.end();
      i += pair ? 2 : 1;
    }
    std::string text(s.substr(start, i - start));
    if (!ownValue) value = text;
    out.push_back(Token{kind, std::move(text), std::move(value)});
  }
  return out;
}

std::string QuoteLiteral(std::string_view text) { return sqltext::Literal(text); }

std::string FirstWord(std::string_view statement) {
  try {
    for (const auto& t : Tokenize(statement))
      if (t.kind != TokenKind::Space && t.kind != TokenKind::Comment) { return text::Upper(t.value); }
  } catch (const SyntaxError&) {}
  return "";
}

std::string QuoteIdentifier(std::string_view name) {
  std::string out = "\"";
  for (char c : name) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

}  // namespace etapas::engine::sql
