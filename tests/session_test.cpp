// Session start-up on real databases: the command line, the connections, the usage row,
// the statistics time-out, and the window's icon and skin.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "common/mod_global.h"
#include "components/cls_consulta.h"
#include "components/cls_util.h"
#include "session/inicio.h"
#include "system_fixture.h"

namespace etapas {
namespace {

using test::Exec;
using test::Rows;
using test::Scalar;

// A window that records what the shared routines did to it.
class VentanaPrueba : public Ventana, public SkinFramework {
 public:
  std::string tipo = "FrmV_TA_ETAPAS";
  std::vector<std::string> controles = {"Botonera1"};
  bool recursoDisponible = true;
  std::string icono, skin, skinIni;
  long aplicadaA = 0;
  int opciones = 4;
  std::map<std::string, Variant> propiedades;

  std::string NombreTipo() const override { return tipo; }
  long Handle() const override { return 42; }
  bool TieneIcono() const override { return !icono.empty(); }
  void IconoDeRecurso(const std::string& nombre) override {
    if (!recursoDisponible || !ExisteRecursoIcono(nombre)) throw RaisedError(326, "Resource not found");
    icono = "recurso:" + nombre;
  }
  void IconoDeArchivo(const std::string& ruta) override {
    if (!std::filesystem::exists(ruta)) throw RaisedError(53, "File not found");
    icono = "archivo:" + ruta;
  }
  void AsignarPropiedad(const std::string& control, const std::string& propiedad, const Variant& valor) override {
    if (std::find(controles.begin(), controles.end(), control) == controles.end())
      throw RaisedError(730, "Control not found");
    propiedades[control + "." + propiedad] = valor;
  }
  SkinFramework& SkinFramework1() override { return *this; }
  void LoadSkin(const std::string& ruta, const std::string& ini) override {
    if (!std::filesystem::is_regular_file(ruta)) throw RaisedError(53, "File not found: " + ruta);
    skin = ruta;
    skinIni = ini;
  }
  void ApplyWindow(long handle) override { aplicadaA = handle; }
  int ApplyOptions() const override { return opciones; }
  void ApplyOptions(int o) override { opciones = o; }
};

class Session : public test::SystemTest {
 protected:
  void WriteIni(const std::string& content) { std::ofstream(root.Path() + "/KT512rl.INI") << content; }
  void Start(const std::string& comando, std::string cadena = "") {
    cadena_ = std::move(cadena);
    IniciarSesion(false, comando, cadena_, 3);
  }
  std::string cadena_;
};

TEST(CommandLine, KeysValuesAndTheirAbsentForms) {
  ReiniciarEstadoGlobal();
  ValoresComando v;
  ParsearComando("@server=SRV; @dbname= DB; @usuario= U;", v);
  EXPECT_EQ(v.servidor, "SRV");
  EXPECT_EQ(v.baseDatos, "DB");
  EXPECT_EQ(v.usuario, "U");
  EXPECT_EQ(v.clave, "");
  EXPECT_EQ(SesionSistema.Menu, "");
  EXPECT_EQ(SesionSistema.ParametroAdicional, "");
  EXPECT_EQ(SesionSistema.UsuarioLogeado, "");
  EXPECT_EQ(SesionSistema.Caja, "1");

  // Letter case, a whole key only, first occurrence, empty and unterminated values.
  v = {};
  ParsearComando("@UsuarioLogeado=ANA; @SERVER = x ; @Usuario=sa; @server=y; @Caja=; @Password=secreto", v);
  EXPECT_EQ(v.servidor, "x");
  EXPECT_EQ(v.usuario, "sa");
  EXPECT_EQ(SesionSistema.UsuarioLogeado, "ANA");
  EXPECT_EQ(SesionSistema.Caja, "");
  EXPECT_EQ(v.clave, "");  // no ";" after it: the value it had

  SesionSistema.Menu = "antes";
  ParsearComando("@Menu=nuevo @Caja=3; @ParametroAdicional=abcdefghijklmnopqrstuvwxyz", v);
  EXPECT_EQ(SesionSistema.Menu, "nuevo @Caja=3");
  EXPECT_EQ(SesionSistema.Caja, "3");
  EXPECT_EQ(SesionSistema.ParametroAdicional, "abcdefghijklmnopqr");  // 19 characters after the key, "=" included
  ParsearComando("@Menu=sin punto y coma", v);
  EXPECT_EQ(SesionSistema.Menu, "nuevo @Caja=3");  // no ";": the value it had
}

TEST_F(Session, WorkstationValuesAndTheDefaultCommandFromTheIniFile) {
  platform.machine = "PC1";
  platform.user = "ana";
  WriteIni(
      "[PC1|ANA]\nFlatToolbars=0\n[PC1|ANABaseDeDatos]\nServidor=CASA\nDbName=x|EMPRESA1\n"
      "Usuario=" +
      ClsUtil::Codificar("operador") + "\n");
  // UsarIni with an empty command: the command comes from the INI file.
  std::string cadena;
  IniciarSesion(true, "", cadena, 3);
  EXPECT_EQ(SesionSistema.EquipoUsuario, "PC1|ANA");
  EXPECT_EQ(SesionSistema.BarrasPlanas.ToNumber().value_or(-1), 0);
  EXPECT_EQ(Home().Servidor(), "CASA");
  EXPECT_EQ(Home().BaseDatos(), "EMPRESA1");
  EXPECT_EQ(Home().Usuario(), "operador");
  EXPECT_EQ(Home().Clave(), "pelusin");
  EXPECT_TRUE(Home().Conectado());
  EXPECT_EQ(
      ComandoPorDefecto(),
      "@server=CASA; @dbname= EMPRESA1; @usuario= operador; @Password= pelusin; @ParametroAdicional=; @Caja=1;orbe@");

  // A 60-character machine and user pair is cut to 50; no INI key gives flat bars 1.
  ReiniciarEstadoGlobal();
  platform.machine = std::string(40, 'm');
  platform.user = std::string(19, 'u');
  std::filesystem::remove(root.Path() + "/KT512rl.INI");
  platform.commandLine = "";
  EXPECT_THROW(IniciarSesion(false, "", cadena, 3), ProcesoTerminado);  // nothing to connect to
  EXPECT_EQ(SesionSistema.EquipoUsuario, std::string(40, 'M') + "|" + std::string(9, 'U'));
  EXPECT_EQ(SesionSistema.BarrasPlanas.ToNumber().value_or(-1), 1);
  EXPECT_EQ(Home().Servidor(), "");  // the INI file was not read
}

TEST_F(Session, AStartConnectsLoadsSettingsAndRecordsTheUse) {
  Exec(*test::Connect("CASA", "CV_TORNASOLADAS"),
       "INSERT INTO TA_CONFIGURACION (Clave, Valor) VALUES ('TimeOut', '600')");
  {
    auto home = test::Connect("CASA", "EMPRESA1");
    Exec(*home, "INSERT INTO TA_CONFIGURACION (Clave, Valor) VALUES ('TituloClientes', ' Clientes ')");
    Exec(*home,
         "INSERT INTO TA_MENU (Menu, Clave, Proceso, Nombre) VALUES ('', 'T1', 'ventas;etapas', 'Tabla de Status')");
    Exec(*home, "INSERT INTO TA_TAREAS (USUARIO, TAREA) VALUES ('operador', 'T1')");
  }
  platform.commandLine =
      "@Server=tcp/CASA:1433; @DbName=EMPRESA1; @Usuario=operador; @Password=x; @UsuarioLogeado=Ana;";
  Start("");
  ClsDatos& d = Home();
  ASSERT_TRUE(d.Conectado());
  EXPECT_EQ(d.Servidor(), "CASA");
  EXPECT_TRUE(Stats().Conectado());
  EXPECT_EQ(SesionSistema.TiempoEspera, 600);
  EXPECT_EQ(d.Conexion()->CommandTimeout(), 600);
  EXPECT_EQ(d.Conexion()->IsolationLevel(), 256);
  EXPECT_EQ(SesionSistema.UsuarioLogeado, "operador");
  EXPECT_EQ(SesionSistema.CadenaDSN, "DSN=EMPRESA1; UID=operador; PWD=x");
  EXPECT_EQ(ArchivoAyuda(), platform.folder + "/htmlhelp/Quorvix.chm");
  EXPECT_EQ(ConfigSistema.TituloClientes, "Clientes");
  // The program folder ships none: the data root's is written (the program's may be read-only).
  EXPECT_EQ(Consulta().ArchivoConsultas(), root.Path() + "/consultas.cvl");
  EXPECT_EQ(std::filesystem::file_size(root.Path() + "/consultas.cvl"), 13222u);
  EXPECT_FALSE(std::filesystem::exists(platform.folder + "/consultas.cvl"));
  auto rows = Rows(d, "SELECT Maquina, Usuario, Formulario, Tarea, NombreUsuario, Ingreso FROM Control_Acceso");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].substr(0, rows[0].rfind('|')), "PC-PRUEBA|OPERADOR|ETAPAS|TABLA DE STATUS|operador");
  EXPECT_EQ(rows[0].size() - rows[0].rfind('|') - 1, 14u);  // dd/mm/yy hh:mm
  EXPECT_TRUE(platform.shown.empty());

