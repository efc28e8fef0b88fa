#include "engine/sqlite/sqlite_backend.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <cstdlib>
#include <memory>
#include <unordered_map>

#include "engine/kept.h"
#include "engine/recycled.h"
#include "engine/sqlite/text_rules.h"
#include "engine/sql/tsql.h"
#include "components/ado_types.h"
#include "components/text.h"
#include "components/variant.h"

namespace etapas::engine::sqlite {
namespace {

namespace fs = std::filesystem;
namespace adtype = ado::adtype;

// ---- SQL Server's comparison rules as SQLite functions --------------------------------

// Text (the collation TSQLCI, LIKE, UPPER, LEN...) follows text_rules.h.

void GetDateFunction(sqlite3_context* ctx, int, sqlite3_value**) {
  DateTime now = DateTime::Now();
  char buf[40];
  std::snprintf(buf, sizeof buf, "%s.%03d", now.ToIso().c_str(), now.millisecond);
  sqlite3_result_text(ctx, buf, -1, SQLITE_TRANSIENT);
}

// Adds as SQL Server's + does: texts are joined, numbers added, a text beside a number is
// read as a number; Null gives Null.
void AddFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
  const int ta = sqlite3_value_type(argv[0]), tb = sqlite3_value_type(argv[1]);
  if (ta == SQLITE_NULL || tb == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  auto isText = [](int t) { return t == SQLITE_TEXT || t == SQLITE_BLOB; };
  auto textOf = [](sqlite3_value* v) {
    const unsigned char* t = sqlite3_value_text(v);
    return std::string(t ? reinterpret_cast<const char*>(t) : "", static_cast<size_t>(sqlite3_value_bytes(v)));
  };
  if (isText(ta) && isText(tb)) {
    std::string joined = textOf(argv[0]) + textOf(argv[1]);
    sqlite3_result_text(ctx, joined.data(), static_cast<int>(joined.size()), SQLITE_TRANSIENT);
    return;
  }
  // A number beside a text: the text must read as a number.
  sqlite3_value* values[2] = {argv[0], argv[1]};
  bool real = false;
  long long ints[2] = {0, 0};
  double reals[2] = {0, 0};
  for (int k = 0; k < 2; ++k) {
    sqlite3_value* v = values[k];
    const int t = sqlite3_value_type(v);
    if (t == SQLITE_INTEGER) {
      ints[k] = sqlite3_value_int64(v);
      reals[k] = static_cast<double>(ints[k]);
    } else if (t == SQLITE_FLOAT) {
      real = true;
      reals[k] = sqlite3_value_double(v);
    } else {
      const std::string s = text::TrimCopy(textOf(v));
      char* end = nullptr;
      errno = 0;
      const long long n = std::strtoll(s.c_str(), &end, 10);
      if (!s.empty() && end && *end == '\0' && errno == 0) {
        ints[k] = n;
        reals[k] = static_cast<double>(n);
        continue;
      }
      size_t used = 0;
      const double d = ReadNumber(s, &used);
      if (s.empty() || used != s.size()) {
        const std::string msg = "tsql_conversion:when converting the varchar value '" + s + "' to data type int";
        sqlite3_result_error(ctx, msg.c_str(), -1);
        return;
      }
      real = true;
      reals[k] = d;
    }
  }
  long long sum = 0;
  if (!real && !__builtin_add_overflow(ints[0], ints[1], &sum)) {
    sqlite3_result_int64(ctx, sum);
    return;
  }
  sqlite3_result_double(ctx, reals[0] + reals[1]);
}

// SQL Server's ^ (exclusive or), which the engine lacks: integers, a text read as one;
// Null gives Null. Each operand is evaluated once, as the call's argument.
void XorFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
  long long ints[2] = {0, 0};
  for (int k = 0; k < 2; ++k) {
    sqlite3_value* v = argv[k];
    const int t = sqlite3_value_type(v);
    if (t == SQLITE_NULL) {
      sqlite3_result_null(ctx);
      return;
    }
    if (t == SQLITE_INTEGER) {
      ints[k] = sqlite3_value_int64(v);
      continue;
    }
    if (t != SQLITE_TEXT) {
      sqlite3_result_error(ctx, "The data types of the operands are incompatible in the '^' operator", -1);
      return;
    }
    const unsigned char* p = sqlite3_value_text(v);
    const std::string s = text::TrimCopy(
        std::string(p ? reinterpret_cast<const char*>(p) : "", static_cast<size_t>(sqlite3_value_bytes(v))));
    char* end = nullptr;
    errno = 0;
    ints[k] = std::strtoll(s.c_str(), &end, 10);
    if (s.empty() || !end || *end != '\0' || errno != 0) {
      const std::string msg = "tsql_conversion:when converting the varchar value '" + s + "' to data type int";
      sqlite3_result_error(ctx, msg.c_str(), -1);
      return;
    }
  }
  sqlite3_result_int64(ctx, ints[0] ^ ints[1]);
}

// ---- Errors in the engine's own terms ----------------------------------------------------

std::string Between(const std::string& s, const std::string& before, const std::string& after = "") {
  auto p = s.find(before);
  if (p == std::string::npos) return "";
  p += before.size();
  auto e = after.empty() ? std::string::npos : s.find(after, p);
  return s.substr(p, e == std::string::npos ? std::string::npos : e - p);
}

Fault MapFault(sqlite3* db, int rc) {
  using K = Fault::Kind;
  const int ext = db ? sqlite3_extended_errcode(db) : rc;
  const std::string msg = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  Fault f;
  f.message = msg;
  f.sqlState = std::to_string(ext);
  auto tableColumn = [&](const std::string& what) {
    const auto dot = what.find('.');
    f.table = what.substr(0, dot);
    if (dot != std::string::npos) f.column = what.substr(dot + 1);
  };
  switch (ext) {
    case SQLITE_CONSTRAINT_PRIMARYKEY:
    case SQLITE_CONSTRAINT_UNIQUE:
    case SQLITE_CONSTRAINT_ROWID: {
      f.kind = K::DuplicateKey;
      // "T.A, T.B": the key's columns; SQL Server names the constraint, the engine does not.
      const std::string what = Between(msg, "constraint failed: ");
      tableColumn(what.substr(0, what.find(',')));
      f.constraint = std::string(ext == SQLITE_CONSTRAINT_UNIQUE ? "UQ_" : "PK_") + f.table;
      f.column.clear();
      return f;
    }
    case SQLITE_CONSTRAINT_FOREIGNKEY:
      // The engine tells which side only by the statement: the session reads the verb.
      f.kind = K::ForeignKey;
      return f;
    case SQLITE_CONSTRAINT_CHECK:
      f.constraint = Between(msg, "constraint failed: ");
      f.kind = f.constraint.rfind("tsql_type_", 0) == 0 ? K::Conversion : K::Check;
      return f;
    case SQLITE_CONSTRAINT_NOTNULL:
      f.kind = K::NotNull;
      tableColumn(Between(msg, "constraint failed: "));
      return f;
    case SQLITE_CONSTRAINT_TRIGGER: f.kind = K::Raised; return f;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
    case SQLITE_BUSY_TIMEOUT:
    case SQLITE_BUSY_SNAPSHOT: f.kind = K::Lock; return f;
    case SQLITE_MISMATCH: f.kind = K::Conversion; return f;
    case SQLITE_READONLY:
    case SQLITE_READONLY_DBMOVED:
    case SQLITE_PERM:
    case SQLITE_AUTH: f.kind = K::Permission; return f;
    case SQLITE_INTERRUPT: f.kind = K::Timeout; return f;
    default: break;
  }
  if (msg.rfind("tsql_conversion:", 0) == 0) {
    f.kind = K::Conversion;
    f.message = msg.substr(16);
  } else if (msg.rfind("tsql_length:", 0) == 0) {
    f.kind = K::InvalidLength;
    f.message = msg.substr(12);  // the function
  } else if (msg.rfind("no such table: ", 0) == 0) {
    f.kind = K::NoTable;
    f.table = msg.substr(15);
  } else if (msg.rfind("no such column: ", 0) == 0) {
    f.kind = K::NoColumn;
    f.column = msg.substr(16);
    if (auto dot = f.column.rfind('.'); dot != std::string::npos) f.column = f.column.substr(dot + 1);
  } else if (msg.find("has no column named ") != std::string::npos) {
    f.kind = K::NoColumn;
    f.column = Between(msg, "has no column named ");
  } else if (msg.find("syntax error") != std::string::npos || msg.find("incomplete input") != std::string::npos) {
    f.kind = K::Syntax;
    f.key = Between(msg, "near \"", "\"");
  } else if (msg.find("duplicate column name") != std::string::npos) {
    f.kind = K::ColumnExists;
    f.column = Between(msg, "duplicate column name: ");
  } else if (msg.find("already exists") != std::string::npos) {
    f.kind = K::ObjectExists;
    f.table = Between(msg, "table ", " already");
    if (f.table.empty()) f.table = Between(msg, "index ", " already");
  } else if (msg.find("integer overflow") != std::string::npos) {
    f.kind = K::Overflow;
  } else {
    f.kind = K::Other;
  }
  return f;
}

// ---- Values ----------------------------------------------------------------------------

bool LooksLikeDateTime(std::string_view s) {
  return s.size() >= 19 && s[4] == '-' && s[7] == '-' && s[10] == ' ' && s[13] == ':' &&
         DateTime::ParseIso(s).has_value();
}

Variant ReadValue(sqlite3_stmt* st, int i, int adoType) {
  const int t = sqlite3_column_type(st, i);
  if (t == SQLITE_NULL) return Variant::Null();
  switch (adoType) {
    case adtype::kBoolean: return Variant(sqlite3_column_int64(st, i) != 0);
    case adtype::kSmallInt:
    case adtype::kInteger:
    case adtype::kTinyInt:
    case adtype::kBigInt:
      if (t == SQLITE_INTEGER) return Variant(static_cast<long long>(sqlite3_column_int64(st, i)));
      break;
    case adtype::kSingle:
    case adtype::kDouble:
    case adtype::kCurrency:
    case adtype::kNumeric:
      if (t == SQLITE_INTEGER || t == SQLITE_FLOAT) return Variant(sqlite3_column_double(st, i));
      break;
    case adtype::kDate:
    case adtype::kDBDate:
    case adtype::kDBTime:
    case adtype::kDBTimeStamp: {
      std::string s = reinterpret_cast<const char*>(sqlite3_column_text(st, i));
      if (auto d = DateTime::ParseIso(s)) return Variant(*d);
      return Variant(s);
    }
    default: break;
  }
  switch (t) {
    case SQLITE_INTEGER: return Variant(static_cast<long long>(sqlite3_column_int64(st, i)));
    case SQLITE_FLOAT: return Variant(sqlite3_column_double(st, i));
    case SQLITE_BLOB:
      return Variant(std::string(static_cast<const char*>(sqlite3_column_blob(st, i)),
                                 static_cast<size_t>(sqlite3_column_bytes(st, i))));
    default: {
      const unsigned char* s = sqlite3_column_text(st, i);
      return Variant(std::string(reinterpret_cast<const char*>(s), static_cast<size_t>(sqlite3_column_bytes(st, i))));
    }
  }
}

// As ReadValue, into a value whose text storage is reused from row to row.
void Read(sqlite3_stmt* st, int i, int adoType, Variant& out) {
  const int t = sqlite3_column_type(st, i);
  const bool plainText =
      t == SQLITE_TEXT && !adtype::IsDate(adoType) && adoType != adtype::kBoolean && !adtype::IsNumeric(adoType);
  if (plainText) {
    const auto* s = reinterpret_cast<const char*>(sqlite3_column_text(st, i));
    out.AssignText({s, static_cast<size_t>(sqlite3_column_bytes(st, i))});
    return;
  }
  out = ReadValue(st, i, adoType);
}

void Bind(sqlite3_stmt* st, int i, const Variant& v) {
  switch (v.kind()) {
    case Variant::Kind::Empty:
    case Variant::Kind::Null: sqlite3_bind_null(st, i); break;
    case Variant::Kind::Boolean:
    case Variant::Kind::Integer: sqlite3_bind_int64(st, i, v.AsInteger()); break;
    case Variant::Kind::Double: sqlite3_bind_double(st, i, v.AsDouble()); break;
    case Variant::Kind::Date: sqlite3_bind_text(st, i, v.AsDate().ToIso().c_str(), -1, SQLITE_TRANSIENT); break;
    case Variant::Kind::Text:
      sqlite3_bind_text(st, i, v.AsText().data(), static_cast<int>(v.AsText().size()), SQLITE_TRANSIENT);
      break;
  }
}

// A column declared as text whose values are read as text: the engine stores nothing but
// text (or NULL, or a blob, whose bytes its text form gives unchanged) in a column whose
// declared type gives it text affinity, so the value's storage class need not be asked.
bool ReadAsText(const char* declared, int adoType) {
  if (!declared || adtype::IsDate(adoType) || adoType == adtype::kBoolean || adtype::IsNumeric(adoType)) return false;
  const std::string d = text::Upper(declared);
  if (d.find("INT") != std::string::npos) return false;
  return d.find("CHAR") != std::string::npos || d.find("CLOB") != std::string::npos ||
         d.find("TEXT") != std::string::npos;
}

// A prepared statement; kept ones are shared with the rows reading them.
struct Statement {
  sqlite3_stmt* st = nullptr;
  // The result's columns, worked out once when every column has a declared type.
  std::shared_ptr<const std::vector<ColumnMeta>> columns;
  std::vector<char> asText;  // per column, ReadAsText
  bool columnsKnown = false;
  int prepared = 0;  // the engine's count of its own re-preparations when they were read
  bool bound = false;
  bool busy = false;  // being read; rows resting on it may not run it again meanwhile
  ~Statement() { sqlite3_finalize(st); }
};
using StatementPtr = std::shared_ptr<Statement>;

class SqliteRows final : public BackendRows, public Recycled<SqliteRows> {
 public:
  SqliteRows(sqlite3* db, StatementPtr st) : db_(db), st_(std::move(st)) {}
  ~SqliteRows() override { Release(); }

