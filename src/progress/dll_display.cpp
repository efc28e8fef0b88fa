#include "progress/dll_display.h"

#include <cstdlib>

namespace etapas {

Lbf_CtrlDisplay& Dll_Display::Cartel() {
  if (!frmCartel) frmCartel = std::make_unique<Lbf_CtrlDisplay>();
  return *frmCartel;
}

std::string Dll_Display::TextoDe(const Variant& valor) { return valor.IsNull() ? std::string() : valor.ToText(); }

void Dll_Display::CartelInicio(const std::string& Titulo, bool PermiteCancelar) {
  Lbf_CtrlDisplay& f = Cartel();
  f.Caption = Titulo;
  f.CmdDisplayCancelar.Visible = PermiteCancelar;
  f.Show();
}

void Dll_Display::CartelMostrar(bool& Cancelado, const Linea& L1, const Linea& l2, const Linea& l3) {
  Lbf_CtrlDisplay& f = Cartel();
  if (L1) f.LblCtrol[0] = TextoDe(*L1);
  if (l2) f.LblCtrol[1] = TextoDe(*l2);
  if (l3) f.LblCtrol[2] = TextoDe(*l3);
  f.Refresh();
  Cancelado = f.CmdDisplayCancelar.Caption == "Abortado";
  // Lets the animation advance and a click on cancel be taken in.
  Platform().DoEvents();
}

void Dll_Display::CartelCerrar() {
  Lbf_CtrlDisplay& f = Cartel();
  f.Hide();
  f.Unload();
  frmCartel.reset();
}

void Dll_Display::Siempre_Visible(bool vNewValue) {
  // Only the stacking changes: the window keeps where it is and its size.
  Cartel().Ventana().SetWindowPos(vNewValue ? w32::kHwndTopMost : w32::kHwndNoTopMost, 0, 0, 0, 0,
                                  w32::kSwpNoMove | w32::kSwpNoSize);
}

Dll_Display& CartelCompartido() {
  static Dll_Display cartel;
  return cartel;
}

CartelCedeAMensajes::CartelCedeAMensajes() : PlataformaDelegada(Platform()) { SetPlatform(this); }

CartelCedeAMensajes::~CartelCedeAMensajes() { SetPlatform(&interior_); }

int CartelCedeAMensajes::MsgBox(const std::string& prompt, int style, const std::string& title) {
  if (CartelCompartido().Ventana()) CartelCompartido().CartelCerrar();
  return interior_.MsgBox(prompt, style, title);
}

}  // namespace etapas
