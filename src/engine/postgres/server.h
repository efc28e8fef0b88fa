#pragma once
// PostgreSQL servers through libpq. A server directory entry reads
//   NAME = postgresql HOST[:PORT] [admin=ROLE] [user=ROLE] [prefix=TEXT] [connect_timeout=SECONDS]
//                                 [maintenance=DATABASE] [sslmode=MODE] [sslrootcert=FILE]
//                                 [sslcert=FILE] [sslkey=FILE] [sslcrl=FILE]
// sslmode is libpq's (disable, allow, prefer, require, verify-ca, verify-full); relative
// certificate files are taken from the data root.
#include <libpq-fe.h>

#include <string>

#include "engine/backend.h"

namespace etapas::engine::postgres {

struct Config {
  std::string server;  // the name the session asked for
  std::string host, port;
  std::string admin;   // login of "master" sessions (empty: the session's own)
  std::string user;    // login of every session (empty: the session's own)
  std::string prefix;  // prepended to every database name on the server
  std::string maintenance = "postgres";
  int connectTimeout = 5;
  // TLS: libpq's own parameters, certificate paths already made absolute.
  std::string sslmode, sslrootcert, sslcert, sslkey, sslcrl;
};

struct Login {
  std::string user, password;
};

// `location`: the rest of the directory entry (empty: the server name itself is
// HOST[:PORT]); `root`: the folder of servers.conf.
bool ParseConfig(const std::string& server, const std::string& location, const std::string& root, Config& config,
                 Fault& fault);

// Connects to the physical database `physical`, in steps with the wait hook run meanwhile,
// the whole attempt bounded by `timeoutSeconds`. `logical` is the name the session used.
PGconn* Connect(const Config& config, const std::string& physical, const std::string& logical, const Login& login,
                int timeoutSeconds, Fault& fault);

}  // namespace etapas::engine::postgres
