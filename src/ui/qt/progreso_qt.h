#pragma once
// The progress window on screen: small, centred, semi-transparent, with its animation
// drawn by the program and a cancel button.
#include <QWidget>
#include <array>

#include "components/progress_window.h"

class QLabel;
class QPushButton;
class QTimer;

namespace etapas::ui {

class VentanaProgresoQt : public QWidget, public VentanaProgreso {
  Q_OBJECT
 public:
  explicit VentanaProgresoQt(EventosVentanaProgreso& eventos);

  void Dibujar(const EstadoVentanaProgreso& estado) override;
  void Temporizador(int intervaloMs, bool activo) override;
  long Handle() const override { return static_cast<long>(winId()); }
  long AnchoPantalla() const override;
  long AltoPantalla() const override;
  long Izquierda() const override { return static_cast<long>(x()) * kTwips; }
  long Arriba() const override { return static_cast<long>(y()) * kTwips; }
  long Ancho() const override { return static_cast<long>(frameGeometry().width()) * kTwips; }
  long Alto() const override { return static_cast<long>(frameGeometry().height()) * kTwips; }
  void Posicionar(long izquierda, long arriba) override {
    move(static_cast<int>(izquierda / kTwips), static_cast<int>(arriba / kTwips));
  }
  PuntoPx ClientToScreen(PuntoPx punto) override;
  RectanguloPx GetClientRect() override { return {0, 0, width(), height()}; }
  void MoveWindow(long x, long y, long ancho, long alto, bool repintar) override;
  long GetWindowLongA(int indice) override { return indice == w32::kGwlExStyle ? estiloExtendido_ : 0; }
  void SetWindowLongA(int indice, long valor) override;
  void SetLayeredWindowAttributes(unsigned long colorClave, int alfa, unsigned long banderas) override;
  void SetWindowPos(long despuesDe, long x, long y, long ancho, long alto, unsigned banderas) override;
  void Descargar() override;

  int Cuadro() const { return cuadro_; }
  int Pintadas() const { return pintadas_; }  // frames painted so far
  QPushButton* BotonCancelar() { return cancelar_; }
  const std::array<QLabel*, 3>& Lineas() const { return lineas_; }

  static constexpr int kTwips = 15;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  EventosVentanaProgreso& eventos_;
  std::array<QLabel*, 3> lineas_{};
  QPushButton* cancelar_ = nullptr;
  QTimer* timer_ = nullptr;
  int cuadro_ = 0;
  int pintadas_ = 0;
  long estiloExtendido_ = 0;
};

}  // namespace etapas::ui
