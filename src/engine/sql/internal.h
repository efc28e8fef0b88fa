#pragma once
// What the lexer, the splitter and the translators of each dialect share; nothing outside
// src/engine/sql includes it.
#include <algorithm>
#include <array>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "components/text.h"
#include "engine/sql/lexer.h"
#include "engine/sql/translator.h"

namespace etapas::engine::sql::detail {

inline constexpr size_t npos = std::string::npos;
using Words = std::initializer_list<std::string_view>;

inline char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

inline std::string ToUpper(std::string_view s) { return text::Upper(s); }
inline bool IEquals(std::string_view a, std::string_view b) { return text::EqualsNoCase(a, b); }

template <typename List>
bool OneOf(std::string_view upper, const List& words) {
  return std::find(std::begin(words), std::end(words), upper) != std::end(words);
}
inline bool OneOf(std::string_view upper, Words words) { return OneOf<Words>(upper, words); }

inline bool IsDigit(char c) { return c >= '0' && c <= '9'; }
inline bool IsHexDigit(char c) { return IsDigit(c) || (Upper(c) >= 'A' && Upper(c) <= 'F'); }
inline bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }
// Bytes of multi-byte UTF-8 sequences count as letters, so names like AÑO stay one word.
inline bool IsWordStart(char c) {
  return (Upper(c) >= 'A' && Upper(c) <= 'Z') || c == '_' || c == '#' || static_cast<unsigned char>(c) >= 0x80;
}
inline bool IsWordChar(char c) { return IsWordStart(c) || IsDigit(c) || c == '$'; }

inline bool IsPlainName(std::string_view s) {
  return !s.empty() && IsWordStart(s[0]) && s.find('#') == npos && std::all_of(s.begin(), s.end(), IsWordChar);
}

inline std::string_view Trim(std::string_view s) { return text::Trim(s, text::kWhiteSpace); }

inline bool IsSignificant(const Token& t) { return t.kind != TokenKind::Space && t.kind != TokenKind::Comment; }
inline bool IsName(const Token& t) { return t.kind == TokenKind::Word || t.kind == TokenKind::QuotedName; }
inline bool HasLineBreak(const Token& t) { return t.kind == TokenKind::Space && t.text.find_first_of("\r\n") != npos; }
// Upper-cased word, or the symbol itself; other tokens never match a keyword list.
inline std::string Key(const Token& t) {
  if (t.kind == TokenKind::Word) return ToUpper(t.value);
  return t.kind == TokenKind::Symbol ? t.value : std::string();
}

// The main statement of a common table expression.
inline constexpr auto kCteMain = std::to_array<std::string_view>({"SELECT", "INSERT", "UPDATE", "DELETE", "MERGE"});

// Words an operand never ends with: a "+" after them is a sign, and they bound the
// operands of the "+" next to them.
inline constexpr auto kNotOperands = std::to_array<std::string_view>(
    {"SELECT", "WHERE",  "AND",     "OR",        "NOT",     "THEN",     "ELSE",    "WHEN",      "CASE",
     "END",    "AS",     "FROM",    "SET",       "ON",      "BETWEEN",  "IN",      "LIKE",      "IS",
     "RETURN", "HAVING", "BY",      "VALUES",    "TOP",     "DISTINCT", "ALL",     "ANY",       "SOME",
     "ESCAPE", "EXISTS", "DEFAULT", "PRINT",     "JOIN",    "UNION",    "EXCEPT",  "INTERSECT", "INTO",
     "WITH",   "IF",     "WHILE",   "EXEC",      "EXECUTE", "ASC",      "DESC",    "ORDER",     "GROUP",
     "UPDATE", "DELETE", "INSERT",  "DECLARE",   "BEGIN",   "CHECK",    "COLLATE", "OUTPUT",    "LIMIT",
     "OFFSET", "USING",  "OVER",    "PARTITION", "GLOB",    "MATCH",    "REGEXP"});

// Navigation over a token vector, skipping blanks and comments.
class Cursor {
 public:
  explicit Cursor(std::vector<Token>& toks) : t_(toks) {}

  size_t Size() const { return t_.size(); }
  size_t Next(size_t i) const {
    if (i >= t_.size()) return t_.size();
    for (++i; i < t_.size(); ++i)
      if (IsSignificant(t_[i])) return i;
    return t_.size();
  }
  size_t Prev(size_t i) const {
    if (i > t_.size()) return npos;
    while (i-- > 0)
      if (IsSignificant(t_[i])) return i;
    return npos;
  }
  bool Word(size_t i, std::string_view w) const {
    return i < t_.size() && t_[i].kind == TokenKind::Word && IEquals(t_[i].value, w);
  }
  bool Sym(size_t i, std::string_view s) const {
    return i < t_.size() && t_[i].kind == TokenKind::Symbol && t_[i].value == s;
  }
  std::string KeyAt(size_t i) const { return i < t_.size() ? Key(t_[i]) : std::string(); }
  // The ")" closing the "(" at `open`, or npos when unbalanced.
  size_t Match(size_t open) const {
    int depth = 0;
    for (size_t i = open; i < t_.size(); ++i) {
      if (Sym(i, "(")) ++depth;
      if (Sym(i, ")") && --depth == 0) return i;
    }
    return npos;
  }
  // The "(" opened by the ")" at `close`, or npos when unbalanced.
  size_t MatchBack(size_t close) const {
    int depth = 0;
    for (size_t i = close; i != npos; i = Prev(i)) {
      if (Sym(i, ")")) ++depth;
      if (Sym(i, "(") && --depth == 0) return i;
    }
    return npos;
  }

