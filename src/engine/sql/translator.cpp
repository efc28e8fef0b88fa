#include "engine/sql/translator.h"

#include <utility>

#include "components/text.h"
#include "engine/sql/internal.h"

namespace etapas::engine::sql {
namespace detail {
namespace {

constexpr auto kTableHints = std::to_array<std::string_view>(
    {"NOLOCK", "READUNCOMMITTED", "UPDLOCK", "ROWLOCK", "PAGLOCK", "TABLOCK", "TABLOCKX", "HOLDLOCK", "READPAST",
     "XLOCK", "NOWAIT", "SERIALIZABLE", "READCOMMITTED", "REPEATABLEREAD", "NOEXPAND", "FORCESEEK", "FORCESCAN",
     "SNAPSHOT", "READCOMMITTEDLOCK"});

SyntaxError MalformedName(const std::string& first) {
  return SyntaxError("a name starting " + first.substr(0, 40) + " has an empty part");
}

// Whether a number written next to `c` stays a token of its own, and the text around it
// stays as it was without the number (1- -1 would be a comment with nothing between).
bool SeparatesNumber(char c) { return IsBlank(c) || c == '(' || c == ')' || c == ','; }

// Characters the engines join into one operator when nothing is between them: PostgreSQL
// reads |- or *~ as one operator, the embedded engine -> or == ; T-SQL reads them apart.
bool IsOperatorChar(char c) { return std::string_view("+-*/<>=~!@#%^&|`?").find(c) != std::string_view::npos; }

// SQL Server's numbers for the refusals that are not syntax errors (session.h has them too).
constexpr long kUndeclaredVariable = 137;
constexpr long kNotSupported = 40000;

// Symbols of no use in T-SQL that an engine reads as something: parameters ($1, ?, :name, a
// lone @), PostgreSQL's dollar quotes and :: casts, the embedded engine's `names`.
constexpr auto kForeignSymbols = std::to_array<std::string_view>({"$", "?", ":", "::", "`", "@"});

// Words before a select list's column, or inside it, that do not end its expression.
constexpr auto kListWords =
    std::to_array<std::string_view>({"SELECT", "DISTINCT", "ALL", "TOP", "AS", "COLLATE", "WITH", "OVER", "END"});

SyntaxError Near(const std::string& text, const std::string& why) {
  return SyntaxError(why + " near " + text.substr(0, 40), text.substr(0, 40));
}

}  // namespace

Translator::Translator(const Dialect& dialect, std::string_view statement, const TranslateOptions& options)
    // The cursor only keeps a reference to toks_, filled in below.
    : Cursor(toks_),
      dialect_(dialect),
      options_(options),
      toks_(Tokenize(statement)),
      before_(toks_.size()),
      after_(toks_.size()),
      otherRef_(toks_.size()),
      trancount_(toks_.size()),
      alias_(toks_.size()) {}

Translation Translator::Run() {
  RefuseForeignForms();
  Translation out;
  std::vector<size_t> sig;
  for (size_t i = 0; i < Size(); ++i)
    if (IsSignificant(t_[i])) sig.push_back(i);
  // A ";" inside parentheses ends nothing in T-SQL: refused here, it cannot become a
  // statement boundary once the translation adds text after it.
  int depth = 0;
  for (size_t i : sig) {
    if (Sym(i, "("))
      ++depth;
    else if (Sym(i, ")"))
      depth = std::max(0, depth - 1);
    else if (depth > 0 && Sym(i, ";"))
      throw SyntaxError("a \";\" inside parentheses");
  }
  if (!sig.empty() && Sym(sig.back(), ";")) sig.pop_back();
  if (sig.empty()) return out;

  auto word = [&](size_t k) { return k < sig.size() && t_[sig[k]].kind == TokenKind::Word ? Key(t_[sig[k]]) : ""; };
  auto name = [&](size_t k) {
    if (k >= sig.size() || !IsName(t_[sig[k]])) throw SyntaxError("a database name is expected");
    return t_[sig[k]].value;
  };
  const std::string w0 = word(0), w1 = word(1);
  if (w0 == "BEGIN") {
    const size_t k = w1 == "DISTRIBUTED" ? 2 : 1;
    if (k >= sig.size() || OneOf(word(k), {"TRAN", "TRANSACTION"})) {
      out.kind = StatementKind::Begin;
      out.sql = "BEGIN TRANSACTION";
      return out;
    }
  }
  if ((w0 == "COMMIT" || w0 == "ROLLBACK") && (sig.size() == 1 || OneOf(w1, {"TRAN", "TRANSACTION", "WORK"}))) {
    out.kind = w0 == "COMMIT" ? StatementKind::Commit : StatementKind::Rollback;
    out.sql = w0 + " TRANSACTION";
    return out;
  }
  if (w0 == "USE" || (OneOf(w0, {"CREATE", "DROP"}) && w1 == "DATABASE")) {
    if (w0 == "USE") {
      out.kind = StatementKind::Use;
      out.databaseName = name(1);
    } else {
      const bool ifExists = w0 == "DROP" && word(2) == "IF" && word(3) == "EXISTS";
      out.kind = w0 == "CREATE" ? StatementKind::CreateDatabase : StatementKind::DropDatabase;
      out.databaseName = name(ifExists ? 4 : 2);
    }
    return out;
  }
  // Session options (NOCOUNT, ANSI_NULLS, isolation level, ...) have no counterpart.
  if (w0 == "SET" && sig.size() > 1 && t_[sig[1]].kind == TokenKind::Word) return out;

  out.kind = IsQuery(sig) ? StatementKind::Query : StatementKind::Other;
  RewriteNames(out.otherDatabases);
  RemoveTableHints();
  RewriteFunctions();
  RewriteDelete();
  if (w0 == "CREATE" || w0 == "ALTER") RewriteDefinitions(sig.front());
  CheckCastTypes();
  // Ahead of RewriteTop: a LIMIT written after a literal must stay after its collation.
  CollateLiterals(w0);
  for (size_t i = 0; i < Size(); ++i)
    if (alias_[i] && t_[i].kind == TokenKind::String) NameColumn(i);
  RewriteOperators();
  DialectPasses();
  // Last: a TOP (expression) is moved as translated.
  RewriteTop();
  if (!out.otherDatabases.empty()) out.ownTables = NamesOwnTables();
  Emit(out);
  return out;
}

bool Translator::IsOperand(size_t k) const {
  if (k >= Size()) return false;
  const Token& t = t_[k];
  if (t.kind == TokenKind::Word) return !OneOf(Key(t), kNotOperands);
  return t.kind == TokenKind::Number || t.kind == TokenKind::String || t.kind == TokenKind::Variable ||
         t.kind == TokenKind::QuotedName;
}
bool Translator::IsAdditive(size_t k) const {
  return Sym(k, "+") || Sym(k, "-") || Sym(k, "&") || Sym(k, "|") || Sym(k, "^");
}
bool Translator::IsMultiplicative(size_t k) const { return Sym(k, "*") || Sym(k, "/") || Sym(k, "%"); }
bool Translator::IsSign(size_t k) const { return Sym(k, "+") || Sym(k, "-") || Sym(k, "~"); }

// The CASE opening the CASE ... END whose END is at `end`, or npos.
size_t Translator::CaseOf(size_t end) const {
  int depth = 0;
  for (size_t k = end; k != npos; k = Prev(k)) {
    if (Word(k, "END")) ++depth;
    if (Word(k, "CASE") && --depth == 0) return k;
  }
  return npos;
}
// The END closing the CASE at `start`, or npos.
size_t Translator::EndOf(size_t start) const {
  int depth = 0;
  for (size_t k = start; k < Size(); k = Next(k)) {
    if (Word(k, "CASE")) ++depth;
    if (Word(k, "END") && --depth == 0) return k;
  }
  return npos;
}

// The first token of the primary (literal, name, call, group, CASE ... END) that ends at
// `end`, or npos when no operand ends there.
size_t Translator::PrimaryStart(size_t end) const {
  if (end == npos || end >= Size() || IsTopCount(end)) return npos;
  size_t start;
  if (Sym(end, ")")) {
    if ((start = MatchBack(end)) == npos) return npos;
    const size_t p = Prev(start);
    if (Word(p, "OVER")) return PrimaryStart(Prev(p));          // f() OVER (...)
    if (p != npos && IsName(t_[p]) && IsOperand(p)) start = p;  // a call
  } else if (Word(end, "END")) {
    if ((start = CaseOf(end)) == npos) return npos;
  } else if (IsOperand(end)) {
    start = end;
  } else {
    return npos;
  }
  while (Sym(Prev(start), ".") && Prev(Prev(start)) != npos && IsName(t_[Prev(Prev(start))])) start = Prev(Prev(start));
  // x COLLATE name is one operand.
  if (Word(Prev(start), "COLLATE")) {
    const size_t collated = PrimaryStart(Prev(Prev(start)));
    if (collated != npos) start = collated;
  }
  return start;
}

// The last token of the primary that starts at `start`, or npos.
size_t Translator::PrimaryEnd(size_t start) const {
  size_t end;
  if (Sym(start, "(")) {
    end = Match(start);
  } else if (Word(start, "CASE")) {
    end = EndOf(start);
  } else if (IsOperand(start)) {
    end = start;
    while (Sym(Next(end), ".") && Next(Next(end)) < Size() && IsName(t_[Next(Next(end))])) end = Next(Next(end));
    if (IsName(t_[end]) && Sym(Next(end), "(")) {
      end = Match(Next(end));
      if (end != npos && Word(Next(end), "OVER") && Sym(Next(Next(end)), "(")) end = Match(Next(Next(end)));
    }
  } else {
    return npos;
  }
  if (end != npos && Word(Next(end), "COLLATE") && Next(Next(end)) < Size() && IsName(t_[Next(Next(end))]))
    end = Next(Next(end));
  return end;
}

// The first token of the left operand of the binary operator at `op`, or npos when the
// operator is a sign: back over terms joined by operators of that level or tighter.
size_t Translator::LeftStart(size_t op) const {
  size_t start = PrimaryStart(Prev(op));
  if (start == npos) return npos;
  for (;;) {
    const size_t p = Prev(start);
    if (p == npos || !(IsAdditive(p) || IsMultiplicative(p) || Sym(p, "~"))) return start;
    const size_t left = Sym(p, "~") ? npos : PrimaryStart(Prev(p));
    start = left != npos ? left : p;  // binary, or the sign of what follows it
  }
}

// The last token of the right operand of the binary operator at `op`, or npos: one term
// of signs, primaries and * / %.
size_t Translator::RightEnd(size_t op) const {
  for (size_t k = Next(op);;) {
    while (IsSign(k)) k = Next(k);
    const size_t end = PrimaryEnd(k);
    if (end == npos) return npos;
    if (!IsMultiplicative(Next(end))) return end;
    k = Next(Next(end));
  }
}

// Whether token `k` ends the count of a TOP clause (SELECT TOP 5, TOP (5), TOP 5 PERCENT,
// ... WITH TIES; DELETE TOP (5)): what follows starts the select list or the statement.
bool Translator::IsTopCount(size_t k) const {
  if (Word(k, "PERCENT")) return IsTopCount(Prev(k));
  if (Word(k, "TIES") && Word(Prev(k), "WITH")) return IsTopCount(Prev(Prev(k)));
  size_t top = npos;
  if (Sym(k, ")")) {
    const size_t open = MatchBack(k);
    if (open != npos) top = Prev(open);
  } else if (k < Size() && (t_[k].kind == TokenKind::Number || t_[k].kind == TokenKind::Variable)) {
    top = Prev(k);
  }
  if (!Word(top, "TOP")) return false;
  size_t p = Prev(top);
  if (Word(p, "DISTINCT") || Word(p, "ALL")) p = Prev(p);
  return Word(p, "SELECT") || Word(p, "INSERT") || Word(p, "UPDATE") || Word(p, "DELETE");
}

// Whether token `k` ends an operand: a literal, a name, a group or call, CASE ... END; not
// the count of a TOP.
bool Translator::EndsOperand(size_t k) const {
  if (k >= Size() || IsTopCount(k)) return false;
  if (Word(k, "END")) return CaseOf(k) != npos;
  if (Sym(k, ")")) return true;
  // Words of the engines' own that T-SQL leaves free for names.
  if (OneOf(Key(t_[k]), {"LIMIT", "GLOB", "MATCH", "REGEXP"})) return true;
  return IsOperand(k);
}

// Whether token `k` stands in a select list, at the level of its columns (not inside a
// call, a group or a CASE).
bool Translator::InSelectList(size_t k) const {
  for (size_t p = Prev(k); p != npos; p = Prev(p)) {
    if (Sym(p, ")")) {
      if ((p = MatchBack(p)) == npos) return false;
      continue;
    }
    if (Word(p, "END") && CaseOf(p) != npos) {
      p = CaseOf(p);
      continue;
    }
    if (Sym(p, "(") || Sym(p, ";")) return false;
    if (t_[p].kind != TokenKind::Word) continue;
    const std::string key = Key(t_[p]);
    if (key == "SELECT") return true;
    if (OneOf(key, kNotOperands) && !OneOf(key, kListWords)) return false;
  }
  return false;
}

// Forms T-SQL does not have, or reads otherwise, that an engine would run with a meaning of
// its own: refused before anything is translated, on every engine, as SQL Server refuses
// them. Strings that name a column of a select list are marked for the dialects.
void Translator::RefuseForeignForms() {
  size_t first = 0;
  while (first < Size() && !IsSignificant(t_[first])) ++first;
  // SET options translate to nothing: nothing of them reaches an engine.
  const bool option = Word(first, "SET") && Next(first) < Size() && t_[Next(first)].kind == TokenKind::Word;
  // CREATE FUNCTION ... AS 'body': an engine's own routine (a trigger's function), whose body
  // is the engine's business.
  bool routine = false;
  if (Word(first, "CREATE") || Word(first, "ALTER"))
    for (size_t k = Next(first), n = 0; k < Size() && n < 4; k = Next(k), ++n)
      routine |= Word(k, "FUNCTION") || Word(k, "PROCEDURE") || Word(k, "PROC");
  auto quoteAt = [&](size_t k, bool names) {
    return k < Size() && !t_[k].text.empty() &&
           ((t_[k].kind == TokenKind::String && t_[k].text[0] == '\'') ||
            (names && t_[k].kind == TokenKind::QuotedName && t_[k].text[0] == '"'));
  };
  for (size_t i = 0; i < Size(); ++i) {
    const Token& t = t_[i];
    const std::string key = Key(t);
    if (t.kind == TokenKind::Word) {
      // T-SQL: the name E (B, X), then a string. PostgreSQL: one string with backslash
      // escapes (E'\'' OR 1=1 --' is no string ending before the OR), a bit string; the
      // embedded engine: a blob.
      if ((key == "E" || key == "B" || key == "X") && quoteAt(i + 1, false))
        throw Near(t.text + t_[i + 1].text, "a string prefixed by " + t.text);
      // T-SQL: U & a string or a name. PostgreSQL: one string or name with Unicode escapes.
      if (key == "U" && Sym(i + 1, "&") && quoteAt(i + 2, true)) throw Near("&", "U& before a string or a name");
    } else if (t.kind == TokenKind::Symbol && OneOf(key, kForeignSymbols)) {
      throw Near(t.text, "the symbol " + t.text);
    } else if (t.kind == TokenKind::Variable) {
      const std::string u = ToUpper(t.value);
      if (u == "@@IDENTITY" || u == "@@TRANCOUNT" || (u.size() > 7 && u.compare(0, 7, "@ADMIN_") == 0)) continue;
      // Nothing declares or binds them: the embedded engine would read a parameter never
      // given (Null), PostgreSQL the operator @ (the absolute value of a column).
      if (u.compare(0, 2, "@@") == 0 || Word(first, "DECLARE"))
        throw SyntaxError("The server cannot do this: " + t.value + " (variables are not kept)", "", kNotSupported);
      throw SyntaxError("Must declare the scalar variable \"" + t.value + "\"", "", kUndeclaredVariable);
    } else if (Sym(i, "~") && EndsOperand(Prev(i))) {
      // T-SQL's ~ takes one operand; PostgreSQL's, between two, matches a regular expression.
      throw Near("~", "~ between two operands");
    } else if (t.kind == TokenKind::String && !option) {
      // After an expression a string is the name of a column of a select list (SELECT a 'x',
      // SELECT a AS 'x'), and a syntax error anywhere else. PostgreSQL would read a name and
      // a string as a value of the type so named (date '2020-01-01'), and two strings with a
      // line break between as one.
      const size_t p = Prev(i);
      const bool zone = Word(p, "ZONE") && Word(Prev(p), "TIME") && Word(Prev(Prev(p)), "AT");  // AT TIME ZONE 'x'
      const bool wait = (Word(p, "DELAY") || Word(p, "TIME")) && Word(Prev(p), "WAITFOR");
      if (zone || wait || (routine && Word(p, "AS")) || !(Word(p, "AS") || EndsOperand(p))) continue;
      if (!InSelectList(i)) throw Near(t.text, "a string after an expression");
      alias_[i] = true;
    }
  }
}

// The arguments of a type at `open`: one or two unsigned integers, or MAX.
void Translator::CheckTypeArguments(size_t open) const {
  const size_t close = Match(open);
  if (close == npos) return;  // left for the engine to refuse
  size_t count = 0;
  for (size_t k = Next(open);; k = Next(k)) {
    const Token& t = t_[k];
    const bool number =
        t.kind == TokenKind::Number && std::all_of(t.text.begin(), t.text.end(), IsDigit) && !trancount_[k];
    if (k == close || !(number || Word(k, "MAX"))) throw Near(t.text, "the argument of a type");
    ++count;
    k = Next(k);
    if (k == close && count <= 2) return;
    if (!Sym(k, ",")) throw Near(t_[k].text, "the arguments of a type");
  }
}

// A column definition's type and its arguments, as written.
void Translator::CheckColumnType(const Element& e) const {
  if (IsConstraint(e)) return;
  const size_t type = Next(e.first);
  if (type > e.last || !IsName(t_[type]) || Word(type, "AS")) return;  // a computed column
  if (Sym(Next(type), "(") && Next(type) <= e.last) CheckTypeArguments(Next(type));
  // IDENTITY(seed, increment): two integers, each maybe signed.
  for (size_t k = Next(type); k <= e.last && k < Size(); k = Next(k)) {
    if (!Word(k, "IDENTITY") || !Sym(Next(k), "(")) continue;
    const size_t open = Next(k), close = Match(open);
    if (close == npos) return;
    size_t count = 0;
    for (size_t j = Next(open);; j = Next(j)) {
      if (Sym(j, "-") || Sym(j, "+")) j = Next(j);
      const Token& t = t_[j];
      if (j >= close || t.kind != TokenKind::Number || trancount_[j] ||
          !std::all_of(t.text.begin(), t.text.end(), IsDigit))
        throw Near(t.text, "the seed or increment of IDENTITY");
      ++count;
      j = Next(j);
      if (j == close && count == 2) return;
      if (!Sym(j, ",") || count == 2) throw Near(t_[j].text, "the seed and increment of IDENTITY");
    }
  }
}

// CAST(x AS type(...)), CONVERT(type(...), x) and their TRY_ forms.
void Translator::CheckCastTypes() const {
  for (size_t i = 0; i < Size(); ++i) {
    if (t_[i].kind != TokenKind::Word || !Sym(Next(i), "(")) continue;
    const std::string f = Key(t_[i]);
    size_t type = npos;
    if (f == "CAST" || f == "TRY_CAST") {
      const size_t close = Match(Next(i));
      if (close == npos) continue;
      for (size_t k = Next(Next(i)); k < close; k = Next(k)) {
        if (Sym(k, "(") && (k = Match(k)) == npos) break;
        if (Word(k, "AS")) type = Next(k);
      }
    } else if (f == "CONVERT" || f == "TRY_CONVERT") {
      type = Next(Next(i));
    }
    if (type < Size() && IsName(t_[type]) && Sym(Next(type), "(")) CheckTypeArguments(Next(type));
  }
}

// SQL Server's + - & ^ | are one level, left to right, below * / % and above the
// comparisons, and ~ binds tightest. The engines put & | (and PostgreSQL's #) below + and -,
// and PostgreSQL's ~ takes all of a sum after it: each dialect is handed the operators with
// their operands as SQL Server groups them.
void Translator::RewriteOperators() {
  for (size_t i = 0; i < Size(); ++i) {
    if (Sym(i, "~")) {
      size_t k = Next(i);
      while (IsSign(k)) k = Next(k);
      const size_t end = PrimaryEnd(k);
      if (end != npos) BitwiseNot(i, end);
      continue;
    }
    if (!(Sym(i, "+") || Sym(i, "&") || Sym(i, "|") || Sym(i, "^"))) continue;
    const size_t left = LeftStart(i), right = RightEnd(i);
    if (left != npos && right != npos)
      BinaryOperator(i, left, right);
    else if (Sym(i, "^"))  // no engine reads ^ as SQL Server does: it cannot be left as written
      throw Near("^", "an operand of ^ is missing");
  }
}

void Translator::Emit(Translation& out) {
  Rendered r = Render(0, Size());
  out.sql = std::move(r.sql);
  out.trancountAt = std::move(r.trancountAt);
}

bool Translator::IsQuery(const std::vector<size_t>& sig) const {
  if (Word(sig[0], "SELECT")) return true;
  if (!Word(sig[0], "WITH")) return false;
  int depth = 0;
  for (size_t i : sig) {
    depth += Sym(i, "(") ? 1 : Sym(i, ")") ? -1 : 0;
    if (depth == 0 && t_[i].kind == TokenKind::Word && OneOf(Key(t_[i]), kCteMain)) return Word(i, "SELECT");
  }
  return false;
}

void Translator::Blank(size_t i) {
  t_[i].kind = TokenKind::Space;
  t_[i].text.clear();
  t_[i].value.clear();
}

// Removes tokens first..last, leaving one blank between the neighbours where needed.
void Translator::Erase(size_t first, size_t last) {
  for (size_t k = first; k <= last; ++k) Blank(k);
  size_t l = first, r = last + 1;
  while (l > 0 && t_[l - 1].text.empty() && after_[l - 1].empty()) --l;
  while (r < Size() && t_[r].text.empty()) ++r;
  const bool lSpace = l > 0 && t_[l - 1].kind == TokenKind::Space;
  const bool rSpace = r < Size() && t_[r].kind == TokenKind::Space;
  if (lSpace && (r == Size() || rSpace || Sym(r, ",") || Sym(r, ")") || Sym(r, ";")))
    Blank(l - 1);
  else if (l == 0 && rSpace)
    Blank(r);
  else if (l > 0 && r < Size() && !lSpace && !rSpace && t_[l - 1].kind != TokenKind::Symbol &&
           t_[r].kind != TokenKind::Symbol)
    t_[first].text = " ";
}

std::string Translator::Quoted(const Token& t) const {
  return t.kind == TokenKind::QuotedName ? Ident(t.value) : t.text;
}

// Delimited names become "x"; N'x' becomes 'x'; db.dbo.t, db..t and dbo.t lose what the
// engine cannot resolve (the database, the owner); @admin_T names table T.
void Translator::RewriteNames(std::vector<std::string>& otherDatabases) {
  for (size_t i = 0; i < Size(); ++i) {
    Token& t = t_[i];
    if (t.kind == TokenKind::QuotedName || (t.kind == TokenKind::Word && (t.text.find('#') != npos || QuotesWord(t))))
      t.text = Ident(t.value);
    else if (t.kind == TokenKind::String && t.text[0] != '\'')
      t.text.erase(0, 1);
    else if (t.kind == TokenKind::Variable && t.value.size() > 7 && IEquals(t.value.substr(0, 7), "@admin_"))
      t.text = Ident(t.value.substr(7));
    else if (t.kind == TokenKind::Variable && IEquals(t.value, "@@IDENTITY"))
      t.text = dialect_.lastIdentity;
    else if (t.kind == TokenKind::Variable && IEquals(t.value, "@@TRANCOUNT"))
      trancount_[i] = true;
  }
  for (size_t i = 0; i < Size(); ++i) {
    if (!IsName(t_[i]) || (i > 0 && Sym(i - 1, "."))) continue;
    std::vector<size_t> parts{i};  // npos for an omitted part (db..t)
    size_t end = i;
    for (size_t j = i + 1; Sym(j, ".");) {
      if (j + 1 < Size() && IsName(t_[j + 1])) {
        parts.push_back(j + 1);
        end = j + 1;
        j += 2;
      } else if (Sym(j + 1, ".")) {
        parts.push_back(npos);
        ++j;
      } else {
        // Only t.* may end in a dot; a.  a..  dbo.a.  name nothing.
        const size_t after = Next(j);
        if (parts.back() == npos || !(Sym(after, "*") || (after < Size() && IsName(t_[after]))))
          throw MalformedName(t_[i].value);
        break;
      }
    }
    // db..t is the one omitted part the engine's names can do without.
    for (size_t k = 1; k < parts.size(); ++k)
      if (parts[k] == npos && !(k == 1 && parts.size() == 3)) throw MalformedName(t_[i].value);
    size_t keep = 0;  // first part that survives
    if (parts.size() >= 2 && IEquals(t_[i].value, "dbo") && parts[1] != npos) {
      keep = 1;
    } else if (parts.size() == 3 && (parts[1] == npos || IEquals(t_[parts[1]].value, "dbo"))) {
      const std::string& db = t_[i].value;
      if (!IEquals(db, options_.ownDatabase)) {
        // A statement reaches no other database: the session runs it on that database's own.
        otherRef_[i] = true;
        const auto seen = std::find_if(otherDatabases.begin(), otherDatabases.end(),
                                       [&](const std::string& d) { return IEquals(d, db); });
        if (seen == otherDatabases.end()) otherDatabases.push_back(db);
      }
      keep = 2;
    } else {
      continue;
    }
    std::string text;
    for (size_t k = keep; k < parts.size(); ++k) {
      const Token& part = t_[parts[k]];
      text += (k > keep ? "." : "") + (k == keep ? Ident(part.value) : Quoted(part));
    }
    Token merged{TokenKind::QuotedName, text, t_[parts.back()].value};
    for (size_t k = i; k <= end; ++k) Blank(k);
    t_[i] = std::move(merged);
  }
}

// The ")" of a group at `open` holding only table hints, or npos.
size_t Translator::HintGroupEnd(size_t open) const {
  const size_t close = Match(open);
  if (close == npos || Next(open) == close) return npos;
  for (size_t k = Next(open); k < close; k = Next(k))
    if (!Sym(k, ",") && !(t_[k].kind == TokenKind::Word && OneOf(Key(t_[k]), kTableHints))) return npos;
  return close;
}

// Whether `i` follows a table (or its alias) of a FROM / JOIN / UPDATE / INTO clause.
bool Translator::FollowsTable(size_t i) const {
  if (Prev(i) == npos || !IsName(t_[Prev(i)])) return false;
  int depth = 0;
  for (size_t p = Prev(i); p != npos; p = Prev(p)) {
    const std::string key = Key(t_[p]);
    if (key == ")") ++depth;
    if (key == "(" && depth-- == 0) return false;
    if (depth == 0 && OneOf(key, {"SELECT", "WHERE", "SET", "ON", "VALUES", "BY", "HAVING"})) return false;
    if (depth == 0 && OneOf(key, {"FROM", "JOIN", "UPDATE", "INTO"})) return true;
  }
  return false;
}

// WITH (NOLOCK, ...) and the older t (NOLOCK): locking is the engine's business.
void Translator::RemoveTableHints() {
  for (size_t i = 0; i < Size(); ++i) {
    size_t close = npos;
    if (Word(i, "WITH") && Sym(Next(i), "("))
      close = HintGroupEnd(Next(i));
    else if (Sym(i, "(") && FollowsTable(i))
      close = HintGroupEnd(i);
    if (close != npos) Erase(i, close);
  }
}

void Translator::RewriteFunctions() {
  for (size_t i = 0; i < Size(); ++i) {
    if (!dialect_.now.empty() && Word(i, "CURRENT_TIMESTAMP") && !Sym(Next(i), "(")) t_[i].text = dialect_.now;
    if (t_[i].kind != TokenKind::Word || !Sym(Next(i), "(") || Sym(Prev(i), ".")) continue;
    if (!dialect_.now.empty() && Word(i, "GETDATE") && Sym(Next(Next(i)), ")")) {
      t_[i].text = dialect_.now;
      Erase(Next(i), Next(Next(i)));
      continue;
    }
    for (const auto& [from, to] : dialect_.functions)
      if (IEquals(t_[i].value, from) && !to.empty()) t_[i].text = to;
  }
}

// T-SQL lets FROM be left out of DELETE.
void Translator::RewriteDelete() {
  for (size_t i = 0; i < Size(); ++i) {
    if (!Word(i, "DELETE")) continue;
    const size_t p = Prev(i), n = Next(i);
    if (p != npos &&
        OneOf(Key(t_[p]), {"ON", "AFTER", "BEFORE", "FOR", "OF", "INSTEAD", "GRANT", "REVOKE", "DENY", ",", "(", "."}))
      continue;
    if (n < Size() && (IsName(t_[n]) || t_[n].kind == TokenKind::Variable) && !OneOf(Key(t_[n]), {"FROM", "TOP", "ON"}))
      t_[i].text += " FROM";
  }
}

// CREATE TABLE, ALTER TABLE ... ADD and CREATE INDEX: column types and options the
// engine lacks. `first` is the CREATE / ALTER token.
void Translator::RewriteDefinitions(size_t first) {
  for (size_t i = first; i < Size(); i = Next(i)) {
    if (Word(i, "CLUSTERED") || Word(i, "NONCLUSTERED")) Erase(i, i);
    if (Word(i, "NOT") && Word(Next(i), "FOR") && Word(Next(Next(i)), "REPLICATION")) Erase(i, Next(Next(i)));
  }
  size_t object = Next(first);
  while (Word(object, "UNIQUE") || Word(object, "TEMP") || Word(object, "TEMPORARY")) object = Next(object);
  const size_t end = Sym(Prev(Size()), ";") ? Prev(Size()) : Size();
  if (Word(object, "TABLE")) {
    size_t name = Next(object);
    if (Word(name, "IF")) name = Next(Next(Next(name)));  // IF NOT EXISTS
    if (name < end && (IsName(t_[name]) || t_[name].kind == TokenKind::Variable))
      NamesTable(name, Word(first, "CREATE"));
  }
  if (Word(first, "CREATE") && Word(object, "TABLE")) {
    size_t open = object;
    while (open < end && !Sym(open, "(") && !Word(open, "AS")) open = Next(open);
    const size_t close = Sym(open, "(") ? Match(open) : npos;
    if (close == npos) return;
    const std::vector<Element> elements = ElementsOf(open, close);
    for (const Element& e : elements) CheckColumnType(e);
    RewriteElements(elements);
    RemoveStorageOptions(Next(close), end);
  } else if (Word(first, "ALTER") && Word(object, "TABLE")) {
    size_t add = object;
    while (add < end && !Word(add, "ADD")) add = Next(add);
    if (add >= end) return;
    const bool column = Word(Next(add), "COLUMN");
    const std::vector<Element> elements = ElementsOf(column ? Next(add) : add, end);
    for (const Element& e : elements) CheckColumnType(e);
    RewriteElements(elements);
    addAt_ = add;
    addColumn_ = column;
    added_ = elements;
  } else if (Word(first, "CREATE") && Word(object, "INDEX")) {
    size_t on = object;
    while (on < end && !Word(on, "ON")) on = Next(on);
    size_t open = Next(Next(on));
    if (Sym(open, "(") && (open = Match(open)) != npos) RemoveStorageOptions(Next(open), end);
  }
}

// Column definitions and table constraints strictly between `from` and `to`; none when a
// parenthesis is left open.
std::vector<Element> Translator::ElementsOf(size_t from, size_t to) const {
  std::vector<Element> elements;
  size_t first = npos, last = npos;
  for (size_t k = Next(from); k < to; k = Next(k)) {
    if (Sym(k, ",")) {
      if (first != npos) elements.push_back({first, last});
      first = npos;
      continue;
    }
    if (first == npos) first = k;
    if (Sym(k, "(") && (k = Match(k)) == npos) return {};
    last = k;
  }
  if (first != npos) elements.push_back({first, last});
  return elements;
}

// Whether a table of the session's own database is named where tables go.
bool Translator::NamesOwnTables() const {
  for (size_t i = 0; i < Size(); ++i) {
    const bool name = IsName(t_[i]) || (t_[i].kind == TokenKind::Variable && t_[i].text.front() == '"');
    if (!name || otherRef_[i] || OneOf(Key(t_[i]), {"FROM", "TOP", "SELECT", "VALUES", "DEFAULT", "OUTPUT", "SET"}))
      continue;
    const size_t p = Prev(i);
    if (p == npos || Sym(Next(i), ".")) continue;
    const std::string k = Key(t_[p]);
    if (OneOf(k, {"FROM", "JOIN", "INTO", "UPDATE", "DELETE"})) return true;
    if (k == ",") {
      // One more table of a FROM list?
      int depth = 0;
      for (size_t q = Prev(p); q != npos; q = Prev(q)) {
        const std::string kq = Key(t_[q]);
        if (kq == ")") ++depth;
        if (kq == "(" && depth-- == 0) break;
        if (depth > 0) continue;
        if (OneOf(kq, {"SELECT", "WHERE", "SET", "ON", "VALUES", "BY", "HAVING"})) break;
        if (OneOf(kq, {"FROM", "JOIN"})) return true;
      }
    }
  }
  return false;
}

// Storage clauses from `from` up to (not including) `to`: WITH (...), ON filegroup,
// TEXTIMAGE_ON filegroup, INCLUDE (...).
void Translator::RemoveStorageOptions(size_t from, size_t to) {
  for (size_t k = from; k < to; k = Next(k)) {
    if (!IsSignificant(t_[k])) continue;
    size_t e = npos;
    if ((Word(k, "WITH") || Word(k, "INCLUDE")) && Sym(Next(k), "(")) {
      e = Match(Next(k));
    } else if ((Word(k, "ON") && Next(k) < to && IsName(t_[Next(k)]) &&
                !OneOf(Key(t_[Next(k)]), {"DELETE", "UPDATE", "CONFLICT"})) ||
               Word(k, "TEXTIMAGE_ON") || Word(k, "FILESTREAM_ON")) {
      e = Next(k);
      if (Sym(Next(e), "(")) {
        // A partition scheme takes one column; anything else there is no storage clause,
        // and is left for the engine to refuse rather than dropped with what it holds.
        const size_t open = Next(e), column = Next(open), close = Match(open);
        if (close == npos || column >= close || !IsName(t_[column]) || Next(column) != close) continue;
        e = close;
      }
    } else if (Sym(k, "(")) {
      if ((k = Match(k)) == npos) return;
      continue;
    } else {
      continue;
    }
    if (e == npos || e >= to) return;
    Erase(k, e);
    k = e;
  }
}

// Scans from `from` at its depth up to the parenthesis or ";" ending that level (Size() or
// npos at the ends); tells also whether it crossed UNION, EXCEPT or INTERSECT.
std::pair<size_t, bool> Translator::ScanLevel(size_t from, bool forward) const {
  bool compound = false;
  int depth = 0;
  for (size_t k = forward ? Next(from) : Prev(from); k < Size(); k = forward ? Next(k) : Prev(k)) {
    depth += Sym(k, forward ? "(" : ")") ? 1 : Sym(k, forward ? ")" : "(") ? -1 : 0;
    if (depth < 0 || (depth == 0 && Sym(k, ";"))) return {k, compound};
    if (depth == 0 && OneOf(Key(t_[k]), {"UNION", "EXCEPT", "INTERSECT"})) compound = true;
  }
  return {forward ? Size() : npos, compound};
}

// SELECT [DISTINCT] TOP n / TOP (n) becomes LIMIT n at the end of that SELECT.
void Translator::RewriteTop() {
  for (size_t i = 0; i < Size(); ++i) {
    if (!Word(i, "TOP")) continue;
    size_t p = Prev(i);
    if (Word(p, "DISTINCT") || Word(p, "ALL")) p = Prev(p);
    const size_t a = Next(i);
    if (!Word(p, "SELECT") || a >= Size()) continue;
    size_t b = a;
    std::string limit;
    if (Sym(a, "(")) {
      if ((b = Match(a)) == npos) continue;
      const size_t from = Next(a) == Prev(b) ? Next(a) : a, to = from == a ? b : from;  // (n) -> n
      // The count has no place in the moved text.
      if (std::find(trancount_.begin() + a, trancount_.begin() + b, true) != trancount_.begin() + b) continue;
      limit = Render(from, to + 1).sql;
    } else if (t_[a].kind == TokenKind::Number || (t_[a].kind == TokenKind::Variable && !trancount_[a])) {
      limit = t_[a].text;
    } else {
      continue;
    }
    if (Word(Next(b), "PERCENT") || (Word(Next(b), "WITH") && Word(Next(Next(b)), "TIES"))) continue;
    // In a UNION member a LIMIT would bound the whole result: left for the engine to reject.
    const auto [end, compoundAfter] = ScanLevel(b, true);
    if (compoundAfter || ScanLevel(p, false).second) continue;
    Erase(i, b);
    for (size_t k = a; k <= b; ++k) before_[k].clear(), after_[k].clear();  // they went with it
    after_[Prev(end)] += " LIMIT " + limit;
  }
}

// Whether the string literal at `k` is by itself an operand of the comparison next to it,
// not part of an arithmetic or concatenation.
bool Translator::IsWholeOperand(size_t k) const {
  static constexpr auto kBinding =
      std::to_array<std::string_view>({"+", "-", "*", "/", "%", "||", "&", "|", "^", "~", ".", "::", "COLLATE"});
  return !OneOf(KeyAt(Prev(k)), kBinding) && !OneOf(KeyAt(Next(k)), kBinding);
}

// Columns compare text as their collation says; a literal compared with anything else
// would be compared by the engine byte for byte.
void Translator::CollateLiterals(const std::string& firstWord) {
  // Assignments, not comparisons: SET @x = 'a', DECLARE @x ... = 'a', EXEC p @a = 'a'.
  if (OneOf(firstWord, {"SET", "DECLARE", "EXEC", "EXECUTE"})) return;
  static constexpr auto kComparisons = std::to_array<std::string_view>({"=", "<>", "!=", "<", ">", "<=", ">="});
  auto isColumn = [&](size_t k) {
    return k < Size() && IsName(t_[k]) &&
           !OneOf(Key(t_[k]), {"NULL", "CASE", "END", "NOT", "EXISTS", "ANY", "ALL", "SOME"});
  };
  for (size_t op = 0; op < Size(); ++op) {
    if (t_[op].kind != TokenKind::Symbol || !OneOf(t_[op].value, kComparisons)) continue;
    const size_t left = Prev(op), right = Next(op);
    if (left == npos || right >= Size()) continue;
    // SELECT @x = 'a', UPDATE t SET @x = 'a', EXEC p @a = 'a', f(@a = ...): assignments.
    if (Sym(op, "=") && t_[left].kind == TokenKind::Variable) {
      const size_t before = Prev(left);
      if (before == npos || OneOf(KeyAt(before), {"SELECT", "SET", ",", "("}) || isColumn(before)) continue;
    }
    // The other operand's first token: a call or a group for a ")" on the left, the CASE of an END.
    size_t leftHead = left;
    if (Sym(left, ")") && (leftHead = MatchBack(left)) != npos && Prev(leftHead) != npos && IsName(t_[Prev(leftHead)]))
      leftHead = Prev(leftHead);
    const bool leftColumn = isColumn(left), rightColumn = isColumn(right) && !Sym(Next(right), "(");
    if (t_[right].kind == TokenKind::String && IsWholeOperand(right) && !leftColumn && leftHead != npos &&
        t_[left].kind != TokenKind::Number)
      CollateLiteral(right, leftHead);
    if (t_[left].kind == TokenKind::String && IsWholeOperand(left) && !rightColumn &&
        t_[right].kind != TokenKind::Number && !(OneOf(KeyAt(right), {"-", "+"}) && KeyAt(Next(right)).empty()))
      CollateLiteral(left, right);
  }
}

Translator::Rendered Translator::Render(size_t from, size_t to) const {
  Rendered out;
  std::string& sql = out.sql;
  bool afterCount = false;  // the last thing written is the place of a count
  // Two quoted pieces side by side would be read as one literal or name with a quote
  // inside ('a''b', "a""b"): what the input wrote as two stays two.
  // Nor may two words become one, two operators one operator, or a word and a string, or
  // U& and a quoted piece, one literal (E'x', X'x', U&"x").
  auto append = [&](const std::string& piece) {
    if (piece.empty()) return;
    const char last = sql.empty() ? ' ' : sql.back(), next = piece.front();
    const bool quote = next == '\'' || next == '"';
    if ((afterCount && !SeparatesNumber(next)) ||
        (!afterCount && ((last == next && quote) || (IsWordChar(last) && (IsWordChar(next) || next == '\'')) ||
                         (last == '&' && quote) || (IsOperatorChar(last) && IsOperatorChar(next)))))
      sql += ' ';
    afterCount = false;
    sql += piece;
  };
  for (size_t i = from; i < to && i < Size(); ++i) {
    const Token& t = t_[i];
    append(before_[i]);
    if (trancount_[i] && t.kind == TokenKind::Variable) {
      // The number written here must stay a token of its own.
      if (afterCount || (!sql.empty() && !SeparatesNumber(sql.back()))) sql += ' ';
      out.trancountAt.push_back(sql.size());
      afterCount = true;
    } else if (t.kind == TokenKind::Comment && t.text[0] == '-') {
      append(t.text + "\n");  // the engine ends these comments at LF only, not at a lone CR
    } else if (t.kind == TokenKind::Comment && t.text.find("/*", 2) != npos) {
      append(" ");  // T-SQL nests block comments; the engine does not
    } else {
      append(t.text);
    }
    append(after_[i]);
  }
  // Trimmed, but never past the place of a count.
  size_t lead = 0, end = sql.size();
  while (lead < end && IsBlank(sql[lead])) ++lead;
  while (end > lead && IsBlank(sql[end - 1])) --end;
  if (!out.trancountAt.empty()) {
    lead = std::min(lead, out.trancountAt.front());
    end = std::max(end, out.trancountAt.back());
  }
  for (size_t& at : out.trancountAt) at -= lead;
  sql = sql.substr(lead, end - lead);
  return out;
}

}  // namespace detail

Translation Translate(std::string_view statement, const TranslateOptions& options) {
  return options.engine == Engine::PostgreSQL ? detail::TranslateForPostgreSQL(statement, options)
                                              : detail::TranslateForSQLite(statement, options);
}

std::string QuoteName(Engine engine, std::string_view name) {
  return QuoteIdentifier(engine == Engine::PostgreSQL ? text::Lower(name) : std::string(name));
}

}  // namespace etapas::engine::sql
