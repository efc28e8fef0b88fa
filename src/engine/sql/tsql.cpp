#include "engine/sql/tsql.h"

#include <algorithm>
#include <array>
#include <initializer_list>
#include <utility>

#include "components/text.h"

namespace etapas::engine::sql {
namespace {

constexpr size_t npos = std::string::npos;
using Words = std::initializer_list<std::string_view>;

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

std::string ToUpper(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(), Upper);
  return out;
}

bool IEquals(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return Upper(x) == Upper(y); });
}

template <typename List>
bool OneOf(std::string_view upper, const List& words) {
  return std::find(std::begin(words), std::end(words), upper) != std::end(words);
}
bool OneOf(std::string_view upper, Words words) { return OneOf<Words>(upper, words); }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsHexDigit(char c) { return IsDigit(c) || (Upper(c) >= 'A' && Upper(c) <= 'F'); }
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }
// Bytes of multi-byte UTF-8 sequences count as letters, so names like AÑO stay one word.
bool IsWordStart(char c) {
  return (Upper(c) >= 'A' && Upper(c) <= 'Z') || c == '_' || c == '#' || static_cast<unsigned char>(c) >= 0x80;
}
bool IsWordChar(char c) { return IsWordStart(c) || IsDigit(c) || c == '$'; }

bool IsPlainName(std::string_view s) {
  return !s.empty() && IsWordStart(s[0]) && s.find('#') == npos && std::all_of(s.begin(), s.end(), IsWordChar);
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

bool IsSignificant(const Token& t) { return t.kind != TokenKind::Space && t.kind != TokenKind::Comment; }
bool IsName(const Token& t) { return t.kind == TokenKind::Word || t.kind == TokenKind::QuotedName; }
bool HasLineBreak(const Token& t) { return t.kind == TokenKind::Space && t.text.find_first_of("\r\n") != npos; }
// Upper-cased word, or the symbol itself; other tokens never match a keyword list.
std::string Key(const Token& t) {
  if (t.kind == TokenKind::Word) return ToUpper(t.value);
  return t.kind == TokenKind::Symbol ? t.value : std::string();
}

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

 protected:
  std::vector<Token>& t_;
};

// ---------------------------------------------------------------------------------------
// Statement splitting

constexpr auto kStatementStarts = std::to_array<std::string_view>(
    {"SELECT", "INSERT", "UPDATE", "DELETE", "BEGIN", "COMMIT", "ROLLBACK", "CREATE", "DROP", "ALTER", "TRUNCATE",
     "USE", "SET", "DECLARE", "EXEC", "EXECUTE", "WITH", "MERGE"});
// After these a statement keyword continues the current statement (ON DELETE, FOR INSERT,
// UNION SELECT, INSERT OR REPLACE, AS SELECT, ...).
constexpr auto kContinuations = std::to_array<std::string_view>(
    {"ON",        "FOR", "OF", "AFTER", "BEFORE", "INSTEAD", "DO",       "AS",    "UNION",  "ALL", "EXCEPT",
     "INTERSECT", "(",   ",",  "THEN",  "WITH",   "OR",      "CONFLICT", "GRANT", "REVOKE", "DENY"});
constexpr auto kCteMain = std::to_array<std::string_view>({"SELECT", "INSERT", "UPDATE", "DELETE", "MERGE"});
// What DROP/ALTER must be followed by to start a statement inside ALTER TABLE ... DROP COLUMN.
constexpr auto kObjectTypes = std::to_array<std::string_view>(
    {"TABLE", "VIEW", "INDEX", "PROCEDURE", "PROC", "FUNCTION", "TRIGGER", "DATABASE", "SCHEMA", "USER", "LOGIN",
     "ROLE", "SYNONYM", "TYPE", "SEQUENCE", "STATISTICS", "RULE"});

struct SplitState {
  std::string verb;  // the statement's keyword; WITH until the CTE's main statement
  std::string prev;  // previous significant token (Key)
  int depth = 0;     // parentheses
  int block = 0;     // BEGIN ... END nesting inside a trigger or routine body
  size_t words = 0;
  bool rowSource = false;   // INSERT has reached VALUES / SELECT / EXEC
  bool setSeen = false;     // UPDATE / ALTER has its SET
  bool routine = false;     // CREATE TRIGGER / PROCEDURE / FUNCTION
  bool wholeBatch = false;  // a T-SQL routine body after AS runs to the end of the batch
};

class Splitter : Cursor {
 public:
  explicit Splitter(std::vector<Token>& toks) : Cursor(toks) {}

  bool IsGoLine(size_t i) const {
    if (!Word(i, "GO") || (i > 0 && !HasLineBreak(t_[i - 1]))) return false;
    size_t k = i + 1;
    if (k < Size() && t_[k].kind == TokenKind::Space && !HasLineBreak(t_[k])) ++k;
    return k == Size() || HasLineBreak(t_[k]) || (t_[k].kind == TokenKind::Comment && t_[k].text[0] == '-');
  }

  // WITH name [(columns)] AS ( ... : a common table expression, not a hint or option.
  bool StartsCte(size_t i) const {
    size_t k = Next(i);
    if (Word(k, "RECURSIVE")) k = Next(k);
    if (k >= Size() || !IsName(t_[k])) return false;
    k = Next(k);
    if (Sym(k, "(")) {
      if ((k = Match(k)) == npos) return false;
      k = Next(k);
    }
    return Word(k, "AS") && Sym(Next(k), "(");
  }

