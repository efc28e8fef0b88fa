// The lookup window, the listing with its exports, the progress window and the real
// message boxes, driven on Qt's offscreen platform.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "components/platform.h"
#include "progress/dll_display.h"
#include "test_support.h"
#include "ui/qt/dialogos_qt.h"
#include "ui/qt/progreso_qt.h"
#include "ui/qt/ventana_qt.h"

namespace etapas {
namespace {

PeticionConsulta Estados() {
  return {"SELECT CODIGOESTADO, DESCRIPCION FROM V_TA_ETAPAS ORDER BY CODIGOESTADO",
          "CODIGOESTADO",
          "",
          "sqlite",
          "V_TA_ETAPAS",
          {"CODIGOESTADO", "DESCRIPCION"},
          {{"0001", "PRESUPUESTO"}, {"0002", "EN REPARACION"}, {"0003", "REPARADO"}, {"0004", "ENTREGADO"}},
          0};
}

TEST(QtLookup, TheFilterNarrowsTheRowsAndEnterChooses) {
  const auto peticion = Estados();
  ui::VentanaConsultaQt ventana(peticion);
  ventana.show();
  EXPECT_EQ(ventana.windowTitle(), "Consulta - V_TA_ETAPAS");
  EXPECT_EQ(ventana.FilasVisibles(), 4);
  QTest::keyClicks(ventana.Filtro(), "repar");
  EXPECT_EQ(ventana.FilasVisibles(), 2);
  QTest::keyClick(ventana.Filtro(), Qt::Key_Down);
  QTest::keyClick(ventana.Filtro(), Qt::Key_Return);
  EXPECT_EQ(ventana.Resultado(), "0003");
  EXPECT_EQ(ventana.result(), QDialog::Accepted);
}

TEST(QtLookup, DoubleClickChoosesAndEscapeGivesNothing) {
  const auto peticion = Estados();
  {
    ui::VentanaConsultaQt ventana(peticion);
    ventana.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&ventana));
    QTest::keyClicks(ventana.Filtro(), "0004");
    QApplication::processEvents();
    auto* tabla = ventana.Tabla();
    const QRect celda = tabla->visualItemRect(tabla->item(3, 1));
    QTest::mouseClick(tabla->viewport(), Qt::LeftButton, {}, celda.center());
    QTest::mouseDClick(tabla->viewport(), Qt::LeftButton, {}, celda.center());
    EXPECT_EQ(ventana.Resultado(), "0004");
  }
  ui::VentanaConsultaQt ventana(peticion);
  ventana.show();
  QTest::keyClick(ventana.Filtro(), Qt::Key_Escape);
  EXPECT_EQ(ventana.Resultado(), "");
  EXPECT_EQ(ventana.result(), QDialog::Rejected);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(QtListing, SortsAndExportsASpreadsheetAndACsv) {
  test::TempDataRoot root;
  PeticionPlanilla p{"SELECT * FROM V_TA_ETAPAS", "sqlite", "Familias", "", {"CODIGOESTADO", "Descripcion", "Color"},
                     {200, 200, 3}, {{"0002", "EN REPARACION", "255"}, {"0010", "ANULADO, \"X\"", "16777215"}, {"0001", "PRESUPUESTO", "65280"}}, ""};
  ui::VentanaPlanillaQt ventana(p);
  ventana.show();
  ventana.Tabla()->sortByColumn(0, Qt::AscendingOrder);
  EXPECT_EQ(ventana.Tabla()->item(0, 0)->text(), "0001");
  ventana.Tabla()->sortByColumn(2, Qt::DescendingOrder);  // numbers as numbers
  EXPECT_EQ(ventana.Tabla()->item(0, 2)->text(), "16777215");

  std::string pedido;
  ui::VentanaPlanillaQt::SetElegirArchivo([&](const QString&, const QString& filtro, const QString&) {
    pedido = filtro.toStdString();
    return QString::fromStdString(root.Path() + (filtro.contains("xlsx") ? "/estados" : "/estados.csv"));
  });
  ASSERT_TRUE(ventana.Exportar(true));
  EXPECT_EQ(pedido, "Libro de Excel (*.xlsx)");
  const std::string xlsx = ReadFile(root.Path() + "/estados.xlsx");  // the extension is added
  ASSERT_GT(xlsx.size(), 100u);
  EXPECT_EQ(xlsx.substr(0, 4), std::string("PK\x03\x04", 4));  // a zip package
  EXPECT_NE(xlsx.find("[Content_Types].xml"), std::string::npos);
  EXPECT_NE(xlsx.find("xl/worksheets/sheet1.xml"), std::string::npos);

  ASSERT_TRUE(ventana.Exportar(false));
  EXPECT_EQ(ReadFile(root.Path() + "/estados.csv"),
            "CODIGOESTADO,Descripcion,Color\r\n0010,\"ANULADO, \"\"X\"\"\",16777215\r\n0001,PRESUPUESTO,65280\r\n"
            "0002,EN REPARACION,255\r\n");

  // A cancelled save dialog writes nothing.
  ui::VentanaPlanillaQt::SetElegirArchivo([](const QString&, const QString&, const QString&) { return QString(); });
  EXPECT_FALSE(ventana.Exportar(true));
  ui::VentanaPlanillaQt::SetElegirArchivo(nullptr);
}

TEST(QtProgress, TheBannerAnimatesAndTakesTheCancel) {
  RegistrarVentanaProgreso([](EventosVentanaProgreso& e) { return std::make_unique<ui::VentanaProgresoQt>(e); });
  Dll_Display cartel;
  cartel.CartelInicio("Replicando", true);
  auto* ventana = dynamic_cast<ui::VentanaProgresoQt*>(&cartel.Ventana()->Ventana());
  ASSERT_NE(ventana, nullptr);
  EXPECT_TRUE(ventana->isVisible());
  EXPECT_EQ(ventana->windowTitle(), "Replicando");
  EXPECT_NEAR(ventana->windowOpacity(), 200.0 / 255.0, 0.01);
  bool cancelado = true;
  cartel.CartelMostrar(cancelado, Variant("Sucursal Centro"), std::nullopt, Variant("1 de 2"));
  EXPECT_FALSE(cancelado);
  EXPECT_EQ(ventana->Lineas()[0]->text(), "Sucursal Centro");
  EXPECT_EQ(ventana->Lineas()[2]->text(), "1 de 2");
  // The timer moves the animation on, one frame each 100 ms.
  QTest::qWait(450);
  EXPECT_GE(ventana->Cuadro(), 2);
  QTest::mouseClick(ventana->BotonCancelar(), Qt::LeftButton);
  EXPECT_EQ(ventana->BotonCancelar()->text(), "Abortado");
  cartel.CartelMostrar(cancelado);
  EXPECT_TRUE(cancelado);
  cartel.CartelCerrar();
  EXPECT_EQ(cartel.Ventana(), nullptr);
  RegistrarVentanaProgreso(nullptr);
}

TEST(QtMessages, BoxesCarryTheirTitleTextIconAndDefaultButton) {
  ui::PlataformaQt plataforma;
  struct Visto {
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString defaultText;
    int buttons = 0;
  } visto;
  QTimer::singleShot(50, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    visto = {box->windowTitle(), box->text(), box->icon(),
             box->defaultButton() ? box->defaultButton()->text() : QString(), static_cast<int>(box->buttons().size())};
    box->defaultButton()->click();
  });
  const int answer = plataforma.MsgBox("Confirma la baja de este registro?", 4 + 48 + 256, "Atención!");
  EXPECT_EQ(answer, 7);  // No, the default
  EXPECT_EQ(visto.title, "Atención!");
  EXPECT_EQ(visto.text, "Confirma la baja de este registro?");
  EXPECT_EQ(visto.icon, QMessageBox::Warning);
  EXPECT_EQ(visto.buttons, 2);

  QTimer::singleShot(50, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    visto.icon = box->icon();
    visto.buttons = static_cast<int>(box->buttons().size());
    box->button(QMessageBox::Retry)->click();
  });
  EXPECT_EQ(plataforma.MsgBox("Ha ocurrido el Siguiente Error (1) x", 18, "t"), 4);
  EXPECT_EQ(visto.icon, QMessageBox::Critical);
  EXPECT_EQ(visto.buttons, 3);
}

}  // namespace
}  // namespace etapas
