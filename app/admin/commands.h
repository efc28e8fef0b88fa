#pragma once
// The subcommands of etapas-admin. Each returns the exit status (0 done, 1 failed) and
// throws UsageError for bad arguments.
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace etapas::admin {

using Args = std::vector<std::string>;

struct Command {
  std::string_view name;
  std::string_view summary;
  std::string_view help;
  int (*run)(const Args& args, std::ostream& out, std::ostream& err);
};

const std::vector<Command>& Commands();

int RunInit(const Args& args, std::ostream& out, std::ostream& err);
int RunAddPos(const Args& args, std::ostream& out, std::ostream& err);
int RunDemo(const Args& args, std::ostream& out, std::ostream& err);
int RunSql(const Args& args, std::ostream& out, std::ostream& err);
int RunMigrate(const Args& args, std::ostream& out, std::ostream& err);
int RunSincronizar(const Args& args, std::ostream& out, std::ostream& err);
extern const std::string_view kMigrateHelp;
extern const std::string_view kSincronizarHelp;

// The data root the caller's environment names (before --data-root is applied): other
// programs started from the same shell find this one.
const std::string& InheritedDataRoot();

// Prints "etapas-admin COMMAND: why" on err and returns 1.
int Fail(std::ostream& err, std::string_view command, std::string why);

// Runs the tool on argv; the whole program.
int Main(int argc, char** argv);

}  // namespace etapas::admin
