// Builds the pictures shipped in "res" at build time.
//
//   resgen flags SOURCE_FOLDER OUTPUT_FOLDER
//     48 x 48 flags from a folder of ISO flag pictures (Debian's
//     iso-flags-png-320x240: "<code>.png" in lower case, 4:3). Each flag is
//     scaled to 48 x 36, centred on a transparent square and given a faint
//     outline so that white flags stand out on light skins. The output is
//     "<CODE>.PNG" with the upper-case code; "UN" (any country) comes from
//     the United Nations picture.
//
//   resgen images OUTPUT_FOLDER NAME...
//     The product pictures: "splash" (the start-up picture, shaped by its
//     transparency), "about" and "update" (the logo strips of the about and
//     update windows, as wide as those windows), "popup_bg" and "logo" (the
//     IP information popup's background and logo).
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cstdio>
#include <cstring>

namespace {

// ---- flags ----------------------------------------------------------------------

QImage Flag48(const QImage& source) {
  QImage out(48, 48, QImage::Format_ARGB32_Premultiplied);
  out.fill(Qt::transparent);
  const QRect area(0, 6, 48, 36);
  QPainter p(&out);
  p.setRenderHint(QPainter::SmoothPixmapTransform);
  p.drawImage(area, source.scaled(area.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
  p.setPen(QColor(0, 0, 0, 70));
  p.setBrush(Qt::NoBrush);
  p.drawRect(area.adjusted(0, 0, -1, -1));
  p.end();
  return out.convertToFormat(QImage::Format_ARGB32);
}

bool WriteFlag(const QString& from, const QString& to) {
  const QImage source(from);
  if (source.isNull()) {
    std::fprintf(stderr, "resgen: not a picture: %s\n", qPrintable(from));
    return false;
  }
  return Flag48(source).save(to, "PNG");
}

int Flags(const QDir& source, const QDir& output) {
  if (!source.exists()) {
    std::fprintf(stderr, "resgen: no such folder: %s\n", qPrintable(source.path()));
    return 1;
  }
  int written = 0, failed = 0;
  for (const QString& name : source.entryList({"*.png"}, QDir::Files, QDir::Name)) {
    const QString base = name.left(name.size() - 4);
    // Two-letter ISO codes only; the other pictures are regions and symbols.
    if (base.size() != 2 || !base[0].isLetter() || !base[1].isLetter()) continue;
    (WriteFlag(source.filePath(name), output.filePath(base.toUpper() + ".PNG")) ? written
                                                                                : failed)++;
  }
  (WriteFlag(source.filePath("_united_nations.png"), output.filePath("UN.PNG")) ? written
                                                                                : failed)++;
  std::printf("resgen: %d flags written to %s\n", written, qPrintable(output.path()));
  return failed == 0 && written > 1 ? 0 : 1;
}

// ---- product pictures -------------------------------------------------------------

const QColor kDeep(18, 42, 74), kBlue(34, 92, 156), kLight(120, 186, 236);

// The product's sign: a shield with a veiled globe, drawn into r.
void DrawShield(QPainter& p, const QRectF& r) {
  const double w = r.width(), h = r.height();
  QPainterPath shield;
  shield.moveTo(r.left() + w * 0.5, r.top());
  shield.cubicTo(r.left() + w * 0.72, r.top() + h * 0.10, r.left() + w * 0.9, r.top() + h * 0.1,
                 r.right(), r.top() + h * 0.12);
  shield.cubicTo(r.right(), r.top() + h * 0.62, r.left() + w * 0.78, r.top() + h * 0.86,
                 r.left() + w * 0.5, r.bottom());
  shield.cubicTo(r.left() + w * 0.22, r.top() + h * 0.86, r.left(), r.top() + h * 0.62, r.left(),
                 r.top() + h * 0.12);
  shield.cubicTo(r.left() + w * 0.1, r.top() + h * 0.1, r.left() + w * 0.28, r.top() + h * 0.10,
                 r.left() + w * 0.5, r.top());
  QLinearGradient fill(r.topLeft(), r.bottomRight());
  fill.setColorAt(0, kLight);
  fill.setColorAt(1, kBlue);
  p.setPen(QPen(QColor(255, 255, 255, 220), qMax(1.0, w * 0.04)));
  p.setBrush(fill);
  p.drawPath(shield);
  // The globe with two meridians and the equator.
  const QPointF c(r.left() + w * 0.5, r.top() + h * 0.45);
  const double g = w * 0.26;
  p.setBrush(QColor(255, 255, 255, 60));
  p.setPen(QPen(QColor(255, 255, 255, 230), qMax(1.0, w * 0.035)));
  p.drawEllipse(c, g, g);
  p.setBrush(Qt::NoBrush);
  p.drawEllipse(c, g * 0.45, g);
  p.drawLine(QPointF(c.x() - g, c.y()), QPointF(c.x() + g, c.y()));
  // The veil: a band across the lower half.
  QPainterPath veil;
  veil.moveTo(c.x() - g * 1.25, c.y() + g * 0.35);
  veil.quadTo(c.x(), c.y() + g * 0.95, c.x() + g * 1.25, c.y() + g * 0.35);
  veil.lineTo(c.x() + g * 1.25, c.y() + g * 0.75);
  veil.quadTo(c.x(), c.y() + g * 1.35, c.x() - g * 1.25, c.y() + g * 0.75);
  veil.closeSubpath();
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(12, 30, 56, 200));
  p.drawPath(veil);
}

void DrawBackground(QPainter& p, const QRectF& r) {
  QLinearGradient bg(r.topLeft(), r.bottomLeft());
  bg.setColorAt(0, kBlue);
  bg.setColorAt(1, kDeep);
  p.fillRect(r, bg);
  // A faint grid of meridians, as on a map.
  p.setPen(QPen(QColor(255, 255, 255, 22), 1));
  for (double x = r.left() + 12; x < r.right(); x += 24)
    p.drawLine(QPointF(x, r.top()), QPointF(x, r.bottom()));
  for (double y = r.top() + 12; y < r.bottom(); y += 24)
    p.drawLine(QPointF(r.left(), y), QPointF(r.right(), y));
}

void DrawTitle(QPainter& p, const QRectF& r, const QString& title, const QString& line,
               int titleSize, int lineSize) {
  QFont f("DejaVu Sans");
  f.setBold(true);
  f.setPixelSize(titleSize);
  p.setFont(f);
  p.setPen(Qt::white);
  const QRectF titleRect(r.left(), r.top(), r.width(), r.height() * 0.58);
  p.drawText(titleRect, Qt::AlignLeft | Qt::AlignBottom, title);
  f.setBold(false);
  f.setPixelSize(lineSize);
  p.setFont(f);
  p.setPen(QColor(214, 232, 248));
  p.drawText(QRectF(r.left(), r.top() + r.height() * 0.6, r.width(), r.height() * 0.4),
             Qt::AlignLeft | Qt::AlignTop, line);
}

QImage Splash() {
  QImage img(420, 240, QImage::Format_ARGB32_Premultiplied);
  img.fill(Qt::transparent);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  QPainterPath card;
  card.addRoundedRect(QRectF(0.5, 0.5, 419, 239), 18, 18);
  p.setClipPath(card);
  DrawBackground(p, QRectF(0, 0, 420, 240));
  QRadialGradient glow(QPointF(110, 110), 140);
  glow.setColorAt(0, QColor(120, 186, 236, 90));
  glow.setColorAt(1, QColor(120, 186, 236, 0));
  p.fillRect(QRectF(0, 0, 420, 240), glow);
  p.setClipping(false);
  p.setPen(QPen(QColor(255, 255, 255, 120), 1.5));
  p.setBrush(Qt::NoBrush);
  p.drawPath(card);
  DrawShield(p, QRectF(40, 46, 120, 140));
  DrawTitle(p, QRectF(180, 60, 230, 110), "Veilgate", "Browse without your own IP", 40, 15);
  p.end();
  return img.convertToFormat(QImage::Format_ARGB32);
}

QImage Strip(const QString& line) {
  QImage img(373, 65, QImage::Format_ARGB32_Premultiplied);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  DrawBackground(p, QRectF(0, 0, 373, 65));
  DrawShield(p, QRectF(14, 7, 44, 51));
  DrawTitle(p, QRectF(70, 4, 295, 57), "Veilgate", line, 24, 12);
  p.end();
  return img.convertToFormat(QImage::Format_ARGB32);
}

// The popup's background: a calm map-blue field on which the two cards sit.
QImage PopupBackground() {
  QImage img(534, 180, QImage::Format_ARGB32_Premultiplied);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient bg(0, 0, 0, 180);
  bg.setColorAt(0, QColor(232, 241, 250));
  bg.setColorAt(1, QColor(196, 218, 240));
  p.fillRect(img.rect(), bg);
  p.setPen(QPen(QColor(255, 255, 255, 150), 1));
  for (int x = 9; x < 534; x += 26) p.drawLine(x, 0, x, 180);
  for (int y = 9; y < 180; y += 26) p.drawLine(0, y, 534, y);
  QRadialGradient glow(QPointF(267, 60), 260);
  glow.setColorAt(0, QColor(255, 255, 255, 120));
  glow.setColorAt(1, QColor(255, 255, 255, 0));
  p.fillRect(img.rect(), glow);
  p.end();
  return img.convertToFormat(QImage::Format_ARGB32);
}

// The product logo on a transparent ground (the popup's corner).
QImage Logo() {
  QImage img(132, 36, QImage::Format_ARGB32_Premultiplied);
  img.fill(Qt::transparent);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  DrawShield(p, QRectF(2, 2, 28, 32));
  QFont f("DejaVu Sans");
  f.setBold(true);
  f.setPixelSize(20);
  p.setFont(f);
  p.setPen(kDeep);
  p.drawText(QRectF(36, 0, 96, 36), Qt::AlignLeft | Qt::AlignVCenter, "Veilgate");
  p.end();
  return img.convertToFormat(QImage::Format_ARGB32);
}

int Images(const QDir& output, int count, char** names) {
  int failed = 0;
  for (int i = 0; i < count; ++i) {
    const QString name = QString::fromLocal8Bit(names[i]);
    QImage img;
    if (name == "splash")
      img = Splash();
    else if (name == "about")
      img = Strip("Hide your IP address while you browse");
    else if (name == "update")
      img = Strip("Software update");
    else if (name == "popup_bg")
      img = PopupBackground();
    else if (name == "logo")
      img = Logo();
    if (img.isNull() || !img.save(output.filePath(name + ".png"), "PNG")) {
      std::fprintf(stderr, "resgen: cannot make picture %s\n", qPrintable(name));
      ++failed;
    }
  }
  return failed ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 4 && std::strcmp(argv[1], "flags") == 0) {
    const QDir output(QString::fromLocal8Bit(argv[3]));
    if (!QDir().mkpath(output.path())) return 1;
    return Flags(QDir(QString::fromLocal8Bit(argv[2])), output);
  }
  if (argc >= 3 && std::strcmp(argv[1], "images") == 0) {
    // Text needs fonts, which need the application object; no display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QDir output(QString::fromLocal8Bit(argv[2]));
    if (!QDir().mkpath(output.path())) return 1;
    return Images(output, argc - 3, argv + 3);
  }
  std::fprintf(stderr,
               "usage: resgen flags SOURCE_FOLDER OUTPUT_FOLDER\n"
               "       resgen images OUTPUT_FOLDER NAME...\n");
  return 2;
}
