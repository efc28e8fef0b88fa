#include "engine/session.h"

#include <cstdlib>
#include <filesystem>
#include <thread>
#include <fstream>

#include "engine/backend.h"
#include "engine/postgres/postgres_backend.h"
#include "engine/sqlite/sqlite_backend.h"
#include "components/ado_types.h"
#include "components/text.h"

namespace etapas::engine {
namespace {

struct ServerEntry {
  std::string engine = "sqlite";
  std::string location;
  std::string where;  // the file and line it came from
};

// servers.conf (configuration folder, else data root): "NAME = ENGINE LOCATION" per line,
// '#' comments. For PostgreSQL the location is "HOST[:PORT]" and options (see
// postgres/server.h). Relative locations stay relative to the data root wherever the file is.
bool LookUpServer(const std::string& root, const std::string& server, ServerEntry& entry) {
  const std::string file = SettingsFile(root, "servers.conf");
  std::ifstream in(file);
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    // Windows editors start a UTF-8 file with a byte-order mark.
    if (number == 1 && line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);
    auto hash = line.find('#');
    if (hash != std::string::npos) line.erase(hash);
    auto eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string name = text::TrimCopy(line.substr(0, eq));
    if (!text::EqualsNoCase(name, text::Trim(server))) continue;
    std::string rest = text::TrimCopy(line.substr(eq + 1));
    auto sp = rest.find_first_of(" \t");
    entry.engine = text::Lower(rest.substr(0, sp));
    entry.location = sp == std::string::npos ? "" : text::TrimCopy(rest.substr(sp));
    entry.where = file + ", line " + std::to_string(number);
    return true;
  }
  return false;
}

// A plain pointer: constant-initialised, so a hook installed by another file's static
// initialiser is never overwritten by this one's.
WaitHook gWaitHook = nullptr;
// The hook lets the front end's events through: only the thread that installed it may.
// Made on first use, as the hook may be installed before this file's initialisers run.
std::thread::id& HookThread() {
  static std::thread::id id;
  return id;
}
thread_local bool gInWaitHook = false;

}  // namespace

WaitHook SetWaitHook(WaitHook hook) {
  WaitHook previous = gWaitHook;
  gWaitHook = hook;
  HookThread() = std::this_thread::get_id();
  return previous;
}

void WhileWaiting() {
  if (!gWaitHook || gInWaitHook || std::this_thread::get_id() != HookThread()) return;
  gInWaitHook = true;
  struct Reset {
    ~Reset() { gInWaitHook = false; }
  } reset;
  gWaitHook();
}

std::string DefaultDataRoot() {
  if (const char* d = std::getenv("ETAPAS_DATA"); d && *d) return d;
  if (const char* x = std::getenv("XDG_DATA_HOME"); x && *x) return std::string(x) + "/etapas";
  if (const char* h = std::getenv("HOME"); h && *h) return std::string(h) + "/.local/share/etapas";
  return "./etapas-data";
}

std::string ConfigFolder() {
  if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x) return std::string(x) + "/etapas";
  if (const char* h = std::getenv("HOME"); h && *h) return std::string(h) + "/.config/etapas";
  return "";
}

std::string FileNamedNoCase(const std::string& folder, const std::string& name) {
  if (folder.empty()) return "";
  std::error_code ec;
  for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string entry = it->path().filename().string();
    if (text::EqualsNoCase(entry, name) && it->is_regular_file(ec)) return folder + "/" + entry;
  }
  return "";
}

std::string SettingsFile(const std::string& root, const std::string& name) {
  if (std::string found = FileNamedNoCase(ConfigFolder(), name); !found.empty()) return found;
  if (std::string found = FileNamedNoCase(root, name); !found.empty()) return found;
  return root + "/" + name;
}

