#pragma once
// The tables of a database with the names and types their statements declared: the engine
// folds names to lower case and has types of its own, so the translator keeps the declared
// ones in comments ("tsql:NAME" on tables, "tsql:TYPE:NAME" on columns).
#include <libpq-fe.h>

#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/backend.h"
#include "engine/postgres/link.h"

namespace etapas::engine::postgres {

struct ColumnInfo {
  std::string name;  // as declared
  int attnum = 0;
  int ordinal = 0;
  int adoType = 200;
  long size = 0;
  bool nullable = true;
  bool isKey = false;
};

struct TableInfo {
  std::string name;  // as declared
  std::vector<ColumnInfo> columns;
  const ColumnInfo* ByAttnum(int attnum) const;
};

struct Catalogue {
  std::unordered_map<Oid, TableInfo> byOid;
  std::map<std::string, Oid> byName;  // the engine's (lower-case) name

  // Reads the tables of the connection's current schema.
  bool Load(Link& link, Fault& fault);
  // Columns of one table (ignoring case; empty: of every table) as the catalogue lists them.
  std::vector<SchemaColumn> Columns(std::string_view table, const std::string& database) const;
};

}  // namespace etapas::engine::postgres
