// The lookup window, the listing with its exports, the progress window and the real
// message boxes, driven on Qt's offscreen platform.
#include <gtest/gtest.h>

#include <zlib.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QHeaderView>
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
#include "frente_qt_prueba.h"
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

TEST(QtLookup, TheFilterIgnoresCaseAndAccents) {
  PeticionConsulta peticion = Estados();
  peticion.filas = {{"0001", "PRESUPUESTO"}, {"0002", "CAMIÓN"},       {"0003", "Camión grúa"},
                    {"0004", "CAMPO"},       {"0005", "camión chico"}, {"0006", "camion usado"}};
  {
    ui::VentanaConsultaQt ventana(peticion);
    ventana.show();
    QTest::keyClicks(ventana.Filtro(), "camion");
    EXPECT_EQ(ventana.FilasVisibles(), 4);
    EXPECT_TRUE(ventana.Tabla()->isRowHidden(0));
    EXPECT_TRUE(ventana.Tabla()->isRowHidden(3));  // "CAMPO" shares only the start
    const auto elegidas = ventana.Tabla()->selectionModel()->selectedRows();
    ASSERT_EQ(elegidas.size(), 1);
    EXPECT_EQ(elegidas.first().row(), 1);
    QTest::keyClick(ventana.Filtro(), Qt::Key_Return);
    EXPECT_EQ(ventana.Resultado(), "0002");
  }
  // Accents typed by the operator are ignored the same way, anywhere in the text.
  ui::VentanaConsultaQt ventana(peticion);
  ventana.show();
  QTest::keyClicks(ventana.Filtro(), "GRÚA");
  EXPECT_EQ(ventana.FilasVisibles(), 1);
  QTest::keyClick(ventana.Filtro(), Qt::Key_Return);
  EXPECT_EQ(ventana.Resultado(), "0003");
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// One member of a zip package (a .xlsx), inflated; "" when it is not there.
std::string ZipMember(const std::string& zip, const std::string& name) {
  auto byte = [&](size_t at) {
    return at < zip.size() ? static_cast<unsigned>(static_cast<unsigned char>(zip[at])) : 0u;
  };
  auto u16 = [&](size_t at) { return byte(at) | byte(at + 1) << 8; };
  auto u32 = [&](size_t at) { return u16(at) | u16(at + 2) << 16; };
  const size_t fin = zip.rfind(std::string("PK\x05\x06", 4));
  if (fin == std::string::npos) return "";
  size_t at = u32(fin + 16);
  for (unsigned n = u16(fin + 10); n > 0 && at + 46 <= zip.size() && u32(at) == 0x02014b50; --n) {
    const unsigned metodo = u16(at + 10), comprimido = u32(at + 20), largo = u32(at + 24), nombre = u16(at + 28);
    const size_t local = u32(at + 42);
    if (zip.compare(at + 46, nombre, name) == 0 && local + 30 <= zip.size()) {
      const size_t datos = local + 30 + u16(local + 26) + u16(local + 28);
      if (datos + comprimido > zip.size()) return "";
      if (metodo == 0) return zip.substr(datos, comprimido);
      std::string salida(largo, '\0');
      z_stream z{};
      if (inflateInit2(&z, -MAX_WBITS) != Z_OK) return "";
      z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zip.data() + datos));
      z.avail_in = comprimido;
      z.next_out = reinterpret_cast<Bytef*>(salida.data());
      z.avail_out = largo;
      const int r = inflate(&z, Z_FINISH);
      inflateEnd(&z);
      return r == Z_STREAM_END ? salida : "";
    }
    at += 46 + nombre + u16(at + 30) + u16(at + 32);
  }
  return "";
}

QPushButton* Boton(QWidget& ventana, const QString& texto) {
  for (auto* b : ventana.findChildren<QPushButton*>())
    if (b->text() == texto) return b;
  return nullptr;
}

