// The T-SQL session: SQL Server's behaviour over any backend. Batches are split and
// translated once (the plans are kept), @@TRANCOUNT counts BEGIN TRANSACTION over one
// engine transaction, a statement that breaks a rule is undone alone while the batch goes
// on, and [db].dbo.t runs on that database's own session.
#include <atomic>
#include <cstdint>
#include <map>
#include <unordered_map>
#include <utility>

#include "components/ado_types.h"
#include "components/text.h"
#include "engine/backend.h"
#include "engine/kept.h"
#include "engine/recycled.h"

namespace etapas::engine {

std::unique_ptr<RowStream> Session::Stream(std::string_view tsql, std::vector<ProviderError>& errors) {
  // Sessions that cannot stream give the whole result at once.
  struct Whole final : RowStream {
    ResultSet rs;
    std::vector<ResultSet> later;
    size_t next = 0;
    const std::vector<ColumnMeta>& Columns() const override { return rs.columns; }
    std::vector<ResultSet> TakeLater() override { return std::move(later); }
    bool Next(std::vector<Variant>& row, std::vector<ProviderError>&) override {
      if (next >= rs.rows.size()) return false;
      row = std::move(rs.rows[next++]);
      return true;
    }
  };
  ExecOutcome out = Execute(tsql);
  if (!out.errors.empty()) {
    errors = std::move(out.errors);
    return nullptr;
  }
  auto whole = std::make_unique<Whole>();
  whole->rs = std::move(out.result);
  whole->later = std::move(out.later);
  return whole;
}

namespace {

using K = Fault::Kind;

// A conversion error ends the batch and takes an open transaction with it.
bool EndsTransaction(K kind) { return kind == K::Conversion; }

// Errors after which SQL Server goes on with the next statement of the batch; the others
// (syntax, missing objects, lost connections, time-outs...) end the batch.
bool EndsStatementOnly(K kind) {
  switch (kind) {
    case K::DuplicateKey:
    case K::ForeignKey:
    case K::Referenced:
    case K::Check:
    case K::Length:
    case K::NotNull:
    case K::Raised:
    case K::Overflow:
    case K::DivideByZero:
    case K::InvalidLength:
    case K::Lock:
    case K::ObjectExists:
    case K::ColumnExists:
    case K::Permission: return true;
    default: return false;
  }
}

bool IsMasterName(std::string_view name) { return text::EqualsNoCase(text::Trim(name), "master"); }

// Columns declared char(n)/nchar(n), with their n: the server gives their values back
// padded with blanks to n characters, whether or not the engine stored the blanks.
using Padding = std::vector<std::pair<size_t, size_t>>;

Padding PaddingOf(const std::vector<ColumnMeta>& columns) {
  Padding out;
  for (size_t i = 0; i < columns.size(); ++i)
    if ((columns[i].adoType == ado::adtype::kChar || columns[i].adoType == ado::adtype::kWChar) &&
        columns[i].definedSize > 0)
      out.emplace_back(i, static_cast<size_t>(columns[i].definedSize));
  return out;
}

void Pad(const Padding& padding, std::vector<Variant>& row) {
  for (const auto& [i, n] : padding) {
    if (i >= row.size() || row[i].kind() != Variant::Kind::Text) continue;
    const std::string& t = row[i].AsText();
    size_t characters = 0;
    for (const char c : t) characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    if (characters < n) row[i].AssignText(t + std::string(n - characters, ' '));
  }
}

// The names of the statement's select list as it wrote them, by their lower-case form:
// engines that fold names give result columns back in lower case.
std::unordered_map<std::string, std::string> WrittenNames(std::string_view statement) {
  std::unordered_map<std::string, std::string> out;
  std::vector<sql::Token> toks;
  try {
    toks = sql::Tokenize(statement);
  } catch (const sql::SyntaxError&) { return out; }
  int depth = 0;
  bool inList = false;
  for (const auto& t : toks) {
    if (t.kind == sql::TokenKind::Symbol && t.value == "(") ++depth;
    if (t.kind == sql::TokenKind::Symbol && t.value == ")") --depth;
    if (depth != 0) continue;
    if (t.kind == sql::TokenKind::Word && text::EqualsNoCase(t.value, "SELECT")) {
      inList = true;
      continue;
    }
    if (t.kind == sql::TokenKind::Word && text::EqualsNoCase(t.value, "FROM") && inList) break;
    if (inList && (t.kind == sql::TokenKind::Word || t.kind == sql::TokenKind::QuotedName))
      out.emplace(text::Lower(t.value), t.value);
  }
  return out;
}

struct Planned {
  std::string statement;  // as the batch wrote it
  sql::Translation translation;
  std::string verb;    // first word of the translation
  bool blank = false;  // the translation has nothing to run (a comment, say)
  std::unordered_map<std::string, std::string> written;
};
using Plan = std::shared_ptr<const std::vector<Planned>>;

class TsqlSession;

// A query's rows on their way from the backend. When the session is needed for something
// else before the walk ends, the rest is read into memory first.
class LiveStream final : public RowStream, public Recycled<LiveStream> {
 public:
  LiveStream(TsqlSession* session, std::unique_ptr<BackendRows> rows,
             std::shared_ptr<const std::vector<ColumnMeta>> columns, const Planned* planned)
      : session_(session),
        rows_(std::move(rows)),
        columns_(std::move(columns)),
        planned_(planned),
        padding_(PaddingOf(*columns_)),
        ended_(rows_ == nullptr) {}
  ~LiveStream() override;

