// Start-up of the headless editor, `etapas --script EMPTY` (the load sequence on a data
// root without databases: it says so and ends), against the cheapest start of
// etapas-admin (`--help`). Both are spawned in the same iteration, one after the other, so
// the machine's load falls on both alike; the counters give each one's median and the
// ratio of the medians.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

extern "C" char** environ;

namespace {

// Runs the program to its end with its output thrown away; the wall time in seconds.
double Run(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) std::abort();
  int status = 0;
  waitpid(pid, &status, 0);
  const auto end = std::chrono::steady_clock::now();
  posix_spawn_file_actions_destroy(&actions);
  return std::chrono::duration<double>(end - start).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

void BM_Startup_EtapasScript_vs_AdminHelp(benchmark::State& state) {
  const std::string root =
      std::filesystem::temp_directory_path() / ("etapas-bench-startup-" + std::to_string(getpid()));
  std::filesystem::create_directories(root);
  setenv("ETAPAS_DATA", root.c_str(), 1);
  setenv("TEMP", root.c_str(), 1);
  const std::string empty = root + "/empty.txt";
  std::ofstream(empty).close();
  std::vector<double> etapas, admin;
  for (int i = 0; i < 3; ++i) Run({ETAPAS_PATH, "--script", empty}), Run({ETAPAS_ADMIN_PATH, "--help"});  // warm caches
  for (auto _ : state) {
    // Alternate which goes first, so neither always follows the other.
    if (state.iterations() % 2) {
      admin.push_back(Run({ETAPAS_ADMIN_PATH, "--help"}));
      etapas.push_back(Run({ETAPAS_PATH, "--script", empty}));
    } else {
      etapas.push_back(Run({ETAPAS_PATH, "--script", empty}));
      admin.push_back(Run({ETAPAS_ADMIN_PATH, "--help"}));
    }
    state.SetIterationTime(etapas.back());
  }
  const double e = Median(etapas), a = Median(admin);
  state.counters["etapas_script_ms"] = e * 1e3;
  state.counters["admin_help_ms"] = a * 1e3;
  state.counters["ratio"] = a > 0 ? e / a : 0;
  std::filesystem::remove_all(root);
}
BENCHMARK(BM_Startup_EtapasScript_vs_AdminHelp)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(200);

}  // namespace

BENCHMARK_MAIN();
