#include "ui/qt/ventana_qt.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QColorDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSocketNotifier>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <QItemSelectionModel>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <iostream>
#include <iterator>

#include "components/interrupcion.h"
#include "components/text.h"
#include "ui/qt/dialogos_qt.h"
#include "ui/qt/iconos_qt.h"
#include "ui/qt/progreso_qt.h"

namespace etapas::ui {
namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

// Colours are the platform's numbers: 0x00BBGGRR.
QColor DeColor(int32_t c) { return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF); }
int32_t AColor(const QColor& q) { return q.red() | (q.green() << 8) | (q.blue() << 16); }

QMessageBox::StandardButton BotonDe(int answer) {
  switch (answer) {
    case mb::kAnsOk: return QMessageBox::Ok;
    case mb::kAnsCancel: return QMessageBox::Cancel;
    case mb::kAnsAbort: return QMessageBox::Abort;
    case mb::kAnsRetry: return QMessageBox::Retry;
    case mb::kAnsIgnore: return QMessageBox::Ignore;
    case mb::kAnsYes: return QMessageBox::Yes;
    default: return QMessageBox::No;
  }
}

// The platform's boxes on screen, innermost last.
std::vector<QMessageBox*> cajasAbiertas;
constexpr const char* kRespondidaAlInterrumpir = "respondidaAlInterrumpir";

int tuberiaSenales[2] = {-1, -1};

void AlRecibirSenal(int signo) {
  const int guardado = errno;
  PedirInterrupcion();
  const char c = static_cast<char>(signo);
  [[maybe_unused]] const ssize_t n = write(tuberiaSenales[1], &c, 1);
  errno = guardado;
}

// The platform's Shift/Ctrl/Alt mask of a key event.
int16_t Mayusculas(Qt::KeyboardModifiers m) {
  return static_cast<int16_t>((m & Qt::ShiftModifier ? 1 : 0) | (m & Qt::ControlModifier ? 2 : 0) |
                              (m & Qt::AltModifier ? 4 : 0));
}

// The window's own focus cues, after the skin's rules so that no skin can hide where the
// keyboard is or which button Enter presses.
const char* const kReglasFoco =
    "\nQPushButton:default { border: 2px solid palette(highlight); }"
    "\nQPushButton:focus { border: 2px solid palette(highlight); }"
    "\nQListWidget:focus { border: 2px solid palette(highlight); }"
    "\nQRadioButton:focus { color: palette(highlight); }";

// A multi-selection list where Shift with the arrows, Page and Home/End keys also extends
// the selection over the entries passed, as operators expect from any list.
class ListaMultipleQt : public QListWidget {
 public:
  using QListWidget::QListWidget;

 protected:
  void keyPressEvent(QKeyEvent* e) override {
    const bool extiende = (e->modifiers() & Qt::ShiftModifier) &&
                          (e->key() == Qt::Key_Up || e->key() == Qt::Key_Down || e->key() == Qt::Key_PageUp ||
                           e->key() == Qt::Key_PageDown || e->key() == Qt::Key_Home || e->key() == Qt::Key_End);
    const int antes = currentRow();
    QListWidget::keyPressEvent(e);
    const int despues = currentRow();
    if (!extiende || antes < 0 || despues < 0 || antes == despues) return;
    const QModelIndex desde = model()->index(std::min(antes, despues), 0);
    const QModelIndex hasta = model()->index(std::max(antes, despues), 0);
    selectionModel()->select(QItemSelection(desde, hasta), QItemSelectionModel::Select);
  }
};

}  // namespace

int16_t CodigoTecla(int k) {
  if (k == Qt::Key_Return || k == Qt::Key_Enter) return tecla::kEnter;
  if (k == Qt::Key_Escape) return tecla::kEscape;
  if (k == Qt::Key_Tab) return tecla::kTab;
  if (k >= Qt::Key_F1 && k <= Qt::Key_F12) return static_cast<int16_t>(tecla::kF1 + (k - Qt::Key_F1));
  if ((k >= Qt::Key_0 && k <= Qt::Key_9) || (k >= Qt::Key_A && k <= Qt::Key_Z)) return static_cast<int16_t>(k);
  if (k == Qt::Key_Space) return 32;
  return 0;
}

