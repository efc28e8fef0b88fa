#include "engine/postgres/postgres_backend.h"

#include <libpq-fe.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <optional>
#include <unordered_map>

#include "components/text.h"
#include "engine/postgres/catalogue.h"
#include "engine/postgres/link.h"
#include "engine/postgres/server.h"
#include "engine/postgres/values.h"
#include "engine/sql/tsql.h"

namespace etapas::engine::postgres {
namespace {

using K = Fault::Kind;

constexpr size_t kMaxDatabaseName = 60;

constexpr const char* kCollation =
    "CREATE COLLATION IF NOT EXISTS tsql_ci (provider = icu, locale = 'und-u-ks-level2', deterministic = false)";
// SQL Server joins texts with +; the engine's + only adds.
constexpr const char* kHasConcatenation =
    "SELECT 1 FROM pg_operator WHERE oprname = '+' AND oprleft = 'text'::regtype AND oprright = 'text'::regtype";
constexpr const char* kConcatenation = "CREATE OPERATOR + (LEFTARG = text, RIGHTARG = text, FUNCTION = textcat)";

// SQL Server's text functions the engine lacks or has otherwise: LEN without trailing blanks
// (and of numbers), LEFT and RIGHT refusing a negative length with 22011 as the engine's
// substring does (values.cpp makes it 537, or 536 for RIGHT), CHARINDEX and REPLACE
// ignoring letter case (the engine's own searches refuse the columns' collation). Text is
// sought in them under the deterministic ICU collation, whose case-insensitive matching
// is LIKE's. The last one marks the set as made: a changed set takes a new name.
constexpr const char* kTextFunctionsMark = "tsql_text_functions_1";
constexpr const char* kTextFunctions = R"(
CREATE OR REPLACE FUNCTION tsql_len(text) RETURNS integer LANGUAGE sql IMMUTABLE STRICT PARALLEL SAFE
  AS $$SELECT length(rtrim($1, ' '))$$;
CREATE OR REPLACE FUNCTION tsql_len(numeric) RETURNS integer LANGUAGE sql IMMUTABLE STRICT PARALLEL SAFE
  AS $$SELECT length(CAST($1 AS text))$$;
CREATE OR REPLACE FUNCTION tsql_len(double precision) RETURNS integer LANGUAGE sql IMMUTABLE STRICT PARALLEL SAFE
  AS $$SELECT length(CAST($1 AS text))$$;
CREATE OR REPLACE FUNCTION tsql_left(text, bigint) RETURNS text LANGUAGE sql IMMUTABLE STRICT PARALLEL SAFE
  AS $$SELECT substring($1, 1, CAST(least($2, 2147483647) AS integer))$$;
CREATE OR REPLACE FUNCTION tsql_right(text, bigint) RETURNS text LANGUAGE plpgsql IMMUTABLE STRICT PARALLEL SAFE
  AS $$BEGIN
    IF $2 < 0 THEN RAISE EXCEPTION 'tsql_length:RIGHT' USING ERRCODE = '22011'; END IF;
    RETURN right($1, CAST(least($2, 2147483647) AS integer));
  END$$;
CREATE OR REPLACE FUNCTION tsql_charindex(text, text, bigint) RETURNS integer LANGUAGE sql IMMUTABLE STRICT
  PARALLEL SAFE AS $$SELECT CASE WHEN $1 = '' OR $3 > 2147483647 THEN 0 ELSE COALESCE(
    (SELECT length(m[1]) + CAST(greatest($3, 1) AS integer)
       FROM regexp_match(substr($2 COLLATE "und-x-icu", CAST(greatest($3, 1) AS integer)),
                         '^(.*?)' || regexp_replace($1 COLLATE "und-x-icu", '([!-/:-@[-`{-~])', '\\\1', 'g'),
                         'i') AS m), 0) END$$;
CREATE OR REPLACE FUNCTION tsql_charindex(text, text) RETURNS integer LANGUAGE sql IMMUTABLE STRICT PARALLEL SAFE
  AS $$SELECT tsql_charindex($1, $2, 1)$$;
CREATE OR REPLACE FUNCTION tsql_replace(text, text, text) RETURNS text LANGUAGE sql IMMUTABLE STRICT PARALLEL SAFE
  AS $$SELECT CASE WHEN $2 = '' THEN $1 ELSE regexp_replace($1 COLLATE "und-x-icu", '***=' || $2,
                                                             replace($3 COLLATE "und-x-icu", '\', '\\'), 'gi') END$$;
CREATE OR REPLACE FUNCTION tsql_text_functions_1() RETURNS integer LANGUAGE sql IMMUTABLE AS $$SELECT 1$$;
)";
constexpr const char* kHasTextFunctions =
    "SELECT 1 FROM pg_proc p JOIN pg_namespace n ON n.oid = p.pronamespace "
    "WHERE n.nspname = current_schema() AND p.proname = $1";

bool IsMaster(std::string_view database) { return text::EqualsNoCase(text::Trim(database), "master"); }

std::string Ident(std::string_view name) { return sql::QuoteIdentifier(text::Lower(name)); }

Fault Failure(const Result& r, PGconn* conn, const std::string& what = "") {
  Fault f = MapFault(r, conn);
  if (!what.empty()) f.message = what + ": " + f.message;
  return f;
}

// Whether the database has this version's text functions.
bool HasTextFunctions(Link& link, Result& r) {
  r = link.ExecParams(kHasTextFunctions, {kTextFunctionsMark});
  return r.Ok() && PQntuples(r.r) > 0;
}

// The text rules of SQL Server in a database: the collation that ignores case, + on texts
// and the text functions, each made when missing. Sessions making them at once wait for
// each other (a lock of the transaction's: the caller's when there is one, else one of its
// own); inside a transaction a failure must not abort it: a savepoint of its own.
bool SetUpTextRules(Link& link, bool inTransaction, Fault& fault) {
  link.Exec(inTransaction ? "SAVEPOINT tsql_setup" : "BEGIN");
  Result r = link.Exec("SELECT pg_advisory_xact_lock(hashtext('tsql_text_rules'))");
  bool ok = r.Ok();
  if (ok) {
    r = link.Exec(kCollation);
    ok = r.Ok();
  }
  if (ok) {
    r = link.ExecParams(kHasConcatenation);
    ok = r.Ok();
    if (ok && PQntuples(r.r) == 0) {
      link.Exec("SAVEPOINT tsql_operator");
      r = link.Exec(kConcatenation);
      // Another session (of an earlier version: it takes no lock) may have created it
      // meanwhile.
      ok = r.Ok() || r.Field(PG_DIAG_SQLSTATE) == "42723";
      link.Exec(r.Ok() ? "RELEASE SAVEPOINT tsql_operator" : "ROLLBACK TO SAVEPOINT tsql_operator");
    }
  }
  if (ok && !HasTextFunctions(link, r)) {
    ok = r.Ok();
    if (ok) {
      r = link.Exec(kTextFunctions);
      ok = r.Ok();
    }
  }
  if (!ok) fault = MapFault(r, link.get());
  if (inTransaction)
    link.Exec(ok ? "RELEASE SAVEPOINT tsql_setup" : "ROLLBACK TO SAVEPOINT tsql_setup");
  else
    link.Exec(ok ? "COMMIT" : "ROLLBACK");
  return ok;
}

// Whether a statement names one of the text functions (tsql_len, not tsql_len_x).
bool CallsTextFunction(std::string_view sql) {
  static constexpr std::string_view kNames[] = {"len", "left", "right", "charindex", "replace"};
  for (size_t at = sql.find("tsql_"); at != std::string_view::npos; at = sql.find("tsql_", at + 1)) {
    const std::string_view rest = sql.substr(at + 5);
    for (std::string_view name : kNames) {
      if (rest.substr(0, name.size()) != name) continue;
      const char next = rest.size() > name.size() ? rest[name.size()] : ' ';
      if (!std::isalnum(static_cast<unsigned char>(next)) && next != '_') return true;
    }
  }
  return false;
}

class PgBackend;

// A statement's rows, read from the connection as they are walked.
class PgRows final : public BackendRows {
 public:
  PgRows(PgBackend& backend, std::shared_ptr<Link> link, AnswerPtr answer)
      : backend_(backend), link_(std::move(link)), answer_(std::move(answer)) {}
  ~PgRows() override {
    if (answer_) {
      answer_->wanted = false;
      answer_->results.clear();
    }
  }

  // Reads up to the first row, so that the columns are known, or to the end of a statement
  // without rows.
  bool Start(Fault& fault);
  const std::vector<ColumnMeta>& Columns() const override { return columns_; }
  bool Next(std::vector<Variant>& row, Fault& fault) override;
  long Changes() const override { return changes_; }

 private:
  enum class Got { kRows, kEnd, kFailed };
  Got Take(Fault& fault);
  void Describe(const Result& r);
  void Discard() {
    while (!link_->Next(*answer_).End()) {}
    done_ = true;
  }

  PgBackend& backend_;
  std::shared_ptr<Link> link_;
  AnswerPtr answer_;
  std::vector<ColumnMeta> columns_;
  std::vector<Oid> types_;
  Result batch_;
  int row_ = 0;
  bool done_ = false;
  long changes_ = 0;
};

class PgBackend final : public Backend {
 public:
  PgBackend(Config config, std::string database, Login login, int connectTimeout)
      : cfg_(std::move(config)),
        database_(std::move(database)),
        login_(std::move(login)),
        connectTimeout_(connectTimeout),
        timeout_(EffectiveTimeout(cfg_, 30)),
        applied_(timeout_) {}

  // Starts the connection; null with fault set when the name cannot be a database.
  std::unique_ptr<Attempt> StartConnect(Fault& fault) {
    isMaster_ = IsMaster(database_);
    if (!isMaster_ && !ValidDatabaseName(text::Trim(database_), kMaxDatabaseName)) {
      fault = Fault(K::CannotOpenDatabase);
      return nullptr;
    }
    return std::make_unique<Attempt>(cfg_, Physical(), database_, isMaster_ ? MasterLogin() : DatabaseLogin(),
                                     connectTimeout_);
  }

  bool Connect(Fault& fault) {
    auto attempt = StartConnect(fault);
    if (!attempt) return false;
    Await({attempt.get()});
    return Adopt(*attempt, fault);
  }

  bool Adopt(Attempt& attempt, Fault& fault) {
    PGconn* conn = attempt.Take(fault);
    if (conn) link_ = MakeLink(conn);
    return conn != nullptr;
  }

  std::string Provider() const override { return "postgresql"; }
  sql::Engine Dialect() const override { return sql::Engine::PostgreSQL; }
  std::string Database() const override { return database_; }
  size_t MaxDatabaseName() const override { return kMaxDatabaseName; }
  std::string Parameter(int n) const override { return "$" + std::to_string(n); }
  bool UndoesFailedStatement() const override { return false; }
  // Never longer than the server entry's statement_timeout: a server that stops answering
  // must not hold the program for the CommandTimeout a session asked (server.h).
  void SetCommandTimeout(int seconds) override { timeout_ = EffectiveTimeout(cfg_, std::max(0, seconds)); }
  bool Waiting() const override { return link_->Waiting() || (admin_ && admin_->Waiting()); }

  bool InTransaction() override {
    const auto s = PQtransactionStatus(link_->get());
    return s == PQTRANS_INTRANS || s == PQTRANS_INERROR || s == PQTRANS_ACTIVE;
  }

  void SchemaChanged() override {
    catalogue_.reset();
    // Kept plans of changed tables would fail; the server's copies go at the next limit.
    prepared_.clear();
  }

  std::unique_ptr<BackendRows> Run(const std::string& sql, const std::vector<const Variant*>& params, bool reuse,
                                   Fault& fault) override {
    const std::shared_ptr<Link> link = link_;
    ApplyTimeout();
    const std::string verb = sql::FirstWord(sql);
    const bool ddl = verb == "CREATE" || verb == "ALTER" || verb == "DROP" || verb == "TRUNCATE" || verb == "GRANT" ||
                     verb == "REVOKE" || verb == "COMMENT";
    if (ddl) {
      catalogue_.reset();
      if (!textRules_ && (verb == "CREATE" || verb == "ALTER")) {
        // Databases this backend did not create learn the text rules on first use.
        Fault ignored;
        const bool inTransaction = InTransaction();
        textRules_ = SetUpTextRules(*link, inTransaction, ignored);
        textFunctions_ = textFunctions_ || (textRules_ && !inTransaction);
      }
    } else if ((verb == "SELECT" || verb == "WITH") && !catalogue_ && !isMaster_) {
      // Read before the rows start arriving: afterwards it would wait for all of them.
      Fault f;
      if (!LoadCatalogue(f) && (f.kind == K::Timeout || f.kind == K::ConnectionLost)) {
        fault = f;
        return nullptr;
      }
    }
    if (!textFunctions_ && !isMaster_ && CallsTextFunction(sql)) {
      // Databases made before the text functions get them on first use; made inside a
      // transaction, they are looked for again until one is found outside.
      Result found;
      const bool inTransaction = InTransaction();
      Fault ignored;
      textFunctions_ =
          HasTextFunctions(*link, found) || (SetUpTextRules(*link, inTransaction, ignored) && !inTransaction);
    }
    std::vector<std::optional<std::string>> texts;
    texts.reserve(params.size());
    for (const Variant* p : params) texts.push_back(ParamText(*p));
    std::vector<const char*> values;
    values.reserve(texts.size());
    for (const auto& t : texts) values.push_back(t ? t->c_str() : nullptr);
    const std::string q = ValidUtf8(sql);

    std::string kept;
    AnswerPtr answer;
    if (ddl && values.empty()) {
      answer = link->SendScript(q);  // a definition may come as several statements
    } else if (reuse) {
      Result refused;
      answer = SendKept(*link, q, values, kept, refused);
      if (!answer && refused.r) {
        fault = MapFault(refused, link->get());
        return nullptr;
      }
    } else {
      answer = link->Send(q, values, true);
    }
    auto rows = std::make_unique<PgRows>(*this, link, answer);
    bool ok = rows->Start(fault);
    if (!ok && !kept.empty() && fault.sqlState == "0A000" && PQtransactionStatus(link->get()) == PQTRANS_IDLE) {
      // A table changed shape under the kept plan: forget it and run the text again.
      link->Exec("DEALLOCATE " + kept);
      prepared_.erase(q);
      fault = Fault();
      rows = std::make_unique<PgRows>(*this, link, link->Send(q, values, true));
      ok = rows->Start(fault);
    }
    // A SET inside what was undone is undone with it.
    if (verb == "ROLLBACK") applied_ = -1;
    if (!ok) return nullptr;
    return rows;
  }

  // The server parses a statement it is asked to prepare; inside a transaction a refusal
  // would end the transaction, so the attempt runs under a savepoint of its own.
  bool Parses(const std::string& sql, Fault& fault) override {
    const std::shared_ptr<Link> link = link_;
    const bool inTransaction = InTransaction();
    if (inTransaction && !link->Exec("SAVEPOINT tsql_parse").Ok()) return true;
    Result r = link->Last(link->SendPrepare("", ValidUtf8(sql)));
    const bool syntax = !r.Ok() && r.Field(PG_DIAG_SQLSTATE) == "42601";
    if (syntax) fault = MapFault(r, link->get());
    if (inTransaction) link->Exec("ROLLBACK TO SAVEPOINT tsql_parse; RELEASE SAVEPOINT tsql_parse");
    return !syntax;
  }

  std::vector<SchemaColumn> Columns(std::string_view table, Fault& fault) override {
    if (isMaster_ || (!catalogue_ && !LoadCatalogue(fault))) return {};
    return catalogue_->Columns(table, database_);
  }

  std::unique_ptr<Backend> Open(const std::string& database, Fault& fault) override {
    auto other = std::make_unique<PgBackend>(cfg_, text::TrimCopy(database), login_, connectTimeout_);
    other->timeout_ = timeout_;
    if (!other->Connect(fault)) return nullptr;
    return other;
  }

  bool DatabaseExists(const std::string& name, Fault& fault) override {
    const std::shared_ptr<Link> admin = Admin(fault);
    if (!admin) return false;
    const std::string physical = Physical(name);
    Result r = admin->ExecParams("SELECT 1 FROM pg_database WHERE datname = $1", {physical.c_str()});
    if (!r.Ok()) {
      fault = MapFault(r, admin->get());
      return false;
    }
    return PQntuples(r.r) > 0;
  }

  bool DropDatabase(const std::string& name, Fault& fault) override {
    const std::shared_ptr<Link> admin = Admin(fault);
    if (!admin) return false;
    const std::string physical = Physical(name);
    // Sessions still open on it are ended, as deleting an embedded database's file would.
    Result r = admin->Exec("DROP DATABASE " + Ident(physical) + " WITH (FORCE)");
    if (!r.Ok() && r.Field(PG_DIAG_SQLSTATE) == "42601") r = admin->Exec("DROP DATABASE " + Ident(physical));
    admin_.reset();
    if (!r.Ok()) fault = MapFault(r, admin->get());
    return r.Ok();
  }

  // The database, its login (name and password equal to the database's name) as owner,
  // and the text rules inside it.
  bool CreateDatabase(const std::string& name, Fault& fault) override {
    const std::shared_ptr<Link> admin = Admin(fault);
    if (!admin) return false;
    struct Done {
      std::shared_ptr<Link>& admin;
      ~Done() { admin.reset(); }
    } done{admin_};
    const std::string physical = Physical(name), role = text::Lower(name);
    Result found = admin->ExecParams("SELECT 1 FROM pg_roles WHERE rolname = $1", {role.c_str()});
    if (!found.Ok()) {
      fault = Failure(found, admin->get(), "login");
      return false;
    }
    if (PQntuples(found.r) == 0) {
      Result r = admin->Exec("CREATE ROLE " + Ident(role) + " LOGIN PASSWORD " + sql::QuoteLiteral(name));
      // Another session may have created the same login meanwhile.
      const std::string state = r.Field(PG_DIAG_SQLSTATE);
      if (!r.Ok() && state != "42710" && state != "23505") {
        fault = Failure(r, admin->get(), "login");
        return false;
      }
    }
    const std::string create =
        "CREATE DATABASE " + Ident(physical) + " OWNER " + Ident(role) + " TEMPLATE template0 ENCODING 'UTF8'";
    Result r = admin->Exec(create + " LOCALE_PROVIDER icu ICU_LOCALE 'und' LC_COLLATE 'C' LC_CTYPE 'C'");
    if (!r.Ok() && r.Field(PG_DIAG_SQLSTATE) == "42601") r = admin->Exec(create + " LC_COLLATE 'C' LC_CTYPE 'C'");
    if (!r.Ok()) {
      fault = r.Field(PG_DIAG_SQLSTATE) == "42P04" ? Fault(K::ObjectExists) : Failure(r, admin->get(), "database");
      return false;
    }
    // Only its login (and whoever is given that role) may open it.
    admin->Exec("REVOKE CONNECT, TEMPORARY ON DATABASE " + Ident(physical) + " FROM PUBLIC");
    bool ok = false;
    if (PGconn* raw = postgres::Connect(cfg_, physical, name, MasterLogin(), connectTimeout_, fault)) {
      Link fresh(raw);
      // Tables the administrator lays in it belong to its login as well.
      Result s = fresh.Exec("ALTER DEFAULT PRIVILEGES IN SCHEMA public GRANT ALL ON TABLES TO " + Ident(role) +
                            "; ALTER DEFAULT PRIVILEGES IN SCHEMA public GRANT ALL ON SEQUENCES TO " + Ident(role));
      ok = s.Ok() && SetUpTextRules(fresh, false, fault);
      if (!s.Ok()) fault = MapFault(s, fresh.get());
    }
    if (!ok) {
      admin->Exec("DROP DATABASE " + Ident(physical) + " WITH (FORCE)");
      fault.message = "setting the database up: " + fault.message;
    }
    return ok;
  }

  // The declared table and column of a result column read from a table, when known. Once
  // per statement the catalogue is read again: another session may have made the table.
  bool Declared(Oid table, int attnum, bool& reloaded, std::string& tableName, ColumnInfo& column) {
    if (isMaster_ || table < kFirstUserObject || attnum <= 0) return false;
    for (int attempt = 0; attempt < 2; ++attempt) {
      Fault ignored;
      if (!catalogue_ && !LoadCatalogue(ignored)) return false;
      if (auto it = catalogue_->byOid.find(table); it != catalogue_->byOid.end()) {
        if (const ColumnInfo* c = it->second.ByAttnum(attnum)) {
          tableName = it->second.name;
          column = *c;
          return true;
        }
      }
      if (reloaded) return false;
      reloaded = true;
      catalogue_.reset();
    }
    return false;
  }

 private:
  struct Kept {
    int uses = 0;
    std::string name;  // empty until prepared
  };
  static constexpr size_t kPreparedLimit = 1024;

  std::string Physical() const { return isMaster_ ? cfg_.maintenance : Physical(database_); }
  std::string Physical(std::string_view database) const { return cfg_.prefix + text::Lower(text::Trim(database)); }
  Login MasterLogin() const { return cfg_.admin.empty() ? DatabaseLogin() : Login{cfg_.admin, ""}; }
  Login DatabaseLogin() const { return cfg_.user.empty() ? login_ : Login{cfg_.user, ""}; }

  // The maintenance database under the administrator's login: the session's own
  // connection on master, else one of its own for the duration of the command.
  std::shared_ptr<Link> Admin(Fault& fault) {
    if (isMaster_) return link_;
    if (!admin_) {
      if (PGconn* conn = postgres::Connect(cfg_, cfg_.maintenance, "master", MasterLogin(), connectTimeout_, fault))
        admin_ = MakeLink(conn);
    }
    return admin_;
  }

  // Into a catalogue of its own first: a statement the wait hook runs may drop the kept one.
  bool LoadCatalogue(Fault& fault) {
    Catalogue fresh;
    if (!fresh.Load(*link_, fault)) return false;
    catalogue_ = std::move(fresh);
    return true;
  }

  // The session's CommandTimeout, applied only when it changed.
  void ApplyTimeout() {
    if (applied_ == timeout_) return;
    Result r = link_->ExecParams("SET statement_timeout = " + std::to_string(static_cast<long long>(timeout_) * 1000));
    applied_ = r.Ok() ? timeout_ : -1;
    // The client's own bound holds even when the server did not take it.
    link_->SetServerTimeout(timeout_);
  }

  // A link whose waits are bounded by the statement_timeout its connection starts with.
  std::shared_ptr<Link> MakeLink(PGconn* conn) const {
    auto link = std::make_shared<Link>(conn);
    link->SetServerTimeout(EffectiveTimeout(cfg_, 30));
    return link;
  }

  // A statement that comes back often is kept prepared from its second use. Null with
  // `refused` set when the server refuses to prepare it: that is the statement's own fault.
  AnswerPtr SendKept(Link& link, const std::string& q, const std::vector<const char*>& values, std::string& name,
                     Result& refused) {
    if (preparedOnServer_ >= kPreparedLimit && !prepared_.count(q)) {
      // Statements with ever new literals must not pile up on either side.
      link.Exec("DEALLOCATE ALL");
      prepared_.clear();
      preparedOnServer_ = 0;
    }
    // No reference into prepared_ is held across a wait: a statement the wait hook runs
    // may change it.
    Kept& k = prepared_[q];
    name = k.name;
    if (name.empty() && ++k.uses >= 2) {
      const std::string fresh = "tsql_" + std::to_string(++preparedCount_);
      Result r = link.Last(link.SendPrepare(fresh, q));
      if (!r.Ok()) {
        if (r.Field(PG_DIAG_SQLSTATE).empty()) return link.Send(q, values, true);
        refused = std::move(r);
        return nullptr;
      }
      name = fresh;
      prepared_[q].name = fresh;
      ++preparedOnServer_;
    }
    if (name.empty()) return link.Send(q, values, true);
    return link.SendPrepared(name, values, true);
  }

  Config cfg_;
  std::string database_;
  Login login_;
  int connectTimeout_;
  bool isMaster_ = false;
  std::shared_ptr<Link> link_;   // set once Connect succeeds
  std::shared_ptr<Link> admin_;  // during CREATE / DROP DATABASE
  int timeout_;                  // the statement_timeout asked, bounded by the entry's (server.h)
  int applied_;                  // as the connection's options set it
  bool textRules_ = false;
  bool textFunctions_ = false;  // the database has the text functions (kTextFunctions)
  long preparedCount_ = 0;
  size_t preparedOnServer_ = 0;
  std::unordered_map<std::string, Kept> prepared_;
  std::optional<Catalogue> catalogue_;
};

bool PgRows::Start(Fault& fault) {
  if (!answer_) {
    fault = MapFault(Result(), link_->get());
    return false;
  }
  switch (Take(fault)) {
    case Got::kFailed: return false;
    case Got::kEnd: return true;
    case Got::kRows: Describe(batch_); return true;
  }
  return true;
}

// Reads results until one with rows left to walk (kept in batch_), or the end.
PgRows::Got PgRows::Take(Fault& fault) {
  batch_ = Result();
  row_ = 0;
  while (!done_) {
    Result r = link_->Next(*answer_);
    if (r.End()) {
      done_ = true;
      break;
    }
    if (!r.Ok()) {
      fault = MapFault(r, link_->get());
      Discard();
      return Got::kFailed;
    }
    const auto s = r.Status();
    if (s == PGRES_SINGLE_TUPLE || (s == PGRES_TUPLES_OK && PQnfields(r.r) > 0)) {
      batch_ = std::move(r);
      // The closing result of single rows carries none; the columns are known already.
      if (PQntuples(batch_.r) > 0 || columns_.empty()) return Got::kRows;
      continue;
    }
    changes_ = std::atol(PQcmdTuples(r.r));
  }
  return Got::kEnd;
}

void PgRows::Describe(const Result& r) {
  const int n = PQnfields(r.r);
  bool reloaded = false;
  for (int i = 0; i < n; ++i) {
    ColumnMeta c;
    const std::string engineName = PQfname(r.r, i);
    const Oid type = PQftype(r.r, i);
    c.adoType = AdoFromOid(type, PQfmod(r.r, i), &c.definedSize);
    std::string table;
    ColumnInfo declared;
    if (backend_.Declared(PQftable(r.r, i), PQftablecol(r.r, i), reloaded, table, declared)) {
      c.adoType = declared.adoType;
      c.definedSize = declared.size;
      c.baseTable = table;
      c.baseColumn = declared.name;
      // A column the select list renamed (a AS x) keeps the name it was given.
      c.name = engineName == text::Lower(declared.name) || text::EqualsNoCase(engineName, declared.name) ? declared.name
                                                                                                         : engineName;
    } else {
      if (type == kBool) c.adoType = 3;  // a predicate: 1 or 0
      c.name = engineName == "?column?" ? "" : engineName;
    }
    types_.push_back(type);
    columns_.push_back(std::move(c));
  }
}

bool PgRows::Next(std::vector<Variant>& row, Fault& fault) {
  if (!batch_.r || row_ >= PQntuples(batch_.r)) {
    if (Take(fault) != Got::kRows) return false;
  }
  if (!batch_.r || row_ >= PQntuples(batch_.r)) return false;
  const int n = static_cast<int>(columns_.size());
  row.clear();
  row.reserve(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) {
    if (PQgetisnull(batch_.r, row_, i)) {
      row.push_back(Variant::Null());
      continue;
    }
    row.push_back(ReadValue(PQgetvalue(batch_.r, row_, i), PQgetlength(batch_.r, row_, i),
                            types_[static_cast<size_t>(i)], columns_[static_cast<size_t>(i)].adoType));
  }
  ++row_;
  return true;
}

}  // namespace

namespace {

class PgOpening final : public Opening {
 public:
  explicit PgOpening(std::unique_ptr<PgBackend> backend) : backend_(std::move(backend)) {}
  bool Start(Fault& fault) {
    attempt_ = backend_->StartConnect(fault);
    return attempt_ != nullptr;
  }
  Attempt& attempt() override { return *attempt_; }
  std::unique_ptr<Backend> Finish(Fault& fault) override {
    if (!backend_->Adopt(*attempt_, fault)) return nullptr;
    attempt_.reset();
    return std::move(backend_);
  }

