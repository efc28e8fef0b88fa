#pragma once
// T-SQL text as tokens. Strings and delimited names are single tokens, so no rewriting rule
// can reach inside them.
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace etapas::engine::sql {

enum class TokenKind {
  Word,        // keyword or bare identifier: SELECT, V_TA_ETAPAS, getDate
  QuotedName,  // [NUMERO ASIENTO] or "x"; value holds the name without delimiters
  String,      // 'it''s' or N'x'; value holds the content with doubled quotes undone
  Number,      // 12, 3.5, 1e3, 0x1F
  Variable,    // @name, @@name (also the @admin_ table marker)
  Symbol,      // ( ) , . ; = <> <= >= != + - * / % etc.
  Space,       // blanks, tabs, CR, LF
  Comment,     // -- to end of line, /* ... */
};

struct Token {
  TokenKind kind;
  std::string text;   // exactly as written
  std::string value;  // see TokenKind
};

struct SyntaxError : std::runtime_error {
  using std::runtime_error::runtime_error;
  // A refusal near a piece of the text, reported as SQL Server does ("Incorrect syntax near
  // 'x'."), or with a number of its own (137 for a variable never declared).
  SyntaxError(const std::string& what, std::string nearText, long nativeError = 102)
      : std::runtime_error(what), near(std::move(nearText)), native(nativeError) {}
  std::string near;   // empty: the description is the text of what()
  long native = 102;  // SQL Server's number for the refusal
};

// Throws SyntaxError on an unterminated string, bracket or comment.
std::vector<Token> Tokenize(std::string_view text);

// Quotes a name as an identifier of the engine ("x", with embedded quotes doubled).
std::string QuoteIdentifier(std::string_view name);

// Quotes a text as a string literal ('x', with embedded quotes doubled).
std::string QuoteLiteral(std::string_view text);

// The statement's first keyword, upper-cased, after any comments; "" when there is none
// or the text cannot be tokenized.
std::string FirstWord(std::string_view statement);

}  // namespace etapas::engine::sql
