#pragma once
// PostgreSQL's types, values and failures in the terms of the session.
#include <libpq-fe.h>

#include <optional>
#include <string>

#include "components/variant.h"
#include "engine/backend.h"
#include "engine/postgres/link.h"

namespace etapas::engine::postgres {

// Type OIDs of the engine's built-in types.
enum : Oid {
  kBool = 16,
  kBytea = 17,
  kChar = 18,
  kName = 19,
  kInt8 = 20,
  kInt2 = 21,
  kInt4 = 23,
  kText = 25,
  kOid = 26,
  kFloat4 = 700,
  kFloat8 = 701,
  kMoney = 790,
  kBpchar = 1042,
  kVarchar = 1043,
  kDate = 1082,
  kTime = 1083,
  kTimestamp = 1114,
  kTimestampTz = 1184,
  kNumeric = 1700,
  kUuid = 2950,
  kFirstUserObject = 16384
};

int AdoFromOid(Oid type, int typmod, long* size);
Variant ReadValue(const char* s, int len, Oid type, int adoType);
// A value as the text the engine reads for a parameter; nullopt for Null.
std::optional<std::string> ParamText(const Variant& v);

// What went wrong, from the result's SQLSTATE and diagnostic fields (or the connection's
// state when there is no result).
Fault MapFault(const Result& res, PGconn* conn);

}  // namespace etapas::engine::postgres