  // A second start leaves the lookup definitions alone.
  std::ofstream(root.Path() + "/consultas.cvl", std::ios::app) << "mio";
  ReiniciarEstadoGlobal();
  Start("");
  EXPECT_EQ(std::filesystem::file_size(root.Path() + "/consultas.cvl"), 13225u);
  EXPECT_EQ(Scalar(Home(), "SELECT COUNT(*) FROM Control_Acceso"), "2");
}

TEST_F(Session, AnInstallationsOwnLookupDefinitionsAreReadWhereItShipsThem) {
  std::ofstream(platform.folder + "/Consultas.CVL") << std::string(1202, ' ');
  platform.commandLine = "@Server=CASA; @DbName=EMPRESA1; @Usuario=sa; @Password=x;";
  Start("");
  EXPECT_EQ(Consulta().ArchivoConsultas(), platform.folder + "/Consultas.CVL");
  EXPECT_EQ(std::filesystem::file_size(platform.folder + "/Consultas.CVL"), 1202u);
  EXPECT_FALSE(std::filesystem::exists(root.Path() + "/consultas.cvl"));
  EXPECT_EQ(Scalar(Home(), "SELECT COUNT(*) FROM Control_Acceso"), "1");
}

// Start-up shows nothing when a step fails, but a file it cannot write is said on standard
// error: the session goes on without its configuration and usage record.
TEST_F(Session, ALookupFileThatCannotBeWrittenIsToldOnStandardError) {
  std::filesystem::create_directory(root.Path() + "/consultas.cvl");
  platform.commandLine = "@Server=CASA; @DbName=EMPRESA1; @Usuario=sa; @Password=x;";
  testing::internal::CaptureStderr();
  Start("");
  const std::string errores = testing::internal::GetCapturedStderr();
  EXPECT_NE(errores.find("etapas: el inicio no pudo escribir un archivo (Path/File access error: " + root.Path() +
                         "/consultas.cvl)"),
            std::string::npos)
      << errores;
  EXPECT_TRUE(platform.shown.empty());
  EXPECT_TRUE(Home().Conectado());
  EXPECT_EQ(Scalar(Home(), "SELECT COUNT(*) FROM Control_Acceso"), "0");
}

