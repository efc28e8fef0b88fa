#pragma once
// The data API in the shape the system's routines use it: Connection, Recordset, Field,
// Errors. Engines sit behind engine::Session.
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/session.h"
#include "components/ado_types.h"
#include "components/error.h"
#include "components/variant.h"

namespace etapas::ado {

// The native error numbers, as SQL Server numbers them.
namespace native = engine::native;

inline constexpr int kSchemaColumns = 4;         // adSchemaColumns
inline constexpr long kExecuteNoRecords = 0x80;  // adExecuteNoRecords
inline constexpr int kReadUncommitted = 256;

class Connection;
class Recordset;
using ConnectionPtr = std::shared_ptr<Connection>;
using RecordsetPtr = std::shared_ptr<Recordset>;

struct Error {
  long Number = 0;
  long NativeError = 0;
  std::string Description;
  std::string SQLState;
  std::string Source;
};

class Errors {
 public:
  long Count() const { return static_cast<long>(items_.size()); }
  const Error& Item(long index) const;  // raises 3265 outside 0..Count-1
  void Clear() { items_.clear(); }
  void Add(Error e) { items_.push_back(std::move(e)); }

 private:
  std::vector<Error> items_;
};

// A field of the recordset's current row. A handle: it reads and writes through to the
// recordset, so it stays valid while the recordset is.
class Field {
 public:
  Field(Recordset* rs, int index) : rs_(rs), index_(index) {}
  const std::string& Name() const;
  int Type() const;
  long DefinedSize() const;
  Variant Value() const;                // raises 3021 without a current row
  void SetValue(const Variant& value);  // raises 3251 on a read-only recordset
  Field& operator=(const Variant& value) {
    SetValue(value);
    return *this;
  }

 private:
  Recordset* rs_;
  int index_;
};

class Recordset : public std::enable_shared_from_this<Recordset> {
 public:
  // Built by Connection; cursor/lock 0/1 give a read-only recordset, 2/3 an updatable one.
  Recordset(ConnectionPtr owner, engine::ResultSet data, bool updatable);
  // Forward-only and read-only: rows are read from the engine as the recordset moves, and
  // only the current one is held; MoveFirst after moving reads the query again.
  Recordset(ConnectionPtr owner, std::unique_ptr<engine::RowStream> stream);
  ~Recordset();

  bool BOF() const;
  bool EOF_() const;  // EOF is a macro name in C
  bool IsOpen() const { return open_; }
  // For a forward-only recordset this reads the remaining rows into memory to count them.
  long RecordCount();
  void MoveFirst();
  void MoveNext();
  void MoveLast();

  long FieldCount() const {
    if (!open_) RequireOpen();
    return static_cast<long>(Cols().size());
  }
  Field Fields(long index);             // raises 3265 outside the range
  Field Fields(std::string_view name);  // ignoring letter case; raises 3265
  std::optional<int> FieldIndex(std::string_view name) const;

  void AddNew();
  void Update();        // writes the pending new row or the pending edit
  void CancelUpdate();  // drops the pending change
  bool EditPending() const { return mode_ != Mode::None; }
  void Close();
  // The batch's next result, read-only, or null after the last one. A forward-only
  // recordset gives them only once its own rows have been read (or the batch ran whole).
  std::shared_ptr<Recordset> NextRecordset();

  // Used by Field.
  const engine::ColumnMeta& Column(int index) const;
  Variant Get(int index) const;
  // The current row's value without a copy (same failures as Get).
  const Variant& Valor(int index) const {
    // Lists and lookups read every field of every row: the common case stays inline.
    // A closed recordset holds no rows, so the row test also stands for the open test.
    if (static_cast<size_t>(pos_) < data_.rows.size() && mode_ == Mode::None) {
      const auto& row = data_.rows[static_cast<size_t>(pos_)];
      if (index >= 0 && static_cast<size_t>(index) < row.size()) return row[static_cast<size_t>(index)];
    }
    return ValorChecked(index);
  }
  void Set(int index, const Variant& value);

