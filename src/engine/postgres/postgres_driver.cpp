#include "engine/postgres/postgres_driver.h"

#include <libpq-fe.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

#include "engine/sql/tsql.h"
#include "components/text.h"

namespace etapas::engine::postgres {
namespace {

// ---- The server directory entry ------------------------------------------------------------

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

bool KnownSslMode(const std::string& mode) {
  for (const char* m : {"disable", "allow", "prefer", "require", "verify-ca", "verify-full"})
    if (mode == m) return true;
  return false;
}

bool ParseConfig(const std::string& server, const std::string& location, const std::string& root, Config& c,
                 ProviderError& error) {
  c.server = server;
  std::vector<std::string> words;
  for (size_t i = 0; i < location.size();) {
    size_t e = location.find_first_of(" \t", i);
    if (e == std::string::npos) e = location.size();
    if (e > i) words.push_back(location.substr(i, e - i));
    i = e + 1;
  }
  std::string address = server;
  for (size_t k = 0; k < words.size(); ++k) {
    const auto eq = words[k].find('=');
    if (eq == std::string::npos) {
      if (k != 0) {
        error = {native::kServerNotFound, "The server directory entry of '" + server + "' has a word it does not know: '" + words[k] + "'.", "08001"};
        return false;
      }
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
      if (!KnownSslMode(c.sslmode)) {
        error = {native::kServerNotFound, "The server directory entry of '" + server + "' has an unknown sslmode '" + value +
                     "' (disable, allow, prefer, require, verify-ca or verify-full).", "08001"};
        return false;
      }
    } else if (key == "sslrootcert" || key == "sslcert" || key == "sslkey" || key == "sslcrl") {
      if (value.empty()) {
        error = {native::kServerNotFound, "The server directory entry of '" + server + "' gives no file for " + key + ".", "08001"};
        return false;
      }
      // Relative to the data root, wherever the program was started from; "system" is
      // libpq's word for the system's certificate authorities.
      std::string path = value;
      if (path.front() != '/' && !(key == "sslrootcert" && path == "system")) path = root + "/" + path;
      (key == "sslrootcert" ? c.sslrootcert : key == "sslcert" ? c.sslcert : key == "sslkey" ? c.sslkey : c.sslcrl) = path;
    } else {
      error = {native::kServerNotFound, "The server directory entry of '" + server + "' has an unknown option '" + key + "'.", "08001"};
      return false;
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
  if (host.empty()) {
    error = {native::kServerNotFound, "SQL Server does not exist or access denied: no host for server '" + server + "'.", "08001"};
    return false;
  }
  c.host = host;
  c.port = port;
  return true;
}

struct Login {
  std::string user, password;
};

bool IsMaster(std::string_view database) { return text::EqualsNoCase(text::Trim(database), "master"); }

std::string Literal(std::string_view s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'') out += '\'';
    out += c;
  }
  return out + "'";
}

std::string Ident(std::string_view name) { return sql::QuoteIdentifier(text::Lower(name)); }

// The statement's first keyword, after any comments.
std::string VerbOf(std::string_view statement) {
  try {
    for (const auto& t : sql::Tokenize(statement))
      if (t.kind != sql::TokenKind::Space && t.kind != sql::TokenKind::Comment) return text::Upper(t.value);
  } catch (const sql::SyntaxError&) {
  }
  return "";
}

struct Result {
  PGresult* r = nullptr;
  bool timedOut = false;  // no answer in time: the connection was given up
  Result() = default;
  explicit Result(PGresult* p) : r(p) {}
  Result(const Result&) = delete;
  Result& operator=(const Result&) = delete;
  Result(Result&& o) noexcept : r(o.r), timedOut(o.timedOut) { o.r = nullptr; }
  Result& operator=(Result&& o) noexcept {
    std::swap(r, o.r);
    std::swap(timedOut, o.timedOut);
    return *this;
  }
  ~Result() { PQclear(r); }
  bool Ok() const {
    const auto s = r ? PQresultStatus(r) : PGRES_FATAL_ERROR;
    return s == PGRES_COMMAND_OK || s == PGRES_TUPLES_OK;
  }
  std::string Field(int code) const {
    const char* f = r ? PQresultErrorField(r, code) : nullptr;
    return f ? f : "";
  }
};

// ---- Waiting on the server --------------------------------------------------------------------

using Clock = std::chrono::steady_clock;

// How often a wait lets the program's events through.
constexpr std::chrono::milliseconds kWaitSlice{25};

// The waits of one exchange with the server: each until a socket is ready or the deadline
// passes, with the wait hook run every slice meanwhile.
class Waiter {
 public:
  enum class Wake { kReady, kDeadline, kHook };

  explicit Waiter(std::optional<Clock::time_point> deadline) : deadline_(deadline), hooked_(Clock::now()) {}

  // kHook when the hook ran and the socket is not ready yet: what it ran may have changed
  // what the caller waits for. An error on the socket counts as ready: libpq reads it and
  // says what happened.
  Wake Ready(int fd, short events) {
    using std::chrono::milliseconds;
    for (;;) {
      const auto now = Clock::now();
      auto wait = kWaitSlice - std::chrono::duration_cast<milliseconds>(now - hooked_);
      if (deadline_) wait = std::min(wait, std::chrono::ceil<milliseconds>(*deadline_ - now));
      pollfd p{fd, events, 0};
      const int n = poll(&p, 1, static_cast<int>(std::max<milliseconds::rep>(0, wait.count())));
      const bool ready = n > 0 || (n < 0 && errno != EINTR) || fd < 0;
      // Also while data trickles in: a long answer must not freeze the window either.
      bool hooked = false;
      if (Clock::now() - hooked_ >= kWaitSlice) {
        WhileWaiting();
        hooked_ = Clock::now();
        hooked = true;
      }
      if (ready) return Wake::kReady;
      if (hooked) return Wake::kHook;
      if (deadline_ && Clock::now() >= *deadline_) return Wake::kDeadline;
    }
  }

