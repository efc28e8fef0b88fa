#pragma once
// Helpers shared by the tests: private data roots and running the programs we build.
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace etapas::test {

// A fresh, empty data root for one test. Sets ETAPAS_DATA to it so everything that
// connects in this process (and every child started without overriding it) uses it; the
// previous value comes back and the folder is removed on destruction. XDG_CONFIG_HOME points
// at an empty folder inside it for the same time, so no user's settings are read. Set
// ETAPAS_KEEP_TEST_DATA=1 to keep the folder for a post-mortem.
//
// With ETAPAS_TEST_ENGINE=postgresql the root's servers.conf puts the tests' server names on
// the PostgreSQL servers ETAPAS_TEST_PG_HOME and ETAPAS_TEST_PG_POS (HOST:PORT, superuser
// ETAPAS_TEST_PG_USER), their databases named with a prefix of this root's own; they are
// dropped on destruction.
class TempDataRoot {
 public:
  TempDataRoot();
  // On the PostgreSQL servers or embedded whatever ETAPAS_TEST_ENGINE says, for suites that
  // run the same cases on both engines in one process.
  explicit TempDataRoot(bool postgresql);
  ~TempDataRoot();
  TempDataRoot(const TempDataRoot&) = delete;
  TempDataRoot& operator=(const TempDataRoot&) = delete;

  const std::string& Path() const { return path_; }
  // What this root's databases are named with on the PostgreSQL servers ("" when embedded).
  const std::string& Prefix() const { return prefix_; }
  // <root>/servers/<server in lower case>
  std::string ServerFolder(std::string_view server) const;
  // <root>/servers/<server>/<database>.db, both in lower case
  std::string DatabaseFile(std::string_view server, std::string_view database) const;

 private:
  std::string path_;
  std::string prefix_;
  std::optional<std::string> previous_, previousConfig_;
};

// A Spanish desktop's locale (decimal comma) for the C library while it lives; the one
// before comes back after. Ok() says whether the locale is installed (scripts/deps.sh).
class SpanishLocale {
 public:
  SpanishLocale();
  ~SpanishLocale();
  SpanishLocale(const SpanishLocale&) = delete;
  SpanishLocale& operator=(const SpanishLocale&) = delete;
  bool Ok() const { return ok_; }

 private:
  std::string previous_;
  bool ok_ = false;
};

// Whether the tests run on PostgreSQL servers (ETAPAS_TEST_ENGINE=postgresql).
bool OnPostgreSQL();
// An environment variable, or `fallback` when it is unset or empty.
std::string Env(const char* name, const std::string& fallback = "");

// db_fixture.cpp: the PostgreSQL servers of a data root, written into its servers.conf, and
// the removal of its databases.
void WriteTestServers(const std::string& root, const std::string& prefix);
void DropTestDatabases(const std::string& root, const std::string& prefix);

// A new empty folder under $TMPDIR (or /tmp); the caller removes it.
std::string MakeTempFolder(std::string_view prefix = "etapas-test");

struct ProcessResult {
  int exitCode = -1;       // the exit status; 128 + signal when killed; 127 when not started
  bool timedOut = false;   // killed after RunOptions::timeoutSeconds
  int msAfterSignal = -1;  // from RunOptions::signal to the child's end; -1 when not sent
  std::string stdoutText;
  std::string stderrText;
};

using EnvAdditions = std::vector<std::pair<std::string, std::string>>;

struct RunOptions {
  std::string stdinText;         // fed to the child, then its stdin is closed
  std::string workingDirectory;  // empty: ours
  int timeoutSeconds = 300;      // a hung child must not hang the test run
  bool keepStdinOpen = false;    // the child's stdin stays open until it ends by itself
  // Sent to the child signalDelayMs after its standard output first holds signalWhen.
  int signal = 0;
  std::string signalWhen;
  int signalDelayMs = 0;
};

// Runs argv[0] (looked up in PATH when it has no "/") with argv, our environment plus
// env (which overrides variables of the same name), and returns its exit status and
// everything it wrote.
ProcessResult RunProcess(const std::vector<std::string>& argv, const EnvAdditions& env = {},
                         const RunOptions& options = {});

// Splits text into lines without their "\n"; a final empty line is not returned.
std::vector<std::string> Lines(std::string_view text);

}  // namespace etapas::test
