#include "ui/qt/iconos_qt.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace etapas::ui {
namespace {

QPixmap Lienzo(int lado) {
  QPixmap p(lado, lado);
  p.fill(Qt::transparent);
  return p;
}

// A chevron pointing right, inside the square (x, y, s).
void Chevron(QPainter& g, qreal x, qreal y, qreal s) {
  QPainterPath path;
  path.moveTo(x, y);
  path.lineTo(x + s * 0.55, y + s * 0.5);
  path.lineTo(x, y + s);
  path.lineTo(x + s * 0.3, y + s);
  path.lineTo(x + s * 0.85, y + s * 0.5);
  path.lineTo(x + s * 0.3, y);
  path.closeSubpath();
  g.drawPath(path);
}

QIcon Dibujo(const std::function<void(QPainter&, qreal)>& dibujar) {
  QIcon icono;
  for (int lado : {16, 24, 32, 48, 64}) {
    QPixmap p = Lienzo(lado);
    QPainter g(&p);
    g.setRenderHint(QPainter::Antialiasing);
    dibujar(g, lado);
    icono.addPixmap(p);
  }
  return icono;
}

}  // namespace

QIcon IconoCorvela() {
  return Dibujo([](QPainter& g, qreal s) {
    QLinearGradient fondo(0, 0, 0, s);
    fondo.setColorAt(0, QColor("#2f80d1"));
    fondo.setColorAt(1, QColor("#124a8a"));
    g.setPen(Qt::NoPen);
    g.setBrush(fondo);
    g.drawRoundedRect(QRectF(s * 0.04, s * 0.04, s * 0.92, s * 0.92), s * 0.18, s * 0.18);
    const QColor tonos[] = {QColor("#9fd3ff"), QColor("#d6ecff"), QColor("#ffffff")};
    for (int i = 0; i < 3; ++i) {
      g.setBrush(tonos[i]);
      Chevron(g, s * (0.14 + 0.22 * i), s * 0.28, s * 0.44);
    }
  });
}

QIcon IconoComando(const std::string& clave) {
  return Dibujo([clave](QPainter& g, qreal s) {
    QPen pen(QColor("#1f3f6e"), s / 12.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    g.setPen(pen);
    const QRectF hoja(s * 0.22, s * 0.1, s * 0.56, s * 0.8);
    if (clave == "NUEVO") {
      g.setBrush(QColor("#ffffff"));
      g.drawRect(hoja);
      g.setPen(QPen(QColor("#2e9d3a"), s / 8.0, Qt::SolidLine, Qt::RoundCap));
      g.drawLine(QPointF(s * 0.5, s * 0.32), QPointF(s * 0.5, s * 0.68));
      g.drawLine(QPointF(s * 0.32, s * 0.5), QPointF(s * 0.68, s * 0.5));
    } else if (clave == "BORRAR") {
      g.setPen(QPen(QColor("#c62828"), s / 7.0, Qt::SolidLine, Qt::RoundCap));
      g.drawLine(QPointF(s * 0.25, s * 0.25), QPointF(s * 0.75, s * 0.75));
      g.drawLine(QPointF(s * 0.75, s * 0.25), QPointF(s * 0.25, s * 0.75));
    } else if (clave == "GRABAR") {
      g.setBrush(QColor("#3b6fb6"));
      g.drawRoundedRect(QRectF(s * 0.15, s * 0.15, s * 0.7, s * 0.7), s * 0.06, s * 0.06);
      g.setBrush(QColor("#ffffff"));
      g.setPen(Qt::NoPen);
      g.drawRect(QRectF(s * 0.3, s * 0.18, s * 0.4, s * 0.22));
      g.drawRect(QRectF(s * 0.28, s * 0.55, s * 0.44, s * 0.26));
    } else if (clave == "PLANILLA") {
      g.setBrush(QColor("#ffffff"));
      g.drawRect(QRectF(s * 0.12, s * 0.18, s * 0.76, s * 0.64));
      for (int i = 1; i < 3; ++i)
        g.drawLine(QPointF(s * 0.12, s * (0.18 + 0.213 * i)), QPointF(s * 0.88, s * (0.18 + 0.213 * i)));
      g.drawLine(QPointF(s * 0.4, s * 0.18), QPointF(s * 0.4, s * 0.82));
    } else if (clave == "CONSULTAR") {
      g.setBrush(QColor("#e3f0ff"));
      g.drawEllipse(QRectF(s * 0.14, s * 0.14, s * 0.48, s * 0.48));
      g.setPen(QPen(QColor("#1f3f6e"), s / 7.0, Qt::SolidLine, Qt::RoundCap));
      g.drawLine(QPointF(s * 0.56, s * 0.56), QPointF(s * 0.84, s * 0.84));
    } else if (clave == "REPORTE") {
      g.setBrush(QColor("#ffffff"));
      g.drawRect(hoja);
      for (int i = 0; i < 3; ++i)
        g.drawLine(QPointF(s * 0.32, s * (0.32 + 0.16 * i)), QPointF(s * 0.68, s * (0.32 + 0.16 * i)));
    } else if (clave == "CERRAR") {
      g.setBrush(QColor("#f2f2f2"));
      g.drawRect(QRectF(s * 0.18, s * 0.12, s * 0.42, s * 0.76));
      g.setPen(QPen(QColor("#c62828"), s / 9.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
      g.drawLine(QPointF(s * 0.45, s * 0.5), QPointF(s * 0.88, s * 0.5));
      g.drawLine(QPointF(s * 0.74, s * 0.36), QPointF(s * 0.88, s * 0.5));
      g.drawLine(QPointF(s * 0.74, s * 0.64), QPointF(s * 0.88, s * 0.5));
    } else {  // CANCELAR
      g.setPen(QPen(QColor("#e07b00"), s / 8.0, Qt::SolidLine, Qt::RoundCap));
      g.setBrush(Qt::NoBrush);
      g.drawArc(QRectF(s * 0.2, s * 0.2, s * 0.6, s * 0.6), 60 * 16, 280 * 16);
      g.drawLine(QPointF(s * 0.22, s * 0.22), QPointF(s * 0.22, s * 0.42));
      g.drawLine(QPointF(s * 0.22, s * 0.22), QPointF(s * 0.42, s * 0.22));
    }
  });
}

}  // namespace etapas::ui
