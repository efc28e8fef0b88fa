#include "engine/postgres/link.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

#include "engine/session.h"

namespace etapas::engine::postgres {
namespace {

// How often a wait lets the program's events through.
constexpr std::chrono::milliseconds kWaitSlice{25};
// Past the server's own statement_timeout, the time its answer may take to arrive.
constexpr std::chrono::seconds kGrace{3};

struct Counting {
  explicit Counting(int& n) : n_(n) { ++n_; }
  ~Counting() { --n_; }
  int& n_;
};

}  // namespace

Waiter::Wake Waiter::Ready(int fd, short events) {
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

template <class SendFn>
AnswerPtr Link::Start(SendFn send, bool rows) {
  Drain();
  if (!send()) return nullptr;
  // Rows one at a time: memory does not grow with the result.
  if (rows) PQsetSingleRowMode(conn_);
  current_ = std::make_shared<Answer>();
  return current_;
}

AnswerPtr Link::Send(const std::string& q, const std::vector<const char*>& values, bool rows) {
  return Start(
      [&] {
        return PQsendQueryParams(conn_, q.c_str(), static_cast<int>(values.size()), nullptr, values.data(), nullptr,
                                 nullptr, 0);
      },
      rows);
}

AnswerPtr Link::SendScript(const std::string& q) {
  return Start([&] { return PQsendQuery(conn_, q.c_str()); }, false);
}

AnswerPtr Link::SendPrepared(const std::string& name, const std::vector<const char*>& values, bool rows) {
  return Start(
      [&] {
        return PQsendQueryPrepared(conn_, name.c_str(), static_cast<int>(values.size()), values.data(), nullptr,
                                   nullptr, 0);
      },
      rows);
}

AnswerPtr Link::SendPrepare(const std::string& name, const std::string& q) {
  return Start([&] { return PQsendPrepare(conn_, name.c_str(), q.c_str(), 0, nullptr); }, false);
}

Result Link::Next(Answer& answer) {
  for (;;) {
    if (!answer.results.empty()) {
      Result r = std::move(answer.results.front());
      answer.results.pop_front();
      return r;
    }
    if (answer.complete || current_.get() != &answer) return Result();
    ReadOne();
  }
}

Result Link::Last(const AnswerPtr& answer) {
  Result last;
  if (!answer) return last;
  for (Result r = Next(*answer); !r.End(); r = Next(*answer)) last = std::move(r);
  return last;
}

void Link::ReadOne() {
  const AnswerPtr answer = current_;
  if (!answer) return;
  const Counting waiting(waits_);
  std::optional<Clock::time_point> deadline;
  if (serverTimeout_ > 0) deadline = Clock::now() + std::chrono::seconds(serverTimeout_) + kGrace;
  Waiter wait(deadline);
  while (PQisBusy(conn_)) {
    const auto w = wait.Ready(PQsocket(conn_), POLLIN);
    // Read meanwhile by a statement the hook ran on this connection.
    if (current_ != answer) return;
    if (w == Waiter::Wake::kHook) continue;
    if (w == Waiter::Wake::kDeadline) {
      Abandon();
      return;
    }
    if (!PQconsumeInput(conn_)) break;  // PQgetResult reports the lost connection
  }
  PGresult* r = PQgetResult(conn_);
  if (!r) {
    answer->complete = true;
    current_.reset();
    return;
  }
  const auto s = PQresultStatus(r);
  if (answer->wanted)
    answer->results.emplace_back(r);
  else
    PQclear(r);
  if (s == PGRES_COPY_IN || s == PGRES_COPY_OUT || s == PGRES_COPY_BOTH || PQstatus(conn_) == CONNECTION_BAD) {
    answer->complete = true;
    current_.reset();
  }
}

void Link::Drain() {
  while (current_) ReadOne();
}

// The server answered neither the statement nor its own statement_timeout: it or the
// network is gone. The connection is dropped, not cancelled: libpq's PQcancel waits,
// without a bound, on that same server.
void Link::Abandon() {
  if (const int fd = PQsocket(conn_); fd >= 0) shutdown(fd, SHUT_RDWR);
  PQconsumeInput(conn_);
  while (!PQisBusy(conn_)) {
    PGresult* r = PQgetResult(conn_);
    if (!r) break;
    PQclear(r);
  }
  Result timedOut;
  timedOut.timedOut = true;
  current_->results.push_back(std::move(timedOut));
  current_->complete = true;
  current_.reset();
}

}  // namespace etapas::engine::postgres
