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
      trancount_(toks_.size()) {}

Translation Translator::Run() {
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
  // Ahead of RewriteTop: a LIMIT written after a literal must stay after its collation.
  CollateLiterals(w0);
  RewriteTop();
  DialectPasses();
  if (!out.otherDatabases.empty()) out.ownTables = NamesOwnTables();
  Emit(out);
  return out;
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
    RewriteElements(ElementsOf(open, close));
    RemoveStorageOptions(Next(close), end);
  } else if (Word(first, "ALTER") && Word(object, "TABLE")) {
    size_t add = object;
    while (add < end && !Word(add, "ADD")) add = Next(add);
    if (add >= end) return;
    const bool column = Word(Next(add), "COLUMN");
    const std::vector<Element> elements = ElementsOf(column ? Next(add) : add, end);
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
      for (size_t k = from; k <= to; ++k) limit += t_[k].text;
      // The count has no place in the moved text.
      if (std::find(trancount_.begin() + a, trancount_.begin() + b, true) != trancount_.begin() + b) continue;
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
  auto append = [&](const std::string& piece) {
    if (piece.empty()) return;
    if ((afterCount && !SeparatesNumber(piece.front())) ||
        (!afterCount && !sql.empty() && sql.back() == piece.front() && (piece.front() == '\'' || piece.front() == '"')))
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
