// The real widgets, driven as the operator would drive them.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QWindow>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <filesystem>

#include "common/mod_global.h"
#include "components/interrupcion.h"
#include "db_fixture.h"
#include "frente_qt_prueba.h"
#include "test_support.h"
#include "ui/qt/progreso_qt.h"
#include "ui/qt/ventana_qt.h"

#include <arpa/inet.h>
#include <fstream>
#include <set>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

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
  test::FrenteQtDePrueba platform;
  FrmV_TA_ETAPAS model;
  std::unique_ptr<ui::VentanaQt> window;
  std::vector<std::string> boxes;
};

TEST_F(QtWindow, TypingACodeAndEnterShowsTheStatus) {
  EXPECT_EQ(window->windowTitle(), "Tabla de Status");
  EXPECT_EQ(QGuiApplication::desktopFileName(), "etapas");  // the installed menu entry's name
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

// Opens a status the way the operator does: its code in the first field, then Enter.
void Abrir(ui::VentanaQt& w, const char* codigo) {
  w.Campo(0)->setFocus();
  w.Campo(0)->selectAll();
  QTest::keyClicks(w.Campo(0), codigo);
  QTest::keyClick(w.Campo(0), Qt::Key_Return);
}

std::string Texto(const QLineEdit* campo) { return campo->text().toStdString(); }

std::vector<std::string> Guardado(const char* codigo) {
  return test::Rows(
      *test::Connect("CASA", "EMPRESA1"),
      std::string("SELECT Descripcion, PosiblesEstadoPrevio FROM V_TA_ETAPAS WHERE CODIGOESTADO = '") + codigo + "'");
}

// What the operator types lands where the caret is, the way any line edit works, and the
// model (what is saved) holds exactly what the field shows.
TEST_F(QtWindow, TypingEditsTheFieldWhereTheCaretIs) {
  Abrir(*window, "0002");
  QLineEdit* d = window->Campo(1);
  ASSERT_EQ(QApplication::focusWidget(), d);
  QTest::keyClick(d, Qt::Key_Home);
  for (int i = 0; i < 3; ++i) QTest::keyClick(d, Qt::Key_Right);
  QTest::keyClicks(d, "YA ");
  EXPECT_EQ(Texto(d), "EN YA REPARACION");
  EXPECT_EQ(d->cursorPosition(), 6);
  EXPECT_EQ(model.Txtfields[1].Text, Texto(d));

  // Backspace and Delete around the caret.
  QTest::keyClick(d, Qt::Key_Backspace);
  QTest::keyClick(d, Qt::Key_Delete);
  EXPECT_EQ(Texto(d), "EN YAEPARACION");
  EXPECT_EQ(model.Txtfields[1].Text, Texto(d));

  // A selection is replaced by what is typed.
  QTest::keyClick(d, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClicks(d, "LISTO");
  EXPECT_EQ(Texto(d), "LISTO");
  EXPECT_EQ(model.Txtfields[1].Text, "LISTO");

  // Shift+Home selects back to the start; typing overwrites just that.
  QTest::keyClick(d, Qt::Key_Left);
  QTest::keyClick(d, Qt::Key_Home, Qt::ShiftModifier);
  QTest::keyClicks(d, "NO ");
  EXPECT_EQ(Texto(d), "NO O");
  EXPECT_EQ(model.Txtfields[1].Text, "NO O");

  // Undo takes back the last edit; paste inserts at the caret.
  QTest::keyClick(d, Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(Texto(d), "LISTO");
  EXPECT_EQ(model.Txtfields[1].Text, "LISTO");
  QApplication::clipboard()->setText(" PARA ENTREGA");
  QTest::keyClick(d, Qt::Key_End);
  QTest::keyClick(d, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(Texto(d), "LISTO PARA ENTREGA");
  EXPECT_EQ(model.Txtfields[1].Text, Texto(d));

  // A redraw from the model leaves the operator's caret alone.
  QTest::keyClick(d, Qt::Key_Home);
  QTest::keyClick(d, Qt::Key_Right);
  window->Sincronizar();
  EXPECT_EQ(d->cursorPosition(), 1);

  QTest::keyClick(d, Qt::Key_F5);
  EXPECT_EQ(Guardado("0002"), (std::vector<std::string>{"LISTO PARA ENTREGA| 0001|"}));
}

TEST_F(QtWindow, ANewCodeTypedOverTheProposalReplacesIt) {
  QLineEdit* c = window->Campo(0);
  c->setFocus();
  QTest::keyClick(c, Qt::Key_F2);
  const std::string propuesto = Texto(c);
  EXPECT_EQ(propuesto, model.Txtfields[0].Text);
  EXPECT_EQ(propuesto, "3");          // the next free number
  EXPECT_EQ(c->cursorPosition(), 1);  // the proposal's caret stands at its end

  QTest::keyClick(c, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClicks(c, "0007");
  EXPECT_EQ(Texto(c), "0007");
  EXPECT_EQ(model.Txtfields[0].Text, "0007");
  // The field's length limit holds for the model too.
  QTest::keyClicks(c, "9");
  EXPECT_EQ(Texto(c), "0007");
  EXPECT_EQ(model.Txtfields[0].Text, "0007");

  QTest::keyClick(c, Qt::Key_Return);
  ASSERT_EQ(QApplication::focusWidget(), window->Campo(1));
  QTest::keyClicks(window->Campo(1), "ESPERANDO REPUESTO");
  QTest::keyClick(window->Campo(1), Qt::Key_F5);
  EXPECT_EQ(Guardado("0007"), (std::vector<std::string>{"ESPERANDO REPUESTO| "}));
  EXPECT_TRUE(Guardado("3").empty());
}

// What is selected on screen in the list is what is saved, whichever way it was selected,
// and the keyboard focus stays in the list.
TEST_F(QtWindow, ListSelectionByKeyboardAndMouseIsSaved) {
  test::Exec(*test::Connect("CASA", "EMPRESA1"),
             "INSERT INTO V_TA_ETAPAS (CODIGOESTADO, Descripcion, Color, Tipo, PosiblesEstadoPrevio) VALUES "
             "('0003','LISTO','0','F',' '),('0004','ENTREGADO','0','F',' '),('0005','FACTURADO','0','T',' ')");
  Abrir(*window, "0005");
  QListWidget* lista = window->Lista();
  ASSERT_EQ(lista->count(), 4);
  auto centro = [&](int fila) { return lista->visualItemRect(lista->item(fila)).center(); };

  // A click toggles the entry and gives the list the focus, which it keeps.
  QTest::mouseClick(lista->viewport(), Qt::LeftButton, {}, centro(0));
  EXPECT_EQ(QApplication::focusWidget(), lista);
  EXPECT_TRUE(model.LstEstPrev.Items[0].Selected);

  // Arrows move, Space toggles, Shift+arrows extend the selection.
  QTest::keyClick(lista, Qt::Key_Down);
  QTest::keyClick(lista, Qt::Key_Space);
  EXPECT_TRUE(model.LstEstPrev.Items[1].Selected);
  QTest::keyClick(lista, Qt::Key_Down, Qt::ShiftModifier);
  EXPECT_TRUE(lista->item(2)->isSelected());
  EXPECT_TRUE(model.LstEstPrev.Items[2].Selected);
  EXPECT_EQ(QApplication::focusWidget(), lista);

  // Ctrl+click toggles one entry off again.
  QTest::mouseClick(lista->viewport(), Qt::LeftButton, Qt::ControlModifier, centro(1));
  EXPECT_FALSE(model.LstEstPrev.Items[1].Selected);
  EXPECT_EQ(QApplication::focusWidget(), lista);

  // Another redraw keeps what the operator selected.
  window->Sincronizar();
  for (int i = 0; i < lista->count(); ++i)
    EXPECT_EQ(lista->item(i)->isSelected(), model.LstEstPrev.Items[static_cast<size_t>(i)].Selected) << i;

  QTest::keyClick(lista, Qt::Key_F5);
  EXPECT_EQ(Guardado("0005"), (std::vector<std::string>{"FACTURADO| 0001|0003|"}));
}

TEST_F(QtWindow, TabFollowsTheWindowsTabOrder) {
  Abrir(*window, "0002");
  ASSERT_EQ(QApplication::focusWidget(), window->Campo(1));
  std::vector<std::string> orden;
  for (int i = 0; i < 5; ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    orden.push_back(QApplication::focusWidget()->objectName().toStdString());
  }
  // The options take the focus as one group (arrows move inside it), at the first's place.
  EXPECT_EQ(orden, (std::vector<std::string>{"Txtfields_2", "optEnCurso", "LstEstPrev", "cmdColor", "Txtfields_0"}));
}

// Qt's own buttons speak Spanish, and Enter's button can be seen in every skin.
TEST_F(QtWindow, MessageBoxesAreSpanishAndShowTheirDefaultButton) {
  ui::InstalarTraducciones();
  platform.answerer = nullptr;
  std::vector<std::string> textos;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    for (auto* b : box->buttons()) textos.push_back(b->text().toStdString());
    QTest::keyClick(box, Qt::Key_Escape);
  });
  EXPECT_EQ(platform.MsgBox("¿Seguro?", mb::kYesNoCancel | mb::kQuestion, "Pregunta"), mb::kAnsCancel);
  std::sort(textos.begin(), textos.end());
  EXPECT_EQ(textos, (std::vector<std::string>{"&No", "&Sí", "Cancelar"}));

  for (const auto& skin : std::filesystem::directory_iterator(std::filesystem::path(ETAPAS_SOURCE_DIR) / "Styles")) {
    model.LoadSkin(skin.path().string(), "");
    model.ApplyWindow(0);
    window->Sincronizar();
    window->activateWindow();
    bool distintos = false;
    QTimer::singleShot(0, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      ASSERT_NE(box, nullptr);
      // The same caption on both: only the default's look may tell them apart.
      auto* si = qobject_cast<QPushButton*>(box->button(QMessageBox::Yes));
      auto* no = qobject_cast<QPushButton*>(box->button(QMessageBox::No));
      si->setText("X");
      no->setText("X");
      box->setFocus();
      QApplication::processEvents();
      distintos = si->grab().toImage() != no->grab().toImage();
      QTest::keyClick(box, Qt::Key_Escape);
    });
    platform.MsgBox("¿Seguro?", mb::kYesNo | mb::kQuestion, "Pregunta");
    EXPECT_TRUE(distintos) << skin.path();
  }
}

TEST_F(QtWindow, TheFocusedFieldCanBeSeenInEverySkin) {
  Abrir(*window, "0002");
  for (const auto& skin : std::filesystem::directory_iterator(std::filesystem::path(ETAPAS_SOURCE_DIR) / "Styles")) {
    model.LoadSkin(skin.path().string(), "");
    model.ApplyWindow(0);
    window->Sincronizar();
    for (int campo : {1, 2}) {
      QLineEdit* w = window->Campo(campo);
      QTest::mouseClick(w, Qt::LeftButton);
      ASSERT_EQ(QApplication::focusWidget(), w);
      const QImage conFoco = w->grab().toImage();
      QTest::mouseClick(window->Campo(campo == 1 ? 2 : 1), Qt::LeftButton);
      QTest::mouseClick(w, Qt::LeftButton);
      QTest::keyClick(w, Qt::Key_Tab);
      ASSERT_NE(QApplication::focusWidget(), w);
      EXPECT_NE(w->grab().toImage(), conFoco) << skin.path() << " field " << campo;
    }
  }
}

TEST_F(QtWindow, EveryCommandStaysReachableAtTheMinimumWidth) {
  window->resize(window->minimumSizeHint().width(), window->height());
  QApplication::processEvents();
  QToolBar* barra = window->findChild<QToolBar*>("Botonera1");
  ASSERT_NE(barra, nullptr);
  bool escondidos = false;
  for (QAction* a : barra->actions()) {
    QWidget* b = barra->widgetForAction(a);
    if (b && !b->isVisible()) escondidos = true;
    if (b && b->isVisible()) { EXPECT_LE(b->geometry().right(), barra->width()) << a->text().toStdString(); }
  }
  if (escondidos) {
    auto* desborde = barra->findChild<QToolButton*>("qt_toolbar_ext_button");
    ASSERT_NE(desborde, nullptr);
    EXPECT_TRUE(desborde->isVisible());
  }
}

// A store whose machine takes the connection and then never answers.
class TiendaColgada {
 public:
  TiendaColgada() {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t largo = sizeof a;
    if (bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && listen(fd_, 8) == 0 &&
        getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &largo) == 0)
      puerto_ = ntohs(a.sin_port);
  }
  ~TiendaColgada() { close(fd_); }
  int Puerto() const { return puerto_; }

 private:
  int fd_ = -1;
  int puerto_ = 0;
};

// While the editor waits on a store, its progress window is on screen, painted, and its
// animation keeps moving: the operator never faces a frozen or empty frame.
TEST_F(QtWindow, TheProgressWindowAnimatesWhileAStoreIsTried) {
  TiendaColgada tienda;
  ASSERT_NE(tienda.Puerto(), 0);
  std::ofstream(root.Path() + "/servers.conf", std::ios::app)
      << "COLGADO = postgresql 127.0.0.1:" << tienda.Puerto() << " connect_timeout=3\n";
  test::Exec(*test::Connect("CASA", "EMPRESA1"),
             "INSERT INTO V_TA_TPV (CODIGO, Descripcion, Server, Dbname, INTERNET, BAJA) VALUES "
             "('0007','Sucursal Puerto','COLGADO','TPV7',0,0)");
  platform.progresoQt = true;
  Abrir(*window, "0002");

  // Looks at the progress window from inside the wait, as the operator would.
  struct Visto {
    int vistas = 0, primerCuadro = -1, ultimoCuadro = -1, pintadas = 0;
    bool expuesta = false;
    std::set<std::string> lineas;  // every text the window showed while it was looked at
  } visto;
  QTimer mirar;
  QObject::connect(&mirar, &QTimer::timeout, [&] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      auto* p = qobject_cast<ui::VentanaProgresoQt*>(w);
      if (!p || !p->isVisible()) continue;
      if (visto.vistas++ == 0) visto.primerCuadro = p->Cuadro();
      visto.ultimoCuadro = p->Cuadro();
      visto.pintadas = p->Pintadas();
      visto.expuesta = p->windowHandle() && p->windowHandle()->isExposed();
      visto.lineas.insert(p->Lineas()[0]->text().toStdString() + "|" + p->Lineas()[1]->text().toStdString() + "|" +
                          p->Lineas()[2]->text().toStdString());
    }
  });
  mirar.start(100);
  QTest::keyClick(window->Campo(1), Qt::Key_F5);
  mirar.stop();

  EXPECT_GE(visto.vistas, 15);  // about three seconds of waiting, seen ten times a second
  EXPECT_TRUE(visto.expuesta);
  EXPECT_GE(visto.pintadas, 10);
  EXPECT_NE(visto.primerCuadro, visto.ultimoCuadro);
  // Every store is tried at once before the walk: the wait is that of the check.
  EXPECT_EQ(visto.lineas.count("Tabla de Status|Comprobando los destinos...|"), 1u);
  ASSERT_GE(boxes.size(), 2u);
  EXPECT_EQ(boxes[boxes.size() - 2], "Aviso al operador|No se pudo conectar al Punto de ventas Sucursal Puerto|64");
  EXPECT_NE(boxes.back().find("quedó pendiente para 1 punto de venta."), std::string::npos) << boxes.back();
}