  bool StartsStatement(size_t i, const SplitState& st) const {
    if (t_[i].kind != TokenKind::Word || st.depth > 0 || st.block > 0 || st.wholeBatch) return false;
    const std::string u = Key(t_[i]);
    if (!OneOf(u, kStatementStarts) || OneOf(st.prev, kContinuations)) return false;
    if ((u == "SELECT" || u == "EXEC" || u == "EXECUTE") && st.verb == "INSERT" && !st.rowSource) return false;
    if (st.verb == "WITH" && OneOf(u, kCteMain)) return false;
    if (u == "SET" && ((OneOf(st.verb, {"UPDATE", "ALTER"}) && !st.setSeen) || OneOf(st.prev, {"UPDATE", "DELETE"})))
      return false;
    if (u == "UPDATE" && Sym(Next(i), "(")) return false;  // IF UPDATE(column) in a trigger
    if ((u == "DROP" || u == "ALTER") && st.verb == "ALTER" && !OneOf(KeyAt(Next(i)), kObjectTypes)) return false;
    if (u == "BEGIN" && st.routine) return false;
    // Before its body a routine's header names no statement (... FOR EACH ROW EXECUTE FUNCTION f()).
    if ((u == "EXECUTE" || u == "EXEC") && st.routine && st.block == 0) return false;
    if (u == "WITH" && !StartsCte(i)) return false;
    return true;
  }

  void Advance(size_t i, SplitState& st) const {
    const std::string u = Key(t_[i]);
    if (u == "(") ++st.depth;
    if (u == ")" && st.depth > 0) --st.depth;
    if (t_[i].kind == TokenKind::Word) {
      ++st.words;
      if (st.verb.empty()) {
        st.verb = u;
      } else if (st.depth == 0) {
        if (st.verb == "WITH" && OneOf(u, kCteMain)) st.verb = u;
        if (st.verb == "INSERT" && OneOf(u, {"VALUES", "SELECT", "EXEC", "EXECUTE", "DEFAULT"})) st.rowSource = true;
        if (u == "SET") st.setSeen = true;
        if (OneOf(st.verb, {"CREATE", "ALTER"}) && st.words <= 5 &&
            OneOf(u, {"TRIGGER", "PROCEDURE", "PROC", "FUNCTION"}))
          st.routine = true;
        if (st.routine && st.block == 0 && u == "AS") st.wholeBatch = true;
      }
      if (st.routine) {
        if (u == "BEGIN" && !OneOf(KeyAt(Next(i)), {"TRAN", "TRANSACTION", "DISTRIBUTED"}))
          ++st.block;
        else if (u == "CASE" && st.block > 0)
          ++st.block;
        else if (u == "END" && st.block > 0)
          --st.block;
      }
    }
    st.prev = u;
  }
};

// ---------------------------------------------------------------------------------------
// Translation

// What differs between engines; the passes themselves are shared.
struct Dialect {
  Engine engine;
  std::array<std::pair<std::string_view, std::string_view>, 4> functions;  // T-SQL call -> engine's
  std::string_view lastIdentity;                                           // replaces @@IDENTITY
  std::string_view caseInsensitiveCollation, binaryCollation;
};

constexpr Dialect kSQLite{
    Engine::SQLite,
    {{{"GETDATE", "tsql_getdate"}, {"ISNULL", "IFNULL"}, {"LEN", "LENGTH"}, {"SCOPE_IDENTITY", "last_insert_rowid"}}},
    "last_insert_rowid()",
    "TSQLCI",
    "BINARY"};

// GETDATE has no plain counterpart: RewriteFunctions writes the local clock itself.
constexpr Dialect kPostgreSQL{
    Engine::PostgreSQL,
    {{{"GETDATE", ""}, {"ISNULL", "COALESCE"}, {"LEN", "length"}, {"SCOPE_IDENTITY", "lastval"}}},
    "lastval()",
    "tsql_ci",
    "\"C\""};

const Dialect& DialectFor(Engine engine) {
  return engine == Engine::SQLite ? kSQLite : kPostgreSQL;
}

// SQL Server's datetime: the local clock at the statement's start, to the millisecond.
constexpr std::string_view kPgNow = "CAST(statement_timestamp() AS timestamp(3))";
// Case-insensitive matching of patterns needs a deterministic collation that knows the
// letters beyond ASCII; the columns' own collation is not deterministic.
constexpr std::string_view kPgMatchCollation = " COLLATE \"und-x-icu\"";

// Words PostgreSQL reserves that T-SQL leaves free for names: they are quoted.
constexpr auto kPgReserved = std::to_array<std::string_view>(
    {"ANALYSE", "ANALYZE", "ARRAY", "ASYMMETRIC", "BOTH", "CONCURRENTLY", "DEFERRABLE", "FREEZE",
     "ILIKE", "INITIALLY", "LATERAL", "LEADING", "LIMIT", "LOCALTIME", "LOCALTIMESTAMP", "NOTNULL", "ONLY",
     "OVERLAPS", "PLACING", "RETURNING", "SIMILAR", "SYMMETRIC", "TRAILING", "VARIADIC", "VERBOSE", "WINDOW"});

