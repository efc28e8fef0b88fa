#pragma once
// The engine boundary. The data API (ado.h) talks to engines only through this interface.
// Sessions speak SQL Server's T-SQL with SQL Server's behaviour whatever the engine below
// (engine.h); backends (backend.h) only run what the engine hands them.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "components/variant.h"

namespace etapas::engine {

// One error of the engine, already in SQL Server's terms: native number and a sentence.
struct ProviderError {
  long native = 0;
  std::string description;
  std::string sqlState;
};

// Native numbers the engines report, as SQL Server numbers them.
namespace native {
inline constexpr long kDuplicateKey = 2627;
inline constexpr long kConstraint = 547;
inline constexpr long kInvalidObject = 208;
inline constexpr long kInvalidColumn = 207;
inline constexpr long kSyntax = 102;
inline constexpr long kNullNotAllowed = 515;
inline constexpr long kTruncation = 8152;
inline constexpr long kConversion = 245;
inline constexpr long kStatementTerminated = 3621;
inline constexpr long kUserRaised = 50000;  // a trigger or rule refused the change
inline constexpr long kLockTimeout = 1222;
inline constexpr long kNoBeginForCommit = 3902;
inline constexpr long kNoBeginForRollback = 3903;
inline constexpr long kDatabaseExists = 1801;
inline constexpr long kCannotOpenDatabase = 4060;
inline constexpr long kLoginFailed = 18456;
inline constexpr long kServerNotFound = 17;
inline constexpr long kNoSuchDatabase = 911;
inline constexpr long kFeatureNotSupported = 40000;
inline constexpr long kOther = 50001;
}  // namespace native

struct ColumnMeta {
  std::string name;
  int adoType = 200;
  long definedSize = 0;   // characters for text columns when declared, else 0
  std::string baseTable;  // table the column comes from; empty for expressions
  std::string baseColumn;
};

struct ResultSet {
  std::vector<ColumnMeta> columns;
  std::vector<std::vector<Variant>> rows;
};

struct ExecOutcome {
  std::vector<ProviderError> errors;  // empty when every statement ran
  bool hasResult = false;             // the first row-returning statement's rows
  ResultSet result;
  std::vector<ResultSet> later;  // those of the ones after it, in order
  long rowsAffected = 0;         // of the last data-changing statement
};

struct SchemaColumn {
  std::string catalog, schema, table, name;
  int ordinal = 0;
  int adoType = 200;
  long maxLength = 0;
  bool nullable = true;
  bool isKey = false;
};

using NamedValues = std::vector<std::pair<std::string, Variant>>;

// The rows of a query, read from the engine as the stream is walked.
class RowStream {
 public:
  virtual ~RowStream() = default;
  virtual const std::vector<ColumnMeta>& Columns() const = 0;
  // The same columns, for a reader that keeps them past the stream (null: copy Columns()).
  virtual std::shared_ptr<const std::vector<ColumnMeta>> SharedColumns() const { return nullptr; }
  // The query it reads, for reading it again from the start; null when it cannot be (the
  // rows of a batch that ran whole).
  virtual std::shared_ptr<const std::string> Text() const { return nullptr; }
  // The next row into `row`; false at the end, or when reading failed (errors then says why
  // and the stream is over).
  virtual bool Next(std::vector<Variant>& row, std::vector<ProviderError>& errors) = 0;
  // Ends the reading before the last row: what the query holds in the engine is let go.
  virtual void Stop() {}
  // Which session made it, for Session::Again (0: none); the session is never reached
  // through it.
  virtual std::uint64_t Maker() const { return 0; }
  // The rows of the batch's later row-returning statements, once (a batch that ran whole).
  virtual std::vector<ResultSet> TakeLater() { return {}; }
};

class Session {
 public:
  virtual ~Session() = default;
  virtual std::string Provider() const = 0;
  virtual std::string Database() const = 0;
  // Runs a T-SQL statement or batch as SQL Server does: a statement that breaks a rule
  // (duplicate key, constraint, Null, length) is undone alone and the batch goes on; missing
  // objects end the batch, a conversion error also the transaction; a batch with a syntax
  // error does not run.
  virtual ExecOutcome Execute(std::string_view tsql) = 0;
  // As Execute, for a forward-only reading of rows: when the batch is one query, its rows
  // are read as the stream is walked. Null with errors when it fails before any row. Any
  // other use of the session meanwhile first reads the rest of the stream into memory.
  virtual std::unique_ptr<RowStream> Stream(std::string_view tsql, std::vector<ProviderError>& errors);
  // Reads `stream` again from its first row, as a new stream of `tsql` would, when it is one
  // of this session's and `tsql` is its query: where the engine kept the statement this
  // costs less than a new stream. False when it cannot: with `errors` empty the caller opens
  // a new stream; otherwise the query failed and the stream is over.
  virtual bool Again(RowStream& stream, std::string_view tsql, std::vector<ProviderError>& errors) { return false; }
  // Switches the session to another database of the same server.
  virtual bool UseDatabase(std::string_view database, ProviderError& error) = 0;
  // Columns of tables of the given database (empty: the session's), table name ignoring
  // case; empty table: every table.
  virtual std::vector<SchemaColumn> Columns(std::string_view catalog, std::string_view table,
                                            std::vector<ProviderError>& errors) = 0;
  // Parameterised writes for updatable recordsets: values never pass through SQL text.
  virtual bool InsertRow(std::string_view table, const NamedValues& values, std::vector<ProviderError>& errors) = 0;
  // Updates the rows matching every criterion (Null criteria match Null); returns the
  // number of rows changed, or -1 on error.
  virtual long UpdateRows(std::string_view table, const NamedValues& criteria, const NamedValues& values,
                          std::vector<ProviderError>& errors) = 0;
  virtual void SetCommandTimeout(int seconds) = 0;
  // BEGIN TRANSACTIONs not yet ended, as @@TRANCOUNT.
  virtual int TranCount() const { return 0; }
};

struct ConnectRequest {
  std::string dataRoot;  // empty: the default data root
  std::string server;
  std::string database;
  std::string user;
  std::string password;
  int connectTimeoutSeconds = 15;
};

// Opens a session on the engine the server directory names for the server. Returns null
// and fills error when the server or database cannot be reached; creates nothing. The
// ConnectAll of one request.
std::unique_ptr<Session> Connect(const ConnectRequest& request, ProviderError& error);

// The outcome of one request of ConnectAll: a session, or what Connect would have said.
struct ConnectResult {
  std::unique_ptr<Session> session;  // null: error says why
  ProviderError error;
};

// Connects every request at once: PostgreSQL attempts are made together, a few at a time
// to each server (connections_at_once, postgres/server.h), and their sockets polled in one
// loop (the wait hook run meanwhile), embedded databases are opened directly. Each attempt
// keeps its own bound (as Connect), at most `timeoutSeconds` (0 or less: no bound of its
// own), counted from its own start. One result per request, in order, with Connect's
// errors. Host names are resolved one after another as the attempts start.
std::vector<ConnectResult> ConnectAll(const std::vector<ConnectRequest>& requests, int timeoutSeconds);

// Called at short intervals while a session waits on the network (a connection being made,
// a server's answer), so that the program's windows keep painting. The platform installs it.
using WaitHook = void (*)();
// Installs the hook (null: none); returns the one it replaces. Only the installing thread
// runs it: a worker thread's waits let no events through.
WaitHook SetWaitHook(WaitHook hook);
// What engines call while they wait. Does nothing while the hook itself runs: what the hook
// lets happen may start another wait, and that one must not run the hook again.
void WhileWaiting();

// The data root: $ETAPAS_DATA, else $XDG_DATA_HOME/etapas, else ~/.local/share/etapas.
std::string DefaultDataRoot();

// The regular file `name` in `folder` in whatever letter case it was written there (the
// suite spells its files in several); empty when there is none.
std::string FileNamedNoCase(const std::string& folder, const std::string& name);

// Settings files (servers.conf, KT512rl.INI) are looked for first in the user's
// configuration folder, $XDG_CONFIG_HOME/etapas (else ~/.config/etapas), then in `root`.
std::string ConfigFolder();
// The path of settings file `name` (found in any letter case): the configuration folder's
// when it holds one, else the root's, also when neither does.
std::string SettingsFile(const std::string& root, const std::string& name);

// Adds an engine error as SQL Server reports it: a statement-ending error (duplicate key,
// constraint, Null, truncation) is followed by 3621 "The statement has been terminated.",
// which callers listing the errors leave out.
void AddError(std::vector<ProviderError>& errors, ProviderError error);

// A database name that can name a file or a catalogue: no folders, no hidden names.
bool ValidDatabaseName(std::string_view name, size_t maxLength);

// Maps an ADO-style type name as written in a column declaration (varchar(4), bit,
// datetime, money...) to its ADO type code and declared character size.
int AdoTypeFromDeclared(std::string_view declared, long* size = nullptr);

}  // namespace etapas::engine
