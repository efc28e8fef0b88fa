// migrate and sincronizar: the table of missed changes in a home database, and serving
// them (and comparing whole tables) without an operator, for cron or a systemd timer.
#include <array>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "admin/arguments.h"
#include "admin/commands.h"
#include "admin/database.h"
#include "common/mod_global.h"
#include "components/cls_util.h"
#include "components/platform.h"
#include "components/text.h"
#include "replication/mod_grupos_emp.h"
#include "replication/pendientes.h"
#include "replication/sincronizar.h"

namespace etapas::admin {
namespace {

// The home database cannot be opened or is not one.
constexpr int kSinCasa = 3;

// Nobody answers: every message goes to standard error, and a failure question is
// answered by leaving the routine, so the transfer gives up on that target and the
// command goes on with the next one.
class PlataformaDesatendida : public PlataformaProceso {
 public:
  explicit PlataformaDesatendida(std::ostream& err) : err_(err) {}
  int MsgBox(const std::string& prompt, int style, const std::string& title) override {
    err_ << "[" << title << "] " << prompt << std::endl;
    switch (style & 7) {
      case mb::kAbortRetryIgnore: return mb::kAnsAbort;
      case mb::kRetryCancel:
      case mb::kOkCancel:
      case mb::kYesNoCancel: return mb::kAnsCancel;
      case mb::kYesNo: return mb::kAnsNo;
      default: return mb::kAnsOk;
    }
  }

 private:
  std::ostream& err_;
};

class PlataformaInstalada {
 public:
  explicit PlataformaInstalada(Plataforma& p) { SetPlatform(&p); }
  ~PlataformaInstalada() { SetPlatform(nullptr); }
  PlataformaInstalada(const PlataformaInstalada&) = delete;
  PlataformaInstalada& operator=(const PlataformaInstalada&) = delete;
};

std::string Linea(const CuentaSincronizar& c, bool comparar) {
  std::string l = c.quien + ": " + std::to_string(c.servidos) + " served, " + std::to_string(c.pendientes) + " pending";
  if (comparar)
    l += ", " + std::to_string(c.corregidas) + " fixed, " + std::to_string(c.borradas) + " deleted, " +
         std::to_string(c.sobrantes) + " extra";
  if (!c.nota.empty()) l += " (" + c.nota + ")";
  return l + "\n";
}

}  // namespace

extern const std::string_view kMigrateHelp =
    R"(Usage: etapas-admin migrate --server S --database D [--user U] [--password P]

Brings home database D on server S up to this version's schema: creates the table of
changes the points of sale missed (V_TA_REPLICACION_PENDIENTE) when it is missing. Running
it again changes nothing.
)";

extern const std::string_view kSincronizarHelp =
    R"(Usage: etapas-admin sincronizar --server S --database D [--tabla T] [--punto CODE]
                                [--comparar [--borrar]] [--user U] [--password P]

Serves the changes the points of sale (and the group's database) of home database D on
server S missed, as the editor's replication sends them: each target gets the home row as
it is now. A served change is removed from V_TA_REPLICACION_PENDIENTE; one that fails again
keeps its row with the new reason. Only enabled points of sale (INTERNET = 0 AND BAJA = 0)
are served, and only with the tables their exclusions let through.
  --tabla T     only the changes of table T
  --punto CODE  only that point of sale ("@GRUPO": only the group's database)
  --comparar    also compares each point's copy of the table (V_TA_ETAPAS, or T) with the
                home table by its keys and sends every row that is missing or differs
  --borrar      with --comparar, deletes the point's rows the home table lacks (without it
                they are only counted as extra)
Messages go to standard error; nothing waits for an answer. One line per target on
standard output as each target is done ("0001 TPV_CENTRO: 3 served, 0 pending"), then a
total. Every store is connected at once first, so a store that does not answer costs one
connection time-out for the whole run. Exit status 0 when nothing is left pending, 1 when
something is, 2 for bad usage (a --punto no point of sale has included), 3 when the home
database cannot be opened.
)";

