#include "ui/qt/pictures.h"

#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

#include "record/letter_case.h"

namespace kav::ui::qt {

namespace {

// 32 x 32: a door frame, the door swung open towards the viewer, and a green
// arrow leaving through it.
QPixmap exit_door() {
  QPixmap pixmap(32, 32);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);

  // Frame and the dark opening.
  p.setPen(QPen(QColor(0x5a, 0x3a, 0x1e), 2));
  p.setBrush(QColor(0x2b, 0x2b, 0x2b));
  p.drawRect(QRectF(4, 3, 14, 26));

  // The open door.
  QPolygonF door;
  door << QPointF(4, 3) << QPointF(11, 6) << QPointF(11, 31) << QPointF(4, 29);
  p.setPen(QPen(QColor(0x5a, 0x3a, 0x1e), 1.2));
  p.setBrush(QColor(0xb0, 0x72, 0x38));
  p.drawPolygon(door);
  p.setBrush(QColor(0xf0, 0xd0, 0x40));
  p.setPen(Qt::NoPen);
  p.drawEllipse(QPointF(9.2, 18), 1.1, 1.1);

  // The arrow, pointing out to the right.
  QPainterPath arrow;
  arrow.moveTo(13, 14);
  arrow.lineTo(22, 14);
  arrow.lineTo(22, 9);
  arrow.lineTo(31, 17);
  arrow.lineTo(22, 25);
  arrow.lineTo(22, 20);
  arrow.lineTo(13, 20);
  arrow.closeSubpath();
  p.setPen(QPen(QColor(0x1e, 0x6b, 0x1e), 1));
  p.setBrush(QColor(0x3c, 0xb0, 0x3c));
  p.drawPath(arrow);
  return pixmap;
}

}  // namespace

QPixmap picture(std::string_view name) {
  if (record::same_letters(name, "Bt_Sair")) return exit_door();
  return {};
}

}  // namespace kav::ui::qt
