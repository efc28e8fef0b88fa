// The headless front end, run as the real program: a script in, JSON events out.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "db_fixture.h"
#include "etapas_version.h"
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
  EXPECT_EQ(
      out[0].rfind("{\"event\":\"dump\",\"caption\":\"Tabla de Status\",\"fields\":[{\"text\":\"\",\"enabled\":true,"
                   "\"backcolor\":16777215},{\"text\":\"\",\"enabled\":false",
                   0),
      0u)
      << out[0];
  EXPECT_NE(out[0].find("\"tipo\":\"P\",\"attributes_enabled\":false"), std::string::npos);
  EXPECT_NE(out[0].find("\"list\":[],\"focus\":0,\"current_field\":0,\"consultar\":true"), std::string::npos);
  EXPECT_NE(out[1].find(
                "{\"text\":\"EN REPARACION\",\"enabled\":true,\"backcolor\":16777215},{\"text\":\"\",\"enabled\":true,"
                "\"backcolor\":65280}"),
            std::string::npos)
      << out[1];
  EXPECT_NE(out[1].find("\"list\":[{\"text\":\"PRESUPUESTO" + std::string(100, ' ') +
                        "0001\",\"code\":\"0001\",\"selected\":true}]"),
            std::string::npos);
  EXPECT_NE(out[1].find("\"focus\":1"), std::string::npos);
  EXPECT_NE(out[1].find("\"bModifica\":true"), std::string::npos);
  EXPECT_EQ(out[2], "{\"event\":\"script-error\",\"line\":7,\"reason\":\"unknown command frobnicate\"}");
  EXPECT_EQ(out[3].rfind("{\"event\":\"script-error\",\"line\":8,", 0), 0u);
}

