#include "admin/json.h"

#include <charconv>
#include <cmath>

#include "components/json.h"

namespace etapas::admin {

std::string JsonValue(const Variant& value, int adoType) {
  switch (value.kind()) {
    case Variant::Kind::Empty:
    case Variant::Kind::Null: return "null";
    case Variant::Kind::Boolean: return value.AsInteger() != 0 ? "true" : "false";
    case Variant::Kind::Integer:
      if (adoType == ado::adtype::kBoolean) return value.AsInteger() != 0 ? "true" : "false";
      return std::to_string(value.AsInteger());
    case Variant::Kind::Double: {
      double d = value.AsDouble();
      if (!std::isfinite(d)) return "null";
      if (adoType == ado::adtype::kBoolean) return d != 0 ? "true" : "false";
      char buf[64];
      auto res = std::to_chars(buf, buf + sizeof buf, d);
      return std::string(buf, res.ptr);
    }
    case Variant::Kind::Date:
    case Variant::Kind::Text: return JsonString(value.ToText());
  }
  return "null";
}

std::string JsonRow(ado::Recordset& rs) {
  std::string out = "{";
  for (long i = 0; i < rs.FieldCount(); ++i) {
    ado::Field field = rs.Fields(i);
    if (i > 0) out += ", ";
    out += JsonString(field.Name());
    out += ": ";
    out += JsonValue(field.Value(), field.Type());
  }
  return out + "}";
}

}  // namespace etapas::admin