int PlataformaQt::MsgBox(const std::string& prompt, int style, const std::string& title) {
  // The program is ending: nobody is left to answer, and the work must reach its stop.
  if (InterrupcionPedida()) return mb::DefaultAnswer(style);
  if (answerer) return answerer(prompt, style, title);
  QMessageBox box(QApplication::activeWindow());
  box.setWindowTitle(Q(title));
  box.setText(Q(prompt));
  switch (style & 0x70) {
    case mb::kCritical: box.setIcon(QMessageBox::Critical); break;
    case mb::kQuestion: box.setIcon(QMessageBox::Question); break;
    case mb::kExclamation: box.setIcon(QMessageBox::Warning); break;
    case mb::kInformation: box.setIcon(QMessageBox::Information); break;
    default: box.setIcon(QMessageBox::NoIcon); break;
  }
  for (int answer : mb::Buttons(style)) box.addButton(BotonDe(answer));
  box.setDefaultButton(BotonDe(mb::DefaultAnswer(style)));
  cajasAbiertas.push_back(&box);
  box.exec();
  cajasAbiertas.erase(std::find(cajasAbiertas.begin(), cajasAbiertas.end(), &box));
  if (box.property(kRespondidaAlInterrumpir).toBool()) return mb::DefaultAnswer(style);
  const auto* clicked = box.clickedButton();
  for (int answer : mb::Buttons(style))
    if (clicked && box.button(BotonDe(answer)) == clicked) return answer;
  // Closed with the window's close box: the Cancel answer when there is one.
  for (int answer : mb::Buttons(style))
    if (answer == mb::kAnsCancel) return answer;
  return mb::Buttons(style).back();
}

void PlataformaQt::ResponderCajasAbiertas() {
  for (QMessageBox* box : cajasAbiertas) {
    box->setProperty(kRespondidaAlInterrumpir, true);
    box->done(QDialog::Rejected);
  }
}

