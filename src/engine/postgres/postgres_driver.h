#pragma once
// PostgreSQL servers through libpq. A server directory entry reads
//   NAME = postgresql HOST[:PORT] [admin=ROLE] [user=ROLE] [prefix=TEXT] [connect_timeout=SECONDS]
//                                 [maintenance=DATABASE] [sslmode=MODE] [sslrootcert=FILE]
//                                 [sslcert=FILE] [sslkey=FILE] [sslcrl=FILE]
// sslmode is libpq's (disable, allow, prefer, require, verify-ca, verify-full); relative
// certificate files are taken from the data root.
// Sessions log in with their own user and password (role names in lower case). "master" is
// the maintenance database: CREATE DATABASE [X] there creates X with its login X
// (password X) as owner, as the suite's points of sale expect.
#include <memory>
#include <string>

#include "engine/session.h"

namespace etapas::engine::postgres {

// `server` is the name the session asked for; `location` the rest of its directory entry
// (empty: the server name itself is HOST[:PORT]); `dataRoot` the folder of servers.conf.
std::unique_ptr<Session> Open(const std::string& server, const std::string& location, const std::string& dataRoot,
                              const ConnectRequest& request, ProviderError& error);

}  // namespace etapas::engine::postgres