 private:
  std::optional<Clock::time_point> deadline_;
  Clock::time_point hooked_;
};

// ---- Connecting ------------------------------------------------------------------------------

void IgnoreNotice(void*, const char*) {}

std::string ConnectionMessage(PGconn* conn) {
  std::string msg = conn ? PQerrorMessage(conn) : "out of memory";
  while (!msg.empty() && (msg.back() == '\n' || msg.back() == ' ')) msg.pop_back();
  return msg;
}

// Why a connection attempt failed, in SQL Server's terms.
ProviderError ConnectError(const Config& c, const std::string& database, const std::string& user, const std::string& msg) {
  if (msg.find("database \"") != std::string::npos && msg.find("does not exist") != std::string::npos)
    return {native::kCannotOpenDatabase,
            "Cannot open database \"" + database + "\" requested by the login. The login failed.", "42000"};
  if (msg.find("authentication failed") != std::string::npos || msg.find("role \"") != std::string::npos ||
      msg.find("pg_hba.conf") != std::string::npos || msg.find("permission denied for database") != std::string::npos ||
      msg.find("password") != std::string::npos)
    return {native::kLoginFailed, "Login failed for user '" + user + "' on database \"" + database + "\": " + msg, "28000"};
  return {native::kServerNotFound,
          "SQL Server does not exist or access denied: the PostgreSQL server of '" + c.server + "' (" + c.host +
              (c.port.empty() ? "" : ":" + c.port) + ") cannot be reached for database \"" + database + "\": " + msg,
          "08001"};
}

PGconn* ConnectRaw(const Config& c, const std::string& physical, const std::string& logical, const Login& login,
                   int timeoutSeconds, ProviderError& error) {
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
  // Made in steps, so that the wait hook runs meanwhile. libpq bounds only its own blocking
  // waits by connect_timeout: the whole attempt, every address of the host included, is
  // bounded here.
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
    error = ConnectError(c, logical, login.user, msg);
    // libpq does not quote connection strings back, but the text goes to the operator and
    // to logs.
    error.description = text::HideSecrets(error.description);
    PQfinish(conn);
    return nullptr;
  }
  PQsetNoticeProcessor(conn, IgnoreNotice, nullptr);
  return conn;
}

// ---- Statements -------------------------------------------------------------------------------

// A connection and the statement it waits on. Statements are sent, and their answer awaited
// in steps, so that the wait hook runs meanwhile; each call gives back what PQexec would
// (the last result). What the hook lets happen may run a statement on the same connection:
// that one first reads the answer of the statement in flight and keeps it for it.
class Link {
 public:
  explicit Link(PGconn* conn) : conn_(conn) {}
  ~Link() { PQfinish(conn_); }
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;

  PGconn* get() const { return conn_; }
  bool Waiting() const { return inFlight_; }
  // The statement_timeout the server applies, in seconds; 0: none, -1: not known.
  void SetServerTimeout(int seconds) { serverTimeout_ = seconds; }

  Result Exec(const std::string& q) {
    return Run([&] { return PQsendQuery(conn_, q.c_str()); });
  }
  Result ExecParams(const std::string& q, const std::vector<const char*>& values = {}) {
    return Run([&] {
      return PQsendQueryParams(conn_, q.c_str(), static_cast<int>(values.size()), nullptr, values.data(), nullptr,
                               nullptr, 0);
    });
  }
  Result Prepare(const std::string& name, const std::string& q) {
    return Run([&] { return PQsendPrepare(conn_, name.c_str(), q.c_str(), 0, nullptr); });
  }
  Result ExecPrepared(const std::string& name) {
    return Run([&] { return PQsendQueryPrepared(conn_, name.c_str(), 0, nullptr, nullptr, nullptr, 0); });
  }

 private:
  // Past the server's own statement_timeout, the time its answer may take to arrive.
  static constexpr std::chrono::seconds kGrace{3};

  template <class Send>
  Result Run(Send send) {
    if (inFlight_) early_ = Collect();
    // As PQexec: no result when it cannot be sent; the connection's message says why.
    if (!send()) return Result();
    inFlight_ = true;
    deadline_.reset();
    if (serverTimeout_ > 0) deadline_ = Clock::now() + std::chrono::seconds(serverTimeout_) + kGrace;
    return Collect();
  }

  // Reads the answer of the statement in flight; its results so far are kept in the link,
  // as a statement the hook runs may read the rest.
  Result Collect() {
    Waiter wait(deadline_);
    for (;;) {
      while (PQisBusy(conn_)) {
        const auto w = wait.Ready(PQsocket(conn_), POLLIN);
        if (!inFlight_ && early_) {
          // Read meanwhile by a statement the hook ran on this connection.
          Result early = std::move(*early_);
          early_.reset();
          return early;
        }
        if (w == Waiter::Wake::kHook) continue;
        if (w == Waiter::Wake::kDeadline) {
          Abandon();
          Result timedOut;
          timedOut.timedOut = true;
          return timedOut;
        }
        if (!PQconsumeInput(conn_)) break;  // PQgetResult reports the lost connection
      }
      PGresult* r = PQgetResult(conn_);
      if (!r) break;
      last_ = Result(r);
      const auto s = PQresultStatus(r);
      if (s == PGRES_COPY_IN || s == PGRES_COPY_OUT || s == PGRES_COPY_BOTH || PQstatus(conn_) == CONNECTION_BAD) break;
    }
    inFlight_ = false;
    return std::move(last_);
  }

  // The server answered neither the statement nor its own statement_timeout: it or the
  // network is gone. The connection is dropped, not cancelled: libpq's PQcancel waits,
  // without a bound, on that same server.
  void Abandon() {
    if (const int fd = PQsocket(conn_); fd >= 0) shutdown(fd, SHUT_RDWR);
    PQconsumeInput(conn_);
    while (!PQisBusy(conn_)) {
      PGresult* r = PQgetResult(conn_);
      if (!r) break;
      PQclear(r);
    }
    last_ = Result();
    inFlight_ = false;
  }

