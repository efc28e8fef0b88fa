// Changes the points of sale missed: their table in the home database, the migration of
// an older home database, and etapas-admin sincronizar serving them later (a real
// process on the test's data root, on real databases).
#include <gtest/gtest.h>

#include <algorithm>

#include "replication/pendientes.h"
#include "system_fixture.h"

namespace etapas {
namespace {

using test::Exec;
using test::Lines;
using test::Rows;
using test::Scalar;

CambioPendiente Cambio(long accion, const std::string& valor1, const std::string& destino,
                       const std::string& motivo = "No se pudo conectar") {
  CambioPendiente c;
  c.Tabla = "V_TA_ETAPAS";
  c.Accion = accion;
  c.Valores = {valor1};
  c.Destino = destino;
  c.Servidor = "NORTE";
  c.Base = "SUC1";
  c.Motivo = motivo;
  return c;
}

std::string Resumen(const CambioPendiente& c) {
  return c.Tabla + "|" + std::to_string(c.Accion) + "|" + c.Valores[0] + "|" + c.Filtro + "|" + c.Destino + "|" +
         c.Servidor + "|" + c.Base + "|" + c.Motivo;
}

std::vector<std::string> Resumenes(const std::vector<CambioPendiente>& cambios) {
  std::vector<std::string> out;
  for (const auto& c : cambios) out.push_back(Resumen(c));
  return out;
}

// ---- The table and its API ---------------------------------------------------------------

class Pendientes : public test::SystemTest {
 protected:
  void SetUp() override {
    SystemTest::SetUp();
    ConnectSessions();
  }
};

TEST_F(Pendientes, RecordingTheSameRowAgainKeepsOneRowWithTheLatestChange) {
  ASSERT_TRUE(RegistrarPendiente(Home(), Cambio(1, "'0013'", "0001", "primero")));
  ASSERT_TRUE(RegistrarPendiente(Home(), Cambio(2, "'0014'", "0001")));
  ASSERT_TRUE(RegistrarPendiente(Home(), Cambio(1, "'0013'", "0002")));
  // Inserted, then deleted before the point was reached: it owes the deletion only.
  ASSERT_TRUE(RegistrarPendiente(Home(), Cambio(3, "'0013'", "0001", "segundo")));

  auto todos = ListarPendientes(Home());
  // The row keeps its place; its change and its version move on.
  EXPECT_EQ(Resumenes(todos), (std::vector<std::string>{
                                  "V_TA_ETAPAS|3|'0013'||0001|NORTE|SUC1|segundo",
                                  "V_TA_ETAPAS|2|'0014'||0001|NORTE|SUC1|No se pudo conectar",
                                  "V_TA_ETAPAS|1|'0013'||0002|NORTE|SUC1|No se pudo conectar",
                              }));
  EXPECT_EQ(todos[0].Version, 2);
  EXPECT_EQ(todos[1].Version, 1);
  for (const auto& c : todos) {
    EXPECT_GT(c.Id, 0);
    EXPECT_FALSE(c.Fecha.empty()) << "the server's date is recorded";
  }

  EXPECT_EQ(ListarPendientes(Home(), "", "0002").size(), 1u);
  EXPECT_EQ(ListarPendientes(Home(), "V_TA_ETAPAS", "0001").size(), 2u);
  EXPECT_EQ(ListarPendientes(Home(), "V_TA_TPV").size(), 0u);

  // Another filter is another row of the target.
  CambioPendiente conFiltro = Cambio(2, "'0014'", "0001");
  conFiltro.Filtro = "Tipo = 'E'";
  ASSERT_TRUE(RegistrarPendiente(Home(), conFiltro));
  EXPECT_EQ(ListarPendientes(Home(), "", "0001").size(), 3u);
  ASSERT_TRUE(DescartarPendiente(Home(), "V_TA_ETAPAS", conFiltro.Valores, conFiltro.Filtro, "0001"));
  EXPECT_EQ(ListarPendientes(Home(), "", "0001").size(), 2u);

  ASSERT_TRUE(ActualizarMotivo(Home(), todos[0].Id, "otra vez"));
  EXPECT_EQ(ListarPendientes(Home(), "", "0001")[0].Motivo, "otra vez");
  ASSERT_TRUE(QuitarPendiente(Home(), todos[0].Id));
  EXPECT_EQ(Resumenes(ListarPendientes(Home(), "", "0001")),
            (std::vector<std::string>{"V_TA_ETAPAS|2|'0014'||0001|NORTE|SUC1|No se pudo conectar"}));

  // What the walk never sends is not recorded.
  EXPECT_FALSE(RegistrarPendiente(Home(), Cambio(4, "'0013'", "0001")));
  EXPECT_FALSE(RegistrarPendiente(Home(), Cambio(1, "'0013'", "")));
}

TEST_F(Pendientes, HostileValuesAreKeptAsDataAndNeverSentAsSql) {
  test::CreateDatabase("NORTE", "SUC1", "pos.sql");
  Exec(Home(), "INSERT INTO V_TA_ETAPAS VALUES ('0013','EN REPARACION','255','E',' 0001|')");
  auto suc1 = test::Connect("NORTE", "SUC1");
  Exec(*suc1, "INSERT INTO V_TA_ETAPAS VALUES ('0013','VIEJA','1','E',' ')");

  CambioPendiente c = Cambio(3, "'0013' OR 1=1); DROP TABLE V_TA_ETAPAS; --", "0'1");
  c.Valores[1] = "x'); DELETE FROM V_TA_TPV; --";
  c.Filtro = "1=1; DELETE FROM V_TA_ETAPAS";
  c.Motivo = "it's \"quoted\" ]] [x]";
  ASSERT_TRUE(RegistrarPendiente(Home(), c));
  ASSERT_TRUE(RegistrarPendiente(Home(), c));  // the same row found again by its hostile values

  auto leidos = ListarPendientes(Home(), "", "0'1");
  ASSERT_EQ(leidos.size(), 1u);
  EXPECT_EQ(leidos[0].Valores, c.Valores);
  EXPECT_EQ(leidos[0].Filtro, c.Filtro);
  EXPECT_EQ(leidos[0].Destino, c.Destino);
  EXPECT_EQ(leidos[0].Motivo, c.Motivo);
  EXPECT_EQ(Scalar(Home(), "SELECT COUNT(*) FROM V_TA_ETAPAS"), "1");

  // Served, it is refused before anything reaches the point; the row stays with why.
  std::string motivo;
  EXPECT_FALSE(CambioValido(leidos[0], motivo));
  const ResultadoEntrega r = ServirPendiente(leidos[0], "111", "NORTE", "SUC1");
  EXPECT_EQ(r.entrega, Entrega::Fallida);
  EXPECT_NE(r.motivo.find("no es un valor SQL simple"), std::string::npos) << r.motivo;
  EXPECT_EQ(Rows(*suc1, "SELECT CODIGOESTADO, Descripcion FROM V_TA_ETAPAS"), (std::vector<std::string>{"0013|VIEJA"}));
  ASSERT_EQ(ListarPendientes(Home(), "", "0'1").size(), 1u);
  EXPECT_EQ(ListarPendientes(Home(), "", "0'1")[0].Motivo, r.motivo);

  // A key with a doubled quote is a literal like any other; a filter is one condition.
  CambioPendiente bueno = Cambio(1, "'O''B'", "0001");
  EXPECT_TRUE(CambioValido(bueno, motivo)) << motivo;
  bueno.Filtro = "Descripcion <> 'a;b -- c'";
  EXPECT_TRUE(CambioValido(bueno, motivo)) << motivo;
  bueno.Filtro = "Tipo = 'E' -- x";
  EXPECT_FALSE(CambioValido(bueno, motivo));
  bueno.Filtro = "";
  bueno.Tabla = "V_TA_ETAPAS; DROP TABLE X";
  EXPECT_FALSE(CambioValido(bueno, motivo));
}

TEST_F(Pendientes, ServingSendsTheHomeRowAsItIsNow) {
  test::CreateDatabase("NORTE", "SUC1", "pos.sql");
  Exec(Home(), "INSERT INTO V_TA_ETAPAS VALUES ('0013','EN REPARACION','255','E',' 0001|')");
  auto suc1 = test::Connect("NORTE", "SUC1");
  Exec(*suc1, "INSERT INTO V_TA_ETAPAS VALUES ('0013','VIEJA','1','E',' '), ('0020','BORRADA','1','E',' ')");
  // A deletion recorded while the home row exists again: the point gets the row.
  ASSERT_TRUE(RegistrarPendiente(Home(), Cambio(3, "'0013'", "0001")));
  // An update of a row the home table no longer has: the point loses it.
  ASSERT_TRUE(RegistrarPendiente(Home(), Cambio(2, "'0020'", "0001")));
  // A live claim of another process is left to it; a lapsed one (a killed process) is not.
  const std::string reclamo = "UPDATE V_TA_REPLICACION_PENDIENTE SET TOMADO = 'otro:1:1', TOMADO_HASTA = ";
  Exec(Home(), reclamo + "'2999-01-01 00:00:00'");
  EXPECT_EQ(ServirPendientesDe("0001", "111", "NORTE", "SUC1").pendientes, 2);
  EXPECT_EQ(Rows(*suc1, "SELECT Descripcion FROM V_TA_ETAPAS WHERE CODIGOESTADO = '0013'")[0], "VIEJA");
  Exec(Home(), reclamo + "'2000-01-01 00:00:00'");

  const ResultadoDestino r = ServirPendientesDe("0001", "111", "NORTE", "SUC1");
  EXPECT_EQ(r.servidos, 2);
  EXPECT_EQ(r.pendientes, 0);
  EXPECT_TRUE(platform.shown.empty());
  EXPECT_EQ(Rows(*suc1, "SELECT CODIGOESTADO, Descripcion, Color FROM V_TA_ETAPAS"),
            (std::vector<std::string>{"0013|EN REPARACION|255"}));
  EXPECT_TRUE(ListarPendientes(Home()).empty());

  // A target that cannot be reached keeps its change, with the failure told.
  ASSERT_TRUE(RegistrarPendiente(Home(), Cambio(1, "'0013'", "0002")));
  const ResultadoDestino fallo = ServirPendientesDe("0002", "111", "OESTE", "SUC3");
  EXPECT_EQ(fallo.servidos, 0);
  EXPECT_EQ(fallo.pendientes, 1);
  EXPECT_FALSE(platform.shown.empty());
  auto quedan = ListarPendientes(Home());
  ASSERT_EQ(quedan.size(), 1u);
  EXPECT_EQ(quedan[0].Motivo, platform.shown[0].prompt);
}

// ---- Migration of an older home database ---------------------------------------------------

TEST_F(Pendientes, MigrationCreatesTheMissingTableOnceAndIsHarmlessAfterwards) {
  test::CreateDatabase("CASA", "VIEJA", "home.sql");
  auto vieja = test::Connect("CASA", "VIEJA");
  Exec(*vieja, "DROP TABLE V_TA_REPLICACION_PENDIENTE");
  EXPECT_FALSE(RegistrarPendiente(*vieja, Cambio(1, "'0013'", "0001")));

  ASSERT_TRUE(AsegurarTablaPendientes(*vieja));
  ASSERT_TRUE(RegistrarPendiente(*vieja, Cambio(1, "'0013'", "0001")));
  ASSERT_TRUE(AsegurarTablaPendientes(*vieja));
  EXPECT_EQ(ListarPendientes(*vieja).size(), 1u) << "a second run keeps what is recorded";

  // The same through etapas-admin, on another old database, twice.
  test::CreateDatabase("CASA", "VIEJA2", "home.sql");
  Exec(*test::Connect("CASA", "VIEJA2"), "DROP TABLE V_TA_REPLICACION_PENDIENTE");
  const test::EnvAdditions env = {{"ETAPAS_DATA", root.Path()}};
  auto r = test::RunProcess({ETAPAS_ADMIN_PATH, "migrate", "--server", "CASA", "--database", "VIEJA2"}, env);
  EXPECT_EQ(r.exitCode, 0) << r.stderrText;
  EXPECT_EQ(r.stdoutText, "Created table V_TA_REPLICACION_PENDIENTE in VIEJA2 on server CASA\n");
  r = test::RunProcess({ETAPAS_ADMIN_PATH, "migrate", "--server", "CASA", "--database", "VIEJA2"}, env);
  EXPECT_EQ(r.exitCode, 0) << r.stderrText;
  EXPECT_EQ(r.stdoutText, "Already up to date: V_TA_REPLICACION_PENDIENTE in VIEJA2 on server CASA\n");
  auto migrada = test::Connect("CASA", "VIEJA2");
  ASSERT_TRUE(RegistrarPendiente(*migrada, Cambio(2, "'0001'", "0003")));
  EXPECT_EQ(ListarPendientes(*migrada).size(), 1u);

  // Not a home database: refused, nothing laid in it.
  test::CreateDatabase("NORTE", "SUC1", "pos.sql");
  r = test::RunProcess({ETAPAS_ADMIN_PATH, "migrate", "--server", "NORTE", "--database", "SUC1"}, env);
  EXPECT_EQ(r.exitCode, 1);
  auto suc1 = test::Connect("NORTE", "SUC1");
  suc1->EjecutarSQL("SELECT TOP 0 ID FROM V_TA_REPLICACION_PENDIENTE", 0, nullptr);
  EXPECT_GT(suc1->Conexion()->Errors().Count(), 0);
}

// ---- etapas-admin sincronizar ----------------------------------------------------------------

class Sincronizar : public test::SystemTest {
 protected:
  void SetUp() override {
    SystemTest::SetUp();
    ConnectSessions();
    test::CreateDatabase("NORTE", "SUC1", "pos.sql");
    test::CreateDatabase("SUR", "SUC2", "pos.sql");
    test::CreateDatabase("ESTE", "SUC4", "pos.sql");
    // 0002's database does not exist (yet); 0004 takes no tables; 0005 is disabled.
    Exec(Home(),
         "INSERT INTO V_TA_TPV (CODIGO, Descripcion, Server, Dbname, INTERNET, BAJA, OL_ExceptoTablas) VALUES "
         "('0001','Sucursal Norte','NORTE','SUC1',0,0,0),"
         "('0002','Sucursal Oeste','OESTE','SUC3',0,0,NULL),"
         "('0003','Sucursal Sur','SUR:1433','SUC2',0,0,NULL),"
         "('0004','Sucursal Este','ESTE','SUC4',0,0,1),"
         "('0005','Deposito cerrado','BAJA','SUC5',0,1,0)");
    Exec(Home(),
         "INSERT INTO V_TA_ETAPAS VALUES ('0013','EN REPARACION','255','E',' 0001|'),"
         "('0014','REPARADO','65280','E',' 0013|'), ('0015','ENTREGADO','','T',' 0014|')");
    suc1 = test::Connect("NORTE", "SUC1");
    suc2 = test::Connect("SUR", "SUC2");
    suc4 = test::Connect("ESTE", "SUC4");
  }

