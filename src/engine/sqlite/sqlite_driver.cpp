#include "engine/sqlite/sqlite_driver.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <set>
#include <unordered_map>

#include "engine/sqlite/like.h"
#include "engine/sql/tsql.h"
#include "components/text.h"

namespace etapas::engine::sqlite {
namespace {

namespace fs = std::filesystem;

// ---- SQL Server's comparison rules as SQLite functions --------------------------------

std::string_view RTrimBlanks(std::string_view s) {
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

// Text columns compare ignoring letter case and trailing blanks ('sa' = 'SA ').
int CompareCi(void*, int na, const void* a, int nb, const void* b) {
  std::string x = text::Upper(RTrimBlanks({static_cast<const char*>(a), static_cast<size_t>(na)}));
  std::string y = text::Upper(RTrimBlanks({static_cast<const char*>(b), static_cast<size_t>(nb)}));
  int c = x.compare(y);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

std::u32string Decode(std::string_view s) {
  std::u32string out;
  for (size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    int len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 1;
    char32_t cp = len == 1 ? c : len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
    for (int k = 1; k < len && i + k < s.size(); ++k)
      cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    out.push_back(cp);
    i += static_cast<size_t>(len);
  }
  return out;
}

void LikeFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL || sqlite3_value_type(argv[1]) == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  auto text = [](sqlite3_value* v) {
    const unsigned char* t = sqlite3_value_text(v);
    return std::string(t ? reinterpret_cast<const char*>(t) : "", static_cast<size_t>(sqlite3_value_bytes(v)));
  };
  std::u32string pattern = Decode(text::Upper(text(argv[0])));
  std::u32string subject = Decode(text::Upper(text(argv[1])));
  char32_t esc = 0;
  if (argc == 3 && sqlite3_value_type(argv[2]) != SQLITE_NULL) {
    auto e = Decode(text(argv[2]));
    if (!e.empty()) esc = e[0];
  }
  sqlite3_result_int(ctx, LikeMatch(pattern, subject, esc) ? 1 : 0);
}

void GetDateFunction(sqlite3_context* ctx, int, sqlite3_value**) {
  DateTime now = DateTime::Now();
  char buf[40];
  std::snprintf(buf, sizeof buf, "%s.%03d", now.ToIso().c_str(), now.millisecond);
  sqlite3_result_text(ctx, buf, -1, SQLITE_TRANSIENT);
}

// ---- Errors in SQL Server's terms ------------------------------------------------------

std::string Between(const std::string& s, const std::string& before, const std::string& after = "") {
  auto p = s.find(before);
  if (p == std::string::npos) return "";
  p += before.size();
  auto e = after.empty() ? std::string::npos : s.find(after, p);
  return s.substr(p, e == std::string::npos ? std::string::npos : e - p);
}

std::string VerbOf(std::string_view statement) {
  std::string_view t = text::Trim(statement);
  auto sp = t.find_first_of(" \t\r\n(");
  return text::Upper(t.substr(0, sp));
}

ProviderError MapError(sqlite3* db, int rc, std::string_view statement) {
  const int ext = db ? sqlite3_extended_errcode(db) : rc;
  const std::string msg = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  const std::string verb = VerbOf(statement);
  ProviderError e;
  e.sqlState = "42000";
  switch (ext) {
    case SQLITE_CONSTRAINT_PRIMARYKEY:
    case SQLITE_CONSTRAINT_UNIQUE: {
      std::string what = Between(msg, "constraint failed: ");
      std::string table = what.substr(0, what.find('.'));
      e = {native::kDuplicateKey,
           "Violation of PRIMARY KEY constraint. Cannot insert duplicate key in object 'dbo." + table +
               "'. The duplicate key is in " + what + ".",
           "23000"};
      return e;
    }
    case SQLITE_CONSTRAINT_FOREIGNKEY:
      e = {native::kConstraint,
           verb == "DELETE" ? "The DELETE statement conflicted with the REFERENCE constraint: other rows still refer to this one."
                            : "The " + verb + " statement conflicted with the FOREIGN KEY constraint: the referenced row does not exist.",
           "23000"};
      return e;
    case SQLITE_CONSTRAINT_CHECK: {
      std::string name = Between(msg, "constraint failed: ");
      if (name.rfind("tsql_len_", 0) == 0) {
        e = {native::kTruncation, "String or binary data would be truncated in column '" + name.substr(9) + "'.", "22001"};
        return e;
      }
      e = {native::kConstraint, "The " + verb + " statement conflicted with the CHECK constraint \"" + name + "\".", "23000"};
      return e;
    }
    case SQLITE_CONSTRAINT_NOTNULL: {
      std::string what = Between(msg, "constraint failed: ");
      auto dot = what.find('.');
      e = {native::kNullNotAllowed,
           "Cannot insert the value NULL into column '" + what.substr(dot == std::string::npos ? 0 : dot + 1) +
               "', table '" + what.substr(0, dot) + "'; column does not allow nulls. " + verb + " fails.",
           "23000"};
      return e;
    }
    case SQLITE_CONSTRAINT_TRIGGER:
      e = {native::kUserRaised, msg, "23000"};
      return e;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
    case SQLITE_BUSY_TIMEOUT:
      e = {native::kLockTimeout, "Lock request time out period exceeded: another session holds the data.", "HYT00"};
      return e;
    case SQLITE_MISMATCH:
      e = {native::kConversion, "Conversion failed: " + msg + ".", "22018"};
      return e;
    default: break;
  }
  if (msg.rfind("no such table: ", 0) == 0) {
    e = {native::kInvalidObject, "Invalid object name '" + msg.substr(15) + "'.", "42S02"};
  } else if (msg.rfind("no such column: ", 0) == 0) {
    e = {native::kInvalidColumn, "Invalid column name '" + msg.substr(16) + "'.", "42S22"};
  } else if (msg.find("has no column named ") != std::string::npos) {
    e = {native::kInvalidColumn, "Invalid column name '" + Between(msg, "has no column named ") + "'.", "42S22"};
  } else if (msg.find("syntax error") != std::string::npos || msg.find("incomplete input") != std::string::npos) {
    std::string near = Between(msg, "near \"", "\"");
    e = {native::kSyntax, near.empty() ? "Incorrect syntax at the end of the statement." : "Incorrect syntax near '" + near + "'.", "42000"};
  } else if (msg.find("cannot commit - no transaction") != std::string::npos) {
    e = {native::kNoBeginForCommit, "The COMMIT TRANSACTION request has no corresponding BEGIN TRANSACTION.", "25000"};
  } else if (msg.find("cannot rollback - no transaction") != std::string::npos) {
    e = {native::kNoBeginForRollback, "The ROLLBACK TRANSACTION request has no corresponding BEGIN TRANSACTION.", "25000"};
  } else if (msg.find("already exists") != std::string::npos) {
    e = {2714, "There is already an object named " + Between(msg, "table ") + " in the database.", "42S01"};
  } else {
    e = {native::kOther, "The database refused the statement: " + msg + ".", "HY000"};
  }
  return e;
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
    case 11: return Variant(sqlite3_column_int64(st, i) != 0);
    case 2: case 3: case 17: case 20:
      if (t == SQLITE_INTEGER) return Variant(static_cast<long long>(sqlite3_column_int64(st, i)));
      break;
    case 4: case 5: case 6: case 131:
      if (t == SQLITE_INTEGER || t == SQLITE_FLOAT) return Variant(sqlite3_column_double(st, i));
      break;
    case 7: case 133: case 134: case 135: {
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

void Bind(sqlite3_stmt* st, int i, const Variant& v) {
  switch (v.kind()) {
    case Variant::Kind::Empty:
    case Variant::Kind::Null: sqlite3_bind_null(st, i); break;
    case Variant::Kind::Boolean:
    case Variant::Kind::Integer: sqlite3_bind_int64(st, i, v.AsInteger()); break;
    case Variant::Kind::Double: sqlite3_bind_double(st, i, v.AsDouble()); break;
    case Variant::Kind::Date: sqlite3_bind_text(st, i, v.AsDate().ToIso().c_str(), -1, SQLITE_TRANSIENT); break;
    case Variant::Kind::Text: sqlite3_bind_text(st, i, v.AsText().data(), static_cast<int>(v.AsText().size()), SQLITE_TRANSIENT); break;
  }
}

struct Stmt {
  sqlite3_stmt* st = nullptr;
  ~Stmt() { sqlite3_finalize(st); }
};

struct Reset {
  sqlite3_stmt* st = nullptr;
  ~Reset() {
    if (st) sqlite3_reset(st);
  }
};

// ---- The session -----------------------------------------------------------------------

class SqliteSession final : public Session {
 public:
  SqliteSession(std::string folder, std::string database) : folder_(std::move(folder)), database_(std::move(database)) {}
  ~SqliteSession() override {
    ForgetCaches();
    sqlite3_close_v2(db_);
  }

  bool Open(ProviderError& error) {
    isMaster_ = text::EqualsNoCase(database_, "master");
    std::string path = isMaster_ ? ":memory:" : FileOf(database_);
    if (!isMaster_ && (!ValidDatabaseName(database_, 128) || !fs::is_regular_file(path))) {
      error = {native::kCannotOpenDatabase,
               "Cannot open database \"" + database_ + "\" requested by the login. The login failed.", "42000"};
      return false;
    }
    int rc = sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
      error = {native::kCannotOpenDatabase,
               "Cannot open database \"" + database_ + "\": " + std::string(db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc)) + ".", "42000"};
      return false;
    }
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_create_collation_v2(db_, "TSQLCI", SQLITE_UTF8, nullptr, CompareCi, nullptr);
    sqlite3_create_function_v2(db_, "like", 2, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, LikeFunction, nullptr, nullptr, nullptr);
    sqlite3_create_function_v2(db_, "like", 3, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, LikeFunction, nullptr, nullptr, nullptr);
    sqlite3_create_function_v2(db_, "tsql_getdate", 0, SQLITE_UTF8, nullptr, GetDateFunction, nullptr, nullptr, nullptr);
    SetCommandTimeout(timeout_);
    Exec("PRAGMA foreign_keys = ON");
    if (!isMaster_) Exec("PRAGMA journal_mode = WAL");
    return true;
  }

  std::string Provider() const override { return "sqlite"; }
  std::string Database() const override { return database_; }

  void SetCommandTimeout(int seconds) override {
    timeout_ = seconds;
    // 0 means no limit to the platform; a lock wait is still bounded here.
    int ms = seconds <= 0 ? 600000 : (seconds > 600 ? 600000 : seconds * 1000);
    if (db_) sqlite3_busy_timeout(db_, ms);
  }

  ExecOutcome Execute(std::string_view tsql) override {
    ExecOutcome out;
    // Programs send the same statements over and over: their translation is kept.
    auto cached = plans_.find(std::string(tsql));
    if (cached == plans_.end()) {
      std::vector<Planned> plan;
      try {
        for (auto& statement : sql::SplitStatements(tsql))
          plan.push_back({statement, sql::Translate(statement, {sql::Engine::SQLite, database_})});
      } catch (const sql::SyntaxError& e) {
        out.errors.push_back({native::kSyntax, std::string("Incorrect syntax: ") + e.what() + ".", "42000"});
        return out;
      }
      if (plans_.size() >= kCacheSize) plans_.clear();
      cached = plans_.emplace(std::string(tsql), std::move(plan)).first;
    }
    // A copy: running a statement may clear the caches (a CREATE, a USE).
    const std::vector<Planned> plan = cached->second;
    for (const auto& p : plan) {
      if (!RunOne(p.statement, p.translation, out)) break;
    }
    return out;
  }

  bool UseDatabase(std::string_view database, ProviderError& error) override {
    if (text::EqualsNoCase(database, database_)) return true;
    SqliteSession other(folder_, std::string(text::Trim(database)));
    other.timeout_ = timeout_;
    if (!other.Open(error)) return false;
    ForgetCaches();
    std::swap(db_, other.db_);
    std::swap(database_, other.database_);
    std::swap(isMaster_, other.isMaster_);
    attached_.clear();
    return true;
  }

  std::vector<SchemaColumn> Columns(std::string_view catalog, std::string_view table,
                                    std::vector<ProviderError>& errors) override {
    const std::string key = text::Upper(catalog) + "|" + text::Upper(table);
    if (auto c = columns_.find(key); c != columns_.end()) return c->second;
    auto out = ReadColumns(catalog, table, errors);
    if (errors.empty() && !table.empty()) columns_[key] = out;
    return out;
  }

  std::vector<SchemaColumn> ReadColumns(std::string_view catalog, std::string_view table,
                                        std::vector<ProviderError>& errors) {
    std::vector<SchemaColumn> out;
    std::string schema = "main";
    std::string catalogName = database_;
    if (!catalog.empty() && !text::EqualsNoCase(catalog, database_)) {
      // Another database of the same server; a missing one simply has no columns.
      if (!Attach(std::string(catalog), nullptr)) return out;
      schema = std::string(catalog);
      catalogName = schema;
    }
    std::vector<std::string> tables;
    {
      Stmt s;
      std::string q = "SELECT name FROM " + sql::QuoteIdentifier(schema) +
                      ".sqlite_master WHERE type IN ('table','view') AND name NOT LIKE 'sqlite!_%' ESCAPE '!' ORDER BY name";
      if (sqlite3_prepare_v2(db_, q.c_str(), -1, &s.st, nullptr) != SQLITE_OK) {
        errors.push_back(MapError(db_, SQLITE_ERROR, q));
        return out;
      }
      while (sqlite3_step(s.st) == SQLITE_ROW) {
        std::string name = reinterpret_cast<const char*>(sqlite3_column_text(s.st, 0));
        if (table.empty() || text::EqualsNoCase(name, table)) tables.push_back(name);
      }
    }
    for (const auto& t : tables) {
      Stmt s;
      std::string q = "PRAGMA " + sql::QuoteIdentifier(schema) + ".table_info(" + sql::QuoteIdentifier(t) + ")";
      if (sqlite3_prepare_v2(db_, q.c_str(), -1, &s.st, nullptr) != SQLITE_OK) {
        errors.push_back(MapError(db_, SQLITE_ERROR, q));
        return out;
      }
      while (sqlite3_step(s.st) == SQLITE_ROW) {
        SchemaColumn c;
        c.catalog = catalogName;
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
    return out;
  }

  bool InsertRow(std::string_view table, const NamedValues& values, std::vector<ProviderError>& errors) override {
    std::string q = "INSERT INTO " + sql::QuoteIdentifier(table);
    if (values.empty()) {
      q += " DEFAULT VALUES";
    } else {
      std::string cols, marks;
      for (const auto& [name, v] : values) {
        cols += (cols.empty() ? "" : ",") + sql::QuoteIdentifier(name);
        marks += marks.empty() ? "?" : ",?";
      }
      q += " (" + cols + ") VALUES (" + marks + ")";
    }
    std::vector<const Variant*> params;
    for (const auto& nv : values) params.push_back(&nv.second);
    return RunParams(q, params, errors) >= 0;
  }

  long UpdateRows(std::string_view table, const NamedValues& criteria, const NamedValues& values,
                  std::vector<ProviderError>& errors) override {
    std::string q = "UPDATE " + sql::QuoteIdentifier(table) + " SET ";
    std::vector<const Variant*> params;
    bool first = true;
    for (const auto& [name, v] : values) {
      q += (first ? "" : ", ") + sql::QuoteIdentifier(name) + " = ?";
      params.push_back(&v);
      first = false;
    }
    first = true;
    for (const auto& [name, v] : criteria) {
      q += first ? " WHERE " : " AND ";
      first = false;
      if (v.IsNull() || v.IsEmpty()) {
        q += sql::QuoteIdentifier(name) + " IS NULL";
      } else {
        q += sql::QuoteIdentifier(name) + " = ?";
        params.push_back(&v);
      }
    }
    return RunParams(q, params, errors);
  }

 private:
  std::string FileOf(std::string_view database) const { return folder_ + "/" + text::Lower(database) + ".db"; }

  void Exec(const char* q) { sqlite3_exec(db_, q, nullptr, nullptr, nullptr); }

  // Makes another database of this server visible under its own name.
  bool Attach(const std::string& name, ProviderError* error) {
    std::string key = text::Lower(name);
    if (attached_.count(key)) return true;
    std::string path = FileOf(name);
    if (!ValidDatabaseName(name, 128) || !fs::is_regular_file(path)) {
      if (error) *error = {native::kNoSuchDatabase, "Database '" + name + "' does not exist. Make sure that the name is entered correctly.", "42000"};
      return false;
    }
    Stmt s;
    std::string q = "ATTACH DATABASE ? AS " + sql::QuoteIdentifier(name);
    if (sqlite3_prepare_v2(db_, q.c_str(), -1, &s.st, nullptr) != SQLITE_OK) {
      if (error) *error = MapError(db_, SQLITE_ERROR, q);
      return false;
    }
    sqlite3_bind_text(s.st, 1, path.c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(s.st) != SQLITE_DONE) {
      if (error) *error = MapError(db_, SQLITE_ERROR, q);
      return false;
    }
    attached_.insert(key);
    return true;
  }

  long RunParams(const std::string& q, const std::vector<const Variant*>& params, std::vector<ProviderError>& errors) {
    Stmt s;
    int rc = sqlite3_prepare_v2(db_, q.c_str(), -1, &s.st, nullptr);
    if (rc != SQLITE_OK) {
      errors.push_back(MapError(db_, rc, q));
      return -1;
    }
    for (size_t i = 0; i < params.size(); ++i) Bind(s.st, static_cast<int>(i + 1), *params[i]);
    rc = sqlite3_step(s.st);
    if (rc != SQLITE_DONE && rc != SQLITE_ROW) {
      AddError(errors, MapError(db_, rc, q));
      return -1;
    }
    return sqlite3_changes(db_);
  }

  bool ServerCommand(const sql::Translation& t, ExecOutcome& out) {
    const std::string& name = t.databaseName;
    if (t.kind == sql::StatementKind::Use) {
      ProviderError e;
      if (!UseDatabase(name, e)) {
        out.errors.push_back(e);
        return false;
      }
      return true;
    }
    if (!ValidDatabaseName(name, 128) || text::EqualsNoCase(name, "master")) {
      out.errors.push_back({native::kOther, "'" + name + "' is not a valid database name.", "42000"});
      return false;
    }
    std::string path = FileOf(name);
    std::error_code ec;
    if (t.kind == sql::StatementKind::CreateDatabase) {
      if (fs::exists(path)) {
        out.errors.push_back({native::kDatabaseExists, "Database '" + name + "' already exists. Choose a different database name.", "42000"});
        return false;
      }
      fs::create_directories(folder_, ec);
      sqlite3* fresh = nullptr;
      int rc = sqlite3_open_v2(path.c_str(), &fresh, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
      if (rc == SQLITE_OK) rc = sqlite3_exec(fresh, "PRAGMA journal_mode = WAL", nullptr, nullptr, nullptr);
      sqlite3_close_v2(fresh);
      if (rc != SQLITE_OK) {
        fs::remove(path, ec);
        out.errors.push_back({native::kOther, "CREATE DATABASE failed: the file " + path + " could not be created.", "HY000"});
        return false;
      }
      return true;
    }
    if (!fs::exists(path)) {
      out.errors.push_back({3701, "Cannot drop the database '" + name + "', because it does not exist or you do not have permission.", "42000"});
      return false;
    }
    if (text::EqualsNoCase(name, database_)) {
      out.errors.push_back({3702, "Cannot drop database \"" + name + "\" because it is currently in use.", "42000"});
      return false;
    }
    for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(path + suffix, ec);
    return true;
  }

  struct Planned {
    std::string statement;
    sql::Translation translation;
  };
  static constexpr size_t kCacheSize = 256;

  void ForgetCaches() {
    for (auto& [sql, st] : statements_) sqlite3_finalize(st);
    statements_.clear();
    plans_.clear();
    columns_.clear();
  }

  // A prepared statement kept for reuse; null with rc set when it cannot be prepared.
  sqlite3_stmt* Prepared(const std::string& sql, int& rc) {
    rc = SQLITE_OK;
    if (auto it = statements_.find(sql); it != statements_.end()) return it->second;
    sqlite3_stmt* st = nullptr;
    rc = sqlite3_prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size()), &st, nullptr);
    if (rc != SQLITE_OK || !st) return nullptr;
    if (statements_.size() >= kCacheSize) {
      for (auto& [k, v] : statements_) sqlite3_finalize(v);
      statements_.clear();
    }
    statements_.emplace(sql, st);
    return st;
  }

  bool RunOne(const std::string& statement, const sql::Translation& t, ExecOutcome& out) {
    switch (t.kind) {
      case sql::StatementKind::CreateDatabase:
      case sql::StatementKind::DropDatabase:
      case sql::StatementKind::Use: return ServerCommand(t, out);
      default: break;
    }
    if (text::Trim(t.sql).empty()) return true;
    if (isMaster_ && t.kind != sql::StatementKind::Begin && t.kind != sql::StatementKind::Commit &&
        t.kind != sql::StatementKind::Rollback && t.kind != sql::StatementKind::Query) {
      out.errors.push_back({native::kInvalidObject, "The master database of an embedded server holds no tables; connect to a database.", "42S02"});
      return false;
    }
    for (const auto& other : t.otherDatabases) {
      ProviderError e;
      if (!Attach(other, &e)) {
        out.errors.push_back(e);
        return false;
      }
    }
    const std::string verb = VerbOf(t.sql);
    if (verb == "CREATE" || verb == "ALTER" || verb == "DROP") columns_.clear();
    int rc = SQLITE_OK;
    Stmt owned;   // transaction control is not worth keeping
    Reset reset;  // a kept statement is reset after use, releasing its locks
    const bool keepPrepared = t.kind == sql::StatementKind::Query || t.kind == sql::StatementKind::Other;
    if (keepPrepared) {
      reset.st = Prepared(t.sql, rc);
    } else {
      rc = sqlite3_prepare_v2(db_, t.sql.c_str(), static_cast<int>(t.sql.size()), &owned.st, nullptr);
      reset.st = nullptr;
    }
    if (rc != SQLITE_OK) {
      out.errors.push_back(MapError(db_, rc, statement));
      return false;
    }
    struct {
      sqlite3_stmt* st;
    } s{keepPrepared ? reset.st : owned.st};
    if (!s.st) return true;  // only a comment
    const int n = sqlite3_column_count(s.st);
    const bool keep = n > 0 && !out.hasResult;
    ResultSet rs;
    if (keep) {
      for (int i = 0; i < n; ++i) {
        ColumnMeta c;
        c.name = sqlite3_column_name(s.st, i);
        const char* decl = sqlite3_column_decltype(s.st, i);
        c.adoType = decl ? AdoTypeFromDeclared(decl, &c.definedSize) : -1;
        if (const char* tn = sqlite3_column_table_name(s.st, i)) c.baseTable = tn;
        if (const char* cn = sqlite3_column_origin_name(s.st, i)) c.baseColumn = cn;
        rs.columns.push_back(std::move(c));
      }
    }
    while ((rc = sqlite3_step(s.st)) == SQLITE_ROW) {
      if (!keep) continue;
      std::vector<Variant> row;
      row.reserve(static_cast<size_t>(n));
      for (int i = 0; i < n; ++i) {
        int& type = rs.columns[static_cast<size_t>(i)].adoType;
        if (type < 0) {
          // An expression: its first value decides the field's type.
          switch (sqlite3_column_type(s.st, i)) {
            case SQLITE_INTEGER: type = 3; break;
            case SQLITE_FLOAT: type = 5; break;
            case SQLITE_BLOB: type = 204; break;
            case SQLITE_TEXT: type = LooksLikeDateTime(reinterpret_cast<const char*>(sqlite3_column_text(s.st, i))) ? 135 : 200; break;
            default: break;
          }
        }
        row.push_back(ReadValue(s.st, i, type));
      }
      rs.rows.push_back(std::move(row));
    }
    if (rc != SQLITE_DONE) {
      AddError(out.errors, MapError(db_, rc, statement));
      return false;
    }
    if (keep) {
      for (auto& c : rs.columns)
        if (c.adoType < 0) c.adoType = 200;
      out.result = std::move(rs);
      out.hasResult = true;
    }
    if (n == 0) out.rowsAffected = sqlite3_changes(db_);
    return true;
  }

  std::string folder_;
  std::string database_;
  bool isMaster_ = false;
  sqlite3* db_ = nullptr;
  int timeout_ = 30;
  std::set<std::string> attached_;
  std::unordered_map<std::string, std::vector<Planned>> plans_;
  std::unordered_map<std::string, sqlite3_stmt*> statements_;
  std::unordered_map<std::string, std::vector<SchemaColumn>> columns_;
};

}  // namespace

std::unique_ptr<Session> Open(const std::string& serverFolder, const ConnectRequest& request, ProviderError& error) {
  auto session = std::make_unique<SqliteSession>(serverFolder, text::TrimCopy(request.database));
  if (!session->Open(error)) return nullptr;
  return session;
}

}  // namespace etapas::engine::sqlite
