#include "engine/postgres/values.h"

#include <cstdio>
#include <cstdlib>

#include "components/text.h"
#include "components/variant.h"

namespace etapas::engine::postgres {
namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 0;
}

std::string Quoted(const std::string& msg, size_t from = 0) {
  const auto a = msg.find('"', from);
  if (a == std::string::npos) return "";
  const auto b = msg.find('"', a + 1);
  return b == std::string::npos ? "" : msg.substr(a + 1, b - a - 1);
}

}  // namespace

int AdoFromOid(Oid type, int typmod, long* size) {
  if (size) *size = 0;
  switch (type) {
    case kBool: return 11;
    case kInt2: return 2;
    case kInt4:
    case kOid: return 3;
    case kInt8: return 20;
    case kFloat4: return 4;
    case kFloat8: return 5;
    case kMoney: return 6;
    case kNumeric: return 131;
    case kDate: return 133;
    case kTime: return 134;
    case kTimestamp:
    case kTimestampTz: return 135;
    case kUuid: return 72;
    case kBytea: return 204;
    case kChar: return 129;
    case kBpchar:
      if (typmod > 4) {
        if (size) *size = typmod - 4;
        return 129;
      }
      return 200;
    case kVarchar:
      if (typmod > 4 && size) *size = typmod - 4;
      return 200;
    case kText: return 201;
    default: return 200;
  }
}

Variant ReadValue(const char* s, int len, Oid type, int adoType) {
  const std::string_view v(s, static_cast<size_t>(len));
  if (type == kBool) {
    const bool b = !v.empty() && (v[0] == 't' || v[0] == '1');
    // A predicate as a result column reads as the number SQL Server's rules would give.
    return adoType == 11 ? Variant(b) : Variant(static_cast<long long>(b ? 1 : 0));
  }
  if (adoType == 11) return Variant(std::strtoll(s, nullptr, 10) != 0);
  switch (type) {
    case kInt2:
    case kInt4:
    case kInt8:
    case kOid: return Variant(static_cast<long long>(std::strtoll(s, nullptr, 10)));
    case kFloat4:
    case kFloat8:
    case kNumeric: return Variant(ReadNumber(v));
    case kDate:
    case kTimestamp:
    case kTimestampTz: {
      std::string t(v);
      if (type == kTimestampTz) {
        const auto zone = t.find_first_of("+-", 19);
        if (zone != std::string::npos) t.erase(zone);
      }
      if (auto d = DateTime::ParseIso(t)) return Variant(*d);
      return Variant(std::string(v));
    }
    case kTime:
      if (auto d = DateTime::ParseIso("1899-12-30 " + std::string(v))) return Variant(*d);
      return Variant(std::string(v));
    case kBytea:
      if (v.size() >= 2 && v[0] == '\\' && v[1] == 'x') {
        std::string bytes;
        for (size_t i = 2; i + 1 < v.size(); i += 2)
          bytes += static_cast<char>(HexDigit(v[i]) * 16 + HexDigit(v[i + 1]));
        return Variant(std::move(bytes));
      }
      return Variant(std::string(v));
    default: return Variant(std::string(v));
  }
}

std::optional<std::string> ParamText(const Variant& v) {
  switch (v.kind()) {
    case Variant::Kind::Empty:
    case Variant::Kind::Null: return std::nullopt;
    case Variant::Kind::Boolean: return std::string(v.AsInteger() ? "1" : "0");
    case Variant::Kind::Integer: return std::to_string(v.AsInteger());
    case Variant::Kind::Double: return NumberText(v.AsDouble(), false, 17);
    case Variant::Kind::Date: {
      const DateTime& d = v.AsDate();
      char buf[16];
      std::snprintf(buf, sizeof buf, ".%03d", d.millisecond);
      return d.ToIso() + buf;
    }
    case Variant::Kind::Text: return ValidUtf8(v.AsText());
  }
  return std::nullopt;
}