  const std::vector<ColumnMeta>& Columns() const override { return *columns_; }
  std::shared_ptr<const std::vector<ColumnMeta>> SharedColumns() const override { return columns_; }
  bool Next(std::vector<Variant>& row, std::vector<ProviderError>& errors) override;
  void Stop() override;
  std::uint64_t Maker() const override { return maker_; }

  // Reads what is left, so that the session may run something else; false while the stream
  // itself is reading (the backend keeps what arrives meanwhile).
  void Buffer();
  void Forget() { session_ = nullptr; }
  // The plan the statement belongs to, which keeps its text for the errors of the walk and
  // for reading the query again.
  void Hold(Plan plan) {
    const std::string* statement = &plan->front().statement;
    text_ = std::shared_ptr<const std::string>(std::move(plan), statement);
  }
  std::shared_ptr<const std::string> Text() const override { return text_; }
  void Keep(std::vector<std::vector<Variant>> rows) {
    for (auto& r : rows) buffered_.push_back(std::move(r));
  }

 private:
  friend class TsqlSession;
  void Finish();
  std::string_view Statement() const { return planned_ ? std::string_view(planned_->statement) : std::string_view(); }

  TsqlSession* session_;  // null once the reading ended
  // Kept past the end when the backend can run the statement again from it.
  std::unique_ptr<BackendRows> rows_;
  std::shared_ptr<const std::vector<ColumnMeta>> columns_;
  std::shared_ptr<const std::string> text_;
  const Planned* planned_;  // in the plan text_ holds
  Padding padding_;         // of columns_
  Fault fault_;             // of the backend's reading, made once for every row
  std::uint64_t maker_ = 0;
  // Rows read ahead, given from `given_` on; a vector, as a deque costs two blocks even empty.
  std::vector<std::vector<Variant>> buffered_;
  size_t given_ = 0;
  std::vector<ProviderError> failure_;  // met while buffering; given at its place in the walk
  bool reading_ = false;
  bool ended_;
  // Started with no statement savepoint nor transaction of its own: running it again needs
  // nothing but the statement while the session's transaction state stays the same.
  bool rerunnable_ = false;
};

class TsqlSession final : public Session {
 public:
  explicit TsqlSession(std::unique_ptr<Backend> backend) : backend_(std::move(backend)) {
    isMaster_ = IsMasterName(backend_->Database());
    backend_->SetCommandTimeout(timeout_);
  }
  ~TsqlSession() override {
    if (LiveStream* live = live_) {
      live->Buffer();
      live->Forget();
    }
  }
  TsqlSession(const TsqlSession&) = delete;
  TsqlSession& operator=(const TsqlSession&) = delete;

  std::string Provider() const override { return backend_->Provider(); }
  std::string Database() const override { return backend_->Database(); }
  int TranCount() const override { return depth_; }

