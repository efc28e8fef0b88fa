// The editor's commands end to end: new, save with replication, delete, cancel, close,
// lookup and listing.
#include <gtest/gtest.h>

#include "components/cls_consulta.h"
#include "components/cls_planilla.h"
#include "editor_fixture.h"

namespace etapas {
namespace {

using test::Exec;
using test::Rows;
using test::Scalar;

class Commands : public test::EditorTest {
 protected:
  void SetUp() override {
    EditorTest::SetUp();
    test::CreateDatabase("SUC1", "TPV1", "pos.sql");
    Exec(*test::Connect("CASA", "EMPRESA1"),
         "INSERT INTO V_TA_TPV (CODIGO, Descripcion, Server, Dbname, INTERNET, BAJA) VALUES "
         "('0001','Sucursal Centro','SUC1','TPV1',0,0),('0002','Sucursal Norte','SUC2','TPV2',0,0)");
    Load();
  }
  // What the lookup and listing windows were asked.
  std::vector<std::string> Lookups() const {
    std::vector<std::string> l;
    for (const auto& p : platform.lookups) l.push_back(p.sql + "|" + p.campoClave);
    return l;
  }
  std::vector<std::string> Listings() const {
    std::vector<std::string> l;
    for (const auto& p : platform.listings) l.push_back(p.sql + "|" + p.proveedor + "|" + p.titulo);
    return l;
  }
  std::vector<std::string> Titles() const {
    std::vector<std::string> t;
    for (const auto& m : platform.shown) t.push_back(m.title + "|" + m.prompt);
    return t;
  }
};

// The points of sale receive values without apostrophes: a code with one would reach
// them under another key. "|" would split it in the previous statuses of another one.
TEST_F(Commands, ACodeWithAnApostropheOrABarIsRefusedAtEntryAndNeverSaved) {
  for (const char* codigo : {"0'1", "0|1"}) {
    platform.shown.clear();
    Confirm(codigo);
    EXPECT_TRUE(form.bError);
    ASSERT_EQ(platform.shown.size(), 1u);
    EXPECT_EQ(platform.shown[0].title, "Aviso al operador");
    EXPECT_NE(platform.shown[0].prompt.find("código de status"), std::string::npos);
    EXPECT_NE(platform.shown[0].prompt.find(codigo[1] == '|' ? "(|)" : "apóstrofes"), std::string::npos);
    EXPECT_EQ(form.Foco(), 0);
    EXPECT_FALSE(form.Botonera1.Habilitado("GRABAR"));
    form.Botonera1_Click("grabar");
  }
  EXPECT_EQ(Scalar(Home(), "SELECT COUNT(*) FROM V_TA_ETAPAS WHERE CODIGOESTADO LIKE '%[''|]%'"), "0");
  EXPECT_EQ(Scalar(*test::Connect("SUC1", "TPV1"), "SELECT COUNT(*) FROM V_TA_ETAPAS"), "0");
}

TEST_F(Commands, SavingWhileAPointHasAHostileColumnLeavesTheHomeUntouched) {
  auto pos = test::Connect("SUC1", "TPV1");
  Exec(*pos, "ALTER TABLE V_TA_ETAPAS ADD COLUMN \"X FROM V_TA_ETAPAS; DELETE FROM V_TA_TPV; --\" TEXT");
  Confirm("0013");
  form.Escribir(1, "EN GARANTIA");
  form.Botonera1_Click("grabar");
  EXPECT_EQ(Scalar(Home(), "SELECT COUNT(*) FROM V_TA_TPV"), "2");
  EXPECT_EQ(Scalar(Home(), "SELECT Descripcion FROM V_TA_ETAPAS WHERE CODIGOESTADO = '0013'"), "EN GARANTIA");
  EXPECT_EQ(Scalar(*pos, "SELECT COUNT(*) FROM V_TA_ETAPAS"), "0");
  bool contado = false;
  for (const auto& m : platform.shown)
    contado = contado || (m.title == "Atención" && m.prompt.find("TPV1") != std::string::npos);
  EXPECT_TRUE(contado);
  EXPECT_EQ(Scalar(Home(), "SELECT COUNT(*) FROM AUX_ERR"), "1");
}

TEST_F(Commands, TheTypicalRequestSavesAndReplicates) {
  Confirm("0013");
  EXPECT_TRUE(form.bNuevo);
  form.Escribir(1, "  EN GARANTIA  ");
  form.ElegirTipo('T');
  // The list shows 0001, 0002, 0003, 0004, abc: select 0003 first, then 0001.
  form.AlternarEntrada(2);
  form.AlternarEntrada(0);
  form.Botonera1_Click("grabar");

  EXPECT_EQ(Rows(Home(),
                 "SELECT CODIGOESTADO, Descripcion, Color, Tipo, PosiblesEstadoPrevio FROM V_TA_ETAPAS WHERE "
                 "CODIGOESTADO = '0013'"),
            (std::vector<std::string>{"0013|EN GARANTIA|16777215|T| 0001|0003|"}));
  auto pos = test::Connect("SUC1", "TPV1");
  EXPECT_EQ(Rows(*pos, "SELECT CODIGOESTADO, Descripcion, Tipo, PosiblesEstadoPrevio FROM V_TA_ETAPAS"),
            (std::vector<std::string>{"0013|EN GARANTIA|T| 0001|0003|"}));
  EXPECT_EQ(Titles(),
            (std::vector<std::string>{
                "Aviso al operador|No se pudo conectar al Punto de ventas Sucursal Norte",
                "Aviso al operador|El cambio de Tabla de Status quedó pendiente para 1 punto de venta. Se enviará "
                "en la próxima grabación que los alcance, o con etapas-admin sincronizar."}));
  EXPECT_EQ(platform.shown[0].style, 64);
  EXPECT_EQ(
      Rows(Home(), "SELECT CODIGO, CONECTADO, ULTIMA_DETECCION IS NULL, PEND_TABLAS FROM V_TA_TPV ORDER BY CODIGO"),
      (std::vector<std::string>{"0001|True|1|False", "0002|False|0|False"}));
  // Idle again, with the recordset reopened.
  EXPECT_FALSE(form.bNuevo || form.bModifica || form.bEditando || form.bGrabando);
  EXPECT_FALSE(form.Txtfields[1].Enabled);
  EXPECT_EQ(form.Txtfields[0].Text, "");
  EXPECT_TRUE(form.rsDatos && form.rsDatos->IsOpen());

  // Saving it again updates (never the code) and reaches the point of sale.
  Confirm("13");
  form.Escribir(1, "GARANTIA EXTENDIDA");
  form.Botonera1_Click("GRABAR");
  EXPECT_EQ(Scalar(Home(), "SELECT COUNT(*) FROM V_TA_ETAPAS WHERE CODIGOESTADO = '0013'"), "1");
  EXPECT_EQ(Scalar(*pos, "SELECT Descripcion FROM V_TA_ETAPAS"), "GARANTIA EXTENDIDA");

  // Blanks typed around a store's names: the store is still reached, not owed the change.
  Exec(Home(), "UPDATE V_TA_TPV SET Server = ' SUC1 ', Dbname = ' TPV1  ' WHERE CODIGO = '0001'");
  Confirm("13");
  form.Escribir(1, "GARANTIA TOTAL");
  form.Botonera1_Click("GRABAR");
  EXPECT_EQ(Scalar(*pos, "SELECT Descripcion FROM V_TA_ETAPAS"), "GARANTIA TOTAL");
  EXPECT_EQ(Scalar(Home(), "SELECT COUNT(*) FROM V_TA_REPLICACION_PENDIENTE WHERE DESTINO = '0001'"), "0");
}

TEST_F(Commands, NuevoProposesTheNextCode) {
  Exec(Home(), "INSERT INTO V_TA_ETAPAS (CODIGOESTADO, Descripcion) VALUES ('0012', 'DOCE')");
  form.Botonera1_Click("nuevo");
  EXPECT_EQ(form.Txtfields[0].Text, "13");
  EXPECT_EQ(form.Txtfields[0].SelStart, 2);
  EXPECT_TRUE(form.bNuevo);
  EXPECT_FALSE(form.Txtfields[1].Enabled);
  EXPECT_EQ(form.Foco(), 0);
  form.Botonera1_Click("GUARDAR");  // no such command
  EXPECT_EQ(form.Txtfields[0].Text, "13");
  form.Botonera1_Click("REPORTE");
  EXPECT_TRUE(platform.shown.empty());
}

TEST_F(Commands, CancelAsksOnlyWhileEditing) {
  form.Botonera1_Click("CANCELAR");  // right after load: no question
  EXPECT_TRUE(platform.shown.empty());
  Confirm("0002");
  form.Escribir(1, "CAMBIADA");
  form.AlternarEntrada(1);
  platform.answers = {7};
  form.Botonera1_Click("CANCELAR");
  ASSERT_EQ(platform.shown.size(), 1u);
  EXPECT_EQ(platform.shown[0].title, "Atención!!!");
  EXPECT_EQ(platform.shown[0].prompt, "Cancelar?");
  EXPECT_EQ(platform.shown[0].style, 4 + 48 + 256);
  EXPECT_EQ(form.Txtfields[1].Text, "CAMBIADA");
  EXPECT_TRUE(form.LstEstPrev.Items[1].Selected);
  EXPECT_TRUE(form.bEditando && form.bModifica);
  platform.answers = {6};
  form.Botonera1_Click("CANCELAR");
  EXPECT_FALSE(form.bEditando || form.bModifica);
  EXPECT_EQ(form.Txtfields[1].Text, "");
  EXPECT_FALSE(form.Txtfields[1].Enabled);
  EXPECT_EQ(Scalar(Home(), "SELECT Descripcion FROM V_TA_ETAPAS WHERE CODIGOESTADO = '0002'"), "EN REPARACION");
}

TEST_F(Commands, DeleteAfterConfirmationOnly) {
  Confirm("0004");
  platform.answers = {7};
  form.Botonera1_Click("BORRAR");
  ASSERT_EQ(platform.shown.size(), 1u);
  EXPECT_EQ(platform.shown[0].title, "Atención!");
  EXPECT_EQ(platform.shown[0].prompt, "Confirma la baja de este registro?");
  EXPECT_EQ(platform.shown[0].style, 4 + 48 + 256);
  EXPECT_TRUE(form.bBorrar);
  EXPECT_EQ(Scalar(Home(), "SELECT COUNT(*) FROM V_TA_ETAPAS WHERE CODIGOESTADO = '0004'"), "1");
  platform.answers = {6};
  form.Botonera1_Click("BORRAR");
  EXPECT_EQ(Scalar(Home(), "SELECT COUNT(*) FROM V_TA_ETAPAS WHERE CODIGOESTADO = '0004'"), "0");
  EXPECT_FALSE(form.Txtfields[1].Enabled);
  // Not replicated; a later CANCELAR still asks once, then never.
  EXPECT_EQ(Scalar(*test::Connect("SUC1", "TPV1"), "SELECT COUNT(*) FROM V_TA_ETAPAS"), "0");
  platform.answers = {6};
  form.Botonera1_Click("CANCELAR");
  form.Botonera1_Click("CANCELAR");
  EXPECT_EQ(platform.shown.size(), 3u);
}

TEST_F(Commands, ADeletionTheDatabaseRefusesShowsItsText) {
  Exec(Home(), "CREATE TABLE ORDENES (Id int PRIMARY KEY, Estado varchar(4) REFERENCES V_TA_ETAPAS(CODIGOESTADO))");
  Exec(Home(), "INSERT INTO ORDENES VALUES (1, '0001')");
  Confirm("0001");
  platform.answers = {6};
  form.Botonera1_Click("BORRAR");
  ASSERT_EQ(platform.shown.size(), 2u);
  EXPECT_EQ(platform.shown[1].title, "Atención");
  EXPECT_EQ(platform.shown[1].style, 16);
  EXPECT_NE(platform.shown[1].prompt.find("REFERENCE"), std::string::npos);
  EXPECT_EQ(form.Txtfields[1].Text, "PRESUPUESTO");  // still on screen
  EXPECT_TRUE(form.Txtfields[1].Enabled);
}

TEST_F(Commands, SavingRechecksTheCodeAgainstOtherUsers) {
  // Another user creates the code after it was confirmed as new: the save updates it.
  Confirm("0020");
  form.Escribir(1, "MIA");
  Exec(*test::Connect("CASA", "EMPRESA1"),
       "INSERT INTO V_TA_ETAPAS (CODIGOESTADO, Descripcion) VALUES ('0020', 'DEL OTRO')");
  form.Botonera1_Click("GRABAR");
  EXPECT_EQ(Rows(Home(), "SELECT Descripcion FROM V_TA_ETAPAS WHERE CODIGOESTADO = '0020'"),
            (std::vector<std::string>{"MIA"}));

  // Another user deletes the status after it was opened: the save inserts it again.
  Confirm("0003");
  Exec(*test::Connect("CASA", "EMPRESA1"), "DELETE V_TA_ETAPAS WHERE CODIGOESTADO = '0003'");
  form.Botonera1_Click("GRABAR");
  EXPECT_EQ(Scalar(Home(), "SELECT Descripcion FROM V_TA_ETAPAS WHERE CODIGOESTADO = '0003'"), "REPARADO");

  // The row vanishes between the check and the re-read: nothing is written.
  Confirm("0002");
  form.Escribir(1, "NO SE GRABA");
  Exec(*test::Connect("CASA", "EMPRESA1"), "DELETE V_TA_ETAPAS WHERE CODIGOESTADO = '0002'");
  platform.shown.clear();
  form.GrabarRegistro();
  ASSERT_EQ(platform.shown.size(), 1u);
  EXPECT_EQ(platform.shown[0].title, "Aviso al operador");
  EXPECT_EQ(platform.shown[0].prompt, "El registro que intenta grabar ya no existe");
  EXPECT_EQ(Scalar(Home(), "SELECT COUNT(*) FROM V_TA_ETAPAS WHERE CODIGOESTADO = '0002'"), "0");
}

TEST_F(Commands, AnEmptyDescriptionStopsTheSave) {
  Confirm("0030");
  form.Botonera1_Click("GRABAR");
  ASSERT_EQ(platform.shown.size(), 1u);
  EXPECT_EQ(platform.shown[0].prompt, "Debe ingresar una descripción");
  EXPECT_FALSE(form.bGrabando);
  EXPECT_EQ(form.Foco(), 1);
  EXPECT_EQ(Scalar(Home(), "SELECT COUNT(*) FROM V_TA_ETAPAS WHERE CODIGOESTADO = '0030'"), "0");
}

TEST_F(Commands, ConsultarLooksUpTheFocusedField) {
  platform.lookupAnswers = {" 0003 "};
  form.Botonera1_Click("CONSULTAR");
  EXPECT_EQ(Lookups(), (std::vector<std::string>{
                           "SELECT CODIGOESTADO, DESCRIPCION FROM V_TA_ETAPAS ORDER BY CODIGOESTADO|CODIGOESTADO"}));
  EXPECT_EQ(Consulta().ArchivoConsultas(), root.Path() + "/consultas.cvl");  // the file start-up wrote
  EXPECT_EQ(form.Txtfields[0].Text, "0003");
  EXPECT_EQ(form.Txtfields[1].Text, "REPARADO");
  EXPECT_TRUE(form.bModifica);
  EXPECT_EQ(form.Foco(), 1);

  // The description field has no lookup.
  form.Botonera1_Click("CONSULTAR");
  EXPECT_EQ(platform.lookups.size(), 1u);

  // An empty answer confirms an empty code: a new status.
  form.SetFocus(0);
  platform.lookupAnswers = {""};
  form.Botonera1_Click("CONSULTAR");
  EXPECT_EQ(form.Txtfields[0].Text, "");
  EXPECT_TRUE(form.bNuevo);

  // The colour field opens the colour dialog and keeps no text.
  platform.colours = {255};
  form.SetFocus(2);
  form.Botonera1_Click("CONSULTAR");
  EXPECT_EQ(form.Txtfields[2].BackColor, 255);
  EXPECT_EQ(form.Txtfields[2].Text, "");

  form.Botonera1_Click("PLANILLA");
  const std::string proveedor = test::OnPostgreSQL() ? "postgresql" : "sqlite";
  EXPECT_EQ(Listings(), (std::vector<std::string>{"SELECT * FROM V_TA_ETAPAS|" + proveedor + "|V_TA_ETAPAS"}));
}

// Another program stored a status without its leading zeros: the editor opens, saves,
// replicates and deletes that row and never creates a padded copy beside it.
TEST_F(Commands, AStatusStoredUnpaddedIsOpenedSavedAndDeletedUnderItsOwnCode) {
  Exec(Home(),
       "INSERT INTO V_TA_ETAPAS (CODIGOESTADO, Descripcion, Color, Tipo, PosiblesEstadoPrevio) VALUES "
       "('77', 'DE OTRO PROGRAMA', '255', 'E', ' 0001|')");
  Confirm("77");
  EXPECT_TRUE(form.bModifica);
  EXPECT_FALSE(form.bNuevo);
  EXPECT_EQ(form.Txtfields[1].Text, "DE OTRO PROGRAMA");
  EXPECT_EQ(Selected(), (std::vector<std::string>{"0001"}));
  for (const auto& c : Codes()) EXPECT_NE(c, "77");  // not its own predecessor
  form.Escribir(1, "CAMBIADA");
  form.Botonera1_Click("GRABAR");
  EXPECT_EQ(Rows(Home(), "SELECT CODIGOESTADO, Descripcion FROM V_TA_ETAPAS WHERE CODIGOESTADO IN ('77', '0077')"),
            (std::vector<std::string>{"77|CAMBIADA"}));
  EXPECT_EQ(Rows(*test::Connect("SUC1", "TPV1"), "SELECT CODIGOESTADO, Descripcion FROM V_TA_ETAPAS"),
            (std::vector<std::string>{"77|CAMBIADA"}));

  // Chosen in the lookup window.
  platform.lookupAnswers = {"77"};
  form.SetFocus(0);
  form.Botonera1_Click("CONSULTAR");
  EXPECT_TRUE(form.bModifica);
  EXPECT_EQ(form.Txtfields[1].Text, "CAMBIADA");
  platform.answers = {6};
  form.Botonera1_Click("BORRAR");
  EXPECT_EQ(Scalar(Home(), "SELECT COUNT(*) FROM V_TA_ETAPAS WHERE CODIGOESTADO IN ('77', '0077')"), "0");
  EXPECT_FALSE(form.Txtfields[1].Enabled);
}

// A home table whose code column is wider than the field: codes keep their four-character
// stored form in every statement.
TEST_F(Commands, AWiderCodeColumnKeepsTheFourCharacterForm) {
  Exec(Home(), "DROP TABLE V_TA_ETAPAS");
  Exec(Home(),
       "CREATE TABLE V_TA_ETAPAS (CODIGOESTADO varchar(6) NOT NULL PRIMARY KEY, Descripcion varchar(100) NULL, "
       "Color varchar(20) NULL, Tipo varchar(1) NULL, PosiblesEstadoPrevio varchar(max) NULL)");
  Exec(Home(), "INSERT INTO V_TA_ETAPAS (CODIGOESTADO, Descripcion) VALUES ('0001', 'UNO'), ('0002', 'DOS')");
  Confirm("1");
  EXPECT_TRUE(form.bModifica);
  EXPECT_EQ(form.Txtfields[1].Text, "UNO");
  form.Escribir(1, "UNO BIS");
  form.Botonera1_Click("GRABAR");
  EXPECT_EQ(Scalar(Home(), "SELECT Descripcion FROM V_TA_ETAPAS WHERE CODIGOESTADO = '0001'"), "UNO BIS");

  Confirm("5");
  EXPECT_TRUE(form.bNuevo);
  form.Escribir(1, "CINCO");
  form.Botonera1_Click("GRABAR");
  EXPECT_EQ(Rows(Home(), "SELECT CODIGOESTADO FROM V_TA_ETAPAS ORDER BY CODIGOESTADO"),
            (std::vector<std::string>{"0001", "0002", "0005"}));
  EXPECT_EQ(Scalar(*test::Connect("SUC1", "TPV1"), "SELECT CODIGOESTADO FROM V_TA_ETAPAS WHERE Descripcion = 'CINCO'"),
            "0005");

  Confirm("2");
  platform.answers = {6};
  form.Botonera1_Click("BORRAR");
  EXPECT_EQ(Rows(Home(), "SELECT CODIGOESTADO FROM V_TA_ETAPAS ORDER BY CODIGOESTADO"),
            (std::vector<std::string>{"0001", "0005"}));
}

TEST_F(Commands, NuevoSaysWhenTheNextCodeDoesNotFit) {
  Exec(Home(), "INSERT INTO V_TA_ETAPAS (CODIGOESTADO, Descripcion) VALUES ('9999', 'ULTIMO')");
  form.Botonera1_Click("NUEVO");
  ASSERT_EQ(platform.shown.size(), 1u);
  EXPECT_EQ(platform.shown[0].title, "Aviso al operador");
  EXPECT_NE(platform.shown[0].prompt.find("10000"), std::string::npos);
  EXPECT_NE(platform.shown[0].prompt.find("no cabe"), std::string::npos);
  EXPECT_EQ(form.Txtfields[0].Text, "");
  EXPECT_LE(form.Txtfields[0].Text.size(), 4u);
  EXPECT_EQ(form.Foco(), 0);
}

// Answers the first error dialog after letting another program's write transaction end.
class ConBloqueo : public PlataformaGuionada {
 public:
  int MsgBox(const std::string& prompt, int style, const std::string& title) override {
    if (bloqueo && (style & 0xF) == mb::kAbortRetryIgnore) {
      if (liberarAlPreguntar) Exec(*bloqueo, "COMMIT TRANSACTION");
      if (liberarAlPreguntar) bloqueo.reset();
    }
    return PlataformaGuionada::MsgBox(prompt, style, title);
  }
  std::unique_ptr<ClsDatos> bloqueo;
  bool liberarAlPreguntar = true;
};

// The home database locked by another program when the row is committed.
TEST_F(Commands, ARefusedCommitRetriedSavesAndIgnoredKeepsTheWindow) {
  if (test::OnPostgreSQL()) GTEST_SKIP() << "SQLite file lock";
  ConBloqueo plataforma;
  plataforma.folder = platform.folder;
  plataforma.commandLine = platform.commandLine;
  plataforma.environment = platform.environment;
  SetPlatform(&plataforma);
  Home().Conexion()->SetCommandTimeout(1);
  auto bloquear = [&] {
    plataforma.bloqueo = test::Connect("CASA", "EMPRESA1");
    Exec(*plataforma.bloqueo, "BEGIN TRANSACTION");
    Exec(*plataforma.bloqueo, "UPDATE V_TA_ETAPAS SET Color = Color WHERE CODIGOESTADO = '0001'");
  };

  // Retry: the lock is gone when the operator answers; the typed values are committed.
  Confirm("0050");
  form.Escribir(1, "REINTENTADA");
  form.ElegirTipo('F');
  bloquear();
  plataforma.answers = {4};
  form.Botonera1_Click("GRABAR");
  EXPECT_EQ(Rows(Home(), "SELECT CODIGOESTADO, Descripcion, Tipo FROM V_TA_ETAPAS WHERE CODIGOESTADO = '0050'"),
            (std::vector<std::string>{"0050|REINTENTADA|F"}));
  EXPECT_EQ(Scalar(*test::Connect("SUC1", "TPV1"), "SELECT Descripcion FROM V_TA_ETAPAS WHERE CODIGOESTADO = '0050'"),
            "REINTENTADA");
  EXPECT_FALSE(form.Txtfields[1].Enabled);

  // Retry on an existing status commits the new values too.
  Confirm("0002");
  form.Escribir(1, "EDITADA");
  bloquear();
  plataforma.answers = {4};
  form.Botonera1_Click("GRABAR");
  EXPECT_EQ(Scalar(Home(), "SELECT Descripcion FROM V_TA_ETAPAS WHERE CODIGOESTADO = '0002'"), "EDITADA");

  // Ignore: nothing saved, the window as the operator left it, and the operator told.
  Confirm("0051");
  form.Escribir(1, "SIN GRABAR");
  form.ElegirTipo('A');
  form.AlternarEntrada(0);
  bloquear();
  plataforma.liberarAlPreguntar = false;
  plataforma.shown.clear();
  plataforma.answers = {5};
  form.Botonera1_Click("GRABAR");
  EXPECT_EQ(Scalar(Home(), "SELECT COUNT(*) FROM V_TA_ETAPAS WHERE CODIGOESTADO = '0051'"), "0");
  ASSERT_EQ(plataforma.shown.size(), 2u);
  EXPECT_NE(plataforma.shown[1].prompt.find("no se grabó"), std::string::npos);
  EXPECT_EQ(form.Txtfields[0].Text, "0051");
  EXPECT_EQ(form.Txtfields[1].Text, "SIN GRABAR");
  EXPECT_TRUE(form.Txtfields[1].Enabled);
  EXPECT_EQ(form.TipoSeleccionado(), 'A');
  EXPECT_TRUE(form.LstEstPrev.Items.at(0).Selected);
  EXPECT_TRUE(form.bEditando);
  // Nothing typed goes without a question; once the lock is gone the same window saves.
  Exec(*plataforma.bloqueo, "COMMIT TRANSACTION");
  plataforma.bloqueo.reset();
  plataforma.answers = {7};
  form.Botonera1_Click("CANCELAR");
  EXPECT_EQ(plataforma.shown.back().prompt, "Cancelar?");
  form.Botonera1_Click("GRABAR");
  EXPECT_EQ(Scalar(Home(), "SELECT Descripcion FROM V_TA_ETAPAS WHERE CODIGOESTADO = '0051'"), "SIN GRABAR");
  SetPlatform(&platform);
}

// Two editors create the same code: the other one commits between this one's check and
// its commit.
TEST_F(Commands, TheLoserOfTwoSimultaneousCreationsIsToldAndKeepsItsValues) {
  Confirm("0060");
  form.Escribir(1, "MIA");
  form.ElegirTipo('E');
  form.bGrabando = true;
  ASSERT_TRUE(form.ValidarCampos());
  ASSERT_TRUE(form.bNuevo);
  Exec(*test::Connect("CASA", "EMPRESA1"),
       "INSERT INTO V_TA_ETAPAS (CODIGOESTADO, Descripcion) VALUES ('0060', 'DEL OTRO')");
  form.bEditando = false;
  form.GrabarRegistro();
  form.bGrabando = false;
  ASSERT_FALSE(platform.shown.empty());
  EXPECT_NE(platform.shown.back().prompt.find("Otro usuario"), std::string::npos);
  EXPECT_NE(platform.shown.back().prompt.find("0060"), std::string::npos);
  EXPECT_NE(platform.shown.back().prompt.find("EMPRESA1"), std::string::npos);
  EXPECT_EQ(Rows(Home(), "SELECT Descripcion FROM V_TA_ETAPAS WHERE CODIGOESTADO = '0060'"),
            (std::vector<std::string>{"DEL OTRO"}));
  EXPECT_EQ(form.Txtfields[1].Text, "MIA");
  EXPECT_EQ(form.TipoSeleccionado(), 'E');
  EXPECT_TRUE(form.Txtfields[1].Enabled);
  EXPECT_TRUE(form.bEditando);
  EXPECT_EQ(Scalar(*test::Connect("SUC1", "TPV1"), "SELECT COUNT(*) FROM V_TA_ETAPAS"), "0");
}

TEST_F(Commands, CerrarEndsWithoutAsking) {
  Confirm("0001");
  form.Escribir(1, "SIN GRABAR");
  EXPECT_THROW(form.Botonera1_Click("CERRAR"), ProcesoTerminado);
  EXPECT_TRUE(platform.shown.empty());
}

// A platform that clicks again while the replication lets events through.
class Impaciente : public PlataformaGuionada {
 public:
  void DoEvents() override {
    PlataformaGuionada::DoEvents();
    if (form && !reentered) {
      reentered = true;
      form->Botonera1_Click("GRABAR");
      form->Form_KeyDown(tecla::kF5, 0);
    }
  }
  FrmV_TA_ETAPAS* form = nullptr;
  bool reentered = false;
};

TEST_F(Commands, NoSecondSaveStartsWhileReplicating) {
  Impaciente impaciente;
  impaciente.folder = platform.folder;
  impaciente.commandLine = platform.commandLine;
  impaciente.environment = platform.environment;
  impaciente.form = &form;
  SetPlatform(&impaciente);
  Confirm("0040");
  form.Escribir(1, "UNA VEZ");
  form.Botonera1_Click("GRABAR");
  SetPlatform(&platform);
  EXPECT_TRUE(impaciente.reentered);
  int unreachable = 0;
  for (const auto& m : impaciente.shown) unreachable += m.prompt.find("No se pudo conectar") != std::string::npos;
  EXPECT_EQ(unreachable, 1);
  EXPECT_EQ(Scalar(*test::Connect("SUC1", "TPV1"), "SELECT COUNT(*) FROM V_TA_ETAPAS WHERE CODIGOESTADO = '0040'"),
            "1");
}

}  // namespace
}  // namespace etapas
