#include "admin/commands.h"

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <iterator>

#include "admin/arguments.h"
#include "admin/database.h"
#include "admin/json.h"
#include "components/cls_datos.h"
#include "engine/session.h"
#include "etapas_version.h"
#include "components/error.h"

namespace etapas::admin {

int Fail(std::ostream& err, std::string_view command, std::string why) {
  while (!why.empty() && why.back() == '\n') why.pop_back();
  err << "etapas-admin " << command << ": " << why << "\n";
  return 1;
}

namespace {

constexpr std::string_view kInitHelp = R"(Usage: etapas-admin init --server S --database D --kind home|stats|pos
                         [--user U] [--password P]

Creates database D on server S and lays the schema of its kind:
  home   a company's database: statuses, settings, users, menu, points of sale
  stats  the statistics database (CV_TORNASOLADAS)
  pos    a point of sale's database: the replicated tables
Refuses (exit 1) when the database already exists.
)";

constexpr std::string_view kAddPosHelp =
    R"(Usage: etapas-admin add-pos --server S --database D --code C --description TEXT
                            --pos-server S2 --pos-database D2 [--no-create]
                            [--user U] [--password P]

Registers a point of sale in V_TA_TPV of home database D on server S and creates its
database D2 (kind pos) on server S2. An all-digit code is stored with four digits
("1" -> "0001"). --no-create only registers the point, leaving its database as it is.
A code already registered is refused (exit 1).
)";

constexpr std::string_view kDemoHelp = R"(Usage: etapas-admin demo [--force]

Builds a demonstration in the data root: server DEMO with the company database EMPRESA1
(twelve workshop statuses, settings, user OPERADOR allowed to use the editor) and the
statistics database CV_TORNASOLADAS; point of sale 0001 on server SUCURSAL1 (database
TPV_CENTRO) and point 0002 on SUCURSAL2 (TPV_NORTE, deliberately not created, so it is
unreachable). When the demonstration exists it is left alone unless --force is given,
which drops it and builds it again. Prints the command line that opens the editor on it.
)";

constexpr std::string_view kSqlHelp = R"(Usage: etapas-admin sql --server S --database D [--user U] [--password P] TEXT

Runs T-SQL TEXT on database D of server S exactly as the system runs it (TEXT "-" reads
it from standard input; put "--" before a TEXT starting with "-"). The rows of every
result of the batch are printed in order as JSON objects, one per line, and an empty line
separates one result from the next (an empty result still takes its place). Provider
errors are printed on stderr as "error NATIVE: description" and the exit status is 1.
)";

// Options every connecting subcommand accepts.
Login LoginFrom(const Arguments& a) {
  Login login;
  login.user = a.Value("user", login.user);
  login.password = a.Value("password");
  if (login.user.empty()) throw UsageError("--user cannot be empty");
  return login;
}

}  // namespace

int RunInit(const Args& args, std::ostream& out, std::ostream& err) {
  Arguments a(args, {{"server", true}, {"database", true}, {"kind", true}, {"user", true}, {"password", true}});
  if (a.HelpAsked()) {
    out << kInitHelp;
    return 0;
  }
  std::string server = a.Required("server"), database = a.Required("database");
  std::string kind = a.Required("kind");
  std::string schemaText = SchemaOf(kind);
  if (kind != "home" && kind != "stats" && kind != "pos")
    throw UsageError("--kind must be home, stats or pos, not '" + kind + "'");
  Login login = LoginFrom(a);

  std::string why;
  switch (CreateDatabase(server, database, schemaText, login, why)) {
    case Created::Yes:
      out << "Created database " << database << " (" << kind << ") on server " << server << "\n";
      return 0;
    case Created::AlreadyExists:
    case Created::Failed: break;
  }
  return Fail(err, "init", why);
}