  void SetCommandTimeout(int seconds) override {
    timeout_ = std::max(0, seconds);
    backend_->SetCommandTimeout(timeout_);
    for (auto& [name, other] : others_) other->SetCommandTimeout(timeout_);
  }

  ExecOutcome Execute(std::string_view tsql) override {
    ExecOutcome out;
    Settle();
    Plan plan = Planning(tsql, out.errors);
    if (!plan) return out;
    for (const auto& p : *plan)
      if (!RunStatement(p, out, nullptr)) break;
    return out;
  }

  std::unique_ptr<RowStream> Stream(std::string_view tsql, std::vector<ProviderError>& errors) override {
    Settle();
    Plan plan = Planning(tsql, errors);
    if (!plan) return nullptr;
    if (plan->size() != 1 || plan->front().translation.kind != sql::StatementKind::Query)
      return Session::Stream(tsql, errors);
    ExecOutcome out;
    std::unique_ptr<RowStream> stream;
    RunStatement(plan->front(), out, &stream);
    if (stream) static_cast<LiveStream*>(stream.get())->Hold(std::move(plan));
    if (!out.errors.empty()) {
      errors = std::move(out.errors);
      return nullptr;
    }
    if (!stream) {
      // Nothing to walk (a query on another database, say): the rows came whole.
      auto whole = std::make_unique<LiveStream>(
          nullptr, nullptr, std::make_shared<const std::vector<ColumnMeta>>(std::move(out.result.columns)), nullptr);
      whole->Keep(std::move(out.result.rows));
      return whole;
    }
    return stream;
  }

  bool Again(RowStream& stream, std::string_view tsql, std::vector<ProviderError>& errors) override {
    if (stream.Maker() != id_) return false;
    auto& s = static_cast<LiveStream&>(stream);
    if (!s.rerunnable_ || !s.rows_ || !s.planned_) return false;
    if (live_ != &s) Settle();
    // The same plan, so nothing that changes the schema or the database came in between.
    const Plan* kept = plans_.Find(tsql);
    if (!kept || &(*kept)->front() != s.planned_) return false;
    SyncTransaction();
    if (depth_ > 0 && !backend_->UndoesFailedStatement()) return false;  // a savepoint first
    if (!s.rows_->Again(s.fault_)) {
      if (!s.fault_) return false;
      const Fault fault = std::exchange(s.fault_, Fault{});
      s.Stop();
      Failed(fault, s.planned_->statement, errors, false);
      return false;
    }
    if (auto shared = s.rows_->SharedColumns(); !shared || shared != s.columns_) {
      s.columns_ = NamedColumns(*s.planned_, *s.rows_);
      s.padding_ = PaddingOf(*s.columns_);
    }
    s.buffered_.clear();
    s.given_ = 0;
    s.failure_.clear();
    s.ended_ = false;
    s.session_ = this;
    live_ = &s;
    return true;
  }

  bool UseDatabase(std::string_view database, ProviderError& error) override {
    const std::string name = text::TrimCopy(database);
    if (text::EqualsNoCase(name, backend_->Database())) return true;
    if (Waiting()) {
      // Called from the wait hook: the statement waiting needs this connection until it ends.
      error = {native::kOther, "The connection is busy with another statement; the database cannot change now.",
               "HY000"};
      return false;
    }
    Settle();
    if (!IsMasterName(name) && !ValidDatabaseName(name, backend_->MaxDatabaseName())) {
      error = Describe(Fault(K::CannotOpenDatabase), "", name);
      return false;
    }
    Fault fault;
    auto fresh = backend_->Open(name, fault);
    if (!fresh) {
      if (fault.kind == K::NoSuchDatabase) fault.kind = K::CannotOpenDatabase;
      error = Describe(fault, "", name);
      return false;
    }
    backend_ = std::move(fresh);
    backend_->SetCommandTimeout(timeout_);
    isMaster_ = IsMasterName(name);
    plans_.Clear();
    others_.clear();
    depth_ = 0;
    savepoint_ = false;
    return true;
  }

