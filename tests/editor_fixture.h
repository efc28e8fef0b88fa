#pragma once
// The editor loaded on a home database with a few statuses, as the operator finds it.
#include "editor/ast.h"
#include "editor/frm_v_ta_etapas.h"
#include "system_fixture.h"

namespace etapas::test {

class EditorTest : public SystemTest {
 protected:
  void SetUp() override {
    SystemTest::SetUp();
    ast::Reiniciar();
    std::filesystem::copy(ETAPAS_SOURCE_DIR "/Styles", platform.folder + "/Styles");
    auto home = Connect("CASA", "EMPRESA1");
    Exec(*home,
         "INSERT INTO V_TA_ETAPAS (CODIGOESTADO, Descripcion, Color, Tipo, PosiblesEstadoPrevio) VALUES "
         "('0001','PRESUPUESTO','255','P',' '),"
         "('0002','EN REPARACION','16711680','e',' 0001|'),"
         "('0003','REPARADO','','F',' 0001|0099|0002|'),"
         "('0004','RARO','65280','X',' ABC|0001'),"
         "('abc','MINUSCULAS',NULL,NULL,NULL)");
    platform.commandLine = "@Server=CASA; @DbName=EMPRESA1; @Usuario=operador; @Password=x; @UsuarioLogeado=operador;";
  }

  // The load sequence, then the window shown with the focus in the code field.
  void Load() {
    form.Form_Load();
    form.Visible = true;
    form.SetFocus(0);
  }

  // Typing a code and Enter in the code field.
  void Confirm(const std::string& code) {
    if (form.Foco() != 0) form.SetFocus(0);
    form.Escribir(0, code);
    Key(0, 13);
  }
  void Key(int16_t field, int16_t code) {
    form.Form_KeyDown(code, 0);
    form.Txtfields_KeyDown(field, code, 0);
  }
  std::vector<std::string> Selected() const {
    std::vector<std::string> out;
    for (const auto& e : form.LstEstPrev.Items)
      if (e.Selected) out.push_back(e.Codigo);
    return out;
  }
  std::vector<std::string> Codes() const {
    std::vector<std::string> out;
    for (const auto& e : form.LstEstPrev.Items) out.push_back(e.Codigo);
    return out;
  }

  FrmV_TA_ETAPAS form;
};

}  // namespace etapas::test
