#pragma once
// SQL Server's LIKE for the embedded engine, on upper-cased code points.
#include <string_view>

namespace etapas::engine::sqlite {

// % _ [set] [^set] [a-z] and an escape character (0: none). Runs in time proportional to
// pattern x subject at worst, whatever the number of %.
bool LikeMatch(std::u32string_view pattern, std::u32string_view subject, char32_t escape);

}  // namespace etapas::engine::sqlite