  std::vector<SchemaColumn> Columns(std::string_view catalog, std::string_view table,
                                    std::vector<ProviderError>& errors) override {
    Settle();
    if (!catalog.empty() && !text::EqualsNoCase(text::Trim(catalog), backend_->Database())) {
      // Another database of the same server; a missing one simply has no columns.
      ProviderError ignored;
      TsqlSession* other = Other(text::TrimCopy(catalog), ignored);
      return other ? other->Columns("", table, errors) : std::vector<SchemaColumn>{};
    }
    if (isMaster_) return {};
    Fault fault;
    auto out = backend_->Columns(text::Trim(table), fault);
    if (fault) errors.push_back(Describe(fault, "SELECT * FROM [" + std::string(table) + "]"));
    return out;
  }

  bool InsertRow(std::string_view table, const NamedValues& values, std::vector<ProviderError>& errors) override {
    std::string q = "INSERT INTO " + Name(table), shown = "INSERT INTO [" + std::string(table) + "]";
    std::vector<const Variant*> params;
    if (values.empty()) {
      q += " DEFAULT VALUES";
    } else {
      std::string cols, marks, shownCols;
      for (const auto& [name, v] : values) {
        params.push_back(&v);
        cols += (cols.empty() ? "" : ",") + Name(name);
        shownCols += (shownCols.empty() ? "" : ",") + ("[" + name + "]");
        marks += (marks.empty() ? "" : ",") + backend_->Parameter(static_cast<int>(params.size()));
      }
      q += " (" + cols + ") VALUES (" + marks + ")";
      shown += " (" + shownCols + ")";
    }
    return Command(q, shown, params, errors) >= 0;
  }

  long UpdateRows(std::string_view table, const NamedValues& criteria, const NamedValues& values,
                  std::vector<ProviderError>& errors) override {
    std::string q = "UPDATE " + Name(table) + " SET ", shown = "UPDATE [" + std::string(table) + "] SET";
    std::vector<const Variant*> params;
    bool first = true;
    for (const auto& [name, v] : values) {
      params.push_back(&v);
      q += (first ? "" : ", ") + Name(name) + " = " + backend_->Parameter(static_cast<int>(params.size()));
      shown += " [" + name + "]";
      first = false;
    }
    first = true;
    for (const auto& [name, v] : criteria) {
      q += first ? " WHERE " : " AND ";
      first = false;
      if (v.IsNull() || v.IsEmpty()) {
        q += Name(name) + " IS NULL";
      } else {
        params.push_back(&v);
        q += Name(name) + " = " + backend_->Parameter(static_cast<int>(params.size()));
      }
    }
    return Command(q, shown, params, errors);
  }

  // The stream that reads from this session ended or is gone.
  void Released(LiveStream* stream) {
    if (live_ == stream) live_ = nullptr;
  }

 private:
  static constexpr size_t kPlanCacheSize = 256;

  // PostgreSQL folds bare names to lower case and compares quoted ones exactly.
  std::string Name(std::string_view name) const {
    const std::string_view n = text::Trim(name);
    return sql::QuoteIdentifier(backend_->Dialect() == sql::Engine::PostgreSQL ? text::Lower(n) : std::string(n));
  }

  bool Waiting() const {
    if (backend_->Waiting() || serverCommand_) return true;
    for (const auto& [name, other] : others_)
      if (other->Waiting()) return true;
    return false;
  }

  // Before the session does anything else, a stream still being walked is read to its end.
  void Settle() {
    if (live_) live_->Buffer();
  }

  // The result's columns, with names the engine folded given back as the statement wrote them.
  static std::shared_ptr<const std::vector<ColumnMeta>> NamedColumns(const Planned& p, const BackendRows& rows) {
    bool renamed = false;
    if (!p.written.empty())
      for (const auto& c : rows.Columns())
        if (auto w = p.written.find(text::Lower(c.name)); w != p.written.end() && w->second != c.name) renamed = true;
    if (!renamed)
      if (auto shared = rows.SharedColumns()) return shared;
    std::vector<ColumnMeta> columns = rows.Columns();
    for (auto& c : columns)
      if (auto w = p.written.find(text::Lower(c.name)); w != p.written.end()) c.name = w->second;
    return std::make_shared<const std::vector<ColumnMeta>>(std::move(columns));
  }