  // Runs the statement to its first row, so that expressions have their types.
  bool Start(Fault& fault) {
    sqlite3_stmt* s = st_->st;
    st_->busy = true;
    done_ = false;
    int rc = sqlite3_step(s);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
      fault = MapFault(db_, rc);
      Release();
      return false;
    }
    // After the step: a statement prepared again for a changed table may have other columns.
    const int n = sqlite3_column_count(s);
    // The engine prepares a kept statement again when another connection changed its table.
    if (st_->columnsKnown && sqlite3_stmt_status(s, SQLITE_STMTSTATUS_REPREPARE, 0) != st_->prepared)
      st_->columnsKnown = false;
    if (n > 0 && st_->columnsKnown) {
      shared_ = st_->columns;
      columns_ = shared_.get();
      asText_ = &st_->asText;
    } else if (n > 0) {
      bool declared = true;
      own_.clear();
      ownAsText_.clear();
      own_.reserve(static_cast<size_t>(n));
      ownAsText_.reserve(static_cast<size_t>(n));
      for (int i = 0; i < n; ++i) {
        ColumnMeta c;
        c.name = sqlite3_column_name(s, i);
        const char* decl = sqlite3_column_decltype(s, i);
        c.adoType = decl ? AdoTypeFromDeclared(decl, &c.definedSize) : 200;
        if (!decl) declared = false;
        if (!decl && rc == SQLITE_ROW) {
          // An expression: its first value decides the field's type.
          switch (sqlite3_column_type(s, i)) {
            case SQLITE_INTEGER: c.adoType = 3; break;
            case SQLITE_FLOAT: c.adoType = 5; break;
            case SQLITE_BLOB: c.adoType = 204; break;
            case SQLITE_TEXT:
              c.adoType = LooksLikeDateTime(reinterpret_cast<const char*>(sqlite3_column_text(s, i))) ? 135 : 200;
              break;
            default: break;
          }
        }
        if (const char* tn = sqlite3_column_table_name(s, i)) c.baseTable = tn;
        if (const char* cn = sqlite3_column_origin_name(s, i)) c.baseColumn = cn;
        ownAsText_.push_back(ReadAsText(decl, c.adoType) ? 1 : 0);
        own_.push_back(std::move(c));
      }
      if (declared) {
        st_->columns = std::make_shared<const std::vector<ColumnMeta>>(std::move(own_));
        st_->asText = std::move(ownAsText_);
        st_->columnsKnown = true;
        st_->prepared = sqlite3_stmt_status(s, SQLITE_STMTSTATUS_REPREPARE, 0);
        shared_ = st_->columns;
        columns_ = shared_.get();
        asText_ = &st_->asText;
      } else {
        columns_ = &own_;
        asText_ = &ownAsText_;
      }
    }
    pending_ = rc == SQLITE_ROW;
    if (rc == SQLITE_DONE) {
      changes_ = n == 0 ? sqlite3_changes(db_) : 0;
      Release();
    }
    return true;
  }

