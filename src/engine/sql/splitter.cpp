#include "engine/sql/splitter.h"

#include <array>

#include "engine/sql/internal.h"

namespace etapas::engine::sql {
namespace {

using namespace detail;

constexpr auto kStatementStarts = std::to_array<std::string_view>(
    {"SELECT", "INSERT", "UPDATE", "DELETE", "BEGIN", "COMMIT", "ROLLBACK", "CREATE", "DROP", "ALTER", "TRUNCATE",
     "USE", "SET", "DECLARE", "EXEC", "EXECUTE", "WITH", "MERGE"});
// After these a statement keyword continues the current statement (ON DELETE, FOR INSERT,
// UNION SELECT, INSERT OR REPLACE, AS SELECT, ...).
constexpr auto kContinuations = std::to_array<std::string_view>(
    {"ON",        "FOR", "OF", "AFTER", "BEFORE", "INSTEAD", "DO",       "AS",    "UNION",  "ALL", "EXCEPT",
     "INTERSECT", "(",   ",",  "THEN",  "WITH",   "OR",      "CONFLICT", "GRANT", "REVOKE", "DENY"});
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
        if ((u == "BEGIN" && !OneOf(KeyAt(Next(i)), {"TRAN", "TRANSACTION", "DISTRIBUTED"})) ||
            (u == "CASE" && st.block > 0))
          ++st.block;
        else if (u == "END" && st.block > 0)
          --st.block;
      }
    }
    st.prev = u;
  }
};

}  // namespace

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

}  // namespace etapas::engine::sql