  PGconn* conn_;
  int serverTimeout_ = 30;  // as the connection's options set it
  bool inFlight_ = false;
  std::optional<Clock::time_point> deadline_;
  Result last_;                  // of the statement in flight
  std::optional<Result> early_;  // its whole answer, read by a statement the hook ran
};

// The server takes only UTF-8: a byte that starts no valid sequence becomes U+FFFD, as a
// code page conversion replaces what it cannot map, instead of refusing the statement.
std::string ValidUtf8(std::string_view s) {
  std::string out;
  size_t done = 0;
  for (size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (len > 1 && (i + len > s.size() || (len == 2 && c < 0xC2) || c > 0xF4)) len = 0;
    for (size_t k = 1; k < len; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) len = 0;
    if (len > 2) {
      // Overlong forms, surrogates and code points past U+10FFFF.
      const auto d = static_cast<unsigned char>(s[i + 1]);
      if ((c == 0xE0 && d < 0xA0) || (c == 0xED && d >= 0xA0) || (c == 0xF0 && d < 0x90) || (c == 0xF4 && d >= 0x90))
        len = 0;
    }
    if (len == 0 || (len == 1 && c == 0)) {
      out.append(s.substr(done, i - done));
      out += "\xEF\xBF\xBD";
      done = ++i;
    } else {
      i += len;
    }
  }
  if (done == 0) return std::string(s);
  out.append(s.substr(done));
  return out;
}

// ---- Errors in SQL Server's terms -------------------------------------------------------------

std::string Quoted(const std::string& msg, size_t from = 0) {
  const auto a = msg.find('"', from);
  if (a == std::string::npos) return "";
  const auto b = msg.find('"', a + 1);
  return b == std::string::npos ? "" : msg.substr(a + 1, b - a - 1);
}

// A name the engine reports in lower case, written as the statement wrote it.
std::string AsWritten(const std::string& name, std::string_view statement) {
  if (name.empty() || statement.empty()) return name;
  try {
    for (const auto& t : sql::Tokenize(statement)) {
      if (t.kind == sql::TokenKind::Word || t.kind == sql::TokenKind::QuotedName) {
        if (text::EqualsNoCase(t.value, name)) return t.value;
      } else if (t.kind == sql::TokenKind::Variable && t.value.size() > 7 &&
                 text::EqualsNoCase(t.value.substr(7), name)) {
        return t.value.substr(7);
      }
    }
  } catch (const sql::SyntaxError&) {
  }
  return name;
}

ProviderError MapError(const Result& res, PGconn* conn, std::string_view statement) {
  if (res.timedOut) return {-2147217871, "Query timeout expired.", "HYT00"};
  const std::string state = res.Field(PG_DIAG_SQLSTATE);
  std::string msg = res.Field(PG_DIAG_MESSAGE_PRIMARY);
  if (msg.empty() && conn) {
    msg = PQerrorMessage(conn);
    while (!msg.empty() && (msg.back() == '\n' || msg.back() == ' ')) msg.pop_back();
  }
  const std::string verb = VerbOf(statement);
  const std::string table = AsWritten(res.Field(PG_DIAG_TABLE_NAME), statement);
  const std::string constraint = res.Field(PG_DIAG_CONSTRAINT_NAME);
  const std::string detail = res.Field(PG_DIAG_MESSAGE_DETAIL);
  if (state.empty() && (!conn || PQstatus(conn) != CONNECTION_OK))
    return {native::kServerNotFound, "The connection to the server was lost: " + msg + ".", "08S01"};
  if (state == "23505") {
    std::string key = detail;
    if (auto a = detail.find(")=("); a != std::string::npos) {
      auto b = detail.rfind(") already exists");
      key = detail.substr(a + 3, b == std::string::npos || b < a + 3 ? std::string::npos : b - a - 3);
    }
    const bool primary = constraint.size() > 5 && constraint.compare(constraint.size() - 5, 5, "_pkey") == 0;
    return {native::kDuplicateKey,
            std::string("Violation of ") + (primary ? "PRIMARY KEY" : "UNIQUE KEY") + " constraint '" + constraint +
                "'. Cannot insert duplicate key in object 'dbo." + table + "'. The duplicate key value is (" + key + ").",
            "23000"};
  }
  if (state == "23503")
    return {native::kConstraint,
            verb == "DELETE" ? "The DELETE statement conflicted with the REFERENCE constraint \"" + constraint +
                                   "\": other rows of the database still refer to this one."
                             : "The " + verb + " statement conflicted with the FOREIGN KEY constraint \"" + constraint +
                                   "\": the referenced row does not exist in the database.",
            "23000"};
  if (state == "23514") {
    if (constraint.rfind("tsql_len_", 0) == 0)
      return {native::kTruncation,
              "String or binary data would be truncated in column '" + AsWritten(constraint.substr(9), statement) + "'.",
              "22001"};
    return {native::kConstraint, "The " + verb + " statement conflicted with the CHECK constraint \"" + constraint + "\".",
            "23000"};
  }
  if (state == "23502")
    return {native::kNullNotAllowed,
            "Cannot insert the value NULL into column '" + AsWritten(res.Field(PG_DIAG_COLUMN_NAME), statement) +
                "', table '" + table + "'; column does not allow nulls. " + verb + " fails.",
            "23000"};
  if (state == "22001")
    return {native::kTruncation, "String or binary data would be truncated: " + msg + ".", "22001"};
  if (state == "42P01")
    return {native::kInvalidObject, "Invalid object name '" + AsWritten(Quoted(msg), statement) + "'.", "42S02"};
  if (state == "42703") {
    std::string column = Quoted(msg);
    if (auto dot = column.rfind('.'); dot != std::string::npos) column = column.substr(dot + 1);
    return {native::kInvalidColumn, "Invalid column name '" + AsWritten(column, statement) + "'.", "42S22"};
  }
  if (state == "42601") {
    const auto at = msg.find("at or near \"");
    return {native::kSyntax,
            at == std::string::npos ? "Incorrect syntax: " + msg + "." : "Incorrect syntax near '" + Quoted(msg, at) + "'.",
            "42000"};
  }
  if (state == "42P07")
    return {2714, "There is already an object named '" + AsWritten(Quoted(msg), statement) + "' in the database.", "42S01"};
  if (state == "42701")
    return {2705, "Column names in each table must be unique: " + msg + ".", "42S21"};
  if (state == "22P02" || state == "22007" || state == "22008" || state == "42804" || state == "22018")
    return {native::kConversion, "Conversion failed: " + msg + ".", "22018"};
  if (state == "22003") return {8115, "Arithmetic overflow error: " + msg + ".", "22003"};
  if (state == "22012") return {8134, "Divide by zero error encountered.", "22012"};
  if (state == "42883") return {402, "The data types or the function do not fit: " + msg + ".", "42000"};
  if (state == "42501") return {229, "The permission was denied: " + msg + ".", "42000"};
  if (state == "55P03") return {native::kLockTimeout, "Lock request time out period exceeded: " + msg + ".", "HYT00"};
  if (state == "40P01")
    return {1205, "Transaction was deadlocked on lock resources with another process and has been chosen as the deadlock victim.", "40001"};
  // The server has no number for it: the client gives up. This is the provider's own code.
  if (state == "57014") return {-2147217871, "Query timeout expired.", "HYT00"};
  if (state == "25001")
    return {226, verb + " statement not allowed within multi-statement transaction.", "25000"};
  if (state == "0A000") return {native::kFeatureNotSupported, "The server cannot do this: " + msg + ".", "0A000"};
  return {native::kOther, "The database refused the statement: " + msg + ".", state.empty() ? "HY000" : state};
}

// ---- Types and values --------------------------------------------------------------------------

// Type OIDs of the engine's built-in types.
enum : Oid {
  kBool = 16, kBytea = 17, kChar = 18, kName = 19, kInt8 = 20, kInt2 = 21, kInt4 = 23, kText = 25, kOid = 26,
  kFloat4 = 700, kFloat8 = 701, kMoney = 790, kBpchar = 1042, kVarchar = 1043, kDate = 1082, kTime = 1083,
  kTimestamp = 1114, kTimestampTz = 1184, kNumeric = 1700, kUuid = 2950,
  kFirstUserObject = 16384
};

int AdoFromOid(Oid type, int typmod, long* size) {
  if (size) *size = 0;
  switch (type) {
    case kBool: return 11;
    case kInt2: return 2;
    case kInt4: case kOid: return 3;
    case kInt8: return 20;
    case kFloat4: return 4;
    case kFloat8: return 5;
    case kMoney: return 6;
    case kNumeric: return 131;
    case kDate: return 133;
    case kTime: return 134;
    case kTimestamp: case kTimestampTz: return 135;
    case kUuid: return 72;
    case kBytea: return 204;
    case kChar: return 129;
    case kBpchar:
      if (typmod > 4) {
        if (size) *size = typmod - 4;
        return 129;
      }
      return 200;
    case kVarchar:
      if (typmod > 4 && size) *size = typmod - 4;
      return 200;
    case kText: return 201;
    default: return 200;
  }
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 0;
}

Variant ReadValue(const char* s, int len, Oid type, int adoType) {
  const std::string_view v(s, static_cast<size_t>(len));
  if (type == kBool) {
    const bool b = !v.empty() && (v[0] == 't' || v[0] == '1');
    // A predicate as a result column reads as the number SQL Server's rules would give.
    return adoType == 11 ? Variant(b) : Variant(static_cast<long long>(b ? 1 : 0));
  }
  if (adoType == 11) return Variant(std::strtoll(s, nullptr, 10) != 0);
  switch (type) {
    case kInt2: case kInt4: case kInt8: case kOid:
      return Variant(static_cast<long long>(std::strtoll(s, nullptr, 10)));
    case kFloat4: case kFloat8: case kNumeric:
      return Variant(std::strtod(s, nullptr));
    case kDate: case kTimestamp: case kTimestampTz: {
      std::string t(v);
      if (type == kTimestampTz) {
        const auto zone = t.find_first_of("+-", 19);
        if (zone != std::string::npos) t.erase(zone);
      }
      if (auto d = DateTime::ParseIso(t)) return Variant(*d);
      return Variant(std::string(v));
    }
    case kTime:
      if (auto d = DateTime::ParseIso("1899-12-30 " + std::string(v))) return Variant(*d);
      return Variant(std::string(v));
    case kBytea:
      if (v.size() >= 2 && v[0] == '\\' && v[1] == 'x') {
        std::string bytes;
        for (size_t i = 2; i + 1 < v.size(); i += 2)
          bytes += static_cast<char>(HexDigit(v[i]) * 16 + HexDigit(v[i + 1]));
        return Variant(std::move(bytes));
      }
      return Variant(std::string(v));
    default:
      return Variant(std::string(v));
  }
}

// A value as the text the engine reads for a parameter; nullopt for Null.
std::optional<std::string> ParamText(const Variant& v) {
  switch (v.kind()) {
    case Variant::Kind::Empty:
    case Variant::Kind::Null: return std::nullopt;
    case Variant::Kind::Boolean: return std::string(v.AsInteger() ? "1" : "0");
    case Variant::Kind::Integer: return std::to_string(v.AsInteger());
    case Variant::Kind::Double: {
      char buf[40];
      std::snprintf(buf, sizeof buf, "%.17g", v.AsDouble());
      return std::string(buf);
    }
    case Variant::Kind::Date: {
      const DateTime& d = v.AsDate();
      char buf[16];
      std::snprintf(buf, sizeof buf, ".%03d", d.millisecond);
      return d.ToIso() + buf;
    }
    case Variant::Kind::Text: return ValidUtf8(v.AsText());
  }
  return std::nullopt;
}

// ---- The catalogue, with the declared names and types --------------------------------------

struct ColumnInfo {
  std::string name;  // as declared
  int attnum = 0;
  int ordinal = 0;
  int adoType = 200;
  long size = 0;
  bool nullable = true;
  bool isKey = false;
};

struct TableInfo {
  std::string name;  // as declared
  std::vector<ColumnInfo> columns;
  const ColumnInfo* ByAttnum(int attnum) const {
    for (const auto& c : columns)
      if (c.attnum == attnum) return &c;
    return nullptr;
  }
};

struct Catalogue {
  std::unordered_map<Oid, TableInfo> byOid;
  std::map<std::string, Oid> byName;  // the engine's (lower-case) name
};

// The tables' comments hold "tsql:NAME", the columns' "tsql:TYPE:NAME".
constexpr std::string_view kCatalogueQuery =
    "SELECT c.oid, c.relname, obj_description(c.oid, 'pg_class'), a.attnum, a.attname, a.atttypid, "
    "a.atttypmod, a.attnotnull, col_description(c.oid, a.attnum), COALESCE(a.attnum = ANY (i.indkey), false) "
    "FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace "
    "JOIN pg_attribute a ON a.attrelid = c.oid AND a.attnum > 0 AND NOT a.attisdropped "
    "LEFT JOIN pg_index i ON i.indrelid = c.oid AND i.indisprimary "
    "WHERE n.nspname = current_schema() AND c.relkind IN ('r', 'v', 'm', 'f', 'p') "
    "ORDER BY c.relname, a.attnum";

// The names of the statement's select list as it wrote them, by their lower-case form: the
// engine returns result columns in lower case.
std::unordered_map<std::string, std::string> WrittenNames(std::string_view statement) {
  std::unordered_map<std::string, std::string> out;
  std::vector<sql::Token> toks;
  try {
    toks = sql::Tokenize(statement);
  } catch (const sql::SyntaxError&) {
    return out;
  }
  int depth = 0;
  bool inList = false;
  for (const auto& t : toks) {
    if (t.kind == sql::TokenKind::Symbol && t.value == "(") ++depth;
    if (t.kind == sql::TokenKind::Symbol && t.value == ")") --depth;
    if (depth != 0) continue;
    if (t.kind == sql::TokenKind::Word && text::EqualsNoCase(t.value, "SELECT")) {
      inList = true;
      continue;
    }
    if (t.kind == sql::TokenKind::Word && text::EqualsNoCase(t.value, "FROM") && inList) break;
    if (inList && (t.kind == sql::TokenKind::Word || t.kind == sql::TokenKind::QuotedName))
      out.emplace(text::Lower(t.value), t.value);
  }
  return out;
}

// ---- The session ------------------------------------------------------------------------------

constexpr const char* kCollation =
    "CREATE COLLATION IF NOT EXISTS tsql_ci (provider = icu, locale = 'und-u-ks-level2', deterministic = false)";

class PgSession final : public Session {
 public:
  PgSession(Config config, std::string database, Login login, int connectTimeout)
      : cfg_(std::move(config)), database_(std::move(database)), login_(std::move(login)),
        connectTimeout_(std::min(connectTimeout, cfg_.connectTimeout)) {}
  PgSession(const PgSession&) = delete;
  PgSession& operator=(const PgSession&) = delete;