  const std::vector<ColumnMeta>& Columns() const override { return *columns_; }
  std::shared_ptr<const std::vector<ColumnMeta>> SharedColumns() const override { return shared_; }

  bool Next(std::vector<Variant>& row, Fault& fault) override {
    if (done_) return false;
    sqlite3_stmt* s = st_->st;
    if (!pending_) {
      const int rc = sqlite3_step(s);
      if (rc == SQLITE_DONE) {
        Release();
        return false;
      }
      if (rc != SQLITE_ROW) {
        fault = MapFault(db_, rc);
        Release();
        return false;
      }
    }
    pending_ = false;
    const auto& columns = *columns_;
    const size_t n = columns.size();
    row.resize(n);
    for (size_t i = 0; i < n; ++i) {
      const int c = static_cast<int>(i);
      if (!(*asText_)[i]) {
        Read(s, c, columns[i].adoType, row[i]);
      } else if (const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(s, c))) {
        row[i].AssignText({t, static_cast<size_t>(sqlite3_column_bytes(s, c))});
      } else if (sqlite3_column_type(s, c) == SQLITE_NULL) {
        row[i] = Variant::Null();
      } else {
        fault = MapFault(db_, SQLITE_NOMEM);
        Release();
        return false;
      }
    }
    return true;
  }

  long Changes() const override { return changes_; }

  bool Rest() override {
    Release();
    return true;
  }

  bool Again(Fault& fault) override {
    // Parameters are gone with the call that bound them; a statement another reader took
    // meanwhile is not this one's to run.
    if (st_->bound || (done_ && st_->busy)) return false;
    if (!done_) sqlite3_reset(st_->st);
    pending_ = false;
    changes_ = 0;
    shared_.reset();
    columns_ = &kNone;
    asText_ = &ownAsText_;
    return Start(fault);
  }

 private:
  // A kept statement is reset after use, releasing its locks; the rows keep it to run it
  // again.
  void Release() {
    if (done_) return;
    done_ = true;
    sqlite3_reset(st_->st);
    if (st_->bound) sqlite3_clear_bindings(st_->st);
    st_->bound = false;
    st_->busy = false;
  }

  static inline const std::vector<ColumnMeta> kNone{};
  sqlite3* db_;
  StatementPtr st_;
  std::shared_ptr<const std::vector<ColumnMeta>> shared_;  // the statement's, when it keeps them
  std::vector<ColumnMeta> own_;
  const std::vector<ColumnMeta>* columns_ = &kNone;
  std::vector<char> ownAsText_;
  const std::vector<char>* asText_ = &ownAsText_;
  bool pending_ = false;
  bool done_ = false;  // the statement was reset: no more rows until Again
  long changes_ = 0;
};