  // The batch split and translated; kept, as programs send the same batches over and over.
  Plan Planning(std::string_view tsql, std::vector<ProviderError>& errors) {
    if (const Plan* kept = plans_.Find(tsql)) return *kept;
    std::string key(tsql);
    auto plan = std::make_shared<std::vector<Planned>>();
    try {
      for (auto& statement : sql::SplitStatements(tsql)) {
        Planned p;
        p.translation = sql::Translate(statement, {backend_->Dialect(), backend_->Database()});
        p.verb = sql::FirstWord(p.translation.sql);
        p.blank = text::Trim(p.translation.sql).empty();
        if (p.translation.kind == sql::StatementKind::Query) p.written = WrittenNames(statement);
        p.statement = std::move(statement);
        plan->push_back(std::move(p));
      }
    } catch (const sql::SyntaxError& e) {
      // Nothing of a batch that cannot be read runs, as on the server.
      errors.push_back(SyntaxErrorOf(e));
      return nullptr;
    }
    // The server reads the whole batch before running any of it.
    if (plan->size() > 1) {
      for (const auto& p : *plan) {
        const auto kind = p.translation.kind;
        if (kind != sql::StatementKind::Query && kind != sql::StatementKind::Other) continue;
        if (text::Trim(p.translation.sql).empty() || !p.translation.trancountAt.empty()) continue;
        Fault fault;
        if (!backend_->Parses(p.translation.sql, fault)) {
          errors.push_back(Describe(fault, p.statement));
          return nullptr;
        }
      }
    }
    return plans_.Put(std::move(key), std::move(plan), kPlanCacheSize);
  }

  // The engine may have ended the transaction itself (a lost connection, a deadlock).
  void SyncTransaction() {
    if (depth_ > 0 && !backend_->InTransaction()) {
      depth_ = 0;
      savepoint_ = false;
      if (std::exchange(schemaInTransaction_, false)) {
        backend_->SchemaChanged();
        plans_.Clear();
      }
    }
  }

  bool Control(const std::string& q, Fault& fault) {
    auto rows = backend_->Run(q, {}, false, fault);
    return rows != nullptr && !fault;
  }

  // A failure of the statement: reported as SQL Server does, the statement undone; whether
  // the batch goes on.
  bool Failed(const Fault& fault, const std::string& statement, std::vector<ProviderError>& errors, bool guarded) {
    AddError(errors, Describe(fault, statement, backend_->Database()));
    if (EndsTransaction(fault.kind) && backend_->InTransaction()) {
      Fault ignored;
      Control("ROLLBACK", ignored);
      schemaInTransaction_ = false;
      backend_->SchemaChanged();
      plans_.Clear();
    } else if (guarded) {
      Fault ignored;
      Control("ROLLBACK TO SAVEPOINT tsql_statement", ignored);
    }
    SyncTransaction();
    return EndsStatementOnly(fault.kind);
  }

  // Inside a transaction, a savepoint before each statement lets a failing one be undone
  // alone where the engine would not do it by itself. Returns whether one was set.
  bool Guard(bool severalParts, Fault& fault) {
    SyncTransaction();
    if (depth_ == 0 || (backend_->UndoesFailedStatement() && !severalParts)) return false;
    const bool ok = Control(savepoint_ ? "RELEASE SAVEPOINT tsql_statement" : "SAVEPOINT tsql_statement", fault) &&
                    (!savepoint_ || Control("SAVEPOINT tsql_statement", fault));
    savepoint_ = ok;
    return ok;
  }

  bool Begin(ExecOutcome& out) {
    SyncTransaction();
    if (depth_ == 0) {
      Fault fault;
      if (!Control("BEGIN", fault)) {
        AddError(out.errors, Describe(fault, "BEGIN TRANSACTION"));
        return false;
      }
      savepoint_ = false;
    }
    ++depth_;
    return true;
  }

