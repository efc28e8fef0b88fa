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
#include "common/conexion_remota.h"
#include "common/mod_global.h"
#include "components/cls_util.h"
#include "components/platform.h"
#include "components/text.h"
#include "replication/familias.h"
#include "replication/mod_grupos_emp.h"
#include "replication/pendientes.h"

namespace etapas::admin {
namespace {

using replicacion::Familia;

constexpr const char* kTiposPuntoVenta = "111";

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

struct Punto {
  std::string codigo, descripcion, servidor, base;
  bool habilitado = false;
  std::map<Familia, bool> excluye;

  bool Recibe(const std::string& tabla) const {
    const Familia f = replicacion::FamiliaDe(tabla);
    if (f == Familia::Ninguna) return false;
    auto it = excluye.find(f);
    return it == excluye.end() || !it->second;
  }
};

std::vector<Punto> LeerPuntos(ClsDatos& casa) {
  std::vector<Punto> puntos;
  ado::RecordsetPtr rs;
  casa.AbrirRecordset("SELECT * FROM V_TA_TPV ORDER BY CODIGO", rs, nullptr, 0, 1, -1, true);
  for (; rs && !rs->EOF_(); rs->MoveNext()) {
    Punto p;
    p.codigo = ClsUtil::ValorCampo(rs->Fields("Codigo")).ToText();
    p.descripcion = ClsUtil::ValorCampo(rs->Fields("Descripcion")).ToText();
    p.servidor = ClsUtil::ValorCampo(rs->Fields("Server")).ToText();
    p.base = ClsUtil::ValorCampo(rs->Fields("Dbname")).ToText();
    // The walk serves only these.
    p.habilitado = ValNumero(ClsUtil::ValorCampo(rs->Fields("INTERNET")).ToText()) == 0 &&
                   ValNumero(ClsUtil::ValorCampo(rs->Fields("BAJA")).ToText()) == 0;
    for (Familia f : {Familia::Articulos, Familia::Precios, Familia::Cuentas, Familia::Tablas})
      p.excluye[f] = replicacion::Excluido(*rs, f);
    puntos.push_back(std::move(p));
  }
  if (rs && rs->IsOpen()) rs->Close();
  return puntos;
}

struct Cuenta {
  int servidos = 0, pendientes = 0, corregidas = 0, borradas = 0, sobrantes = 0;
  void Sumar(const Cuenta& c) {
    servidos += c.servidos;
    pendientes += c.pendientes;
    corregidas += c.corregidas;
    borradas += c.borradas;
    sobrantes += c.sobrantes;
  }
};

std::string Linea(const std::string& quien, const Cuenta& c, bool comparar, const std::string& nota) {
  std::string l = quien + ": " + std::to_string(c.servidos) + " served, " + std::to_string(c.pendientes) + " pending";
  if (comparar)
    l += ", " + std::to_string(c.corregidas) + " fixed, " + std::to_string(c.borradas) + " deleted, " +
         std::to_string(c.sobrantes) + " extra";
  if (!nota.empty()) l += " (" + nota + ")";
  return l + "\n";
}

// The changes one target owes, served in order; a stop leaves the rest as they are.
void Servir(const std::vector<CambioPendiente>& cambios, const std::string& tipos, const std::string& servidor,
            const std::string& base, Cuenta& cuenta, std::string& nota) {
  for (size_t i = 0; i < cambios.size(); ++i) {
    const ResultadoEntrega e = ServirPendiente(cambios[i], tipos, servidor, base);
    if (e.entrega == Entrega::Servida) {
      ++cuenta.servidos;
      continue;
    }
    ++cuenta.pendientes;
    if (nota.empty()) nota = "failed";
    if (e.entrega == Entrega::Detenida) {
      cuenta.pendientes += static_cast<int>(cambios.size() - i - 1);
      nota = "stopped";
      return;
    }
  }
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
standard output ("0001 TPV_CENTRO: 3 served, 0 pending"), then a total. Exit status 0
when nothing is left pending, 1 when something is.
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
  if (!AsegurarTablaPendientes(home))
    return Fail(err, "migrate", std::string("cannot create ") + kTablaPendientes + " in " + database);
  out << (existed ? "Already up to date: " : "Created table ") << kTablaPendientes << " in " << database
      << " on server " << server << "\n";
  return 0;
}

// The command walks every store in turn, one case per outcome.
// NOLINTNEXTLINE(readability-function-cognitive-complexity)
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
  const bool comparar = a.Has("comparar"), borrar = a.Has("borrar");
  if (borrar && !comparar) throw UsageError("--borrar only goes with --comparar");
  std::string tabla;
  if (a.Has("tabla")) {
    tabla = text::RemoveAllNoCase(a.Required("tabla"), "@ADMIN_");
    if (NombreSQL(tabla) != tabla || ClavesTabla(tabla)[0].empty())
      throw UsageError("--tabla must name a replicated table, not '" + tabla + "'");
  }
  std::string punto;
  if (a.Has("punto")) {
    punto = text::TrimCopy(a.Required("punto"));
    if (!text::EqualsNoCase(punto, kDestinoGrupo))
      punto = FormatoCodigo(punto, 4);
    else
      punto = kDestinoGrupo;
    if (punto.empty() || (punto != kDestinoGrupo && punto.size() > 4))
      throw UsageError("--punto is a point of sale's code (at most 4 characters) or " + std::string(kDestinoGrupo));
  }
  const std::string tablaComparada = tabla.empty() ? "V_TA_ETAPAS" : tabla;