int RunAddPos(const Args& args, std::ostream& out, std::ostream& err) {
  Arguments a(args, {{"server", true},
                     {"database", true},
                     {"code", true},
                     {"description", true},
                     {"pos-server", true},
                     {"pos-database", true},
                     {"no-create", false},
                     {"user", true},
                     {"password", true}});
  if (a.HelpAsked()) {
    out << kAddPosHelp;
    return 0;
  }
  std::string server = a.Required("server"), database = a.Required("database");
  std::string code = FormatoCodigo(a.Required("code"), 4);
  std::string description = a.Required("description");
  std::string posServer = a.Required("pos-server"), posDatabase = a.Required("pos-database");
  bool create = !a.Has("no-create");
  Login login = LoginFrom(a);
  if (code.empty()) throw UsageError("--code cannot be blank");
  if (code.size() > 4) throw UsageError("--code has at most 4 characters, not '" + code + "'");

  ClsDatos home;
  std::string why;
  if (!Open(home, server, database, login, why)) return Fail(err, "add-pos", why);
  const std::string literal = home.ValorSQL(Variant(code), "'");

  ado::RecordsetPtr rs;
  auto errors = Run(home, "SELECT CODIGO, Descripcion FROM V_TA_TPV WHERE CODIGO = " + literal, &rs);
  if (!errors.empty())
    return Fail(err, "add-pos",
                "cannot read the points of sale of " + database + " (is it a home database?):\n" + Describe(errors));
  if (rs && rs->IsOpen() && !rs->EOF_()) {
    return Fail(
        err, "add-pos",
        "point of sale code " + code + " already exists in " + database + " (" + rs->Fields(1).Value().ToText() + ")");
  }

  if (create) {
    switch (CreateDatabase(posServer, posDatabase, SchemaOf("pos"), login, why)) {
      case Created::Yes: break;
      case Created::AlreadyExists: return Fail(err, "add-pos", why + "; use --no-create to register it as it is");
      case Created::Failed: return Fail(err, "add-pos", why);
    }
  }

  errors =
      Run(home,
          "INSERT INTO V_TA_TPV (CODIGO, Descripcion, Server, Dbname, INTERNET, BAJA) "
          "VALUES (" +
              literal + ", " + home.ValorSQL(Variant(description), "'") + ", " +
              home.ValorSQL(Variant(posServer), "'") + ", " + home.ValorSQL(Variant(posDatabase), "'") + ", 0, 0)");
  if (!errors.empty()) {
    // The point is not registered, so its new database would be an orphan.
    if (create) {
      std::string ignored;
      DropDatabase(posServer, posDatabase, login, ignored);
    }
    for (const auto& e : errors)
      if (e.NativeError == engine::native::kDuplicateKey)
        return Fail(err, "add-pos", "point of sale code " + code + " already exists in " + database);
    return Fail(err, "add-pos", "cannot register the point of sale:\n" + Describe(errors));
  }
  out << "Registered point of sale " << code << " (" << description << ") in " << database << " on server " << server
      << ": database " << posDatabase << " on server " << posServer << (create ? " created" : " not created") << "\n";
  return 0;
}

int RunSql(const Args& args, std::ostream& out, std::ostream& err) {
  Arguments a(args, {{"server", true}, {"database", true}, {"user", true}, {"password", true}}, 1);
  if (a.HelpAsked()) {
    out << kSqlHelp;
    return 0;
  }
  std::string server = a.Required("server"), database = a.Required("database");
  Login login = LoginFrom(a);
  if (a.Positionals().empty()) throw UsageError("missing the SQL text");
  std::string text = a.Positionals()[0];
  if (text == "-") text.assign(std::istreambuf_iterator<char>(std::cin), {});
  if (text.find_first_not_of(" \t\r\n") == std::string::npos) throw UsageError("the SQL text is empty");

  ClsDatos db;
  std::string why;
  if (!Open(db, server, database, login, why)) return Fail(err, "sql", why);
  ado::RecordsetPtr rs;
  // A query's rows are printed as they are read, so memory stays flat however many there are.
  auto errors = Stream(db, text, rs);
  bool first = true;
  for (; rs && rs->IsOpen() && rs->FieldCount() > 0; rs = rs->NextRecordset()) {
    if (!first) out << '\n';
    first = false;
    try {
      std::string line;
      for (; !rs->EOF_(); rs->MoveNext()) {
        line = JsonRow(*rs);
        line += '\n';
        out.write(line.data(), static_cast<std::streamsize>(line.size()));
      }
    } catch (const RaisedError& e) {
      // A row that cannot be read ends the listing; what came before it stays printed.
      auto more = ErrorsOf(db, e);
      errors.insert(errors.end(), more.begin(), more.end());
      break;
    }
  }
  out.flush();
  err << Describe(errors);
  return errors.empty() ? 0 : 1;
}

