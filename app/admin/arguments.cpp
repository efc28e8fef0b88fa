#include "admin/arguments.h"

namespace etapas::admin {

Arguments::Arguments(const std::vector<std::string>& args, std::initializer_list<OptionDef> defs,
                     size_t maxPositionals) {
  bool optionsEnded = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      // A lone "-" is a positional: it names standard input.
      positionals_.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    if (arg == "-h" || arg == "--help") {
      help_ = true;
      continue;
    }
    if (arg.rfind("--", 0) != 0) throw UsageError("unknown option " + arg);
    std::string name = arg.substr(2);
    std::string value;
    bool inlineValue = false;
    if (auto eq = name.find('='); eq != std::string::npos) {
      value = name.substr(eq + 1);
      name.resize(eq);
      inlineValue = true;
    }
    const OptionDef* def = nullptr;
    for (const auto& s : defs)
      if (s.name == name) def = &s;
    if (!def) throw UsageError("unknown option --" + name);
    if (values_.count(name) || flags_.count(name)) throw UsageError("option --" + name + " given more than once");
    if (!def->takesValue) {
      if (inlineValue) throw UsageError("option --" + name + " takes no value");
      flags_.insert(name);
      continue;
    }
    if (!inlineValue) {
      if (i + 1 >= args.size()) throw UsageError("option --" + name + " needs a value");
      value = args[++i];
    }
    values_[name] = value;
  }
  if (help_) return;  // the rest does not matter when help is asked for
  if (positionals_.size() > maxPositionals) {
    if (maxPositionals == 0) throw UsageError("unexpected argument '" + positionals_[0] + "'");
    throw UsageError("unexpected argument '" + positionals_[maxPositionals] + "'");
  }
}

bool Arguments::Has(std::string_view name) const { return values_.count(name) > 0 || flags_.count(name) > 0; }

std::string Arguments::Value(std::string_view name, const std::string& fallback) const {
  auto it = values_.find(name);
  return it == values_.end() ? fallback : it->second;
}

std::string Arguments::Required(std::string_view name) const {
  auto it = values_.find(name);
  if (it == values_.end()) throw UsageError("missing --" + std::string(name));
  if (it->second.empty()) throw UsageError("--" + std::string(name) + " cannot be empty");
  return it->second;
}

}  // namespace etapas::admin
