#pragma once
// Rows as JSON lines, for scripts and tests reading the tool's output.
#include <string>

#include "components/ado.h"
#include "components/variant.h"

namespace etapas::admin {

// A field value: null for Null/Empty; numbers as numbers (null when not finite);
// true/false for Booleans, and for whole numbers of a bit column (engines without a
// Boolean type hand them back as 0/1); texts and dates as strings.
std::string JsonValue(const Variant& value, int adoType);

// The current row as one JSON object, column name -> value, in column order.
std::string JsonRow(ado::Recordset& rs);

}  // namespace etapas::admin