Fault MapFault(const Result& res, PGconn* conn) {
  using K = Fault::Kind;
  Fault f;
  if (res.timedOut) {
    f.kind = K::Timeout;
    f.message = "the server did not answer in time; the connection was given up";
    return f;
  }
  const std::string state = res.Field(PG_DIAG_SQLSTATE);
  f.sqlState = state;
  f.message = res.Field(PG_DIAG_MESSAGE_PRIMARY);
  if (f.message.empty() && conn) { f.message = text::TrimEnd(PQerrorMessage(conn), "\n "); }
  f.table = res.Field(PG_DIAG_TABLE_NAME);
  f.column = res.Field(PG_DIAG_COLUMN_NAME);
  f.constraint = res.Field(PG_DIAG_CONSTRAINT_NAME);
  const std::string detail = res.Field(PG_DIAG_MESSAGE_DETAIL);
  const std::string& msg = f.message;
  const bool lost = !conn || PQstatus(conn) != CONNECTION_OK;
  if (state.rfind("08", 0) == 0 || (state.empty() && lost)) {
    f.kind = K::ConnectionLost;
    return f;
  }
  const std::string cls = state.substr(0, 2);
  if (state == "23505") {
    f.kind = K::DuplicateKey;
    // "Key (a, b)=(1, 2) already exists."
    if (auto a = detail.find(")=("); a != std::string::npos) {
      auto b = detail.rfind(") already exists");
      f.key = detail.substr(a + 3, b == std::string::npos || b < a + 3 ? std::string::npos : b - a - 3);
    }
  } else if (state == "23503") {
    // The detail tells the two sides apart: a key missing, or rows still referring to it.
    f.kind = detail.find("still referenced") != std::string::npos ? K::Referenced : K::ForeignKey;
  } else if (state == "23001") {
    f.kind = K::Referenced;
  } else if (state == "23514") {
    f.kind = f.constraint.rfind("tsql_type_", 0) == 0 ? K::Conversion : K::Check;
  } else if (state == "23502") {
    f.kind = K::NotNull;
  } else if (state == "22001") {
    f.kind = K::Length;
  } else if (state == "42P01") {
    f.kind = K::NoTable;
    if (f.table.empty()) f.table = Quoted(msg);
  } else if (state == "42703") {
    f.kind = K::NoColumn;
    if (f.column.empty()) f.column = Quoted(msg);
    if (auto dot = f.column.rfind('.'); dot != std::string::npos) f.column = f.column.substr(dot + 1);
  } else if (state == "42601") {
    f.kind = K::Syntax;
    if (const auto at = msg.find("at or near \""); at != std::string::npos) f.key = Quoted(msg, at);
  } else if (state == "42P07" || state == "42710" || state == "42P04") {
    f.kind = K::ObjectExists;
    if (f.table.empty()) f.table = Quoted(msg);
  } else if (state == "42701") {
    f.kind = K::ColumnExists;
    if (f.column.empty()) f.column = Quoted(msg);
  } else if (state == "22P02" || state == "22007" || state == "22008" || state == "42804" || state == "22018") {
    f.kind = K::Conversion;
  } else if (state == "22003") {
    f.kind = K::Overflow;
  } else if (state == "22012") {
    f.kind = K::DivideByZero;
  } else if (state == "22011") {
    // substring's own refusal (LEFT, SUBSTRING), or tsql_right's (postgres_backend.cpp).
    f.kind = K::InvalidLength;
    f.message = msg.rfind("tsql_length:", 0) == 0 ? msg.substr(12) : "SUBSTRING";
  } else if (state == "42501") {
    f.kind = K::Permission;
  } else if (state == "55P03") {
    f.kind = K::Lock;
  } else if (state == "40P01" || state == "40001") {
    f.kind = K::Deadlock;
  } else if (state == "57014") {
    f.kind = K::Timeout;
  } else if (state == "57P01" || state == "57P02" || state == "57P03") {
    f.kind = K::ConnectionLost;
  } else if (state == "0A000") {
    f.kind = K::NotSupported;
  } else if (state == "P0001") {
    f.kind = K::Raised;
  } else if (state == "3D000") {
    f.kind = K::NoSuchDatabase;
  } else if (cls == "28") {
    f.kind = K::LoginFailed;
  } else {
    f.kind = K::Other;
  }
  return f;
}

}  // namespace etapas::engine::postgres
