#pragma once
// PostgreSQL servers through libpq. A server directory entry reads
//   NAME = postgresql HOST[:PORT] [admin=ROLE] [user=ROLE] [prefix=TEXT] [connect_timeout=SECONDS]
//                                 [maintenance=DATABASE] [sslmode=MODE] [sslrootcert=FILE]
//                                 [sslcert=FILE] [sslkey=FILE] [sslcrl=FILE] [statement_timeout=SECONDS]
//                                 [keepalives_idle=SECONDS] [keepalives_interval=SECONDS]
//                                 [keepalives_count=N] [tcp_user_timeout=SECONDS]
//                                 [connections_at_once=N]
// sslmode is libpq's (disable, allow, prefer, require, verify-ca, verify-full); relative
// certificate files are taken from the data root.
//
// A server that stops answering must not hold the program: a statement is waited for at
// most min(CommandTimeout, statement_timeout) seconds (CommandTimeout 0: statement_timeout)
// plus a grace of 3 s for the server's own cancellation to arrive, whatever CommandTimeout
// asks; the server is given the same statement_timeout. TCP keepalives (idle, interval,
// count) and tcp_user_timeout make the system notice a host that is gone, also on an idle
// connection. Defaults: statement_timeout 30, keepalives 10 / 5 / 3, tcp_user_timeout 30.
//
// Attempts awaited together are made at most connections_at_once (16) at a time to one
// HOST:PORT (the smallest of its entries'): given hundreds at once, a server still
// accepting the first ones lets the last ones time out.
#include <libpq-fe.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

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
  int statementTimeout = 30;  // seconds; the longest any statement is waited for
  int keepalivesIdle = 10, keepalivesInterval = 5, keepalivesCount = 3;
  int tcpUserTimeout = 30;     // seconds; 0: the system's
  int connectionsAtOnce = 16;  // attempts in progress at a time to this host and port
  // TLS: libpq's own parameters, certificate paths already made absolute.
  std::string sslmode, sslrootcert, sslcert, sslkey, sslcrl;
};

struct Login {
  std::string user, password;
};

// `location`: the rest of the directory entry (empty: the server name itself is
// HOST[:PORT]); `root`: the data root, which relative file names are taken from; `where`:
// the file and line of the entry, named in the refusals.
bool ParseConfig(const std::string& server, const std::string& location, const std::string& root, Config& config,
                 Fault& fault, const std::string& where = "");

// The statement_timeout applied for a session's CommandTimeout (seconds, 0: none asked).
int EffectiveTimeout(const Config& config, int commandTimeout);

// One connection attempt to the physical database `physical`, started and made in steps by
// a Batch (Await) and bounded by `timeoutSeconds` from its start. `logical` is the name the session
// used.
class Attempt {
 public:
  Attempt(const Config& config, const std::string& physical, const std::string& logical, const Login& login,
          int timeoutSeconds);
  ~Attempt();
  Attempt(const Attempt&) = delete;
  Attempt& operator=(const Attempt&) = delete;

  bool Done() const { return done_; }
  // The connection made, or null with fault set; once done.
  PGconn* Take(Fault& fault);

 private:
  friend class Batch;
  void Start();
  void Step();
  void Expire();

  Config config_;
  std::string logical_, user_;
  std::vector<std::pair<const char*, std::string>> parameters_;  // libpq's, until started
  int bound_;
  PGconn* conn_ = nullptr;
  PostgresPollingStatusType step_ = PGRES_POLLING_WRITING;
  std::chrono::steady_clock::time_point deadline_;
  bool started_ = false, done_ = false, timedOut_ = false;
};

// Attempts made together: at most connections_at_once at a time to one server (the next
// started as soon as one ends), all their sockets polled together with the wait hook run
// meanwhile.
class Batch {
 public:
  explicit Batch(const std::vector<Attempt*>& attempts);
  // Starts what the servers take now, without waiting, so that the first attempts are under
  // way while the caller does something else.
  void Start();
  // Makes every attempt, each until it is made, refused or past its own deadline.
  void Run();

 private:
  // A server's attempts in the order given; the first `started` of them have begun.
  struct Server {
    std::string host, port;
    int atOnce = 0;
    std::vector<Attempt*> attempts;
    size_t started = 0;
  };
  std::vector<Server> servers_;
};

// Batch(attempts).Run().
void Await(const std::vector<Attempt*>& attempts);

// One attempt, awaited alone.
PGconn* Connect(const Config& config, const std::string& physical, const std::string& logical, const Login& login,
                int timeoutSeconds, Fault& fault);

}  // namespace etapas::engine::postgres
