// The data-access component on real SQLite files: the system's statements, updatable
// recordsets, SQL Server's error numbers and comparison rules.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <map>

#include "components/cls_datos.h"
#include "components/platform.h"
#include "components/text.h"
#include "db_fixture.h"
#include "engine/sqlite/text_rules.h"
#include "test_support.h"

namespace etapas {
namespace {

using test::Exec;
using test::Rows;
using test::Scalar;

class DataAccess : public ::testing::Test {
 protected:
  void SetUp() override {
    test::CreateDatabase("CASA", "EMPRESA1", "home.sql");
    db = test::Connect("CASA", "EMPRESA1");
    Exec(*db,
         "INSERT INTO V_TA_ETAPAS (CODIGOESTADO, Descripcion, Color, Tipo, PosiblesEstadoPrevio) VALUES "
         "('0001','PRESUPUESTO','255','P',' '),('0002','EN REPARACION','','E',' 0001|'),"
         "('0003','REPARADO','65280','F',' 0001|0002|'),('abc','Otro codigo',NULL,'x',' ')");
  }

  long ErrorCount() { return db->Conexion()->Errors().Count(); }
  long FirstNative() { return db->Conexion()->Errors().Item(0).NativeError; }

  test::TempDataRoot root;
  std::unique_ptr<ClsDatos> db;
};

TEST_F(DataAccess, EditorStatementsReadAndChangeTheRightRows) {
  ado::RecordsetPtr rs;
  // The structure probe: one row, the table's full column set, updatable.
  db->AbrirRecordset("SELECT  top 1 * FROM V_TA_ETAPAS WITH(NOLOCK) ", rs, db->Conexion(), 2, 3, -1, true);
  EXPECT_EQ(rs->RecordCount(), 1);
  EXPECT_EQ(rs->FieldCount(), 5);

  EXPECT_EQ(Rows(*db, "SELECT CODIGOESTADO, DESCRIPCION FROM V_TA_ETAPAS WHERE CODIGOESTADO<>'0002'").size(), 3u);
  EXPECT_EQ(Scalar(*db, "select * from V_TA_ETAPAS where CODIGOESTADO = '0003'"), "0003");
  EXPECT_EQ(Rows(*db, "SELECT CODIGOESTADO, DESCRIPCION FROM V_TA_ETAPAS ORDER BY CODIGOESTADO"),
            (std::vector<std::string>{"0001|PRESUPUESTO", "0002|EN REPARACION", "0003|REPARADO", "abc|Otro codigo"}));
  EXPECT_EQ(Rows(*db, "SELECT * FROM V_TA_ETAPAS").size(), 4u);

  db->EjecutarSQL("DELETE V_TA_ETAPAS WHERE CODIGOESTADO = '0003'", 0);
  EXPECT_EQ(ErrorCount(), 0);
  EXPECT_EQ(Scalar(*db, "SELECT COUNT(*) FROM V_TA_ETAPAS"), "3");
}

TEST_F(DataAccess, StartUpAndSharedModuleStatements) {
  Exec(*db,
       "INSERT INTO TA_MENU (Menu, Clave, Proceso, Nombre) VALUES ('', 'ETAPAS', 'ventas;etapas;compras', 'Tabla de "
       "Status')");
  Exec(*db, "INSERT INTO TA_TAREAS (USUARIO, SISTEMA, TAREA) VALUES ('sa', '', 'etapas')");
  // The user's value is followed by one blank inside its quotes: = ignores it.
  EXPECT_EQ(Scalar(*db,
                   "SELECT TA_TAREAS.USUARIO, TA_MENU.Proceso, TA_MENU.Clave , TA_MENU.Nombre "
                   " FROM TA_TAREAS  with(nolock) INNER JOIN TA_MENU ON TA_TAREAS.TAREA = TA_MENU.Clave "
                   " WHERE (TA_TAREAS.USUARIO = 'SA ') AND (TA_MENU.Proceso LIKE '%ETAPAS%')"),
            "sa");

  // A carriage-return batch in an explicit transaction, then a separate commit.
  db->EjecutarSQL(
      "BEGIN TRANSACTION \r\r\rINSERT INTO Control_Acceso (Maquina,Usuario,Formulario,Tarea,Ingreso,NombreUsuario) "
      "VALUES ('PC1','SA','ETAPAS','','14/05/24 10:31','sa')\r"
      "INSERT INTO Control_Acceso (Maquina,Usuario,Formulario,Tarea,Ingreso,NombreUsuario) "
      "VALUES ('PC2','SA','ETAPAS','','14/05/24 10:32','sa')\r");
  EXPECT_EQ(ErrorCount(), 0);
  Exec(*db, "COMMIT TRANSACTION");
  EXPECT_EQ(Scalar(*db, "Select TOP 1 * from Control_Acceso  with(nolock) "), "1");
  EXPECT_EQ(Scalar(*db, "SELECT COUNT(*) FROM Control_Acceso"), "2");

  // A failing batch stops at the refused statement; the rollback undoes the first one.
  db->EjecutarSQL(
      "BEGIN TRANSACTION \r\r\rUPDATE Control_Acceso SET Tarea = 'x'  WHERE Id = 1\r"
      "INSERT INTO NO_EXISTE (a) VALUES (1)\rUPDATE Control_Acceso SET Tarea = 'y'  WHERE Id = 2\r");
  ASSERT_EQ(ErrorCount(), 1);
  EXPECT_EQ(FirstNative(), 208);
  Exec(*db, "ROLLBACK TRANSACTION");
  EXPECT_EQ(Rows(*db, "SELECT Tarea FROM Control_Acceso ORDER BY Id"), (std::vector<std::string>{"", ""}));
  db->EjecutarSQL("COMMIT TRANSACTION");
  EXPECT_EQ(FirstNative(), 3902);

  // Settings and the user row.
  Exec(*db, "INSERT INTO TA_CONFIGURACION (Grupo, Clave, Valor, ValorAux) VALUES ('', 'THEME', '3', 'aux')");
  EXPECT_EQ(Rows(*db, "SELECT VALOR, valoraux FROM TA_CONFIGURACION with(nolock)  WHERE CLAVE = 'theme'"),
            (std::vector<std::string>{"3|aux"}));
  EXPECT_EQ(
      Rows(*db, "SELECT VALOR, valoraux FROM TA_CONFIGURACION WITH(NOLOCK)  WHERE CLAVE = '[FECHA HASTA]'").size(), 0u);
  Exec(*db, "INSERT INTO ta_usuarios (Nombre, UNegocio, verproforma) VALUES ('sa', '   1', 1)");
  ado::RecordsetPtr rs;
  db->AbrirRecordset("Select * from ta_usuarios  with(nolock)  where Nombre = 'SA'", rs, nullptr, 0, 1, -1, true);
  ASSERT_FALSE(rs->EOF_());
  EXPECT_EQ(rs->Fields("verproforma").Value().ToText(), "True");
  EXPECT_EQ(rs->Fields("verproforma").Type(), 11);

  // The server's clock, as a date-time field.
  db->AbrirRecordset("select  getDate() as fecha", rs);
  EXPECT_EQ(rs->Fields("fecha").Type(), 135);
  EXPECT_EQ(rs->Fields("fecha").Value().kind(), Variant::Kind::Date);
}

TEST_F(DataAccess, ReplicationStatementsIncludingOtherDatabasesAndTheAdminMarker) {
  Exec(*db,
       "INSERT INTO V_TA_TPV (CODIGO, Descripcion, Server, Dbname, INTERNET, BAJA) VALUES "
       "('0002','Centro','CASA','TPV1',0,0),('0001','Norte','X','TPV2',0,0),('0003','Baja','X','TPV3',0,1)");
  EXPECT_EQ(Rows(*db, "SELECT CODIGO FROM V_TA_TPV  with(nolock)  WHERE INTERNET = 0 AND BAJA = 0 ORDER BY CODIGO "),
            (std::vector<std::string>{"0001", "0002"}));
  Exec(*db, "UPDATE V_TA_TPV SET CONECTADO = 1 WHERE CODIGO = '0002'");
  Exec(*db, "UPDATE V_TA_TPV SET CONECTADO = 0, ULTIMA_DETECCION = '2024-05-14 10:31:07' WHERE CODIGO = '0001'");
  Exec(*db, "UPDATE V_TA_TPV SET PEND_ARTICULOS = 1,PEND_PRECIOS = 1 WHERE CODIGO = '0001'");
  EXPECT_EQ(Rows(*db, "SELECT CONECTADO, ULTIMA_DETECCION, PEND_ARTICULOS FROM V_TA_TPV WHERE CODIGO = '0001'"),
            (std::vector<std::string>{"False|2024-05-14 10:31:07|True"}));

  // The home row read through its three-part name, from its own session and another.
  test::CreateDatabase("CASA", "TPV1", "pos.sql");
  auto pos = test::Connect("CASA", "TPV1");
  const std::string homeRead =
      "SELECT CODIGOESTADO,DESCRIPCION FROM [EMPRESA1].DBO.V_TA_ETAPAS WHERE CODIGOESTADO = '0002'";
  EXPECT_EQ(Rows(*db, homeRead), (std::vector<std::string>{"0002|EN REPARACION"}));
  EXPECT_EQ(Rows(*pos, homeRead), (std::vector<std::string>{"0002|EN REPARACION"}));

  Exec(*pos, "INSERT INTO V_TA_ETAPAS(CODIGOESTADO,DESCRIPCION)  VALUES ('0013','EN REPARACION')");
  Exec(*pos, "UPDATE V_TA_ETAPAS SET DESCRIPCION='EN CURSO'  , Color='255'   WHERE CODIGOESTADO = '0013'");
  EXPECT_EQ(Rows(*pos, "SELECT * FROM  V_TA_ETAPAS WHERE CODIGOESTADO = '0013'"),
            (std::vector<std::string>{"0013|EN CURSO|255||"}));
  EXPECT_EQ(Rows(*pos, "SELECT * FROM @admin_V_TA_ETAPAS WHERE CODIGOESTADO = '0013'").size(), 1u);
  EXPECT_EQ(Rows(*pos, "SELECT * FROM @ADMIN_v_ta_etapas WHERE CODIGOESTADO = '0013'").size(), 1u);
  Exec(*pos, "DELETE V_TA_ETAPAS WHERE CODIGOESTADO = '0013'");
  EXPECT_EQ(Scalar(*pos, "SELECT COUNT(*) FROM V_TA_ETAPAS"), "0");

  // A database the server does not have is an invalid object, not a new file.
  pos->EjecutarSQL("SELECT * FROM [NO_HAY].DBO.V_TA_ETAPAS");
  ASSERT_EQ(pos->Conexion()->Errors().Count(), 1);
  EXPECT_FALSE(std::filesystem::exists(root.DatabaseFile("CASA", "NO_HAY")));
  EXPECT_FALSE(test::DatabaseExists("CASA", "NO_HAY"));
}

TEST_F(DataAccess, UpdatableRecordsetsAddUpdateAndCancel) {
  ado::RecordsetPtr rs;
  db->AbrirRecordset("select  top 1 * from AUX_ERR  with(nolock) ", rs, nullptr, 2, 3, -1, true);
  EXPECT_TRUE(rs->EOF_());
  rs->AddNew();
  rs->Fields("Proceso") = Variant("etapas");
  rs->Fields("fecha") = Variant("14/05/24 10:31");
  rs->Fields("Error") = Variant(208L);
  rs->Fields("Descripcion") = Variant("Invalid object name 'X'.");
  rs->Fields("SQL") = Variant("SELECT * FROM X");
  rs->Update();
  EXPECT_EQ(Rows(*db, "SELECT Proceso, Error, SQL FROM AUX_ERR"),
            (std::vector<std::string>{"etapas|208|SELECT * FROM X"}));

  // Editing an existing row writes only through its key; CancelUpdate drops a change.
  db->AbrirRecordset("select * from V_TA_ETAPAS where CODIGOESTADO = '0002'", rs, nullptr, 2, 3);
  rs->MoveFirst();
  rs->Fields("Descripcion") = Variant("CAMBIADA");
  rs->CancelUpdate();
  EXPECT_EQ(rs->Fields("Descripcion").Value().ToText(), "EN REPARACION");
  rs->Fields("Descripcion") = Variant("EN TALLER");
  rs->Fields("Tipo") = Variant("F");
  rs->Update();
  EXPECT_EQ(Rows(*db, "SELECT Descripcion, Tipo FROM V_TA_ETAPAS WHERE CODIGOESTADO = '0002'"),
            (std::vector<std::string>{"EN TALLER|F"}));
  EXPECT_EQ(Scalar(*db, "SELECT Descripcion FROM V_TA_ETAPAS WHERE CODIGOESTADO = '0001'"), "PRESUPUESTO");

  // A refused insert raises, leaves its error in Errors and can be cancelled.
  db->AbrirRecordset("select * from V_TA_ETAPAS where CODIGOESTADO = '9999'", rs, nullptr, 2, 3);
  rs->AddNew();
  rs->Fields("CODIGOESTADO") = Variant("0001");
  try {
    rs->Update();
    FAIL() << "a duplicate key must be refused";
  } catch (const RaisedError& e) { EXPECT_EQ(e.Number(), 2627); }
  EXPECT_EQ(FirstNative(), 2627);
  rs->CancelUpdate();
  EXPECT_EQ(Scalar(*db, "SELECT COUNT(*) FROM V_TA_ETAPAS"), "4");

  // A read-only recordset refuses changes; reading past the end is error 3021.
  db->AbrirRecordset("SELECT * FROM V_TA_ETAPAS WHERE CODIGOESTADO = '0001'", rs, nullptr, 0, 1);
  EXPECT_THROW(rs->Fields("Descripcion") = Variant("x"), RaisedError);
  rs->MoveNext();
  try {
    (void)rs->Fields("Descripcion").Value();
    FAIL();
  } catch (const RaisedError& e) { EXPECT_EQ(e.Number(), errnum::kNoCurrentRecord); }
  db->CerrarRecordset(rs);
  EXPECT_THROW((void)rs->EOF_(), RaisedError);
}

TEST_F(DataAccess, ProviderErrorsCarrySqlServerNumbers) {
  struct Case {
    const char* sql;
    long native;
  } cases[] = {
      {"INSERT INTO V_TA_ETAPAS (CODIGOESTADO) VALUES ('0001')", 2627},
      {"INSERT INTO V_TA_ETAPAS (CODIGOESTADO) VALUES ('ABC ')", 2627},  // 'abc' exists: case and blanks
      {"SELECT * FROM NO_EXISTE", 208},
      {"SELECT NO_HAY FROM V_TA_ETAPAS", 207},
      {"SELEC * FROM V_TA_ETAPAS", 102},
      {"INSERT INTO V_TA_ETAPAS (CODIGOESTADO) VALUES ('12345')", 8152},
      {"INSERT INTO V_TA_ETAPAS (Descripcion) VALUES ('sin codigo')", 515},
      {"SELECT 'sin cerrar FROM V_TA_ETAPAS", 102},
  };
  for (const auto& c : cases) {
    db->EjecutarSQL(c.sql);
    ASSERT_GE(ErrorCount(), 1) << c.sql;
    EXPECT_EQ(FirstNative(), c.native) << c.sql << ": " << db->Conexion()->Errors().Item(0).Description;
    EXPECT_FALSE(db->Conexion()->Errors().Item(0).Description.empty());
  }
  // Foreign keys and checks are 547, in either direction.
  Exec(*db,
       "CREATE TABLE HIJOS (Id int PRIMARY KEY, Estado varchar(4) REFERENCES V_TA_ETAPAS(CODIGOESTADO), "
       "Cant int CHECK (Cant > 0))");
  Exec(*db, "INSERT INTO HIJOS (Id, Estado, Cant) VALUES (1, '0001', 1)");
  for (const char* sql :
       {"DELETE V_TA_ETAPAS WHERE CODIGOESTADO = '0001'", "INSERT INTO HIJOS (Id, Estado, Cant) VALUES (2, '9999', 1)",
        "INSERT INTO HIJOS (Id, Estado, Cant) VALUES (3, '0001', 0)"}) {
    db->EjecutarSQL(sql);
    ASSERT_EQ(ErrorCount(), 2) << sql;  // as the server does: then "statement terminated"
    EXPECT_EQ(FirstNative(), 547) << sql;
    EXPECT_EQ(db->Conexion()->Errors().Item(1).NativeError, 3621);
  }
  // A statement that succeeds clears what the previous one left.
  Exec(*db, "SELECT 1");
  // Run for its effect alone: no recordset, the rows it changed still counted.
  long changed = 0;
  EXPECT_EQ(db->Conexion()->Execute("UPDATE V_TA_ETAPAS SET Color = '1' WHERE Tipo = 'P' OR Tipo = 'E'", &changed,
                                    ado::kExecuteNoRecords),
            nullptr);
  EXPECT_EQ(changed, 2);
  // Opening a recordset on a refused statement raises into the caller.
  ado::RecordsetPtr rs;
  EXPECT_THROW(db->AbrirRecordset("SELECT * FROM NO_EXISTE", rs), RaisedError);
}

TEST_F(DataAccess, TextComparisonsIgnoreCaseAndTrailingBlanks) {
  EXPECT_EQ(Scalar(*db, "SELECT CODIGOESTADO FROM V_TA_ETAPAS WHERE CODIGOESTADO = 'ABC'"), "abc");
  EXPECT_EQ(Scalar(*db, "SELECT CODIGOESTADO FROM V_TA_ETAPAS WHERE Descripcion = 'presupuesto  '"), "0001");
  EXPECT_EQ(Scalar(*db, "SELECT COUNT(*) FROM V_TA_ETAPAS WHERE Descripcion LIKE '%repar%'"), "2");
  EXPECT_EQ(Scalar(*db, "SELECT COUNT(*) FROM V_TA_ETAPAS WHERE Descripcion LIKE '[EP]%'"), "2");
  EXPECT_EQ(Scalar(*db, "SELECT COUNT(*) FROM V_TA_ETAPAS WHERE CODIGOESTADO <> 'ABC'"), "3");
  Exec(*db, "INSERT INTO V_TA_ETAPAS (CODIGOESTADO, Descripcion) VALUES ('0009', 'Atención')");
  EXPECT_EQ(Scalar(*db, "SELECT CODIGOESTADO FROM V_TA_ETAPAS WHERE Descripcion = 'ATENCIÓN'"), "0009");
  EXPECT_EQ(Scalar(*db, "SELECT CODIGOESTADO FROM V_TA_ETAPAS WHERE Descripcion LIKE 'atenci_n'"), "0009");
}

TEST_F(DataAccess, CodesAreLookedUpInTheirStoredFormAndQuotesStayLiteral) {
  ado::RecordsetPtr rs;
  EXPECT_TRUE(db->BuscarRegistro("V_TA_ETAPAS", "3", "CODIGOESTADO", rs, 8, "", false));
  EXPECT_EQ(rs->Fields("Descripcion").Value().ToText(), "REPARADO");
  EXPECT_TRUE(db->BuscarRegistro("V_TA_ETAPAS", "ABC", "CODIGOESTADO", rs));

  // Not found: the recordset still accepts the new row.
  EXPECT_FALSE(db->BuscarRegistro("V_TA_ETAPAS", "13", "CODIGOESTADO", rs));
  rs->AddNew();
  rs->Fields("CODIGOESTADO") = Variant(FormatoCodigo("13", 4));
  rs->Fields("Descripcion") = Variant("NUEVO");
  rs->Update();
  EXPECT_TRUE(db->BuscarRegistro("V_TA_ETAPAS", "13", "CODIGOESTADO", rs));
  EXPECT_EQ(rs->Fields("CODIGOESTADO").Value().ToText(), "0013");

  // A quote in a code is part of the value, never of the statement.
  EXPECT_FALSE(db->BuscarRegistro("V_TA_ETAPAS", "x' OR '1'='1", "CODIGOESTADO", rs));
  EXPECT_EQ(db->ValorSQL(Variant("O'Brien"), "'"), "'O''Brien'");
  Exec(*db, "INSERT INTO V_TA_ETAPAS (CODIGOESTADO, Descripcion) VALUES ('q''1', " +
                db->ValorSQL(Variant("O'Brien"), "'") + ")");
  EXPECT_TRUE(db->BuscarRegistro("V_TA_ETAPAS", "q'1", "CODIGOESTADO", rs));
  EXPECT_EQ(rs->Fields("Descripcion").Value().ToText(), "O'Brien");

  EXPECT_EQ(db->ValorSQL(Variant("12.50"), "@"), "12.5");
  EXPECT_EQ(db->ValorSQL(Variant("True"), "@"), "1");
  EXPECT_EQ(db->ValorSQL(Variant(false), "@"), "0");
  EXPECT_EQ(db->ValorSQL(Variant(""), "@"), "Null");
  EXPECT_THROW(db->ValorSQL(Variant("1; DROP TABLE V_TA_ETAPAS"), "@"), RaisedError);

  // The next code: the highest numeric one, letters ignored.
  EXPECT_EQ(db->UltimoCodigo("V_TA_ETAPAS", "CODIGOESTADO").ToText(), "0013");
  Exec(*db, "DELETE V_TA_ETAPAS");
  EXPECT_EQ(db->UltimoCodigo("V_TA_ETAPAS", "CODIGOESTADO").ToText(), "0");
}

// Rows written by other programs keep their codes as typed; the width of the code column
// never changes the stored form of a code.
TEST_F(DataAccess, CodesAreFoundAsTypedThenInTheirFourCharacterForm) {
  ado::RecordsetPtr rs;
  Exec(*db,
       "INSERT INTO V_TA_ETAPAS (CODIGOESTADO, Descripcion) VALUES ('77', 'SIN CEROS'), ('5', 'CINCO'), ('0005', 'CERO "
       "CINCO')");
  EXPECT_TRUE(db->BuscarRegistro("V_TA_ETAPAS", " 77 ", "CODIGOESTADO", rs));
  EXPECT_EQ(rs->Fields("CODIGOESTADO").Value().ToText(), "77");
  EXPECT_EQ(rs->Fields("Descripcion").Value().ToText(), "SIN CEROS");
  // As typed first: both forms exist, the typed one is the one found.
  EXPECT_TRUE(db->BuscarRegistro("V_TA_ETAPAS", "5", "CODIGOESTADO", rs));
  EXPECT_EQ(rs->Fields("Descripcion").Value().ToText(), "CINCO");
  EXPECT_TRUE(db->BuscarRegistro("V_TA_ETAPAS", "0005", "CODIGOESTADO", rs));
  EXPECT_EQ(rs->Fields("Descripcion").Value().ToText(), "CERO CINCO");

  Exec(*db, "CREATE TABLE ETAPAS_ANCHAS (CODIGOESTADO varchar(6) NOT NULL PRIMARY KEY, Descripcion varchar(100) NULL)");
  Exec(*db, "INSERT INTO ETAPAS_ANCHAS (CODIGOESTADO, Descripcion) VALUES ('0001', 'UNO'), ('12', 'DOCE')");
  EXPECT_TRUE(db->BuscarRegistro("ETAPAS_ANCHAS", "1", "CODIGOESTADO", rs));
  EXPECT_EQ(rs->Fields("CODIGOESTADO").Value().ToText(), "0001");
  EXPECT_TRUE(db->BuscarRegistro("ETAPAS_ANCHAS", "12", "CODIGOESTADO", rs));
  EXPECT_FALSE(db->BuscarRegistro("ETAPAS_ANCHAS", "3", "CODIGOESTADO", rs));
  rs->AddNew();
  rs->Fields("CODIGOESTADO") = Variant(FormatoCodigo("3", 4));
  rs->Update();
  EXPECT_EQ(Scalar(*db, "SELECT CODIGOESTADO FROM ETAPAS_ANCHAS WHERE Descripcion IS NULL"), "0003");
  EXPECT_TRUE(db->BuscarRegistro("ETAPAS_ANCHAS", "3", "CODIGOESTADO", rs));
}

TEST_F(DataAccess, SchemaColumnsAndFieldTypes) {
  auto rs =
      db->Conexion()->OpenSchema(ado::kSchemaColumns, {Variant("EMPRESA1"), Variant(), Variant("v_ta_tpv"), Variant()});
  std::vector<std::string> names;
  std::map<std::string, long long> types;
  for (; !rs->EOF_(); rs->MoveNext()) {
    names.push_back(rs->Fields("COLUMN_NAME").Value().ToText());
    types[names.back()] = rs->Fields("DATA_TYPE").Value().AsInteger();
  }
  ASSERT_EQ(names.size(), 17u);
  EXPECT_EQ(names.front(), "CODIGO");
  EXPECT_EQ(types["CODIGO"], 200);
  EXPECT_EQ(types["INTERNET"], 3);
  EXPECT_EQ(types["CONECTADO"], 11);
  EXPECT_EQ(types["ULTIMA_DETECCION"], 135);
  // Another catalogue that does not exist, or a missing table: no rows.
  rs = db->Conexion()->OpenSchema(ado::kSchemaColumns, {Variant("OTRA"), Variant(), Variant("V_TA_TPV"), Variant()});
  EXPECT_TRUE(rs->EOF_());
  rs = db->Conexion()->OpenSchema(ado::kSchemaColumns, {Variant("EMPRESA1"), Variant(), Variant("NADA"), Variant()});
  EXPECT_TRUE(rs->EOF_());

  Exec(*db, "CREATE TABLE TIPOS (a int, b float, c money, d bit, e datetime, f nvarchar(10), g decimal(10,2))");
  Exec(*db, "INSERT INTO TIPOS VALUES (1, 2.5, 3.25, 1, '2024-05-14 10:31:07', N'x', 1.5)");
  ado::RecordsetPtr t;
  db->AbrirRecordset("SELECT * FROM TIPOS", t);
  const int expected[] = {3, 5, 6, 11, 135, 202, 131};
  for (long i = 0; i < 7; ++i) EXPECT_EQ(t->Fields(i).Type(), expected[i]) << i;
  EXPECT_EQ(t->Fields("C").Value().ToText(), "3.25");
  EXPECT_EQ(t->Fields("e").Value().ToText(), "2024-05-14 10:31:07");
}

TEST(Connections, MissingDatabasesAndServersRefuseAndCreateNothing) {
  test::TempDataRoot root;
  ClsDatos db;
  db.Servidor("NADIE");
  db.BaseDatos("EMPRESA1");
  db.Usuario("sa");
  std::string cadena;
  db.Conectar(false, 3, cadena, true, false);
  EXPECT_FALSE(db.Conectado());
  EXPECT_NE(db.MotivoFallo().find("EMPRESA1"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(root.ServerFolder("NADIE")));

  db.Conectar(true, 3, cadena, true, false);
  EXPECT_FALSE(db.Conectado());
  std::string oracle = "Provider=OraOLEDB.Oracle.1;Data Source=XE;User Id=U;Password=P;";
  db.Conectar(false, 3, oracle, true, false);
  EXPECT_FALSE(db.Conectado());
  EXPECT_NE(db.MotivoFallo().find("Oracle"), std::string::npos);

  // The refusal reaches the operator only when the caller asks for it.
  PlataformaGuionada platform;
  SetPlatform(&platform);
  db.Conectar(false, 3, cadena, true, false);
  EXPECT_TRUE(platform.shown.empty());
  db.Conectar(false, 3, cadena, true, true);
  ASSERT_EQ(platform.shown.size(), 1u);
  // It names the database and server, gives the engine's reason and what to do.
  EXPECT_EQ(platform.shown[0].title, "Sin conexión");
  EXPECT_EQ(platform.shown[0].prompt.rfind("No se pudo conectar a la base de datos EMPRESA1 del servidor NADIE.", 0),
            0u);
  EXPECT_NE(platform.shown[0].prompt.find("Motivo: " + db.MotivoFallo()), std::string::npos);
  EXPECT_NE(platform.shown[0].prompt.find("etapas-admin demo"), std::string::npos);
  EXPECT_EQ(platform.shown[0].style, 16);
  SetPlatform(nullptr);

  // A session copies where the first one connects; DefaultDatabase switches within a server.
  test::CreateDatabase("UNO", "A", "pos.sql");
  test::CreateDatabase("UNO", "B", "stats.sql");
  auto a = test::Connect("UNO", "A");
  ClsDatos other;
  other.AsignarDatoSesion(a->DatoSesion());
  other.Servidor("UNO");
  other.BaseDatos("B");
  other.Conectar(false, 3, cadena, true, false);
  ASSERT_TRUE(other.Conectado());
  EXPECT_EQ(other.Conexion()->DefaultDatabase(), "B");
  a->Conexion()->SetDefaultDatabase("b");
  EXPECT_EQ(Scalar(*a, "SELECT COUNT(*) FROM TA_CONFIGURACION"), "0");
  EXPECT_THROW(a->Conexion()->SetDefaultDatabase("C"), RaisedError);
  a->Conexion()->Close();
  EXPECT_FALSE(a->Conectado());
  EXPECT_THROW(a->EjecutarSQL("SELECT 1"), RaisedError);
}

// Forward-only recordsets read rows from the engine as they move; whatever else the
// connection does meanwhile must neither lose nor change the rows still to come.
TEST_F(DataAccess, ForwardOnlyRowsArriveAsTheRecordsetMovesAndSurviveOtherWork) {
  auto walk = [](ado::Recordset& rs) {
    std::vector<std::string> out;
    for (; !rs.EOF_(); rs.MoveNext()) out.push_back(rs.Fields(0L).Value().ToText());
    return out;
  };
  const std::string query = "SELECT CODIGOESTADO FROM V_TA_ETAPAS ORDER BY CODIGOESTADO";
  ado::RecordsetPtr rs;
  db->AbrirRecordset(query, rs, nullptr, 0, 1, -1, true);
  ASSERT_FALSE(rs->EOF_());
  EXPECT_FALSE(rs->BOF());
  EXPECT_EQ(rs->Fields(0L).Value().ToText(), "0001");
  rs->MoveNext();
  // A change on the same connection in the middle of the walk.
  db->EjecutarSQL("INSERT INTO V_TA_ETAPAS (CODIGOESTADO, Descripcion, Tipo) VALUES ('0000','NUEVO','P')", 0);
  EXPECT_EQ(ErrorCount(), 0);
  EXPECT_EQ(walk(*rs), (std::vector<std::string>{"0002", "0003", "abc"}));
  EXPECT_THROW(rs->MoveNext(), RaisedError);

  // Back to the start reads the query again.
  rs->MoveFirst();
  EXPECT_EQ(walk(*rs), (std::vector<std::string>{"0000", "0001", "0002", "0003", "abc"}));

  // Counting reads ahead without losing the current row.
  db->AbrirRecordset(query, rs, nullptr, 0, 1, -1, true);
  rs->MoveNext();
  EXPECT_EQ(rs->RecordCount(), 5);
  EXPECT_EQ(walk(*rs), (std::vector<std::string>{"0001", "0002", "0003", "abc"}));

  // A transaction ended under the walk, and a second walk on the same connection.
  db->EjecutarSQL("BEGIN TRANSACTION", 0);
  db->EjecutarSQL("DELETE FROM V_TA_ETAPAS WHERE CODIGOESTADO = '0000'", 0);
  db->AbrirRecordset(query, rs, nullptr, 0, 1, -1, true);
  ado::RecordsetPtr other;
  db->AbrirRecordset("SELECT COUNT(*) FROM V_TA_ETAPAS", other, nullptr, 0, 1, -1, true);
  EXPECT_EQ(other->Fields(0L).Value().ToText(), "4");
  db->EjecutarSQL("ROLLBACK TRANSACTION", 0);
  EXPECT_EQ(ErrorCount(), 0);
  EXPECT_EQ(walk(*rs), (std::vector<std::string>{"0001", "0002", "0003", "abc"}));
  EXPECT_EQ(Scalar(*db, "SELECT COUNT(*) FROM V_TA_ETAPAS"), "5");

  // The connection closed under the walk: the rows still to come are kept.
  db->AbrirRecordset(query, rs, nullptr, 0, 1, -1, true);
  rs->MoveNext();
  db->Conexion()->Close();
  EXPECT_EQ(walk(*rs), (std::vector<std::string>{"0001", "0002", "0003", "abc"}));
}

// Text columns are read without asking each value's kind: what an older program or another
// tool left there (a blob, an empty text, NULL) must still come back as it is stored, and a
// row's text must not keep any of the previous row's when both have the same length.
TEST_F(DataAccess, TextColumnsGiveBackWhatEachRowHolds) {
  if (test::OnPostgreSQL()) GTEST_SKIP() << "the blob is written into the embedded engine's file";
  sqlite3* raw = nullptr;
  ASSERT_EQ(sqlite3_open(root.DatabaseFile("CASA", "EMPRESA1").c_str(), &raw), SQLITE_OK);
  // The keys are ordered by the engine's comparison; this connection must order them alike.
  engine::sqlite::RegisterCollation(raw);
  EXPECT_EQ(sqlite3_exec(raw,
                         "UPDATE V_TA_ETAPAS SET Color = X'41420043' WHERE CODIGOESTADO = '0001';"
                         "INSERT INTO V_TA_ETAPAS (CODIGOESTADO, Descripcion, Color) VALUES ('0004','ABCD','1'),"
                         "('0005','WXYZ','2')",
                         nullptr, nullptr, nullptr),
            SQLITE_OK)
      << sqlite3_errmsg(raw);
  sqlite3_close(raw);
  ado::RecordsetPtr rs;
  db->AbrirRecordset("SELECT CODIGOESTADO, Descripcion, Color FROM V_TA_ETAPAS ORDER BY CODIGOESTADO", rs, nullptr, 0,
                     1, -1, true);
  std::vector<std::string> seen;
  for (; !rs->EOF_(); rs->MoveNext()) {
    const Variant& color = rs->Valor(2);
    seen.push_back(rs->Valor(0).ToText() + "|" + rs->Valor(1).ToText() + "|" +
                   (color.IsNull() ? "NULL" : color.ToText()));
  }
  EXPECT_EQ(seen,
            (std::vector<std::string>{std::string("0001|PRESUPUESTO|AB\0C", 21), "0002|EN REPARACION|",
                                      "0003|REPARADO|65280", "0004|ABCD|1", "0005|WXYZ|2", "abc|Otro codigo|NULL"}));
}

TEST_F(DataAccess, ARowThatCannotBeReadEndsTheWalkAfterTheRowsBeforeIt) {
  ado::RecordsetPtr rs;
  // Converted above the ordering, so that the engine meets 'abc' only when it gets there.
  db->AbrirRecordset(
      "SELECT CAST(c AS int) FROM (SELECT TOP 100 CODIGOESTADO AS c FROM V_TA_ETAPAS ORDER BY CODIGOESTADO) x", rs,
      nullptr, 0, 1, -1, true);
  std::vector<std::string> seen;
  try {
    for (; !rs->EOF_(); rs->MoveNext()) seen.push_back(rs->Fields(0L).Value().ToText());
    ADD_FAILURE() << "'abc' read as a number";
  } catch (const RaisedError& e) { EXPECT_EQ(e.Number(), 245) << e.Description(); }
  EXPECT_EQ(seen, (std::vector<std::string>{"1", "2", "3"}));
  ASSERT_GT(ErrorCount(), 0);
  EXPECT_EQ(FirstNative(), 245);
  // The connection goes on.
  EXPECT_EQ(Scalar(*db, "SELECT COUNT(*) FROM V_TA_ETAPAS"), "4");
}

// Opening into a recordset that is still being walked: the old rows are not read to their
// end (a bad row further on is never met), and a refused query leaves a closed recordset
// rather than the previous query's rows.
TEST_F(DataAccess, ARecordsetOpenedAgainLeavesItsOldRowsUnread) {
  ado::RecordsetPtr rs;
  const std::string bad =
      "SELECT CAST(c AS int) FROM (SELECT TOP 100 CODIGOESTADO AS c FROM V_TA_ETAPAS ORDER BY CODIGOESTADO) x";
  db->AbrirRecordset(bad, rs, nullptr, 0, 1, -1, true);
  EXPECT_EQ(rs->Fields(0L).Value().ToText(), "1");
  db->AbrirRecordset("SELECT COUNT(*) FROM V_TA_ETAPAS", rs, nullptr, 0, 1, -1, true);
  EXPECT_EQ(ErrorCount(), 0);
  EXPECT_EQ(rs->Fields(0L).Value().ToText(), "4");

  db->AbrirRecordset("SELECT CODIGOESTADO FROM V_TA_ETAPAS ORDER BY CODIGOESTADO", rs, nullptr, 0, 1, -1, true);
  EXPECT_THROW(db->AbrirRecordset("SELECT * FROM NO_EXISTE", rs, nullptr, 0, 1, -1, true), RaisedError);
  ASSERT_TRUE(rs);
  EXPECT_FALSE(rs->IsOpen());
  EXPECT_THROW(rs->Fields(0L).Value(), RaisedError);

  // A recordset someone else still holds is left to its holder, open.
  db->AbrirRecordset("SELECT CODIGOESTADO FROM V_TA_ETAPAS ORDER BY CODIGOESTADO", rs, nullptr, 0, 1, -1, true);
  ado::RecordsetPtr held = rs;
  db->AbrirRecordset("SELECT COUNT(*) FROM V_TA_ETAPAS", rs, nullptr, 0, 1, -1, true);
  ASSERT_TRUE(held->IsOpen());
  held->MoveNext();
  EXPECT_EQ(held->Fields(0L).Value().ToText(), "0002");

  // The same recordset opened again, on the same statement or another, starts over with the
  // new statement's rows and columns, also after an updatable one.
  const std::string codes = "SELECT CODIGOESTADO FROM V_TA_ETAPAS ORDER BY CODIGOESTADO";
  db->AbrirRecordset(codes, rs, nullptr, 0, 1, -1, true);
  rs->MoveNext();
  rs->MoveNext();
  db->AbrirRecordset(codes, rs, nullptr, 0, 1, -1, true);
  EXPECT_EQ(rs->Fields(0L).Value().ToText(), "0001");
  db->AbrirRecordset("SELECT * FROM V_TA_ETAPAS WHERE CODIGOESTADO = '0003'", rs, nullptr, 2, 3, -1, true);
  EXPECT_EQ(rs->FieldCount(), 5);
  rs->Fields("Descripcion") = Variant("REPARADO Y ENTREGADO");
  rs->Update();
  db->AbrirRecordset("SELECT Descripcion, Tipo FROM V_TA_ETAPAS WHERE CODIGOESTADO = '0003'", rs, nullptr, 0, 1, -1,
                     true);
  EXPECT_EQ(rs->FieldCount(), 2);
  EXPECT_EQ(rs->Fields(0L).Value().ToText(), "REPARADO Y ENTREGADO");
  rs->MoveNext();
  EXPECT_TRUE(rs->EOF_());
  db->AbrirRecordset(codes, rs, nullptr, 0, 1, -1, true);
  std::vector<std::string> all;
  for (; !rs->EOF_(); rs->MoveNext()) all.push_back(rs->Fields(0L).Value().ToText());
  EXPECT_EQ(all, (std::vector<std::string>{"0001", "0002", "0003", "abc"}));
}

// A statement kept prepared sees a table another connection changed, with its new columns.
TEST_F(DataAccess, AKeptQuerySeesColumnsAnotherConnectionAdded) {
  ado::RecordsetPtr rs;
  for (int i = 0; i < 2; ++i)
    db->AbrirRecordset("SELECT * FROM V_TA_ETAPAS ORDER BY CODIGOESTADO", rs, nullptr, 0, 1, -1, true);
  EXPECT_EQ(rs->FieldCount(), 5);
  rs.reset();
  auto other = test::Connect("CASA", "EMPRESA1");
  Exec(*other, "ALTER TABLE V_TA_ETAPAS ADD Nota varchar(10) NULL");
  Exec(*other, "UPDATE V_TA_ETAPAS SET Nota = 'nueva' WHERE CODIGOESTADO = '0001'");
  db->AbrirRecordset("SELECT * FROM V_TA_ETAPAS ORDER BY CODIGOESTADO", rs, nullptr, 0, 1, -1, true);
  ASSERT_EQ(rs->FieldCount(), 6);
  EXPECT_EQ(rs->Fields("Nota").Value().ToText(), "nueva");
}

// A recordset that reads its query again, mid-walk, after a Close or after its last row,
// sees what happened in between: rows and columns another connection changed, a table
// gone and back, its own transaction, another recordset reading the same query.
TEST_F(DataAccess, AQueryReadAgainByItsRecordsetSeesWhatHappenedMeanwhile) {
  const std::string one = "SELECT * FROM V_TA_ETAPAS WHERE CODIGOESTADO = '0002'";
  const std::string codes = "SELECT CODIGOESTADO FROM V_TA_ETAPAS ORDER BY CODIGOESTADO";
  auto other = test::Connect("CASA", "EMPRESA1");
  ado::RecordsetPtr rs;
  auto description = [&] {
    db->AbrirRecordset(one, rs, nullptr, 0, 1, -1, true);
    return rs->EOF_() ? std::string("(ninguna)") : rs->Fields("Descripcion").Value().ToText();
  };
  EXPECT_EQ(description(), "EN REPARACION");
  Exec(*other, "UPDATE V_TA_ETAPAS SET Descripcion = 'EN TALLER' WHERE CODIGOESTADO = '0002'");
  EXPECT_EQ(description(), "EN TALLER");  // mid-walk
  db->CerrarRecordset(rs);
  Exec(*other, "UPDATE V_TA_ETAPAS SET Descripcion = 'EN BANCO' WHERE CODIGOESTADO = '0002'");
  EXPECT_EQ(description(), "EN BANCO");  // after a Close
  rs->MoveNext();
  ASSERT_TRUE(rs->EOF_());
  Exec(*other, "DELETE FROM V_TA_ETAPAS WHERE CODIGOESTADO = '0002'");
  EXPECT_EQ(description(), "(ninguna)");  // after the last row
  Exec(*other, "INSERT INTO V_TA_ETAPAS (CODIGOESTADO, Descripcion) VALUES ('0002', 'DE VUELTA')");
  EXPECT_EQ(description(), "DE VUELTA");

  // Columns another connection added while the statement rested.
  Exec(*other, "ALTER TABLE V_TA_ETAPAS ADD Nota varchar(10) NULL");
  Exec(*other, "UPDATE V_TA_ETAPAS SET Nota = 'nueva' WHERE CODIGOESTADO = '0002'");
  db->AbrirRecordset(one, rs, nullptr, 0, 1, -1, true);
  ASSERT_EQ(rs->FieldCount(), 6);
  EXPECT_EQ(rs->Fields("Nota").Value().ToText(), "nueva");

  // The table gone: refused with its number, the recordset closed; back: read again.
  Exec(*other, "CREATE TABLE GUARDADO (CODIGOESTADO varchar(4) NOT NULL, Descripcion varchar(50) NULL)");
  Exec(*other, "INSERT INTO GUARDADO SELECT CODIGOESTADO, Descripcion FROM V_TA_ETAPAS");
  Exec(*other, "DROP TABLE V_TA_ETAPAS");
  EXPECT_THROW(db->AbrirRecordset(one, rs, nullptr, 0, 1, -1, true), RaisedError);
  ASSERT_GT(ErrorCount(), 0);
  EXPECT_EQ(FirstNative(), 208);
  EXPECT_FALSE(rs->IsOpen());
  Exec(*other, "CREATE TABLE V_TA_ETAPAS (CODIGOESTADO varchar(4) NOT NULL PRIMARY KEY, Descripcion varchar(50) NULL)");
  Exec(*other, "INSERT INTO V_TA_ETAPAS SELECT CODIGOESTADO, Descripcion FROM GUARDADO");
  EXPECT_EQ(description(), "DE VUELTA");
  EXPECT_EQ(rs->FieldCount(), 2);

  // Its own transaction: the change seen inside, gone after the rollback.
  db->EjecutarSQL("BEGIN TRANSACTION");
  db->EjecutarSQL("UPDATE V_TA_ETAPAS SET Descripcion = 'A MEDIAS' WHERE CODIGOESTADO = '0002'");
  EXPECT_EQ(description(), "A MEDIAS");
  EXPECT_EQ(description(), "A MEDIAS");
  db->EjecutarSQL("ROLLBACK TRANSACTION");
  EXPECT_EQ(ErrorCount(), 0);
  EXPECT_EQ(description(), "DE VUELTA");

  // Two recordsets on one query, read in turns: each gives every row once, in order.
  ado::RecordsetPtr a, b;
  std::vector<std::string> fromA, fromB;
  db->AbrirRecordset(codes, a, nullptr, 0, 1, -1, true);
  fromA.push_back(a->Fields(0L).Value().ToText());
  db->AbrirRecordset(codes, b, nullptr, 0, 1, -1, true);
  a->MoveNext();
  fromA.push_back(a->Fields(0L).Value().ToText());
  db->AbrirRecordset(codes, a, nullptr, 0, 1, -1, true);  // again, while b reads
  for (; !a->EOF_(); a->MoveNext()) fromA.push_back(a->Fields(0L).Value().ToText());
  for (; !b->EOF_(); b->MoveNext()) fromB.push_back(b->Fields(0L).Value().ToText());
  const std::vector<std::string> all{"0001", "0002", "0003", "abc"};
  EXPECT_EQ(fromB, all);
  EXPECT_EQ(std::vector<std::string>(fromA.begin() + 2, fromA.end()), all);
  EXPECT_EQ(fromA[1], "0002");
}

}  // namespace
}  // namespace etapas
