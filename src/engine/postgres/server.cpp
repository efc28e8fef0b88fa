#include "engine/postgres/server.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <vector>

#include "components/text.h"
#include "engine/postgres/link.h"
#include "engine/session.h"

namespace etapas::engine::postgres {
namespace {

bool KnownSslMode(const std::string& mode) {
  for (const char* m : {"disable", "allow", "prefer", "require", "verify-ca", "verify-full"})
    if (mode == m) return true;
  return false;
}

bool EntryFault(Fault& fault, const std::string& message) {
  fault = Fault(Fault::Kind::ServerNotFound);
  fault.message = message;
  return false;
}

void IgnoreNotice(void*, const char*) {}

// How often a wait lets the program's events through.
constexpr std::chrono::milliseconds kWaitSlice{25};

// A whole number of seconds (or a count) of at least `least`; false when it is not one.
bool Whole(const std::string& value, int least, int& out) {
  if (value.empty() || value.size() > 6 || value.find_first_not_of("0123456789") != std::string::npos) return false;
  out = std::max(least, std::atoi(value.c_str()));
  return true;
}

std::string ConnectionMessage(PGconn* conn) {
  std::string msg = conn ? PQerrorMessage(conn) : "out of memory";
  return std::string(text::TrimEnd(msg, "\n "));
}

// Why a connection attempt failed, in the terms the session words.
Fault ConnectFault(const Config& c, const std::string& database, const std::string& user, const std::string& msg) {
  using K = Fault::Kind;
  Fault f;
  if (msg.find("database \"") != std::string::npos && msg.find("does not exist") != std::string::npos) {
    f.kind = K::CannotOpenDatabase;
  } else if (msg.find("authentication failed") != std::string::npos || msg.find("role \"") != std::string::npos ||
             msg.find("pg_hba.conf") != std::string::npos ||
             msg.find("permission denied for database") != std::string::npos ||
             msg.find("password") != std::string::npos) {
    f.kind = K::LoginFailed;
    f.message = "the login '" + user + "' was refused: " + msg;
  } else {
    f.kind = K::ServerNotFound;
    f.message = "the PostgreSQL server of '" + c.server + "' (" + c.host + (c.port.empty() ? "" : ":" + c.port) +
                ") cannot be reached for database \"" + database + "\": " + msg;
  }
  // libpq does not quote connection strings back, but the text goes to the operator and
  // to logs.
  f.message = text::HideSecrets(f.message);
  return f;
}

}  // namespace

// One case per option of the server entry.
// NOLINTNEXTLINE(readability-function-cognitive-complexity)
bool ParseConfig(const std::string& server, const std::string& location, const std::string& root, Config& c,
                 Fault& fault, const std::string& where) {
  c.server = server;
  std::vector<std::string> words;
  for (size_t i = 0; i < location.size();) {
    size_t e = location.find_first_of(" \t", i);
    if (e == std::string::npos) e = location.size();
    if (e > i) words.push_back(location.substr(i, e - i));
    i = e + 1;
  }
  const std::string entry =
      "the server directory entry of '" + server + "'" + (where.empty() ? "" : " (" + where + ")");
  std::string address = server;
  for (size_t k = 0; k < words.size(); ++k) {
    const auto eq = words[k].find('=');
    if (eq == std::string::npos) {
      if (k != 0) return EntryFault(fault, entry + " has a word it does not know: '" + words[k] + "'.");
      address = words[k];
      continue;
    }
    const std::string key = text::Lower(words[k].substr(0, eq)), value = words[k].substr(eq + 1);
    if (key == "admin")
      c.admin = value;
    else if (key == "user")
      c.user = value;
    else if (key == "prefix")
      c.prefix = text::Lower(value);
    else if (key == "maintenance")
      c.maintenance = value;
    else if (key == "connect_timeout" || key == "statement_timeout" || key == "keepalives_idle" ||
             key == "keepalives_interval" || key == "keepalives_count" || key == "tcp_user_timeout" ||
             key == "connections_at_once") {
      int& target = key == "connect_timeout"       ? c.connectTimeout
                    : key == "statement_timeout"   ? c.statementTimeout
                    : key == "keepalives_idle"     ? c.keepalivesIdle
                    : key == "keepalives_interval" ? c.keepalivesInterval
                    : key == "keepalives_count"    ? c.keepalivesCount
                    : key == "connections_at_once" ? c.connectionsAtOnce
                                                   : c.tcpUserTimeout;
      if (!Whole(value, key == "tcp_user_timeout" ? 0 : 1, target))
        return EntryFault(fault, entry + " gives " + key + " '" + value + "', which is not a whole number.");
    } else if (key == "sslmode") {
      c.sslmode = text::Lower(value);
      if (!KnownSslMode(c.sslmode))
        return EntryFault(fault, entry + " has an unknown sslmode '" + value +
                                     "' (disable, allow, prefer, require, verify-ca or verify-full).");
    } else if (key == "sslrootcert" || key == "sslcert" || key == "sslkey" || key == "sslcrl") {
      if (value.empty()) return EntryFault(fault, entry + " gives no file for " + key + ".");
      // Relative to the data root, wherever the program was started from; "system" is
      // libpq's word for the system's certificate authorities.
      std::string path = value;
      if (path.front() != '/' && !(key == "sslrootcert" && path == "system")) path = root + "/" + path;
      (key == "sslrootcert" ? c.sslrootcert
       : key == "sslcert"   ? c.sslcert
       : key == "sslkey"    ? c.sslkey
                            : c.sslcrl) = path;
    } else {
      return EntryFault(fault, entry + " has an unknown option '" + key + "'.");
    }
  }
  // HOST[:PORT]; an IPv6 address is written in brackets.
  std::string host = address, port;
  if (!host.empty() && host.front() == '[') {
    const auto close = host.find(']');
    if (close != std::string::npos) {
      if (close + 1 < host.size() && host[close + 1] == ':') port = host.substr(close + 2);
      host = host.substr(1, close - 1);
    }
  } else if (const auto colon = host.rfind(':'); colon != std::string::npos && host.find(':') == colon) {
    port = host.substr(colon + 1);
    host = host.substr(0, colon);
  }
  if (host.empty())
    return EntryFault(fault, "no host for server '" + server + "'" + (where.empty() ? "" : " (" + where + ")") + ".");
  if (!port.empty() && (port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos))
    return EntryFault(fault, entry + " gives the port '" + port + "', which is not a whole number.");
  c.host = host;
  c.port = port;
  return true;
}

int EffectiveTimeout(const Config& c, int commandTimeout) {
  return commandTimeout <= 0 ? c.statementTimeout : std::min(commandTimeout, c.statementTimeout);
}

Attempt::Attempt(const Config& c, const std::string& physical, const std::string& logical, const Login& login,
                 int timeoutSeconds)
    : config_(c), logical_(logical), user_(login.user), bound_(std::max(2, timeoutSeconds)) {
  const std::string timeout = std::to_string(bound_);
  // The server's text rules: ISO dates out, day-first dates in, strings without escapes.
  // 30 s is the data API's default CommandTimeout: most sessions never change it.
  const std::string options =
      "-c DateStyle=ISO,DMY -c standard_conforming_strings=on -c client_min_messages=warning "
      "-c statement_timeout=" +
      std::to_string(EffectiveTimeout(c, 30) * 1000);
  const std::string idle = std::to_string(c.keepalivesIdle), interval = std::to_string(c.keepalivesInterval),
                    count = std::to_string(c.keepalivesCount),
                    userTimeout = c.tcpUserTimeout > 0 ? std::to_string(c.tcpUserTimeout * 1000) : "";
  auto add = [&](const char* k, const std::string& v) {
    if (!v.empty()) parameters_.emplace_back(k, v);
  };
  const std::string user = text::Lower(login.user);
  add("host", c.host);
  add("port", c.port);
  add("dbname", physical);
  add("user", user);
  add("password", login.password);
  add("connect_timeout", timeout);
  add("options", options);
  static const std::string kEncoding = "UTF8", kApplication = "etapas", kOn = "1";
  add("client_encoding", kEncoding);
  add("application_name", kApplication);
  add("keepalives", kOn);
  add("keepalives_idle", idle);
  add("keepalives_interval", interval);
  add("keepalives_count", count);
  add("tcp_user_timeout", userTimeout);
  add("sslmode", c.sslmode);
  add("sslrootcert", c.sslrootcert);
  add("sslcert", c.sslcert);
  add("sslkey", c.sslkey);
  add("sslcrl", c.sslcrl);
}

void Attempt::Start() {
  std::vector<const char*> keys, values;
  for (const auto& [key, value] : parameters_) {
    keys.push_back(key);
    values.push_back(value.c_str());
  }
  keys.push_back(nullptr);
  values.push_back(nullptr);
  started_ = true;
  // libpq bounds only its own blocking waits by connect_timeout: the whole attempt, every
  // address of the host included, is bounded here, from its own start.
  deadline_ = Clock::now() + std::chrono::seconds(bound_);
  conn_ = PQconnectStartParams(keys.data(), values.data(), 0);
  done_ = !conn_ || PQstatus(conn_) == CONNECTION_BAD;
  parameters_.clear();
}

Attempt::~Attempt() { PQfinish(conn_); }

void Attempt::Step() {
  step_ = PQconnectPoll(conn_);
  done_ = step_ == PGRES_POLLING_OK || step_ == PGRES_POLLING_FAILED;
}

void Attempt::Expire() {
  timedOut_ = true;
  done_ = true;
}

PGconn* Attempt::Take(Fault& fault) {
  PGconn* conn = conn_;
  if (!conn || timedOut_ || PQstatus(conn) != CONNECTION_OK) {
    std::string msg = ConnectionMessage(conn);
    if (timedOut_) {
      // What the blocking attempt says of a server that does not answer in time.
      const char* host = PQhost(conn);
      const char* address = PQhostaddr(conn);
      const char* port = PQport(conn);
      const std::string name = host && *host ? host : config_.host;
      msg += std::string(msg.empty() ? "" : "\n") + "connection to server at \"" + name + "\"" +
             (address && *address && name != address ? std::string(" (") + address + ")" : "") + ", port " +
             (port && *port          ? port
              : config_.port.empty() ? "5432"
                                     : config_.port) +
             " failed: timeout expired";
    }
    fault = ConnectFault(config_, logical_, user_, msg);
    return nullptr;
  }
  conn_ = nullptr;
  PQsetNoticeProcessor(conn, IgnoreNotice, nullptr);
  return conn;
}

Batch::Batch(const std::vector<Attempt*>& attempts) {
  for (Attempt* a : attempts) {
    if (a->Done()) continue;
    const std::string host = text::Lower(a->config_.host), port = a->config_.port.empty() ? "5432" : a->config_.port;
    auto s = std::find_if(servers_.begin(), servers_.end(),
                          [&](const Server& x) { return x.host == host && x.port == port; });
    if (s == servers_.end()) s = servers_.insert(servers_.end(), {host, port, a->config_.connectionsAtOnce, {}, 0});
    s->atOnce = std::min(s->atOnce, a->config_.connectionsAtOnce);
    s->attempts.push_back(a);
  }
}

void Batch::Start() {
  const auto now = Clock::now();
  for (Server& s : servers_) {
    int inProgress = 0;
    for (size_t i = 0; i < s.started; ++i) {
      Attempt* a = s.attempts[i];
      if (!a->Done() && now >= a->deadline_) a->Expire();
      inProgress += a->Done() ? 0 : 1;
    }
    // The room the attempts just ended made; one refused at its start leaves it free.
    for (; inProgress < s.atOnce && s.started < s.attempts.size(); ++s.started) {
      Attempt* a = s.attempts[s.started];
      if (!a->started_) a->Start();
      inProgress += a->Done() ? 0 : 1;
    }
  }
}

void Batch::Run() {
  using std::chrono::milliseconds;
  std::vector<pollfd> fds;
  std::vector<Attempt*> waiting;
  auto hooked = Clock::now();
  for (;;) {
    Start();
    const auto now = Clock::now();
    fds.clear();
    waiting.clear();
    auto next = now + kWaitSlice - std::chrono::duration_cast<milliseconds>(now - hooked);
    for (const Server& s : servers_) {
      for (size_t i = 0; i < s.started; ++i) {
        Attempt* a = s.attempts[i];
        if (a->Done()) continue;
        next = std::min(next, a->deadline_);
        // PQconnectPoll only once the socket is ready: a connection still being made would
        // pass for made. The socket may change from one step to the next (another address).
        fds.push_back(
            {PQsocket(a->conn_), static_cast<short>(a->step_ == PGRES_POLLING_READING ? POLLIN : POLLOUT), 0});
        waiting.push_back(a);
      }
    }
    // Start leaves none waiting only once every server's attempts have all ended.
    if (waiting.empty()) return;
    const auto wait = std::max<milliseconds::rep>(0, std::chrono::ceil<milliseconds>(next - now).count());
    const int n = poll(fds.data(), fds.size(), static_cast<int>(wait));
    // An error on a socket counts as ready: libpq reads it and says what happened.
    for (size_t i = 0; i < waiting.size(); ++i)
      if ((n < 0 && errno != EINTR) || fds[i].fd < 0 || (n > 0 && fds[i].revents != 0)) waiting[i]->Step();
    // Also while attempts progress: many stores must not freeze the window either. What
    // the hook runs cannot touch these attempts: they are this call's own.
    if (Clock::now() - hooked >= kWaitSlice) {
      WhileWaiting();
      hooked = Clock::now();
    }
  }
}

void Await(const std::vector<Attempt*>& attempts) { Batch(attempts).Run(); }

PGconn* Connect(const Config& c, const std::string& physical, const std::string& logical, const Login& login,
                int timeoutSeconds, Fault& fault) {
  Attempt attempt(c, physical, logical, login, timeoutSeconds);
  Await({&attempt});
  return attempt.Take(fault);
}

}  // namespace etapas::engine::postgres
