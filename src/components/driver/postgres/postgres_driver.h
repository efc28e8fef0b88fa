#pragma once
// PostgreSQL servers through libpq. A server directory entry reads
//   NAME = postgresql HOST[:PORT] [admin=ROLE] [user=ROLE] [prefix=TEXT] [connect_timeout=SECONDS]
//                                 [maintenance=DATABASE]
// Sessions log in with their own user and password (role names in lower case). "master" is
// the maintenance database: CREATE DATABASE [X] there creates X with its login X
// (password X) as owner, as the suite's points of sale expect.
#include <memory>
#include <string>

#include "components/driver/driver.h"

namespace etapas::driver::postgres {

// `server` is the name the session asked for; `location` the rest of its directory entry
// (empty: the server name itself is HOST[:PORT]).
std::unique_ptr<Session> Open(const std::string& server, const std::string& location,
                              const ConnectRequest& request, ProviderError& error);

}  // namespace etapas::driver::postgres