  bool Open(ProviderError& error) {
    isMaster_ = IsMaster(database_);
    if (!isMaster_ && !ValidDatabaseName(text::Trim(database_), 60)) {
      error = {native::kCannotOpenDatabase,
               "Cannot open database \"" + database_ + "\" requested by the login. The login failed.", "42000"};
      return false;
    }
    const Login login = isMaster_ ? MasterLogin() : DatabaseLogin();
    PGconn* conn = ConnectRaw(cfg_, Physical(), database_, login, connectTimeout_, error);
    if (conn) link_ = std::make_shared<Link>(conn);
    return conn != nullptr;
  }

  std::string Provider() const override { return "postgresql"; }
  std::string Database() const override { return database_; }

  void SetCommandTimeout(int seconds) override { timeout_ = std::max(0, seconds); }

  ExecOutcome Execute(std::string_view tsql) override {
    ExecOutcome out;
    // Programs send the same statements over and over: their translation is kept.
    auto cached = plans_.find(std::string(tsql));
    if (cached == plans_.end()) {
      std::vector<Planned> plan;
      try {
        for (auto& statement : sql::SplitStatements(tsql)) {
          Planned p;
          p.translation = sql::Translate(statement, {sql::Engine::PostgreSQL, database_});
          p.translation.sql = ValidUtf8(p.translation.sql);
          p.verb = VerbOf(p.translation.sql);
          if (p.translation.kind == sql::StatementKind::Query) p.written = WrittenNames(statement);
          p.statement = std::move(statement);
          plan.push_back(std::move(p));
        }
      } catch (const sql::SyntaxError& e) {
        out.errors.push_back({native::kSyntax, std::string("Incorrect syntax: ") + e.what() + ".", "42000"});
        return out;
      }
      if (plans_.size() >= kCacheSize) plans_.clear();
      cached = plans_.emplace(std::string(tsql), std::make_shared<const std::vector<Planned>>(std::move(plan))).first;
    }
    // Held here: running a statement may clear the caches (a CREATE, a USE).
    const auto plan = cached->second;
    for (const auto& p : *plan)
      if (!RunOne(p, out)) break;
    return out;
  }

