// The tokenizer, the splitter and the translator for both engines on arbitrary text.
// Besides not crashing:
//  - the splitter neither invents nor loses text: the statements' tokens, in order, are the
//    batch's, less the ";" and GO separators;
//  - a translation is text the engine can tokenize, holds no more statements than its input,
//    and its string literals are exactly the input's (less LIKE patterns on PostgreSQL,
//    which become regular expressions, strings naming columns, which become names there,
//    and arguments of types the engine spells otherwise);
//  - the translation is read as the engine reads it: PostgreSQL's by a lexer of its own
//    (pg_tokens.h: E'' B'' X'' U&'' $$ literals, strings joined across lines, nested
//    comments, operators of several characters), which must find no literal, parameter,
//    cast or operator T-SQL does not write, and no ^ (a power there); the embedded engine's
//    holds no parameter (@x, :x, $x, ?), no X'' blob and no two operators side by side;
//  - each further statement is one statement, PostgreSQL's declaration comments of their shape;
//  - the places of @@TRANCOUNT are in the text, increasing, and a number written at each
//    is a token of its own that changes nothing around it.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "engine/sql/tsql.h"
#include "pg_tokens.h"

using namespace etapas::engine::sql;

namespace {

std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

bool Significant(const Token& t) { return t.kind != TokenKind::Space && t.kind != TokenKind::Comment; }

std::vector<Token> Significants(const std::vector<Token>& all) {
  std::vector<Token> out;
  for (const auto& t : all)
    if (Significant(t)) out.push_back(t);
  return out;
}

// A LIKE pattern the PostgreSQL translation made a regular expression: its literal follows
// "~*" (one operator to PostgreSQL's lexer), maybe behind the type it is cast to or an
// empty ESCAPE of a malformed LIKE.
bool MadeRegex(const std::vector<Token>& c, size_t i) {
  size_t j = i;
  while (j > 0 && (Upper(c[j - 1].text) == "CAST" || c[j - 1].text == "(" || Upper(c[j - 1].text) == "ESCAPE" ||
                   (c[j - 1].kind == TokenKind::String && c[j - 1].value.empty())))
    --j;
  return (j > 0 && (c[j - 1].text == "~*" || c[j - 1].text == "!~*")) ||
         (j > 1 && c[j - 2].text == "~" && c[j - 1].text == "*");
}

[[noreturn]] void Fail(const char* what, const std::string& in, const std::string& out) {
  std::fprintf(stderr, "%s\ninput:  %s\noutput: %s\n", what, in.c_str(), out.c_str());
  std::abort();
}

// Words after which a ~ starts an operand; after anything else that ends one, PostgreSQL
// reads a ~ between two operands as a match of a regular expression. (END ends a block too:
// the translator refuses a ~ after the END of a CASE.)
bool OperandFollows(const std::string& upper) {
  static const char* const kWords[] = {
      "SELECT", "WHERE",  "AND",      "OR",        "NOT",       "THEN",    "ELSE",   "WHEN",   "CASE",    "AS",
      "FROM",   "SET",    "ON",       "BETWEEN",   "IN",        "LIKE",    "IS",     "RETURN", "HAVING",  "BY",
      "VALUES", "TOP",    "DISTINCT", "ALL",       "ANY",       "SOME",    "ESCAPE", "EXISTS", "DEFAULT", "PRINT",
      "JOIN",   "UNION",  "EXCEPT",   "INTERSECT", "INTO",      "WITH",    "IF",     "WHILE",  "EXEC",    "EXECUTE",
      "ORDER",  "GROUP",  "UPDATE",   "DELETE",    "INSERT",    "DECLARE", "BEGIN",  "CHECK",  "COLLATE", "OUTPUT",
      "LIMIT",  "OFFSET", "USING",    "OVER",      "PARTITION", "ASC",     "DESC",   "ADD",    "COLUMN",  "END",
      "ILIKE",  "GLOB",   "MATCH",    "REGEXP"};
  for (const char* w : kWords)
    if (upper == w) return true;
  return false;
}

// The translation as PostgreSQL reads it, in the T-SQL lexer's kinds for the checks both
// engines share; fails on what T-SQL never writes. `carets`: the ^ of the input, each of
// which may be a # of the engine's (its exclusive or).
std::vector<Token> ReadAsPostgreSQL(const std::string& statement, const std::string& sql, int carets) {
  namespace pg = etapas::test::pg;
  std::vector<pg::Token> all;
  try {
    all = pg::Tokenize(sql);
  } catch (const pg::Error& e) { Fail("PostgreSQL cannot read the translation", statement, sql + "\n" + e.what); }
  std::vector<Token> out;
  int hashes = 0;
  for (size_t i = 0; i < all.size(); ++i) {
    const pg::Token& t = all[i];
    switch (t.kind) {
      case pg::Kind::Space:
      case pg::Kind::Comment: continue;
      case pg::Kind::EscapeString:
      case pg::Kind::BitString:
      case pg::Kind::UnicodeString:
      case pg::Kind::DollarString:
      case pg::Kind::UnicodeName: Fail("PostgreSQL reads a literal of its own in the translation", statement, sql);
      case pg::Kind::Parameter: Fail("PostgreSQL reads a parameter in the translation", statement, sql);
      case pg::Kind::Cast: Fail("PostgreSQL reads a :: cast in the translation", statement, sql);
      case pg::Kind::String: out.push_back({TokenKind::String, t.text, t.value}); break;
      case pg::Kind::QuotedName: out.push_back({TokenKind::QuotedName, t.text, t.value}); break;
      case pg::Kind::Name: out.push_back({TokenKind::Word, t.text, t.value}); break;
      case pg::Kind::Number: out.push_back({TokenKind::Number, t.text, t.value}); break;
      case pg::Kind::Other:
        if (t.text == "$") Fail("PostgreSQL reads a $ in the translation", statement, sql);
        out.push_back({TokenKind::Symbol, t.text, t.value});
        break;
      case pg::Kind::Self:
      case pg::Kind::Operator: {
        static const char* const kOperators[] = {"+",  "-",   "*",  "/",  "%", "=", "<", ">", "<>",
                                                 "!=", "<=",  ">=", "||", "&", "|", "~", "#", "!",
                                                 "~*", "!~*", ",",  "(",  ")", "[", "]", ".", ";"};
        bool known = false;
        for (const char* o : kOperators) known |= t.text == o;
        if (!known) Fail("PostgreSQL reads an operator T-SQL does not write", statement, sql + "\n" + t.text);
        hashes += t.text == "#";
        if (t.text == "~" && !out.empty()) {
          const Token& p = out.back();
          const bool ends = p.kind == TokenKind::Number || p.kind == TokenKind::String ||
                            p.kind == TokenKind::QuotedName || p.text == ")" ||
                            (p.kind == TokenKind::Word && !OperandFollows(Upper(p.text)));
          if (ends) Fail("PostgreSQL reads a ~ between two operands", statement, sql);
        }
        out.push_back({TokenKind::Symbol, t.text, t.value});
        break;
      }
    }
  }
  if (hashes > carets) Fail("PostgreSQL reads a # the input had not", statement, sql);
  return out;
}

// What the embedded engine would read as a parameter (given none, it is Null), a blob or
// one operator made of two of T-SQL's.
void CheckSqliteReading(const std::string& statement, const std::string& sql) {
  const auto all = Tokenize(sql);
  for (size_t i = 0; i < all.size(); ++i) {
    const Token& t = all[i];
    if (t.kind == TokenKind::Variable) Fail("the embedded engine reads a parameter in the translation", statement, sql);
    if (t.kind == TokenKind::Symbol &&
        (t.text == "$" || t.text == "?" || t.text == ":" || t.text == "::" || t.text == "@" || t.text == "`"))
      Fail("the embedded engine reads a parameter or a name in the translation", statement, sql);
    if (t.kind == TokenKind::Word && Upper(t.text) == "X" && i + 1 < all.size() && all[i + 1].kind == TokenKind::String)
      Fail("the embedded engine reads a blob in the translation", statement, sql);
    auto op = [](const Token& x) {
      return x.kind == TokenKind::Symbol && x.text.size() == 1 &&
             std::string("+-*/<>=~!|&^%").find(x.text[0]) != std::string::npos;
    };
    if (i + 1 < all.size() && op(t) && op(all[i + 1]))
      Fail("two operators side by side in the translation", statement, sql);
  }
}

void CheckSplit(const std::string& batch, const std::vector<std::string>& statements) {
  const auto whole = Significants(Tokenize(batch));
  size_t b = 0;
  for (const auto& s : statements) {
    for (const auto& t : Significants(Tokenize(s))) {
      while (b < whole.size() && whole[b].text != t.text) {
        const std::string u = Upper(whole[b].text);
        if (u != ";" && u != "GO") Fail("the splitter lost a token", batch, s);
        ++b;
      }
      if (b == whole.size()) Fail("the splitter made up a token", batch, s);
      ++b;
    }
  }
  for (; b < whole.size(); ++b)
    if (whole[b].text != ";" && Upper(whole[b].text) != "GO") Fail("the splitter dropped the end", batch, "");
}

// Types whose arguments the translator may rewrite or drop, and other groups it removes.
bool DropsItsGroup(const Token& t) {
  static const char* const kWords[] = {"INT",
                                       "INTEGER",
                                       "SMALLINT",
                                       "TINYINT",
                                       "BIT",
                                       "BIGINT",
                                       "FLOAT",
                                       "REAL",
                                       "MONEY",
                                       "SMALLMONEY",
                                       "DECIMAL",
                                       "NUMERIC",
                                       "DEC",
                                       "DATETIME",
                                       "SMALLDATETIME",
                                       "TIMESTAMP",
                                       "DATETIME2",
                                       "DATETIMEOFFSET",
                                       "DATE",
                                       "TIME",
                                       "CHAR",
                                       "CHARACTER",
                                       "NCHAR",
                                       "VARCHAR",
                                       "NVARCHAR",
                                       "SYSNAME",
                                       "TEXT",
                                       "NTEXT",
                                       "UNIQUEIDENTIFIER",
                                       "VARBINARY",
                                       "BINARY",
                                       "IMAGE",
                                       "ROWVERSION",
                                       "IDENTITY",
                                       "WITH",
                                       "INCLUDE"};
  if (t.kind != TokenKind::Word && t.kind != TokenKind::QuotedName) return false;
  // ON filegroup (...) goes too: any name before a group may be one.
  if (t.kind == TokenKind::QuotedName) return true;
  const std::string u = Upper(t.value);
  for (const char* w : kWords)
    if (u == w) return true;
  return false;
}

// Whether the literal at `i` is one of the type names of CHECK (typeof("x") IN (...)) that
// the translation adds to numeric columns.
bool TypeCheck(const std::vector<Token>& c, size_t i) {
  size_t k = i;
  while (k > 0 && (c[k].kind == TokenKind::String || c[k].text == ",")) --k;
  return k >= 5 && c[k].text == "(" && Upper(c[k - 1].text) == "IN" && c[k - 2].text == ")" &&
         c[k - 3].kind == TokenKind::QuotedName && c[k - 4].text == "(" && c[k - 5].text == "typeof";
}

void CheckTrancount(const std::string& statement, const Translation& tr, const std::vector<Token>& out) {
  for (const auto& t : out)
    if (t.kind == TokenKind::Variable && Upper(t.text) == "@@TRANCOUNT")
      Fail("@@TRANCOUNT left as written", statement, tr.sql);
  if (tr.trancountAt.empty()) return;
  for (size_t k = 0; k < tr.trancountAt.size(); ++k)
    if (tr.trancountAt[k] > tr.sql.size() || (k > 0 && tr.trancountAt[k] <= tr.trancountAt[k - 1]))
      Fail("the places of @@TRANCOUNT are out of order or out of the text", statement, tr.sql);
  std::string filled = tr.sql;
  for (size_t k = tr.trancountAt.size(); k-- > 0;) filled.insert(tr.trancountAt[k], "17");
  std::vector<Token> with;
  try {
    with = Significants(Tokenize(filled));
  } catch (const SyntaxError&) { Fail("the count breaks the text", statement, filled); }
  // The text's tokens, in order, with one "17" more for each place.
  size_t j = 0, added = 0;
  for (const auto& t : with) {
    if (j < out.size() && t.kind == out[j].kind && t.text == out[j].text)
      ++j;
    else if (t.kind == TokenKind::Number && t.text == "17")
      ++added;
    else
      Fail("the count joins the text around it", statement, filled);
  }
  if (j != out.size() || added != tr.trancountAt.size()) Fail("the count joins the text around it", statement, filled);
}

void CheckTranslation(const std::string& statement, Engine engine) {
  Translation tr;
  try {
    tr = Translate(statement, {engine, "EMPRESA1"});
  } catch (const SyntaxError&) { return; }
  if (tr.sql.empty()) return;
  std::vector<Token> out;
  try {
    out = Significants(Tokenize(tr.sql));
  } catch (const SyntaxError&) { Fail("the translation does not tokenize", statement, tr.sql); }
  CheckTrancount(statement, tr, out);
  if (tr.kind != StatementKind::Other && tr.kind != StatementKind::Query) return;
  const auto in = Significants(Tokenize(statement));
  const bool pg = engine == Engine::PostgreSQL;
  if (pg) {
    int carets = 0;
    for (const auto& t : in) carets += t.kind == TokenKind::Symbol && t.text == "^";
    out = ReadAsPostgreSQL(statement, tr.sql, carets);
    for (const auto& then : tr.then) ReadAsPostgreSQL(statement, then, 0);
  } else {
    CheckSqliteReading(statement, tr.sql);
  }
  bool inputComments = false;
  for (const auto& t : in) inputComments |= t.kind == TokenKind::Word && Upper(t.value) == "COMMENT";
  if (inputComments) return;  // its own COMMENT statements would pass for declarations

  // Statements: chunks between ";" with something in them.
  auto chunks = [](const std::vector<Token>& toks) {
    std::vector<std::vector<Token>> c(1);
    for (const auto& t : toks) {
      if (t.kind == TokenKind::Symbol && t.text == ";")
        c.emplace_back();
      else
        c.back().push_back(t);
    }
    std::vector<std::vector<Token>> nonEmpty;
    for (auto& x : c)
      if (!x.empty()) nonEmpty.push_back(std::move(x));
    return nonEmpty;
  };
  auto outChunks = chunks(out);
  const auto inChunks = chunks(in);
  if (outChunks.size() > inChunks.size()) Fail("the translation has more statements", statement, tr.sql);
  for (const auto& then : tr.then) {
    // The numbering of an identity column: the table's name as a literal, a trigger's body.
    if (!pg && (then.rfind("INSERT INTO main.sqlite_sequence (name, seq) VALUES (", 0) == 0 ||
                then.rfind("INSERT INTO temp.sqlite_sequence (name, seq) VALUES (", 0) == 0 ||
                then.rfind("CREATE TRIGGER \"tsql_identity_", 0) == 0 ||
                then.rfind("CREATE TEMP TRIGGER \"tsql_identity_", 0) == 0))
      continue;
    std::vector<Token> toks;
    try {
      toks = Significants(Tokenize(then));
    } catch (const SyntaxError&) { Fail("a further statement does not tokenize", statement, then); }
    const auto c = chunks(toks);
    if (c.size() != 1 || c[0].size() != toks.size()) Fail("a further statement is not one statement", statement, then);
    if (pg) {
      const bool shape = c[0].size() >= 5 && Upper(c[0][0].text) == "COMMENT" && Upper(c[0][1].text) == "ON" &&
                         c[0][c[0].size() - 2].text == "IS" && c[0].back().kind == TokenKind::String &&
                         c[0].back().value.rfind("tsql:", 0) == 0;
      if (!shape) Fail("a declaration comment of another shape", statement, then);
    } else {
      outChunks.push_back(c[0]);  // its literals are the input's too
    }
  }

  // The arguments of a type (name(n) or name(n, m)) are numbers of the input or the few the
  // translation writes (timestamp(3), numeric(19,4), bpchar(1)): two of the input's glued
  // together (decimal(10 2) read as numeric(102)) are neither.
  {
    std::set<std::string> numbers = {"0", "1", "3", "4", "6", "10", "19"};
    for (const auto& t : in)
      if (t.kind == TokenKind::Number) numbers.insert(t.text);
    for (size_t i = 2; i + 1 < out.size(); ++i) {
      const bool first = out[i - 1].text == "(" && out[i - 2].kind == TokenKind::Word;
      const bool second = i >= 4 && out[i - 1].text == "," && out[i - 2].kind == TokenKind::Number &&
                          out[i - 3].text == "(" && out[i - 4].kind == TokenKind::Word;
      const bool closes = out[i + 1].text == ")" || (first && out[i + 1].text == ",");
      if (out[i].kind == TokenKind::Number && (first || second) && closes && !numbers.count(out[i].text))
        Fail("the translation has a type argument the input had not", statement, tr.sql);
    }
  }

  std::map<std::string, int> strings, optional;  // input literals (that must stay, that may go)
  std::vector<int> dropDepth;                    // open groups, whether each may be removed
  int dropping = 0;
  for (size_t i = 0; i < in.size(); ++i) {
    const Token& t = in[i];
    if (t.kind == TokenKind::Symbol && t.text == "(") {
      const bool drops = i > 0 && DropsItsGroup(in[i - 1]);
      dropDepth.push_back(drops);
      dropping += drops;
    } else if (t.kind == TokenKind::Symbol && t.text == ")" && !dropDepth.empty()) {
      dropping -= dropDepth.back();
      dropDepth.pop_back();
    }
    if (t.kind != TokenKind::String) continue;
    // The input's own "~*" before a literal looks like a pattern the translation made regex.
    const bool pattern = pg && ((i > 0 && in[i - 1].kind == TokenKind::Word &&
                                 (Upper(in[i - 1].value) == "LIKE" || Upper(in[i - 1].value) == "ESCAPE")) ||
                                (i > 1 && in[i - 2].text == "~" && in[i - 1].text == "*"));
    // After an expression or AS a string names a column: PostgreSQL is given a name.
    const bool alias = pg && i > 0 && (in[i - 1].kind != TokenKind::Symbol || in[i - 1].text == ")");
    ++(pattern || alias || dropping ? optional : strings)[t.value];
  }
  int escapesEmpty = 0;  // ESCAPE '' in the output: added by the translation, or the input's own
  for (const auto& c : outChunks)
    for (size_t i = 0; i < c.size(); ++i) {
      const Token& t = c[i];
      if (t.kind != TokenKind::String) continue;
      if (pg && MadeRegex(c, i)) continue;
      if (i > 0 && Upper(c[i - 1].text) == "ESCAPE" && t.value.empty()) {
        ++escapesEmpty;
        continue;
      }
      if (!pg && TypeCheck(c, i)) continue;
      if (strings[t.value] > 0)
        --strings[t.value];
      else if (optional[t.value]-- <= 0)
        Fail("the translation has a literal the input had not", statement, tr.sql);
    }
  if (strings.count("")) strings[""] -= std::min(strings[""], escapesEmpty);
  for (const auto& [value, left] : strings)
    if (left > 0) Fail("the translation lost a literal", statement, value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string batch(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> statements;
  try {
    statements = SplitStatements(batch);
  } catch (const SyntaxError&) { return 0; }
  CheckSplit(batch, statements);
  for (const auto& s : statements) {
    CheckTranslation(s, Engine::SQLite);
    CheckTranslation(s, Engine::PostgreSQL);
  }
  return 0;
}
