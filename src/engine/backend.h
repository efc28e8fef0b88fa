#pragma once
// What an engine must do for the T-SQL session (engine.h): run one statement of its own
// dialect with parameters, read its rows, tell whether a transaction is open, read the
// catalogue, and say what went wrong in its own terms. SQL Server's behaviour (batches,
// nesting, which errors end what, numbers and texts) is the session's, never a backend's.
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/session.h"
#include "engine/sql/tsql.h"

namespace etapas::engine {

// A failure as the engine saw it; the session words it as SQL Server would.
struct Fault {
  enum class Kind {
    None,
    DuplicateKey,  // a primary key or unique constraint
    ForeignKey,    // the referenced row does not exist
    Referenced,    // other rows still refer to the row
    Check,         // a CHECK constraint (tsql_len_COLUMN: a declared length)
    Length,        // a value too long for its column
    NotNull,
    Raised,  // a trigger or rule refused the change
    Conversion,
    Overflow,
    DivideByZero,
    InvalidLength,  // a negative length for LEFT, RIGHT or SUBSTRING (message: RIGHT for RIGHT)
    Lock,           // a lock wait ran out
    Deadlock,       // the engine chose this session as the victim
    NoTable,
    NoColumn,
    Syntax,
    ObjectExists,
    ColumnExists,
    Permission,
    Timeout,  // no answer within the command time-out
    ConnectionLost,
    NotSupported,
    NoSuchDatabase,
    CannotOpenDatabase,
    LoginFailed,
    ServerNotFound,
    Other,
  };
  Kind kind = Kind::None;
  // What the engine named, when it did; names as the engine reports them.
  std::string table, column, constraint, key;
  std::string message;   // the engine's own words
  std::string sqlState;  // the engine's
  Fault() = default;
  explicit Fault(Kind k) : kind(k) {}
  explicit operator bool() const { return kind != Kind::None; }
};

// The rows of one engine statement, read as they are walked.
class BackendRows {
 public:
  virtual ~BackendRows() = default;
  // Empty: the statement returns no rows. Types are known before the first row is read.
  virtual const std::vector<ColumnMeta>& Columns() const = 0;
  // The same columns when the backend keeps them between runs (null: they are copied).
  virtual std::shared_ptr<const std::vector<ColumnMeta>> SharedColumns() const { return nullptr; }
  // The next row; false at the end or on failure (fault set). Reading to the end releases
  // what the statement holds in the engine.
  virtual bool Next(std::vector<Variant>& row, Fault& fault) = 0;
  // Rows the statement changed, once it ran to the end.
  virtual long Changes() const = 0;
  // Lets go what the statement holds in the engine and stays for Again; false when the
  // backend cannot keep it (the caller then drops it).
  virtual bool Rest() { return false; }
  // Runs the same statement again from the start, as Run would; false when it cannot (fault
  // empty: run it anew; set: the engine refused it, and the rows are over).
  virtual bool Again(Fault& fault) { return false; }
};

class Backend {
 public:
  virtual ~Backend() = default;
  virtual std::string Provider() const = 0;
  virtual sql::Engine Dialect() const = 0;
  virtual std::string Database() const = 0;
  // Longest database name the engine can hold.
  virtual size_t MaxDatabaseName() const = 0;

  // Starts one statement of the engine's dialect; parameters are written as Parameter(n)
  // gives them and never pass through the text. `reuse`: the statement comes back often and
  // is worth keeping prepared. Null with fault set when the engine refuses it.
  virtual std::unique_ptr<BackendRows> Run(const std::string& sql, const std::vector<const Variant*>& params,
                                           bool reuse, Fault& fault) = 0;
  virtual std::string Parameter(int n) const = 0;  // 1-based
  // False, with a Syntax fault, when the engine cannot read the statement at all (its names
  // need not exist yet): a batch holding one does not run. Engines that cannot tell without
  // running it say true.
  virtual bool Parses(const std::string& sql, Fault& fault) { return true; }
  // Whether the engine has a transaction open (it may end one itself, on some failures).
  virtual bool InTransaction() = 0;
  // Whether a failed statement inside a transaction is undone alone by the engine itself,
  // the transaction going on; otherwise the session guards each statement with a savepoint.
  virtual bool UndoesFailedStatement() const = 0;
  virtual void SetCommandTimeout(int seconds) = 0;
  // Tables were created, changed or dropped: cached plans and catalogue are stale.
  virtual void SchemaChanged() = 0;
  // The statement's connection is waiting on the engine (the wait hook runs meanwhile).
  virtual bool Waiting() const { return false; }

  // Columns of a table of this database (empty: of every table), with their declared
  // names and types.
  virtual std::vector<SchemaColumn> Columns(std::string_view table, Fault& fault) = 0;

  // Another database of the same server, under the same login. Fault::NoSuchDatabase /
  // CannotOpenDatabase when it is not there; creates nothing.
  virtual std::unique_ptr<Backend> Open(const std::string& database, Fault& fault) = 0;
  virtual bool DatabaseExists(const std::string& name, Fault& fault) = 0;
  // The name was checked by the session: valid, not master, not there yet / there.
  virtual bool CreateDatabase(const std::string& name, Fault& fault) = 0;
  virtual bool DropDatabase(const std::string& name, Fault& fault) = 0;
};

// The session speaking T-SQL over a backend (engine.cpp).
std::unique_ptr<Session> MakeSession(std::unique_ptr<Backend> backend);

// SQL Server's words for a backend's fault. `statement` is the T-SQL statement it came
// from: names the engine reports in lower case are given back as the statement wrote them.
ProviderError Describe(const Fault& fault, std::string_view statement, std::string_view database = {});

// SQL Server's words for a batch the translation refused to read.
ProviderError SyntaxErrorOf(const sql::SyntaxError& error);

}  // namespace etapas::engine
