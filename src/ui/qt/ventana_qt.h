#pragma once
// The editor's desktop window: Qt widgets drawing the editor's model and sending the
// operator's typing, keys and clicks to its event handlers. No business logic here.
#include <QMainWindow>
#include <array>
#include <string>

#include "components/platform.h"
#include "editor/frm_v_ta_etapas.h"

class QAction;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QToolBar;

namespace etapas::ui {

// The platform of the desktop program: Qt message boxes, Qt's event loop, Qt's colour
// dialog, the lookup and listing windows and the progress window.
class PlataformaQt : public PlataformaProceso {
 public:
  int MsgBox(const std::string& prompt, int style, const std::string& title) override;
  void DoEvents() override;
  std::string LineaComando() const override { return commandLine; }
  std::optional<int32_t> ElegirColor(int32_t actual) override;
  bool DibujaVentanas() const override { return true; }
  std::string MostrarConsulta(const PeticionConsulta& peticion) override;
  void MostrarPlanilla(const PeticionPlanilla& peticion) override;
  std::unique_ptr<VentanaProgreso> NuevaVentanaProgreso(EventosVentanaProgreso& eventos) override;

  std::string commandLine;
  QWidget* padre = nullptr;  // the lookup's and the listing's parent window
  // Answers the boxes on screen with their default button; once the program is asked to
  // end, boxes asked later are answered so without showing.
  static void ResponderCajasAbiertas();
  // Tests answer message boxes without showing them (nothing may block a test run).
  std::function<int(const std::string& prompt, int style, const std::string& title)> answerer;
};

class VentanaQt : public QMainWindow {
  Q_OBJECT
 public:
  explicit VentanaQt(FrmV_TA_ETAPAS& modelo, QWidget* parent = nullptr);
  ~VentanaQt() override;

  // Draws the model's state into the widgets.
  void Sincronizar();
  QLineEdit* Campo(int index) { return campos_[static_cast<size_t>(index)]; }
  QListWidget* Lista() { return lista_; }
  QAction* Accion(const std::string& clave);
  QRadioButton* Opcion(int index) { return opciones_[static_cast<size_t>(index)]; }
  QPushButton* BotonColor() { return botonColor_; }
  // The program is asked to end (a signal, the close box during a save): the running work
  // stops at its next safe point and the window closes once it has returned.
  void Interrumpir();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void Construir();
  void AlCambiarFoco(QWidget* ahora);
  void AlCambiarSeleccion();
  // Runs a handler of the model, then redraws.
  template <typename F>
  void Manejar(F&& handler);
  // Work that must not be cut is running: a save and its walk over the stores.
  bool Ocupado() const;

  FrmV_TA_ETAPAS& modelo_;
  QToolBar* barra_ = nullptr;
  std::array<QLineEdit*, 3> campos_{};
  std::array<QLabel*, 3> etiquetas_{};
  QPushButton* botonColor_ = nullptr;
  QGroupBox* marcoAtributos_ = nullptr;
  std::array<QRadioButton*, 5> opciones_{};
  QLabel* etiquetaLista_ = nullptr;
  QListWidget* lista_ = nullptr;
  bool sincronizando_ = false;
  // What the window last showed of the model's caret and focus: a redraw moves the
  // operator's caret or focus only when a routine changed them since.
  std::array<int, 3> caretMostrado_{};
  int focoMostrado_ = -1;
  QMetaObject::Connection alCambiarFoco_;
  std::string iconoMostrado_;
  bool cerrarAlTerminar_ = false;
};

// Qt key to the platform's key code (0 when it has none).
int16_t CodigoTecla(int qtKey);

// Loads Qt's own Spanish texts (buttons, the colour and file dialogs) once.
void InstalarTraducciones();

// SIGTERM and SIGHUP reach the window's event loop as Interrumpir.
void EscucharSenales(VentanaQt& ventana);

// Runs the desktop program: load, show, event loop.
int EjecutarVentana(int argc, char** argv, const std::string& commandLine);

}  // namespace etapas::ui
