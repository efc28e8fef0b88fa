#pragma once
// The PostgreSQL engine as a backend of the T-SQL session (server.h: the directory entry).
// Sessions log in with their own user and password (role names in lower case). "master" is
// the maintenance database: CREATE DATABASE [X] there creates X with its login X
// (password X) as owner, as the suite's points of sale expect.
#include <memory>
#include <string>

#include "engine/backend.h"
#include "engine/postgres/server.h"

namespace etapas::engine::postgres {

// `server` is the name the session asked for; `location` the rest of its directory entry
// (empty: the server name itself is HOST[:PORT]); `dataRoot` the data root, which relative file names in it are taken
// from.
std::unique_ptr<Backend> Open(const std::string& server, const std::string& location, const std::string& dataRoot,
                              const ConnectRequest& request, Fault& fault);

// A backend whose connection is being made: its attempt is awaited together with others'
// (Await in server.h), then Finish gives the backend or says why there is none.
class Opening {
 public:
  virtual ~Opening() = default;
  virtual Attempt& attempt() = 0;
  virtual std::unique_ptr<Backend> Finish(Fault& fault) = 0;
};

// As Open, without waiting; null with fault set when the entry or the name is refused.
std::unique_ptr<Opening> StartOpen(const std::string& server, const std::string& location, const std::string& dataRoot,
                                   const ConnectRequest& request, Fault& fault, const std::string& where = "");

}  // namespace etapas::engine::postgres
