#include "GlobePicture.h"

#include <QPainter>
#include <QPainterPath>

namespace globelayers {

QImage MakeGlobePicture() {
  constexpr int kSizePx = 101;
  QImage image(kSizePx, kSizePx, QImage::Format_RGB888);
  image.fill(QColor(240, 240, 240));
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  const QPointF centre(50.5, 56.5);

  // The globe's surface, seen from outside.
  p.setPen(QPen(QColor(40, 60, 90), 1));
  p.setBrush(QColor(58, 120, 190));
  p.drawEllipse(centre, 44, 44);

  // A quarter cut open: the shells from the crust down to the core.
  struct Shell {
    double radiusPx;
    QColor colour;
  };
  const Shell shells[] = {
      {44, QColor(120, 90, 50)},   // crust
      {40, QColor(200, 110, 50)},  // upper mantle
      {31, QColor(225, 150, 60)},  // lower mantle
      {20, QColor(240, 190, 70)},  // outer core
      {10, QColor(250, 230, 120)}, // inner core
  };
  for (const Shell& s : shells) {
    QPainterPath wedge;
    wedge.moveTo(centre);
    wedge.arcTo(QRectF(centre.x() - s.radiusPx, centre.y() - s.radiusPx, 2 * s.radiusPx,
                       2 * s.radiusPx),
                -10, 100);
    wedge.closeSubpath();
    p.setPen(QPen(QColor(70, 50, 30), 0.8));
    p.setBrush(s.colour);
    p.drawPath(wedge);
  }

  // The computation point on the surface, and the zone around it.
  const QPointF top(centre.x(), centre.y() - 44);
  p.setPen(QPen(QColor(200, 30, 30), 1.2, Qt::DashLine));
  p.setBrush(Qt::NoBrush);
  p.drawArc(QRectF(centre.x() - 48, centre.y() - 48, 96, 96), 60 * 16, 60 * 16);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(220, 30, 30));
  const QPointF marker[] = {top + QPointF(0, -1), top + QPointF(-5, -9), top + QPointF(5, -9)};
  p.drawPolygon(marker, 3);
  return image;
}

}  // namespace globelayers
