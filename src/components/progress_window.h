#pragma once
// The window service behind the progress window: the model (progress/) keeps what the
// window shows and calls the platform through this interface; the front end's platform
// makes the windows that draw it. Without one, a headless window records what it was asked.
#include <array>
#include <memory>
#include <string>
#include <utility>

#include "components/error.h"

namespace etapas {

// What the operator sees of the progress window.
struct EstadoVentanaProgreso {
  std::string titulo;
  std::array<std::string, 3> lineas;
  int cuadro = 0;  // animation frame shown, 1 to 12 (0: none yet)
  bool cancelarVisible = true;
  std::string textoCancelar;
  bool visible = false;
};

// The model's side: what the front end reports back.
class EventosVentanaProgreso {
 public:
  virtual ~EventosVentanaProgreso() = default;
  virtual void AlTemporizador() = 0;    // one tick of the animation timer
  virtual void AlPulsarCancelar() = 0;  // the cancel button was clicked
};

struct PuntoPx {
  long x = 0, y = 0;
};
struct RectanguloPx {
  long left = 0, top = 0, right = 0, bottom = 0;
};

// user32 values the model passes.
namespace w32 {
inline constexpr int kGwlExStyle = -20;
inline constexpr long kWsExLayered = 0x80000;
inline constexpr unsigned long kLwaAlpha = 2;
inline constexpr long kHwndTopMost = -1, kHwndNoTopMost = -2;
inline constexpr unsigned kSwpNoSize = 0x1, kSwpNoMove = 0x2;
}  // namespace w32

// One progress window of a front end. Any call may raise RaisedError when the platform
// refuses it; the model decides what a refusal means.
class VentanaProgreso {
 public:
  virtual ~VentanaProgreso() = default;

  // Draws the state (shows or hides the window as it says) and repaints.
  virtual void Dibujar(const EstadoVentanaProgreso& estado) = 0;
  // Starts or stops the animation timer; each tick reaches EventosVentanaProgreso.
  virtual void Temporizador(int intervaloMs, bool activo) = 0;
  virtual long Handle() const = 0;

  // The form's geometry, in twips.
  virtual long AnchoPantalla() const = 0;
  virtual long AltoPantalla() const = 0;
  virtual long Izquierda() const = 0;
  virtual long Arriba() const = 0;
  virtual long Ancho() const = 0;
  virtual long Alto() const = 0;
  virtual void Posicionar(long izquierda, long arriba) = 0;

  // user32, in pixels.
  virtual PuntoPx ClientToScreen(PuntoPx punto) = 0;
  virtual RectanguloPx GetClientRect() = 0;
  virtual void MoveWindow(long x, long y, long ancho, long alto, bool repintar) = 0;
  virtual long GetWindowLongA(int indice) = 0;
  virtual void SetWindowLongA(int indice, long valor) = 0;
  virtual void SetLayeredWindowAttributes(unsigned long colorClave, int alfa, unsigned long banderas) = 0;
  virtual void SetWindowPos(long despuesDe, long x, long y, long ancho, long alto, unsigned banderas) = 0;

  // The window is gone; nothing is called after this.
  virtual void Descargar() = 0;
};

// A window without a screen: keeps its geometry as the platform would (15 twips to the
// pixel, a 1920 by 1080 screen, no frame) and records every request.
class VentanaProgresoSinPantalla : public VentanaProgreso {
 public:
  static constexpr long kTwipsPorPixel = 15;

  void Dibujar(const EstadoVentanaProgreso& e) override {
    estado = e;
    ++dibujos;
  }
  void Temporizador(int intervaloMs, bool activo) override {
    intervalo = intervaloMs;
    temporizadorActivo = activo;
  }
  long Handle() const override { return handle; }
  long AnchoPantalla() const override { return 1920 * kTwipsPorPixel; }
  long AltoPantalla() const override { return 1080 * kTwipsPorPixel; }
  long Izquierda() const override { return izquierda * kTwipsPorPixel; }
  long Arriba() const override { return arriba * kTwipsPorPixel; }
  long Ancho() const override { return ancho * kTwipsPorPixel; }
  long Alto() const override { return alto * kTwipsPorPixel; }
  void Posicionar(long izquierdaTw, long arribaTw) override {
    izquierda = izquierdaTw / kTwipsPorPixel;
    arriba = arribaTw / kTwipsPorPixel;
  }
  PuntoPx ClientToScreen(PuntoPx p) override { return {p.x + izquierda, p.y + arriba}; }
  RectanguloPx GetClientRect() override { return {0, 0, ancho, alto}; }
  void MoveWindow(long x, long y, long w, long h, bool) override {
    izquierda = x;
    arriba = y;
    ancho = w;
    alto = h;
    ++movimientos;
  }
  long GetWindowLongA(int indice) override { return indice == w32::kGwlExStyle ? estiloExtendido : 0; }
  void SetWindowLongA(int indice, long valor) override {
    if (indice == w32::kGwlExStyle) estiloExtendido = valor;
  }
  void SetLayeredWindowAttributes(unsigned long colorClave, int a, unsigned long banderas) override {
    // As the platform does: only a layered window takes the attributes.
    if (!(estiloExtendido & w32::kWsExLayered))
      throw RaisedError(errnum::kApiFailure, "The window is not layered.", "user32");
    clave = colorClave;
    alfa = a;
    banderasCapa = banderas;
  }
  void SetWindowPos(long despuesDe, long x, long y, long w, long h, unsigned banderas) override {
    if (!(banderas & w32::kSwpNoMove)) {
      izquierda = x;
      arriba = y;
    }
    if (!(banderas & w32::kSwpNoSize)) {
      ancho = w;
      alto = h;
    }
    siempreVisible = despuesDe == w32::kHwndTopMost;
  }
  void Descargar() override {
    descargada = true;
    temporizadorActivo = false;
    estado.visible = false;
  }

  EstadoVentanaProgreso estado;
  int dibujos = 0, intervalo = 0, movimientos = 0;
  bool temporizadorActivo = false, descargada = false, siempreVisible = false;
  long handle = 0x5150;
  long izquierda = 0, arriba = 0;
  long ancho = 7845 / kTwipsPorPixel, alto = 2970 / kTwipsPorPixel;  // the design client area
  long estiloExtendido = 0;
  unsigned long clave = 0, banderasCapa = 0;
  int alfa = 255;
};

// A new window from the front end in place (Platform().NuevaVentanaProgreso); a front end
// that gives none gets a headless one.
std::unique_ptr<VentanaProgreso> CrearVentanaProgreso(EventosVentanaProgreso& eventos);

}  // namespace etapas
