#pragma once
// Untrusted texts and names as T-SQL writes them. Header only: the engine's lexer gives
// the same literals (engine::sql::QuoteLiteral forwards here), and the system's modules,
// which never see the engine, use these.
#include <string>
#include <string_view>

#include "components/text.h"

namespace etapas::sqltext {

// The text with each apostrophe doubled, for a statement that puts the quotes itself.
inline std::string Doubled(std::string_view s) { return text::ReplaceAll(s, "'", "''"); }
// The text as a string literal: between apostrophes, each apostrophe doubled.
inline std::string Literal(std::string_view s) { return "'" + Doubled(s) + "'"; }
// Any name between brackets, each ] doubled.
inline std::string Bracketed(std::string_view name) { return "[" + text::ReplaceAll(name, "]", "]]") + "]"; }
// A plain name (ASCII letters, digits and _) as it is; any other one bracketed.
inline std::string Name(std::string_view name) {
  bool plain = !name.empty();
  for (char c : name)
    plain = plain && ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_');
  return plain ? std::string(name) : Bracketed(name);
}

}  // namespace etapas::sqltext
