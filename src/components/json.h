#pragma once
// JSON text for the programs' line-oriented outputs (etapas-admin rows, script events).
#include <string>
#include <string_view>

namespace etapas {

// A JSON string literal. Bytes that are not valid UTF-8 become U+FFFD so the output
// stays valid JSON whatever an old database holds.
std::string JsonString(std::string_view text);

}  // namespace etapas
