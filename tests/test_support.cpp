#include "test_support.h"

#include <clocale>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <stdexcept>

extern char** environ;

namespace etapas::test {
namespace {

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

struct Pipe {
  int fd[2] = {-1, -1};
  Pipe() {
    if (pipe2(fd, O_CLOEXEC) != 0) throw std::runtime_error(std::strerror(errno));
  }
  ~Pipe() { CloseBoth(); }
  void Close(int i) {
    if (fd[i] >= 0) ::close(fd[i]);
    fd[i] = -1;
  }
  void CloseBoth() {
    Close(0);
    Close(1);
  }
};

}  // namespace

std::string MakeTempFolder(std::string_view prefix) {
  const char* tmp = std::getenv("TMPDIR");
  std::string base = (tmp && *tmp) ? tmp : "/tmp";
  std::string pattern = base + "/" + std::string(prefix) + "-XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) throw std::runtime_error("mkdtemp " + pattern + ": " + std::strerror(errno));
  return buf.data();
}

std::string Env(const char* name, const std::string& fallback) {
  const char* v = std::getenv(name);
  return v && *v ? std::string(v) : fallback;
}

// The library runs under the locale the tests were started with, as in a desktop program:
// CI runs them once more under LC_ALL=es_ES.UTF-8.
[[maybe_unused]] const bool kLocaleFromEnvironment = std::setlocale(LC_ALL, "") != nullptr;

SpanishLocale::SpanishLocale() : previous_(std::setlocale(LC_ALL, nullptr)) {
  ok_ = std::setlocale(LC_ALL, "es_ES.UTF-8") != nullptr;
}

SpanishLocale::~SpanishLocale() { std::setlocale(LC_ALL, previous_.c_str()); }

bool OnPostgreSQL() { return Env("ETAPAS_TEST_ENGINE") == "postgresql"; }

namespace {
// Unique among the roots of this run and of runs before it that left databases behind:
// tests run in parallel processes against the same servers.
std::string NewPrefix() {
  static unsigned counter = 0;
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  const unsigned long long parts[] = {
      static_cast<unsigned long long>(getpid()), ++counter,
      static_cast<unsigned long long>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count() % 1679616)};
  std::string out = "t";
  for (unsigned long long n : parts) {
    std::string digits;
    do {
      digits.insert(digits.begin(), "0123456789abcdefghijklmnopqrstuvwxyz"[n % 36]);
      n /= 36;
    } while (n);
    out += digits + "_";
  }
  return out;
}
}  // namespace

TempDataRoot::TempDataRoot() : TempDataRoot(OnPostgreSQL()) {}

TempDataRoot::TempDataRoot(bool postgresql) : path_(MakeTempFolder("etapas-data")) {
  if (const char* old = std::getenv("ETAPAS_DATA")) previous_ = old;
  setenv("ETAPAS_DATA", path_.c_str(), 1);
  // The user's own settings must not reach the tests: an empty configuration folder.
  if (const char* old = std::getenv("XDG_CONFIG_HOME")) previousConfig_ = old;
  setenv("XDG_CONFIG_HOME", (path_ + "/.config").c_str(), 1);
  if (postgresql) {
    prefix_ = NewPrefix();
    WriteTestServers(path_, prefix_);
  }
}

