#pragma once
// The embedded engine: each server is a folder, each database one SQLite file in it.
#include <memory>
#include <string>

#include "engine/backend.h"

namespace etapas::engine::sqlite {

// Opens `database` in the server folder; "master" is the server itself (CREATE/DROP
// DATABASE). Fails, creating nothing, when the database file is missing.
std::unique_ptr<Backend> Open(const std::string& serverFolder, const std::string& database, Fault& fault);

}  // namespace etapas::engine::sqlite
