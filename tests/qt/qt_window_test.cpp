// The real widgets, driven as the operator would drive them.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>
#include <QTest>
#include <filesystem>

#include "common/mod_global.h"
#include "db_fixture.h"
#include "test_support.h"
#include "ui/qt/ventana_qt.h"

namespace etapas {
namespace {

class QtWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    ReiniciarEstadoGlobal();
    test::CreateDatabase("CASA", "EMPRESA1", "home.sql");
    test::CreateDatabase("CASA", "CV_TORNASOLADAS", "stats.sql");
    test::Exec(*test::Connect("CASA", "EMPRESA1"),
               "INSERT INTO V_TA_ETAPAS (CODIGOESTADO, Descripcion, Color, Tipo, PosiblesEstadoPrevio) VALUES "
               "('0001','PRESUPUESTO','255','P',' '),('0002','EN REPARACION','65280','E',' 0001|')");
    platform.commandLine = "@Server=CASA; @DbName=EMPRESA1; @Usuario=sa; @Password=x;";
    platform.answerer = [this](const std::string& prompt, int style, const std::string& title) {
      boxes.push_back(title + "|" + prompt + "|" + std::to_string(style));
      return mb::DefaultAnswer(style);
    };
    SetPlatform(&platform);
    window = std::make_unique<ui::VentanaQt>(model);
    model.Form_Load();
    model.Visible = true;
    window->show();
    model.SetFocus(0);
    window->Sincronizar();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
  }
  void TearDown() override {
    window.reset();
    SetPlatform(nullptr);
    ReiniciarEstadoGlobal();
  }

  test::TempDataRoot root;
  ui::PlataformaQt platform;
  FrmV_TA_ETAPAS model;
  std::unique_ptr<ui::VentanaQt> window;
  std::vector<std::string> boxes;
};

TEST_F(QtWindow, TypingACodeAndEnterShowsTheStatus) {
  EXPECT_EQ(window->windowTitle(), "Tabla de Status");
  EXPECT_FALSE(window->Campo(1)->isEnabled());
  EXPECT_TRUE(window->Accion("NUEVO")->isEnabled());
  EXPECT_FALSE(window->Accion("GRABAR")->isEnabled());

  window->Campo(0)->setFocus();
  QTest::keyClicks(window->Campo(0), "00021");  // the field takes four characters
  EXPECT_EQ(window->Campo(0)->text(), "0002");
  QTest::keyClick(window->Campo(0), Qt::Key_Return);

  EXPECT_EQ(window->Campo(1)->text(), "EN REPARACION");
  EXPECT_TRUE(window->Campo(1)->isEnabled());
  EXPECT_TRUE(window->Opcion(1)->isChecked());
  const QImage colour = window->Campo(2)->grab().toImage();
  EXPECT_EQ(colour.pixelColor(colour.width() / 2, colour.height() / 2), QColor(0, 255, 0));
  ASSERT_EQ(window->Lista()->count(), 1);
  EXPECT_TRUE(window->Lista()->item(0)->isSelected());
  EXPECT_TRUE(window->Accion("GRABAR")->isEnabled());
  EXPECT_TRUE(model.bModifica);
  EXPECT_EQ(QApplication::focusWidget(), window->Campo(1));

  // Clearing the description and pressing Enter asks for one, with the exact box.
  window->Campo(1)->selectAll();
  QTest::keyClick(window->Campo(1), Qt::Key_Delete);
  QTest::keyClick(window->Campo(1), Qt::Key_Return);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0], "Aviso al operador...|Debe ingresar una descripción|64");

  // Clicking a list entry toggles it; choosing an option reaches the model.
  QTest::mouseClick(window->Lista()->viewport(), Qt::LeftButton, {},
                    window->Lista()->visualItemRect(window->Lista()->item(0)).center());
  EXPECT_FALSE(model.LstEstPrev.Items[0].Selected);
  window->Opcion(3)->click();
  EXPECT_EQ(model.TipoSeleccionado(), 'A');

  // A description again, the entry selected again, then the command bar's save.
  QTest::keyClicks(window->Campo(1), "EN TALLER");
  QTest::mouseClick(window->Lista()->viewport(), Qt::LeftButton, {},
                    window->Lista()->visualItemRect(window->Lista()->item(0)).center());
  window->Accion("GRABAR")->trigger();
  EXPECT_EQ(test::Rows(*test::Connect("CASA", "EMPRESA1"),
                       "SELECT Descripcion, Tipo, PosiblesEstadoPrevio FROM V_TA_ETAPAS WHERE CODIGOESTADO = '0002'"),
            (std::vector<std::string>{"EN TALLER|A| 0001|"}));
  // Idle again: the window shows it.
  EXPECT_EQ(window->Campo(0)->text(), "");
  EXPECT_FALSE(window->Campo(1)->isEnabled());
  EXPECT_TRUE(window->Accion("NUEVO")->isEnabled());
  EXPECT_EQ(boxes.size(), 1u);
}

}  // namespace
}  // namespace etapas
