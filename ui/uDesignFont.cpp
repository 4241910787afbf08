#include "ui/uDesignFont.h"

#include <QFontDatabase>
#include <QWidget>

QFont DesignFont() {
  // The font database is asked once: listing the families loads every font
  // file's description.
  static const QFont design = [] {
    QFont f;
    if (QFontDatabase::families().contains("Tahoma", Qt::CaseInsensitive))
      f.setFamily("Tahoma");
    else
      f.setStretch(QFont::SemiCondensed);
    f.setPixelSize(11);
    return f;
  }();
  return design;
}

void ApplyDesignFont(QWidget* root, const QWidget* skip) {
  const QFont design = DesignFont();
  for (QWidget* w : root->findChildren<QWidget*>()) {
    if (skip && (w == skip || skip->isAncestorOf(w))) continue;
    QFont f = design;
    f.setBold(w->font().bold());
    w->setFont(f);
  }
}
