#include "engine/postgres/server.h"

#include <poll.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "components/text.h"
#include "engine/postgres/link.h"

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

std::string ConnectionMessage(PGconn* conn) {
  std::string msg = conn ? PQerrorMessage(conn) : "out of memory";
  while (!msg.empty() && (msg.back() == '\n' || msg.back() == ' ')) msg.pop_back();
  return msg;
}

// Why a connection attempt failed, in the terms the session words.
Fault ConnectFault(const Config& c, const std::string& database, const std::string& user, const std::string& msg) {
  using K = Fault::Kind;
  Fault f;
  if (msg.find("database \"") != std::string::npos && msg.find("does not exist") != std::string::npos) {
    f.kind = K::CannotOpenDatabase;
  } else if (msg.find("authentication failed") != std::string::npos || msg.find("role \"") != std::string::npos ||
             msg.find("pg_hba.conf") != std::string::npos || msg.find("permission denied for database") != std::string::npos ||
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

bool ParseConfig(const std::string& server, const std::string& location, const std::string& root, Config& c,
                 Fault& fault) {
  c.server = server;
  std::vector<std::string> words;
  for (size_t i = 0; i < location.size();) {
    size_t e = location.find_first_of(" \t", i);
    if (e == std::string::npos) e = location.size();
    if (e > i) words.push_back(location.substr(i, e - i));
    i = e + 1;
  }
  const std::string entry = "the server directory entry of '" + server + "'";
  std::string address = server;
  for (size_t k = 0; k < words.size(); ++k) {
    const auto eq = words[k].find('=');
    if (eq == std::string::npos) {
      if (k != 0) return EntryFault(fault, entry + " has a word it does not know: '" + words[k] + "'.");
      address = words[k];
      continue;
    }
    const std::string key = text::Lower(words[k].substr(0, eq)), value = words[k].substr(eq + 1);
    if (key == "admin") c.admin = value;
    else if (key == "user") c.user = value;
    else if (key == "prefix") c.prefix = text::Lower(value);
    else if (key == "maintenance") c.maintenance = value;
    else if (key == "connect_timeout") c.connectTimeout = std::max(1, std::atoi(value.c_str()));
    else if (key == "sslmode") {
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
      (key == "sslrootcert" ? c.sslrootcert : key == "sslcert" ? c.sslcert : key == "sslkey" ? c.sslkey : c.sslcrl) = path;
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
  if (host.empty()) return EntryFault(fault, "no host for server '" + server + "'.");
  c.host = host;
  c.port = port;
  return true;
}

PGconn* Connect(const Config& c, const std::string& physical, const std::string& logical, const Login& login,
                int timeoutSeconds, Fault& fault) {
  const std::string timeout = std::to_string(std::max(2, timeoutSeconds));
  // The server's text rules: ISO dates out, day-first dates in, strings without escapes.
  // 30 s is the data API's default CommandTimeout: most sessions never change it.
  const std::string options =
      "-c DateStyle=ISO,DMY -c standard_conforming_strings=on -c client_min_messages=warning -c statement_timeout=30000";
  std::vector<const char*> keys, values;
  auto add = [&](const char* k, const std::string& v) {
    if (v.empty()) return;
    keys.push_back(k);
    values.push_back(v.c_str());
  };
  const std::string user = text::Lower(login.user);
  add("host", c.host);
  add("port", c.port);
  add("dbname", physical);
  add("user", user);
  add("password", login.password);
  add("connect_timeout", timeout);
  add("options", options);
  static const std::string kEncoding = "UTF8", kApplication = "etapas";
  add("client_encoding", kEncoding);
  add("application_name", kApplication);
  add("sslmode", c.sslmode);
  add("sslrootcert", c.sslrootcert);
  add("sslcert", c.sslcert);
  add("sslkey", c.sslkey);
  add("sslcrl", c.sslcrl);
  keys.push_back(nullptr);
  values.push_back(nullptr);
  // libpq bounds only its own blocking waits by connect_timeout: the whole attempt, every
  // address of the host included, is bounded here.
  PGconn* conn = PQconnectStartParams(keys.data(), values.data(), 0);
  bool timedOut = false;
  if (conn && PQstatus(conn) != CONNECTION_BAD) {
    Waiter wait(Clock::now() + std::chrono::seconds(std::max(2, timeoutSeconds)));
    PostgresPollingStatusType step = PGRES_POLLING_WRITING;
    while (step != PGRES_POLLING_OK && step != PGRES_POLLING_FAILED) {
      // PQconnectPoll only once the socket is ready: a connection still being made would
      // pass for made.
      Waiter::Wake w;
      do w = wait.Ready(PQsocket(conn), step == PGRES_POLLING_READING ? POLLIN : POLLOUT);
      while (w == Waiter::Wake::kHook);
      if (w == Waiter::Wake::kDeadline) {
        timedOut = true;
        break;
      }
      step = PQconnectPoll(conn);
    }
  }
  if (!conn || timedOut || PQstatus(conn) != CONNECTION_OK) {
    std::string msg = ConnectionMessage(conn);
    if (timedOut) {
      // What the blocking attempt says of a server that does not answer in time.
      const char* host = PQhost(conn);
      const char* address = PQhostaddr(conn);
      const char* port = PQport(conn);
      const std::string name = host && *host ? host : c.host;
      msg += std::string(msg.empty() ? "" : "\n") + "connection to server at \"" + name + "\"" +
             (address && *address && name != address ? std::string(" (") + address + ")" : "") + ", port " +
             (port && *port ? port : c.port.empty() ? "5432" : c.port) + " failed: timeout expired";
    }
    fault = ConnectFault(c, logical, login.user, msg);
    PQfinish(conn);
    return nullptr;
  }
  PQsetNoticeProcessor(conn, IgnoreNotice, nullptr);
  return conn;
}

}  // namespace etapas::engine::postgres
