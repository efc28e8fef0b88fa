// SQLite: the identity column is the rowid, text lengths are checked by constraints, one
// column per ALTER TABLE ... ADD, and "+" adds or concatenates as SQL Server decides.
#include <optional>

#include "engine/sql/internal.h"

namespace etapas::engine::sql::detail {
namespace {

// SQL Server's text functions are the backend's (text_rules.h), which also puts UPPER and
// LOWER in place of the engine's own.
constexpr Dialect kSQLite{Engine::SQLite,
                          {{{"GETDATE", "tsql_getdate"},
                            {"ISNULL", "IFNULL"},
                            {"LEN", "tsql_len"},
                            {"SCOPE_IDENTITY", "last_insert_rowid"},
                            {"LEFT", "tsql_left"},
                            {"RIGHT", "tsql_right"},
                            {"SUBSTRING", "tsql_substring"},
                            {"CHARINDEX", "tsql_charindex"},
                            {"REPLACE", "tsql_replace"}}},
                          "last_insert_rowid()",
                          "",
                          "TSQLCI",
                          "BINARY"};

constexpr auto kTextTypes =
    std::to_array<std::string_view>({"CHAR", "VARCHAR", "NCHAR", "NVARCHAR", "TEXT", "NTEXT", "SYSNAME"});

class SqliteTranslator final : public Translator {
 public:
  SqliteTranslator(std::string_view statement, const TranslateOptions& options)
      : Translator(kSQLite, statement, options) {}

 private:
  void NamesTable(size_t name, bool created) override {
    if (!created) return;
    const Token& t = t_[name];
    table_ = t.kind == TokenKind::Variable ? t.value.substr(std::min<size_t>(7, t.value.size())) : t.value;
    for (size_t k = 0; k < name; ++k)
      if (Word(k, "TEMP") || Word(k, "TEMPORARY")) temporary_ = true;
  }

  // IDENTITY(seed, increment) as two integers, or nothing when the column has no arguments.
  std::optional<std::pair<long long, long long>> IdentityArguments(size_t identity, size_t last) const {
    const size_t open = Next(identity);
    if (!Sym(open, "(")) return std::nullopt;
    const size_t close = Match(open);
    if (close == npos || close > last) return std::nullopt;
    std::vector<long long> values;
    for (size_t k = Next(open); k < close; k = Next(k)) {
      bool negative = false;
      if (Sym(k, "-") || Sym(k, "+")) {
        negative = Sym(k, "-");
        k = Next(k);
      }
      const std::string& digits = t_[k].text;
      // Bounded so that the sequence arithmetic below cannot overflow.
      if (t_[k].kind != TokenKind::Number || trancount_[k] || digits.size() > 15 ||
          !std::all_of(digits.begin(), digits.end(), IsDigit))
        throw SyntaxError("IDENTITY takes two integers");
      values.push_back(negative ? -std::stoll(digits) : std::stoll(digits));
      if (Next(k) < close && !Sym(Next(k), ",")) throw SyntaxError("IDENTITY takes two integers");
      if (Next(k) < close) k = Next(k);
    }
    if (values.size() != 2) throw SyntaxError("IDENTITY takes two integers");
    return std::make_pair(values[0], values[1]);
  }

  // The engine numbers from 1 by 1: the sequence starts where the seed says, and a trigger
  // moves each number on by the increment. Rows of one statement after its first are
  // numbered by the engine from its own count, so the trigger renumbers them too, and it
  // leaves the sequence where the next statement must start: the engine reads the first
  // record of the table's name and writes its count back to that record at the end, so the
  // trigger's record goes before it.
  void NumberIdentity(long long seed, long long increment) {
    if (table_.empty() || (seed == 1 && increment == 1)) return;
    const std::string name = QuoteLiteral(table_), ident = QuoteIdentifier(table_);
    const std::string sequence = temporary_ ? "temp.sqlite_sequence" : "main.sqlite_sequence";
    identity_.push_back("INSERT INTO " + sequence + " (name, seq) VALUES (" + name + ", " + std::to_string(seed - 1) +
                        ")");
    if (increment <= 1) return;  // the engine cannot number downwards: only the seed holds
    const std::string step = std::to_string(increment), more = std::to_string(increment - 1);
    const std::string number = "(CASE WHEN (NEW.rowid - (" + std::to_string(seed) + ")) % " + step +
                               " = 0 THEN NEW.rowid ELSE NEW.rowid + " + more + " END)";
    identity_.push_back("CREATE " + std::string(temporary_ ? "TEMP " : "") + "TRIGGER " +
                        QuoteIdentifier("tsql_identity_" + table_) + " AFTER INSERT ON " + ident + " BEGIN UPDATE " +
                        ident + " SET rowid = " + number + " WHERE rowid = NEW.rowid AND " + number +
                        " <> NEW.rowid; INSERT INTO sqlite_sequence (rowid, name, seq) SELECT min(rowid) - 1, " + name +
                        ", " + number + " + " + more +
                        " FROM sqlite_sequence; DELETE FROM sqlite_sequence WHERE name = " + name +
                        " AND rowid <> (SELECT min(rowid) FROM sqlite_sequence); END");
  }