// The listing with its message boxes answered and recorded, its save dialog answered
// with `elegido`, and a guard that closes any box shown behind the platform's back (one
// would block the run).
class QtListing : public ::testing::Test {
 protected:
  void SetUp() override {
    plataforma.answerer = [this](const std::string& prompt, int style, const std::string& title) {
      cajas.push_back(title + "|" + prompt + "|" + std::to_string(style));
      return respuestas.empty() ? mb::DefaultAnswer(style) : Siguiente();
    };
    SetPlatform(&plataforma);
    ui::VentanaPlanillaQt::SetElegirArchivo([this](const QString&, const QString& filtro, const QString& sugerido) {
      pedidos.push_back((filtro + "|" + sugerido).toStdString());
      return elegido;
    });
    vigilancia = QObject::connect(&guardia, &QTimer::timeout, [this] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        ocultas.push_back(box->text().toStdString());
        box->reject();
      }
    });
    guardia.start(100);
  }
  void TearDown() override {
    guardia.stop();
    QObject::disconnect(vigilancia);
    ui::VentanaPlanillaQt::SetElegirArchivo(nullptr);
    SetPlatform(nullptr);
    EXPECT_TRUE(ocultas.empty()) << ocultas.front();
  }
  int Siguiente() {
    const int r = respuestas.front();
    respuestas.erase(respuestas.begin());
    return r;
  }
  // Clicks an export button as the operator would.
  void Exportar(ui::VentanaPlanillaQt& ventana, const QString& boton) {
    QPushButton* b = Boton(ventana, boton);
    ASSERT_NE(b, nullptr) << boton.toStdString();
    QTest::mouseClick(b, Qt::LeftButton);
  }

  test::TempDataRoot root;
  test::FrenteQtDePrueba plataforma;
  std::vector<std::string> cajas, pedidos, ocultas;
  std::vector<int> respuestas;
  QString elegido;
  QTimer guardia;
  QMetaObject::Connection vigilancia;
};

const QString kXlsx = "Exportar a Excel (.xlsx)...";
const QString kCsvExcel = "Exportar a CSV (;) para Excel...";
const QString kCsv = "Exportar a CSV (RFC 4180)...";

TEST_F(QtListing, SortsAndExportsASpreadsheetAndACsv) {
  PeticionPlanilla p{
      "SELECT * FROM V_TA_ETAPAS",
      "sqlite",
      "V_TA_ETAPAS",
      "",
      {"CODIGOESTADO", "Descripcion", "Color"},
      {200, 200, 3},
      {{"0002", "EN REPARACION", "255"}, {"0010", "ANULADO, \"X\"", "16777215"}, {"0001", "PRESUPUESTO", "65280"}},
      ""};
  ui::VentanaPlanillaQt ventana(p);
  ventana.show();
  ventana.Tabla()->sortByColumn(0, Qt::AscendingOrder);
  EXPECT_EQ(ventana.Tabla()->item(0, 0)->text(), "0001");
  ventana.Tabla()->sortByColumn(2, Qt::DescendingOrder);  // numbers as numbers
  EXPECT_EQ(ventana.Tabla()->item(0, 2)->text(), "16777215");

  elegido = QString::fromStdString(root.Path() + "/estados");
  Exportar(ventana, kXlsx);
  EXPECT_EQ(pedidos.back(), "Libro de Excel (*.xlsx)|V_TA_ETAPAS.xlsx");
  const std::string xlsx = ReadFile(root.Path() + "/estados.xlsx");  // the extension is added
  EXPECT_EQ(xlsx.substr(0, 4), std::string("PK\x03\x04", 4));        // a zip package
  EXPECT_NE(ZipMember(xlsx, "[Content_Types].xml"), "");
  const std::string hoja = ZipMember(xlsx, "xl/worksheets/sheet1.xml");
  EXPECT_NE(hoja.find("<c r=\"C2\"><v>16777215</v></c>"), std::string::npos) << hoja;  // a number, in the grid's order
  EXPECT_NE(ZipMember(xlsx, "xl/workbook.xml").find("<sheet name=\"V_TA_ETAPAS\""), std::string::npos);

  elegido = QString::fromStdString(root.Path() + "/estados.csv");
  Exportar(ventana, kCsv);
  EXPECT_EQ(ReadFile(root.Path() + "/estados.csv"),
            "CODIGOESTADO,Descripcion,Color\r\n0010,\"ANULADO, \"\"X\"\"\",16777215\r\n0001,PRESUPUESTO,65280\r\n"
            "0002,EN REPARACION,255\r\n");

  // A cancelled save dialog writes nothing and says nothing.
  cajas.clear();
  elegido.clear();
  std::filesystem::remove(root.Path() + "/estados.xlsx");
  Exportar(ventana, kXlsx);
  EXPECT_FALSE(std::filesystem::exists(root.Path() + "/estados.xlsx"));
  EXPECT_TRUE(cajas.empty());
}