TEST_F(Session, ARefusedConnectionTellsWhyAndEndsTheProcess) {
  platform.commandLine = "@Server=CASA; @DbName=NO_EXISTE; @Usuario=sa; @Password=x;";
  EXPECT_THROW(Start(""), ProcesoTerminado);
  ASSERT_EQ(platform.shown.size(), 1u);
  EXPECT_NE(platform.shown[0].prompt.find("NO_EXISTE"), std::string::npos);
  EXPECT_FALSE(Stats().Conectado());

  // The Oracle form is built exactly; this build cannot open it and says so.
  platform.shown.clear();
  platform.commandLine = "@Server=#ORCL; @DbName=XE; @Usuario=U; @Password=P;";
  EXPECT_THROW(Start(""), ProcesoTerminado);
  EXPECT_EQ(cadena_, "Provider=OraOLEDB.Oracle.1;Data Source=XE;User Id=U;Password=P;");
  EXPECT_EQ(Home().Servidor(), "ORCL");
  ASSERT_EQ(platform.shown.size(), 1u);
  EXPECT_NE(platform.shown[0].prompt.find("Oracle"), std::string::npos);

  // A connection text given by the caller is kept; the server still loses its marker.
  EXPECT_THROW(Start("", "Provider=Otro;"), ProcesoTerminado);
  EXPECT_EQ(cadena_, "Provider=Otro;");

  // An empty user: the component is told data are missing, and refuses.
  platform.shown.clear();
  EXPECT_THROW(Start("@Server=CASA; @DbName=EMPRESA1;"), ProcesoTerminado);
  ASSERT_EQ(platform.shown.size(), 1u);
  EXPECT_NE(platform.shown[0].prompt.find("usuario"), std::string::npos);
}

