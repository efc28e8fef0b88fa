// PostgreSQL: names folded to lower case, the engine's types, LIKE as regular expressions,
// and the declared names and types kept as comments on the table.
#include "components/text.h"
#include "engine/sql/internal.h"

namespace etapas::engine::sql::detail {
namespace {

// SQL Server's datetime: the local clock at the statement's start, to the millisecond.
constexpr std::string_view kPgNow = "CAST(statement_timestamp() AS timestamp(3))";
// Case-insensitive matching of patterns needs a deterministic collation that knows the
// letters beyond ASCII; the columns' own collation is not deterministic.
constexpr std::string_view kPgMatchCollation = " COLLATE \"und-x-icu\"";

// Words PostgreSQL reserves that T-SQL leaves free for names: they are quoted.
constexpr auto kPgReserved = std::to_array<std::string_view>(
    {"ANALYSE",        "ANALYZE",  "ARRAY",     "ASYMMETRIC", "BOTH",    "CONCURRENTLY", "DEFERRABLE",
     "FREEZE",         "ILIKE",    "INITIALLY", "LATERAL",    "LEADING", "LIMIT",        "LOCALTIME",
     "LOCALTIMESTAMP", "NOTNULL",  "ONLY",      "OVERLAPS",   "PLACING", "RETURNING",    "SIMILAR",
     "SYMMETRIC",      "TRAILING", "VARIADIC",  "VERBOSE",    "WINDOW"});

bool HasNonAscii(std::string_view s) {
  return std::any_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
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
  // The value's trailing blanks are not matched against anything.
  return re + " *$";
}

// GETDATE has no plain counterpart: the shared pass writes `now` for GETDATE(). The tsql_
// functions are the database's own (postgres_backend.cpp).
constexpr Dialect kPostgreSQL{Engine::PostgreSQL,
                              {{{"GETDATE", ""},
                                {"ISNULL", "COALESCE"},
                                {"LEN", "tsql_len"},
                                {"SCOPE_IDENTITY", "lastval"},
                                {"LEFT", "tsql_left"},
                                {"RIGHT", "tsql_right"},
                                {"CHARINDEX", "tsql_charindex"},
                                {"REPLACE", "tsql_replace"}}},
                              "lastval()",
                              kPgNow,
                              "tsql_ci",
                              "\"C\""};

class PgTranslator final : public Translator {
 public:
  PgTranslator(std::string_view statement, const TranslateOptions& options)
      : Translator(kPostgreSQL, statement, options) {}

 private:
  // The engine folds only ASCII letters, and reserves words T-SQL leaves free for names.
  bool QuotesWord(const Token& t) const override {
    return HasNonAscii(t.value) || OneOf(ToUpper(t.value), kPgReserved);
  }

  void NamesTable(size_t name, bool created) override {
    const std::string declared = t_[name].kind == TokenKind::Variable
                                     ? t_[name].value.substr(std::min<size_t>(7, t_[name].value.size()))
                                     : t_[name].value;
    table_ = Ident(declared);
    if (created) comments_.push_back("COMMENT ON TABLE " + table_ + " IS " + QuoteLiteral("tsql:" + declared));
  }

  // An argument of a type or identity is copied as text: a count has no place there.
  std::string ArgText(size_t k) const {
    if (trancount_[k]) throw SyntaxError("@@TRANCOUNT as the argument of a type");
    return t_[k].text;
  }