  bool Commit(ExecOutcome& out) {
    SyncTransaction();
    if (depth_ == 0) {
      out.errors.push_back({native::kNoBeginForCommit,
                            "The COMMIT TRANSACTION request has no corresponding BEGIN TRANSACTION.", "25000"});
      return true;
    }
    if (--depth_ > 0) return true;
    savepoint_ = false;
    const bool schema = std::exchange(schemaInTransaction_, false);
    Fault fault;
    if (!Control("COMMIT", fault)) {
      // A refused commit is a rollback.
      if (schema) {
        backend_->SchemaChanged();
        plans_.Clear();
      }
      AddError(out.errors, Describe(fault, "COMMIT TRANSACTION"));
      SyncTransaction();
      return false;
    }
    return true;
  }

  bool Rollback(ExecOutcome& out) {
    SyncTransaction();
    if (depth_ == 0) {
      out.errors.push_back({native::kNoBeginForRollback,
                            "The ROLLBACK TRANSACTION request has no corresponding BEGIN TRANSACTION.", "25000"});
      return true;
    }
    depth_ = 0;
    savepoint_ = false;
    Fault fault;
    const bool ok = Control("ROLLBACK", fault);
    // A SET or a new table inside the transaction is undone with it; rows alone change neither.
    if (std::exchange(schemaInTransaction_, false)) {
      backend_->SchemaChanged();
      plans_.Clear();
    }
    if (!ok) {
      AddError(out.errors, Describe(fault, "ROLLBACK TRANSACTION"));
      return false;
    }
    return true;
  }

  // Another database of this server, on a session of its own.
  TsqlSession* Other(const std::string& database, ProviderError& error) {
    const std::string key = text::Lower(database);
    if (auto it = others_.find(key); it != others_.end()) return it->second.get();
    if (IsMasterName(database) || !ValidDatabaseName(database, backend_->MaxDatabaseName())) {
      error = Describe(Fault(K::NoSuchDatabase), "", database);
      return nullptr;
    }
    Fault fault;
    auto backend = backend_->Open(database, fault);
    if (!backend) {
      if (fault.kind == K::CannotOpenDatabase) fault.kind = K::NoSuchDatabase;
      error = Describe(fault, "", database);
      return nullptr;
    }
    auto other = std::make_unique<TsqlSession>(std::move(backend));
    other->SetCommandTimeout(timeout_);
    return others_.emplace(key, std::move(other)).first->second.get();
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
    const bool create = t.kind == sql::StatementKind::CreateDatabase;
    if (!ValidDatabaseName(name, backend_->MaxDatabaseName()) || IsMasterName(name)) {
      out.errors.push_back({native::kOther, "'" + name + "' is not a valid database name.", "42000"});
      return false;
    }
    SyncTransaction();
    if (depth_ > 0) {
      out.errors.push_back({226,
                            std::string(create ? "CREATE" : "DROP") +
                                " DATABASE statement not allowed within multi-statement transaction.",
                            "25000"});
      return false;
    }
    struct Restore {
      bool& flag;
      bool was;
      ~Restore() { flag = was; }
    } restore{serverCommand_, serverCommand_};
    serverCommand_ = true;
    Fault fault;
    const bool exists = backend_->DatabaseExists(name, fault);
    if (fault) {
      AddError(out.errors, Describe(fault, create ? "CREATE DATABASE" : "DROP DATABASE", name));
      return false;
    }
    if (create && exists) {
      out.errors.push_back({native::kDatabaseExists,
                            "Database '" + name + "' already exists. Choose a different database name.", "42000"});
      return false;
    }
    if (!create && !exists) {
      out.errors.push_back(
          {3701, "Cannot drop the database '" + name + "', because it does not exist or you do not have permission.",
           "42000"});
      return false;
    }
    if (!create && text::EqualsNoCase(name, backend_->Database())) {
      out.errors.push_back({3702, "Cannot drop database \"" + name + "\" because it is currently in use.", "42000"});
      return false;
    }
    if (!create) others_.erase(text::Lower(name));
    if (!(create ? backend_->CreateDatabase(name, fault) : backend_->DropDatabase(name, fault))) {
      ProviderError e = Describe(fault, create ? "CREATE DATABASE" : "DROP DATABASE", name);
      if (fault.kind == K::ObjectExists)
        e = {native::kDatabaseExists, "Database '" + name + "' already exists. Choose a different database name.",
             "42000"};
      else
        e.description = std::string(create ? "CREATE" : "DROP") + " DATABASE failed: " + e.description;
      out.errors.push_back(e);
      return false;
    }
    return true;
  }

