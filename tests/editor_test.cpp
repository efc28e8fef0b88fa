// The editor window's model on real databases: load, keys and focus, looking a code up,
// showing a status, and the structure probe.
#include <gtest/gtest.h>

#include "components/cls_util.h"
#include "editor_fixture.h"

namespace etapas {
namespace {

using test::Exec;

class Editor : public test::EditorTest {};

TEST_F(Editor, AfterLoadOnlyTheCodeFieldWaits) {
  Load();
  EXPECT_EQ(form.sTabla, "V_TA_ETAPAS");
  EXPECT_TRUE(form.Txtfields[0].Enabled);
  EXPECT_FALSE(form.Txtfields[1].Enabled);
  EXPECT_FALSE(form.Txtfields[2].Enabled);
  EXPECT_FALSE(form.cmdColor.Enabled);
  EXPECT_FALSE(form.frmAttr.Enabled);
  EXPECT_FALSE(form.LstEstPrev.Enabled);
  EXPECT_EQ(form.Txtfields[2].BackColor, 16777215);
  EXPECT_EQ(form.TipoSeleccionado(), 'P');
  EXPECT_TRUE(form.LstEstPrev.Items.empty());
  EXPECT_EQ(form.Txtfields[0].Text, "");
  ASSERT_TRUE(form.rsDatos);
  EXPECT_EQ(form.rsDatos->RecordCount(), 1);
  // Idle configuration of the command bar; CONSULTAR follows the focused field.
  EXPECT_TRUE(form.Botonera1.Habilitado("NUEVO"));
  EXPECT_FALSE(form.Botonera1.Habilitado("GRABAR"));
  EXPECT_FALSE(form.Botonera1.Habilitado("REPORTE"));
  EXPECT_TRUE(form.Botonera1.Habilitado("CONSULTAR"));
  EXPECT_EQ(form.Icono(), "recurso:ICONCORVELA");
  EXPECT_FALSE(form.bNuevo || form.bModifica || form.bEditando);
  // Start-up recorded the use.
  EXPECT_EQ(test::Scalar(Home(), "SELECT Formulario FROM Control_Acceso"), "ETAPAS");
}

TEST_F(Editor, ConfirmingAnExistingCodeShowsTheStatus) {
  Load();
  Confirm("2");  // typed without the stored padding
  EXPECT_TRUE(form.bModifica);
  EXPECT_FALSE(form.bNuevo);
  EXPECT_TRUE(form.bEditando);
  EXPECT_EQ(form.Txtfields[1].Text, "EN REPARACION");
  EXPECT_EQ(form.Txtfields[2].BackColor, 16711680);
  EXPECT_EQ(form.TipoSeleccionado(), 'E');
  EXPECT_EQ(Codes(), (std::vector<std::string>{"0001", "0003", "0004", "abc"}));
  EXPECT_EQ(Selected(), (std::vector<std::string>{"0001"}));
  EXPECT_TRUE(form.Txtfields[1].Enabled && form.Txtfields[2].Enabled && form.cmdColor.Enabled && form.frmAttr.Enabled &&
              form.LstEstPrev.Enabled);
  EXPECT_FALSE(form.Botonera1.Habilitado("NUEVO"));
  EXPECT_TRUE(form.Botonera1.Habilitado("GRABAR"));
  EXPECT_EQ(form.Foco(), 1);
  // The list entry: description, 100 blanks, code.
  EXPECT_EQ(form.LstEstPrev.Items[0].Text, "PRESUPUESTO" + std::string(100, ' ') + "0001");

  // Another status replaces everything shown; codes missing from the list are skipped.
  Confirm("0003");
  EXPECT_EQ(form.Txtfields[1].Text, "REPARADO");
  EXPECT_EQ(form.Txtfields[2].BackColor, 16777215);
  EXPECT_EQ(form.TipoSeleccionado(), 'F');
  EXPECT_EQ(Selected(), (std::vector<std::string>{"0001", "0002"}));

  // Type "X" leaves the option as it was; "ABC" selects the entry "abc"; a last code
  // without its bar still counts.
  Confirm("0002");
  Confirm("0004");
  EXPECT_EQ(form.TipoSeleccionado(), 'E');
  EXPECT_EQ(Selected(), (std::vector<std::string>{"0001", "abc"}));
  Confirm("ABC");
  EXPECT_EQ(form.TipoSeleccionado(), 'P');  // empty type
  EXPECT_EQ(form.Txtfields[1].Text, "MINUSCULAS");
  EXPECT_TRUE(Selected().empty());
}

TEST_F(Editor, ConfirmingANewCodeOpensAnEmptyStatus) {
  Load();
  Confirm("0002");
  Confirm("77");
  EXPECT_TRUE(form.bNuevo);
  EXPECT_FALSE(form.bModifica);
  EXPECT_EQ(form.Txtfields[1].Text, "");
  EXPECT_EQ(form.Txtfields[2].BackColor, 16777215);
  EXPECT_EQ(form.TipoSeleccionado(), 'P');
  EXPECT_EQ(Codes().size(), 5u);
  EXPECT_TRUE(Selected().empty());
  EXPECT_TRUE(form.Txtfields[1].Enabled);
  EXPECT_TRUE(platform.shown.empty());
}

TEST_F(Editor, TheDescriptionIsRequiredAndTheColourFieldIsNotChecked) {
  Load();
  Confirm("0001");
  form.SetFocus(1);
  EXPECT_FALSE(form.Botonera1.Habilitado("CONSULTAR"));
  form.Escribir(1, "   ");
  Key(1, 13);
  EXPECT_TRUE(form.bError);
  ASSERT_EQ(platform.shown.size(), 1u);
  EXPECT_EQ(platform.shown[0].prompt, "Debe ingresar una descripción");
  EXPECT_EQ(platform.shown[0].title, "Aviso al operador...");
  EXPECT_EQ(platform.shown[0].style, 64);
  EXPECT_EQ(form.Foco(), 1);
  form.Escribir(1, " x");
  Key(1, 13);
  EXPECT_FALSE(form.bError);
  EXPECT_EQ(form.Foco(), 2);
  // The key's own field sets the switch last: the description has no lookup.
  EXPECT_FALSE(form.Botonera1.Habilitado("CONSULTAR"));
  Key(2, 13);
  EXPECT_FALSE(form.bError);
  EXPECT_EQ(platform.shown.size(), 1u);
  // Other keys do not confirm.
  form.SetFocus(1);
  form.Escribir(1, "");
  Key(1, 9);
  EXPECT_EQ(platform.shown.size(), 1u);
}

TEST_F(Editor, TheColourDialogReappliesItsLastColourOnCancel) {
  Load();
  platform.colours = {255, std::nullopt};
  Confirm("0001");
  form.cmdColor_Click();
  EXPECT_EQ(form.Txtfields[2].BackColor, 255);
  Confirm("0002");
  EXPECT_EQ(form.Txtfields[2].BackColor, 16711680);
  form.cmdColor_Click();  // cancelled
  EXPECT_EQ(form.Txtfields[2].BackColor, 255);
  EXPECT_EQ(platform.coloursAsked, 2);
}

TEST_F(Editor, LongDescriptionsStillGiveTheirCode) {
  auto home = test::Connect("CASA", "EMPRESA1");
  Exec(*home, "INSERT INTO V_TA_ETAPAS (CODIGOESTADO, Descripcion) VALUES ('0009', '" + std::string(100, 'L') + "')");
  Exec(*home, "UPDATE V_TA_ETAPAS SET PosiblesEstadoPrevio = ' 0009|' WHERE CODIGOESTADO = '0001'");
  Load();
  Confirm("0001");
  EXPECT_EQ(Selected(), (std::vector<std::string>{"0009"}));
}

TEST_F(Editor, TheStructureProbeAndTheAccountDigits) {
  Exec(*test::Connect("CASA", "EMPRESA1"),
       "INSERT INTO TA_CONFIGURACION (Clave, Valor) VALUES ('Digitos_Capitulo','1'),('Digitos_SubCapitulo','2'),"
       "('Digitos_Rubro','2'),('Digitos_SubRubro','2'),('Digitos_Cuenta','3'),('Digitos_SubCuenta','4')");
  Load();
  EXPECT_EQ(ast::DigTotal, 14);
  EXPECT_EQ(ast::DigSubCuenta, 4);
  EXPECT_EQ(std::vector<int>({ast::PosCapitulo, ast::PosSubCapitulo, ast::PosRubro, ast::PosSubRubro, ast::PosCuenta,
                              ast::PosSubCuenta}),
            std::vector<int>({1, 3, 5, 7, 10, 14}));
  EXPECT_EQ(ast::LargoCodigoCuenta, 14);

  Exec(Home(), "UPDATE TA_CONFIGURACION SET Valor = '2.5' WHERE Clave = 'Digitos_Capitulo'");
  Exec(Home(), "UPDATE TA_CONFIGURACION SET Valor = '3.5' WHERE Clave = 'Digitos_Rubro'");
  Exec(Home(), "UPDATE TA_CONFIGURACION SET Valor = 'abc' WHERE Clave = 'Digitos_Cuenta'");
  form.Generar("OTRA_TABLA");  // the argument has no effect
  EXPECT_EQ(ast::DigCapitulo, 2);
  EXPECT_EQ(ast::DigRubro, 4);
  EXPECT_EQ(ast::DigCuenta, 0);
  EXPECT_EQ(ast::PosSubCapitulo, 4);  // the previous position is already whole: 2 + 2
  ASSERT_TRUE(form.rsDatos);
  EXPECT_EQ(form.rsDatos->Fields("CODIGOESTADO").Value().ToText(), "0001");

  // An empty table still leaves an open recordset, with no row.
  Exec(Home(), "DELETE V_TA_ETAPAS");
  form.Generar("");
  EXPECT_TRUE(form.rsDatos->EOF_());

  // A failure asks with the routine's label; abort keeps the recordset it had.
  Exec(Home(), "UPDATE TA_CONFIGURACION SET Valor = '40000' WHERE Clave = 'Digitos_Capitulo'");
  auto before = form.rsDatos;
  platform.answers = {5, 5, 3};  // ignore both loaders' overflow, abort the probe
  Exec(Home(), "DROP TABLE V_TA_ETAPAS");
  form.Generar("");
  ASSERT_EQ(platform.shown.size(), 3u);
  EXPECT_NE(platform.shown[0].prompt.find("Rutina: Generar"), std::string::npos);
  EXPECT_EQ(form.rsDatos, before);
}

TEST_F(Editor, ShowingAStatusWithoutARowEndsQuietly) {
  Load();
  Confirm("0001");
  form.rsDatos->MoveNext();
  form.AsignarDatos();
  EXPECT_TRUE(platform.shown.empty());
  EXPECT_TRUE(form.bModifica);
}

TEST_F(Editor, UnloadEndsTheSystem) {
  Load();
  Confirm("0001");
  int16_t cancel = 0;
  EXPECT_THROW(form.Form_Unload(cancel), ProcesoTerminado);
  EXPECT_FALSE(form.rsDatos);
  EXPECT_FALSE(form.Visible);
  EXPECT_EQ(cancel, 0);
}

TEST_F(Editor, FunctionKeysReachTheCommandBarFirst) {
  Load();
  std::vector<std::string> clicks;
  form.Botonera1.Click = [&](const std::string& k) { clicks.push_back(k); };
  Key(0, tecla::kF2);
  Key(0, tecla::kF5);  // GRABAR is off while idle
  Confirm("0001");
  Key(1, tecla::kF5);
  Key(1, tecla::kEscape);
  EXPECT_EQ(clicks, (std::vector<std::string>{"NUEVO", "GRABAR", "CANCELAR"}));
}

}  // namespace
}  // namespace etapas