int RunMigrate(const Args& args, std::ostream& out, std::ostream& err) {
  Arguments a(args, {{"server", true}, {"database", true}, {"user", true}, {"password", true}});
  if (a.HelpAsked()) {
    out << kMigrateHelp;
    return 0;
  }
  const std::string server = a.Required("server"), database = a.Required("database");
  Login login;
  login.user = a.Value("user", login.user);
  login.password = a.Value("password");
  if (login.user.empty()) throw UsageError("--user cannot be empty");

  ClsDatos home;
  std::string why;
  if (!Open(home, server, database, login, why)) return Fail(err, "migrate", why);
  auto errors = Run(home, "SELECT TOP 0 CODIGO FROM V_TA_TPV");
  if (!errors.empty()) return Fail(err, "migrate", database + " is not a home database:\n" + Describe(errors));
  const bool existed = Run(home, std::string("SELECT TOP 0 ID FROM ") + kTablaPendientes).empty();
  const bool current = Run(home, std::string("SELECT TOP 0 TOMADO_HASTA FROM ") + kTablaPendientes).empty();
  if (!AsegurarTablaPendientes(home))
    return Fail(err, "migrate", std::string("cannot create ") + kTablaPendientes + " in " + database);
  out << (current   ? "Already up to date: "
          : existed ? "Updated table "
                    : "Created table ")
      << kTablaPendientes << " in " << database << " on server " << server << "\n";
  return 0;
}

int RunSincronizar(const Args& args, std::ostream& out, std::ostream& err) {
  Arguments a(args, {{"server", true},
                     {"database", true},
                     {"tabla", true},
                     {"punto", true},
                     {"comparar", false},
                     {"borrar", false},
                     {"user", true},
                     {"password", true}});
  if (a.HelpAsked()) {
    out << kSincronizarHelp;
    return 0;
  }
  const std::string server = a.Required("server"), database = a.Required("database");
  Login login;
  login.user = a.Value("user", login.user);
  login.password = a.Value("password");
  if (login.user.empty()) throw UsageError("--user cannot be empty");
  OpcionesSincronizar o;
  o.comparar = a.Has("comparar");
  o.borrar = a.Has("borrar");
  if (o.borrar && !o.comparar) throw UsageError("--borrar only goes with --comparar");
  if (a.Has("tabla")) {
    o.tabla = text::RemoveAllNoCase(a.Required("tabla"), "@ADMIN_");
    if (NombreSQL(o.tabla) != o.tabla || ClavesTabla(o.tabla)[0].empty())
      throw UsageError("--tabla must name a replicated table, not '" + o.tabla + "'");
  }
  if (a.Has("punto")) {
    o.punto = text::TrimCopy(a.Required("punto"));
    o.punto = text::EqualsNoCase(o.punto, kDestinoGrupo) ? std::string(kDestinoGrupo) : FormatoCodigo(o.punto, 4);
    if (o.punto.empty() || (o.punto != kDestinoGrupo && o.punto.size() > 4))
      throw UsageError("--punto is a point of sale's code (at most 4 characters) or " + std::string(kDestinoGrupo));
  }

  PlataformaDesatendida plataforma(err);
  PlataformaInstalada instalada(plataforma);
  ClsDatos& casa = *SesionSistema.Datos;
  std::string why;
  if (!Open(casa, server, database, login, why)) {
    Fail(err, "sincronizar", why);
    return kSinCasa;
  }
  CuentaSincronizar total;
  const FinSincronizar fin = Sincronizar(
      o,
      [&](const CuentaSincronizar& c) {
        if (!c.aviso.empty()) err << "etapas-admin sincronizar: " << c.quien << ": " << c.aviso << std::endl;
        out << Linea(c, o.comparar) << std::flush;
      },
      total, why);
  if (fin == FinSincronizar::PuntoDesconocido) throw UsageError("--punto " + o.punto + ": " + why);
  if (fin == FinSincronizar::SinCasa) {
    Fail(err, "sincronizar", why);
    return kSinCasa;
  }
  out << Linea(total, o.comparar) << std::flush;
  return total.pendientes > 0 ? 1 : 0;
}

}  // namespace etapas::admin