TEST_F(Session, TheStatisticsTimeOut) {
  struct Case {
    const char* stored;  // nullptr: no row
    int expected;
    const char* afterwards;
  } cases[] = {
      {"600", 600, "600"}, {nullptr, 360, "0"}, {"0", 360, "0"}, {"45.6", 46, "45.6"}, {"99999", 360, "99999"}};
  for (const auto& c : cases) {
    auto stats = test::Connect("CASA", "CV_TORNASOLADAS");
    Exec(*stats, "DELETE TA_CONFIGURACION");
    if (c.stored)
      Exec(*stats, std::string("INSERT INTO TA_CONFIGURACION (Clave, Valor) VALUES ('TimeOut', '") + c.stored + "')");
    ReiniciarEstadoGlobal();
    Start("@Server=CASA; @DbName=EMPRESA1; @Usuario=sa; @Password=x;");
    EXPECT_EQ(SesionSistema.TiempoEspera, c.expected) << (c.stored ? c.stored : "missing");
    EXPECT_EQ(Scalar(*stats, "SELECT Valor FROM TA_CONFIGURACION WHERE Clave = 'TIMEOUT'"), c.afterwards);
  }
  // No statistics database: 360, and start-up goes on.
  test::DropDatabase("CASA", "CV_TORNASOLADAS");
  ReiniciarEstadoGlobal();
  Start("@Server=CASA; @DbName=EMPRESA1; @Usuario=sa; @Password=x;");
  EXPECT_FALSE(Stats().Conectado());
  EXPECT_EQ(SesionSistema.TiempoEspera, 360);
  EXPECT_EQ(Scalar(Home(), "SELECT COUNT(*) FROM Control_Acceso"), "6");  // one per start

  // A second call while connected reopens the session.
  ConectarEstadistica();
  EXPECT_EQ(SesionSistema.TiempoEspera, 360);
}

TEST_F(Session, AlreadyConnectedSkipsTheConnectionButRebuildsTheSessionText) {
  ConnectSessions("sa");
  Stats().Conexion()->Close();
  Start("@Server=OTRO; @DbName=X; @Usuario=y;");
  EXPECT_EQ(Home().Servidor(), "CASA");
  EXPECT_FALSE(Stats().Conectado());
  EXPECT_EQ(SesionSistema.CadenaDSN, "DSN=EMPRESA1; UID=sa; PWD=x");
  EXPECT_EQ(SesionSistema.TiempoEspera, 0);
  EXPECT_EQ(Scalar(Home(), "SELECT COUNT(*) FROM Control_Acceso"), "1");
}