TempDataRoot::~TempDataRoot() {
  if (!prefix_.empty()) DropTestDatabases(path_, prefix_);
  if (previous_)
    setenv("ETAPAS_DATA", previous_->c_str(), 1);
  else
    unsetenv("ETAPAS_DATA");
  if (previousConfig_)
    setenv("XDG_CONFIG_HOME", previousConfig_->c_str(), 1);
  else
    unsetenv("XDG_CONFIG_HOME");
  const char* keep = std::getenv("ETAPAS_KEEP_TEST_DATA");
  if (keep && *keep && std::string_view(keep) != "0") return;
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string TempDataRoot::ServerFolder(std::string_view server) const { return path_ + "/servers/" + Lower(server); }

std::string TempDataRoot::DatabaseFile(std::string_view server, std::string_view database) const {
  return ServerFolder(server) + "/" + Lower(database) + ".db";
}

ProcessResult RunProcess(const std::vector<std::string>& argv, const EnvAdditions& env, const RunOptions& options) {
  ProcessResult result;
  if (argv.empty()) throw std::invalid_argument("RunProcess: empty argv");

  // Everything the child gets is built before spawning.
  std::map<std::string, std::string> vars;
  std::vector<std::string> order;
  for (char** e = environ; e && *e; ++e) {
    std::string_view kv(*e);
    auto eq = kv.find('=');
    if (eq == std::string_view::npos) continue;
    std::string name(kv.substr(0, eq));
    if (vars.emplace(name, std::string(kv.substr(eq + 1))).second) order.push_back(name);
  }
  for (const auto& [name, value] : env) {
    if (vars.emplace(name, value).second)
      order.push_back(name);
    else
      vars[name] = value;
  }
  std::vector<std::string> envStrings;
  envStrings.reserve(order.size());
  for (const auto& name : order) envStrings.push_back(name + "=" + vars[name]);
  std::vector<char*> envp;
  for (auto& s : envStrings) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::vector<std::string> args(argv);
  std::vector<char*> argp;
  for (auto& s : args) argp.push_back(s.data());
  argp.push_back(nullptr);

  Pipe in, out, err;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in.fd[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out.fd[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err.fd[1], 2);
  if (!options.workingDirectory.empty())
    posix_spawn_file_actions_addchdir_np(&actions, options.workingDirectory.c_str());
  pid_t pid = -1;
  int rc = posix_spawnp(&pid, argp[0], &actions, nullptr, argp.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    result.exitCode = 127;
    result.stderrText = argv[0] + ": " + std::strerror(rc) + "\n";
    return result;
  }
  in.Close(0);
  out.Close(1);
  err.Close(1);
  // A child that exits without reading its input must not kill us with SIGPIPE.
  fcntl(in.fd[1], F_SETFL, O_NONBLOCK);
  struct sigaction ignore {
  }, previousPipe{};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignore, &previousPipe);

  size_t written = 0;
  if (options.stdinText.empty() && !options.keepStdinOpen) in.Close(1);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(options.timeoutSeconds);
  std::optional<std::chrono::steady_clock::time_point> signalAt, sentAt;
  char buf[65536];
  while (out.fd[0] >= 0 || err.fd[0] >= 0) {
    const auto now = std::chrono::steady_clock::now();
    if (options.signal != 0 && !signalAt && result.stdoutText.find(options.signalWhen) != std::string::npos)
      signalAt = now + std::chrono::milliseconds(options.signalDelayMs);
    if (signalAt && !sentAt && now >= *signalAt) {
      kill(pid, options.signal);
      sentAt = now;
    }
    pollfd fds[3];
    int n = 0;
    int outAt = -1, errAt = -1, inAt = -1;
    if (out.fd[0] >= 0) {
      outAt = n;
      fds[n++] = {out.fd[0], POLLIN, 0};
    }
    if (err.fd[0] >= 0) {
      errAt = n;
      fds[n++] = {err.fd[0], POLLIN, 0};
    }
    if (in.fd[1] >= 0 && written < options.stdinText.size()) {
      inAt = n;
      fds[n++] = {in.fd[1], POLLOUT, 0};
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      result.timedOut = true;
      kill(pid, SIGKILL);
      break;
    }
    if (signalAt && !sentAt)
      left = std::min(
          left, std::chrono::duration_cast<std::chrono::milliseconds>(*signalAt - now) + std::chrono::milliseconds(1));
    int ready = poll(fds, static_cast<nfds_t>(n), static_cast<int>(left.count()));
    if (ready < 0) {
      if (errno == EINTR) continue;
      break;
    }
    auto drain = [&](int at, Pipe& p, std::string& into) {
      if (at < 0 || !(fds[at].revents & (POLLIN | POLLHUP | POLLERR))) return;
      ssize_t got = ::read(p.fd[0], buf, sizeof buf);
      if (got > 0)
        into.append(buf, static_cast<size_t>(got));
      else if (got == 0 || errno != EINTR)
        p.Close(0);
    };
    drain(outAt, out, result.stdoutText);
    drain(errAt, err, result.stderrText);
    if (inAt >= 0 && (fds[inAt].revents & (POLLOUT | POLLERR | POLLHUP))) {
      ssize_t put = ::write(in.fd[1], options.stdinText.data() + written, options.stdinText.size() - written);
      if (put > 0) written += static_cast<size_t>(put);
      if (put < 0 && errno != EAGAIN && errno != EINTR) in.Close(1);
      if (written == options.stdinText.size() && !options.keepStdinOpen) in.Close(1);
    }
  }
  in.Close(1);
  sigaction(SIGPIPE, &previousPipe, nullptr);

  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
  if (sentAt)
    result.msAfterSignal = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - *sentAt).count());
  if (WIFEXITED(status))
    result.exitCode = WEXITSTATUS(status);
  else if (WIFSIGNALED(status))
    result.exitCode = 128 + WTERMSIG(status);
  return result;
}

std::vector<std::string> Lines(std::string_view text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    lines.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

}  // namespace etapas::test
