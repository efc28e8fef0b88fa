// etapas-admin as an operator runs it: a real process on a private data root.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "components/cls_datos.h"
#include "db_fixture.h"
#include "test_support.h"

namespace {

using etapas::ClsDatos;
using etapas::Variant;
using etapas::test::Lines;
using etapas::test::ProcessResult;
using etapas::test::RunOptions;
namespace fs = std::filesystem;

using Row = std::map<std::string, Variant>;

const std::string kEditorLine =
    "etapas \"@Server=DEMO; @DbName=EMPRESA1; @Usuario=OPERADOR; @Password=OPERADOR; "
    "@UsuarioLogeado=OPERADOR; @Caja=1;\"";

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The stored form of a list of previous statuses: a blank, then each code and "|".
bool IsPreviousList(const std::string& s) {
  if (s.empty() || s[0] != ' ' || (s.size() - 1) % 5 != 0) return false;
  for (size_t at = 1; at < s.size(); at += 5) {
    for (size_t k = 0; k < 4; ++k)
      if (s[at + k] < '0' || s[at + k] > '9') return false;
    if (s[at + 4] != '|') return false;
  }
  return true;
}

class AdminTest : public ::testing::Test {
 protected:
  ProcessResult Admin(std::vector<std::string> args, const RunOptions& options = {}) {
    args.insert(args.begin(), ETAPAS_ADMIN_PATH);
    return etapas::test::RunProcess(args, {{"ETAPAS_DATA", root.Path()}}, options);
  }

  // Rows of a query run through etapas-admin sql, one JSON line each.
  std::vector<std::string> Sql(const std::string& server, const std::string& database, const std::string& text) {
    auto r = Admin({"sql", "--server", server, "--database", database, text});
    EXPECT_EQ(r.exitCode, 0) << text << "\n" << r.stderrText;
    EXPECT_EQ(r.stderrText, "");
    return Lines(r.stdoutText);
  }

  // The same query read in-process, the way the editor reads it.
  std::vector<Row> Query(const std::string& server, const std::string& database, const std::string& sql) {
    ClsDatos db;
    db.Servidor(server);
    db.BaseDatos(database);
    db.Usuario("sa");
    std::string cadena;
    db.Conectar(false, 3, cadena, true, false);
    EXPECT_TRUE(db.Conectado()) << db.MotivoFallo();
    std::vector<Row> rows;
    if (!db.Conectado()) return rows;
    etapas::ado::RecordsetPtr rs;
    db.AbrirRecordset(sql, rs);
    for (; !rs->EOF_(); rs->MoveNext()) {
      Row row;
      for (long i = 0; i < rs->FieldCount(); ++i) row[rs->Fields(i).Name()] = rs->Fields(i).Value();
      rows.push_back(row);
    }
    return rows;
  }

  bool Reachable(const std::string& server, const std::string& database) {
    ClsDatos db;
    db.Servidor(server);
    db.BaseDatos(database);
    db.Usuario("sa");
    std::string cadena;
    db.Conectar(false, 3, cadena, true, false);
    return db.Conectado();
  }

