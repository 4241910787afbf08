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
//   resgen svg OUTPUT_FOLDER SOURCE.svg...
//     Pictures drawn from vector sources, each at 1x ("<name>.png") and 2x
//     ("<name>@2x.png"): the product pictures of res/art (the splash, the
//     about and update windows' logo strips, the popup's background and
//     logo) and the skins' own small pictures (spin-box arrows, ticks).
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

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

// ---- pictures from vector sources ---------------------------------------------

// Renders an SVG picture at its own size times scale, on a transparent
// ground. Texts are not part of these pictures: the program draws them in
// the user's language.
QImage Render(QSvgRenderer& svg, int scale) {
  const QSize size = svg.defaultSize() * scale;
  QImage img(size, QImage::Format_ARGB32_Premultiplied);
  img.fill(Qt::transparent);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  svg.render(&p, QRectF(QPointF(0, 0), QSizeF(size)));
  p.end();
  return img.convertToFormat(QImage::Format_ARGB32);
}

// "<name>.svg" becomes "<name>.png" at its own size and "<name>@2x.png" at
// twice that, the variant the program takes on screens of twice the pixel
// density.
int Svg(const QDir& output, int count, char** sources) {
  int failed = 0;
  for (int i = 0; i < count; ++i) {
    const QString source = QString::fromLocal8Bit(sources[i]);
    QSvgRenderer svg(source);
    const QString base = QFileInfo(source).completeBaseName();
    if (!svg.isValid() || svg.defaultSize().isEmpty()) {
      std::fprintf(stderr, "resgen: not a picture: %s\n", qPrintable(source));
      ++failed;
      continue;
    }
    for (int scale : {1, 2}) {
      const QString name = base + (scale == 1 ? QString() : QString("@%1x").arg(scale)) + ".png";
      if (!Render(svg, scale).save(output.filePath(name), "PNG")) {
        std::fprintf(stderr, "resgen: cannot write %s\n", qPrintable(name));
        ++failed;
      }
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
  if (argc >= 3 && std::strcmp(argv[1], "svg") == 0) {
    // Text needs fonts, which need the application object; no display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QDir output(QString::fromLocal8Bit(argv[2]));
    if (!QDir().mkpath(output.path())) return 1;
    return Svg(output, argc - 3, argv + 3);
  }
  std::fprintf(stderr,
               "usage: resgen flags SOURCE_FOLDER OUTPUT_FOLDER\n"
               "       resgen svg OUTPUT_FOLDER SOURCE.svg...\n");
  return 2;
}