// ---- The backend ----------------------------------------------------------------------------

class SqliteBackend final : public Backend {
 public:
  SqliteBackend(std::string folder, std::string database)
      : folder_(std::move(folder)), database_(std::move(database)) {}
  ~SqliteBackend() override {
    statements_.Clear();
    sqlite3_close_v2(db_);
  }

  bool Open(Fault& fault) {
    const bool master = text::EqualsNoCase(database_, "master");
    std::string path = master ? ":memory:" : FileOf(database_);
    if (!master && (!ValidDatabaseName(database_, 128) || !fs::is_regular_file(path))) {
      fault.kind = Fault::Kind::CannotOpenDatabase;
      return false;
    }
    int rc = sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
      fault.kind = Fault::Kind::CannotOpenDatabase;
      fault.message = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
      return false;
    }
    sqlite3_extended_result_codes(db_, 1);
    RegisterTextRules(db_);
    sqlite3_create_function_v2(db_, "tsql_getdate", 0, SQLITE_UTF8, nullptr, GetDateFunction, nullptr, nullptr,
                               nullptr);
    sqlite3_create_function_v2(db_, "tsql_add", 2, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, AddFunction, nullptr,
                               nullptr, nullptr);
    sqlite3_create_function_v2(db_, "tsql_xor", 2, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, XorFunction, nullptr,
                               nullptr, nullptr);
    SetCommandTimeout(timeout_);
    sqlite3_exec(db_, "PRAGMA foreign_keys = ON", nullptr, nullptr, nullptr);
    if (!master) sqlite3_exec(db_, "PRAGMA journal_mode = WAL", nullptr, nullptr, nullptr);
    // Indexes built by another order of text are rebuilt before anything reads them.
    if (!master && !EnsureIndexOrder(db_, fault.message)) {
      fault.kind = Fault::Kind::CannotOpenDatabase;
      return false;
    }
    return true;
  }

  std::string Provider() const override { return "sqlite"; }
  sql::Engine Dialect() const override { return sql::Engine::SQLite; }
  std::string Database() const override { return database_; }
  size_t MaxDatabaseName() const override { return 128; }
  std::string Parameter(int) const override { return "?"; }
  bool InTransaction() override { return sqlite3_get_autocommit(db_) == 0; }
  bool UndoesFailedStatement() const override { return true; }

  void SetCommandTimeout(int seconds) override {
    timeout_ = seconds;
    // 0 means no limit to the platform; a lock wait is still bounded here.
    int ms = seconds <= 0 ? 600000 : (seconds > 600 ? 600000 : seconds * 1000);
    if (db_) sqlite3_busy_timeout(db_, ms);
  }

  void SchemaChanged() override {
    statements_.Clear();
    columns_.clear();
  }

  std::unique_ptr<BackendRows> Run(const std::string& sql, const std::vector<const Variant*>& params, bool reuse,
                                   Fault& fault) override {
    StatementPtr st = reuse ? Kept(sql, fault) : Fresh(sql, fault);
    if (!st) return nullptr;
    for (size_t i = 0; i < params.size(); ++i) Bind(st->st, static_cast<int>(i + 1), *params[i]);
    st->bound = !params.empty();
    auto rows = std::make_unique<SqliteRows>(db_, std::move(st));
    if (!rows->Start(fault)) return nullptr;
    return rows;
  }

  bool Parses(const std::string& sql, Fault& fault) override {
    Statement s;
    const int rc = sqlite3_prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size()), &s.st, nullptr);
    if (rc == SQLITE_OK) return true;
    Fault f = MapFault(db_, rc);
    if (f.kind != Fault::Kind::Syntax) return true;
    fault = f;
    return false;
  }

  std::vector<SchemaColumn> Columns(std::string_view table, Fault& fault) override {
    const std::string key = text::Upper(table);
    if (auto c = columns_.find(key); c != columns_.end()) return c->second;
    std::vector<SchemaColumn> out;
    std::vector<std::string> tables;
    {
      Statement s;
      const char* q =
          "SELECT name FROM sqlite_master WHERE type IN ('table','view') AND name NOT LIKE 'sqlite!_%' ESCAPE '!' "
          "ORDER BY name";
      if (sqlite3_prepare_v2(db_, q, -1, &s.st, nullptr) != SQLITE_OK) {
        fault = MapFault(db_, SQLITE_ERROR);
        return out;
      }
      while (sqlite3_step(s.st) == SQLITE_ROW) {
        std::string name = reinterpret_cast<const char*>(sqlite3_column_text(s.st, 0));
        if (table.empty() || text::EqualsNoCase(name, table)) tables.push_back(name);
      }
    }
    for (const auto& t : tables) {
      Statement s;
      std::string q = "PRAGMA table_info(" + sql::QuoteIdentifier(t) + ")";
      if (sqlite3_prepare_v2(db_, q.c_str(), -1, &s.st, nullptr) != SQLITE_OK) {
        fault = MapFault(db_, SQLITE_ERROR);
        return out;
      }
      while (sqlite3_step(s.st) == SQLITE_ROW) {
        SchemaColumn c;
        c.catalog = database_;
        c.schema = "dbo";
        c.table = t;
        c.ordinal = sqlite3_column_int(s.st, 0) + 1;
        c.name = reinterpret_cast<const char*>(sqlite3_column_text(s.st, 1));
        const unsigned char* decl = sqlite3_column_text(s.st, 2);
        c.adoType = AdoTypeFromDeclared(decl ? reinterpret_cast<const char*>(decl) : "", &c.maxLength);
        c.nullable = sqlite3_column_int(s.st, 3) == 0;
        c.isKey = sqlite3_column_int(s.st, 5) > 0;
        out.push_back(std::move(c));
      }
    }
    if (!table.empty()) columns_[key] = out;
    return out;
  }

  std::unique_ptr<Backend> Open(const std::string& database, Fault& fault) override {
    auto other = std::make_unique<SqliteBackend>(folder_, text::TrimCopy(database));
    other->timeout_ = timeout_;
    if (!other->Open(fault)) return nullptr;
    return other;
  }

  bool DatabaseExists(const std::string& name, Fault&) override { return fs::exists(FileOf(name)); }

  bool CreateDatabase(const std::string& name, Fault& fault) override {
    const std::string path = FileOf(name);
    std::error_code ec;
    fs::create_directories(folder_, ec);
    sqlite3* fresh = nullptr;
    int rc = sqlite3_open_v2(path.c_str(), &fresh, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc == SQLITE_OK) rc = sqlite3_exec(fresh, "PRAGMA journal_mode = WAL", nullptr, nullptr, nullptr);
    std::string unstamped;
    if (rc == SQLITE_OK && !EnsureIndexOrder(fresh, unstamped)) rc = SQLITE_ERROR;
    sqlite3_close_v2(fresh);
    if (rc != SQLITE_OK) {
      fs::remove(path, ec);
      fault.kind = Fault::Kind::Other;
      fault.message = "the file " + path + " could not be created";
      return false;
    }
    return true;
  }

  bool DropDatabase(const std::string& name, Fault&) override {
    std::error_code ec;
    const std::string path = FileOf(name);
    for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(path + suffix, ec);
    return true;
  }

 private:
  static constexpr size_t kCacheSize = 256;

  std::string FileOf(std::string_view database) const {
    return folder_ + "/" + text::Lower(text::Trim(database)) + ".db";
  }

  StatementPtr Fresh(const std::string& sql, Fault& fault) {
    auto st = std::make_shared<Statement>();
    const int rc = sqlite3_prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size()), &st->st, nullptr);
    if (rc != SQLITE_OK) {
      fault = MapFault(db_, rc);
      return nullptr;
    }
    if (!st->st) {
      // Only a comment: nothing to run, which an empty SELECT stands for.
      sqlite3_prepare_v2(db_, "SELECT 1 WHERE 0", -1, &st->st, nullptr);
    }
    return st;
  }

  // A prepared statement kept for reuse; a fresh one while the kept one is being read.
  StatementPtr Kept(const std::string& sql, Fault& fault) {
    if (StatementPtr* kept = statements_.Find(sql)) {
      if (!(*kept)->busy) return *kept;
      return Fresh(sql, fault);
    }
    StatementPtr st = Fresh(sql, fault);
    if (!st) return nullptr;
    statements_.Put(sql, st, kCacheSize);
    return st;
  }

  std::string folder_;
  std::string database_;
  sqlite3* db_ = nullptr;
  int timeout_ = 30;
  KeptByText<StatementPtr> statements_;
  std::unordered_map<std::string, std::vector<SchemaColumn>> columns_;
};

}  // namespace

std::unique_ptr<Backend> Open(const std::string& serverFolder, const std::string& database, Fault& fault) {
  auto backend = std::make_unique<SqliteBackend>(serverFolder, text::TrimCopy(database));
  if (!backend->Open(fault)) return nullptr;
  return backend;
}

}  // namespace etapas::engine::sqlite