void InstalarTraducciones() {
  static QTranslator* qt = nullptr;
  if (qt) return;
  qt = new QTranslator(QCoreApplication::instance());
  // The suite is Spanish whatever the workstation's locale says.
  if (qt->load(QLocale(QLocale::Spanish, QLocale::Spain), "qtbase", "_",
               QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    QCoreApplication::installTranslator(qt);
  else
    std::cerr << "etapas: no se encontraron las traducciones de Qt en "
              << QLibraryInfo::path(QLibraryInfo::TranslationsPath).toStdString()
              << " (paquete qt6-translations-l10n): los botones de Qt quedan en inglés\n";
}

void PlataformaQt::DoEvents() { QCoreApplication::processEvents(); }

std::optional<int32_t> PlataformaQt::ElegirColor(int32_t actual) {
  QColor c = QColorDialog::getColor(DeColor(actual), QApplication::activeWindow(), "Color");
  if (!c.isValid()) return std::nullopt;
  return AColor(c);
}

std::string PlataformaQt::MostrarConsulta(const PeticionConsulta& peticion) {
  VentanaConsultaQt ventana(peticion, padre);
  ventana.exec();
  return ventana.Resultado();
}

void PlataformaQt::MostrarPlanilla(const PeticionPlanilla& peticion) {
  VentanaPlanillaQt ventana(peticion, padre);
  ventana.exec();
}

std::unique_ptr<VentanaProgreso> PlataformaQt::NuevaVentanaProgreso(EventosVentanaProgreso& eventos) {
  return std::make_unique<VentanaProgresoQt>(eventos);
}

VentanaQt::VentanaQt(FrmV_TA_ETAPAS& modelo, QWidget* parent) : QMainWindow(parent), modelo_(modelo) { Construir(); }

// The widgets going away move the focus: the model must not hear of it.
VentanaQt::~VentanaQt() { disconnect(alCambiarFoco_); }

QAction* VentanaQt::Accion(const std::string& clave) {
  for (QAction* a : barra_->actions())
    if (a->data().toString() == Q(clave)) return a;
  return nullptr;
}

void VentanaQt::Construir() {
  // Before the window exists on screen: the desktop matches it with the installed menu
  // entry (and its icon) by this name.
  QGuiApplication::setDesktopFileName("etapas");
  setObjectName("FrmV_TA_ETAPAS");
  barra_ = addToolBar("Botonera1");
  barra_->setObjectName("Botonera1");
  barra_->setMovable(false);
  barra_->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  for (const auto& b : modelo_.Botonera1.Botones()) {
    QAction* a = barra_->addAction(IconoComando(b.Clave), Q(b.Caption));
    a->setData(Q(b.Clave));
    a->setToolTip(Q(b.ToolTip));
    const std::string clave = b.Clave;
    connect(a, &QAction::triggered, this, [this, clave] { Manejar([&] { modelo_.Botonera1_Click(clave); }); });
  }

  auto* central = new QWidget(this);
  auto* frame1 = new QGroupBox(central);
  frame1->setObjectName("Frame1");
  auto* grid = new QGridLayout(frame1);
  for (int i = 0; i < 3; ++i) {
    etiquetas_[static_cast<size_t>(i)] = new QLabel(Q(modelo_.LblTitulo[static_cast<size_t>(i)]), frame1);
    auto* campo = new QLineEdit(frame1);
    campo->setObjectName(QString("Txtfields_%1").arg(i));
    campo->installEventFilter(this);
    campos_[static_cast<size_t>(i)] = campo;
    grid->addWidget(etiquetas_[static_cast<size_t>(i)], i, 0);
    // Every change of the text (typing, paste, undo, cut) reaches the model with the
    // caret where the operator left it; the widget is what the operator edits.
    connect(campo, &QLineEdit::textChanged, this, [this, i, campo](const QString& t) {
      if (sincronizando_) return;
      modelo_.Escribir(i, t.toStdString(), campo->cursorPosition());
      caretMostrado_[static_cast<size_t>(i)] = modelo_.Txtfields[static_cast<size_t>(i)].SelStart;
      Sincronizar();
    });
    connect(campo, &QLineEdit::cursorPositionChanged, this, [this, i](int, int ahora) {
      if (sincronizando_) return;
      modelo_.MoverCaret(i, ahora);
      caretMostrado_[static_cast<size_t>(i)] = modelo_.Txtfields[static_cast<size_t>(i)].SelStart;
    });
  }
  grid->addWidget(campos_[0], 0, 1);
  grid->addWidget(campos_[1], 1, 1, 1, 2);
  campos_[0]->setMaximumWidth(90);
  campos_[2]->setReadOnly(true);
  campos_[2]->setMaximumWidth(90);
  botonColor_ = new QPushButton(Q(modelo_.cmdColor.Caption), frame1);
  botonColor_->setObjectName("cmdColor");
  botonColor_->setToolTip(Q(modelo_.cmdColor.ToolTipText));
  botonColor_->setMaximumWidth(32);
  auto* filaColor = new QHBoxLayout;
  filaColor->addWidget(campos_[2]);
  filaColor->addWidget(botonColor_);
  filaColor->addStretch();
  grid->addLayout(filaColor, 2, 1, 1, 2);
  connect(botonColor_, &QPushButton::clicked, this, [this] { Manejar([&] { modelo_.cmdColor_Click(); }); });

  marcoAtributos_ = new QGroupBox(Q(modelo_.frmAttr.Caption), frame1);
  marcoAtributos_->setObjectName("frmAttr");
  auto* atributos = new QGridLayout(marcoAtributos_);
  const char letras[] = {'P', 'E', 'F', 'A', 'T'};
  const char* nombres[] = {"optPendiente", "optEnCurso", "optFinalizado", "optAnulado", "OPtFacturar"};
  const std::string* captions[] = {&modelo_.optPendiente.Caption, &modelo_.optEnCurso.Caption,
                                   &modelo_.optFinalizado.Caption, &modelo_.optAnulado.Caption,
                                   &modelo_.OPtFacturar.Caption};
  for (int i = 0; i < 5; ++i) {
    auto* o = new QRadioButton(Q(*captions[i]), marcoAtributos_);
    o->setObjectName(nombres[i]);
    o->installEventFilter(this);
    opciones_[static_cast<size_t>(i)] = o;
    if (i < 4)
      atributos->addWidget(o, 0, i);
    else
      atributos->addWidget(o, 1, 0, 1, 4);
    const char letra = letras[i];
    connect(o, &QRadioButton::clicked, this, [this, letra] { Manejar([&] { modelo_.ElegirTipo(letra); }); });
  }
  grid->addWidget(marcoAtributos_, 3, 0, 1, 3);
  etiquetaLista_ = new QLabel(Q(modelo_.Label1), frame1);
  grid->addWidget(etiquetaLista_, 4, 0, 1, 3);
  lista_ = new ListaMultipleQt(frame1);
  lista_->setObjectName("LstEstPrev");
  lista_->setSelectionMode(QAbstractItemView::MultiSelection);
  // The code stands far to the right of each entry, out of view.
  lista_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  lista_->setTextElideMode(Qt::ElideNone);
  lista_->setMinimumHeight(160);
  // Click, Ctrl+click, Space and Shift+arrows all end here: the model follows the list.
  connect(lista_, &QListWidget::itemSelectionChanged, this, [this] { AlCambiarSeleccion(); });
  grid->addWidget(lista_, 5, 0, 1, 3);
  grid->setColumnStretch(2, 1);

  auto* layout = new QVBoxLayout(central);
  layout->addWidget(frame1);
  setCentralWidget(central);
  resize(720, 520);

  // The window's tab indexes: the three fields, the type options (one stop, the
  // checked one), the list, the colour button.
  QWidget* orden[] = {campos_[0],   campos_[1],   campos_[2],   opciones_[0], opciones_[1],
                      opciones_[2], opciones_[3], opciones_[4], lista_,       botonColor_};
  for (size_t i = 0; i + 1 < std::size(orden); ++i) setTabOrder(orden[i], orden[i + 1]);
  alCambiarFoco_ =
      connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* ahora) { AlCambiarFoco(ahora); });
}

