#include "ui/qt/progreso_qt.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QWindow>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>
#include <cmath>

namespace etapas::ui {

VentanaProgresoQt::VentanaProgresoQt(EventosVentanaProgreso& eventos)
    : QWidget(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint), eventos_(eventos) {
  setObjectName("Lbf_CtrlDisplay");
  setWindowTitle("Procesando Datos");
  setAutoFillBackground(true);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, Qt::white);
  setPalette(pal);
  // The design's client area: 7845 by 2970 twips.
  setFixedSize(7845 / kTwips, 2970 / kTwips);
  for (int i = 0; i < 3; ++i) {
    auto* l = new QLabel(this);
    l->setGeometry(0, (i == 0 ? 240 : i == 1 ? 600 : 960) / kTwips, 7815 / kTwips, 255 / kTwips + 2);
    l->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    lineas_[static_cast<size_t>(i)] = l;
  }
  cancelar_ = new QPushButton("&Cancelar", this);
  cancelar_->setObjectName("CmdDisplayCancelar");
  cancelar_->setGeometry(3120 / kTwips, 2400 / kTwips, 1695 / kTwips, 375 / kTwips);
  connect(cancelar_, &QPushButton::clicked, this, [this] { eventos_.AlPulsarCancelar(); });
  timer_ = new QTimer(this);
  connect(timer_, &QTimer::timeout, this, [this] { eventos_.AlTemporizador(); });
}

void VentanaProgresoQt::Dibujar(const EstadoVentanaProgreso& e) {
  setWindowTitle(QString::fromStdString(e.titulo));
  for (size_t i = 0; i < 3; ++i) lineas_[i]->setText(QString::fromStdString(e.lineas[i]));
  cancelar_->setVisible(e.cancelarVisible);
  cancelar_->setText(QString::fromStdString(e.textoCancelar));
  cuadro_ = e.cuadro;
  if (e.visible && !isVisible()) {
    show();
    // A window just shown is not on screen until the window system maps it: wait for that
    // (briefly), or the wait that follows would leave an empty frame up.
    QElapsedTimer reloj;
    reloj.start();
    while (!(windowHandle() && windowHandle()->isExposed()) && reloj.elapsed() < 500)
      QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 20);
  }
  if (!e.visible && isVisible()) hide();
  repaint();
  // The window system gets the frame now, not at the next turn of the event loop.
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void VentanaProgresoQt::Temporizador(int intervaloMs, bool activo) {
  if (activo)
    timer_->start(intervaloMs);
  else
    timer_->stop();
}

long VentanaProgresoQt::AnchoPantalla() const {
  const QScreen* s = QGuiApplication::primaryScreen();
  return static_cast<long>(s ? s->geometry().width() : 1024) * kTwips;
}

long VentanaProgresoQt::AltoPantalla() const {
  const QScreen* s = QGuiApplication::primaryScreen();
  return static_cast<long>(s ? s->geometry().height() : 768) * kTwips;
}

PuntoPx VentanaProgresoQt::ClientToScreen(PuntoPx punto) {
  const QPoint g = mapToGlobal(QPoint(static_cast<int>(punto.x), static_cast<int>(punto.y)));
  return {g.x(), g.y()};
}

void VentanaProgresoQt::MoveWindow(long x, long y, long ancho, long alto, bool repintar) {
  move(static_cast<int>(x), static_cast<int>(y));
  setFixedSize(static_cast<int>(ancho), static_cast<int>(alto));
  if (repintar) repaint();
}

void VentanaProgresoQt::SetWindowLongA(int indice, long valor) {
  if (indice == w32::kGwlExStyle) estiloExtendido_ = valor;
}

void VentanaProgresoQt::SetLayeredWindowAttributes(unsigned long, int alfa, unsigned long banderas) {
  if (!(estiloExtendido_ & w32::kWsExLayered))
    throw RaisedError(errnum::kApiFailure, "The window is not layered.", "user32");
  if (banderas & w32::kLwaAlpha) setWindowOpacity(alfa / 255.0);
}

void VentanaProgresoQt::SetWindowPos(long despuesDe, long, long, long, long, unsigned) {
  const bool arriba = despuesDe == w32::kHwndTopMost;
  const bool visible = isVisible();
  setWindowFlag(Qt::WindowStaysOnTopHint, arriba);
  if (visible) show();
  if (arriba) raise();
}

void VentanaProgresoQt::Descargar() {
  timer_->stop();
  hide();
}

void VentanaProgresoQt::paintEvent(QPaintEvent* event) {
  ++pintadas_;
  QWidget::paintEvent(event);
  if (cuadro_ < 1 || cuadro_ > 12) return;
  // Twelve dots on a circle: the current frame's dot is the brightest, the ones behind it fade.
  QPainter g(this);
  g.setRenderHint(QPainter::Antialiasing);
  const QRectF zona(3480.0 / kTwips, 1320.0 / kTwips, 1095.0 / kTwips, 975.0 / kTwips);
  const QPointF centro = zona.center();
  const double radio = std::min(zona.width(), zona.height()) * 0.36;
  for (int i = 0; i < 12; ++i) {
    const double angulo = (i * 30.0 - 90.0) * M_PI / 180.0;
    const int atraso = (cuadro_ - 1 - i + 12) % 12;
    QColor c("#1f63b5");
    c.setAlphaF(std::max(0.12, 1.0 - atraso * 0.11));
    g.setPen(Qt::NoPen);
    g.setBrush(c);
    const double r = atraso == 0 ? 5.0 : 3.8;
    g.drawEllipse(QPointF(centro.x() + radio * std::cos(angulo), centro.y() + radio * std::sin(angulo)), r, r);
  }
}

}  // namespace etapas::ui