bool HasNonAscii(std::string_view s) {
  return std::any_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

std::string SqlLiteral(std::string_view s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'') out += '\'';
    out += c;
  }
  return out + "'";
}

// A T-SQL LIKE pattern (% _ [set] [^set] [a-z]) as an anchored regular expression.
std::string LikeToRegex(std::string_view p, std::string_view escape) {
  constexpr std::string_view kMeta = ".^$*+?(){}|\\[]";
  std::string re = "^";
  for (size_t i = 0; i < p.size(); ++i) {
    const char c = p[i];
    if (!escape.empty() && p.substr(i, escape.size()) == escape && i + escape.size() < p.size()) {
      i += escape.size();
      if (kMeta.find(p[i]) != npos) re += '\\';
      re += p[i];
      continue;
    }
    if (c == '%') {
      re += ".*";
    } else if (c == '_') {
      re += '.';
    } else if (c == '[' && p.find(']', i + 1) != npos && p.find(']', i + 1) > i + 1) {
      const size_t close = p.find(']', i + 1);
      re += '[';
      for (size_t k = i + 1; k < close; ++k) {
        if (p[k] == '\\' || p[k] == '[') re += '\\';
        re += p[k];
      }
      re += ']';
      i = close;
    } else {
      if (kMeta.find(c) != npos) re += '\\';
      re += c;
    }
  }
  return re + "$";
}

constexpr auto kTableHints = std::to_array<std::string_view>(
    {"NOLOCK", "READUNCOMMITTED", "UPDLOCK", "ROWLOCK", "PAGLOCK", "TABLOCK", "TABLOCKX", "HOLDLOCK", "READPAST",
     "XLOCK", "NOWAIT", "SERIALIZABLE", "READCOMMITTED", "REPEATABLEREAD", "NOEXPAND", "FORCESEEK", "FORCESCAN",
     "SNAPSHOT", "READCOMMITTEDLOCK"});
constexpr auto kTextTypes =
    std::to_array<std::string_view>({"CHAR", "VARCHAR", "NCHAR", "NVARCHAR", "TEXT", "NTEXT", "SYSNAME"});
constexpr auto kTableConstraints =
    std::to_array<std::string_view>({"CONSTRAINT", "PRIMARY", "UNIQUE", "CHECK", "FOREIGN", "INDEX"});

class Translator : Cursor {
 public:
  // The cursor only keeps a reference to toks_, filled in below.
  Translator(std::string_view statement, const TranslateOptions& options)
      : Cursor(toks_),
        dialect_(DialectFor(options.engine)),
        options_(options),
        toks_(Tokenize(statement)),
        after_(toks_.size()),
        otherRef_(toks_.size()) {}

