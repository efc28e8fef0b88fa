// Replication on real databases: a home database, points of sale on three embedded
// servers (one of them missing), a group database, and the statistics database.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <thread>

#include "common/conexion_remota.h"
#include "components/progress_window.h"
#include "components/text.h"
#include "progress/dll_display.h"
#include "replication/desenlace.h"
#include "replication/mod_grupos_emp.h"
#include "replication/pendientes.h"
#include "system_fixture.h"

namespace etapas {
namespace {

using test::Exec;
using test::Rows;
using test::Scalar;

// ---- The key map -------------------------------------------------------------------------

std::string Claves(const std::string& tabla) {
  const ClavesDeTabla c = ClavesTabla(tabla);
  std::string out = c[0];
  for (size_t i = 1; i < c.size(); ++i) out += "|" + c[i];
  return out;
}

TEST(ClavesTablaTest, ExplicitRowsDerivedKeysAndPrefixRulesInGroupOrder) {
  const std::pair<const char*, const char*> casos[] = {
      {"V_TA_ETAPAS", "CODIGOESTADO|||||||"},
      {"@ADMIN_MA_CUENTAS", "codigo|||||||"},
      {"@admin_ma_cuentas", "codigo|||||||"},
      // Derived keys keep the caller's letter case; a few keep their final S.
      {"V_TA_BANCOS", "IDBANCO|||||||"},
      {"V_TA_Bancos", "IDBanco|||||||"},
      {"V_TA_Tecnicos", "IDTecnico|||||||"},
      {"V_TA_Cajas", "IDCajas|||||||"},
      {"V_TA_CPRA_VTA", "IDCOND_CPRA_VTA|||||||"},
      {"P_TA_Areas", "IDAreas|||||||"},
      {"P_TA_Grupos", "IDGrupo|||||||"},
      {"P_TA_Funciones", "IDFunciones|||||||"},
      {"P_MA_Empresas", "IDEmpresa|||||||"},
      {"TA_TipoArticulo", "IDTIPO|||||||"},
      {"V_MA_Articulos", "IDArticulo|||||||"},
      {"MA_ARTICULOS", "IDARTICULO|DESCRIPCION||||||"},
      // Rows that a prefix rule would otherwise catch, and the prefix rules themselves.
      {"TA_TAREAS", "USUARIO|SISTEMA|TAREA|||||"},
      {"TA_ESTADOS", "CODIGO|||||||"},
      {"TA_REPORTES", "NOMBRE|||||||"},
      {"MA_PROVEEDORES", "Codigo|Razon_Social||||||"},
      {"MA_CLIENTES", "Codigo|Codigo_sucursal||||||"},
      {"MA_CUENTASCCOSTO_UNEG", "CODIGO|CCOSTO|UNEGOCIO|||||"},
      {"MA_CUENTASBANCARIAS", "CODIGO|||||||"},
      {"MA_CASH-GRUPO", "CODIGO_CASH|||||||"},
      {"MA_FERIADOS", "Codigo|||||||"},
      {"[MA_CAMIONES]", "Codigo|nombre||||||"},
      {"[MA_OTRA]", "|||||||"},
      {"MV_PROYECTOS", "ID|ASUNTO||||||"},
      {"MV_VENTAS", "|||||||"},
      {"NADA_QUE_VER", "|||||||"},
      {"MV_ASIENTOS", "CUENTA|SECUENCIA|TC|SUCURSAL|NUMERO|LETRA|[NUMERO ASIENTO]|MES_OPERATIVO"},
      {"V_TA_VENDEDORES", "idvendedor|||||||"},
      {"V_TA_Tareas", "IDTarea|||||||"},
  };
  for (const auto& [tabla, esperado] : casos) EXPECT_EQ(Claves(tabla), esperado) << tabla;
}

// ---- The row filter ------------------------------------------------------------------------

TEST(ArmarFiltroTest, KeysValuesAndTheCallersCondition) {
  const ClavesDeTabla etapas = ClavesTabla("V_TA_ETAPAS");
  const ClavesDeTabla precios = ClavesTabla("V_MA_PRECIOS");
  EXPECT_EQ(ArmarFiltro("", etapas, {"'0013'"}), " WHERE CODIGOESTADO = '0013'");
  EXPECT_EQ(ArmarFiltro("TIPO = 'P'", etapas, {"'0013'"}), " WHERE TIPO = 'P' AND CODIGOESTADO = '0013'");
  EXPECT_EQ(ArmarFiltro(" where TIPO = 'P'", etapas, {}), " where TIPO = 'P'");
  // A condition that already says WHERE still gets the blank the statements need.
  EXPECT_EQ(ArmarFiltro("WHERE TIPO = 'P'", etapas, {}), " WHERE TIPO = 'P'");
  EXPECT_EQ(ArmarFiltro("", precios, {"1", "'V'", "'A1'"}),
            " WHERE IDLISTA = 1 AND TipoLista = 'V' AND IDARTICULO = 'A1'");
  // The second key opening the filter is written the other way; empty values add nothing.
  EXPECT_EQ(ArmarFiltro("", precios, {"", "'V'"}), " Where TipoLista = 'V'");
  EXPECT_EQ(ArmarFiltro("", precios, {"", "", "'A1'"}), " WHERE IDARTICULO = 'A1'");
  EXPECT_EQ(ArmarFiltro("", etapas, {}), "");
  EXPECT_TRUE(Permite("110", 1));
  EXPECT_FALSE(Permite("110", 2));
  EXPECT_FALSE(Permite("1", 1));
  EXPECT_FALSE(Permite(" ", 0));
}

// ---- The system ----------------------------------------------------------------------------

// Watches what the operator would see: whether the banner was up under each message,
// and what happens while pending events are processed.
class PlataformaObservada : public PlataformaGuionada {
 public:
  int MsgBox(const std::string& prompt, int style, const std::string& title) override {
    auto* cartel = CartelCompartido().Ventana();
    cartelBajoMensaje = cartelBajoMensaje || (cartel && cartel->Visible());
    return PlataformaGuionada::MsgBox(prompt, style, title);
  }
  void DoEvents() override {
    PlataformaGuionada::DoEvents();
    if (alProcesarEventos) alProcesarEventos();
  }
  bool cartelBajoMensaje = false;
  std::function<void()> alProcesarEventos;
};

class Replicacion : public test::SystemTest {
 protected:
  void SetUp() override {
    SystemTest::SetUp();
    observada.folder = platform.folder;
    observada.environment = platform.environment;
    observada.ventanaProgreso = [this](EventosVentanaProgreso& e) {
      eventosCartel = &e;
      return std::make_unique<Banner>(lineas);
    };
    SetPlatform(&observada);
    ConnectSessions("operador");
    test::CreateDatabase("NORTE", "SUC1", "pos.sql");
    test::CreateDatabase("SUR", "SUC2", "pos.sql");
    test::CreateDatabase("ESTE", "SUC4", "pos.sql");
    test::CreateDatabase("CENTRAL", "GRUPO", "pos.sql");
    // 0002 is on a server that does not exist; 0004 takes no tables; 0005 and 0006 are
    // not served here (they would be unreachable if they were).
    Exec(Home(),
         "INSERT INTO V_TA_TPV (CODIGO, Descripcion, Server, Dbname, INTERNET, BAJA, OL_ExceptoTablas) VALUES "
         "('0001','Sucursal Norte','NORTE','SUC1',0,0,0),"
         "('0002','Sucursal Oeste','OESTE','SUC3',0,0,NULL),"
         "('0003','Sucursal Sur','SUR:1433','SUC2',0,0,NULL),"
         "('0004','Sucursal Este','ESTE','SUC4',0,0,1),"
         "('0005','Deposito cerrado','BAJA','SUC5',0,1,0),"
         "('0006','Tienda web','WEB','SUC6',1,0,0)");
    Exec(Home(), "INSERT INTO V_TA_ETAPAS VALUES ('0013','EN REPARACION','255','E',' 0001|')");
    suc1 = test::Connect("NORTE", "SUC1");
    suc2 = test::Connect("SUR", "SUC2");
    suc4 = test::Connect("ESTE", "SUC4");
    grupo = test::Connect("CENTRAL", "GRUPO");
  }

  // Every line the banner showed, in order.
  struct Banner : VentanaProgresoSinPantalla {
    explicit Banner(std::vector<std::string>& l) : lineas(l) {}
    void Dibujar(const EstadoVentanaProgreso& e) override {
      if (e.visible && (lineas.empty() || lineas.back() != e.lineas[1])) lineas.push_back(e.lineas[1]);
    }
    std::vector<std::string>& lineas;
  };