  bool UseDatabase(std::string_view database, ProviderError& error) override {
    const std::string name(text::Trim(database));
    if (text::EqualsNoCase(name, database_)) return true;
    if (Waiting()) {
      // Called from the wait hook: the statement waiting needs this connection and these
      // caches until it ends.
      error = {native::kOther, "The connection is busy with another statement; the database cannot change now.", "HY000"};
      return false;
    }
    PgSession other(cfg_, name, login_, connectTimeout_);
    if (!other.Open(error)) return false;
    std::swap(link_, other.link_);
    std::swap(database_, other.database_);
    std::swap(isMaster_, other.isMaster_);
    ForgetCaches();
    appliedTimeout_ = 30;
    collationReady_ = false;
    depth_ = 0;
    savepoint_ = false;
    others_.clear();
    return true;
  }

  std::vector<SchemaColumn> Columns(std::string_view catalog, std::string_view table,
                                    std::vector<ProviderError>& errors) override {
    std::vector<SchemaColumn> out;
    if (!catalog.empty() && !text::EqualsNoCase(text::Trim(catalog), database_)) {
      // Another database of the same server; a missing one simply has no columns.
      ProviderError ignored;
      PgSession* other = Other(std::string(text::Trim(catalog)), ignored);
      return other ? other->Columns("", table, errors) : out;
    }
    if (isMaster_) return out;
    const Catalogue* cat = LoadCatalogue(errors);
    if (!cat) return out;
    auto add = [&](const TableInfo& t) {
      for (const auto& c : t.columns) {
        SchemaColumn s;
        s.catalog = database_;
        s.schema = "dbo";
        s.table = t.name;
        s.name = c.name;
        s.ordinal = c.ordinal;
        s.adoType = c.adoType;
        s.maxLength = c.size;
        s.nullable = c.nullable;
        s.isKey = c.isKey;
        out.push_back(std::move(s));
      }
    };
    if (table.empty()) {
      for (const auto& [name, oid] : cat->byName) add(cat->byOid.at(oid));
    } else if (auto it = cat->byName.find(text::Lower(text::Trim(table))); it != cat->byName.end()) {
      add(cat->byOid.at(it->second));
    }
    return out;
  }

  bool InsertRow(std::string_view table, const NamedValues& values, std::vector<ProviderError>& errors) override {
    std::string q = "INSERT INTO " + Ident(table);
    std::vector<std::optional<std::string>> params;
    if (values.empty()) {
      q += " DEFAULT VALUES";
    } else {
      std::string cols, marks;
      for (const auto& [name, v] : values) {
        params.push_back(ParamText(v));
        cols += (cols.empty() ? "" : ",") + Ident(name);
        marks += (marks.empty() ? "$" : ",$") + std::to_string(params.size());
      }
      q += " (" + cols + ") VALUES (" + marks + ")";
    }
    return Command(q, "INSERT INTO [" + std::string(table) + "]", params, errors) >= 0;
  }

  long UpdateRows(std::string_view table, const NamedValues& criteria, const NamedValues& values,
                  std::vector<ProviderError>& errors) override {
    std::string q = "UPDATE " + Ident(table) + " SET ";
    std::vector<std::optional<std::string>> params;
    bool first = true;
    for (const auto& [name, v] : values) {
      params.push_back(ParamText(v));
      q += (first ? "" : ", ") + Ident(name) + " = $" + std::to_string(params.size());
      first = false;
    }
    first = true;
    for (const auto& [name, v] : criteria) {
      q += first ? " WHERE " : " AND ";
      first = false;
      if (v.IsNull() || v.IsEmpty()) {
        q += Ident(name) + " IS NULL";
      } else {
        params.push_back(ParamText(v));
        q += Ident(name) + " = $" + std::to_string(params.size());
      }
    }
    return Command(q, "UPDATE [" + std::string(table) + "]", params, errors);
  }

 private:
  struct Planned {
    std::string statement;
    sql::Translation translation;
    std::string verb;
    std::unordered_map<std::string, std::string> written;
  };
  struct Prepared {
    int uses = 0;
    std::string name;  // empty until prepared
  };
  static constexpr size_t kCacheSize = 256;
  static constexpr size_t kPreparedLimit = 1024;

  std::string Physical() const { return isMaster_ ? cfg_.maintenance : Physical(database_); }
  std::string Physical(std::string_view database) const { return cfg_.prefix + text::Lower(text::Trim(database)); }

  Login MasterLogin() const {
    if (!cfg_.admin.empty()) return {cfg_.admin, ""};
    return DatabaseLogin();
  }
  Login DatabaseLogin() const {
    if (!cfg_.user.empty()) return {cfg_.user, ""};
    return login_;
  }

  void ForgetCaches() {
    plans_.clear();
    prepared_.clear();
    catalogue_.reset();
  }

  PGconn* conn() const { return link_->get(); }

  // Whether a statement of this session, or of its other databases' sessions, is waiting on
  // its server.
  bool Waiting() const {
    if (link_->Waiting() || serverCommand_) return true;
    for (const auto& [name, other] : others_)
      if (other->Waiting()) return true;
    return false;
  }

  // Each holds the link: its statement may outlive a swap of the session's connection.
  Result Exec(const std::string& q) {
    const auto link = link_;
    return link->Exec(q);
  }
  Result ExecParams(const std::string& q, const std::vector<const char*>& values = {}) {
    const auto link = link_;
    return link->ExecParams(q, values);
  }