TEST_F(Session, TheUsageRowsTaskName) {
  ConnectSessions("sa");
  Exec(Home(),
       "INSERT INTO TA_MENU (Menu, Clave, Proceso, Nombre) VALUES ('', 'T1', 'compras', 'Compras'), "
       "('', 'T2', 'etapas', 'Estados'), ('', 'T3', 'etapas;ventas', 'Otra')");
  Exec(Home(), "INSERT INTO TA_TAREAS (USUARIO, TAREA) VALUES ('ana', 'T1'), ('bea', 'T2'), ('bea', 'T3')");
  auto task = [&](const std::string& user, const std::string& database = "EMPRESA1") {
    Home().Usuario(user);
    Home().BaseDatos(database);
    RegistrarAcceso("");
    return Scalar(Home(), "SELECT Tarea FROM Control_Acceso ORDER BY Id DESC");
  };
  EXPECT_EQ(task("ana"), "");             // a task, but not for this program
  EXPECT_EQ(task("BEA"), "ESTADOS");      // the first matching row
  EXPECT_EQ(task("empresa1"), "ETAPAS");  // the database owner
  EXPECT_EQ(task("Supervisor Corvela MC"), "ETAPAS");
  EXPECT_EQ(task("o'neil"), "");
  EXPECT_EQ(Scalar(Home(), "SELECT Usuario FROM Control_Acceso ORDER BY Id DESC"), "ONEIL");
  EXPECT_EQ(Scalar(Home(), "SELECT NombreUsuario FROM Control_Acceso ORDER BY Id DESC"), "oneil");

  // The suite's menu program has a fixed task name.
  platform.exeName = "kt512rl";
  EXPECT_EQ(task("nadie"), "MENU PRINCIPAL");
  EXPECT_EQ(Scalar(Home(), "SELECT Formulario FROM Control_Acceso ORDER BY Id DESC"), "KT512RL");
}

TEST_F(Session, IconAndSkin) {
  VentanaPrueba v;
  SesionSistema.BarrasPlanas = Variant();  // before start-up: the empty value
  // Waits on a database server before it let events through too.
  const int eventos = platform.eventsProcessed;
  AsignarIcono(v);
  EXPECT_EQ(v.icono, "recurso:ICONCORVELA");
  ASSERT_EQ(v.propiedades.count("Botonera1.StyleBar"), 1u);
  EXPECT_TRUE(v.propiedades["Botonera1.StyleBar"].IsEmpty());
  EXPECT_EQ(platform.eventsProcessed, eventos + 1);

  VentanaPrueba mdi;
  mdi.tipo = "frmMDI";
  mdi.recursoDisponible = false;
  AsignarIcono(mdi);
  EXPECT_EQ(mdi.icono, "");  // no resource, no corvela.ico here
  EXPECT_TRUE(mdi.propiedades.empty());

  EXPECT_EQ(SkinDeEstilo(1).archivo, "Styles/Vista.cjstyles");
  EXPECT_EQ(SkinDeEstilo(2).archivo, "Styles/WinXP.Luna.cjstyles");
  EXPECT_EQ(SkinDeEstilo(3).archivo, "Styles/WinXP.Royale.cjstyles");
  EXPECT_EQ(SkinDeEstilo(4).archivo, "Styles/iTunes");
  EXPECT_EQ(SkinDeEstilo(4).ini, "Normalitunes.ini");
  for (int other : {0, 5, 7, -1}) EXPECT_EQ(SkinDeEstilo(other).archivo, "Styles/Office2007.cjstyles");

  std::filesystem::create_directories(platform.folder + "/Styles");
  for (const char* f : {"Vista.cjstyles", "iTunes", "Office2007.cjstyles"})
    std::ofstream(platform.folder + "/Styles/" + f) << "/* skin */";
  platform.user = "ana";
  AplicarEstilo(v);  // no INI key: skin 1
  EXPECT_EQ(SesionSistema.Estilo, 1);
  EXPECT_EQ(v.skin, platform.folder + "/Styles/Vista.cjstyles");
  EXPECT_EQ(v.aplicadaA, 42);
  EXPECT_EQ(v.opciones, 5);
  WriteIni("[ANAStyles]\nStyles=4\n");
  AplicarEstilo(v);
  EXPECT_EQ(v.skin, platform.folder + "/Styles/iTunes");
  EXPECT_EQ(v.skinIni, "Normalitunes.ini");
  WriteIni("[ANAStyles]\nStyles=abc\n");
  AplicarEstilo(v);
  EXPECT_EQ(v.skin, platform.folder + "/Styles/Office2007.cjstyles");

  // A missing skin file leaves the window unskinned and start-up goes on.
  WriteIni("[ANAStyles]\nStyles=2\n");
  VentanaPrueba sinSkin;
  EXPECT_NO_THROW(AplicarEstilo(sinSkin));
  EXPECT_EQ(sinSkin.skin, "");
  EXPECT_EQ(sinSkin.aplicadaA, 0);
}

}  // namespace
}  // namespace etapas
