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
// previous value comes back and the folder is removed on destruction. Set
// ETAPAS_KEEP_TEST_DATA=1 to keep the folder for a post-mortem.
class TempDataRoot {
 public:
  TempDataRoot();
  ~TempDataRoot();
  TempDataRoot(const TempDataRoot&) = delete;
  TempDataRoot& operator=(const TempDataRoot&) = delete;

  const std::string& Path() const { return path_; }
  // <root>/servers/<server in lower case>
  std::string ServerFolder(std::string_view server) const;
  // <root>/servers/<server>/<database>.db, both in lower case
  std::string DatabaseFile(std::string_view server, std::string_view database) const;

 private:
  std::string path_;
  std::optional<std::string> previous_;
};

// A new empty folder under $TMPDIR (or /tmp); the caller removes it.
std::string MakeTempFolder(std::string_view prefix = "etapas-test");

struct ProcessResult {
  int exitCode = -1;      // the exit status; 128 + signal when killed; 127 when not started
  bool timedOut = false;  // killed after RunOptions::timeoutSeconds
  std::string stdoutText;
  std::string stderrText;
};

using EnvAdditions = std::vector<std::pair<std::string, std::string>>;

struct RunOptions {
  std::string stdinText;          // fed to the child, then its stdin is closed
  std::string workingDirectory;   // empty: ours
  int timeoutSeconds = 300;       // a hung child must not hang the test run
};

// Runs argv[0] (looked up in PATH when it has no "/") with argv, our environment plus
// env (which overrides variables of the same name), and returns its exit status and
// everything it wrote.
ProcessResult RunProcess(const std::vector<std::string>& argv, const EnvAdditions& env = {},
                         const RunOptions& options = {});

// Splits text into lines without their "\n"; a final empty line is not returned.
std::vector<std::string> Lines(std::string_view text);

}  // namespace etapas::test
