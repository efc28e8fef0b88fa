#include "engine/postgres/catalogue.h"

#include <cstdlib>

#include "components/text.h"
#include "engine/postgres/values.h"

namespace etapas::engine::postgres {
namespace {

constexpr const char* kCatalogueQuery =
    "SELECT c.oid, c.relname, obj_description(c.oid, 'pg_class'), a.attnum, a.attname, a.atttypid, "
    "a.atttypmod, a.attnotnull, col_description(c.oid, a.attnum), COALESCE(a.attnum = ANY (i.indkey), false) "
    "FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace "
    "JOIN pg_attribute a ON a.attrelid = c.oid AND a.attnum > 0 AND NOT a.attisdropped "
    "LEFT JOIN pg_index i ON i.indrelid = c.oid AND i.indisprimary "
    "WHERE n.nspname = current_schema() AND c.relkind IN ('r', 'v', 'm', 'f', 'p') "
    "ORDER BY c.relname, a.attnum";

}  // namespace

const ColumnInfo* TableInfo::ByAttnum(int attnum) const {
  for (const auto& c : columns)
    if (c.attnum == attnum) return &c;
  return nullptr;
}

bool Catalogue::Load(Link& link, Fault& fault) {
  byOid.clear();
  byName.clear();
  Result r = link.ExecParams(kCatalogueQuery);
  if (!r.Ok()) {
    fault = MapFault(r, link.get());
    return false;
  }
  const int n = PQntuples(r.r);
  for (int i = 0; i < n; ++i) {
    auto value = [&](int col) {
      return std::string(PQgetvalue(r.r, i, col), static_cast<size_t>(PQgetlength(r.r, i, col)));
    };
    const Oid oid = static_cast<Oid>(std::strtoul(PQgetvalue(r.r, i, 0), nullptr, 10));
    auto [it, added] = byOid.try_emplace(oid);
    TableInfo& t = it->second;
    if (added) {
      const std::string comment = value(2);
      t.name = comment.rfind("tsql:", 0) == 0 ? comment.substr(5) : value(1);
      byName[text::Lower(value(1))] = oid;
    }
    ColumnInfo c;
    c.attnum = std::atoi(PQgetvalue(r.r, i, 3));
    c.ordinal = static_cast<int>(t.columns.size()) + 1;
    c.nullable = value(7) != "t";
    c.isKey = value(9) == "t";
    const std::string comment = value(8);
    const auto colon = comment.find(':', 5);
    if (comment.rfind("tsql:", 0) == 0 && colon != std::string::npos) {
      c.adoType = AdoTypeFromDeclared(comment.substr(5, colon - 5), &c.size);
      c.name = comment.substr(colon + 1);
    } else {
      c.adoType = AdoFromOid(static_cast<Oid>(std::strtoul(PQgetvalue(r.r, i, 5), nullptr, 10)),
                             std::atoi(PQgetvalue(r.r, i, 6)), &c.size);
      c.name = value(4);
    }
    t.columns.push_back(std::move(c));
  }
  return true;
}

std::vector<SchemaColumn> Catalogue::Columns(std::string_view table, const std::string& database) const {
  std::vector<SchemaColumn> out;
  auto add = [&](const TableInfo& t) {
    for (const auto& c : t.columns) {
      SchemaColumn s;
      s.catalog = database;
      s.schema = "dbo";
      s.table = t.name;
      s.name = c.name;
      s.ordinal = c.ordinal;
      s.adoType = c.adoType;
      s.maxLength = c.size;
      s.nullable = c.nullable;
      s.isKey = c.isKey;
      out.push_back(std::move(s));
    }
  };
  if (table.empty()) {
    for (const auto& [name, oid] : byName) add(byOid.at(oid));
  } else if (auto it = byName.find(text::Lower(text::Trim(table))); it != byName.end()) {
    add(byOid.at(it->second));
  }
  return out;
}

}  // namespace etapas::engine::postgres