TEST_F(ScriptDriver, MessagesAndTheColourDialogAreAnsweredFromTheScript) {
  auto out = Run("type 0 0001\nkey 0 13\ntype 1 \nkey 1 13\ncolour-result 255\ncolour\ncolour\ntype 2 ignored\ndump\n");
  ASSERT_GE(out.size(), 4u);
  EXPECT_EQ(out[0],
            "{\"event\":\"message\",\"title\":\"Aviso al operador...\",\"text\":\"Debe ingresar una descripción\","
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
  EXPECT_EQ(out[0].rfind("{\"event\":\"message\",\"title\":\"Sin conexión\",\"text\":\"No se pudo conectar a la base "
                         "de datos NO_EXISTE del servidor CASA.",
                         0),
            0u);
  EXPECT_NE(out[0].find("etapas-admin demo"), std::string::npos);
  EXPECT_EQ(out[1], "{\"event\":\"end\"}");
}

// A logout (SIGHUP) or SIGTERM ends an idle program at once; during a save it lets the walk
// reach a store boundary and record what it did not deliver, then ends with 128 + the signal.
TEST_F(ScriptDriver, ASignalEndsTheProgramAfterTheWalkOfASave) {
  test::RunOptions options;
  options.timeoutSeconds = 60;
  options.keepStdinOpen = true;  // the driver waits for its next command
  options.signalWhen = "\"event\":\"dump\"";
  const std::vector<std::string> argv = {ETAPAS_PATH,         "--script",     "-",           "@Server=CASA;",
                                         "@DbName=EMPRESA1;", "@Usuario=sa;", "@Password=x;"};
  options.stdinText = "dump\n";
  for (const int senal : {SIGHUP, SIGTERM}) {
    options.signal = senal;
    auto ocioso = test::RunProcess(argv, {{"TEMP", root.Path()}}, options);
    EXPECT_EQ(ocioso.exitCode, 128 + senal) << ocioso.stderrText;
    EXPECT_FALSE(ocioso.timedOut);
    EXPECT_LT(ocioso.msAfterSignal, 3000);
  }

  // A store that takes the connection and never answers: the save waits on it.
  const int escucha = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t largo = sizeof a;
  ASSERT_EQ(bind(escucha, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(listen(escucha, 8), 0);
  ASSERT_EQ(getsockname(escucha, reinterpret_cast<sockaddr*>(&a), &largo), 0);
  std::ofstream(root.Path() + "/servers.conf", std::ios::app)
      << "COLGADO = postgresql 127.0.0.1:" << ntohs(a.sin_port) << " connect_timeout=5\n";
  test::CreateDatabase("NORTE", "TPV1", "pos.sql");
  auto casa = test::Connect("CASA", "EMPRESA1");
  test::Exec(*casa,
             "INSERT INTO V_TA_TPV (CODIGO, Descripcion, Server, Dbname, INTERNET, BAJA) VALUES "
             "('0001','Sucursal Norte','NORTE','TPV1',0,0),('0007','Sucursal Puerto','COLGADO','TPV7',0,0)");
  options.signal = SIGTERM;
  options.signalDelayMs = 1000;  // well into the five seconds the stores are tried
  options.keepStdinOpen = false;
  options.stdinText = "type 0 0002\nkey 0 13\ndump\nkey 1 116\ndump\n";
  auto grabando = test::RunProcess(argv, {{"TEMP", root.Path()}}, options);
  close(escucha);
  EXPECT_EQ(grabando.exitCode, 128 + SIGTERM) << grabando.stderrText;
  const auto out = test::Lines(grabando.stdoutText);
  ASSERT_GE(out.size(), 3u);
  // The walk told what it left pending, and the command after the save never ran.
  EXPECT_NE(out[out.size() - 2].find("quedó pendiente para 2 puntos de venta."), std::string::npos)
      << grabando.stdoutText;
  EXPECT_EQ(out.back(), "{\"event\":\"end\"}");
  EXPECT_EQ(std::count_if(out.begin(), out.end(), [](const std::string& l) { return l.find("\"dump\"") != l.npos; }),
            1);
  // Stopped before the first store, as "Cancelar" does: every store owes the change.
  EXPECT_EQ(test::Rows(*casa, "SELECT DESTINO, VALOR1 FROM V_TA_REPLICACION_PENDIENTE ORDER BY DESTINO"),
            (std::vector<std::string>{"0001|'0002'", "0007|'0002'"}));
  EXPECT_EQ(test::Scalar(*test::Connect("NORTE", "TPV1"), "SELECT COUNT(*) FROM V_TA_ETAPAS"), "0");
}

// --help and --version answer before anything else: no connection is tried, no window is
// opened (Qt would refuse the platform named here).
TEST_F(ScriptDriver, HelpAndVersionAnswerWithoutConnecting) {
  test::RunOptions options;
  options.timeoutSeconds = 60;
  const test::EnvAdditions sinVentana = {{"QT_QPA_PLATFORM", "ninguna"}, {"ETAPAS_DATA", root.Path() + "/vacia"}};
  auto ayuda = test::RunProcess({ETAPAS_PATH, "--help"}, sinVentana, options);
  EXPECT_EQ(ayuda.exitCode, 0) << ayuda.stderrText;
  EXPECT_EQ(ayuda.stdoutText.rfind("Uso: etapas", 0), 0u) << ayuda.stdoutText;
  EXPECT_NE(ayuda.stdoutText.find("--script ARCHIVO"), std::string::npos);
  EXPECT_EQ(ayuda.stderrText, "");
  auto version = test::RunProcess({ETAPAS_PATH, "--version", "@Server=CASA;"}, sinVentana, options);
  EXPECT_EQ(version.exitCode, 0) << version.stderrText;
  EXPECT_EQ(version.stdoutText, "etapas " ETAPAS_VERSION "\n");
  EXPECT_EQ(version.stderrText, "");
  EXPECT_FALSE(std::filesystem::exists(root.Path() + "/vacia"));
  auto admin = test::RunProcess({ETAPAS_ADMIN_PATH, "--version"}, {}, options);
  EXPECT_EQ(admin.exitCode, 0) << admin.stderrText;
  EXPECT_EQ(admin.stdoutText, "etapas-admin " ETAPAS_VERSION "\n");
}

// Only a word that looks like an option of this program and is none is refused; the
// suite's command line, with whatever else it carries, is read as always.
TEST_F(ScriptDriver, UnknownOptionsAreRefusedAndTheSuitesLineIsNot) {
  test::RunOptions options;
  options.timeoutSeconds = 60;
  for (const std::vector<std::string>& argv :
       {std::vector<std::string>{ETAPAS_PATH, "--verbose"},
        std::vector<std::string>{ETAPAS_PATH, "--script", "-", "@Server=CASA;", "--dbname=EMPRESA1"},
        std::vector<std::string>{ETAPAS_PATH, "@Server=CASA;", "--version"},
        std::vector<std::string>{ETAPAS_PATH, "--script"}}) {
    auto result = test::RunProcess(argv, {{"QT_QPA_PLATFORM", "ninguna"}}, options);
    EXPECT_EQ(result.exitCode, 2) << argv.back() << ": " << result.stderrText;
    EXPECT_EQ(result.stdoutText, "") << argv.back();
    EXPECT_NE(result.stderrText.find("Pruebe 'etapas --help'."), std::string::npos) << result.stderrText;
  }
  auto refused = test::RunProcess({ETAPAS_PATH, "--verbose"}, {}, options);
  EXPECT_EQ(refused.stderrText.rfind("etapas: opción desconocida --verbose\n", 0), 0u) << refused.stderrText;

  auto out = Run("dump\n", {"@Server=CASA;", "-x", "@DbName=EMPRESA1;", "/p", "@Usuario=sa;", "--", "@Password=x;"});
  ASSERT_EQ(out.size(), 1u);  // connected: no message, the window's state
  EXPECT_EQ(out[0].rfind("{\"event\":\"dump\",\"caption\":\"Tabla de Status\"", 0), 0u) << out[0];
}

extern "C" char** environ;

// The libraries a running `etapas --script -` has mapped once its window is loaded (it
// waits for the next line of its script meanwhile).
std::string MapasDelGuion(const std::string& commandLine) {
  int entrada[2], salida[2];
  if (pipe(entrada) != 0 || pipe(salida) != 0) return "pipe";
  posix_spawn_file_actions_t acciones;
  posix_spawn_file_actions_init(&acciones);
  posix_spawn_file_actions_adddup2(&acciones, entrada[0], 0);
  posix_spawn_file_actions_adddup2(&acciones, salida[1], 1);
  posix_spawn_file_actions_addclose(&acciones, entrada[1]);
  posix_spawn_file_actions_addclose(&acciones, salida[0]);
  std::string programa = ETAPAS_PATH;
  std::vector<std::string> args = {programa, "--script", "-"};
  std::istringstream palabras(commandLine);
  for (std::string w; palabras >> w;) args.push_back(w);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int fallo = posix_spawn(&pid, programa.c_str(), &acciones, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&acciones);
  close(entrada[0]);
  close(salida[1]);
  if (fallo != 0) return "spawn";
  // The dump's answer proves the load sequence ran: whatever it opens is open by then.
  const std::string dump = "dump\n";
  if (write(entrada[1], dump.data(), dump.size()) != static_cast<ssize_t>(dump.size())) return "write";
  std::FILE* out = fdopen(salida[0], "r");
  char linea[1 << 16];
  const bool respondio = out && std::fgets(linea, sizeof linea, out) != nullptr;
  std::ifstream mapas("/proc/" + std::to_string(pid) + "/maps");
  std::string texto((std::istreambuf_iterator<char>(mapas)), std::istreambuf_iterator<char>());
  close(entrada[1]);
  while (out && std::fgets(linea, sizeof linea, out)) {}
  if (out) std::fclose(out);
  int estado = 0;
  waitpid(pid, &estado, 0);
  return respondio ? texto : "no answer";
}

TEST_F(ScriptDriver, TheHeadlessProgramLoadsNoQt) {
  const std::string mapas = MapasDelGuion("@Server=CASA; @DbName=EMPRESA1; @Usuario=sa; @Password=x;");
  ASSERT_NE(mapas.find("/etapas"), std::string::npos) << mapas;
  EXPECT_EQ(mapas.find("libQt6"), std::string::npos) << mapas;
  EXPECT_EQ(mapas.find("libetapas_qt"), std::string::npos) << mapas;
}

// Without --script the program loads its window from the module beside it: a platform Qt
// does not know makes Qt itself refuse to start.
TEST_F(ScriptDriver, TheWindowComesFromTheQtModule) {
  test::RunOptions options;
  options.timeoutSeconds = 60;
  auto result = test::RunProcess({ETAPAS_PATH, "@Server=CASA;", "@DbName=EMPRESA1;", "@Usuario=sa;", "@Password=x;"},
                                 {{"QT_QPA_PLATFORM", "ninguna"}, {"LD_DEBUG", "libs"}}, options);
  EXPECT_NE(result.exitCode, 0);
  EXPECT_NE(result.stderrText.find("libetapas_qt.so"), std::string::npos) << result.stderrText;
  EXPECT_NE(result.stderrText.find("libQt6Widgets"), std::string::npos);
  EXPECT_NE(result.stderrText.find("ninguna"), std::string::npos);
}

}  // namespace
}  // namespace etapas