  void RewriteElements(const std::vector<Element>& elements) override {
    // An identity column becomes the rowid, so any other primary key turns into UNIQUE.
    bool identity = false;
    for (const Element& e : elements)
      for (size_t k = e.first; k <= e.last; k = Next(k)) {
        if (Word(k, "IDENTITY")) identity = true;
        if (Sym(k, "(")) k = Match(k);
      }
    for (const Element& e : elements) {
      if (IsConstraint(e)) {
        if (identity) DemotePrimaryKey(e.first, e.last);
        RemoveStorageOptions(e.first, e.last + 1);
      } else {
        RewriteColumn(e.first, e.last, identity);
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
      if (const auto args = IdentityArguments(identity, last)) NumberIdentity(args->first, args->second);
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
    // The engine keeps a text it cannot read as a number in a numeric column; SQL Server
    // refuses it. Stored values are checked once the engine has converted what it can.
    const std::string upper = ToUpper(typeName.value);
    const bool integer = OneOf(upper, {"INT", "INTEGER", "SMALLINT", "TINYINT", "BIGINT"});
    if (integer || OneOf(upper, {"FLOAT", "REAL", "MONEY", "SMALLMONEY", "DECIMAL", "NUMERIC", "DEC"})) {
      after_[last] += " CONSTRAINT " + QuoteIdentifier("tsql_type_" + column) + " CHECK (typeof(" +
                      QuoteIdentifier(column) + ") IN (" + (integer ? "'integer'" : "'integer', 'real'") + ", 'null'))";
      return;
    }
    if (!OneOf(upper, kTextTypes)) return;
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

  // ---- "+" as SQL Server evaluates it: the engine's tsql_add decides between adding and
  // concatenating by the operands' values, so each binary "+" becomes a call. The engine has
  // no ^: tsql_xor, which reads each operand once. & and | are grouped as SQL Server groups
  // them (the engine puts them below + and -).

  void BinaryOperator(size_t op, size_t left, size_t right) override {
    if (Sym(op, "+") || Sym(op, "^")) {
      before_[left].insert(0, Sym(op, "+") ? "tsql_add(" : "tsql_xor(");
      t_[op].text = ",";
      if (op > 0 && t_[op - 1].kind == TokenKind::Space) t_[op - 1].text.clear();
    } else {
      before_[left].insert(0, "(");
    }
    // Ahead of what other passes put there (a LIMIT ends the statement, not the operand).
    after_[right].insert(0, ")");
  }

  void CollateLiteral(size_t literal, size_t) override {
    after_[literal] += " COLLATE " + std::string(dialect_.caseInsensitiveCollation);
  }

  // CAST('abc' AS int) is 0 to the engine and a conversion error to SQL Server: the value
  // goes through tsql_add(0, ...), which reads a text as a number or refuses it. After the
  // operators (Translator::RewriteOperators), so that a cast of a sum wraps the whole call.
  void RewriteNumericCasts() {
    for (size_t i = 0; i < Size(); ++i) {
      if (!Word(i, "CAST") || !Sym(Next(i), "(")) continue;
      const size_t open = Next(i), close = Match(open);
      if (close == npos) continue;
      size_t as = npos;
      for (size_t k = Next(open); k < close; k = Next(k)) {
        if (Sym(k, "(") && (k = Match(k)) == npos) break;
        if (Word(k, "AS")) as = k;
      }
      const size_t type = as == npos ? npos : Next(as);
      if (type == npos || type >= close || !IsName(t_[type]) || Next(open) == as) continue;
      if (!OneOf(ToUpper(t_[type].value), {"INT", "INTEGER", "SMALLINT", "TINYINT", "BIGINT", "FLOAT", "REAL", "MONEY",
                                           "SMALLMONEY", "DECIMAL", "NUMERIC", "DEC"}))
        continue;
      before_[Next(open)].insert(0, "tsql_add(0, ");
      after_[Prev(as)] += ")";
    }
  }

  void DialectPasses() override { RewriteNumericCasts(); }

  // ALTER TABLE t ADD a ..., b ...: the engine adds one column per statement.
  void Emit(Translation& out) override {
    if (added_.size() < 2 || !SimpleAlterHead()) {
      Translator::Emit(out);
      out.then.insert(out.then.end(), identity_.begin(), identity_.end());
      return;
    }
    const std::string head = Render(0, addAt_).sql;
    for (size_t k = 0; k < added_.size(); ++k) {
      const Element& e = added_[k];
      const std::string statement = head + (IsConstraint(e) ? " ADD " : " ADD COLUMN ");
      Rendered piece = Render(e.first, e.last + 1);
      if (k == 0) {
        for (size_t at : piece.trancountAt) out.trancountAt.push_back(statement.size() + at);
        out.sql = statement + piece.sql;
      } else if (!piece.trancountAt.empty()) {
        throw SyntaxError("@@TRANCOUNT in a further column of ALTER TABLE ... ADD");
      } else {
        out.then.push_back(statement + piece.sql);
      }
    }
  }

  // ALTER TABLE name ADD: the part repeated for each column holds nothing but the name.
  std::string table_;  // the table CREATE TABLE makes, as declared
  bool temporary_ = false;
  std::vector<std::string> identity_;  // statements that number its identity column

  bool SimpleAlterHead() const {
    size_t k = 0;
    while (k < Size() && !IsSignificant(t_[k])) ++k;
    if (!Word(k, "ALTER") || !Word(Next(k), "TABLE")) return false;
    bool named = false;
    for (k = Next(Next(k)); k < addAt_; k = Next(k)) {
      if (!(IsName(t_[k]) || t_[k].kind == TokenKind::Variable || Sym(k, ".")) || trancount_[k]) return false;
      named = true;
    }
    return named;
  }
};

}  // namespace

Translation TranslateForSQLite(std::string_view statement, const TranslateOptions& options) {
  return SqliteTranslator(statement, options).Run();
}

}  // namespace etapas::engine::sql::detail
