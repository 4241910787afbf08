#include "vcl/PictureTexts.h"

#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>

namespace {

// Texts below this size are not drawn smaller: a user must be able to read
// them at scale 1.
constexpr int kMinimumPixels = 9;

}  // namespace

TPictureTextArea SplashTextArea() {
  return {QRectF(180, 60, 230, 64), QRectF(180, 126, 230, 44), 40, 15};
}

TPictureTextArea HeaderTextArea() {
  return {QRectF(70, 4, 295, 33), QRectF(70, 39, 295, 24), 24, 12};
}

int FittingPixelSize(const QString& text, const QFont& font, int wanted, int minimum,
                     const QSizeF& room, int maxLines) {
  QFont f = font;
  for (int px = wanted; px > minimum; --px) {
    f.setPixelSize(px);
    const QFontMetricsF fm(f);
    const QRectF need =
        fm.boundingRect(QRectF(QPointF(0, 0), QSizeF(room.width(), 1e6)), Qt::TextWordWrap, text);
    const bool linesFit = need.height() <= fm.lineSpacing() * maxLines + 0.5;
    if (need.width() <= room.width() && need.height() <= room.height() && linesFit) return px;
  }
  return minimum;
}

QPixmap WithPictureTexts(const QPixmap& picture, const TPictureTextArea& area, const QString& title,
                         const QString& line) {
  if (picture.isNull()) return picture;
  QPixmap out = picture;
  QPainter p(&out);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  QFont f("DejaVu Sans");
  if (!title.isEmpty()) {
    f.setBold(true);
    f.setPixelSize(
        FittingPixelSize(title, f, area.TitlePixels, kMinimumPixels, area.Title.size(), 1));
    p.setFont(f);
    p.setPen(Qt::white);
    const QString shown = QFontMetricsF(f).elidedText(title, Qt::ElideRight, area.Title.width());
    p.drawText(area.Title, Qt::AlignLeft | Qt::AlignBottom, shown);
  }
  if (!line.isEmpty()) {
    f.setBold(false);
    const int lines = std::max(1, static_cast<int>(area.Line.height() / (area.LinePixels * 1.2)));
    f.setPixelSize(
        FittingPixelSize(line, f, area.LinePixels, kMinimumPixels, area.Line.size(), lines));
    p.setFont(f);
    p.setPen(QColor(214, 232, 248));
    p.drawText(area.Line, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, line);
  }
  p.end();
  return out;
}