// The operator clicks "Cancelar" on the progress window while the stores are tried: the
// save stops before the first store, and every store is left owing the change.
TEST_F(QtWindow, CancelOnTheProgressWindowLeavesTheStoresPending) {
  TiendaColgada tienda;
  ASSERT_NE(tienda.Puerto(), 0);
  test::CreateDatabase("NORTE", "TPV1", "pos.sql");
  std::ofstream(root.Path() + "/servers.conf", std::ios::app)
      << "COLGADO = postgresql 127.0.0.1:" << tienda.Puerto() << " connect_timeout=3\n";
  auto casa = test::Connect("CASA", "EMPRESA1");
  test::Exec(*casa,
             "INSERT INTO V_TA_TPV (CODIGO, Descripcion, Server, Dbname, INTERNET, BAJA) VALUES "
             "('0001','Sucursal Norte','NORTE','TPV1',0,0),('0007','Sucursal Puerto','COLGADO','TPV7',0,0)");
  platform.progresoQt = true;
  Abrir(*window, "0002");

  bool pulsado = false;
  QTimer mirar;
  QObject::connect(&mirar, &QTimer::timeout, [&] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      auto* p = qobject_cast<ui::VentanaProgresoQt*>(w);
      if (pulsado || !p || !p->isVisible() || !p->BotonCancelar()->isVisible()) continue;
      pulsado = true;
      QTest::mouseClick(p->BotonCancelar(), Qt::LeftButton);
    }
  });
  mirar.start(300);
  QTest::keyClick(window->Campo(1), Qt::Key_F5);
  mirar.stop();

  EXPECT_TRUE(pulsado);
  EXPECT_EQ(test::Rows(*casa, "SELECT DESTINO, VALOR1 FROM V_TA_REPLICACION_PENDIENTE ORDER BY DESTINO"),
            (std::vector<std::string>{"0001|'0002'", "0007|'0002'"}));
  EXPECT_EQ(test::Scalar(*test::Connect("NORTE", "TPV1"), "SELECT COUNT(*) FROM V_TA_ETAPAS"), "0");
  ASSERT_FALSE(boxes.empty());
  EXPECT_NE(boxes.back().find("quedó pendiente para 2 puntos de venta."), std::string::npos) << boxes.back();
}

