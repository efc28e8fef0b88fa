// The headless front end, run as the real program: a script in, JSON events out.
#include <gtest/gtest.h>

#include <fstream>

#include "db_fixture.h"
#include "test_support.h"

namespace etapas {
namespace {

class ScriptDriver : public ::testing::Test {
 protected:
  void SetUp() override {
    test::CreateDatabase("CASA", "EMPRESA1", "home.sql");
    test::CreateDatabase("CASA", "CV_TORNASOLADAS", "stats.sql");
    test::Exec(*test::Connect("CASA", "EMPRESA1"),
               "INSERT INTO V_TA_ETAPAS (CODIGOESTADO, Descripcion, Color, Tipo, PosiblesEstadoPrevio) VALUES "
               "('0001','PRESUPUESTO','255','P',' '),('0002','EN REPARACION','65280','E',' 0001|')");
  }

  // Runs `etapas --script - <command line>` with the script on standard input.
  std::vector<std::string> Run(const std::string& script,
                               const std::vector<std::string>& commandLine = {"@Server=CASA;", "@DbName=EMPRESA1;",
                                                                              "@Usuario=sa;", "@Password=x;"},
                               int expectedExit = 0) {
    std::vector<std::string> argv = {ETAPAS_PATH, "--script", "-"};
    argv.insert(argv.end(), commandLine.begin(), commandLine.end());
    test::RunOptions options;
    options.stdinText = script;
    options.timeoutSeconds = 120;
    auto result = test::RunProcess(argv, {{"TEMP", root.Path()}}, options);
    EXPECT_EQ(result.exitCode, expectedExit) << result.stderrText;
    return test::Lines(result.stdoutText);
  }

  test::TempDataRoot root;
};

TEST_F(ScriptDriver, LoadsConfirmsACodeAndDumpsTheWindow) {
  auto out = Run("# a comment\n\ndump\ntype 0 0002\nkey 0 13\ndump\nfrobnicate\ntype 9 x\n");
  ASSERT_EQ(out.size(), 4u);
  EXPECT_EQ(out[0].rfind("{\"event\":\"dump\",\"caption\":\"Tabla de Status\",\"fields\":[{\"text\":\"\",\"enabled\":true,"
                         "\"backcolor\":16777215},{\"text\":\"\",\"enabled\":false",
                         0),
            0u)
      << out[0];
  EXPECT_NE(out[0].find("\"tipo\":\"P\",\"attributes_enabled\":false"), std::string::npos);
  EXPECT_NE(out[0].find("\"list\":[],\"focus\":0,\"current_field\":0,\"consultar\":true"), std::string::npos);
  EXPECT_NE(out[1].find("{\"text\":\"EN REPARACION\",\"enabled\":true,\"backcolor\":16777215},{\"text\":\"\",\"enabled\":true,"
                        "\"backcolor\":65280}"),
            std::string::npos)
      << out[1];
  EXPECT_NE(out[1].find("\"list\":[{\"text\":\"PRESUPUESTO" + std::string(100, ' ') + "0001\",\"code\":\"0001\",\"selected\":true}]"),
            std::string::npos);
  EXPECT_NE(out[1].find("\"focus\":1"), std::string::npos);
  EXPECT_NE(out[1].find("\"bModifica\":true"), std::string::npos);
  EXPECT_EQ(out[2], "{\"event\":\"script-error\",\"line\":7,\"reason\":\"unknown command frobnicate\"}");
  EXPECT_EQ(out[3].rfind("{\"event\":\"script-error\",\"line\":8,", 0), 0u);
}

TEST_F(ScriptDriver, MessagesAndTheColourDialogAreAnsweredFromTheScript) {
  auto out = Run("type 0 0001\nkey 0 13\ntype 1 \nkey 1 13\ncolour-result 255\ncolour\ncolour\ntype 2 ignored\ndump\n");
  ASSERT_GE(out.size(), 4u);
  EXPECT_EQ(out[0], "{\"event\":\"message\",\"title\":\"Aviso al operador...\",\"text\":\"Debe ingresar una descripción\","
                    "\"style\":64,\"answer\":1}");
  EXPECT_EQ(out[1], "{\"event\":\"colour\",\"answer\":255}");
  EXPECT_EQ(out[2], "{\"event\":\"colour\",\"answer\":255}");  // cancelled: the last colour again
  EXPECT_NE(out[3].find("\"backcolor\":255}"), std::string::npos);
  EXPECT_NE(out[3].find("{\"text\":\"ignored\""), std::string::npos);  // typing does not store a colour
}

TEST_F(ScriptDriver, NoConnectionTellsWhyAndEnds) {
  // A caller (the suite's menu, a script) must see that the editor could not do its work.
  auto out = Run("dump\n", {"@Server=CASA;", "@DbName=NO_EXISTE;", "@Usuario=sa;"}, 1);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0].rfind("{\"event\":\"message\",\"title\":\"Sin conexión\",\"text\":\"No se pudo conectar a la base de datos NO_EXISTE del servidor CASA.", 0), 0u);
  EXPECT_NE(out[0].find("etapas-admin demo"), std::string::npos);
  EXPECT_EQ(out[1], "{\"event\":\"end\"}");
}

}  // namespace
}  // namespace etapas