const std::vector<Command>& Commands() {
  static const std::vector<Command> commands = {
      {"init", "create a database with its schema", kInitHelp, RunInit},
      {"add-pos", "register a point of sale and create its database", kAddPosHelp, RunAddPos},
      {"demo", "build the demonstration data", kDemoHelp, RunDemo},
      {"sql", "run T-SQL and print the rows as JSON lines", kSqlHelp, RunSql},
      {"migrate", "bring a home database up to this version's schema", kMigrateHelp, RunMigrate},
      {"sincronizar", "serve the changes the points of sale missed", kSincronizarHelp, RunSincronizar},
  };
  return commands;
}

namespace {

std::string& InheritedRootStore() {
  static std::string root;
  return root;
}

void PrintUsage(std::ostream& os) {
  os << "Usage: etapas-admin [--data-root DIR] COMMAND [OPTIONS]\n\n"
        "Administration of the databases of the Etapas editor.\n\nCommands:\n";
  for (const auto& c : Commands()) {
    std::string name(c.name);
    name.resize(13, ' ');
    os << "  " << name << c.summary << "\n";
  }
  os << "\nOptions:\n"
        "  --data-root DIR  the data root holding the embedded servers (default: $ETAPAS_DATA,\n"
        "                   else $XDG_DATA_HOME/etapas, else ~/.local/share/etapas)\n"
        "  -h, --help       this text; 'etapas-admin COMMAND --help' for one command's\n"
        "  --version        the version\n"
        "\nservers.conf is read from $XDG_CONFIG_HOME/etapas (else ~/.config/etapas), then from\n"
        "the data root.\n";
}

const Command* Find(std::string_view name) {
  for (const auto& c : Commands())
    if (c.name == name) return &c;
  return nullptr;
}

}  // namespace

const std::string& InheritedDataRoot() { return InheritedRootStore(); }

int Main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  InheritedRootStore() = engine::DefaultDataRoot();
  // Long listings go out in large writes.
  std::ios::sync_with_stdio(false);
  std::ostream& out = std::cout;
  std::ostream& err = std::cerr;
  size_t i = 0;
  for (; i < args.size() && args[i].size() > 1 && args[i][0] == '-'; ++i) {
    const std::string& arg = args[i];
    if (arg == "-h" || arg == "--help") {
      PrintUsage(out);
      return 0;
    }
    if (arg == "--version") {
      out << "etapas-admin " << ETAPAS_VERSION << "\n";
      return 0;
    }
    std::string root;
    if (arg == "--data-root") {
      if (i + 1 >= args.size()) {
        err << "etapas-admin: option --data-root needs a value\n";
        return 2;
      }
      root = args[++i];
    } else if (arg.rfind("--data-root=", 0) == 0) {
      root = arg.substr(12);
    } else {
      err << "etapas-admin: unknown option " << arg << "\nTry 'etapas-admin --help'.\n";
      return 2;
    }
    if (root.empty()) {
      err << "etapas-admin: --data-root cannot be empty\n";
      return 2;
    }
    // Every session opened from here on (and any program started by it) reads it.
    std::error_code ec;
    auto absolute = std::filesystem::absolute(root, ec);
    setenv("ETAPAS_DATA", ec ? root.c_str() : absolute.c_str(), 1);
  }
  if (i >= args.size()) {
    PrintUsage(err);
    return 2;
  }
  std::string name = args[i];
  Args rest(args.begin() + static_cast<long>(i) + 1, args.end());
  if (name == "help") {
    if (rest.empty()) {
      PrintUsage(out);
      return 0;
    }
    if (const Command* c = Find(rest[0])) {
      out << c->help;
      return 0;
    }
    err << "etapas-admin: unknown command '" << rest[0] << "'\n";
    return 2;
  }
  const Command* command = Find(name);
  if (!command) {
    err << "etapas-admin: unknown command '" << name << "'\nTry 'etapas-admin --help'.\n";
    return 2;
  }
  try {
    return command->run(rest, out, err);
  } catch (const UsageError& e) {
    err << "etapas-admin " << name << ": " << e.what() << "\nTry 'etapas-admin " << name << " --help'.\n";
    return 2;
  } catch (const RaisedError& e) {
    return Fail(err, name, "error " + std::to_string(e.Number()) + ": " + e.Description());
  } catch (const std::exception& e) { return Fail(err, name, e.what()); }
}

}  // namespace etapas::admin
