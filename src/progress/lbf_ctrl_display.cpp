#include "progress/lbf_ctrl_display.h"

#include "components/failure.h"

namespace etapas {
namespace {

// The pictures of ImageList1 are numbered 1 to kCuadros; another index is refused.
void RequiereCuadro(int indice) {
  if (indice < 1 || indice > Lbf_CtrlDisplay::kCuadros)
    throw RaisedError(errnum::kIndexOutOfBounds, "Index out of bounds", "ImageList1");
}

}  // namespace

Lbf_CtrlDisplay::Lbf_CtrlDisplay() : ventana_(CrearVentanaProgreso(*this)) {
  // Timer1 is enabled at design time: it runs from the moment the window exists.
  Pasos p(SaltarSiempre);
  p.Paso([&] { ventana_->Temporizador(kIntervaloMs, true); });
  p.Ejecutar();
  Form_Load();
}

Lbf_CtrlDisplay::~Lbf_CtrlDisplay() {
  // A window dropped without Unload still stops its timer before it goes.
  if (!descargada_) {
    Pasos p(SaltarSiempre);
    p.Paso([&] { Unload(); });
    p.Ejecutar();
  }
}

long Lbf_CtrlDisplay::hWnd() const { return ventana_->Handle(); }

void Lbf_CtrlDisplay::Form_Load() {
  // A window that cannot be centred, animated or made transparent is still shown: each
  // refused step is skipped.
  VentanaProgreso& v = *ventana_;
  Pasos p(SaltarSiempre);
  p.Paso([&] { v.Posicionar(v.Izquierda(), (v.AltoPantalla() - v.Alto()) / 2); });
  p.Paso([&] { v.Posicionar((v.AnchoPantalla() - v.Ancho()) / 2, v.Arriba()); });
  p.Paso([&] { CmdDisplayCancelar.Caption = "&Cancelar"; });
  p.Paso([&] {
    RequiereCuadro(1);
    imagen_ = 1;
  });
  p.Paso([&] {
    // The window shrinks to its client area: no caption bar, no border.
    const PuntoPx origen = v.ClientToScreen({0, 0});
    const RectanguloPx cliente = v.GetClientRect();
    v.MoveWindow(origen.x, origen.y, cliente.right - cliente.left, cliente.bottom - cliente.top, false);
  });
  p.Paso([&] {
    v.SetWindowLongA(w32::kGwlExStyle, v.GetWindowLongA(w32::kGwlExStyle) | w32::kWsExLayered);
    v.SetLayeredWindowAttributes(0, kAlfa, w32::kLwaAlpha);
  });
  p.Paso([&] { Refresh(); });
  p.Ejecutar();
}

void Lbf_CtrlDisplay::Show() {
  visible_ = true;
  Refresh();
}

void Lbf_CtrlDisplay::Hide() {
  visible_ = false;
  Refresh();
}

void Lbf_CtrlDisplay::Refresh() {
  EstadoVentanaProgreso e;
  e.titulo = Caption;
  e.lineas = LblCtrol;
  e.cuadro = imagen_;
  e.cancelarVisible = CmdDisplayCancelar.Visible;
  e.textoCancelar = CmdDisplayCancelar.Caption;
  e.visible = visible_;
  ventana_->Dibujar(e);
}

void Lbf_CtrlDisplay::Unload() {
  if (descargada_) return;
  descargada_ = true;
  visible_ = false;
  ventana_->Temporizador(kIntervaloMs, false);
  ventana_->Descargar();
}

void Lbf_CtrlDisplay::Timer1_Timer() {
  Pasos p(SaltarSiempre);
  p.Paso([&] { ++CuadroActual; });
  p.Paso([&] {
    RequiereCuadro(CuadroActual);
    imagen_ = CuadroActual;
    Refresh();
  });
  p.Paso([&] {
    if (CuadroActual == kCuadros) CuadroActual = 0;
  });
  p.Ejecutar();
}

void Lbf_CtrlDisplay::CmdDisplayCancelar_Click() {
  // The caption is the cancel state: the banner reads it on its next update.
  CmdDisplayCancelar.Caption = "Abortado";
  Refresh();
}

}  // namespace etapas