  etapas::test::TempDataRoot root;
};

TEST_F(AdminTest, InitCreatesEachKindOfDatabaseAndRefusesAnExistingOne) {
  auto r = Admin({"init", "--server", "Taller", "--database", "Empresa", "--kind", "home"});
  ASSERT_EQ(r.exitCode, 0) << r.stderrText;
  EXPECT_TRUE(etapas::test::DatabaseExists("taller", "empresa"));
  EXPECT_TRUE(Sql("TALLER", "EMPRESA", "SELECT * FROM V_TA_ETAPAS").empty());
  EXPECT_TRUE(Sql("TALLER", "EMPRESA", "SELECT * FROM V_TA_TPV").empty());
  EXPECT_TRUE(Sql("TALLER", "EMPRESA", "SELECT * FROM TA_MENU").empty());

  // A second init must not touch what is there.
  Sql("TALLER", "EMPRESA", "INSERT INTO V_TA_ETAPAS (CODIGOESTADO, Descripcion) VALUES ('0001', 'X')");
  r = Admin({"init", "--server", "TALLER", "--database", "EMPRESA", "--kind", "home"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Contains(r.stderrText, "already exists")) << r.stderrText;
  EXPECT_EQ(Sql("TALLER", "EMPRESA", "SELECT CODIGOESTADO FROM V_TA_ETAPAS").size(), 1u);

  ASSERT_EQ(Admin({"init", "--server", "TALLER", "--database", "STATS", "--kind=stats"}).exitCode, 0);
  EXPECT_TRUE(Sql("TALLER", "STATS", "SELECT * FROM TA_CONFIGURACION").empty());
  r = Admin({"sql", "--server", "TALLER", "--database", "STATS", "SELECT * FROM V_TA_ETAPAS"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Contains(r.stderrText, "error 208:")) << r.stderrText;

  ASSERT_EQ(Admin({"init", "--server", "CAJA", "--database", "TPV", "--kind", "pos"}).exitCode, 0);
  EXPECT_TRUE(Sql("CAJA", "TPV", "SELECT * FROM V_TA_ETAPAS").empty());
  EXPECT_TRUE(Sql("CAJA", "TPV", "SELECT * FROM TA_CONFIGURACION").empty());
  EXPECT_EQ(Admin({"sql", "--server", "CAJA", "--database", "TPV", "SELECT * FROM V_TA_TPV"}).exitCode, 1);

  // --data-root wins over the environment.
  std::string other = etapas::test::MakeTempFolder("etapas-other");
  r = Admin({"--data-root", other, "init", "--server", "X", "--database", "Y", "--kind", "pos"});
  EXPECT_EQ(r.exitCode, 0) << r.stderrText;
  EXPECT_TRUE(fs::exists(other + "/servers/x/y.db"));
  EXPECT_FALSE(fs::exists(root.ServerFolder("x")));
  fs::remove_all(other);
}

TEST_F(AdminTest, AddPosRegistersThePointAndCreatesItsDatabase) {
  ASSERT_EQ(Admin({"init", "--server", "CASA", "--database", "EMP", "--kind", "home"}).exitCode, 0);
  const std::string list = "SELECT CODIGO, Descripcion, Server, Dbname, INTERNET, BAJA FROM V_TA_TPV ORDER BY CODIGO";

  auto r = Admin({"add-pos", "--server", "CASA", "--database", "EMP", "--code", "1", "--description",
                  "Sucursal O'Higgins", "--pos-server", "SUC1", "--pos-database", "TPV1"});
  ASSERT_EQ(r.exitCode, 0) << r.stderrText;
  EXPECT_EQ(
      Sql("CASA", "EMP", list),
      (std::vector<std::string>{
          R"({"CODIGO": "0001", "Descripcion": "Sucursal O'Higgins", "Server": "SUC1", "Dbname": "TPV1", "INTERNET": 0, "BAJA": 0})"}));
  EXPECT_TRUE(Sql("SUC1", "TPV1", "SELECT * FROM V_TA_ETAPAS").empty());

  // The same code again: refused, and no database is made for it.
  r = Admin({"add-pos", "--server", "CASA", "--database", "EMP", "--code", "0001", "--description", "Otra",
             "--pos-server", "SUC1", "--pos-database", "TPV9"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Contains(r.stderrText, "0001 already exists")) << r.stderrText;
  EXPECT_FALSE(etapas::test::DatabaseExists("SUC1", "TPV9"));

  // Registering without creating leaves the point unreachable.
  r = Admin({"add-pos", "--server", "CASA", "--database", "EMP", "--code", "0002", "--description", "Norte",
             "--pos-server", "SUC2", "--pos-database", "TPV2", "--no-create"});
  ASSERT_EQ(r.exitCode, 0) << r.stderrText;
  EXPECT_FALSE(Reachable("SUC2", "TPV2"));
  r = Admin({"sql", "--server", "SUC2", "--database", "TPV2", "SELECT 1"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_FALSE(r.stderrText.empty());
  EXPECT_FALSE(etapas::test::DatabaseExists("SUC2", "TPV2"));

  // A point database that exists already is not overwritten nor registered silently.
  r = Admin({"add-pos", "--server", "CASA", "--database", "EMP", "--code", "0003", "--description", "Sur",
             "--pos-server", "SUC1", "--pos-database", "TPV1"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Contains(r.stderrText, "--no-create")) << r.stderrText;
  EXPECT_EQ(Sql("CASA", "EMP", list).size(), 2u);

  // The home database must be one: a stats database has no points of sale.
  ASSERT_EQ(Admin({"init", "--server", "CASA", "--database", "ST", "--kind", "stats"}).exitCode, 0);
  r = Admin({"add-pos", "--server", "CASA", "--database", "ST", "--code", "0004", "--description", "Oeste",
             "--pos-server", "SUC4", "--pos-database", "TPV4"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Contains(r.stderrText, "error 208:")) << r.stderrText;
  EXPECT_FALSE(etapas::test::DatabaseExists("SUC4", "TPV4"));
}

TEST_F(AdminTest, DemoBuildsTheWholeDemonstrationAndKeepsItUnlessForced) {
  auto r = Admin({"demo"});
  ASSERT_EQ(r.exitCode, 0) << r.stderrText;
  EXPECT_EQ(Lines(r.stdoutText).back(), kEditorLine);

  auto statuses = Query("DEMO", "EMPRESA1",
                        "SELECT CODIGOESTADO, Descripcion, Color, Tipo, PosiblesEstadoPrevio "
                        "FROM V_TA_ETAPAS ORDER BY CODIGOESTADO");
  ASSERT_EQ(statuses.size(), 12u);
  std::set<std::string> codes, descriptions;
  for (auto& s : statuses) {
    codes.insert(s["CODIGOESTADO"].ToText());
    descriptions.insert(s["Descripcion"].ToText());
  }
  EXPECT_EQ(*codes.begin(), "0001");
  EXPECT_EQ(*codes.rbegin(), "0012");
  for (const char* d : {"PRESUPUESTO", "EN REPARACIÓN", "FACTURADO", "ANULADO", "DEVUELTO SIN REPARAR"})
    EXPECT_TRUE(descriptions.count(d)) << d;
  int withoutColour = 0, withoutPrevious = 0;
  for (auto& s : statuses) {
    const std::string code = s["CODIGOESTADO"].ToText();
    const std::string colour = s["Color"].ToText();
    if (colour.empty())
      ++withoutColour;
    else
      EXPECT_LE(std::stoll(colour), 0xFFFFFFLL) << code;
    EXPECT_EQ(colour.find_first_not_of("0123456789"), std::string::npos) << code;
    EXPECT_EQ(std::string("PEFAT").find(s["Tipo"].ToText()) == std::string::npos, false) << code;
    const std::string previous = s["PosiblesEstadoPrevio"].ToText();
    ASSERT_TRUE(IsPreviousList(previous)) << code << " '" << previous << "'";
    if (previous == " ") ++withoutPrevious;
    for (size_t at = 1; at + 5 <= previous.size(); at += 5) {
      std::string before = previous.substr(at, 4);
      EXPECT_TRUE(codes.count(before)) << code << " names " << before;
      EXPECT_NE(before, code);
    }
  }
  EXPECT_GT(withoutColour, 0);
  EXPECT_LT(withoutColour, 12);
  EXPECT_GT(withoutPrevious, 0);

  std::map<std::string, std::string> settings;
  for (auto& row : Query("DEMO", "EMPRESA1", "SELECT Clave, Valor FROM TA_CONFIGURACION")) {
    std::string key = row["Clave"].ToText();
    std::transform(key.begin(), key.end(), key.begin(), ::tolower);
    EXPECT_TRUE(settings.emplace(key, row["Valor"].ToText()).second) << "twice: " << key;
  }
  EXPECT_EQ(settings, (std::map<std::string, std::string>{{"digitos_capitulo", "1"},
                                                          {"digitos_subcapitulo", "2"},
                                                          {"digitos_rubro", "2"},
                                                          {"digitos_subrubro", "2"},
                                                          {"digitos_cuenta", "3"},
                                                          {"digitos_subcuenta", "4"},
                                                          {"grp_deshabilitado", "1"}}));

  auto users = Query("DEMO", "EMPRESA1", "SELECT Nombre, UNegocio, verproforma FROM ta_usuarios");
  ASSERT_EQ(users.size(), 1u);
  EXPECT_EQ(users[0]["Nombre"].ToText(), "OPERADOR");
  EXPECT_EQ(users[0]["UNegocio"].ToText(), "   1");
  EXPECT_EQ(users[0]["verproforma"].ToBool(), false);
  EXPECT_EQ(Sql("DEMO", "EMPRESA1", "SELECT Menu, Clave, Proceso, Nombre FROM TA_MENU"),
            (std::vector<std::string>{
                R"({"Menu": "", "Clave": "ETAPAS", "Proceso": "etapas", "Nombre": "Tabla de Status"})"}));
  EXPECT_EQ(Sql("DEMO", "EMPRESA1", "SELECT USUARIO, SISTEMA, TAREA FROM TA_TAREAS"),
            (std::vector<std::string>{R"({"USUARIO": "OPERADOR", "SISTEMA": "", "TAREA": "ETAPAS"})"}));
  EXPECT_EQ(
      Sql("DEMO", "EMPRESA1", "SELECT CODIGO, Descripcion, Server, Dbname, BAJA FROM V_TA_TPV ORDER BY CODIGO"),
      (std::vector<std::string>{
          R"({"CODIGO": "0001", "Descripcion": "Sucursal Centro", "Server": "SUCURSAL1", "Dbname": "TPV_CENTRO", "BAJA": 0})",
          R"({"CODIGO": "0002", "Descripcion": "Sucursal Norte", "Server": "SUCURSAL2", "Dbname": "TPV_NORTE", "BAJA": 0})"}));
  EXPECT_EQ(Sql("DEMO", "CV_TORNASOLADAS", "SELECT Grupo, Clave, Valor FROM TA_CONFIGURACION"),
            (std::vector<std::string>{R"({"Grupo": "BaseDeDatos", "Clave": "TimeOut", "Valor": "360"})"}));
  EXPECT_TRUE(Sql("SUCURSAL1", "TPV_CENTRO", "SELECT * FROM V_TA_ETAPAS").empty());
  EXPECT_FALSE(Reachable("SUCURSAL2", "TPV_NORTE"));

  // Without --force an existing demonstration (with the operator's changes) stays.
  Sql("DEMO", "EMPRESA1", "DELETE FROM V_TA_ETAPAS WHERE CODIGOESTADO = '0012'");
  r = Admin({"demo"});
  EXPECT_EQ(r.exitCode, 0) << r.stderrText;
  EXPECT_TRUE(Contains(r.stdoutText, "already exists"));
  EXPECT_EQ(Lines(r.stdoutText).back(), kEditorLine);
  EXPECT_EQ(Query("DEMO", "EMPRESA1", "SELECT CODIGOESTADO FROM V_TA_ETAPAS").size(), 11u);

  // Half a demonstration is not taken for a whole one.
  Sql("DEMO", "master", "DROP DATABASE [CV_TORNASOLADAS]");
  r = Admin({"demo"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Contains(r.stderrText, "--force")) << r.stderrText;

  // --force rebuilds it all, and the unreachable point stays unreachable.
  ASSERT_EQ(Admin({"init", "--server", "SUCURSAL2", "--database", "TPV_NORTE", "--kind", "pos"}).exitCode, 0);
  r = Admin({"demo", "--force"});
  ASSERT_EQ(r.exitCode, 0) << r.stderrText;
  EXPECT_EQ(Lines(r.stdoutText).back(), kEditorLine);
  EXPECT_EQ(Query("DEMO", "EMPRESA1", "SELECT CODIGOESTADO FROM V_TA_ETAPAS").size(), 12u);
  EXPECT_EQ(Query("DEMO", "CV_TORNASOLADAS", "SELECT Valor FROM TA_CONFIGURACION").size(), 1u);
  EXPECT_FALSE(Reachable("SUCURSAL2", "TPV_NORTE"));
}

TEST_F(AdminTest, SqlPrintsRowsAsJsonLinesAndErrorsWithTheirNativeNumbers) {
  ASSERT_EQ(Admin({"init", "--server", "S", "--database", "D", "--kind", "home"}).exitCode, 0);
  Sql("S", "D",
      "INSERT INTO V_TA_ETAPAS (CODIGOESTADO, Descripcion, Color, Tipo, PosiblesEstadoPrevio) "
      "VALUES ('0001', 'Año \"nuevo\" \\ línea 1\nlínea\t2 ''bis''', NULL, 'P', ' ');\n"
      "INSERT INTO TA_CONFIGURACION (Clave, Valor, PoliticaNegocio) VALUES ('Si', 'x', 1);\n"
      "INSERT INTO TA_CONFIGURACION (Clave, Valor, PoliticaNegocio) VALUES ('No', NULL, 0)");
  EXPECT_EQ(
      Sql("S", "D", "SELECT CODIGOESTADO, Descripcion, Color, Tipo FROM V_TA_ETAPAS"),
      (std::vector<std::string>{
          R"({"CODIGOESTADO": "0001", "Descripcion": "Año \"nuevo\" \\ línea 1\nlínea\t2 'bis'", "Color": null, "Tipo": "P"})"}));
  EXPECT_EQ(Sql("S", "D", "SELECT Clave, Valor, PoliticaNegocio FROM TA_CONFIGURACION ORDER BY Clave"),
            (std::vector<std::string>{R"({"Clave": "No", "Valor": null, "PoliticaNegocio": false})",
                                      R"({"Clave": "Si", "Valor": "x", "PoliticaNegocio": true})"}));
  EXPECT_EQ(Sql("S", "D", "SELECT 7 AS n, 2.5 AS d, -3 AS neg"),
            (std::vector<std::string>{R"({"n": 7, "d": 2.5, "neg": -3})"}));
  EXPECT_TRUE(Sql("S", "D", "SELECT * FROM V_TA_ETAPAS WHERE 1 = 0").empty());

  // Bytes that are not UTF-8 still give valid JSON. (PostgreSQL stores only UTF-8: the
  // driver sends U+FFFD in place of such a byte.)
  Sql("S", "D",
      "UPDATE V_TA_ETAPAS SET Descripcion = 'a\xff"
      "b'");
  EXPECT_EQ(Sql("S", "D", "SELECT Descripcion FROM V_TA_ETAPAS"),
            (std::vector<std::string>{etapas::test::OnPostgreSQL() ? "{\"Descripcion\": \"a\xEF\xBF\xBD"
                                                                     "b\"}"
                                                                   : R"({"Descripcion": "a\ufffdb"})"}));

  RunOptions fromStdin;
  fromStdin.stdinText = "SELECT CODIGOESTADO FROM V_TA_ETAPAS";
  auto r = Admin({"sql", "--server", "S", "--database", "D", "-"}, fromStdin);
  EXPECT_EQ(r.exitCode, 0) << r.stderrText;
  EXPECT_EQ(r.stdoutText, "{\"CODIGOESTADO\": \"0001\"}\n");

  // Every result of a batch, in order, an empty line between two (an empty one included).
  r = Admin({"sql", "--server", "S", "--database", "D",
             "SELECT 1 AS a; UPDATE V_TA_ETAPAS SET Color = 1; SELECT 2 AS b WHERE 1 = 0\r\nSELECT 3 AS c"});
  EXPECT_EQ(r.exitCode, 0) << r.stderrText;
  EXPECT_EQ(r.stdoutText, "{\"a\": 1}\n\n\n{\"c\": 3}\n");

  r = Admin({"sql", "--server", "S", "--database", "D", "SELECT * FROM NO_EXISTE"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.stdoutText, "");
  ASSERT_EQ(Lines(r.stderrText).size(), 1u) << r.stderrText;
  EXPECT_EQ(r.stderrText.rfind("error 208: ", 0), 0u) << r.stderrText;

  r = Admin({"sql", "--server", "S", "--database", "D", "INSERT INTO V_TA_ETAPAS (CODIGOESTADO) VALUES ('0001')"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.stderrText.rfind("error 2627: ", 0), 0u) << r.stderrText;

  // A refused connection says why and creates nothing.
  r = Admin({"sql", "--server", "S", "--database", "NOPE", "SELECT 1"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_FALSE(r.stderrText.empty());
  EXPECT_EQ(r.stdoutText, "");
  EXPECT_FALSE(etapas::test::DatabaseExists("S", "NOPE"));
}

TEST_F(AdminTest, BadArgumentsExitWithStatusTwoAndHelpWithZero) {
  const std::vector<std::vector<std::string>> bad = {
      {},
      {"frobnicate"},
      {"--data-root"},
      {"--data-root="},
      {"--verbose", "demo"},
      {"init", "--server", "S"},
      {"init", "--server", "S", "--database", "D", "--kind", "warehouse"},
      {"init", "--server", "S", "--database", "D", "--kind", "home", "--bogus"},
      {"init", "--server", "S", "--server", "T", "--database", "D", "--kind", "home"},
      {"init", "--server", "", "--database", "D", "--kind", "home"},
      {"add-pos", "--server", "S", "--database", "D", "--code", "12345", "--description", "x", "--pos-server", "P",
       "--pos-database", "Q"},
      {"add-pos", "--server", "S", "--database", "D", "--code", "1", "--pos-server", "P", "--pos-database", "Q"},
      {"demo", "--force=yes"},
      {"demo", "extra"},
      {"sql", "--server", "S", "--database", "D"},
      {"sql", "--server", "S", "--database", "D", "SELECT 1", "SELECT 2"},
      {"sql", "--server", "S", "--database", "D", "   "},
      {"sql", "--server"},
  };
  for (const auto& args : bad) {
    auto r = Admin(args);
    std::string shown;
    for (const auto& a : args) shown += " '" + a + "'";
    EXPECT_EQ(r.exitCode, 2) << shown << "\n" << r.stderrText;
    EXPECT_FALSE(r.stderrText.empty()) << shown;
    EXPECT_EQ(r.stdoutText, "") << shown;
  }
  EXPECT_FALSE(fs::exists(root.Path() + "/servers")) << "a refused command created something";

  const std::vector<std::vector<std::string>> help = {{"--help"},         {"help"},          {"help", "sql"},
                                                      {"init", "--help"}, {"add-pos", "-h"}, {"demo", "--help"},
                                                      {"sql", "--help"}};
  for (const auto& args : help) {
    auto r = Admin(args);
    EXPECT_EQ(r.exitCode, 0) << args[0];
    EXPECT_TRUE(Contains(r.stdoutText, "Usage: etapas-admin")) << args[0];
  }
}

}  // namespace