  // The session's CommandTimeout, applied only when it changed.
  void ApplyTimeout() {
    if (appliedTimeout_ == timeout_) return;
    Result r = Exec("SET statement_timeout = " + std::to_string(static_cast<long long>(timeout_) * 1000));
    appliedTimeout_ = r.Ok() ? timeout_ : -1;
    if (r.Ok()) link_->SetServerTimeout(timeout_);
  }

  // SQL Server undoes only the failing statement of a transaction, and the transaction goes
  // on; the engine would refuse everything up to the rollback. Each statement inside a
  // transaction runs after a savepoint of its own.
  void BeforeStatement() {
    ApplyTimeout();
    if (depth_ == 0) return;
    Exec(savepoint_ ? "RELEASE SAVEPOINT tsql_statement; SAVEPOINT tsql_statement" : "SAVEPOINT tsql_statement");
    savepoint_ = true;
  }
  void AfterFailure() {
    if (depth_ > 0 && savepoint_) Exec("ROLLBACK TO SAVEPOINT tsql_statement");
  }

  // Runs a statement that has no parameters: kept prepared once it comes back.
  Result Run(const std::string& q, bool simple) {
    if (simple) return Exec(q);
    if (prepared_.size() >= kPreparedLimit && !prepared_.count(q)) {
      // Statements with ever new literals must not pile up on either side.
      Exec("DEALLOCATE ALL");
      prepared_.clear();
    }
    // No reference into prepared_ is held across a wait: a statement the wait hook runs
    // may change it.
    const auto link = link_;
    Prepared& p = prepared_[q];
    std::string name = p.name;
    if (name.empty() && ++p.uses >= 2) {
      const std::string fresh = "tsql_" + std::to_string(++preparedCount_);
      if (link->Prepare(fresh, q).Ok()) {
        name = fresh;
        prepared_[q].name = fresh;
      }
    }
    if (name.empty()) return link->ExecParams(q);
    Result r = link->ExecPrepared(name);
    if (!r.Ok() && r.Field(PG_DIAG_SQLSTATE) == "0A000") {
      // A table changed shape under the kept plan: forget it and run the text again.
      link->Exec("DEALLOCATE " + name);
      prepared_.erase(q);
      return link->ExecParams(q);
    }
    return r;
  }

  // A parameterised data change; the number of rows, or -1 with errors.
  long Command(const std::string& q, const std::string& shown, const std::vector<std::optional<std::string>>& params,
               std::vector<ProviderError>& errors) {
    if (isMaster_) {
      errors.push_back({native::kInvalidObject, "The master database of a server holds no tables; connect to a database.", "42S02"});
      return -1;
    }
    std::vector<const char*> values;
    for (const auto& p : params) values.push_back(p ? p->c_str() : nullptr);
    BeforeStatement();
    Result r = ExecParams(q, values);
    if (!r.Ok()) {
      AddError(errors, MapError(r, conn(), shown));
      AfterFailure();
      return -1;
    }
    return std::atol(PQcmdTuples(r.r));
  }

  const Catalogue* LoadCatalogue(std::vector<ProviderError>& errors) {
    if (catalogue_) return &*catalogue_;
    Result r = ExecParams(std::string(kCatalogueQuery));
    if (!r.Ok()) {
      errors.push_back(MapError(r, conn(), "SELECT"));
      return nullptr;
    }
    Catalogue cat;
    const int n = PQntuples(r.r);
    for (int i = 0; i < n; ++i) {
      auto value = [&](int col) { return std::string(PQgetvalue(r.r, i, col), static_cast<size_t>(PQgetlength(r.r, i, col))); };
      const Oid oid = static_cast<Oid>(std::strtoul(PQgetvalue(r.r, i, 0), nullptr, 10));
      auto [it, added] = cat.byOid.try_emplace(oid);
      TableInfo& t = it->second;
      if (added) {
        const std::string comment = value(2);
        t.name = comment.rfind("tsql:", 0) == 0 ? comment.substr(5) : value(1);
        cat.byName[text::Lower(value(1))] = oid;
      }
      ColumnInfo c;
      c.attnum = std::atoi(PQgetvalue(r.r, i, 3));
      c.ordinal = static_cast<int>(t.columns.size()) + 1;
      c.nullable = value(7) != "t";
      c.isKey = value(9) == "t";
      const std::string comment = value(8);
      const auto colon = comment.find(':', 5);
      if (comment.rfind("tsql:", 0) == 0 && colon != std::string::npos) {
        c.adoType = AdoTypeFromDeclared(comment.substr(5, colon - 5), &c.size);
        c.name = comment.substr(colon + 1);
      } else {
        c.adoType = AdoFromOid(static_cast<Oid>(std::strtoul(PQgetvalue(r.r, i, 5), nullptr, 10)),
                               std::atoi(PQgetvalue(r.r, i, 6)), &c.size);
        c.name = value(4);
      }
      t.columns.push_back(std::move(c));
    }
    catalogue_ = std::move(cat);
    return &*catalogue_;
  }

  // Another database of this server, on a connection of its own.
  PgSession* Other(const std::string& database, ProviderError& error) {
    const std::string key = text::Lower(database);
    if (auto it = others_.find(key); it != others_.end()) return it->second.get();
    if (IsMaster(database) || !ValidDatabaseName(database, 60)) {
      error = {native::kNoSuchDatabase, "Database '" + database + "' does not exist. Make sure that the name is entered correctly.", "42000"};
      return nullptr;
    }
    auto other = std::make_unique<PgSession>(cfg_, database, login_, connectTimeout_);
    if (!other->Open(error)) {
      if (error.native == native::kCannotOpenDatabase)
        error = {native::kNoSuchDatabase, "Database '" + database + "' does not exist. Make sure that the name is entered correctly.", "42000"};
      return nullptr;
    }
    other->SetCommandTimeout(timeout_);
    return others_.emplace(key, std::move(other)).first->second.get();
  }

  // ---- Statements -------------------------------------------------------------------------

  bool RunOne(const Planned& p, ExecOutcome& out) {
    const sql::Translation& t = p.translation;
    switch (t.kind) {
      case sql::StatementKind::CreateDatabase:
      case sql::StatementKind::DropDatabase:
      case sql::StatementKind::Use: return ServerCommand(t, out);
      case sql::StatementKind::Begin: return Begin(out);
      case sql::StatementKind::Commit: return Commit(out);
      case sql::StatementKind::Rollback: return Rollback(out);
      default: break;
    }
    if (text::Trim(t.sql).empty()) return true;
    if (!t.otherDatabases.empty()) {
      if (t.otherDatabases.size() > 1 || t.ownTables) {
        out.errors.push_back({native::kInvalidObject,
                              "Invalid object name '" + t.otherDatabases.front() +
                                  ".dbo...': a statement cannot join tables of two databases of this server.",
                              "42S02"});
        return false;
      }
      ProviderError e;
      PgSession* other = Other(t.otherDatabases.front(), e);
      if (!other) {
        out.errors.push_back(e);
        return false;
      }
      return other->RunTranslated(p, out);
    }
    return RunTranslated(p, out);
  }