  // Runs one planned statement; false when the batch must end. `stream`: a query's rows
  // are handed over unread instead of being kept in out.
  // One statement's run, in the order the server takes its steps.
  // NOLINTNEXTLINE(readability-function-cognitive-complexity)
  bool RunStatement(const Planned& p, ExecOutcome& out, std::unique_ptr<RowStream>* stream) {
    const sql::Translation& t = p.translation;
    switch (t.kind) {
      case sql::StatementKind::CreateDatabase:
      case sql::StatementKind::DropDatabase:
      case sql::StatementKind::Use: return ServerCommand(t, out);
      case sql::StatementKind::Begin: return Begin(out);
      case sql::StatementKind::Commit: return Commit(out);
      case sql::StatementKind::Rollback: return Rollback(out);
      default: break;
    }
    if (p.blank) return true;
    if (!t.otherDatabases.empty()) {
      if (t.otherDatabases.size() > 1 || t.ownTables) {
        out.errors.push_back({native::kInvalidObject,
                              "Invalid object name '" + t.otherDatabases.front() +
                                  ".dbo...': a statement cannot join tables of two databases of this server.",
                              "42S02"});
        return false;
      }
      ProviderError e;
      TsqlSession* other = Other(t.otherDatabases.front(), e);
      if (!other) {
        out.errors.push_back(e);
        return false;
      }
      Planned local = p;
      local.translation.otherDatabases.clear();
      return other->RunStatement(local, out, nullptr);
    }
    if (isMaster_ && t.kind != sql::StatementKind::Query) {
      out.errors.push_back(
          {native::kInvalidObject, "The master database of a server holds no tables; connect to a database.", "42S02"});
      return false;
    }
    // @@TRANCOUNT is this session's count, written into the statement.
    std::string q;
    if (!t.trancountAt.empty()) {
      q = t.sql;
      const std::string n = std::to_string(depth_);
      for (auto it = t.trancountAt.rbegin(); it != t.trancountAt.rend(); ++it) q.insert(std::min(*it, q.size()), n);
    }
    const std::string& text = t.trancountAt.empty() ? t.sql : q;
    const bool severalParts = !t.then.empty();
    Fault fault;
    bool guarded = Guard(severalParts, fault);
    if (fault) return Failed(fault, p.statement, out.errors, false);
    // Outside a transaction the parts of one statement stand or fall together.
    bool ownTransaction = false;
    if (severalParts && depth_ == 0) {
      if (!Control("BEGIN", fault)) return Failed(fault, p.statement, out.errors, false);
      ownTransaction = true;
    }
    auto fail = [&](const Fault& f) {
      if (ownTransaction) {
        Fault ignored;
        Control("ROLLBACK", ignored);
      }
      return Failed(f, p.statement, out.errors, guarded);
    };
    const bool reuse =
        t.trancountAt.empty() && (t.kind == sql::StatementKind::Query || t.kind == sql::StatementKind::Other);
    // Only what is not plain data can leave the catalogue or the plans wrong after a rollback.
    if (depth_ > 0 && p.verb != "SELECT" && p.verb != "INSERT" && p.verb != "UPDATE" && p.verb != "DELETE")
      schemaInTransaction_ = true;
    auto rows = backend_->Run(text, {}, reuse, fault);
    if (!rows || fault) return fail(fault);
    if (!rows->Columns().empty()) {
      auto columns = NamedColumns(p, *rows);
      if (stream && !out.hasResult) {
        auto live = std::make_unique<LiveStream>(this, std::move(rows), std::move(columns), &p);
        live->rerunnable_ = !guarded && !ownTransaction;
        live->maker_ = id_;
        live_ = live.get();
        *stream = std::move(live);
        return true;
      }
      const Padding padding = PaddingOf(*columns);
      ResultSet rs;
      std::vector<Variant> row;
      while (rows->Next(row, fault)) {
        if (!padding.empty()) Pad(padding, row);
        rs.rows.push_back(std::move(row));
      }
      if (fault) return fail(fault);
      rs.columns = *columns;
      if (out.hasResult) {
        out.later.push_back(std::move(rs));
      } else {
        out.result = std::move(rs);
        out.hasResult = true;
      }
    } else {
      out.rowsAffected = rows->Changes();
    }
    rows.reset();
    for (const auto& more : t.then) {
      auto r = backend_->Run(more, {}, false, fault);
      if (!r || fault) return fail(fault);
    }
    if (ownTransaction && !Control("COMMIT", fault)) return fail(fault);
    if (p.verb == "CREATE" || p.verb == "ALTER" || p.verb == "DROP" || p.verb == "TRUNCATE") {
      backend_->SchemaChanged();
      for (auto& [name, other] : others_) other->backend_->SchemaChanged();
    }
    return true;
  }