TEST_F(QtListing, OpensInTheStatementsOrder) {
  PeticionPlanilla p{"SELECT * FROM V_TA_ETAPAS ORDER BY Color DESC",
                     "sqlite",
                     "V_TA_ETAPAS",
                     "",
                     {"CODIGOESTADO", "Descripcion", "Color"},
                     {200, 200, 3},
                     {{"0002", "EN REPARACION", "65280"}, {"0010", "ANULADO", "255"}, {"0001", "PRESUPUESTO", "0"}},
                     ""};
  ui::VentanaPlanillaQt ventana(p);
  ventana.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&ventana));
  auto codigos = [&] {
    std::string s;
    for (int r = 0; r < ventana.Tabla()->rowCount(); ++r) s += ventana.Tabla()->item(r, 0)->text().toStdString() + " ";
    return s;
  };
  EXPECT_EQ(codigos(), "0002 0010 0001 ");
  EXPECT_EQ(ventana.windowTitle(), "Planilla - V_TA_ETAPAS (3 filas)");
  // A click on a heading still sorts by that column.
  auto* encabezado = ventana.Tabla()->horizontalHeader();
  const QPoint centro(encabezado->sectionViewportPosition(0) + encabezado->sectionSize(0) / 2,
                      encabezado->height() / 2);
  QTest::mouseClick(encabezado->viewport(), Qt::LeftButton, {}, centro);
  const std::string ordenado = codigos();
  EXPECT_TRUE(ordenado == "0001 0002 0010 " || ordenado == "0010 0002 0001 ") << ordenado;
}

TEST_F(QtListing, FileAndSheetAreNamedAfterTheTableAndOnlyWhatTheyMayHold) {
  PeticionPlanilla p{
      "SELECT * FROM V_TA_ETAPAS", "sqlite", "Etapas [1/2]: ¿*?\"<>|\\", "", {"CODIGOESTADO"}, {200}, {{"0001"}}, ""};
  ui::VentanaPlanillaQt ventana(p);
  ventana.show();
  elegido = QString::fromStdString(root.Path() + "/hoja.xlsx");
  Exportar(ventana, kXlsx);
  ASSERT_EQ(pedidos.size(), 1u);
  EXPECT_EQ(pedidos[0], "Libro de Excel (*.xlsx)|Etapas [1_2]_ ¿_______.xlsx");
  const std::string libro = ZipMember(ReadFile(root.Path() + "/hoja.xlsx"), "xl/workbook.xml");
  EXPECT_NE(libro.find("<sheet name=\"Etapas _1_2__ ¿__"), std::string::npos) << libro;
  EXPECT_EQ(cajas.size(), 1u);  // the written file's message, no error
}

TEST_F(QtListing, AsksBeforeReplacingAFileEvenWhenTheExtensionWasAdded) {
  PeticionPlanilla p{
      "SELECT * FROM V_TA_ETAPAS", "sqlite", "V_TA_ETAPAS", "", {"CODIGOESTADO", "Descripcion"}, {200, 200},
      {{"0001", "PRESUPUESTO"}},   ""};
  ui::VentanaPlanillaQt ventana(p);
  ventana.show();
  const std::string ruta = root.Path() + "/listado.xlsx";
  std::ofstream(ruta) << "viejo";
  // A name without its folder is written where the program runs: the message says where.
  const QString antes = QDir::currentPath();
  ASSERT_TRUE(QDir::setCurrent(QString::fromStdString(root.Path())));
  elegido = "listado";

  respuestas = {mb::kAnsNo};
  Exportar(ventana, kXlsx);
  EXPECT_EQ(ReadFile(ruta), "viejo");
  ASSERT_EQ(cajas.size(), 1u);
  EXPECT_EQ(cajas[0], "Exportar planilla|El archivo " + ruta + " ya existe.\n¿Desea reemplazarlo?|" +
                          std::to_string(mb::kYesNo | mb::kExclamation | mb::kDefault2));

  cajas.clear();
  respuestas = {mb::kAnsYes};
  Exportar(ventana, kXlsx);
  EXPECT_EQ(ReadFile(ruta).substr(0, 4), std::string("PK\x03\x04", 4));
  ASSERT_EQ(cajas.size(), 2u);
  EXPECT_EQ(cajas[1],
            "Exportar planilla|La planilla se guardó en:\n" + ruta + "|" + std::to_string(mb::kOk | mb::kInformation));

  // The CSV forms ask the same way.
  std::ofstream(root.Path() + "/listado.csv") << "viejo";
  cajas.clear();
  respuestas = {mb::kAnsNo};
  Exportar(ventana, kCsvExcel);
  EXPECT_EQ(ReadFile(root.Path() + "/listado.csv"), "viejo");
  EXPECT_EQ(cajas.size(), 1u);
  QDir::setCurrent(antes);
}

