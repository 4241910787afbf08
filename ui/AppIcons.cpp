#include "ui/AppIcons.h"

#include <QFile>
#include <QString>

namespace {
QIcon IconFromResources(const QString& name) {
  QIcon icon;
  for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
    const QString file = QStringLiteral(":/icons/%1-%2.png").arg(name).arg(size);
    if (QFile::exists(file)) icon.addFile(file, QSize(size, size));
  }
  return icon;
}
}  // namespace

QIcon AppIcon() {
  static const QIcon icon = IconFromResources(QStringLiteral("veilgate"));
  return icon;
}

QIcon TrayStateIcon(bool hiding) {
  if (hiding) return AppIcon();
  static const QIcon icon = IconFromResources(QStringLiteral("veilgate-direct"));
  return icon;
}