void VentanaQt::AlCambiarFoco(QWidget* ahora) {
  if (sincronizando_ || !ahora || !isAncestorOf(ahora)) return;
  for (QLineEdit* c : campos_)
    if (c == ahora) return;  // the field's own FocusIn tells the model
  // The keyboard is somewhere else in the window (the list, an option, a button): no
  // entry field has it, so no redraw may pull it back into one.
  modelo_.QuitarFoco();
  focoMostrado_ = -1;
}

void VentanaQt::AlCambiarSeleccion() {
  if (sincronizando_) return;
  Manejar([&] {
    for (int i = 0; i < lista_->count(); ++i) {
      const auto fila = static_cast<size_t>(i);
      const bool enPantalla = lista_->item(i)->isSelected();
      if (fila < modelo_.LstEstPrev.Items.size() && modelo_.LstEstPrev.Items[fila].Selected != enPantalla)
        modelo_.MarcarEntrada(fila, enPantalla);
    }
  });
}

template <typename F>
void VentanaQt::Manejar(F&& handler) {
  try {
    handler();
  } catch (const std::exception& e) {
    QMessageBox::critical(this, Q(modelo_.Caption), QString::fromStdString(e.what()));
  }
  Sincronizar();
  // The window was asked to close while this handler's work ran, and now it has returned.
  if (cerrarAlTerminar_ && !Ocupado()) close();
}

bool VentanaQt::Ocupado() const { return HayTrabajoEnCurso() || modelo_.Ocupado(); }

void VentanaQt::Interrumpir() {
  PedirInterrupcion();
  PlataformaQt::ResponderCajasAbiertas();
  if (Ocupado())
    cerrarAlTerminar_ = true;
  else
    close();
}