// Codes with leading zeros, a separator, quotes, accents, a decimal and a text Excel would
// take for a formula.
PeticionPlanilla Delicada() {
  return {"SELECT * FROM V_TA_ETAPAS",
          "sqlite",
          "V_TA_ETAPAS",
          "",
          {"CODIGOESTADO", "Descripcion", "Color", "Precio"},
          {200, 200, 3, 5},
          {{"0003", "CAJA; \"GRANDE\" CAMIÓN", "255", "1.5"},
           {"0010", "ANULADO, sin\nuso", "16777215", "-2"},
           {"0042", "=HIPERVINCULO(\"x\")", "0", ""}},
          ""};
}

TEST_F(QtListing, BothCsvFormsByteForByte) {
  ui::VentanaPlanillaQt ventana(Delicada());
  ventana.show();
  elegido = QString::fromStdString(root.Path() + "/excel");
  Exportar(ventana, kCsvExcel);
  EXPECT_EQ(pedidos.back(), "CSV (;) para Excel (*.csv)|V_TA_ETAPAS.csv");
  EXPECT_EQ(ReadFile(root.Path() + "/excel.csv"),
            "\xEF\xBB\xBF"
            "CODIGOESTADO;Descripcion;Color;Precio\r\n"
            "=\"0003\";\"CAJA; \"\"GRANDE\"\" CAMIÓN\";255;1,5\r\n"
            "=\"0010\";\"ANULADO, sin\nuso\";16777215;-2\r\n"
            "=\"0042\";\"=\"\"=HIPERVINCULO(\"\"\"\"x\"\"\"\")\"\"\";0;\r\n");

  elegido = QString::fromStdString(root.Path() + "/rfc.csv");
  Exportar(ventana, kCsv);
  EXPECT_EQ(pedidos.back(), "CSV RFC 4180 (*.csv)|V_TA_ETAPAS.csv");
  EXPECT_EQ(ReadFile(root.Path() + "/rfc.csv"),
            "CODIGOESTADO,Descripcion,Color,Precio\r\n"
            "0003,\"CAJA; \"\"GRANDE\"\" CAMIÓN\",255,1.5\r\n"
            "0010,\"ANULADO, sin\nuso\",16777215,-2\r\n"
            "0042,\"=HIPERVINCULO(\"\"x\"\")\",0,\r\n");
  EXPECT_EQ(cajas.size(), 2u);
}

TEST_F(QtListing, AFailedWriteIsReportedAndNeverAsWritten) {
  ui::VentanaPlanillaQt ventana(Delicada());
  ventana.show();
  const std::string carpeta = root.Path() + "/no/existe";
  elegido = QString::fromStdString(carpeta + "/listado.xlsx");
  Exportar(ventana, kXlsx);
  ASSERT_EQ(cajas.size(), 1u);
  EXPECT_EQ(cajas[0], "Exportar planilla|No se pudo escribir la planilla en:\n" + carpeta +
                          "/listado.xlsx\n\nLa carpeta no existe. Elija una carpeta existente y vuelva a exportar.|" +
                          std::to_string(mb::kOk | mb::kCritical));

  // A full disk: the device that refuses every write, behind a name the operator chose.
  const std::string lleno = root.Path() + "/lleno.csv";
  std::filesystem::create_symlink("/dev/full", lleno);
  for (const QString& boton : {kCsvExcel, kCsv, kXlsx}) {
    cajas.clear();
    respuestas = {mb::kAnsYes};  // it exists: replace it
    elegido = QString::fromStdString(boton == kXlsx ? root.Path() + "/lleno.xlsx" : lleno);
    if (boton == kXlsx) std::filesystem::create_symlink("/dev/full", root.Path() + "/lleno.xlsx");
    Exportar(ventana, boton);
    ASSERT_EQ(cajas.size(), 2u) << boton.toStdString();
    EXPECT_EQ(cajas[1],
              "Exportar planilla|No se pudo escribir la planilla en:\n" + elegido.toStdString() +
                  "\n\nNo queda espacio en el disco. Libere espacio o elija otra unidad y vuelva a exportar.|" +
                  std::to_string(mb::kOk | mb::kCritical));
  }
}

TEST(QtProgress, TheBannerAnimatesAndTakesTheCancel) {
  test::FrenteQtDePrueba frente;
  frente.progresoQt = true;
  test::FrenteInstalado instalado(frente);
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
}

TEST(QtMessages, BoxesCarryTheirTitleTextIconAndDefaultButton) {
  test::FrenteQtDePrueba plataforma;
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
