#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "engine/sql/lexer.h"

namespace etapas::engine::sql {

// Splits a T-SQL batch into statements as the server would: at ";" and "GO" lines, and
// where a new statement starts without a separator (the system separates statements of a
// batch by carriage returns only). Each statement is returned as written, trimmed;
// empty statements are dropped. Throws SyntaxError when the batch cannot be tokenized.
std::vector<std::string> SplitStatements(std::string_view batch);

}  // namespace etapas::engine::sql
