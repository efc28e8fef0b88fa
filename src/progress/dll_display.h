#pragma once
// The progress banner: opens a progress window with a title, updates its three lines,
// tells whether the operator cancelled, and closes it.
#include <memory>
#include <optional>
#include <string>

#include "components/platform.h"
#include "components/variant.h"
#include "progress/lbf_ctrl_display.h"

namespace etapas {

class Dll_Display {
 public:
  using Linea = std::optional<Variant>;  // nullopt: the line keeps its text

  void CartelInicio(const std::string& Titulo, bool PermiteCancelar);
  // Cancelado: true once the operator has pressed cancel on this window.
  void CartelMostrar(bool& Cancelado, const Linea& L1 = std::nullopt, const Linea& l2 = std::nullopt,
                     const Linea& l3 = std::nullopt);
  void CartelCerrar();
  void Siempre_Visible(bool vNewValue);

  // The window this banner drives, if it has one (it is created by any method above).
  Lbf_CtrlDisplay* Ventana() const { return frmCartel.get(); }

 private:
  Lbf_CtrlDisplay& Cartel();
  static std::string TextoDe(const Variant& valor);

  std::unique_ptr<Lbf_CtrlDisplay> frmCartel;
};

// The one banner the replication routines share.
Dll_Display& CartelCompartido();

// While alive, every message box first takes the shared banner off the screen, so no
// message is ever hidden behind it (whoever shows the message). Installs itself as the
// process's platform and puts the previous one back when it goes.
class CartelCedeAMensajes : public PlataformaDelegada {
 public:
  CartelCedeAMensajes();  // over the platform in place, put back on destruction
  ~CartelCedeAMensajes() override;
  CartelCedeAMensajes(const CartelCedeAMensajes&) = delete;
  CartelCedeAMensajes& operator=(const CartelCedeAMensajes&) = delete;

  int MsgBox(const std::string& prompt, int style, const std::string& title) override;
};

}  // namespace etapas
