#pragma once
// The status table editor: a model of its window's controls whose event handlers are the
// editor's routines. The Qt window and the headless script driver both drive it.
#include <cstdint>
#include <string>
#include <vector>

#include "components/ado.h"
#include "components/controles.h"
#include "components/ventana.h"

namespace etapas {

class FrmV_TA_ETAPAS : public Ventana, public SkinFramework {
 public:
  FrmV_TA_ETAPAS();

  // ---- Controls ----
  std::string Caption = "Tabla de Status";
  Botonera Botonera1;
  std::vector<std::string> LblTitulo = {"Código...........:", "Descripción....:", "Color.............:"};
  std::vector<CajaTexto> Txtfields;
  Boton cmdColor{"...", "Seleccionar Color", true};
  Marco frmAttr{"Atributos", true};
  BotonOpcion optPendiente{"Pendiente", true, true};
  BotonOpcion optEnCurso{"En Curso", false, true};
  BotonOpcion optFinalizado{"Finalizado", false, true};
  BotonOpcion optAnulado{"Anulado", false, true};
  BotonOpcion OPtFacturar{"Finalizado Incluir en Facturacion automatica", false, true};
  std::string Label1 = "Posibles Estados Previos";
  ListaMultiple LstEstPrev;
  DialogoColor cdlColor;

  // ---- Editor state ----
  ado::RecordsetPtr rsDatos;
  std::string sTabla;
  bool bNuevo = false, bModifica = false, bBorrar = false, bGrabando = false, bError = false, bEditando = false;
  int16_t iCampoActual = 0;

  // ---- Window state ----
  bool Visible = false;
  int Foco() const { return foco_; }  // entry field with the focus, -1 for none
  const std::string& Icono() const { return icono_; }
  const std::string& HojaEstilo() const { return hojaEstilo_; }  // the loaded skin's style sheet
  const std::string& SkinCargado() const { return skinRuta_; }

  // ---- Events ----
  void Form_Load();
  void Form_Unload(int16_t& cancel);
  void Form_KeyDown(int16_t keyCode, int16_t shift);
  void Txtfields_GotFocus(int16_t index);
  void Txtfields_KeyDown(int16_t index, int16_t keyCode, int16_t shift);
  void Txtfields_KeyPress(int16_t, int16_t&) {}
  void Txtfields_KeyUp(int16_t, int16_t, int16_t) {}
  void cmdColor_Click();
  void Botonera1_Click(const std::string& clave);

  // ---- Routines ----
  void LimpiarPantalla();
  void HabilitarCampos(bool habilitar);
  void Campo_Valida(int16_t index);
  void LlenarEstadosPrevios();
  void AsignarDatos();
  void Generar(const std::string& tabla);
  bool ValidarCampos();
  void GrabarRegistro();
  void ConsultarCampo();
  // The code every statement uses for the status whose code the field holds: the code
  // the table holds when the last lookup of that text found the row, otherwise the stored
  // form of the text.
  std::string CodigoGuardado(const std::string& texto) const;
  // True while a save is being replicated: the window takes no command then.
  bool Ocupado() const;

  // ---- What the operator does, as a front end reports it ----
  // Typing into an entry field (cut to its maximum length); false when it is disabled.
  // The caret goes to the end unless the front end says where the operator left it.
  bool Escribir(int index, const std::string& texto, int caret = -1);
  // The operator moved the caret of an entry field.
  void MoverCaret(int index, int caret);
  // Gives an entry field the focus; raises 5 when the field or the window cannot take it.
  void SetFocus(int index);
  void QuitarFoco() { foco_ = -1; }
  // Selects a type option by letter (P, E, F, A, T); false when the frame is disabled.
  bool ElegirTipo(char letra);
  char TipoSeleccionado() const;  // '\0' when none is selected
  bool AlternarEntrada(size_t index);
  // Sets one entry's selection as a front end's list shows it; false when refused.
  bool MarcarEntrada(size_t index, bool seleccionada);

  // ---- Ventana and its skinning control ----
  std::string NombreTipo() const override { return "FrmV_TA_ETAPAS"; }
  long Handle() const override { return 1; }
  bool TieneIcono() const override { return !icono_.empty(); }
  void IconoDeRecurso(const std::string& nombre) override;
  void IconoDeArchivo(const std::string& ruta) override;
  void AsignarPropiedad(const std::string& control, const std::string& propiedad, const Variant& valor) override;
  SkinFramework& SkinFramework1() override { return *this; }
  void LoadSkin(const std::string& ruta, const std::string& ini) override;
  void ApplyWindow(long handle) override;
  int ApplyOptions() const override { return skinOpciones_; }
  void ApplyOptions(int opciones) override { skinOpciones_ = opciones; }

 private:
  void SeleccionarTipo(BotonOpcion& opcion);
  void FijarConsultar(int16_t index);
  std::vector<BotonOpcion*> Opciones();

  int foco_ = -1;
  // The last code looked up (trimmed) and the code of the row it found ("" for none).
  std::string codigoBuscado_, codigoTabla_;
  std::string icono_, hojaEstilo_, skinRuta_, skinPendiente_;
  int skinOpciones_ = 0;
};

// The editor's window, for the routines that reach it from elsewhere; null before load.
FrmV_TA_ETAPAS* VentanaEditor();

}  // namespace etapas