 protected:
  std::vector<Token>& t_;
};

// What differs between engines in the shared passes.
struct Dialect {
  Engine engine;
  std::array<std::pair<std::string_view, std::string_view>, 9> functions;  // T-SQL call -> engine's
  std::string_view lastIdentity;                                           // replaces @@IDENTITY
  std::string_view now;  // replaces CURRENT_TIMESTAMP and GETDATE() when not empty
  std::string_view caseInsensitiveCollation, binaryCollation;
};

// A column definition or table constraint of CREATE TABLE / ALTER TABLE ... ADD.
struct Element {
  size_t first, last;  // significant tokens, inclusive
};

inline constexpr auto kTableConstraints =
    std::to_array<std::string_view>({"CONSTRAINT", "PRIMARY", "UNIQUE", "CHECK", "FOREIGN", "INDEX"});

// The passes every engine needs; each dialect adds its own through the hooks.
class Translator : protected Cursor {
 public:
  Translator(const Dialect& dialect, std::string_view statement, const TranslateOptions& options);
  virtual ~Translator() = default;
  Translation Run();

 protected:
  struct Rendered {
    std::string sql;
    std::vector<size_t> trancountAt;
  };

  // A bare word the engine would not read as the name written.
  virtual bool QuotesWord(const Token&) const { return false; }
  // The table that CREATE TABLE (created) or ALTER TABLE names, at token `name`.
  virtual void NamesTable(size_t /*name*/, bool /*created*/) {}
  virtual void RewriteElements(const std::vector<Element>& elements) = 0;
  // A string literal compared with something that is not a column, whose first token is
  // `other`: it is given SQL Server's comparison of text (case and trailing blanks ignored).
  virtual void CollateLiteral(size_t /*literal*/, size_t /*other*/) {}
  // Passes of the dialect alone, after the shared ones.
  virtual void DialectPasses() {}
  // Writes the translated tokens into `out`.
  virtual void Emit(Translation& out);

  // A binary + & ^ | of T-SQL, with the first token of its left operand and the last of its
  // right as SQL Server groups them; handed over left to right, so that each operator wraps
  // the ones before it (a - b & c + d: first & of a - b and c, then + of that and d).
  virtual void BinaryOperator(size_t /*op*/, size_t /*left*/, size_t /*right*/) {}
  // A ~ and the last token of the one operand it applies to.
  virtual void BitwiseNot(size_t /*op*/, size_t /*end*/) {}
  // A string literal that names a column of a select list (SELECT a 'x').
  virtual void NameColumn(size_t /*literal*/) {}

  // ---- Operands, by SQL Server's precedence: ~; * / %; + - & ^ |; then the comparisons.
  bool IsOperand(size_t k) const;
  bool IsAdditive(size_t k) const;
  bool IsMultiplicative(size_t k) const;
  bool IsSign(size_t k) const;
  size_t CaseOf(size_t end) const;
  size_t EndOf(size_t start) const;
  size_t PrimaryStart(size_t end) const;
  size_t PrimaryEnd(size_t start) const;
  size_t LeftStart(size_t op) const;
  size_t RightEnd(size_t op) const;

  bool Pg() const { return dialect_.engine == Engine::PostgreSQL; }
  bool IsConstraint(const Element& e) const { return OneOf(Key(t_[e.first]), kTableConstraints); }
  void Blank(size_t i);
  void Erase(size_t first, size_t last);
  std::string Ident(std::string_view name) const { return QuoteName(dialect_.engine, name); }
  // Text from token `from` up to (not including) `to`, trimmed, and where @@TRANCOUNT stood in it.
  Rendered Render(size_t from, size_t to) const;
  void RemoveStorageOptions(size_t from, size_t to);

  const Dialect& dialect_;
  const TranslateOptions& options_;
  std::vector<Token> toks_;
  std::vector<std::string> before_, after_;  // text inserted before / after each token
  std::vector<bool> otherRef_;               // tokens naming a table of another database
  std::vector<bool> trancount_;              // @@TRANCOUNT tokens, rendered as nothing
  // ALTER TABLE ... ADD: the ADD token, whether COLUMN followed it, and what it adds.
  size_t addAt_ = npos;
  bool addColumn_ = false;
  std::vector<Element> added_;

 private:
  void RefuseForeignForms();
  bool IsTopCount(size_t k) const;
  bool EndsOperand(size_t k) const;
  bool InSelectList(size_t k) const;
  void CheckTypeArguments(size_t open) const;
  void CheckColumnType(const Element& e) const;
  void CheckCastTypes() const;
  void RewriteOperators();
  bool IsQuery(const std::vector<size_t>& sig) const;
  std::string Quoted(const Token& t) const;
  void RewriteNames(std::vector<std::string>& otherDatabases);
  size_t HintGroupEnd(size_t open) const;
  bool FollowsTable(size_t i) const;
  void RemoveTableHints();
  void RewriteFunctions();
  void RewriteDelete();
  void RewriteDefinitions(size_t first);
  std::vector<Element> ElementsOf(size_t from, size_t to) const;
  bool NamesOwnTables() const;
  std::pair<size_t, bool> ScanLevel(size_t from, bool forward) const;
  void RewriteTop();
  void CollateLiterals(const std::string& firstWord);
  bool IsWholeOperand(size_t literal) const;

  std::vector<bool> alias_;  // string literals naming a column of a select list
};

Translation TranslateForSQLite(std::string_view statement, const TranslateOptions& options);
Translation TranslateForPostgreSQL(std::string_view statement, const TranslateOptions& options);

}  // namespace etapas::engine::sql::detail