  bool RunTranslated(const Planned& p, ExecOutcome& out) {
    const sql::Translation& t = p.translation;
    if (isMaster_ && t.kind != sql::StatementKind::Query) {
      out.errors.push_back({native::kInvalidObject, "The master database of a server holds no tables; connect to a database.", "42S02"});
      return false;
    }
    const bool ddl = p.verb == "CREATE" || p.verb == "ALTER" || p.verb == "DROP" || p.verb == "TRUNCATE" ||
                     p.verb == "GRANT" || p.verb == "REVOKE" || p.verb == "COMMENT";
    if (ddl) {
      catalogue_.reset();
      if (!collationReady_ && (p.verb == "CREATE" || p.verb == "ALTER")) {
        // Databases this driver did not create learn the text rules on first use.
        Result c = Exec(kCollation);
        collationReady_ = c.Ok();
      }
    }
    BeforeStatement();
    Result r = Run(t.sql, ddl);
    if (!r.Ok()) {
      AddError(out.errors, MapError(r, conn(), p.statement));
      AfterFailure();
      return false;
    }
    if (PQresultStatus(r.r) == PGRES_TUPLES_OK && PQnfields(r.r) > 0) {
      if (!out.hasResult) {
        out.result = ReadResult(r, p);
        out.hasResult = true;
      }
    } else {
      out.rowsAffected = std::atol(PQcmdTuples(r.r));
    }
    return true;
  }

  ResultSet ReadResult(const Result& r, const Planned& p) {
    ResultSet rs;
    const int n = PQnfields(r.r), rows = PQntuples(r.r);
    std::vector<Oid> types(static_cast<size_t>(n));
    bool reloaded = false;
    for (int i = 0; i < n; ++i) {
      ColumnMeta c;
      const std::string engineName = PQfname(r.r, i);
      types[static_cast<size_t>(i)] = PQftype(r.r, i);
      c.adoType = AdoFromOid(PQftype(r.r, i), PQfmod(r.r, i), &c.definedSize);
      const Oid table = PQftable(r.r, i);
      const int attnum = PQftablecol(r.r, i);
      const ColumnInfo* declared = nullptr;
      const TableInfo* base = nullptr;
      // The engine's own catalogues (low object numbers) are nobody's declared tables.
      if (table >= kFirstUserObject && attnum > 0 && !isMaster_) {
        std::vector<ProviderError> ignored;
        const Catalogue* cat = LoadCatalogue(ignored);
        const bool known = cat && cat->byOid.count(table) && cat->byOid.at(table).ByAttnum(attnum);
        if (cat && !known && !reloaded) {
          catalogue_.reset();  // a table created or changed by another session since
          reloaded = true;
          cat = LoadCatalogue(ignored);
        }
        if (cat) {
          if (auto it = cat->byOid.find(table); it != cat->byOid.end()) {
            base = &it->second;
            declared = base->ByAttnum(attnum);
          }
        }
      }
      if (!declared && types[static_cast<size_t>(i)] == kBool) c.adoType = 3;  // a predicate: 1 or 0
      if (declared) {
        c.adoType = declared->adoType;
        c.definedSize = declared->size;
        c.baseTable = base->name;
        c.baseColumn = declared->name;
      }
      if (auto w = p.written.find(engineName); w != p.written.end())
        c.name = w->second;
      else if (declared)
        c.name = declared->name;
      else
        c.name = engineName == "?column?" ? "" : engineName;
      rs.columns.push_back(std::move(c));
    }
    rs.rows.reserve(static_cast<size_t>(rows));
    for (int row = 0; row < rows; ++row) {
      std::vector<Variant> values;
      values.reserve(static_cast<size_t>(n));
      for (int i = 0; i < n; ++i) {
        if (PQgetisnull(r.r, row, i)) {
          values.push_back(Variant::Null());
          continue;
        }
        values.push_back(ReadValue(PQgetvalue(r.r, row, i), PQgetlength(r.r, row, i), types[static_cast<size_t>(i)],
                                   rs.columns[static_cast<size_t>(i)].adoType));
      }
      rs.rows.push_back(std::move(values));
    }
    return rs;
  }

  // ---- Transactions: SQL Server's nesting count over one engine transaction --------------

  void SyncTransaction() {
    if (depth_ > 0 && PQtransactionStatus(conn()) == PQTRANS_IDLE) {
      depth_ = 0;
      savepoint_ = false;
    }
  }

  bool Begin(ExecOutcome& out) {
    SyncTransaction();
    if (depth_ == 0) {
      Result r = Exec("BEGIN");
      if (!r.Ok()) {
        out.errors.push_back(MapError(r, conn(), "BEGIN TRANSACTION"));
        return false;
      }
      savepoint_ = false;
    }
    ++depth_;
    return true;
  }

  bool Commit(ExecOutcome& out) {
    SyncTransaction();
    if (depth_ == 0) {
      out.errors.push_back({native::kNoBeginForCommit, "The COMMIT TRANSACTION request has no corresponding BEGIN TRANSACTION.", "25000"});
      return false;
    }
    if (--depth_ > 0) return true;
    savepoint_ = false;
    Result r = Exec("COMMIT");
    if (!r.Ok()) {
      out.errors.push_back(MapError(r, conn(), "COMMIT TRANSACTION"));
      return false;
    }
    return true;
  }

  bool Rollback(ExecOutcome& out) {
    SyncTransaction();
    if (depth_ == 0) {
      out.errors.push_back({native::kNoBeginForRollback, "The ROLLBACK TRANSACTION request has no corresponding BEGIN TRANSACTION.", "25000"});
      return false;
    }
    depth_ = 0;
    savepoint_ = false;
    Result r = Exec("ROLLBACK");
    appliedTimeout_ = -1;  // a SET inside the transaction is undone with it
    link_->SetServerTimeout(-1);
    catalogue_.reset();
    if (!r.Ok()) {
      out.errors.push_back(MapError(r, conn(), "ROLLBACK TRANSACTION"));
      return false;
    }
    return true;
  }

  // ---- CREATE / DROP DATABASE and USE --------------------------------------------------------

