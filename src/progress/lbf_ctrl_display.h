#pragma once
// The progress window: a caption, three lines, an endless animation and an optional
// cancel button on a semi-transparent window. Only Dll_Display drives it; a front end
// draws it through the progress-window service.
#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "components/progress_window.h"

namespace etapas {

class Lbf_CtrlDisplay : private EventosVentanaProgreso {
 public:
  static constexpr int kCuadros = 12;
  static constexpr int kIntervaloMs = 100;
  static constexpr int kAlfa = 200;                                 // out of 255
  static constexpr long kAnchoCliente = 7845, kAltoCliente = 2970;  // twips

  struct BotonCancelar {
    std::string Caption = "&Cancelar ";
    bool Visible = true;
  };

  // Creates the window through the service and runs its load sequence.
  Lbf_CtrlDisplay();
  ~Lbf_CtrlDisplay();
  Lbf_CtrlDisplay(const Lbf_CtrlDisplay&) = delete;
  Lbf_CtrlDisplay& operator=(const Lbf_CtrlDisplay&) = delete;

  // ---- Controls (what Dll_Display reads and writes) ----
  std::string Caption = "Procesando Datos";
  std::array<std::string, 3> LblCtrol;
  BotonCancelar CmdDisplayCancelar;

  // ---- Window state ----
  int16_t CuadroActual = 0;
  int CuadroMostrado() const { return imagen_; }  // the frame Image1 shows
  bool Visible() const { return visible_; }
  long hWnd() const;
  VentanaProgreso& Ventana() { return *ventana_; }

  // ---- What the window does for its owner ----
  void Show();  // modeless
  void Hide();
  void Refresh();  // draws the controls as they now are
  void Unload();   // stops the timer and lets the service drop the window

  // ---- Events ----
  void Timer1_Timer();
  void CmdDisplayCancelar_Click();

 private:
  void Form_Load();
  void AlTemporizador() override { Timer1_Timer(); }
  void AlPulsarCancelar() override { CmdDisplayCancelar_Click(); }

  std::unique_ptr<VentanaProgreso> ventana_;
  int imagen_ = 0;
  bool visible_ = false;
  bool descargada_ = false;
};

}  // namespace etapas
