#include "updater/list_icons.h"

#include <QFont>
#include <QPainter>

#include <array>

namespace updater {

namespace {

struct IconLook {
  QRgb colour;
  const char* mark;
};

// 1 archive, 2 group, 3 program, 4 help, 5 document, 6 sheet, 7 text, 8 file,
// 9 spare, 10 no address, 11-13 the vendor's own kinds.
constexpr std::array<IconLook, 13> kLooks = {{
    {0xFFB8860B, "Z"}, {0xFFE0B040, ""}, {0xFF2E7D32, "E"}, {0xFF6A1B9A, "?"}, {0xFF1565C0, "W"},
    {0xFF1B8E3A, "X"}, {0xFF607D8B, "T"}, {0xFF78909C, ""},  {0xFF9E9E9E, ""},  {0xFFC62828, "!"},
    {0xFF00838F, "S"}, {0xFFAD1457, "M"}, {0xFFEF6C00, "L"},
}};

QImage draw(int i) {
  const IconLook& look = kLooks[static_cast<size_t>(i - 1)];
  QImage image(16, 16, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  const QColor colour = QColor::fromRgba(look.colour);
  if (i == 2) {
    // A folder.
    p.setBrush(colour.darker(115));
    p.setPen(colour.darker(160));
    p.drawRoundedRect(QRectF(1.5, 2.5, 6, 3), 1, 1);
    p.setBrush(colour);
    p.drawRoundedRect(QRectF(1.5, 4.5, 13, 9), 1.5, 1.5);
    return image;
  }
  // A page with a folded corner and the kind's mark.
  QPolygonF page;
  page << QPointF(2.5, 0.5) << QPointF(10.5, 0.5) << QPointF(13.5, 3.5) << QPointF(13.5, 15.5) << QPointF(2.5, 15.5);
  p.setBrush(Qt::white);
  p.setPen(colour.darker(130));
  p.drawPolygon(page);
  p.setBrush(colour);
  p.setPen(Qt::NoPen);
  p.drawRect(QRectF(3, 6, 10, 9));
  if (*look.mark) {
    QFont font;
    font.setPixelSize(9);
    font.setBold(true);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRectF(3, 6, 10, 9), Qt::AlignCenter, QString::fromLatin1(look.mark));
  }
  return image;
}

}  // namespace

platform::Picture ListImage(int i) {
  static std::array<platform::Picture, 13> cache;
  if (i < 1 || i > 13) return {};
  auto& slot = cache[static_cast<size_t>(i - 1)];
  if (!slot) slot = std::make_shared<const QImage>(draw(i));
  return slot;
}

}  // namespace updater
