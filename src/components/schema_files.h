#pragma once
// The schema/*.sql files, compiled in: file name -> T-SQL text.
#include <map>
#include <string>

namespace etapas::schema {
const std::map<std::string, std::string>& Files();
}