  PlataformaDesatendida plataforma(err);
  PlataformaInstalada instalada(plataforma);
  ClsDatos& casa = *SesionSistema.Datos;
  std::string why;
  if (!Open(casa, server, database, login, why)) return Fail(err, "sincronizar", why);
  if (!Run(casa, "SELECT TOP 0 CODIGO FROM V_TA_TPV").empty())
    return Fail(err, "sincronizar", database + " is not a home database (no V_TA_TPV)");
  if (!AsegurarTablaPendientes(casa))
    return Fail(err, "sincronizar", std::string("cannot create ") + kTablaPendientes + " in " + database);

  std::map<std::string, std::vector<CambioPendiente>> porDestino;
  for (auto& c : ListarPendientes(casa, tabla, punto)) porDestino[text::Upper(c.Destino)].push_back(std::move(c));
  auto tomar = [&](const std::string& destino) {
    std::vector<CambioPendiente> cambios;
    auto it = porDestino.find(text::Upper(destino));
    if (it == porDestino.end()) return cambios;
    cambios = std::move(it->second);
    porDestino.erase(it);
    return cambios;
  };

  Cuenta total;
  std::vector<Punto> puntos;
  try {
    puntos = LeerPuntos(casa);
  } catch (const RaisedError& e) {
    return Fail(err, "sincronizar", "cannot read the points of sale: " + e.Description());
  }
  for (const Punto& p : puntos) {
    if (!punto.empty() && !text::EqualsNoCase(text::TrimCopy(p.codigo), punto)) continue;
    const std::string quien = text::TrimCopy(p.codigo) + " " + text::TrimCopy(p.base);
    std::vector<CambioPendiente> cambios = tomar(text::TrimCopy(p.codigo));
    Cuenta cuenta;
    std::string nota;
    if (!p.habilitado) {
      // Kept for when it is enabled again; the walk does not serve it meanwhile.
      if (cambios.empty()) continue;
      cuenta.pendientes = static_cast<int>(cambios.size());
      out << Linea(quien, cuenta, comparar, "not enabled");
      total.Sumar(cuenta);
      continue;
    }
    std::vector<CambioPendiente> servibles;
    for (auto& c : cambios) {
      if (p.Recibe(c.Tabla))
        servibles.push_back(std::move(c));
      else
        ++cuenta.pendientes;  // excluded from the table's family: held, never sent
    }
    if (cuenta.pendientes > 0) nota = "excluded from a table's family";
    const bool compararEste = comparar && p.Recibe(tablaComparada);
    if (!servibles.empty() || compararEste) {
      // A point of sale's login name and password are its database name.
      const bool conectado = ConexionBaseRemota(p.servidor, p.base, p.base, p.base, p.codigo, "");
      if (conectado) {
        SesionSistema.DatosRemotos->Desconectar();
        const std::string servidor = ExtraeServidor(text::TrimCopy(p.servidor));
        Servir(servibles, kTiposPuntoVenta, servidor, p.base, cuenta, nota);
        if (compararEste && nota != "stopped") {
          const ResultadoComparacion r =
              CompararDestino(tablaComparada, text::TrimCopy(p.codigo), kTiposPuntoVenta, servidor, p.base, borrar);
          cuenta.corregidas += r.corregidas;
          cuenta.borradas += r.borradas;
          cuenta.sobrantes += r.sobrantes;
          cuenta.pendientes += r.fallidas;
          if (!r.motivo.empty()) {
            err << "etapas-admin sincronizar: " << quien << ": " << r.motivo << "\n";
            if (nota.empty()) nota = "failed";
            if (r.fallidas == 0 && r.detenido) ++cuenta.pendientes;  // nothing compared: not in step
          }
        }
      } else {
        const std::string motivo = "No se pudo conectar al Punto de ventas " + p.descripcion;
        Platform().MsgBox(motivo, mb::kInformation | mb::kOk, "Aviso al operador");
        for (const auto& c : servibles) ActualizarMotivo(casa, c.Id, motivo);
        cuenta.pendientes += static_cast<int>(servibles.size()) + (compararEste ? 1 : 0);
        nota = "unreachable";
      }
    }
    out << Linea(quien, cuenta, comparar, nota);
    total.Sumar(cuenta);
  }

  // The group's database, as the walk reaches it: through the group's settings.
  if (std::vector<CambioPendiente> cambios = tomar(kDestinoGrupo); !cambios.empty()) {
    std::string aux;
    const std::string tipos = Cfg("GRP_Tipos", aux);
    const std::string servidor = Cfg("GRP_Server", aux);
    const std::string base = Cfg("GRP_Base", aux);
    Cuenta cuenta;
    std::string nota;
    std::vector<CambioPendiente> servibles;
    for (auto& c : cambios) {
      if (GrupoHabilitado(c.Tabla))
        servibles.push_back(std::move(c));
      else
        ++cuenta.pendientes;
    }
    if (cuenta.pendientes > 0) nota = "the group does not take the table";
    Servir(servibles, tipos, servidor, base, cuenta, nota);
    out << Linea(std::string(kDestinoGrupo) + " " + text::TrimCopy(base), cuenta, comparar, nota);
    total.Sumar(cuenta);
  }

  // Targets V_TA_TPV no longer names: kept, so nothing owed is lost unseen.
  for (const auto& [destino, cambios] : porDestino) {
    Cuenta cuenta;
    cuenta.pendientes = static_cast<int>(cambios.size());
    out << Linea(text::TrimCopy(cambios.front().Destino), cuenta, comparar, "not registered");
    total.Sumar(cuenta);
  }

  out << Linea("total", total, comparar, "");
  out.flush();
  return total.pendientes > 0 ? 1 : 0;
}

}  // namespace etapas::admin