  void Replicar(long accion, const std::string& valor1, const std::string& tabla = "V_TA_ETAPAS",
                const std::string& filtro = "") {
    std::string t = tabla;
    ReplicarTabla(t, accion, valor1, "", "", "", "", "", filtro, "", false);
  }
  void SetCfg(const std::string& clave, const std::string& valor, const std::string& aux = "") {
    Exec(Home(), "INSERT INTO TA_CONFIGURACION (Grupo, Clave, Valor, ValorAux) VALUES ('GRP','" + clave + "','" +
                     valor + "','" + aux + "')");
  }
  void GrupoCon(const std::string& tipos, const std::string& tablas = "|V_TA_ETAPAS|") {
    SetCfg("GRP_Deshabilitado", "0");
    SetCfg("GRP_Tablas", "", tablas);
    SetCfg("GRP_Tipos", tipos);
    SetCfg("GRP_Server", "CENTRAL:1433");
    SetCfg("GRP_Base", "GRUPO");
  }
  // An older target whose description column is too narrow for the home values.
  static void DescripcionAngosta(ClsDatos& db) {
    Exec(db, "DROP TABLE V_TA_ETAPAS");
    Exec(db,
         "CREATE TABLE V_TA_ETAPAS (CODIGOESTADO varchar(4) NOT NULL PRIMARY KEY, Descripcion varchar(5) NULL, "
         "Color varchar(20) NULL, Tipo varchar(1) NULL, PosiblesEstadoPrevio varchar(max) NULL)");
  }
  // Counts the UPDATE statements that reach a target's status table.
  static void ContarActualizaciones(ClsDatos& db) {
    Exec(db, "CREATE TABLE CAMBIOS (n int)");
    if (test::OnPostgreSQL()) {
      Exec(db,
           "CREATE FUNCTION contar_cambios() RETURNS trigger LANGUAGE plpgsql AS "
           "'BEGIN INSERT INTO cambios (n) VALUES (1); RETURN NULL; END'");
      Exec(db, "CREATE TRIGGER tr_cambios AFTER UPDATE ON V_TA_ETAPAS FOR EACH ROW EXECUTE FUNCTION contar_cambios()");
      return;
    }
    Exec(db, "CREATE TRIGGER tr_cambios AFTER UPDATE ON V_TA_ETAPAS BEGIN INSERT INTO CAMBIOS (n) VALUES (1); END");
  }
  std::string Etapa(ClsDatos& db, const std::string& codigo = "0013") {
    auto r = Rows(db,
                  "SELECT CODIGOESTADO, Descripcion, Color, Tipo, PosiblesEstadoPrevio FROM V_TA_ETAPAS "
                  "WHERE CODIGOESTADO = '" +
                      codigo + "'");
    return r.empty() ? "" : r[0];
  }

  // What each target still owes, as "DESTINO|TABLA|VALOR1|ACCION".
  std::vector<std::string> Pendientes() {
    return Rows(Home(),
                "SELECT DESTINO, TABLA, VALOR1, ACCION FROM V_TA_REPLICACION_PENDIENTE ORDER BY DESTINO, VALOR1");
  }
  std::string MotivoPendiente(const std::string& destino) {
    return Scalar(Home(), "SELECT MOTIVO FROM V_TA_REPLICACION_PENDIENTE WHERE DESTINO = '" + destino + "'");
  }
  // The last message of a walk: how many targets were left owing the change.
  static bool EsAvisoDePendientes(const PlataformaGuionada::Mensaje& m) {
    return m.title == "Aviso al operador" && m.prompt.find("quedó pendiente") != std::string::npos;
  }