 private:
  enum class Mode { None, Adding, Editing };
  void RequireOpen() const;
  void RequireRow() const;
  const Variant& ValorChecked(int index) const;
  void FlushPendingBeforeMove();
  std::string BaseTable() const;
  bool Streaming() const { return stream_ != nullptr || streamed_; }
  const std::vector<engine::ColumnMeta>& Cols() const { return shared_ ? *shared_ : data_.columns; }
  void Fetch();           // the stream's next row becomes the current one
  void LendRowStorage();  // a forward-only recordset's row storage, to its connection's next one
  void TakeRowStorage();  // what an earlier one lent
  void Reopen(std::unique_ptr<engine::RowStream> stream);
  friend class Connection;

  ConnectionPtr owner_;
  engine::ResultSet data_;
  std::vector<engine::ResultSet> later_;
  bool updatable_;
  bool open_ = true;
  long pos_ = 0;  // index into rows; == size() means EOF
  Mode mode_ = Mode::None;
  std::vector<Variant> pending_;  // values of the row being added or edited
  std::vector<bool> touched_;
  std::vector<std::string> keyColumns_;  // table key, for locating a row to update
  // Forward-only reading: data_.rows holds the current row and any rows read ahead.
  std::unique_ptr<engine::RowStream> stream_;  // null once read to the end
  std::unique_ptr<engine::RowStream> spent_;   // the stream that ended, to read the query again
  bool streamed_ = false;
  std::shared_ptr<const std::vector<engine::ColumnMeta>> shared_;  // a stream's columns, shared
  std::shared_ptr<const std::string> text_;                        // the query, to read it again
  long passed_ = 0;                                                // rows moved past
  std::vector<Variant> spareRow_;                                  // storage of the row just left, for the next one
};

class Connection : public std::enable_shared_from_this<Connection> {
 public:
  explicit Connection(std::unique_ptr<engine::Session> session);

  ado::Errors& Errors() { return errors_; }
  int CommandTimeout() const { return commandTimeout_; }
  void SetCommandTimeout(int seconds);
  int IsolationLevel() const { return isolationLevel_; }
  void SetIsolationLevel(int level) { isolationLevel_ = level; }
  std::string DefaultDatabase() const;
  void SetDefaultDatabase(const std::string& database);  // raises when it cannot switch
  std::string Provider() const;
  bool IsOpen() const { return session_ != nullptr; }
  void Close();  // raises 3704 when already closed

  // Runs a statement or batch. Provider errors are added to Errors() and the first one is
  // raised. Returns the first result's rows (or an empty, closed-shape recordset).
  // With adExecuteNoRecords in `options` no recordset is made (null is returned): the
  // caller wants the statement run, not its rows.
  RecordsetPtr Execute(std::string_view sql, long* recordsAffected = nullptr, long options = 0);
  // Opens a recordset on a query: updatable when lockType >= 2.
  RecordsetPtr OpenRecordset(std::string_view sql, int cursorType, int lockType);
  // The same into `rs`, closing what it held first. A forward-only recordset nobody else
  // holds is opened again in place: a caller that reopens one recordset for lookup after
  // lookup pays for no new object. A failure leaves `rs` closed.
  void OpenRecordset(std::string_view sql, int cursorType, int lockType, RecordsetPtr& rs);
  // adSchemaColumns with the restrictions catalogue, schema, table, column (Empty or
  // Null for none). Rows carry TABLE_CATALOG, TABLE_SCHEMA, TABLE_NAME, COLUMN_NAME,
  // ORDINAL_POSITION, DATA_TYPE, CHARACTER_MAXIMUM_LENGTH, IS_NULLABLE.
  RecordsetPtr OpenSchema(int schema, const std::vector<Variant>& restrictions);

  engine::Session& session();  // raises 3709 when closed

 private:
  [[noreturn]] void RaiseProviderErrors(const std::vector<engine::ProviderError>& errs);
  friend class Recordset;

  std::unique_ptr<engine::Session> session_;
  ado::Errors errors_;
  // The row storage of the last forward-only recordset gone, for the next one: lookups come
  // one after another on the same connection.
  std::vector<std::vector<Variant>> spareRows_;
  int commandTimeout_ = 30;
  int isolationLevel_ = 4096;  // read committed
};

// Builds an ado::Error from an engine error.
Error FromProvider(const engine::ProviderError& e);

}  // namespace etapas::ado
