#include "components/ado.h"

#include <algorithm>
#include <cmath>

#include "components/text.h"

namespace etapas::ado {
namespace {

[[noreturn]] void Raise(long number, const std::string& text) { throw RaisedError(number, text, "ADODB"); }

// What a field of the given type holds after the assignment of value, as the platform
// coerces it; a value that cannot be converted is a type mismatch.
Variant Coerce(const Variant& value, int type) {
  if (value.IsNull()) return value;
  if (value.IsEmpty()) return Variant::Null();
  if (type == adtype::kBoolean) {
    auto b = value.ToBool();
    if (!b) Raise(errnum::kTypeMismatch, "Type mismatch");
    return Variant(*b);
  }
  if (adtype::IsNumeric(type)) {
    if (value.kind() == Variant::Kind::Text && text::Trim(value.AsText()).empty()) return Variant::Null();
    auto n = value.ToNumber();
    if (!n) Raise(errnum::kTypeMismatch, "Type mismatch");
    if (adtype::IsInteger(type)) {
      double r = std::nearbyint(*n);  // halves to even, as the platform rounds
      return Variant(static_cast<long long>(r));
    }
    return Variant(*n);
  }
  if (adtype::IsDate(type)) {
    auto d = value.ToDate();
    if (!d) Raise(errnum::kTypeMismatch, "Type mismatch");
    return Variant(*d);
  }
  return Variant(value.ToText());
}

}  // namespace

Error FromProvider(const engine::ProviderError& e) {
  Error out;
  out.Number = e.native;
  out.NativeError = e.native;
  out.Description = e.description;
  out.SQLState = e.sqlState;
  out.Source = "Microsoft OLE DB Provider";
  return out;
}

const Error& Errors::Item(long index) const {
  if (index < 0 || index >= Count())
    Raise(errnum::kItemNotFound,
          "Item cannot be found in the collection corresponding to the requested name or ordinal.");
  return items_[static_cast<size_t>(index)];
}

// ---- Field ----------------------------------------------------------------------------

const std::string& Field::Name() const { return rs_->Column(index_).name; }
int Field::Type() const { return rs_->Column(index_).adoType; }
long Field::DefinedSize() const { return rs_->Column(index_).definedSize; }
Variant Field::Value() const { return rs_->Get(index_); }
void Field::SetValue(const Variant& value) { rs_->Set(index_, value); }

// ---- Recordset ------------------------------------------------------------------------

Recordset::Recordset(ConnectionPtr owner, engine::ResultSet data, bool updatable)
    : owner_(std::move(owner)), data_(std::move(data)), updatable_(updatable) {
  if (updatable_) {
    std::string table = BaseTable();
    if (table.empty()) {
      updatable_ = false;
    } else if (owner_ && owner_->IsOpen()) {
      std::vector<engine::ProviderError> errs;
      for (const auto& c : owner_->session().Columns("", table, errs))
        if (c.isKey) keyColumns_.push_back(c.name);
    }
  }
}

std::shared_ptr<Recordset> Recordset::NextRecordset() {
  if (later_.empty()) return nullptr;
  auto next = std::make_shared<Recordset>(owner_, std::move(later_.front()), false);
  next->later_.assign(std::make_move_iterator(later_.begin() + 1), std::make_move_iterator(later_.end()));
  later_.clear();
  return next;
}

Recordset::Recordset(ConnectionPtr owner, std::unique_ptr<engine::RowStream> stream)
    : owner_(std::move(owner)), updatable_(false), stream_(std::move(stream)), streamed_(true), text_(stream_->Text()) {
  TakeRowStorage();
  later_ = stream_->TakeLater();
  shared_ = stream_->SharedColumns();
  if (!shared_) data_.columns = stream_->Columns();
  Fetch();
  if (!text_) {
    // Rows that cannot be read again stay in memory, so that MoveFirst finds them.
    while (stream_) Fetch();
    streamed_ = false;
  }
}

Recordset::~Recordset() { LendRowStorage(); }

void Recordset::TakeRowStorage() {
  if (!owner_ || owner_->spareRows_.empty() || spareRow_.capacity() != 0) return;
  // Storage a recordset before this one left: its last row, and room for rows.
  spareRow_.swap(owner_->spareRows_.back());
  owner_->spareRows_.pop_back();
  data_.rows.swap(owner_->spareRows_);
  data_.rows.clear();
}

void Recordset::Reopen(std::unique_ptr<engine::RowStream> stream) {
  // The row last shown lends its storage to the first new one, as between two recordsets.
  if (spareRow_.capacity() == 0 && pos_ < static_cast<long>(data_.rows.size()))
    spareRow_.swap(data_.rows[static_cast<size_t>(pos_)]);
  data_.rows.clear();
  TakeRowStorage();  // what Close lent to the connection
  open_ = true;
  pos_ = 0;
  passed_ = 0;
  mode_ = Mode::None;
  pending_.clear();
  touched_.clear();
  streamed_ = true;
  stream_ = std::move(stream);
  later_ = stream_->TakeLater();
  text_ = stream_->Text();
  shared_ = stream_->SharedColumns();
  if (shared_)
    data_.columns.clear();
  else
    data_.columns = stream_->Columns();
  Fetch();
  if (!text_) {
    while (stream_) Fetch();
    streamed_ = false;
  }
}

void Recordset::LendRowStorage() {
  if (!streamed_ || !owner_ || !owner_->spareRows_.empty()) return;
  if (spareRow_.capacity() == 0 && pos_ < static_cast<long>(data_.rows.size()))
    spareRow_.swap(data_.rows[static_cast<size_t>(pos_)]);
  if (spareRow_.capacity() == 0 || data_.rows.capacity() > 64) return;
  data_.rows.clear();
  data_.rows.push_back(std::move(spareRow_));
  owner_->spareRows_.swap(data_.rows);
}

void Recordset::Fetch() {
  if (!stream_) return;
  // The row just left lends its storage to the next one.
  std::vector<Variant> row;
  row.swap(spareRow_);
  std::vector<engine::ProviderError> errs;
  if (stream_->Next(row, errs)) {
    data_.rows.push_back(std::move(row));
    return;
  }
  if (errs.empty())
    spent_ = std::move(stream_);  // ended, and may be read again
  else
    stream_.reset();
  if (!errs.empty()) {
    if (owner_) owner_->RaiseProviderErrors(errs);
    throw RaisedError(errs.front().native, errs.front().description, "Microsoft OLE DB Provider");
  }
}

std::string Recordset::BaseTable() const {
  std::string table;
  for (const auto& c : Cols()) {
    if (c.baseTable.empty()) return "";
    if (table.empty())
      table = c.baseTable;
    else if (!text::EqualsNoCase(table, c.baseTable))
      return "";
  }
  return table;
}

void Recordset::RequireOpen() const {
  if (!open_) Raise(errnum::kObjectClosed, "Operation is not allowed when the object is closed.");
}

void Recordset::RequireRow() const {
  RequireOpen();
  if (mode_ == Mode::Adding) return;
  if (pos_ < 0 || pos_ >= static_cast<long>(data_.rows.size()))
    Raise(errnum::kNoCurrentRecord,
          "Either BOF or EOF is True, or the current record has been deleted. Requested operation requires a current "
          "record.");
}

bool Recordset::BOF() const {
  RequireOpen();
  return data_.rows.empty() || pos_ < 0;
}

bool Recordset::EOF_() const {
  RequireOpen();
  return pos_ >= static_cast<long>(data_.rows.size());
}

long Recordset::RecordCount() {
  RequireOpen();
  if (Streaming()) {
    while (stream_) Fetch();
    return passed_ + static_cast<long>(data_.rows.size()) - pos_;
  }
  return static_cast<long>(data_.rows.size());
}

void Recordset::FlushPendingBeforeMove() {
  // Moving off an edited row saves it, as the platform's cursors do.
  if (mode_ != Mode::None) Update();
}

void Recordset::MoveFirst() {
  RequireOpen();
  FlushPendingBeforeMove();
  if (Streaming() && passed_ > 0) {
    // Rows moved past are gone: the query is read again from its start.
    if (!owner_)
      Raise(errnum::kConnectionClosed,
            "The connection cannot be used to perform this operation. It is either closed or invalid in this context.");
    owner_->errors_.Clear();
    std::vector<engine::ProviderError> errs;
    auto again = owner_->session().Stream(*text_, errs);
    if (!again) owner_->RaiseProviderErrors(errs);
    stream_ = std::move(again);
    data_ = {};
    shared_ = stream_->SharedColumns();
    if (!shared_) data_.columns = stream_->Columns();
    passed_ = 0;
    pos_ = 0;
    Fetch();
    return;
  }
  pos_ = 0;
}

void Recordset::MoveNext() {
  RequireOpen();
  FlushPendingBeforeMove();
  if (pos_ >= static_cast<long>(data_.rows.size()))
    Raise(errnum::kNoCurrentRecord,
          "Either BOF or EOF is True, or the current record has been deleted. Requested operation requires a current "
          "record.");
  ++pos_;
  if (Streaming()) {
    ++passed_;
    if (pos_ >= static_cast<long>(data_.rows.size())) {
      if (data_.rows.size() == 1) spareRow_.swap(data_.rows.front());
      data_.rows.clear();
      pos_ = 0;
      Fetch();
    }
  }
}

void Recordset::MoveLast() {
  RequireOpen();
  FlushPendingBeforeMove();
  if (Streaming()) {
    while (stream_) Fetch();
    if (data_.rows.empty()) return;
    passed_ += static_cast<long>(data_.rows.size()) - 1 - pos_;
  }
  pos_ = data_.rows.empty() ? 0 : static_cast<long>(data_.rows.size()) - 1;
}

std::optional<int> Recordset::FieldIndex(std::string_view name) const {
  for (size_t i = 0; i < Cols().size(); ++i)
    if (text::EqualsNoCase(Cols()[i].name, name)) return static_cast<int>(i);
  return std::nullopt;
}

Field Recordset::Fields(long index) {
  RequireOpen();
  if (index < 0 || index >= static_cast<long>(Cols().size()))
    Raise(errnum::kItemNotFound,
          "Item cannot be found in the collection corresponding to the requested name or ordinal.");
  return Field(this, static_cast<int>(index));
}

Field Recordset::Fields(std::string_view name) {
  RequireOpen();
  auto i = FieldIndex(name);
  if (!i)
    Raise(errnum::kItemNotFound,
          "Item cannot be found in the collection corresponding to the requested name or ordinal.");
  return Field(this, *i);
}

const engine::ColumnMeta& Recordset::Column(int index) const { return Cols().at(static_cast<size_t>(index)); }

Variant Recordset::Get(int index) const { return Valor(index); }

const Variant& Recordset::ValorChecked(int index) const {
  RequireRow();
  if (mode_ != Mode::None) return pending_.at(static_cast<size_t>(index));
  return data_.rows[static_cast<size_t>(pos_)].at(static_cast<size_t>(index));
}

void Recordset::Set(int index, const Variant& value) {
  RequireOpen();
  if (!updatable_)
    Raise(errnum::kNotSupported,
          "Current Recordset does not support updating. This may be a limitation of the provider, or of the selected "
          "locktype.");
  RequireRow();
  if (mode_ == Mode::None) {
    mode_ = Mode::Editing;
    pending_ = data_.rows[static_cast<size_t>(pos_)];
    touched_.assign(Cols().size(), false);
  }
  pending_.at(static_cast<size_t>(index)) = Coerce(value, Column(index).adoType);
  touched_.at(static_cast<size_t>(index)) = true;
}

void Recordset::AddNew() {
  RequireOpen();
  if (!updatable_)
    Raise(errnum::kNotSupported,
          "Current Recordset does not support updating. This may be a limitation of the provider, or of the selected "
          "locktype.");
  if (mode_ != Mode::None) Update();
  mode_ = Mode::Adding;
  pending_.assign(Cols().size(), Variant::Null());
  touched_.assign(Cols().size(), false);
}

void Recordset::Update() {
  RequireOpen();
  if (mode_ == Mode::None) return;
  if (!owner_ || !owner_->IsOpen())
    Raise(errnum::kConnectionClosed,
          "The connection cannot be used to perform this operation. It is either closed or invalid in this context.");
  const std::string table = BaseTable();
  engine::NamedValues values;
  for (size_t i = 0; i < Cols().size(); ++i)
    if (touched_[i]) values.emplace_back(Cols()[i].baseColumn, pending_[i]);
  owner_->errors_.Clear();
  std::vector<engine::ProviderError> errs;
  if (mode_ == Mode::Adding) {
    if (!owner_->session().InsertRow(table, values, errs)) owner_->RaiseProviderErrors(errs);
    data_.rows.push_back(pending_);
    pos_ = static_cast<long>(data_.rows.size()) - 1;
  } else {
    if (!values.empty()) {
      const auto& original = data_.rows[static_cast<size_t>(pos_)];
      engine::NamedValues criteria;
      for (size_t i = 0; i < Cols().size(); ++i) {
        bool isKey = keyColumns_.empty();
        for (const auto& k : keyColumns_)
          if (text::EqualsNoCase(k, Cols()[i].baseColumn)) isKey = true;
        if (isKey) criteria.emplace_back(Cols()[i].baseColumn, original[i]);
      }
      long n = owner_->session().UpdateRows(table, criteria, values, errs);
      if (n < 0) owner_->RaiseProviderErrors(errs);
      if (n == 0)
        Raise(errnum::kRowNotFound,
              "Row cannot be located for updating. Some values may have been changed since it was last read.");
    }
    data_.rows[static_cast<size_t>(pos_)] = pending_;
  }
  mode_ = Mode::None;
  pending_.clear();
  touched_.clear();
}

void Recordset::CancelUpdate() {
  RequireOpen();
  mode_ = Mode::None;
  pending_.clear();
  touched_.clear();
}

void Recordset::Close() {
  RequireOpen();
  open_ = false;
  mode_ = Mode::None;
  if (stream_) {
    stream_->Stop();
    spent_ = std::move(stream_);
  }
  LendRowStorage();
  data_ = {};
}

// ---- Connection -----------------------------------------------------------------------

Connection::Connection(std::unique_ptr<engine::Session> session) : session_(std::move(session)) {
  if (session_) session_->SetCommandTimeout(commandTimeout_);
}

engine::Session& Connection::session() {
  if (!session_)
    Raise(errnum::kConnectionClosed,
          "The connection cannot be used to perform this operation. It is either closed or invalid in this context.");
  return *session_;
}

void Connection::SetCommandTimeout(int seconds) {
  commandTimeout_ = seconds;
  if (session_) session_->SetCommandTimeout(seconds);
}

std::string Connection::DefaultDatabase() const { return session_ ? session_->Database() : ""; }

void Connection::SetDefaultDatabase(const std::string& database) {
  engine::ProviderError err;
  if (!session().UseDatabase(database, err)) {
    errors_.Add(FromProvider(err));
    throw RaisedError(err.native, err.description, "Microsoft OLE DB Provider");
  }
}

std::string Connection::Provider() const { return session_ ? session_->Provider() : ""; }

void Connection::Close() {
  if (!session_) Raise(errnum::kObjectClosed, "Operation is not allowed when the object is closed.");
  session_.reset();
}

void Connection::RaiseProviderErrors(const std::vector<engine::ProviderError>& errs) {
  for (const auto& e : errs) errors_.Add(FromProvider(e));
  if (errs.empty())
    throw RaisedError(engine::native::kOther, "The provider reported a failure without details.",
                      "Microsoft OLE DB Provider");
  throw RaisedError(errs.front().native, errs.front().description, "Microsoft OLE DB Provider");
}

// Every operation that reaches the engine starts with an empty Errors collection, so
// callers that judge a statement by Errors see that statement's errors only.
RecordsetPtr Connection::Execute(std::string_view sql, long* recordsAffected, long options) {
  errors_.Clear();
  auto outcome = session().Execute(sql);
  if (recordsAffected) *recordsAffected = outcome.rowsAffected;
  if (!outcome.errors.empty()) RaiseProviderErrors(outcome.errors);
  if (options & kExecuteNoRecords) return nullptr;
  auto rs = std::make_shared<Recordset>(shared_from_this(), std::move(outcome.result), false);
  rs->later_ = std::move(outcome.later);
  return rs;
}

RecordsetPtr Connection::OpenRecordset(std::string_view sql, int cursorType, int lockType) {
  errors_.Clear();
  if (cursorType == 0 && lockType <= 1) {
    std::vector<engine::ProviderError> errs;
    auto stream = session().Stream(sql, errs);
    if (!stream) RaiseProviderErrors(errs);
    return std::make_shared<Recordset>(shared_from_this(), std::move(stream));
  }
  auto outcome = session().Execute(sql);
  if (!outcome.errors.empty()) RaiseProviderErrors(outcome.errors);
  bool updatable = lockType >= 2;
  auto rs = std::make_shared<Recordset>(shared_from_this(), std::move(outcome.result), updatable);
  rs->later_ = std::move(outcome.later);
  return rs;
}

void Connection::OpenRecordset(std::string_view sql, int cursorType, int lockType, RecordsetPtr& rs) {
  const bool alone = rs && rs.use_count() == 1;
  if (!(alone && cursorType == 0 && lockType <= 1 && rs->streamed_ && !rs->updatable_ && rs->owner_.get() == this)) {
    if (alone && rs->IsOpen()) rs->Close();
    rs = OpenRecordset(sql, cursorType, lockType);
    return;
  }
  errors_.Clear();
  std::vector<engine::ProviderError> errs;
  std::unique_ptr<engine::RowStream> stream;
  // The same query read again by the stream that read it last, where the engine can.
  if (auto& last = rs->stream_ ? rs->stream_ : rs->spent_; last && session().Again(*last, sql, errs))
    stream = std::move(last);
  // Otherwise the statement it was reading ends before the next one starts: it may be the
  // same one.
  rs->stream_.reset();
  rs->spent_.reset();
  if (!stream && errs.empty()) stream = session().Stream(sql, errs);
  if (!stream) {
    if (rs->IsOpen()) rs->Close();
    RaiseProviderErrors(errs);
  }
  try {
    rs->Reopen(std::move(stream));
  } catch (...) {
    if (rs->IsOpen()) rs->Close();
    throw;
  }
}

RecordsetPtr Connection::OpenSchema(int schema, const std::vector<Variant>& restrictions) {
  if (schema != kSchemaColumns)
    Raise(errnum::kNotSupported, "Object or provider is not capable of performing requested operation.");
  auto restriction = [&](size_t i) -> std::string {
    if (i >= restrictions.size() || restrictions[i].IsNull() || restrictions[i].IsEmpty()) return "";
    return restrictions[i].ToText();
  };
  errors_.Clear();
  std::vector<engine::ProviderError> errs;
  auto cols = session().Columns(restriction(0), restriction(2), errs);
  if (!errs.empty()) RaiseProviderErrors(errs);
  const std::string wantSchema = restriction(1), wantColumn = restriction(3);
  engine::ResultSet rs;
  auto col = [](const char* name, int type) {
    engine::ColumnMeta m;
    m.name = name;
    m.adoType = type;
    return m;
  };
  rs.columns = {col("TABLE_CATALOG", adtype::kVarWChar),
                col("TABLE_SCHEMA", adtype::kVarWChar),
                col("TABLE_NAME", adtype::kVarWChar),
                col("COLUMN_NAME", adtype::kVarWChar),
                col("ORDINAL_POSITION", adtype::kInteger),
                col("DATA_TYPE", adtype::kSmallInt),
                col("CHARACTER_MAXIMUM_LENGTH", adtype::kInteger),
                col("IS_NULLABLE", adtype::kBoolean)};
  for (const auto& c : cols) {
    if (!wantSchema.empty() && !text::EqualsNoCase(wantSchema, c.schema)) continue;
    if (!wantColumn.empty() && !text::EqualsNoCase(wantColumn, c.name)) continue;
    rs.rows.push_back({Variant(c.catalog), Variant(c.schema), Variant(c.table), Variant(c.name), Variant(c.ordinal),
                       Variant(c.adoType), c.maxLength > 0 ? Variant(c.maxLength) : Variant::Null(),
                       Variant(c.nullable)});
  }
  return std::make_shared<Recordset>(shared_from_this(), std::move(rs), false);
}

}  // namespace etapas::ado