  PlataformaObservada observada;
  std::vector<std::string> lineas;
  EventosVentanaProgreso* eventosCartel = nullptr;
  std::unique_ptr<ClsDatos> suc1, suc2, suc4, grupo;
};

TEST_F(Replicacion, SavedStatusReachesEveryReachablePointAndTheUnreachableOneIsReportedAndFlagged) {
  Replicar(1, "'0013'");

  const std::string fila = "0013|EN REPARACION|255|E| 0001|";
  EXPECT_EQ(Etapa(*suc1), fila);
  EXPECT_EQ(Etapa(*suc2), fila);  // served after the unreachable point
  EXPECT_EQ(Etapa(*suc4), "");    // excluded from the tables family
  EXPECT_EQ(Etapa(*grupo), "");   // the group is not switched on

  ASSERT_EQ(observada.shown.size(), 2u);
  // Last, what was left owing the change.
  EXPECT_TRUE(EsAvisoDePendientes(observada.shown[1])) << observada.shown[1].prompt;
  EXPECT_NE(observada.shown[1].prompt.find("1 punto de venta."), std::string::npos) << observada.shown[1].prompt;
  EXPECT_EQ(Pendientes(), std::vector<std::string>{"0002|V_TA_ETAPAS|'0013'|1"});
  EXPECT_EQ(observada.shown[0].title, "Aviso al operador");
  EXPECT_EQ(observada.shown[0].prompt, "No se pudo conectar al Punto de ventas Sucursal Oeste");
  EXPECT_EQ(observada.shown[0].style, 64);
  EXPECT_FALSE(observada.cartelBajoMensaje);

  // Served points are marked connected; the unreachable one not connected, with the time
  // it was found so and no pending flags (this program marks none); the excluded and the
  // disabled points were not even tried.
  auto tpv = Rows(Home(),
                  "SELECT CODIGO, CONECTADO, PEND_CLIENTES, PEND_TABLAS, PEND_ARTICULOS FROM V_TA_TPV ORDER BY CODIGO");
  EXPECT_EQ(tpv, (std::vector<std::string>{"0001|True|False|False|False", "0002|False|False|False|False",
                                           "0003|True|False|False|False", "0004|False|False|False|False",
                                           "0005|False|False|False|False", "0006|False|False|False|False"}));
  EXPECT_EQ(Rows(Home(), "SELECT CODIGO FROM V_TA_TPV WHERE ULTIMA_DETECCION IS NOT NULL"),
            std::vector<std::string>{"0002"});
  const auto detectada =
      DateTime::ParseIso(Scalar(Home(), "SELECT ULTIMA_DETECCION FROM V_TA_TPV WHERE CODIGO = '0002'"));
  ASSERT_TRUE(detectada.has_value());
  EXPECT_EQ(detectada->year, DateTime::Now().year);

  // The banner named the points still awaited while they were served at once, and is gone.
  ASSERT_GE(lineas.size(), 2u);
  EXPECT_EQ(lineas.front(), "Comprobando los destinos...");
  EXPECT_EQ(lineas.back(), "");
  for (size_t i = 1; i + 1 < lineas.size(); ++i)
    EXPECT_TRUE(lineas[i].empty() || lineas[i].rfind("Esperando a Punto de venta ", 0) == 0) << lineas[i];
  EXPECT_EQ(CartelCompartido().Ventana(), nullptr);
  EXPECT_FALSE(ReplicacionEnCurso());
  EXPECT_EQ(&Platform(), &observada);
}

TEST_F(Replicacion, UpdateWritesOnlyChangedColumnsAndEqualRowsNothing) {
  Exec(*suc1, "INSERT INTO V_TA_ETAPAS VALUES ('0013','En Reparacion','255','E',' 0001|')");
  Exec(*suc2, "INSERT INTO V_TA_ETAPAS VALUES ('0013','EN REPARACION','0','P',' 0001|')");
  ContarActualizaciones(*suc1);
  ContarActualizaciones(*suc2);

  Replicar(2, "'0013'");
  // Differing only in letter case is no difference.
  EXPECT_EQ(Etapa(*suc1), "0013|En Reparacion|255|E| 0001|");
  EXPECT_EQ(Scalar(*suc1, "SELECT COUNT(*) FROM CAMBIOS"), "0");
  EXPECT_EQ(Etapa(*suc2), "0013|EN REPARACION|255|E| 0001|");
  EXPECT_EQ(Scalar(*suc2, "SELECT COUNT(*) FROM CAMBIOS"), "1");

  Replicar(2, "'0013'");
  EXPECT_EQ(Scalar(*suc2, "SELECT COUNT(*) FROM CAMBIOS"), "1");
}

TEST_F(Replicacion, RefusedUpdateIsRecordedOnceReportedOnceAndTheNextPointIsStillServed) {
  DescripcionAngosta(*suc1);
  Exec(*suc1, "INSERT INTO V_TA_ETAPAS VALUES ('0013','VIEJA','0','E',' 0001|')");

  Replicar(2, "'0013'");

  auto aux = Rows(Home(), "SELECT Proceso, Error, SQL, Usuario FROM AUX_ERR");
  ASSERT_EQ(aux.size(), 1u);
  EXPECT_EQ(aux[0],
            "etapas/NORTE|8152|UPDATE V_TA_ETAPAS SET Descripcion='EN REPARACION'  , Color='255'   "
            "WHERE CODIGOESTADO = '0013'|operador");
  ASSERT_EQ(observada.shown.size(), 3u);
  const auto& m = observada.shown[0];
  EXPECT_EQ(m.title, "Atención");
  EXPECT_EQ(m.style, 16);
  EXPECT_TRUE(m.prompt.ends_with("\r\nNo se pudo actualizar la base de datos SUC1 Server: NORTE")) << m.prompt;
  EXPECT_EQ(observada.shown[1].prompt, "No se pudo conectar al Punto de ventas Sucursal Oeste");
  EXPECT_FALSE(observada.cartelBajoMensaje);
  EXPECT_EQ(Etapa(*suc1), "0013|VIEJA|0|E| 0001|");
  EXPECT_EQ(Etapa(*suc2), "0013|EN REPARACION|255|E| 0001|");
}

TEST_F(Replicacion, RefusedInsertIsOnlyReportedAndRefusedDeleteIsRecorded) {
  DescripcionAngosta(*suc1);
  Replicar(1, "'0013'");
  ASSERT_GE(observada.shown.size(), 1u);
  EXPECT_EQ(observada.shown[0].title, "Atencion");
  EXPECT_EQ(observada.shown[0].style, 64);
  EXPECT_TRUE(observada.shown[0].prompt.starts_with("Error en base de datos ")) << observada.shown[0].prompt;
  EXPECT_EQ(Scalar(Home(), "SELECT COUNT(*) FROM AUX_ERR"), "0");
  EXPECT_EQ(Etapa(*suc2), "0013|EN REPARACION|255|E| 0001|");

  // SUC2 keeps documents in that status: the deletion is refused there.
  Exec(*suc2, "CREATE TABLE ORDENES (Id int PRIMARY KEY, Estado varchar(4) REFERENCES V_TA_ETAPAS(CODIGOESTADO))");
  Exec(*suc2, "INSERT INTO ORDENES VALUES (1, '0013')");
  Exec(Home(), "DELETE V_TA_ETAPAS WHERE CODIGOESTADO = '0013'");
  observada.shown.clear();
  Replicar(3, "'0013'");
  auto aux = Rows(Home(), "SELECT Proceso, Error, SQL FROM AUX_ERR");
  ASSERT_EQ(aux.size(), 1u);
  EXPECT_EQ(aux[0], "etapas/SUR|547|DELETE V_TA_ETAPAS WHERE CODIGOESTADO = '0013'");
  EXPECT_EQ(Etapa(*suc2), "0013|EN REPARACION|255|E| 0001|");
  ASSERT_EQ(observada.shown.size(), 3u);
  EXPECT_TRUE(observada.shown[1].prompt.ends_with("No se pudo actualizar la base de datos SUC2 Server: SUR"));
}

// ---- Values from the databases that must never become SQL ---------------------------------

TEST_F(Replicacion, CatalogueNamesAreWrittenAsNamesPlainOnesAsToday) {
  Exec(*suc1, "CREATE TABLE RARA (CODIGO varchar(4) NULL, [a]]b] varchar(4) NULL, [con blanco] varchar(4) NULL)");
  std::string tipos;
  // Both engines give the catalogue's names as they were declared.
  EXPECT_EQ(VerificaCampos("RARA", *suc1, "", "", "", "", false, tipos, ""), "CODIGO,[a]]b],[con blanco]");
  EXPECT_EQ(VerificaCampos("RARA", *suc1, "", "", "", "", true, tipos, ""), "[CODIGO],[a]]b],[con blanco]");
}

TEST_F(Replicacion, APointWithAColumnTheHomeLacksIsRefusedRecordedAndTheOthersServed) {
  Exec(*suc1, "ALTER TABLE V_TA_ETAPAS ADD COLUMN \"X FROM V_TA_ETAPAS; DELETE FROM V_TA_TPV; --\" TEXT");
  Replicar(1, "'0013'");
  EXPECT_EQ(Scalar(Home(), "SELECT COUNT(*) FROM V_TA_TPV"), "6");
  EXPECT_EQ(Etapa(*suc1), "");
  EXPECT_EQ(Etapa(*suc2), "0013|EN REPARACION|255|E| 0001|");
  auto aux = Rows(Home(), "SELECT Proceso, Descripcion FROM AUX_ERR");
  ASSERT_EQ(aux.size(), 1u);
  EXPECT_TRUE(aux[0].starts_with("etapas/NORTE|")) << aux[0];
  EXPECT_NE(aux[0].find("SUC1"), std::string::npos) << aux[0];
  ASSERT_EQ(observada.shown.size(), 3u);
  EXPECT_EQ(observada.shown[0].title, "Atención");
  EXPECT_NE(observada.shown[0].prompt.find("SUC1"), std::string::npos);
  EXPECT_NE(text::FindNoCase(observada.shown[0].prompt, "DELETE FROM V_TA_TPV"), std::string::npos);
  EXPECT_EQ(observada.shown[1].prompt, "No se pudo conectar al Punto de ventas Sucursal Oeste");
}

TEST_F(Replicacion, TextInANumericColumnTravelsAsTextByInsertAndUpdate) {
  if (test::OnPostgreSQL()) GTEST_SKIP() << "a numeric column there holds only numbers";
  // Tables laid by an older program, which let the engine keep any text in a number column:
  // the rows it left must still travel as data, never as statements.
  const std::string tabla =
      "CREATE TABLE TA_MONEDAS (ID INTEGER PRIMARY KEY AUTOINCREMENT, CODIGO varchar(4) NOT NULL, "
      "DECIMALES int NULL, COTIZACION float NULL)";
  const std::string hostil = "1); DELETE FROM V_TA_ETAPAS; --";
  auto raw = [&](const std::string& server, const std::string& database, const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(root.DatabaseFile(server, database).c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
  };
  raw("CASA", "EMPRESA1",
      tabla + ";INSERT INTO TA_MONEDAS (CODIGO, DECIMALES, COTIZACION) VALUES ('DOL', '" + hostil +
          "', 'x''; DELETE FROM V_TA_TPV; --')");
  raw("NORTE", "SUC1", tabla);
  raw("SUR", "SUC2", tabla);
  Exec(*suc2, "INSERT INTO TA_MONEDAS (CODIGO, DECIMALES, COTIZACION) VALUES ('DOL', 0, 1)");
  for (ClsDatos* db : {suc1.get(), suc2.get()}) Exec(*db, "INSERT INTO V_TA_ETAPAS VALUES ('0001','X','0','P','')");

  Replicar(1, "'DOL'", "TA_MONEDAS");
  const std::string consulta = "SELECT DECIMALES, COTIZACION FROM TA_MONEDAS WHERE CODIGO = 'DOL'";
  const std::vector<std::string> esperado{hostil + "|x'; DELETE FROM V_TA_TPV; --"};
  EXPECT_EQ(Rows(*suc1, consulta), esperado);  // inserted
  EXPECT_EQ(Rows(*suc2, consulta), esperado);  // updated
  for (ClsDatos* db : {suc1.get(), suc2.get()}) EXPECT_EQ(Scalar(*db, "SELECT COUNT(*) FROM V_TA_ETAPAS"), "1");
  EXPECT_EQ(Scalar(Home(), "SELECT COUNT(*) FROM V_TA_TPV"), "6");
  EXPECT_EQ(observada.shown.size(), 2u);  // the unreachable point, then what it owes
}

TEST_F(Replicacion, APointOfSaleCodeWithAnApostropheFlagsOnlyItsOwnRow) {
  Exec(Home(), "UPDATE V_TA_TPV SET BAJA = 1");
  Exec(Home(),
       "INSERT INTO V_TA_TPV (CODIGO, Descripcion, Server, Dbname, INTERNET, BAJA, OL_ExceptoTablas) VALUES "
       "('0''7','Sucursal Rara','OESTE','SUC3',0,0,0)");
  Replicar(1, "'0013'");
  EXPECT_EQ(Rows(Home(), "SELECT CODIGO, CONECTADO FROM V_TA_TPV WHERE ULTIMA_DETECCION IS NOT NULL"),
            std::vector<std::string>{"0'7|False"});
}

TEST_F(Replicacion, ValuesAreRenderedByTypeApostrophesDropAndSkippedColumnsDiffer) {
  const std::string tabla =
      "CREATE TABLE TA_MONEDAS (ID int IDENTITY(1,1) PRIMARY KEY, CODIGO varchar(4) NOT NULL, DESCRIPCION varchar(50) "
      "NULL, "
      "ACTIVA bit NULL, COTIZACION float NULL, DECIMALES int NULL, ALTA datetime NULL, SIMBOLO varchar(5) NULL, "
      "IMAGEN varchar(10) NULL, TRANSMISION varchar(10) NULL, OBSERVACIONES varchar(50) NULL)";
  for (ClsDatos* db : {&Home(), suc1.get(), suc2.get()}) Exec(*db, tabla);
  Exec(Home(),
       "INSERT INTO TA_MONEDAS (CODIGO, DESCRIPCION, ACTIVA, COTIZACION, DECIMALES, ALTA, SIMBOLO, IMAGEN, "
       "TRANSMISION, OBSERVACIONES) VALUES ('DOL', 'Dolar de O''Brien', 1, 1234.5, 2, '2024-03-05 10:20:30', "
       "NULL, 'img', 'T1', 'obs')");
  Exec(*suc2,
       "INSERT INTO TA_MONEDAS (CODIGO, DESCRIPCION, ACTIVA, COTIZACION, DECIMALES, ALTA, SIMBOLO, IMAGEN, "
       "TRANSMISION, OBSERVACIONES) VALUES ('XXX', 'otra', 0, 1, 0, NULL, '$', NULL, NULL, NULL)");
  Exec(*suc2,
       "INSERT INTO TA_MONEDAS (CODIGO, DESCRIPCION, ACTIVA, COTIZACION, DECIMALES, ALTA, SIMBOLO, IMAGEN, "
       "TRANSMISION, OBSERVACIONES) VALUES ('DOL', 'Dolar', 0, 1, 0, NULL, '$', NULL, NULL, 'local')");

  Replicar(1, "'DOL'", "@ADMIN_TA_MONEDAS");
  EXPECT_EQ(observada.shown.size(), 2u);  // the unreachable point, then what it owes
  const std::string consulta =
      "SELECT DESCRIPCION, ACTIVA, COTIZACION, DECIMALES, ALTA, SIMBOLO, IMAGEN, TRANSMISION, OBSERVACIONES "
      "FROM TA_MONEDAS WHERE CODIGO = 'DOL'";
  // Inserted: the target's columns less ID, IMAGEN, TRANSMISION, RECEPCION, OBSERVACIONES;
  // the null home value as Null.
  EXPECT_EQ(Rows(*suc1, consulta), std::vector<std::string>{"Dolar de OBrien|True|1234.5|2|2024-03-05 10:20:30||||"});
  // Updated: IMAGEN and TRANSMISION do go when they differ; OBSERVACIONES never; the null
  // home symbol is written as its empty value text.
  EXPECT_EQ(Rows(*suc2, consulta),
            std::vector<std::string>{"Dolar de OBrien|True|1234.5|2|2024-03-05 10:20:30||img|T1|local"});
  EXPECT_EQ(Scalar(*suc2, "SELECT DESCRIPCION FROM TA_MONEDAS WHERE CODIGO = 'XXX'"), "otra");

  EXPECT_EQ(Scalar(*suc1, "SELECT COUNT(*) FROM TA_MONEDAS WHERE SIMBOLO IS NULL"), "1");

  // Booleans by the update: false is 0, and so is one emptied at home; an emptied number is Null.
  const std::string activa = "SELECT ACTIVA FROM TA_MONEDAS WHERE CODIGO = 'DOL'";
  Exec(Home(), "UPDATE TA_MONEDAS SET ACTIVA = 0");
  Replicar(2, "'DOL'", "TA_MONEDAS");
  EXPECT_EQ(Scalar(*suc2, activa), "False");
  Exec(*suc2, "UPDATE TA_MONEDAS SET ACTIVA = 1");
  Exec(Home(), "UPDATE TA_MONEDAS SET ACTIVA = NULL, DECIMALES = NULL");
  Replicar(2, "'DOL'", "TA_MONEDAS");
  EXPECT_EQ(Scalar(*suc2, activa), "False");
  EXPECT_EQ(Scalar(*suc2, "SELECT COALESCE(DECIMALES, -1) FROM TA_MONEDAS WHERE CODIGO = 'DOL'"), "-1");
}

TEST_F(Replicacion, FamiliesDecideWhichPointsReceiveATable) {
  // TA_CONFIGURACION ignores every exclusion.
  Exec(Home(),
       "UPDATE V_TA_TPV SET OL_ExceptoArticulos = 1, OL_ExceptoPrecios = 1, OL_ExceptoCuentas = 1, "
       "OL_ExceptoTablas = 1");
  SetCfg("TITULO", "Casa central");
  Replicar(1, "'TITULO'", "TA_CONFIGURACION");
  for (ClsDatos* db : {suc1.get(), suc2.get(), suc4.get()})
    EXPECT_EQ(Scalar(*db, "SELECT Valor FROM TA_CONFIGURACION WHERE Clave = 'TITULO'"), "Casa central");

  // An articles table: only a point not excluded from articles receives it, and the
  // caller's name loses its marker.
  const std::string insumos =
      "CREATE TABLE V_MA_INSUMOS (IDARTICULO varchar(10) NOT NULL, IDARTICULOINSUMO varchar(10) "
      "NOT NULL, CANTIDAD float NULL)";
  for (ClsDatos* db : {&Home(), suc1.get(), suc2.get(), suc4.get()}) Exec(*db, insumos);
  Exec(Home(), "INSERT INTO V_MA_INSUMOS VALUES ('A1', 'B2', 3)");
  Exec(Home(), "INSERT INTO V_MA_INSUMOS VALUES ('A1', 'B3', 4)");
  Exec(Home(), "UPDATE V_TA_TPV SET OL_ExceptoArticulos = NULL WHERE CODIGO = '0003'");
  std::string tabla = "@ADMIN_V_MA_INSUMOS";
  ReplicarTabla(tabla, 1, "'A1'", "'B3'", "", "", "", "", "", "", false);
  EXPECT_EQ(tabla, "V_MA_INSUMOS");
  EXPECT_EQ(Rows(*suc2, "SELECT * FROM V_MA_INSUMOS"), std::vector<std::string>{"A1|B3|4"});
  EXPECT_EQ(Scalar(*suc1, "SELECT COUNT(*) FROM V_MA_INSUMOS"), "0");
  EXPECT_EQ(Scalar(*suc4, "SELECT COUNT(*) FROM V_MA_INSUMOS"), "0");

  // A table of no family reaches no point of sale, only the group.
  const std::string modelos =
      "CREATE TABLE MA_MODELOS (TIPO_REG varchar(2) NOT NULL, NOMBRE varchar(20) NOT NULL, "
      "SECUENCIA int NOT NULL, TEXTO varchar(50) NULL)";
  for (ClsDatos* db : {&Home(), suc1.get(), suc2.get(), grupo.get()}) Exec(*db, modelos);
  Exec(Home(), "INSERT INTO MA_MODELOS VALUES ('F', 'FACTURA', 1, 'cuerpo')");
  GrupoCon("111", "|MA_MODELOS|");
  observada.shown.clear();
  Exec(Home(), "UPDATE V_TA_TPV SET CONECTADO = 0");
  tabla = "MA_MODELOS";
  ReplicarTabla(tabla, 1, "'F'", "", "", "", "", "", "NOMBRE = 'FACTURA'", "", false);
  EXPECT_TRUE(observada.shown.empty());
  EXPECT_EQ(Scalar(Home(), "SELECT COUNT(*) FROM V_TA_TPV WHERE CONECTADO = 1"), "0");
  EXPECT_EQ(Scalar(*suc1, "SELECT COUNT(*) FROM MA_MODELOS"), "0");
  EXPECT_EQ(Rows(*grupo, "SELECT * FROM MA_MODELOS"), std::vector<std::string>{"F|FACTURA|1|cuerpo"});

  // A filter matching several target rows: the first is compared, all are updated.
  Exec(*grupo, "INSERT INTO MA_MODELOS VALUES ('F', 'FACTURA', 2, 'pie')");
  Exec(Home(), "UPDATE MA_MODELOS SET TEXTO = 'nuevo'");
  ReplicarTabla(tabla, 2, "'F'", "'FACTURA'", "", "", "", "", "", "", false);
  EXPECT_EQ(Rows(*grupo, "SELECT * FROM MA_MODELOS ORDER BY SECUENCIA"),
            (std::vector<std::string>{"F|FACTURA|1|nuevo", "F|FACTURA|2|nuevo"}));
}

TEST_F(Replicacion, GroupDatabaseTakesOnlyThePermittedKindsOfChange) {
  Exec(Home(), "UPDATE V_TA_TPV SET BAJA = 1");  // no point of sale: only the group step runs
  GrupoCon("110");
  Replicar(1, "'0013'");
  EXPECT_EQ(Etapa(*grupo), "0013|EN REPARACION|255|E| 0001|");
  Exec(Home(), "UPDATE V_TA_ETAPAS SET Descripcion = 'REPARADO'");
  Replicar(2, "'0013'");
  EXPECT_EQ(Etapa(*grupo), "0013|REPARADO|255|E| 0001|");
  Replicar(3, "'0013'");
  EXPECT_EQ(Etapa(*grupo), "0013|REPARADO|255|E| 0001|");

  Exec(Home(), "UPDATE TA_CONFIGURACION SET Valor = '1' WHERE Clave = 'GRP_Tipos'");
  Exec(Home(), "INSERT INTO V_TA_ETAPAS VALUES ('0014','NUEVA','0','P','')");
  Exec(Home(), "UPDATE V_TA_ETAPAS SET Descripcion = 'OTRA VEZ' WHERE CODIGOESTADO = '0013'");
  Replicar(1, "'0014'");
  Replicar(2, "'0013'");
  EXPECT_EQ(Etapa(*grupo, "0014"), "0014|NUEVA|0|P|");
  EXPECT_EQ(Etapa(*grupo), "0013|REPARADO|255|E| 0001|");

  // Without GRP_Tipos nothing is written, though the target is still prepared.
  Exec(Home(), "DELETE TA_CONFIGURACION WHERE Clave = 'GRP_Tipos'");
  Exec(*grupo, "DELETE V_TA_ETAPAS");
  Replicar(1, "'0013'");
  EXPECT_EQ(Etapa(*grupo), "");
  EXPECT_EQ(SesionSistema.DatosDestino->BaseDatos(), "GRUPO");
  EXPECT_EQ(SesionSistema.DatosDestino->Servidor(), "CENTRAL");
  EXPECT_TRUE(observada.shown.empty());
}

TEST_F(Replicacion, UnreachableGroupDatabaseFailsIntoTheErrorReporting) {
  Exec(Home(), "UPDATE V_TA_TPV SET BAJA = 1");
  GrupoCon("111");
  Exec(Home(), "UPDATE TA_CONFIGURACION SET Valor = 'NOHAY' WHERE Clave = 'GRP_Base'");
  observada.answers = {1, 5, 3};  // the connection notice, the column discovery, then stop
  Replicar(1, "'0013'");
  ASSERT_EQ(observada.shown.size(), 4u);
  EXPECT_NE(observada.shown[0].prompt.find("NOHAY"), std::string::npos);
  EXPECT_NE(observada.shown[1].title.find("VerificaCampos"), std::string::npos);
  EXPECT_EQ(observada.shown[2].title, "ClsDatos Aviso al operador!!! - 2 ");  // no routine name
  EXPECT_FALSE(observada.cartelBajoMensaje);
  EXPECT_EQ(CartelCompartido().Ventana(), nullptr);
}

TEST_F(Replicacion, ACallWithoutAnyConditionWritesNowhereAndSaysSo) {
  Exec(*suc1, "INSERT INTO V_TA_ETAPAS VALUES ('0001','PRIMERA','0','P','')");
  Exec(*suc1, "INSERT INTO V_TA_ETAPAS VALUES ('0002','SEGUNDA','0','P','')");
  for (long accion : {2L, 3L}) {
    observada.shown.clear();
    Replicar(accion, "", "V_TA_ETAPAS", "  ");
    ASSERT_EQ(observada.shown.size(), 1u);
    EXPECT_EQ(observada.shown[0].title, "etapas Aviso al operador!!! - 2 ");
    EXPECT_NE(observada.shown[0].prompt.find("V_TA_ETAPAS"), std::string::npos);
    EXPECT_EQ(Scalar(*suc1, "SELECT COUNT(*) FROM V_TA_ETAPAS"), "2");
    EXPECT_EQ(Rows(*suc1, "SELECT Descripcion FROM V_TA_ETAPAS ORDER BY 1"),
              (std::vector<std::string>{"PRIMERA", "SEGUNDA"}));
  }
  EXPECT_EQ(Scalar(Home(), "SELECT COUNT(*) FROM V_TA_TPV WHERE CONECTADO = 1 OR ULTIMA_DETECCION IS NOT NULL"), "0");

  // A condition of the caller's own is enough.
  Exec(Home(), "UPDATE V_TA_TPV SET BAJA = 1 WHERE CODIGO <> '0001'");
  Replicar(2, "", "V_TA_ETAPAS", "CODIGOESTADO = '0013'");
  EXPECT_EQ(Etapa(*suc1), "0013|EN REPARACION|255|E| 0001|");
}

TEST_F(Replicacion, ASecondCallWhileOneIsRunningIsRefused) {
  int anidadas = 0;
  observada.alProcesarEventos = [&] {
    if (anidadas++ > 0) return;
    EXPECT_TRUE(ReplicacionEnCurso());
    // The operator clicks save again while the first replication lets events through.
    Exec(Home(), "INSERT INTO V_TA_ETAPAS VALUES ('0099','OTRA','0','P','')");
    Replicar(1, "'0099'");
  };
  Replicar(1, "'0013'");
  EXPECT_EQ(Etapa(*suc1), "0013|EN REPARACION|255|E| 0001|");
  EXPECT_EQ(Etapa(*suc2), "0013|EN REPARACION|255|E| 0001|");
  EXPECT_EQ(Etapa(*suc1, "0099"), "");
  EXPECT_EQ(Etapa(*suc2, "0099"), "");
  ASSERT_EQ(observada.shown.size(), 3u);
  EXPECT_NE(observada.shown[0].prompt.find("replicación en curso"), std::string::npos);
  EXPECT_FALSE(ReplicacionEnCurso());
  observada.alProcesarEventos = nullptr;
  Replicar(1, "'0099'");
  EXPECT_EQ(Etapa(*suc1, "0099"), "0099|OTRA|0|P|");
}

TEST_F(Replicacion, OtherActionsConnectEverywhereAndWriteNothing) {
  Exec(*suc1, "INSERT INTO V_TA_ETAPAS VALUES ('0013','VIEJA','0','E','')");
  Replicar(4, "'0013'");
  EXPECT_EQ(Etapa(*suc1), "0013|VIEJA|0|E|");
  EXPECT_EQ(Etapa(*suc2), "");
  EXPECT_EQ(Rows(Home(), "SELECT CODIGO FROM V_TA_TPV WHERE CONECTADO = 1 ORDER BY CODIGO"),
            (std::vector<std::string>{"0001", "0003"}));
}

TEST_F(Replicacion, AdminMarkedTablesAreFoundThroughTheMarkerAndWrittenByTheirName) {
  const std::string cuentas =
      "CREATE TABLE MA_CUENTAS (codigo varchar(10) NOT NULL PRIMARY KEY, RAZON_SOCIAL varchar(50) NULL)";
  for (ClsDatos* db : {&Home(), suc1.get(), suc2.get()}) Exec(*db, cuentas);
  Exec(Home(), "INSERT INTO MA_CUENTAS VALUES ('C1', 'Cliente Nuevo')");
  Exec(*suc2, "INSERT INTO MA_CUENTAS VALUES ('C1', 'Cliente Viejo')");
  Replicar(1, "'C1'", "@admin_MA_CUENTAS");
  EXPECT_EQ(Rows(*suc1, "SELECT * FROM MA_CUENTAS"), std::vector<std::string>{"C1|Cliente Nuevo"});
  EXPECT_EQ(Rows(*suc2, "SELECT * FROM MA_CUENTAS"), std::vector<std::string>{"C1|Cliente Nuevo"});
}

// ---- Company groups --------------------------------------------------------------------------

TEST_F(Replicacion, GroupSettingsDecideWhichTablesGoToTheGroup) {
  struct Caso {
    const char* deshabilitado;  // nullptr: no row
    const char* tablas;
    std::vector<std::pair<const char*, bool>> esperado;
  };
  const Caso casos[] = {
      {nullptr, "|V_TA_ETAPAS|", {{"V_TA_ETAPAS", false}, {"ma_cuentas_servicios", false}}},
      {"", "|V_TA_ETAPAS|", {{"V_TA_ETAPAS", false}}},
      {"1", "|V_TA_ETAPAS|", {{"V_TA_ETAPAS", false}}},
      {" 0", "|V_TA_ETAPAS|", {{"V_TA_ETAPAS", false}}},
      {"0", "V_TA_ETAPAS|TA_TAREAS|", {{"v_ta_etapas", true}, {"@ADMIN_TA_TAREAS", true}, {"V_TA_ETAPA", false}}},
      {"0", "V_TA_ETAPAS|TA_TAREAS", {{"V_TA_ETAPAS", true}, {"TA_TAREAS", false}}},
      {"0", "|V_TA_ETAPA|", {{"V_TA_ETAPAS", false}, {"V_MV_STATUS", true}, {"V_MV_CPTE_ELECTRONICOS", true}}},
      {"0", "", {{"MA_CUENTAS_SERVICIOS", true}, {"V_MV_CPTE", false}, {"V_TA_ETAPAS", false}}},
  };
  for (const auto& c : casos) {
    Exec(Home(), "DELETE TA_CONFIGURACION");
    if (c.deshabilitado) SetCfg("GRP_Deshabilitado", c.deshabilitado);
    SetCfg("GRP_Tablas", "ignorado", c.tablas);
    for (const auto& [tabla, esperado] : c.esperado)
      EXPECT_EQ(GrupoHabilitado(tabla), esperado)
          << (c.deshabilitado ? c.deshabilitado : "(none)") << " / " << c.tablas << " / " << tabla;
  }
}

TEST_F(Replicacion, ConectarDestinoCutsThePortAndFallsBackOnTheGroupSettings) {
  std::string servidor = "SUR:1433", base = "SUC2";
  ConectarDestino(servidor, base);
  ClsDatos& destino = *SesionSistema.DatosDestino;
  EXPECT_TRUE(destino.Conectado());
  EXPECT_EQ(destino.Servidor(), "SUR");
  EXPECT_EQ(destino.Usuario(), "SUC2");
  EXPECT_EQ(destino.Clave(), "SUC2");

  SetCfg("GRP_Server", "CENTRAL");
  SetCfg("GRP_Base", "GRUPO");
  servidor.clear();
  base.clear();
  ConectarDestino(servidor, base);
  EXPECT_EQ(servidor, "CENTRAL");
  EXPECT_EQ(base, "GRUPO");
  EXPECT_TRUE(destino.Conectado());
  EXPECT_EQ(destino.Conexion()->DefaultDatabase(), "GRUPO");
}

// ---- Column discovery -----------------------------------------------------------------------

TEST_F(Replicacion, VerificaCamposListsTheTargetsColumnsLessTheExcludedOnes) {
  Exec(*suc1,
       "CREATE TABLE PRODUCTOS (ID int, CODIGO varchar(4), DESCRIPCION varchar(20), imagen varchar(5), "
       "IMAGEN2 varchar(5), IMAGE varchar(5), ACTIVO bit, PRECIO float)");
  std::string tipos = "basura";
  EXPECT_EQ(VerificaCampos("productos", *suc1, "id", "IMAGEN", "", "", false, tipos),
            "CODIGO,DESCRIPCION,IMAGEN2,IMAGE,ACTIVO,PRECIO");
  EXPECT_EQ(tipos, "200,200,200,200,11,5");
  EXPECT_EQ(VerificaCampos("PRODUCTOS", *suc1, "ID", "CODIGO", "DESCRIPCION", "ACTIVO", true, tipos, "PRECIO"),
            "[imagen],[IMAGEN2],[IMAGE]");
  EXPECT_EQ(tipos, "200,200,200");
  EXPECT_EQ(VerificaCampos("NO_EXISTE", *suc1, "", "", "", "", false, tipos), "");
  EXPECT_EQ(tipos, "");
  EXPECT_TRUE(observada.shown.empty());

  // A session that is not connected: reported under the routine's name, nothing listed.
  ClsDatos sinConexion;
  observada.answers = {3};
  tipos = "x";
  EXPECT_EQ(VerificaCampos("V_TA_ETAPAS", sinConexion, "", "", "", "", false, tipos), "");
  EXPECT_EQ(tipos, "");
  ASSERT_EQ(observada.shown.size(), 1u);
  EXPECT_NE(observada.shown[0].title.find("VerificaCampos"), std::string::npos);
}

// ---- No store left behind -------------------------------------------------------------------

// A store's database that opens but cannot take the change (corrupt, or without the table)
// is unreachable for this save: flagged as such, named, and left owing the change.
TEST_F(Replicacion, AStoreThatCannotTakeTheChangeIsUnreachableFlaggedAndLeftPending) {
  if (test::OnPostgreSQL()) GTEST_SKIP() << "the stores' files are the embedded engine's";
  suc1.reset();
  {
    std::ofstream basura(root.DatabaseFile("NORTE", "SUC1"), std::ios::binary | std::ios::trunc);
    basura << std::string(8192, 'x');
  }
  Exec(*suc2, "DROP TABLE V_TA_ETAPAS");

  Replicar(1, "'0013'");

  ASSERT_EQ(observada.shown.size(), 4u);
  EXPECT_EQ(observada.shown[0].prompt, "No se pudo conectar al Punto de ventas Sucursal Norte");
  EXPECT_EQ(observada.shown[1].prompt, "No se pudo conectar al Punto de ventas Sucursal Oeste");
  EXPECT_EQ(observada.shown[2].prompt, "No se pudo conectar al Punto de ventas Sucursal Sur");
  EXPECT_TRUE(EsAvisoDePendientes(observada.shown[3])) << observada.shown[3].prompt;
  EXPECT_NE(observada.shown[3].prompt.find("3 puntos de venta"), std::string::npos) << observada.shown[3].prompt;
  EXPECT_EQ(Rows(Home(), "SELECT CODIGO, CONECTADO FROM V_TA_TPV WHERE ULTIMA_DETECCION IS NOT NULL ORDER BY CODIGO"),
            (std::vector<std::string>{"0001|False", "0002|False", "0003|False"}));
  EXPECT_EQ(Pendientes(), (std::vector<std::string>{"0001|V_TA_ETAPAS|'0013'|1", "0002|V_TA_ETAPAS|'0013'|1",
                                                    "0003|V_TA_ETAPAS|'0013'|1"}));
  // The reason says what was wrong with each.
  EXPECT_NE(MotivoPendiente("0003").find("V_TA_ETAPAS"), std::string::npos) << MotivoPendiente("0003");
  EXPECT_EQ(Etapa(*suc4), "");
}

// Served at once, the stores tell the operator and the home database exactly what serving
// them one after another tells: the messages, AUX_ERR, the V_TA_TPV flags and the debts.
TEST_F(Replicacion, StoresServedAtOnceTellAndRecordWhatOneAfterAnotherWould) {
  for (int i = 7; i <= 10; ++i) test::CreateDatabase("NORTE", "SUC" + std::to_string(i), "pos.sql");
  Exec(Home(),
       "INSERT INTO V_TA_TPV (CODIGO, Descripcion, Server, Dbname, INTERNET, BAJA, OL_ExceptoTablas) VALUES "
       "('0007','Sucursal 7','NORTE','SUC7',0,0,0), ('0008','Sucursal 8','NORTE','SUC8',0,0,0),"
       "('0009','Sucursal 9','NORTE','SUC9',0,0,0), ('0010','Sucursal 10','NORTE','SUC10',0,0,0),"
       "('0011','Sucursal 11','NOHAY','SUC11',0,0,0)");
  DescripcionAngosta(*suc1);  // refuses the update
  DescripcionAngosta(*suc2);  // refuses the insert
  GrupoCon("111");
  auto corrida = [&](const std::string& codigo, const std::string& aLaVez) {
    Exec(Home(), "DELETE FROM TA_CONFIGURACION WHERE Clave = 'REP_DestinosALaVez'");
    SetCfg("REP_DestinosALaVez", aLaVez);
    Exec(Home(), "DELETE FROM AUX_ERR");
    Exec(Home(), "UPDATE V_TA_TPV SET CONECTADO = 0, ULTIMA_DETECCION = NULL");
    Exec(Home(), "INSERT INTO V_TA_ETAPAS VALUES ('" + codigo + "','EN REPARACION','255','E','')");
    Exec(*suc1, "INSERT INTO V_TA_ETAPAS VALUES ('" + codigo + "','VIEJA','0','E','')");
    observada.shown.clear();
    Replicar(1, "'" + codigo + "'");
    std::vector<std::string> visto;
    for (const auto& m : observada.shown) visto.push_back(m.title + "|" + text::ReplaceAll(m.prompt, codigo, "#"));
    for (const auto& consulta :
         {std::string("SELECT Proceso, Error, Descripcion FROM AUX_ERR ORDER BY Id"),
          std::string("SELECT CODIGO, CONECTADO, CASE WHEN ULTIMA_DETECCION IS NULL THEN 0 ELSE 1 END FROM V_TA_TPV "
                      "ORDER BY CODIGO"),
          "SELECT DESTINO, MOTIVO FROM V_TA_REPLICACION_PENDIENTE WHERE VALOR1 = '''" + codigo +
              "''' ORDER BY DESTINO"})
      for (const auto& fila : Rows(Home(), consulta)) visto.push_back(text::ReplaceAll(fila, codigo, "#"));
    return visto;
  };
  const auto unoTrasOtro = corrida("0021", "1");
  EXPECT_EQ(corrida("0022", ""), unoTrasOtro);
  EXPECT_EQ(std::count_if(unoTrasOtro.begin(), unoTrasOtro.end(),
                          [](const std::string& l) { return l.starts_with("Aviso al operador|No se pudo conectar"); }),
            2);
  for (const char* base : {"SUC7", "SUC10"})
    EXPECT_EQ(Etapa(*test::Connect("NORTE", base), "0022"), "0022|EN REPARACION|255|E|") << base;
  EXPECT_EQ(Etapa(*grupo, "0022"), "0022|EN REPARACION|255|E|");
}

// The delaying relay of scripts/wan.sh in front of a server: 20 ms each way.
class Relevo {
 public:
  Relevo(const std::string& destino, const std::string& carpeta) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t largo = sizeof a;
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &largo);
    puerto_ = std::to_string(ntohs(a.sin_port));
    close(fd);
    const std::string pid = carpeta + "/relevo.pid";
    std::vector<std::string> argv = {ETAPAS_WAN_RELAY_PATH,
                                     "127.0.0.1",
                                     puerto_,
                                     destino.substr(0, destino.find(':')),
                                     destino.substr(destino.find(':') + 1),
                                     "20",
                                     pid};
    std::vector<char*> args;
    for (auto& x : argv) args.push_back(x.data());
    args.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
      // It dies with the test and holds none of its output: a crashed test leaves no relay
      // keeping the test runner waiting.
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      const int nulo = open("/dev/null", O_RDWR);
      dup2(nulo, 0);
      dup2(nulo, 1);
      dup2(nulo, 2);
      execv(args[0], args.data());
      _exit(127);
    }
    EXPECT_GT(pid_, 0);
    for (int i = 0; i < 100 && !std::filesystem::exists(pid); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ~Relevo() {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  std::string Direccion() const { return "127.0.0.1:" + puerto_; }

 private:
  pid_t pid_ = -1;
  std::string puerto_;
};

// Twenty stores a WAN away are served at once: all of them in little more than one store's
// time, none held back by one whose row is locked mid-statement, and a cancel while they are
// under way leaves each one with the change or owing it.
TEST_F(Replicacion, StoresAWanAwayAreServedAtOnceAndOneThatHangsHoldsNobodyBack) {
  if (!test::OnPostgreSQL()) GTEST_SKIP() << "the stores a WAN away are PostgreSQL servers";
  // SUR's databases, reached the long way round.
  Relevo relevo(test::Env("ETAPAS_TEST_PG_HOME", "127.0.0.1:55432"), root.Path());
  std::ofstream(root.Path() + "/servers.conf", std::ios::app)
      << "LEJOS = postgresql " << relevo.Direccion() << " user=" << test::Env("ETAPAS_TEST_PG_USER", "etapas")
      << " prefix=" << root.Prefix() << "sur_\n";
  constexpr int kTiendas = 20;
  Exec(Home(), "UPDATE V_TA_TPV SET BAJA = 1");
  std::vector<std::unique_ptr<ClsDatos>> tiendas;
  for (int i = 0; i < kTiendas; ++i) {
    const std::string n = std::to_string(101 + i);
    test::CreateDatabase("SUR", "SUC" + n, "pos.sql");
    tiendas.push_back(test::Connect("SUR", "SUC" + n));
    Exec(Home(), "INSERT INTO V_TA_TPV (CODIGO, Descripcion, Server, Dbname, INTERNET, BAJA) VALUES ('L" + n +
                     "','Lejana " + n + "','LEJOS','SUC" + n + "'," + (i == 0 ? "0" : "1") + ",0)");
  }
  using Reloj = std::chrono::steady_clock;
  auto desde = [](Reloj::time_point t) { return std::chrono::duration<double>(Reloj::now() - t).count(); };
  auto inicio = Reloj::now();
  Replicar(1, "'0013'");
  const double una = desde(inicio);
  ASSERT_EQ(Etapa(*tiendas[0]), "0013|EN REPARACION|255|E| 0001|");

  // Store 5 has the row locked by another session until every other store holds the change.
  Exec(Home(), "UPDATE V_TA_TPV SET INTERNET = 0");
  Exec(Home(), "INSERT INTO V_TA_ETAPAS VALUES ('0014','EN ESPERA','0','P','')");
  Exec(*tiendas[4], "INSERT INTO V_TA_ETAPAS VALUES ('0014','VIEJA','0','P','')");
  auto bloqueo = test::Connect("SUR", "SUC105");
  Exec(*bloqueo, "BEGIN TRANSACTION");
  Exec(*bloqueo, "UPDATE V_TA_ETAPAS SET Color = '1' WHERE CODIGOESTADO = '0014'");
  double otras = -1;
  inicio = Reloj::now();
  observada.alProcesarEventos = [&] {
    if (otras >= 0) return;
    for (int i = 0; i < kTiendas; ++i)
      if (i != 4 && Etapa(*tiendas[static_cast<size_t>(i)], "0014").empty()) return;
    otras = desde(inicio);
    Exec(*bloqueo, "ROLLBACK TRANSACTION");
  };
  Replicar(1, "'0014'");
  observada.alProcesarEventos = nullptr;
  ASSERT_GE(otras, 0) << "the other stores waited for the locked one";
  // One after another they would take twenty times one store's save.
  EXPECT_LT(otras, 4 * una) << "one store " << una << " s";
  for (auto& t : tiendas) EXPECT_EQ(Etapa(*t, "0014"), "0014|EN ESPERA|0|P|");
  EXPECT_EQ(Pendientes(), std::vector<std::string>{});

  // A cancel while four at a time are under way: the rest were never started.
  SetCfg("REP_DestinosALaVez", "4");
  Exec(Home(), "INSERT INTO V_TA_ETAPAS VALUES ('0015','EN CAMINO','0','P','')");
  observada.alProcesarEventos = [&] {
    if (eventosCartel) eventosCartel->AlPulsarCancelar();
  };
  Replicar(1, "'0015'");
  observada.alProcesarEventos = nullptr;
  int deben = 0;
  for (int i = 0; i < kTiendas; ++i) {
    const std::string codigo = "L" + std::to_string(101 + i);
    const bool debe =
        !Rows(Home(), "SELECT ID FROM V_TA_REPLICACION_PENDIENTE WHERE DESTINO = '" + codigo + "'").empty();
    deben += debe ? 1 : 0;
    EXPECT_NE(Etapa(*tiendas[static_cast<size_t>(i)], "0015").empty(), !debe) << codigo;
    if (debe) { EXPECT_NE(MotivoPendiente(codigo).find("cancelada"), std::string::npos) << MotivoPendiente(codigo); }
  }
  EXPECT_GE(deben, kTiendas - 8);
  ASSERT_FALSE(observada.shown.empty());
  EXPECT_NE(observada.shown.back().prompt.find(std::to_string(deben) + " puntos de venta"), std::string::npos);
}

// The error dialog's default answer ends the walk: the store that failed and every store
// after it are written down, and the operator is told how many.
TEST_F(Replicacion, AWalkEndedAtAFailureLeavesEveryStoreItDidNotServePending) {
  SetCfg("REP_DestinosALaVez", "1");  // one store after another, so some are not reached
  // A column the home table lacks fails the transfer into the error dialog.
  Exec(*suc1, "ALTER TABLE V_TA_ETAPAS ADD EXTRA varchar(5) NULL");

  Replicar(1, "'0013'");

  ASSERT_GE(observada.shown.size(), 2u);
  EXPECT_TRUE(EsAvisoDePendientes(observada.shown.back())) << observada.shown.back().prompt;
  EXPECT_NE(observada.shown.back().prompt.find("3 puntos de venta"), std::string::npos);
  EXPECT_EQ(Pendientes(), (std::vector<std::string>{"0001|V_TA_ETAPAS|'0013'|1", "0002|V_TA_ETAPAS|'0013'|1",
                                                    "0003|V_TA_ETAPAS|'0013'|1"}));
  EXPECT_NE(MotivoPendiente("0003").find("se detuvo"), std::string::npos) << MotivoPendiente("0003");
  EXPECT_EQ(Etapa(*suc2), "");

  // Once the store is mended, the next save of any status serves what each store it reaches
  // still owes; the unreachable one keeps owing.
  Exec(*suc1, "ALTER TABLE V_TA_ETAPAS DROP COLUMN EXTRA");
  Exec(Home(), "INSERT INTO V_TA_ETAPAS VALUES ('0014','EN ESPERA','0','P','')");
  observada.shown.clear();
  Replicar(1, "'0014'");
  for (ClsDatos* db : {suc1.get(), suc2.get()}) {
    EXPECT_EQ(Etapa(*db), "0013|EN REPARACION|255|E| 0001|");
    EXPECT_EQ(Etapa(*db, "0014"), "0014|EN ESPERA|0|P|");
  }
  EXPECT_EQ(Pendientes(), (std::vector<std::string>{"0002|V_TA_ETAPAS|'0013'|1", "0002|V_TA_ETAPAS|'0014'|1"}));
  ASSERT_EQ(observada.shown.size(), 2u);
  EXPECT_NE(observada.shown[1].prompt.find("1 punto de venta."), std::string::npos) << observada.shown[1].prompt;
}

// "Cancelar" on the banner stops the walk between stores; the stores not reached owe the change.
TEST_F(Replicacion, CancelStopsTheWalkBetweenStoresAndTheRestArePending) {
  SetCfg("REP_DestinosALaVez", "1");
  // The operator clicks while the first store is being served.
  bool pulsado = false;
  observada.alProcesarEventos = [&] {
    if (pulsado || !eventosCartel || lineas.empty() ||
        lineas.back() != "Esperando a Punto de venta Sucursal Norte (0001)")
      return;
    pulsado = true;
    eventosCartel->AlPulsarCancelar();
  };
  Replicar(1, "'0013'");
  observada.alProcesarEventos = nullptr;

  EXPECT_EQ(Etapa(*suc1), "0013|EN REPARACION|255|E| 0001|");
  EXPECT_EQ(Etapa(*suc2), "");
  EXPECT_EQ(Pendientes(), (std::vector<std::string>{"0002|V_TA_ETAPAS|'0013'|1", "0003|V_TA_ETAPAS|'0013'|1"}));
  EXPECT_NE(MotivoPendiente("0003").find("cancelada"), std::string::npos) << MotivoPendiente("0003");
  ASSERT_EQ(observada.shown.size(), 1u);
  EXPECT_NE(observada.shown[0].prompt.find("2 puntos de venta"), std::string::npos) << observada.shown[0].prompt;
  // Nobody tried the stores after the cancel.
  EXPECT_EQ(Rows(Home(), "SELECT CODIGO FROM V_TA_TPV WHERE ULTIMA_DETECCION IS NOT NULL"), std::vector<std::string>{});
}

// A home database laid before the table of pending changes existed gets it at the first miss.
// A newer save lands while an older transfer to the same store is between reading the
// home row and writing it: the older one must not leave its value there unowed.
TEST_F(Replicacion, ANewerSaveLandingMidTransferIsNotOverwrittenByTheOlderOne) {
  Exec(*suc1, "INSERT INTO V_TA_ETAPAS VALUES ('0013','VIEJA','255','E',' 0001|')");
  Exec(*suc2, "INSERT INTO V_TA_ETAPAS VALUES ('0013','VIEJA','255','E',' 0001|')");
  Exec(Home(), "UPDATE V_TA_ETAPAS SET Descripcion = 'PRIMERA' WHERE CODIGOESTADO = '0013'");
  bool hecho = false;
  test::ProcessResult otro;
  replicacion::AntesDeEscribir() = [&] {
    if (hecho) return;
    hecho = true;
    // Another editor saves and records the newer row, then sincronizar runs.
    auto otraCasa = test::Connect("CASA", "EMPRESA1");
    Exec(*otraCasa, "UPDATE V_TA_ETAPAS SET Descripcion = 'SEGUNDA' WHERE CODIGOESTADO = '0013'");
    for (const char* destino : {"0001", "0003"}) {
      CambioPendiente c;
      c.Tabla = "V_TA_ETAPAS";
      c.Accion = 1;
      c.Valores = {"'0013'"};
      c.Destino = destino;
      ASSERT_TRUE(RegistrarPendiente(*otraCasa, c));
    }
    otro = test::RunProcess({ETAPAS_ADMIN_PATH, "sincronizar", "--server", "CASA", "--database", "EMPRESA1"},
                            {{"TEMP", root.Path()}});
  };
  Replicar(1, "'0013'");
  replicacion::AntesDeEscribir() = nullptr;

  ASSERT_TRUE(hecho);
  EXPECT_NE(otro.stdoutText.find("0001 SUC1"), std::string::npos) << otro.stdoutText << otro.stderrText;
  EXPECT_EQ(Etapa(*suc1), "0013|SEGUNDA|255|E| 0001|");
  EXPECT_EQ(Etapa(*suc2), "0013|SEGUNDA|255|E| 0001|");
  EXPECT_EQ(Pendientes(), (std::vector<std::string>{"0002|V_TA_ETAPAS|'0013'|1"}));
}

TEST_F(Replicacion, AnOlderHomeDatabaseGetsTheTableOfPendingChangesWhenAStoreMisses) {
  Exec(Home(), "DROP TABLE V_TA_REPLICACION_PENDIENTE");
  Replicar(1, "'0013'");
  EXPECT_EQ(Pendientes(), std::vector<std::string>{"0002|V_TA_ETAPAS|'0013'|1"});
  ASSERT_EQ(observada.shown.size(), 2u);
  EXPECT_NE(observada.shown[1].prompt.find("etapas-admin sincronizar"), std::string::npos);
}

// ---- Remote connection and point-of-sale flags ----------------------------------------------

TEST_F(Replicacion, ReachabilityTestRecordsThePointsState) {
  ClsDatos& remotos = *SesionSistema.DatosRemotos;
  const std::string estado =
      "SELECT CONECTADO, ULTIMA_DETECCION IS NULL, PEND_CLIENTES, PEND_PROVEEDORES, "
      "PEND_TABLAS, PEND_ARTICULOS, PEND_PRECIOS FROM V_TA_TPV WHERE CODIGO = ";

  EXPECT_TRUE(ConexionBaseRemota(" SUR:1433 ", " SUC2 ", "SUC2", "SUC2", "0003", ""));
  ASSERT_TRUE(remotos.Conectado());
  EXPECT_EQ(remotos.Servidor(), "SUR");
  EXPECT_EQ(remotos.Conexion()->CommandTimeout(), 360);
  EXPECT_EQ(remotos.Conexion()->DefaultDatabase(), "SUC2");
  EXPECT_EQ(Rows(Home(), estado + "'0003'"), std::vector<std::string>{"True|1|False|False|False|False|False"});

  // Port 3306 is refused before anything is touched: the open session stays open.
  EXPECT_FALSE(ConexionBaseRemota("OESTE", "SUC3", "SUC3", "SUC3", "0002", " 3306 "));
  ASSERT_TRUE(remotos.Conectado());
  EXPECT_EQ(Rows(Home(), estado + "'0002'"), std::vector<std::string>{"False|1|False|False|False|False|False"});

  // Unreachable: the detection time, and the pending flags of the running program.
  const std::pair<const char*, const char*> programas[] = {
      {"etapas", "False|0|False|False|False|False|False"},
      {"Clientes", "False|0|True|True|False|False|False"},
      {"VENDEDORES", "False|0|False|False|True|False|False"},
      {"PlanillaPrecios", "False|0|False|False|False|True|True"},
  };
  for (const auto& [programa, esperado] : programas) {
    Exec(Home(),
         "UPDATE V_TA_TPV SET CONECTADO = 1, ULTIMA_DETECCION = NULL, PEND_CLIENTES = 0, PEND_PROVEEDORES = 0, "
         "PEND_TABLAS = 0, PEND_ARTICULOS = 0, PEND_PRECIOS = 0");
    observada.exeName = programa;
    EXPECT_FALSE(ConexionBaseRemota("OESTE", "SUC3", "SUC3", "SUC3", "0002", "")) << programa;
    EXPECT_FALSE(remotos.Conectado());
    EXPECT_EQ(Rows(Home(), estado + "'0002'"), std::vector<std::string>{esperado}) << programa;
  }
  EXPECT_EQ(SentenciaPendientes("etapas"), "");

  // Without a code, only the answer.
  Exec(Home(), "UPDATE V_TA_TPV SET CONECTADO = 1, ULTIMA_DETECCION = NULL");
  EXPECT_FALSE(ConexionBaseRemota("OESTE", "SUC3", "SUC3", "SUC3", "", ""));
  EXPECT_TRUE(ConexionBaseRemota("NORTE", "SUC1", "SUC1", "SUC1", "", ""));
  EXPECT_EQ(Scalar(Home(), "SELECT COUNT(*) FROM V_TA_TPV WHERE CONECTADO = 0 OR ULTIMA_DETECCION IS NOT NULL"), "0");
  EXPECT_TRUE(observada.shown.empty());

  // Any other failure is offered for retry; cancel answers false though the point answered.
  Home().Conexion()->Close();
  observada.answers = {2};
  EXPECT_FALSE(ConexionBaseRemota("NORTE", "SUC1", "SUC1", "SUC1", "0001", ""));
  ASSERT_EQ(observada.shown.size(), 1u);
  EXPECT_EQ(observada.shown[0].style, 5);
  EXPECT_EQ(observada.shown[0].title, "ClsDatos - Conexion Base Remota Aviso al operador!!! - 2 ");
}

TEST_F(Replicacion, StatisticsModeStoresItsDefaultsAndNeverLeavesTheEmbeddedServers) {
  const std::string claves = "SELECT Clave, Valor, Grupo FROM TA_CONFIGURACION ORDER BY Clave";
  EXPECT_FALSE(ConexionBaseRemota("", "", "", "", "0001", ""));
  EXPECT_EQ(Rows(Stats(), claves),
            (std::vector<std::string>{"GRDBNAME|ESTADISTICAS|DATOS", "GRDBNAME1|ESTADISTICAS|DATOS",
                                      "GRPASS|ESTADISTICAS|DATOS", "GRPASS1|ESTADISTICAS|DATOS",
                                      "GRSERVER|estadisticas1.invalid|DATOS", "GRSERVER1|estadisticas2.invalid|DATOS",
                                      "GRUSER|ESTADISTICAS|DATOS", "GRUSER1|ESTADISTICAS|DATOS"}));
  EXPECT_EQ(SesionSistema.DatosRemotos->Servidor(), "estadisticas2.invalid");
  // No point-of-sale row in this mode.
  EXPECT_EQ(Scalar(Home(), "SELECT CONECTADO FROM V_TA_TPV WHERE CODIGO = '0001'"), "False");
  EXPECT_EQ(Scalar(Home(), "SELECT COUNT(*) FROM V_TA_TPV WHERE ULTIMA_DETECCION IS NOT NULL"), "0");

  // With the server configured only the three empty keys are stored; the first default
  // endpoint answers here because the test serves it.
  Exec(Stats(), "DELETE TA_CONFIGURACION");
  Exec(Stats(),
       "INSERT INTO TA_CONFIGURACION (Grupo, Clave, Valor) VALUES ('DATOS', 'grServer', 'estadisticas1.invalid')");
  test::CreateDatabase("estadisticas1.invalid", "ESTADISTICAS", "stats.sql");
  EXPECT_TRUE(ConexionBaseRemota("", "", "", "", "", ""));
  EXPECT_EQ(Rows(Stats(), "SELECT Clave FROM TA_CONFIGURACION ORDER BY Clave"),
            (std::vector<std::string>{"GRDBNAME", "GRPASS", "grServer", "GRUSER"}));
  ClsDatos& remotos = *SesionSistema.DatosRemotos;
  ASSERT_TRUE(remotos.Conectado());
  EXPECT_EQ(remotos.BaseDatos(), "ESTADISTICAS");
  EXPECT_EQ(remotos.Usuario(), "ESTADISTICAS");
  EXPECT_EQ(remotos.Conexion()->CommandTimeout(), 360);
}

}  // namespace
}  // namespace etapas
