#pragma once
// Command-line options of the form --name VALUE, --name=VALUE and --flag, and positional
// arguments ("--" ends the options).
#include <initializer_list>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace etapas::admin {

// Bad usage: the tool prints it with a pointer to --help and exits with status 2.
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct OptionDef {
  std::string_view name;  // without the leading "--"
  bool takesValue;
};

class Arguments {
 public:
  // Throws UsageError on an unknown or repeated option, a missing value, or more
  // positional arguments than maxPositionals.
  Arguments(const std::vector<std::string>& args, std::initializer_list<OptionDef> defs, size_t maxPositionals = 0);

  bool HelpAsked() const { return help_; }
  bool Has(std::string_view name) const;
  // The value, or fallback when the option was not given.
  std::string Value(std::string_view name, const std::string& fallback = {}) const;
  // Throws UsageError when the option is missing or empty.
  std::string Required(std::string_view name) const;
  const std::vector<std::string>& Positionals() const { return positionals_; }

 private:
  std::map<std::string, std::string, std::less<>> values_;
  std::set<std::string, std::less<>> flags_;
  std::vector<std::string> positionals_;
  bool help_ = false;
};

}  // namespace etapas::admin