  Translation Run() {
    Translation out;
    std::vector<size_t> sig;
    for (size_t i = 0; i < Size(); ++i)
      if (IsSignificant(t_[i])) sig.push_back(i);
    // A ";" inside parentheses ends nothing in T-SQL: refused here, it cannot become a
    // statement boundary once the translation adds text after it.
    int depth = 0;
    for (size_t i : sig) {
      if (Sym(i, "(")) ++depth;
      else if (Sym(i, ")")) depth = std::max(0, depth - 1);
      else if (depth > 0 && Sym(i, ";")) throw SyntaxError("a \";\" inside parentheses");
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
    RewriteTop();
    if (Pg()) {
      RewriteLike();
      RewriteCastTypes();
      if (!out.otherDatabases.empty()) out.ownTables = NamesOwnTables();
    }
    out.sql = Render();
    // The declared names and types ride along as comments: the engine keeps only the
    // lower-case names and its own types.
    if (!comments_.empty()) {
      // A statement ending in a -- comment would take the ";" into it.
      size_t last = Size();
      while (last > 0 && t_[last - 1].text.empty() && after_[last - 1].empty()) --last;
      const bool lineComment = last > 0 && after_[last - 1].empty() && t_[last - 1].kind == TokenKind::Comment &&
                               t_[last - 1].text[0] == '-';
      // A ";" at the end of a line comment is the comment's own, not the statement's.
      if (lineComment) out.sql += "\n;";
      else if (out.sql.back() != ';') out.sql += ";";
      for (const auto& c : comments_) out.sql += "\n" + c + ";";
    }
    return out;
  }

 private:
  bool IsQuery(const std::vector<size_t>& sig) const {
    if (Word(sig[0], "SELECT")) return true;
    if (!Word(sig[0], "WITH")) return false;
    int depth = 0;
    for (size_t i : sig) {
      depth += Sym(i, "(") ? 1 : Sym(i, ")") ? -1 : 0;
      if (depth == 0 && t_[i].kind == TokenKind::Word && OneOf(Key(t_[i]), kCteMain)) return Word(i, "SELECT");
    }
    return false;
  }

  void Blank(size_t i) {
    t_[i].kind = TokenKind::Space;
    t_[i].text.clear();
    t_[i].value.clear();
  }

  // Removes tokens first..last, leaving one blank between the neighbours where needed.
  void Erase(size_t first, size_t last) {
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

  bool Pg() const { return dialect_.engine == Engine::PostgreSQL; }

  // A delimited name. PostgreSQL folds bare names to lower case and compares quoted ones
  // exactly, so there every name, bare or delimited, is written in lower case.
  std::string Ident(std::string_view name) const {
    return QuoteIdentifier(Pg() ? text::Lower(name) : std::string(name));
  }

  static SyntaxError MalformedName(const std::string& first) {
    return SyntaxError("a name starting " + first.substr(0, 40) + " has an empty part");
  }

  std::string Quoted(const Token& t) const {
    return t.kind == TokenKind::QuotedName ? Ident(t.value) : t.text;
  }

  // Delimited names become "x"; N'x' becomes 'x'; db.dbo.t, db..t and dbo.t lose what the
  // engine cannot resolve (the session's own database, the owner); @admin_T names table T.
  void RewriteNames(std::vector<std::string>& otherDatabases) {
    for (Token& t : t_) {
      if (t.kind == TokenKind::QuotedName || (t.kind == TokenKind::Word && t.text.find('#') != npos))
        t.text = Ident(t.value);
      else if (Pg() && t.kind == TokenKind::Word && (HasNonAscii(t.value) || OneOf(ToUpper(t.value), kPgReserved)))
        t.text = Ident(t.value);  // the engine folds only ASCII letters
      else if (t.kind == TokenKind::String && t.text[0] != '\'')
        t.text.erase(0, 1);
      else if (t.kind == TokenKind::Variable && t.value.size() > 7 && IEquals(t.value.substr(0, 7), "@admin_"))
        t.text = Ident(t.value.substr(7));
      else if (t.kind == TokenKind::Variable && IEquals(t.value, "@@IDENTITY"))
        t.text = dialect_.lastIdentity;
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
      std::string text;
      if (parts.size() >= 2 && IEquals(t_[i].value, "dbo") && parts[1] != npos) {
        keep = 1;
      } else if (parts.size() == 3 && (parts[1] == npos || IEquals(t_[parts[1]].value, "dbo"))) {
        const std::string& db = t_[i].value;
        if (!IEquals(db, options_.ownDatabase)) {
          // PostgreSQL reaches no other database from a statement: the driver runs the
          // statement on that database's own connection.
          if (!Pg()) text = QuoteIdentifier(db) + ".";
          otherRef_[i] = true;
          const auto seen = std::find_if(otherDatabases.begin(), otherDatabases.end(),
                                         [&](const std::string& d) { return IEquals(d, db); });
          if (seen == otherDatabases.end()) otherDatabases.push_back(db);
        }
        keep = 2;
      } else {
        continue;
      }
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
  size_t HintGroupEnd(size_t open) const {
    const size_t close = Match(open);
    if (close == npos || Next(open) == close) return npos;
    for (size_t k = Next(open); k < close; k = Next(k))
      if (!Sym(k, ",") && !(t_[k].kind == TokenKind::Word && OneOf(Key(t_[k]), kTableHints))) return npos;
    return close;
  }

  // Whether `i` follows a table (or its alias) of a FROM / JOIN / UPDATE / INTO clause.
  bool FollowsTable(size_t i) const {
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
  void RemoveTableHints() {
    for (size_t i = 0; i < Size(); ++i) {
      size_t close = npos;
      if (Word(i, "WITH") && Sym(Next(i), "("))
        close = HintGroupEnd(Next(i));
      else if (Sym(i, "(") && FollowsTable(i))
        close = HintGroupEnd(i);
      if (close != npos) Erase(i, close);
    }
  }

  void RewriteFunctions() {
    for (size_t i = 0; i < Size(); ++i) {
      if (Pg() && Word(i, "CURRENT_TIMESTAMP") && !Sym(Next(i), "(")) t_[i].text = kPgNow;
      if (t_[i].kind != TokenKind::Word || !Sym(Next(i), "(") || Sym(Prev(i), ".")) continue;
      if (Pg() && Word(i, "GETDATE") && Sym(Next(Next(i)), ")")) {
        t_[i].text = kPgNow;
        Erase(Next(i), Next(Next(i)));
        continue;
      }
      for (const auto& [from, to] : dialect_.functions)
        if (IEquals(t_[i].value, from)) t_[i].text = to;
    }
  }

  // T-SQL lets FROM be left out of DELETE.
  void RewriteDelete() {
    for (size_t i = 0; i < Size(); ++i) {
      if (!Word(i, "DELETE")) continue;
      const size_t p = Prev(i), n = Next(i);
      if (p != npos && OneOf(Key(t_[p]), {"ON", "AFTER", "BEFORE", "FOR", "OF", "INSTEAD", "GRANT", "REVOKE", "DENY",
                                          ",", "(", "."}))
        continue;
      if (n < Size() && (IsName(t_[n]) || t_[n].kind == TokenKind::Variable) &&
          !OneOf(Key(t_[n]), {"FROM", "TOP", "ON"}))
        t_[i].text += " FROM";
    }
  }

  // CREATE TABLE, ALTER TABLE ... ADD and CREATE INDEX: column types and options the
  // engine lacks. `first` is the CREATE / ALTER token.
  void RewriteDefinitions(size_t first) {
    for (size_t i = first; i < Size(); i = Next(i)) {
      if (Word(i, "CLUSTERED") || Word(i, "NONCLUSTERED")) Erase(i, i);
      if (Word(i, "NOT") && Word(Next(i), "FOR") && Word(Next(Next(i)), "REPLICATION")) Erase(i, Next(Next(i)));
    }
    size_t object = Next(first);
    while (Word(object, "UNIQUE") || Word(object, "TEMP") || Word(object, "TEMPORARY")) object = Next(object);
    const size_t end = Sym(Prev(Size()), ";") ? Prev(Size()) : Size();
    if (Pg() && Word(object, "TABLE")) {
      size_t name = Next(object);
      if (Word(name, "IF")) name = Next(Next(Next(name)));  // IF NOT EXISTS
      if (name < end && (IsName(t_[name]) || t_[name].kind == TokenKind::Variable)) {
        const std::string declared =
            t_[name].kind == TokenKind::Variable ? t_[name].value.substr(std::min<size_t>(7, t_[name].value.size()))
                                                 : t_[name].value;
        table_ = Ident(declared);
        if (Word(first, "CREATE")) comments_.push_back("COMMENT ON TABLE " + table_ + " IS " + SqlLiteral("tsql:" + declared));
      }
    }
    if (Word(first, "CREATE") && Word(object, "TABLE")) {
      size_t open = object;
      while (open < end && !Sym(open, "(") && !Word(open, "AS")) open = Next(open);
      const size_t close = Sym(open, "(") ? Match(open) : npos;
      if (close == npos) return;
      RewriteElements(open, close);
      RemoveStorageOptions(Next(close), end);
    } else if (Word(first, "ALTER") && Word(object, "TABLE")) {
      size_t add = object;
      while (add < end && !Word(add, "ADD")) add = Next(add);
      if (Word(Next(add), "COLUMN")) add = Next(add);
      if (add < end) RewriteElements(add, end);
    } else if (Word(first, "CREATE") && Word(object, "INDEX")) {
      size_t on = object;
      while (on < end && !Word(on, "ON")) on = Next(on);
      size_t open = Next(Next(on));
      if (Sym(open, "(") && (open = Match(open)) != npos) RemoveStorageOptions(Next(open), end);
    }
  }

  // Column definitions and table constraints strictly between `from` and `to`.
  void RewriteElements(size_t from, size_t to) {
    std::vector<std::pair<size_t, size_t>> elements;
    size_t first = npos, last = npos;
    for (size_t k = Next(from); k < to; k = Next(k)) {
      if (Sym(k, ",")) {
        if (first != npos) elements.emplace_back(first, last);
        first = npos;
        continue;
      }
      if (first == npos) first = k;
      if (Sym(k, "(") && (k = Match(k)) == npos) return;
      last = k;
    }
    if (first != npos) elements.emplace_back(first, last);

    if (Pg()) {
      for (auto [a, b] : elements) {
        if (OneOf(Key(t_[a]), kTableConstraints))
          RemoveStorageOptions(a, b + 1);
        else
          RewriteColumnPg(a, b);
      }
      return;
    }
    // An identity column becomes the rowid, so any other primary key turns into UNIQUE.
    bool identity = false;
    for (auto [a, b] : elements)
      for (size_t k = a; k <= b; k = Next(k)) {
        if (Word(k, "IDENTITY")) identity = true;
        if (Sym(k, "(")) k = Match(k);
      }
    for (auto [a, b] : elements) {
      if (OneOf(Key(t_[a]), kTableConstraints)) {
        if (identity) DemotePrimaryKey(a, b);
        RemoveStorageOptions(a, b + 1);
      } else {
        RewriteColumn(a, b, identity);
      }
    }
  }

  void DemotePrimaryKey(size_t first, size_t last) {
    for (size_t k = first; k <= last; k = Next(k))
      if (Word(k, "PRIMARY") && Word(Next(k), "KEY")) {
        t_[k].text = "UNIQUE";
        Erase(k + 1, Next(k));
      }
  }

  void RewriteColumn(size_t first, size_t last, bool tableHasIdentity) {
    const std::string column = t_[first].value;
    const size_t type = Next(first);
    if (type > last || !IsName(t_[type]) || Word(type, "AS")) return;  // a computed column
    size_t typeEnd = type;
    const size_t open = Next(type);
    std::string length;  // the single argument of the type, as written
    TokenKind lengthKind = TokenKind::Space;
    if (open <= last && Sym(open, "(") && Match(open) <= last) {
      typeEnd = Match(open);
      if (Next(Next(open)) == typeEnd) {
        length = t_[Next(open)].text;
        lengthKind = t_[Next(open)].kind;
      }
    }
    size_t identity = npos, primary = npos, collation = npos;
    for (size_t k = Next(typeEnd); k <= last; k = Next(k)) {
      if (Word(k, "IDENTITY")) identity = k;
      if (Word(k, "PRIMARY") && Word(Next(k), "KEY")) primary = k;
      if (Word(k, "COLLATE")) collation = Next(k);
      const size_t call = Next(k);  // the engine wants DEFAULT (f()) where T-SQL has DEFAULT f()
      if (Word(k, "DEFAULT") && call <= last && IsName(t_[call]) && Sym(Next(call), "(")) {
        const size_t close = Match(Next(call));
        if (close == npos || close > last) return;
        t_[call].text.insert(0, "(");
        after_[close] += ")";
        k = close;
      } else if (Sym(k, "(") && (k = Match(k)) == npos) {
        return;
      }
    }

    if (identity != npos) {
      size_t identityEnd = identity;
      if (Sym(Next(identity), "(")) identityEnd = std::min(Match(Next(identity)), last);
      t_[type].text = "INTEGER";
      if (typeEnd != type) Erase(open, typeEnd);
      if (primary != npos) {
        Erase(identity, identityEnd);
        after_[Next(primary)] += " AUTOINCREMENT";
      } else {
        if (identityEnd != identity) Erase(identity + 1, identityEnd);
        t_[identity].text = "PRIMARY KEY AUTOINCREMENT";
      }
      return;
    }
    if (primary != npos && tableHasIdentity) DemotePrimaryKey(primary, primary);

    const Token& typeName = t_[type];
    if (lengthKind == TokenKind::Word) {
      // varchar(max) is no valid type name for the engine; quoted, it keeps the declared text.
      t_[type].text = QuoteIdentifier(typeName.value + "(" + length + ")");
      Erase(open, typeEnd);
      typeEnd = type;
    } else if (typeName.kind == TokenKind::QuotedName && IsPlainName(typeName.value)) {
      t_[type].text = typeName.value;  // [varchar](10): a quoted type would lose its length
    }
    if (!OneOf(ToUpper(typeName.value), kTextTypes)) return;
    const std::string ci(dialect_.caseInsensitiveCollation);
    if (collation == npos) {
      after_[typeEnd] += " COLLATE " + ci;
    } else if (collation <= last) {
      const std::string as = ToUpper(t_[collation].value);
      t_[collation].text = as.find("_CI") != npos || as == "NOCASE" ? ci : std::string(dialect_.binaryCollation);
    }
    if (lengthKind == TokenKind::Number) {
      const std::string quoted = QuoteIdentifier(column);
      after_[last] +=
          " CONSTRAINT " + QuoteIdentifier("tsql_len_" + column) + " CHECK (length(" + quoted + ") <= " + length + ")";
    }
  }

  // A delimited type the engine would read as one of its own names (a table's row type,
  // int4, ...) or, written bare, as more than a type: refused instead.
  static SyntaxError UnknownType(const std::string& name) {
    return SyntaxError("the type [" + name.substr(0, 40) + "] is not known");
  }

  struct PgType {
    std::string name;   // the engine's type
    bool text = false;  // compared as SQL Server compares text
    std::string limit;  // the declared length, checked by a constraint
  };

  // The engine's type for a T-SQL type name (upper case) and its arguments as written.
  // Text is bpchar: its comparisons ignore trailing blanks, as SQL Server's do, and
  // without a length it stores what it is given.
  static PgType Mapped(std::string name, bool text = false, std::string limit = "") {
    return PgType{std::move(name), text, std::move(limit)};
  }

  static PgType MapType(const std::string& base, const std::vector<std::string>& args) {
    const std::string arg = args.empty() ? "" : ToUpper(args[0]);
    const bool max = arg == "MAX";
    const bool number = !arg.empty() && arg.size() <= 4 && std::all_of(arg.begin(), arg.end(), IsDigit);
    auto all = [&] {
      std::string a;
      for (const auto& x : args) a += (a.empty() ? "" : ",") + x;
      return a.empty() ? a : "(" + a + ")";
    };
    if (OneOf(base, {"INT", "INTEGER"})) return Mapped("integer");
    if (OneOf(base, {"SMALLINT", "TINYINT", "BIT"})) return Mapped("smallint");
    if (base == "BIGINT") return Mapped("bigint");
    if (base == "FLOAT") return Mapped(number && std::stoi(arg) <= 24 ? "real" : "double precision");
    if (base == "REAL") return Mapped("real");
    if (base == "MONEY") return Mapped("numeric(19,4)");
    if (base == "SMALLMONEY") return Mapped("numeric(10,4)");
    if (OneOf(base, {"DECIMAL", "NUMERIC", "DEC"})) return Mapped("numeric" + all());
    if (OneOf(base, {"DATETIME", "SMALLDATETIME", "TIMESTAMP"})) return Mapped("timestamp(3)");
    if (base == "DATETIME2") return Mapped("timestamp(" + std::string(number && std::stoi(arg) < 6 ? arg : "6") + ")");
    if (base == "DATETIMEOFFSET") return Mapped("timestamptz");
    if (base == "DATE") return Mapped("date");
    if (base == "TIME") return Mapped("time");
    if (OneOf(base, {"CHAR", "CHARACTER", "NCHAR"})) return Mapped(number ? "bpchar(" + arg + ")" : max ? "bpchar" : "bpchar(1)", true);
    if (OneOf(base, {"VARCHAR", "NVARCHAR"})) return Mapped("bpchar", true, number ? arg : "");
    if (base == "SYSNAME") return Mapped("bpchar", true, "128");
    if (OneOf(base, {"TEXT", "NTEXT"})) return Mapped("bpchar", true);
    if (base == "UNIQUEIDENTIFIER") return Mapped("uuid");
    if (OneOf(base, {"VARBINARY", "BINARY", "IMAGE", "ROWVERSION"})) return Mapped("bytea");
    return Mapped("");
  }

  // A PostgreSQL column definition from first to last (inclusive).
  void RewriteColumnPg(size_t first, size_t last) {
    const std::string column = t_[first].value;
    const size_t type = Next(first);
    if (type > last || !IsName(t_[type]) || Word(type, "AS")) return;  // a computed column
    size_t typeEnd = type;
    const size_t open = Next(type);
    std::vector<std::string> args;
    if (open <= last && Sym(open, "(") && Match(open) <= last) {
      typeEnd = Match(open);
      args.emplace_back();
      for (size_t k = Next(open); k < typeEnd; k = Next(k)) {
        if (Sym(k, ","))
          args.emplace_back();
        else
          args.back() += t_[k].text;
      }
    }
    size_t identity = npos, identityEnd = npos, collation = npos;
    std::vector<std::string> seed;
    for (size_t k = Next(typeEnd); k <= last; k = Next(k)) {
      if (Word(k, "IDENTITY")) {
        identity = identityEnd = k;
        if (Sym(Next(k), "(") && Match(Next(k)) <= last) {
          identityEnd = Match(Next(k));
          seed.emplace_back();
          for (size_t j = Next(Next(k)); j < identityEnd; j = Next(j)) {
            if (Sym(j, ","))
              seed.emplace_back();
            else
              seed.back() += t_[j].text;
          }
          k = identityEnd;
          continue;
        }
      }
      if (Word(k, "COLLATE")) collation = Next(k);
      if (Sym(k, "(") && (k = Match(k)) == npos) return;
    }

    std::string declared = text::Lower(t_[type].value);
    for (size_t a = 0; a < args.size(); ++a) declared += (a ? "," : "(") + args[a] + (a + 1 == args.size() ? ")" : "");
    const PgType mapped = MapType(ToUpper(t_[type].value), args);
    if (!mapped.name.empty()) {
      t_[type].text = mapped.name;
      if (typeEnd != type) Erase(open, typeEnd);
      typeEnd = type;
    } else if (t_[type].kind == TokenKind::QuotedName) {
      throw UnknownType(t_[type].value);
    }
    if (identity != npos) {
      if (identityEnd != identity) Erase(identity + 1, identityEnd);
      t_[identity].text = "GENERATED BY DEFAULT AS IDENTITY";
      if (seed.size() == 2) t_[identity].text += " (START WITH " + seed[0] + " INCREMENT BY " + seed[1] + ")";
    }
    if (mapped.text) {
      if (collation == npos) {
        after_[typeEnd] += " COLLATE " + std::string(dialect_.caseInsensitiveCollation);
      } else if (collation <= last) {
        const std::string as = ToUpper(t_[collation].value);
        t_[collation].text = as.find("_CI") != npos || as == "NOCASE" ? std::string(dialect_.caseInsensitiveCollation)
                                                                      : std::string(dialect_.binaryCollation);
      }
      if (!mapped.limit.empty())
        after_[last] += " CONSTRAINT " + Ident("tsql_len_" + column) + " CHECK (char_length(" + Ident(column) +
                        ") <= " + mapped.limit + ")";
    }
    if (!table_.empty())
      comments_.push_back("COMMENT ON COLUMN " + table_ + "." + Ident(column) + " IS " +
                          SqlLiteral("tsql:" + declared + ":" + column));
  }

  // x [NOT] LIKE 'pattern' becomes a case-insensitive match of a regular expression, which
  // also knows T-SQL's [sets]; a pattern that is not a literal keeps % and _ only.
  void RewriteLike() {
    for (size_t i = 0; i < Size(); ++i) {
      if (!Word(i, "LIKE")) continue;
      const size_t notAt = Word(Prev(i), "NOT") ? Prev(i) : npos;
      const size_t left = Prev(notAt == npos ? i : notAt), pattern = Next(i);
      if (left == npos || pattern >= Size()) continue;
      after_[left] += kPgMatchCollation;
      const size_t escape = Next(pattern);
      const bool escaped = Word(escape, "ESCAPE");
      if (t_[pattern].kind == TokenKind::String &&
          (!escaped || (Next(escape) < Size() && t_[Next(escape)].kind == TokenKind::String))) {
        t_[pattern].text = SqlLiteral(LikeToRegex(t_[pattern].value, escaped ? t_[Next(escape)].value : ""));
        if (escaped) Erase(escape, Next(escape));
        t_[i].text = notAt == npos ? "~*" : "!~*";
        if (notAt != npos) Erase(notAt, notAt);
      } else {
        t_[i].text = "ILIKE";
        // T-SQL has no escape character unless one is named.
        if (!escaped && (IsName(t_[pattern]) || t_[pattern].kind == TokenKind::Variable) && !Sym(escape, "(") &&
            !Sym(escape, ".") && !Sym(escape, "+") && !Sym(escape, "||"))
          after_[pattern] += " ESCAPE ''";
      }
    }
  }

  // CAST(x AS datetime) and the like name the engine's types.
  void RewriteCastTypes() {
    for (size_t i = 0; i < Size(); ++i) {
      if (!Word(i, "CAST") || !Sym(Next(i), "(")) continue;
      const size_t close = Match(Next(i));
      if (close == npos) continue;
      size_t as = npos;
      for (size_t k = Next(Next(i)); k < close; k = Next(k)) {
        if (Sym(k, "(") && (k = Match(k)) == npos) break;
        if (Word(k, "AS")) as = k;
      }
      const size_t type = Next(as);
      if (as == npos || type >= close || !IsName(t_[type])) continue;
      std::vector<std::string> args;
      size_t typeEnd = type;
      if (Sym(Next(type), "(") && Match(Next(type)) < close) {
        typeEnd = Match(Next(type));
        args.emplace_back();
        for (size_t k = Next(Next(type)); k < typeEnd; k = Next(k)) {
          if (Sym(k, ","))
            args.emplace_back();
          else
            args.back() += t_[k].text;
        }
      }
      const std::string base = ToUpper(t_[type].value);
      PgType mapped = MapType(base, args);
      if (mapped.name.empty() && t_[type].kind == TokenKind::QuotedName) throw UnknownType(t_[type].value);
      if (mapped.name.empty()) continue;
      // A cast is not a column: text keeps its length and needs no collation.
      if (OneOf(base, {"VARCHAR", "NVARCHAR"})) mapped.name = mapped.limit.empty() ? "text" : "varchar(" + mapped.limit + ")";
      if (OneOf(base, {"TEXT", "NTEXT"})) mapped.name = "text";
      t_[type].text = mapped.name;
      if (typeEnd != type) Erase(Next(type), typeEnd);
    }
  }

  // Whether a table of the session's own database is named where tables go.
  bool NamesOwnTables() const {
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
  void RemoveStorageOptions(size_t from, size_t to) {
    for (size_t k = from; k < to; k = Next(k)) {
      if (!IsSignificant(t_[k])) continue;
      size_t e = npos;
      if ((Word(k, "WITH") || Word(k, "INCLUDE")) && Sym(Next(k), "(")) {
        e = Match(Next(k));
      } else if ((Word(k, "ON") && Next(k) < to && IsName(t_[Next(k)]) &&
                  !OneOf(Key(t_[Next(k)]), {"DELETE", "UPDATE", "CONFLICT"})) ||
                 Word(k, "TEXTIMAGE_ON") || Word(k, "FILESTREAM_ON")) {
        e = Next(k);
        if (Sym(Next(e), "(")) e = Match(Next(e));
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
  std::pair<size_t, bool> ScanLevel(size_t from, bool forward) const {
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
  void RewriteTop() {
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
      } else if (t_[a].kind == TokenKind::Number || t_[a].kind == TokenKind::Variable) {
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

  std::string Render() const {
    std::string sql;
    // Two quoted pieces side by side would be read as one literal or name with a quote
    // inside ('a''b', "a""b"): what the input wrote as two stays two.
    auto append = [&sql](const std::string& piece) {
      if (!sql.empty() && !piece.empty() && sql.back() == piece.front() && (piece.front() == '\'' || piece.front() == '"'))
        sql += ' ';
      sql += piece;
    };
    for (size_t i = 0; i < Size(); ++i) {
      const Token& t = t_[i];
      if (t.kind == TokenKind::Comment && t.text[0] == '-') {
        append(t.text + "\n");  // the engine ends these comments at LF only, not at a lone CR
      } else if (t.kind == TokenKind::Comment && t.text.find("/*", 2) != npos) {
        sql += ' ';  // T-SQL nests block comments; the engine does not
      } else {
        append(t.text);
      }
      append(after_[i]);
    }
    return std::string(Trim(sql));
  }

  const Dialect& dialect_;
  const TranslateOptions& options_;
  std::vector<Token> toks_;
  std::vector<std::string> after_;  // text inserted after each token
  std::vector<bool> otherRef_;      // tokens naming a table of another database
  std::string table_;               // PostgreSQL: the table being defined, as the engine names it
  std::vector<std::string> comments_;
};

}  // namespace

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

std::vector<std::string> SplitStatements(std::string_view batch) {
  std::vector<Token> toks = Tokenize(batch);
  const Splitter splitter(toks);
  std::vector<std::string> out;
  SplitState state;
  size_t begin = 0, offset = 0;
  bool any = false;  // the current statement has a significant token
  auto finish = [&](size_t end) {
    if (any) out.emplace_back(Trim(batch.substr(begin, end - begin)));
    state = SplitState{};
    any = false;
  };
  for (size_t i = 0; i < toks.size(); offset += toks[i].text.size(), ++i) {
    const Token& t = toks[i];
    if (!IsSignificant(t)) continue;
    if (splitter.IsGoLine(i)) {
      finish(offset);
      // The rest of the GO line (blanks, a -- comment) goes with it.
      while (i + 1 < toks.size() && !HasLineBreak(toks[i + 1])) offset += toks[i++].text.size();
      begin = offset + toks[i].text.size();
      continue;
    }
    if (t.kind == TokenKind::Symbol && t.text == ";" && state.depth == 0 && state.block == 0 && !state.wholeBatch) {
      finish(offset);
      begin = offset + 1;
      continue;
    }
    if (any && splitter.StartsStatement(i, state)) {
      finish(offset);
      begin = offset;
    }
    any = true;
    splitter.Advance(i, state);
  }
  finish(batch.size());
  return out;
}

Translation Translate(std::string_view statement, const TranslateOptions& options) {
  return Translator(statement, options).Run();
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