void VentanaQt::Sincronizar() {
  sincronizando_ = true;
  setWindowTitle(Q(modelo_.Caption));
  for (size_t i = 0; i < campos_.size(); ++i) {
    const CajaTexto& c = modelo_.Txtfields[i];
    QLineEdit* w = campos_[i];
    if (c.MaxLength > 0 && w->maxLength() != c.MaxLength) w->setMaxLength(c.MaxLength);
    if (w->text().toStdString() != c.Text) {
      w->setText(Q(c.Text));
      w->setCursorPosition(c.SelStart);
    } else if (c.SelStart != caretMostrado_[i]) {
      w->setCursorPosition(c.SelStart);
    }
    caretMostrado_[i] = c.SelStart;
    w->setEnabled(c.Enabled);
    // A field's own style sheet wins over the skin's, as its colour must; the focus frame
    // contrasts with whatever colour the field shows.
    const QColor color = DeColor(c.BackColor);
    const QString marco = color.lightness() < 110 ? "#ffd34d" : "#1f63b5";
    const QString fondo = QString("QLineEdit { background-color: %1; } QLineEdit:focus { border: 2px solid %2; }")
                              .arg(color.name(), marco);
    if (w->styleSheet() != fondo) w->setStyleSheet(fondo);
  }
  botonColor_->setEnabled(modelo_.cmdColor.Enabled);
  marcoAtributos_->setEnabled(modelo_.frmAttr.Enabled);
  const BotonOpcion* valores[] = {&modelo_.optPendiente, &modelo_.optEnCurso, &modelo_.optFinalizado,
                                  &modelo_.optAnulado, &modelo_.OPtFacturar};
  for (size_t i = 0; i < opciones_.size(); ++i) {
    opciones_[i]->setAutoExclusive(false);
    opciones_[i]->setChecked(valores[i]->Value);
    opciones_[i]->setAutoExclusive(true);
  }
  const auto& items = modelo_.LstEstPrev.Items;
  // The entry's code stands far to the right, out of view: the operator sees the
  // description (the code is in the tooltip).
  auto visible = [](const EntradaLista& e) {
    const auto corte = e.Text.find(std::string(100, ' '));
    return Q(corte == std::string::npos ? e.Text : e.Text.substr(0, corte));
  };
  bool mismaLista = lista_->count() == static_cast<int>(items.size());
  for (int i = 0; mismaLista && i < lista_->count(); ++i)
    mismaLista = lista_->item(i)->text() == visible(items[static_cast<size_t>(i)]) &&
                 lista_->item(i)->toolTip() == Q(items[static_cast<size_t>(i)].Codigo);
  if (!mismaLista) {
    lista_->clear();
    for (const auto& e : items) {
      lista_->addItem(visible(e));
      lista_->item(lista_->count() - 1)->setToolTip(Q(e.Codigo));
    }
  }
  for (int i = 0; i < lista_->count(); ++i) lista_->item(i)->setSelected(items[static_cast<size_t>(i)].Selected);
  lista_->setEnabled(modelo_.LstEstPrev.Enabled);
  for (const auto& b : modelo_.Botonera1.Botones())
    if (QAction* a = Accion(b.Clave)) a->setEnabled(b.Enabled);
  const int foco = modelo_.Foco();
  if (foco != focoMostrado_ && foco >= 0 && isVisible() &&
      QApplication::focusWidget() != campos_[static_cast<size_t>(foco)])
    campos_[static_cast<size_t>(foco)]->setFocus(Qt::OtherFocusReason);
  if (isVisible()) focoMostrado_ = foco;
  const QString hoja = Q(modelo_.HojaEstilo()) + kReglasFoco;
  if (styleSheet() != hoja) setStyleSheet(hoja);
  if (modelo_.Icono() != iconoMostrado_) {
    iconoMostrado_ = modelo_.Icono();
    if (iconoMostrado_ == "recurso:ICONCORVELA")
      setWindowIcon(IconoCorvela());
    else if (iconoMostrado_.rfind("archivo:", 0) == 0)
      setWindowIcon(QIcon(Q(iconoMostrado_.substr(8))));
  }
  // Flat bars (1) or raised buttons (0), as the workstation prefers.
  const bool plana = modelo_.Botonera1.StyleBar.IsEmpty() || modelo_.Botonera1.StyleBar.ToNumber().value_or(1) != 0;
  for (QAction* a : barra_->actions())
    if (auto* boton = qobject_cast<QToolButton*>(barra_->widgetForAction(a))) boton->setAutoRaise(plana);
  sincronizando_ = false;
}