// Closing the window (its close box, Alt+F4) or a logout's SIGTERM while a save waits on the
// operator at a store it could not reach: the box is answered, the walk stops at the next
// store and records it, and only then does the window end the process.
TEST_F(QtWindow, ClosingDuringASaveEndsTheWindowAfterTheWalk) {
  // A death test: its child would share the parent's PostgreSQL sessions.
  if (test::OnPostgreSQL()) GTEST_SKIP() << "run on the embedded engine";
  TiendaColgada tienda;
  ASSERT_NE(tienda.Puerto(), 0);
  test::CreateDatabase("NORTE", "TPV1", "pos.sql");
  test::CreateDatabase("SUR", "TPV9", "pos.sql");
  std::ofstream(root.Path() + "/servers.conf", std::ios::app)
      << "COLGADO = postgresql 127.0.0.1:" << tienda.Puerto() << " connect_timeout=1\n";
  auto casa = test::Connect("CASA", "EMPRESA1");
  auto norte = test::Connect("NORTE", "TPV1");
  test::Exec(*casa,
             "INSERT INTO V_TA_TPV (CODIGO, Descripcion, Server, Dbname, INTERNET, BAJA) VALUES "
             "('0001','Sucursal Norte','NORTE','TPV1',0,0),('0007','Sucursal Puerto','COLGADO','TPV7',0,0),"
             "('0009','Sucursal Sur','SUR','TPV9',0,0)");
  // One store after another, so that a store after the hung one is still to be reached.
  test::Exec(*casa,
             "INSERT INTO TA_CONFIGURACION (Grupo, Clave, Valor, ValorAux) VALUES "
             "('REP','REP_DestinosALaVez','1','')");
  Abrir(*window, "0002");
  platform.answerer = nullptr;  // the boxes are Qt's own

  for (const bool porSenal : {false, true}) {
    SCOPED_TRACE(porSenal ? "SIGTERM" : "close()");
    test::Exec(*casa, "DELETE FROM V_TA_REPLICACION_PENDIENTE");
    test::Exec(*norte, "DELETE FROM V_TA_ETAPAS");
    // The process really ends: the child of a death test runs the save, this process reads
    // what it left in the databases.
    auto grabar = [&] {
      std::set<std::string> vistas;
      bool cerrado = false;
      int tras = 0, dejadas = 0;
      platform.alTerminar = [&](int) {
        std::fprintf(stderr, "%s, boxes seen: %zu, left open: %d\n",
                     HayTrabajoEnCurso() || model.Ocupado() ? "ended mid-walk" : "ended after the walk", vistas.size(),
                     dejadas);
      };
      if (porSenal) ui::EscucharSenales(*window);
      QTimer mirar;
      QObject::connect(&mirar, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        const std::string texto = box->text().toStdString();
        vistas.insert(texto);
        if (!cerrado && texto == "No se pudo conectar al Punto de ventas Sucursal Puerto") {
          cerrado = true;
          if (porSenal)
            raise(SIGTERM);
          else
            window->close();
        } else if (cerrado && ++tras > 10) {
          ++dejadas;
          box->reject();
        }
      });
      mirar.start(100);
      QTest::keyClick(window->Campo(1), Qt::Key_F5);
      std::fprintf(stderr, "the window outlived the save\n");
      std::fflush(stderr);
      _exit(3);
    };
    EXPECT_EXIT(grabar(), ::testing::ExitedWithCode(0), "ended after the walk, boxes seen: 1, left open: 0\n");

    // Served before the close; the unreachable one and the one after it owe the change.
    EXPECT_EQ(test::Scalar(*norte, "SELECT Descripcion FROM V_TA_ETAPAS"), "EN REPARACION");
    EXPECT_EQ(test::Scalar(*test::Connect("SUR", "TPV9"), "SELECT COUNT(*) FROM V_TA_ETAPAS"), "0");
    EXPECT_EQ(test::Rows(*casa, "SELECT DESTINO, VALOR1 FROM V_TA_REPLICACION_PENDIENTE ORDER BY DESTINO"),
              (std::vector<std::string>{"0007|'0002'", "0009|'0002'"}));
  }
}

