// The demonstration data: a car-repair workshop with its status flow, ready to open in
// the editor.
#include <string>
#include <vector>

#include "admin/arguments.h"
#include "admin/commands.h"
#include "admin/database.h"
#include "components/cls_datos.h"
#include "engine/session.h"

namespace etapas::admin {
namespace {

struct Place {
  const char* server;
  const char* database;
  const char* kind;
};

// What the demonstration creates; TPV_NORTE is named by point 0002 but left uncreated.
const Place kEmpresa{"DEMO", "EMPRESA1", "home"};
const Place kStats{"DEMO", "CV_TORNASOLADAS", "stats"};
const Place kCentro{"SUCURSAL1", "TPV_CENTRO", "pos"};
const Place kNorte{"SUCURSAL2", "TPV_NORTE", "pos"};

constexpr const char* kEditorCommand =
    "etapas \"@Server=DEMO; @DbName=EMPRESA1; @Usuario=OPERADOR; @Password=OPERADOR; "
    "@UsuarioLogeado=OPERADOR; @Caja=1;\"";

struct Status {
  const char* code;
  const char* description;
  const char* color;  // 0x00BBGGRR in decimal; empty: no colour
  const char* tipo;
  const char* previous;  // stored form: a blank, then each code followed by "|"
};

const Status kStatuses[] = {
    {"0001", "PRESUPUESTO", "16777215", "P", " "},
    {"0002", "APROBADO", "65280", "P", " 0001|"},
    {"0003", "EN ESPERA DE REPUESTOS", "65535", "E", " 0002|0004|"},
    {"0004", "EN REPARACIÓN", "33023", "E", " 0002|0003|0011|"},
    {"0005", "REPARADO", "32768", "E", " 0004|"},
    {"0006", "CONTROL DE CALIDAD", "16776960", "E", " 0005|"},
    {"0007", "LISTO PARA ENTREGAR", "16711680", "T", " 0006|"},
    {"0008", "ENTREGADO", "", "T", " 0007|"},
    {"0009", "FACTURADO", "16711935", "F", " 0008|"},
    {"0010", "ANULADO", "255", "A", " 0001|0002|0003|"},
    {"0011", "GARANTÍA", "", "E", " 0008|0009|"},
    {"0012", "DEVUELTO SIN REPARAR", "12632256", "T", " 0001|0003|"},
};

struct Setting {
  const char* grupo;
  const char* clave;
  const char* valor;
};

const Setting kSettings[] = {
    {"PlanDeCuentas", "Digitos_Capitulo", "1"}, {"PlanDeCuentas", "Digitos_SubCapitulo", "2"},
    {"PlanDeCuentas", "Digitos_Rubro", "2"},    {"PlanDeCuentas", "Digitos_SubRubro", "2"},
    {"PlanDeCuentas", "Digitos_Cuenta", "3"},   {"PlanDeCuentas", "Digitos_SubCuenta", "4"},
    {"General", "GRP_Deshabilitado", "1"},
};

std::string Q(const ClsDatos& db, const std::string& text) { return db.ValorSQL(Variant(text), "'"); }

// The company database's rows, one statement a line.
std::string EmpresaBatch(const ClsDatos& db) {
  std::string sql;
  for (const auto& s : kStatuses) {
    sql +=
        "INSERT INTO V_TA_ETAPAS (CODIGOESTADO, Descripcion, Color, Tipo, PosiblesEstadoPrevio) "
        "VALUES (" +
        Q(db, s.code) + ", " + Q(db, s.description) + ", " + Q(db, s.color) + ", " + Q(db, s.tipo) + ", " +
        Q(db, s.previous) + ");\n";
  }
  for (const auto& s : kSettings) {
    sql += "INSERT INTO TA_CONFIGURACION (Grupo, Clave, Valor) VALUES (" + Q(db, s.grupo) + ", " + Q(db, s.clave) +
           ", " + Q(db, s.valor) + ");\n";
  }
  sql += "INSERT INTO ta_usuarios (Nombre, UNegocio, verproforma) VALUES (" + Q(db, "OPERADOR") + ", " + Q(db, "   1") +
         ", 0);\n";
  sql += "INSERT INTO TA_MENU (Menu, Clave, Proceso, Nombre) VALUES (" + Q(db, "") + ", " + Q(db, "ETAPAS") + ", " +
         Q(db, "etapas") + ", " + Q(db, "Tabla de Status") + ");\n";
  sql += "INSERT INTO TA_TAREAS (USUARIO, SISTEMA, TAREA) VALUES (" + Q(db, "OPERADOR") + ", " + Q(db, "") + ", " +
         Q(db, "ETAPAS") + ");\n";
  auto point = [&](const char* code, const char* description, const Place& p) {
    sql += "INSERT INTO V_TA_TPV (CODIGO, Descripcion, Server, Dbname, INTERNET, BAJA) VALUES (" + Q(db, code) + ", " +
           Q(db, description) + ", " + Q(db, p.server) + ", " + Q(db, p.database) + ", 0, 0);\n";
  };
  point("0001", "Sucursal Centro", kCentro);
  point("0002", "Sucursal Norte", kNorte);
  return sql;
}

bool Fill(const Place& place, std::string (*batch)(const ClsDatos&), const Login& login, std::string& why) {
  ClsDatos db;
  if (!Open(db, place.server, place.database, login, why)) return false;
  auto errors = Run(db, batch(db));
  if (errors.empty()) return true;
  why = "cannot fill " + std::string(place.database) + ":\n" + Describe(errors);
  return false;
}

std::string StatsBatch(const ClsDatos& db) {
  return "INSERT INTO TA_CONFIGURACION (Grupo, Clave, Valor) VALUES (" + Q(db, "BaseDeDatos") + ", " +
         Q(db, "TimeOut") + ", " + Q(db, "360") + ");\n";
}

void PrintEditorCommand(std::ostream& out, const std::string& root) {
  out << "Start the editor with:\n";
  if (root != InheritedDataRoot()) out << "(with ETAPAS_DATA=" << root << " in its environment)\n";
  out << kEditorCommand << "\n";
}

}  // namespace

int RunDemo(const Args& args, std::ostream& out, std::ostream& err) {
  Arguments a(args, {{"force", false}});
  if (a.HelpAsked()) {
    for (const auto& c : Commands())
      if (c.name == "demo") out << c.help;
    return 0;
  }
  const bool force = a.Has("force");
  const Login login;
  const std::string root = engine::DefaultDataRoot();
  const std::vector<Place> built = {kEmpresa, kStats, kCentro};

  std::vector<Place> present;
  for (const auto& p : built)
    if (DatabaseExists(p.server, p.database, login)) present.push_back(p);
  if (!force) {
    if (present.size() == built.size()) {
      out << "The demonstration already exists in " << root
          << " (use 'etapas-admin demo --force' to build it again).\n";
      PrintEditorCommand(out, root);
      return 0;
    }
    if (!present.empty()) {
      std::string names;
      for (const auto& p : present) names += std::string(names.empty() ? "" : ", ") + p.server + "/" + p.database;
      return Fail(err, "demo",
                  "an incomplete demonstration is in " + root + " (" + names + "); use --force to build it again");
    }
  } else {
    // The unreachable point must stay unreachable, so a database made for it goes too.
    if (DatabaseExists(kNorte.server, kNorte.database, login)) present.push_back(kNorte);
    for (const auto& p : present) {
      std::string why;
      if (!DropDatabase(p.server, p.database, login, why)) return Fail(err, "demo", why);
    }
  }

  std::vector<Place> created;
  std::string why;
  bool ok = true;
  for (const auto& p : built) {
    if (CreateDatabase(p.server, p.database, SchemaOf(p.kind), login, why) != Created::Yes) {
      ok = false;
      break;
    }
    created.push_back(p);
  }
  ok = ok && Fill(kEmpresa, EmpresaBatch, login, why) && Fill(kStats, StatsBatch, login, why);
  if (!ok) {
    // Half a demonstration would pass for a whole one on the next run.
    for (const auto& p : created) {
      std::string ignored;
      DropDatabase(p.server, p.database, login, ignored);
    }
    return Fail(err, "demo", why);
  }

  out << "Demonstration built in " << root << ":\n"
      << "  server DEMO: EMPRESA1 (company, 12 statuses, user OPERADOR), CV_TORNASOLADAS "
         "(statistics)\n"
      << "  point of sale 0001 Sucursal Centro: SUCURSAL1/TPV_CENTRO\n"
      << "  point of sale 0002 Sucursal Norte: SUCURSAL2/TPV_NORTE (not created: unreachable)\n";
  PrintEditorCommand(out, root);
  return 0;
}

}  // namespace etapas::admin