  // A parameterised data change; the number of rows, or -1 with errors.
  long Command(const std::string& q, const std::string& shown, const std::vector<const Variant*>& params,
               std::vector<ProviderError>& errors) {
    Settle();
    if (isMaster_) {
      errors.push_back(
          {native::kInvalidObject, "The master database of a server holds no tables; connect to a database.", "42S02"});
      return -1;
    }
    Fault fault;
    const bool guarded = Guard(false, fault);
    if (fault) {
      Failed(fault, shown, errors, false);
      return -1;
    }
    auto rows = backend_->Run(q, params, true, fault);
    if (!rows || fault) {
      Failed(fault, shown, errors, guarded);
      return -1;
    }
    return rows->Changes();
  }

  static std::uint64_t NextId() {
    static std::atomic<std::uint64_t> last{0};
    return ++last;
  }

  // Tells this session's streams from others' without touching them.
  const std::uint64_t id_ = NextId();
  std::unique_ptr<Backend> backend_;
  bool isMaster_ = false;
  int timeout_ = 30;
  int depth_ = 0;                     // BEGIN TRANSACTION nesting, as @@TRANCOUNT
  bool schemaInTransaction_ = false;  // the open transaction ran more than plain data statements
  bool savepoint_ = false;            // the statement savepoint exists in the open transaction
  bool serverCommand_ = false;
  LiveStream* live_ = nullptr;
  KeptByText<Plan> plans_;
  std::map<std::string, std::unique_ptr<TsqlSession>> others_;
};

LiveStream::~LiveStream() {
  if (session_) session_->Released(this);
}

void LiveStream::Finish() {
  // An engine that keeps the statement lets it go here and can run it again later.
  if (rows_ && !rows_->Rest()) rows_.reset();
  ended_ = true;
  if (session_) session_->Released(this);
  session_ = nullptr;
}

void LiveStream::Stop() {
  buffered_.clear();
  given_ = 0;
  failure_.clear();
  if (!ended_) Finish();
}

bool LiveStream::Next(std::vector<Variant>& row, std::vector<ProviderError>& errors) {
  if (given_ < buffered_.size()) {
    row = std::move(buffered_[given_++]);
    if (given_ == buffered_.size()) {
      buffered_.clear();
      given_ = 0;
    }
    return true;
  }
  if (!failure_.empty()) {
    errors = std::move(failure_);
    failure_.clear();
    return false;
  }
  if (ended_) return false;
  reading_ = true;
  const bool more = rows_->Next(row, fault_);
  reading_ = false;
  if (more) {
    if (!padding_.empty()) Pad(padding_, row);
    return true;
  }
  if (fault_) {
    AddError(errors, Describe(fault_, Statement()));
    fault_ = Fault{};
  }
  Finish();
  return false;
}

void LiveStream::Buffer() {
  if (ended_ || reading_) return;
  Fault fault;
  std::vector<Variant> row;
  while (rows_->Next(row, fault)) {
    if (!padding_.empty()) Pad(padding_, row);
    buffered_.push_back(std::move(row));
  }
  if (fault) AddError(failure_, Describe(fault, Statement()));
  Finish();
}

}  // namespace

std::unique_ptr<Session> MakeSession(std::unique_ptr<Backend> backend) {
  return std::make_unique<TsqlSession>(std::move(backend));
}

}  // namespace etapas::engine