bool VentanaQt::eventFilter(QObject* watched, QEvent* event) {
  // Tab enters the type options at the checked one, as the group's single stop.
  if (event->type() == QEvent::FocusIn) {
    const auto razon = static_cast<QFocusEvent*>(event)->reason();
    if (razon == Qt::TabFocusReason || razon == Qt::BacktabFocusReason)
      for (QRadioButton* o : opciones_)
        if (o == watched && !o->isChecked())
          for (QRadioButton* marcada : opciones_)
            if (marcada->isChecked()) {
              marcada->setFocus(razon);
              break;
            }
  }
  for (size_t i = 0; i < campos_.size(); ++i) {
    if (watched != campos_[i]) continue;
    const auto index = static_cast<int16_t>(i);
    if (event->type() == QEvent::FocusIn && !sincronizando_) {
      Manejar([&] {
        if (modelo_.Foco() != index) modelo_.SetFocus(index);
      });
      focoMostrado_ = modelo_.Foco();
    } else if (event->type() == QEvent::KeyPress) {
      const auto* tecla = static_cast<QKeyEvent*>(event);
      const int16_t codigo = CodigoTecla(tecla->key());
      if (codigo == 0) return false;
      const int16_t shift = Mayusculas(tecla->modifiers());
      // The window sees every key first (key preview), then the field.
      Manejar([&] {
        modelo_.Form_KeyDown(codigo, shift);
        if (modelo_.Visible) modelo_.Txtfields_KeyDown(index, codigo, shift);
      });
      return codigo == tecla::kEnter || (codigo >= tecla::kF1 && codigo <= tecla::kF12) || codigo == tecla::kEscape;
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

void VentanaQt::keyPressEvent(QKeyEvent* event) {
  if (const int16_t codigo = CodigoTecla(event->key()))
    Manejar([&] { modelo_.Form_KeyDown(codigo, Mayusculas(event->modifiers())); });
  QMainWindow::keyPressEvent(event);
}

void VentanaQt::closeEvent(QCloseEvent* event) {
  // A save being carried to the stores is not cut in the middle: it stops at its next
  // store, records the rest as pending, and the window closes when it returns.
  if (Ocupado()) {
    event->ignore();
    Interrumpir();
    return;
  }
  // Closing the window ends the system exactly like CERRAR.
  int16_t cancel = 0;
  modelo_.Form_Unload(cancel);
  event->accept();
}

void EscucharSenales(VentanaQt& ventana) {
  // The handler may only write a byte; the event loop reads it and does the rest.
  if (tuberiaSenales[0] < 0 && pipe2(tuberiaSenales, O_CLOEXEC | O_NONBLOCK) != 0) return;
  auto* notificador = new QSocketNotifier(tuberiaSenales[0], QSocketNotifier::Read, &ventana);
  QObject::connect(notificador, &QSocketNotifier::activated, &ventana, [&ventana] {
    char c[16];
    while (read(tuberiaSenales[0], c, sizeof c) > 0) {}
    ventana.Interrumpir();
  });
  EscucharFinDeSesion(AlRecibirSenal);
}

int EjecutarVentana(int argc, char** argv, const std::string& commandLine) {
  QApplication app(argc, argv);
  InstalarTraducciones();
  PlataformaQt plataforma;
  plataforma.commandLine = commandLine;
  SetPlatform(&plataforma);
  FrmV_TA_ETAPAS modelo;
  VentanaQt ventana(modelo);
  plataforma.padre = &ventana;
  EscucharSenales(ventana);
  try {
    modelo.Form_Load();
  } catch (const std::exception& e) {
    QMessageBox::critical(nullptr, "Tabla de Status", QString::fromStdString(e.what()));
    return 1;
  }
  modelo.Visible = true;
  ventana.show();
  try {
    modelo.SetFocus(0);
  } catch (const std::exception&) {}
  ventana.Sincronizar();
  return app.exec();
}

}  // namespace etapas::ui
