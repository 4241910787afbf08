#include "ui/AppIcons.h"

#include <QFile>
#include <QIconEngine>
#include <QPainter>
#include <QPixmap>
#include <QString>

#include <map>
#include <utility>
#include <vector>

#include "vcl/PicturePreload.h"

namespace {
constexpr int kRenderedSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};
// The window system's icon of every window (title bar, task bar) takes the
// sizes up to this one; larger uses scale it. Every size it holds is
// decoded and sent to the window system for every window at its creation,
// and the 128 and 256 pictures are three times all the others together.
constexpr int kWindowIconMaxSize = 64;

// The rendered pictures of one icon, each decoded only when a size is asked
// for. An icon made with QIcon::addFile decodes every file at once, though a
// start shows at most one or two sizes of each.
class TLazyPngIconEngine : public QIconEngine {
 public:
  explicit TLazyPngIconEngine(std::map<int, QString> files) : FFiles(std::move(files)) {}

  QIconEngine* clone() const override { return new TLazyPngIconEngine(*this); }
  QString key() const override { return QStringLiteral("TLazyPngIconEngine"); }
  bool isNull() override { return FFiles.empty(); }

  QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override {
    QList<QSize> sizes;
    for (const auto& f : FFiles) sizes.append(QSize(f.first, f.first));
    return sizes;
  }

  // The largest picture that fits, as QIcon does for its own pictures.
  QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override {
    const int side = Fitting(size);
    if (side == 0) return QSize();
    return QSize(side, side).scaled(size, Qt::KeepAspectRatio).boundedTo(QSize(side, side));
  }

  QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
    return DevicePixmap(size, mode, state);
  }

  // QIcon asks with the size in device pixels already.
  QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state, qreal) override {
    return DevicePixmap(size, mode, state);
  }

  void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override {
    const qreal scale = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
    const QPixmap p = DevicePixmap(rect.size() * scale, mode, state);
    if (!p.isNull()) painter->drawPixmap(rect, p);
  }

 private:
  QPixmap DevicePixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) {
    const int side = Fitting(size);
    if (side == 0) return QPixmap();
    // The decoded pictures go into an icon of Qt's own, which scales them
    // and draws the disabled and selected looks as the style wants them.
    if (!FDecoded.count(side)) {
      FDecoded[side] = true;
      QPixmap picture;
      if (LoadPicture(FFiles.at(side).toStdString(), picture)) FIcon.addPixmap(picture);
    }
    return FIcon.pixmap(size, 1.0, mode, state);
  }

  // The side of the smallest picture at least as large as asked, else the
  // largest there is (0 when there is none).
  int Fitting(const QSize& size) const {
    if (FFiles.empty()) return 0;
    const int want = qMax(size.width(), size.height());
    auto it = FFiles.lower_bound(want);
    return it != FFiles.end() ? it->first : FFiles.rbegin()->first;
  }

  std::map<int, QString> FFiles;
  std::map<int, bool> FDecoded;
  QIcon FIcon;
};

std::map<int, QString> RenderedFiles(const QString& name, int maxSize) {
  std::map<int, QString> files;
  for (int size : kRenderedSizes) {
    if (size > maxSize) break;
    const QString file = QStringLiteral(":/icons/%1-%2.png").arg(name).arg(size);
    if (QFile::exists(file)) files.emplace(size, file);
  }
  return files;
}

QIcon IconFromResources(const QString& name, int maxSize) {
  std::map<int, QString> files = RenderedFiles(name, maxSize);
  if (files.empty()) return QIcon();
  return QIcon(new TLazyPngIconEngine(std::move(files)));
}
}  // namespace

QIcon AppIcon() {
  static const QIcon icon = IconFromResources(QStringLiteral("veilgate"), 256);
  return icon;
}

QIcon AppWindowIcon() {
  static const QIcon icon = IconFromResources(QStringLiteral("veilgate"), kWindowIconMaxSize);
  return icon;
}

std::vector<std::string> AppWindowIconFiles() {
  std::vector<std::string> files;
  for (const auto& f : RenderedFiles(QStringLiteral("veilgate"), kWindowIconMaxSize))
    files.push_back(f.second.toStdString());
  return files;
}

QIcon TrayStateIcon(bool hiding) {
  if (hiding) return AppIcon();
  static const QIcon icon = IconFromResources(QStringLiteral("veilgate-direct"), 256);
  return icon;
}

QPixmap FlagPicture(const std::string& file) {
  QPixmap picture;
  if (!picture.load(QString::fromStdString(file))) return QPixmap();
  QPixmap canvas(48, 48);
  canvas.fill(Qt::transparent);
  QPainter painter(&canvas);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.drawPixmap(QRect(0, 0, 48, 48), picture);
  painter.end();
  return canvas;
}
