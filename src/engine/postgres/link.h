#pragma once
// A connection to a PostgreSQL server and the statements in flight on it. Every wait on the
// server is made in steps, with the wait hook run meanwhile, and bounded.
#include <libpq-fe.h>

#include <chrono>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "components/text.h"

namespace etapas::engine::postgres {

using Clock = std::chrono::steady_clock;

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
  // No more results: the statement's answer is over.
  bool End() const { return !r && !timedOut; }
  ExecStatusType Status() const { return r ? PQresultStatus(r) : PGRES_FATAL_ERROR; }
  bool Ok() const {
    const auto s = Status();
    return s == PGRES_COMMAND_OK || s == PGRES_TUPLES_OK || s == PGRES_SINGLE_TUPLE;
  }
  std::string Field(int code) const {
    const char* f = r ? PQresultErrorField(r, code) : nullptr;
    return f ? f : "";
  }
};

// The waits of one exchange with the server: each until a socket is ready or the deadline
// passes, with the wait hook run every slice meanwhile.
class Waiter {
 public:
  enum class Wake { kReady, kDeadline, kHook };
  explicit Waiter(std::optional<Clock::time_point> deadline) : deadline_(deadline), hooked_(Clock::now()) {}
  // kHook when the hook ran and the socket is not ready yet: what it ran may have changed
  // what the caller waits for. An error on the socket counts as ready: libpq reads it and
  // says what happened.
  Wake Ready(int fd, short events);

 private:
  std::optional<Clock::time_point> deadline_;
  Clock::time_point hooked_;
};

// One statement's answer as it arrives: what was read from the connection and not yet taken.
struct Answer {
  std::deque<Result> results;
  bool complete = false;  // nothing more of it is on the connection
  bool wanted = true;     // nobody will read the rest: it is thrown away as it arrives
};
using AnswerPtr = std::shared_ptr<Answer>;

// Statements are sent, and their answers read, in steps. Only one answer is on the wire at
// a time: a statement sent while another's answer is still arriving (one the wait hook
// runs, or one started while rows are being walked) first reads that answer to its end and
// keeps it for its reader.
class Link {
 public:
  explicit Link(PGconn* conn) : conn_(conn) {}
  ~Link() { PQfinish(conn_); }
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;

  PGconn* get() const { return conn_; }
  // A wait on the server is in progress (the wait hook may be running inside it).
  bool Waiting() const { return waits_ > 0; }
  // The statement_timeout the server applies, in seconds; 0: none, -1: not known.
  void SetServerTimeout(int seconds) { serverTimeout_ = seconds; }

  // Null when the statement cannot be sent; the connection's message says why. `rows`:
  // rows are read one at a time, as the reader takes them.
  AnswerPtr Send(const std::string& q, const std::vector<const char*>& values, bool rows);
  // Several statements in one text, without parameters.
  AnswerPtr SendScript(const std::string& q);
  AnswerPtr SendPrepared(const std::string& name, const std::vector<const char*>& values, bool rows);
  AnswerPtr SendPrepare(const std::string& name, const std::string& q);

  // The answer's next result, in order; End() after its last.
  Result Next(Answer& answer);
  // What PQexec would give: the last result of the answer.
  Result Last(const AnswerPtr& answer);

  Result Exec(const std::string& q) { return Last(SendScript(q)); }
  Result ExecParams(const std::string& q, const std::vector<const char*>& values = {}) {
    return Last(Send(q, values, false));
  }

 private:
  template <class SendFn>
  AnswerPtr Start(SendFn send, bool rows);
  // Reads one more result of the answer on the wire into it.
  void ReadOne();
  void Drain();
  void Abandon();

  PGconn* conn_;
  int serverTimeout_ = 30;  // as the connection's options set it
  int waits_ = 0;
  AnswerPtr current_;  // the answer still arriving
};

// The server takes only UTF-8: a byte that starts no valid sequence becomes U+FFFD, as a
// code page conversion replaces what it cannot map, instead of refusing the statement. NUL
// too: the server refuses it in a text.
inline std::string ValidUtf8(std::string_view s) { return text::ReplaceBadUtf8(s, true); }

}  // namespace etapas::engine::postgres