std::vector<ConnectResult> ConnectAll(const std::vector<ConnectRequest>& requests, int timeoutSeconds) {
  std::vector<ConnectResult> results(requests.size());
  // PostgreSQL attempts first, so that they are under way while the rest is done.
  std::vector<std::unique_ptr<postgres::Opening>> openings(requests.size());
  std::vector<bool> embedded(requests.size());
  std::vector<ServerEntry> entries(requests.size());
  for (size_t i = 0; i < requests.size(); ++i) {
    const ConnectRequest& request = requests[i];
    ProviderError& error = results[i].error;
    const std::string root = request.dataRoot.empty() ? DefaultDataRoot() : request.dataRoot;
    const std::string server = text::TrimCopy(request.server);
    if (server.empty()) {
      error = {native::kServerNotFound, "SQL Server does not exist or access denied: no server name was given.",
               "08001"};
      continue;
    }
    ServerEntry& entry = entries[i];
    if (!LookUpServer(root, server, entry)) {
      if (server.find_first_of("/\\") != std::string::npos || server.front() == '.') {
        error = {native::kServerNotFound,
                 "SQL Server does not exist or access denied: '" + server + "' is not a valid server name.", "08001"};
        continue;
      }
      entry.location = root + "/servers/" + text::Lower(server);
    } else if (!entry.location.empty() && entry.location.front() != '/' && entry.engine == "sqlite") {
      entry.location = root + "/" + entry.location;
    }
    if (entry.engine == "sqlite") {
      embedded[i] = true;
    } else if (entry.engine == "postgresql" || entry.engine == "postgres") {
      // The batch's bound is each attempt's, from its own start: attempts wait their turn
      // for a busy server (postgres::Batch), and that wait must not count against them.
      ConnectRequest bounded = request;
      if (timeoutSeconds > 0 && (bounded.connectTimeoutSeconds <= 0 || bounded.connectTimeoutSeconds > timeoutSeconds))
        bounded.connectTimeoutSeconds = timeoutSeconds;
      Fault fault;
      openings[i] = postgres::StartOpen(server, entry.location, root, bounded, fault, entry.where);
      if (!openings[i]) error = Describe(fault, "", text::Trim(request.database));
    } else {
      error = {native::kFeatureNotSupported,
               "The server '" + server + "' is configured for the engine '" + entry.engine +
                   "', which this build cannot use.",
               "08001"};
    }
  }
  std::vector<postgres::Attempt*> attempts;
  for (auto& o : openings)
    if (o) attempts.push_back(&o->attempt());
  postgres::Batch batch(attempts);
  batch.Start();
  for (size_t i = 0; i < requests.size(); ++i) {
    if (!embedded[i]) continue;
    Fault fault;
    auto backend = sqlite::Open(entries[i].location, requests[i].database, fault);
    if (backend)
      results[i].session = MakeSession(std::move(backend));
    else
      results[i].error = Describe(fault, "", text::Trim(requests[i].database));
  }
  batch.Run();
  for (size_t i = 0; i < requests.size(); ++i) {
    if (!openings[i]) continue;
    Fault fault;
    auto backend = openings[i]->Finish(fault);
    openings[i].reset();
    if (backend)
      results[i].session = MakeSession(std::move(backend));
    else
      results[i].error = Describe(fault, "", text::Trim(requests[i].database));
  }
  return results;
}

std::unique_ptr<Session> Connect(const ConnectRequest& request, ProviderError& error) {
  auto results = ConnectAll({request}, 0);
  error = std::move(results.front().error);
  return std::move(results.front().session);
}

void AddError(std::vector<ProviderError>& errors, ProviderError e) {
  const long n = e.native;
  errors.push_back(std::move(e));
  if (n == native::kDuplicateKey || n == native::kConstraint || n == native::kNullNotAllowed ||
      n == native::kTruncation)
    errors.push_back({native::kStatementTerminated, "The statement has been terminated.", "01000"});
}

bool ValidDatabaseName(std::string_view name, size_t maxLength) {
  return !name.empty() && name.size() <= maxLength && name.find_first_of("/\\") == std::string_view::npos &&
         name.front() != '.' && name.find('\0') == std::string_view::npos;
}

int AdoTypeFromDeclared(std::string_view declared, long* size) {
  std::string d = text::Lower(text::Trim(declared));
  if (size) *size = 0;
  auto paren = d.find('(');
  std::string base = text::TrimCopy(d.substr(0, paren));
  if (paren != std::string::npos && size) {
    long n = std::strtol(d.c_str() + paren + 1, nullptr, 10);
    *size = n > 0 ? n : 0;
  }
  // Only the first word decides ("int identity", "varchar collate ...").
  base = base.substr(0, base.find(' '));
  if (base == "int" || base == "integer" || base == "mediumint") return ado::adtype::kInteger;
  if (base == "smallint") return ado::adtype::kSmallInt;
  if (base == "tinyint") return ado::adtype::kTinyInt;
  if (base == "bigint") return ado::adtype::kBigInt;
  if (base == "bit" || base == "boolean" || base == "bool") return ado::adtype::kBoolean;
  if (base == "float" || base == "double" || base == "double precision") return ado::adtype::kDouble;
  if (base == "real") return ado::adtype::kSingle;
  if (base == "money" || base == "smallmoney") return ado::adtype::kCurrency;
  if (base == "decimal" || base == "numeric") return ado::adtype::kNumeric;
  if (base == "datetime" || base == "smalldatetime" || base == "datetime2" || base == "timestamp")
    return ado::adtype::kDBTimeStamp;
  if (base == "date") return ado::adtype::kDBDate;
  if (base == "time") return ado::adtype::kDBTime;
  if (base == "char" || base == "character") return ado::adtype::kChar;
  if (base == "nchar") return ado::adtype::kWChar;
  if (base == "varchar" || base == "sysname") return ado::adtype::kVarChar;
  if (base == "nvarchar") return ado::adtype::kVarWChar;
  if (base == "text") return ado::adtype::kLongVarChar;
  if (base == "ntext") return ado::adtype::kLongVarWChar;
  if (base == "uniqueidentifier") return ado::adtype::kGuid;
  if (base == "varbinary" || base == "binary" || base == "blob") return ado::adtype::kVarBinary;
  if (base == "image") return ado::adtype::kLongVarBinary;
  return ado::adtype::kVarChar;
}

}  // namespace etapas::engine