// On a Spanish desktop (decimal comma) a decimal column a company added to the table keeps
// its value at home and reaches the store as it stands.
TEST_F(QtWindow, ADecimalColumnIsCarriedAsItStandsUnderASpanishLocale) {
  test::SpanishLocale es;
  ASSERT_TRUE(es.Ok()) << "the es_ES.UTF-8 locale is not installed: run scripts/deps.sh";
  test::CreateDatabase("NORTE", "TPV1", "pos.sql");
  auto casa = test::Connect("CASA", "EMPRESA1");
  auto norte = test::Connect("NORTE", "TPV1");
  for (auto* db : {casa.get(), norte.get()}) test::Exec(*db, "ALTER TABLE V_TA_ETAPAS ADD PRECIO decimal(10, 2) NULL");
  test::Exec(*casa, "UPDATE V_TA_ETAPAS SET PRECIO = 1.5 WHERE CODIGOESTADO = '0002'");
  test::Exec(*casa,
             "INSERT INTO V_TA_TPV (CODIGO, Descripcion, Server, Dbname, INTERNET, BAJA) VALUES "
             "('0001','Sucursal Norte','NORTE','TPV1',0,0)");
  Abrir(*window, "0002");
  QTest::keyClick(window->Campo(1), Qt::Key_End);
  QTest::keyClicks(window->Campo(1), " 2");
  QTest::keyClick(window->Campo(1), Qt::Key_F5);

  const char* leer = "SELECT Descripcion, PRECIO, PRECIO * 2 FROM V_TA_ETAPAS WHERE CODIGOESTADO = '0002'";
  EXPECT_EQ(test::Rows(*casa, leer), (std::vector<std::string>{"EN REPARACION 2|1.5|3"}));
  EXPECT_EQ(test::Rows(*norte, leer), (std::vector<std::string>{"EN REPARACION 2|1.5|3"}));
  EXPECT_EQ(test::Scalar(*casa, "SELECT COUNT(*) FROM V_TA_REPLICACION_PENDIENTE"), "0");
  EXPECT_EQ(boxes, std::vector<std::string>{}) << boxes.front();
}

}  // namespace
}  // namespace etapas