  test::ProcessResult Admin(std::vector<std::string> args) {
    args.insert(args.begin(), ETAPAS_ADMIN_PATH);
    return test::RunProcess(args, {{"ETAPAS_DATA", root.Path()}, {"TEMP", root.Path() + "/temp"}});
  }
  test::ProcessResult Sync(std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"sincronizar", "--server", "CASA", "--database", "EMPRESA1"};
    args.insert(args.end(), extra.begin(), extra.end());
    return Admin(args);
  }
  static std::vector<std::string> Etapas(ClsDatos& db) {
    return Rows(db, "SELECT CODIGOESTADO, Descripcion, Color FROM V_TA_ETAPAS ORDER BY CODIGOESTADO");
  }
  std::vector<std::string> Debe() {
    std::vector<std::string> out;
    for (const auto& c : ListarPendientes(Home()))
      out.push_back(c.Destino + " " + std::to_string(c.Accion) + " " + c.Valores[0]);
    return out;
  }

  std::unique_ptr<ClsDatos> suc1, suc2, suc4;
};

TEST_F(Sincronizar, ServesWhatReachablePointsMissedAndKeepsTheRest) {
  Exec(*suc1, "INSERT INTO V_TA_ETAPAS VALUES ('0014','EN ESPERA','1','E',' '), ('0099','VIEJA','1','E',' ')");
  ASSERT_TRUE(RegistrarPendiente(Home(), Cambio(1, "'0013'", "0001")));
  ASSERT_TRUE(RegistrarPendiente(Home(), Cambio(2, "'0014'", "0001")));
  ASSERT_TRUE(RegistrarPendiente(Home(), Cambio(3, "'0099'", "0001")));
  ASSERT_TRUE(RegistrarPendiente(Home(), Cambio(1, "'0013'", "0002")));
  ASSERT_TRUE(RegistrarPendiente(Home(), Cambio(1, "'0013'", "0004")));  // excluded: never sent
  ASSERT_TRUE(RegistrarPendiente(Home(), Cambio(1, "'0013'", "0005")));  // disabled: kept for later

  auto r = Sync();
  EXPECT_EQ(r.exitCode, 1) << r.stderrText;
  EXPECT_EQ(Lines(r.stdoutText), (std::vector<std::string>{
                                     "0001 SUC1: 3 served, 0 pending",
                                     "0002 SUC3: 0 served, 1 pending (unreachable)",
                                     "0003 SUC2: 0 served, 0 pending",
                                     "0004 SUC4: 0 served, 1 pending (excluded from a table's family)",
                                     "0005 SUC5: 0 served, 1 pending (not enabled)",
                                     "total: 3 served, 3 pending",
                                 }));
  EXPECT_NE(r.stderrText.find("No se pudo conectar al Punto de ventas Sucursal Oeste"), std::string::npos)
      << r.stderrText;
  EXPECT_EQ(Etapas(*suc1), (std::vector<std::string>{"0013|EN REPARACION|255", "0014|REPARADO|65280"}));
  EXPECT_TRUE(Etapas(*suc2).empty()) << "a point that owed nothing is left alone";
  EXPECT_TRUE(Etapas(*suc4).empty());
  EXPECT_EQ(Debe(), (std::vector<std::string>{"0002 1 '0013'", "0004 1 '0013'", "0005 1 '0013'"}));
  EXPECT_EQ(ListarPendientes(Home(), "", "0002")[0].Motivo, "No se pudo conectar al Punto de ventas Sucursal Oeste");

  // The point comes back: the next run serves it (one point asked for).
  test::CreateDatabase("OESTE", "SUC3", "pos.sql");
  r = Sync({"--punto", "2"});
  EXPECT_EQ(r.exitCode, 0) << r.stderrText;
  EXPECT_EQ(Lines(r.stdoutText),
            (std::vector<std::string>{"0002 SUC3: 1 served, 0 pending", "total: 1 served, 0 pending"}));
  EXPECT_EQ(Etapas(*test::Connect("OESTE", "SUC3")), (std::vector<std::string>{"0013|EN REPARACION|255"}));
  EXPECT_EQ(Debe(), (std::vector<std::string>{"0004 1 '0013'", "0005 1 '0013'"}));
}

TEST_F(Sincronizar, AStatementThePointRefusesStaysPendingWithTheRefusal) {
  // An older point whose description column is too narrow for the home value.
  Exec(*suc1, "DROP TABLE V_TA_ETAPAS");
  Exec(*suc1,
       "CREATE TABLE V_TA_ETAPAS (CODIGOESTADO varchar(4) NOT NULL PRIMARY KEY, Descripcion varchar(5) NULL, "
       "Color varchar(20) NULL, Tipo varchar(1) NULL, PosiblesEstadoPrevio varchar(max) NULL)");
  Exec(*suc1, "INSERT INTO V_TA_ETAPAS VALUES ('0013','X','1','E',' ')");
  ASSERT_TRUE(RegistrarPendiente(Home(), Cambio(2, "'0013'", "0001")));
  ASSERT_TRUE(RegistrarPendiente(Home(), Cambio(1, "'0015'", "0001")));

  auto r = Sync({"--punto", "0001"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(Lines(r.stdoutText),
            (std::vector<std::string>{"0001 SUC1: 0 served, 2 pending (failed)", "total: 0 served, 2 pending"}));
  auto quedan = ListarPendientes(Home());
  ASSERT_EQ(quedan.size(), 2u);
  for (const auto& c : quedan) {
    EXPECT_NE(c.Motivo.find("truncated"), std::string::npos) << c.Motivo;
    EXPECT_NE(r.stderrText.find(c.Motivo.substr(0, 20)), std::string::npos) << r.stderrText;
  }
}

TEST_F(Sincronizar, CompareFixesDifferingAndMissingRowsAndDeletesExtraOnesOnlyWhenAsked) {
  Exec(*suc1,
       "INSERT INTO V_TA_ETAPAS VALUES ('0013','EN REPARACION','255','E',' 0001|'),"
       "('0014','EN ESPERA','1','E',' 0013|'), ('0077','DE OTRA EPOCA','1','E',' ')");
  auto r = Sync({"--punto", "0001", "--comparar"});
  EXPECT_EQ(r.exitCode, 0) << r.stderrText;
  EXPECT_EQ(Lines(r.stdoutText),
            (std::vector<std::string>{"0001 SUC1: 0 served, 0 pending, 2 fixed, 0 deleted, 1 extra",
                                      "total: 0 served, 0 pending, 2 fixed, 0 deleted, 1 extra"}));
  EXPECT_EQ(Etapas(*suc1), (std::vector<std::string>{"0013|EN REPARACION|255", "0014|REPARADO|65280", "0015|ENTREGADO|",
                                                     "0077|DE OTRA EPOCA|1"}));

  r = Sync({"--punto", "0001", "--comparar", "--borrar"});
  EXPECT_EQ(r.exitCode, 0) << r.stderrText;
  EXPECT_EQ(Lines(r.stdoutText)[0], "0001 SUC1: 0 served, 0 pending, 0 fixed, 1 deleted, 0 extra");
  EXPECT_EQ(Etapas(*suc1),
            (std::vector<std::string>{"0013|EN REPARACION|255", "0014|REPARADO|65280", "0015|ENTREGADO|"}));
  EXPECT_TRUE(Debe().empty());

  // An excluded point is not compared; an unreachable one owes the comparison.
  r = Sync({"--comparar", "--tabla", "V_TA_ETAPAS"});
  EXPECT_EQ(r.exitCode, 1);
  auto lineas = Lines(r.stdoutText);
  ASSERT_EQ(lineas.size(), 5u);
  EXPECT_EQ(lineas[1], "0002 SUC3: 0 served, 1 pending, 0 fixed, 0 deleted, 0 extra (unreachable)");
  EXPECT_EQ(lineas[2], "0003 SUC2: 0 served, 0 pending, 3 fixed, 0 deleted, 0 extra");
  EXPECT_EQ(lineas[3], "0004 SUC4: 0 served, 0 pending, 0 fixed, 0 deleted, 0 extra");
  EXPECT_TRUE(Etapas(*suc4).empty());
  EXPECT_EQ(Etapas(*suc2).size(), 3u);
}

TEST_F(Sincronizar, BadUsageExitsWithTwoAndHelpWithZero) {
  const std::vector<std::vector<std::string>> malos = {
      {"sincronizar", "--server", "CASA"},
      {"sincronizar", "--server", "CASA", "--database", "EMPRESA1", "--borrar"},
      {"sincronizar", "--server", "CASA", "--database", "EMPRESA1", "--tabla", "V_TA_ETAPAS;DROP TABLE X"},
      {"sincronizar", "--server", "CASA", "--database", "EMPRESA1", "--tabla", "NO_SE_REPLICA"},
      {"sincronizar", "--server", "CASA", "--database", "EMPRESA1", "--punto", "12345"},
      {"sincronizar", "--server", "CASA", "--database", "EMPRESA1", "extra"},
      {"migrate", "--server", "CASA"},
  };
  for (const auto& args : malos) {
    auto r = Admin(args);
    EXPECT_EQ(r.exitCode, 2) << args.back() << "\n" << r.stderrText;
    EXPECT_EQ(r.stdoutText, "");
  }
  for (const std::string c : {"sincronizar", "migrate"}) {
    auto r = Admin({c, "--help"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.stdoutText.find("Usage: etapas-admin " + c), std::string::npos);
  }
  auto r = Admin({"--help"});
  EXPECT_NE(r.stdoutText.find("  sincronizar  serve the changes"), std::string::npos) << r.stdoutText;
  // A home database that cannot be opened is its own failure, not a usage error; a
  // --punto that names no point of sale is one.
  r = Admin({"sincronizar", "--server", "CASA", "--database", "NO_EXISTE"});
  EXPECT_EQ(r.exitCode, 3);
  r = Admin({"sincronizar", "--server", "CASA", "--database", "EMPRESA1", "--punto", "0042"});
  EXPECT_EQ(r.exitCode, 2) << r.stderrText;
  EXPECT_EQ(r.stdoutText, "");
}

}  // namespace
}  // namespace etapas