  bool ServerCommand(const sql::Translation& t, ExecOutcome& out) {
    const std::string& name = t.databaseName;
    if (t.kind == sql::StatementKind::Use) {
      ProviderError e;
      if (!UseDatabase(name, e)) {
        out.errors.push_back(e);
        return false;
      }
      return true;
    }
    const std::string verb = t.kind == sql::StatementKind::CreateDatabase ? "CREATE DATABASE" : "DROP DATABASE";
    if (!ValidDatabaseName(name, 60) || IsMaster(name)) {
      out.errors.push_back({native::kOther, "'" + name + "' is not a valid database name.", "42000"});
      return false;
    }
    SyncTransaction();
    if (depth_ > 0) {
      out.errors.push_back({226, verb + " statement not allowed within multi-statement transaction.", "25000"});
      return false;
    }
    // While it runs the session's connection stays as it is (see UseDatabase).
    struct Restore {
      bool& flag;
      bool was;
      ~Restore() { flag = was; }
    } restore{serverCommand_, serverCommand_};
    serverCommand_ = true;
    // The maintenance database of the server, under the administrator's login.
    std::shared_ptr<Link> admin = link_;
    if (!isMaster_) {
      ProviderError e;
      PGconn* own = ConnectRaw(cfg_, cfg_.maintenance, "master", MasterLogin(), connectTimeout_, e);
      if (!own) {
        out.errors.push_back(e);
        return false;
      }
      admin = std::make_shared<Link>(own);
    }
    const std::string physical = Physical(name);
    Result exists = admin->ExecParams("SELECT 1 FROM pg_database WHERE datname = $1", {physical.c_str()});
    if (!exists.Ok()) {
      out.errors.push_back(MapError(exists, admin->get(), verb));
      return false;
    }
    const bool found = PQntuples(exists.r) > 0;
    if (t.kind == sql::StatementKind::DropDatabase) {
      if (!found) {
        out.errors.push_back({3701, "Cannot drop the database '" + name + "', because it does not exist or you do not have permission.", "42000"});
        return false;
      }
      if (!isMaster_ && text::EqualsNoCase(name, database_)) {
        out.errors.push_back({3702, "Cannot drop database \"" + name + "\" because it is currently in use.", "42000"});
        return false;
      }
      // Sessions still open on it are ended, as deleting an embedded database's file would.
      Result r = admin->Exec("DROP DATABASE " + Ident(physical) + " WITH (FORCE)");
      if (!r.Ok() && r.Field(PG_DIAG_SQLSTATE) == "42601") r = admin->Exec("DROP DATABASE " + Ident(physical));
      if (!r.Ok()) {
        out.errors.push_back(MapError(r, admin->get(), verb));
        return false;
      }
      return true;
    }
    if (found) {
      out.errors.push_back({native::kDatabaseExists, "Database '" + name + "' already exists. Choose a different database name.", "42000"});
      return false;
    }
    return CreateDatabase(*admin, name, physical, out);
  }

  // The database, its login (name and password equal to the database's name) as owner,
  // and the text rules inside it.
  bool CreateDatabase(Link& admin, const std::string& name, const std::string& physical, ExecOutcome& out) {
    const std::string role = text::Lower(name);
    auto fail = [&](const Result& r, const char* what) {
      ProviderError e = MapError(r, admin.get(), "CREATE DATABASE");
      e.description = std::string("CREATE DATABASE failed (") + what + "): " + e.description;
      out.errors.push_back(e);
      return false;
    };
    Result roleFound = admin.ExecParams("SELECT 1 FROM pg_roles WHERE rolname = $1", {role.c_str()});
    if (!roleFound.Ok()) return fail(roleFound, "login");
    if (PQntuples(roleFound.r) == 0) {
      Result r = admin.Exec("CREATE ROLE " + Ident(role) + " LOGIN PASSWORD " + Literal(name));
      // Another session may have created the same login meanwhile.
      const std::string state = r.Field(PG_DIAG_SQLSTATE);
      if (!r.Ok() && state != "42710" && state != "23505") return fail(r, "login");
    }
    const std::string create = "CREATE DATABASE " + Ident(physical) + " OWNER " + Ident(role) + " TEMPLATE template0 ENCODING 'UTF8'";
    Result r = admin.Exec(create + " LOCALE_PROVIDER icu ICU_LOCALE 'und' LC_COLLATE 'C' LC_CTYPE 'C'");
    if (!r.Ok() && r.Field(PG_DIAG_SQLSTATE) == "42601") r = admin.Exec(create + " LC_COLLATE 'C' LC_CTYPE 'C'");
    if (!r.Ok()) {
      if (r.Field(PG_DIAG_SQLSTATE) == "42P04") {
        out.errors.push_back({native::kDatabaseExists, "Database '" + name + "' already exists. Choose a different database name.", "42000"});
        return false;
      }
      return fail(r, "database");
    }
    // Only its login (and whoever is given that role) may open it.
    Result revoke = admin.Exec("REVOKE CONNECT, TEMPORARY ON DATABASE " + Ident(physical) + " FROM PUBLIC");
    ProviderError e;
    PGconn* raw = ConnectRaw(cfg_, physical, name, MasterLogin(), connectTimeout_, e);
    bool ok = raw != nullptr;
    if (ok) {
      Link fresh(raw);
      // Tables the administrator lays in it belong to its login as well.
      const std::string setup = std::string(kCollation) + "; ALTER DEFAULT PRIVILEGES IN SCHEMA public GRANT ALL ON TABLES TO " +
                                Ident(role) + "; ALTER DEFAULT PRIVILEGES IN SCHEMA public GRANT ALL ON SEQUENCES TO " + Ident(role);
      Result s = fresh.Exec(setup);
      if (!s.Ok()) {
        e = MapError(s, fresh.get(), "CREATE DATABASE");
        ok = false;
      }
    }
    if (!ok) {
      admin.Exec("DROP DATABASE " + Ident(physical) + " WITH (FORCE)");
      e.description = "CREATE DATABASE failed (setting the database up): " + e.description;
      out.errors.push_back(e);
      return false;
    }
    return true;
  }

  Config cfg_;
  std::string database_;
  Login login_;
  int connectTimeout_;
  bool isMaster_ = false;
  std::shared_ptr<Link> link_;  // set once Open succeeds
  bool serverCommand_ = false;  // a CREATE or DROP DATABASE is running
  int timeout_ = 30;
  int appliedTimeout_ = 30;  // set when connecting
  int depth_ = 0;          // BEGIN TRANSACTION nesting, as @@TRANCOUNT
  bool savepoint_ = false;  // the statement savepoint exists in the open transaction
  bool collationReady_ = false;
  long preparedCount_ = 0;
  std::unordered_map<std::string, std::shared_ptr<const std::vector<Planned>>> plans_;
  std::unordered_map<std::string, Prepared> prepared_;
  std::optional<Catalogue> catalogue_;
  std::map<std::string, std::unique_ptr<PgSession>> others_;
};

}  // namespace

std::unique_ptr<Session> Open(const std::string& server, const std::string& location, const std::string& dataRoot,
                              const ConnectRequest& request, ProviderError& error) {
  Config cfg;
  if (!ParseConfig(server, location, dataRoot, cfg, error)) return nullptr;
  auto session = std::make_unique<PgSession>(std::move(cfg), text::TrimCopy(request.database),
                                             Login{text::TrimCopy(request.user), request.password},
                                             request.connectTimeoutSeconds > 0 ? request.connectTimeoutSeconds : 5);
  if (!session->Open(error)) return nullptr;
  return session;
}

}  // namespace etapas::engine::postgres