  void RewriteElements(const std::vector<Element>& elements) override {
    for (const Element& e : elements) {
      if (IsConstraint(e))
        RemoveStorageOptions(e.first, e.last + 1);
      else
        RewriteColumnPg(e.first, e.last);
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
    if (OneOf(base, {"CHAR", "CHARACTER", "NCHAR"}))
      return Mapped(number ? "bpchar(" + arg + ")" : max ? "bpchar" : "bpchar(1)", true);
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
          args.back() += ArgText(k);
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
              seed.back() += ArgText(j);
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
                          QuoteLiteral("tsql:" + declared + ":" + column));
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
      // A literal that starts a longer pattern ('%' + x) is no pattern by itself.
      if (t_[pattern].kind == TokenKind::String && !Sym(escape, "+") &&
          (!escaped || (Next(escape) < Size() && t_[Next(escape)].kind == TokenKind::String))) {
        t_[pattern].text = QuoteLiteral(LikeToRegex(t_[pattern].value, escaped ? t_[Next(escape)].value : ""));
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
            args.back() += ArgText(k);
        }
      }
      const std::string base = ToUpper(t_[type].value);
      PgType mapped = MapType(base, args);
      if (mapped.name.empty() && t_[type].kind == TokenKind::QuotedName) throw UnknownType(t_[type].value);
      if (mapped.name.empty()) continue;
      // A cast is not a column: text keeps its length and needs no collation.
      if (OneOf(base, {"VARCHAR", "NVARCHAR"}))
        mapped.name = mapped.limit.empty() ? "text" : "varchar(" + mapped.limit + ")";
      if (OneOf(base, {"TEXT", "NTEXT"})) mapped.name = "text";
      t_[type].text = mapped.name;
      if (typeEnd != type) Erase(Next(type), typeEnd);
    }
  }

  // The engine would read a literal compared with a date or a number as one: only a
  // comparison with what is surely text is given the collation.
  bool IsText(size_t k) const {
    if (k >= Size()) return false;
    if (t_[k].kind == TokenKind::String) return true;
    if (t_[k].kind != TokenKind::Word || !Sym(Next(k), "(")) return false;
    const std::string f = Key(t_[k]);
    if (OneOf(f, {"UPPER", "LOWER", "LTRIM", "RTRIM", "TRIM", "LEFT", "RIGHT", "SUBSTRING", "REPLACE", "CONCAT",
                  "REVERSE"}))
      return true;
    if (f != "CAST") return false;
    const size_t close = Match(Next(k));
    if (close == npos) return false;
    size_t type = Prev(close);
    if (Sym(type, ")") && MatchBack(type) != npos) type = Prev(MatchBack(type));  // varchar(10)
    const size_t as = Prev(type);
    return type < Size() && Word(as, "AS") &&
           OneOf(Key(t_[type]), {"CHAR", "VARCHAR", "NCHAR", "NVARCHAR", "TEXT", "NTEXT"});
  }

  void CollateLiteral(size_t literal, size_t other) override {
    if (!IsText(other)) return;
    // bpchar ignores trailing blanks, the collation ignores case.
    before_[literal] += "CAST(";
    after_[literal].insert(0, " AS bpchar) COLLATE " + std::string(dialect_.caseInsensitiveCollation));
  }

  // & | and # (PostgreSQL's ^, exclusive or) rank below + and - in the engine, and its ~
  // takes a whole sum: each is grouped as SQL Server groups it.
  void BinaryOperator(size_t op, size_t left, size_t right) override {
    if (Sym(op, "+")) return;
    before_[left].insert(0, "(");
    if (Sym(op, "^")) t_[op].text = "#";
    after_[right].insert(0, ")");
  }
  void BitwiseNot(size_t op, size_t end) override {
    before_[op].insert(0, "(");
    after_[end].insert(0, ")");
  }

  // SELECT a 'x' and SELECT a AS 'x' name the column x; the engine takes a name there.
  void NameColumn(size_t literal) override {
    t_[literal].text = (Word(Prev(literal), "AS") ? "" : "AS ") + QuoteIdentifier(t_[literal].value);
  }

  void DialectPasses() override {
    RewriteLike();
    RewriteCastTypes();
    // ALTER TABLE t ADD a ..., b ...: the engine wants ADD before each.
    for (size_t k = 1; k < added_.size(); ++k)
      before_[added_[k].first].insert(0, addColumn_ && !IsConstraint(added_[k]) ? "ADD COLUMN " : "ADD ");
  }

  // The declared names and types ride along as comments: the engine keeps only the
  // lower-case names and its own types.
  void Emit(Translation& out) override {
    Translator::Emit(out);
    out.then = comments_;
  }

  std::string table_;  // the table being defined, as the engine names it
  std::vector<std::string> comments_;
};

}  // namespace

Translation TranslateForPostgreSQL(std::string_view statement, const TranslateOptions& options) {
  return PgTranslator(statement, options).Run();
}

}  // namespace etapas::engine::sql::detail