 private:
  std::unique_ptr<PgBackend> backend_;
  std::unique_ptr<Attempt> attempt_;
};

}  // namespace

std::unique_ptr<Opening> StartOpen(const std::string& server, const std::string& location, const std::string& dataRoot,
                                   const ConnectRequest& request, Fault& fault, const std::string& where) {
  Config cfg;
  if (!ParseConfig(server, location, dataRoot, cfg, fault, where)) return nullptr;
  const int timeout =
      std::min(request.connectTimeoutSeconds > 0 ? request.connectTimeoutSeconds : 5, cfg.connectTimeout);
  auto backend = std::make_unique<PgBackend>(std::move(cfg), text::TrimCopy(request.database),
                                             Login{text::TrimCopy(request.user), request.password}, timeout);
  auto opening = std::make_unique<PgOpening>(std::move(backend));
  if (!opening->Start(fault)) return nullptr;
  return opening;
}

std::unique_ptr<Backend> Open(const std::string& server, const std::string& location, const std::string& dataRoot,
                              const ConnectRequest& request, Fault& fault) {
  auto opening = StartOpen(server, location, dataRoot, request, fault);
  if (!opening) return nullptr;
  Await({&opening->attempt()});
  return opening->Finish(fault);
}

}  // namespace etapas::engine::postgres
