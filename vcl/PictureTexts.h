// Texts drawn onto the product pictures at run time. The pictures carry no
// words of their own (they are drawn once for every language); the windows
// that show them write the product name and a line in the user's language
// into the space each picture leaves for it.
#pragma once

#include <QPixmap>
#include <QRectF>
#include <QString>

// Where a picture's texts go, in the picture's own units (a picture of twice
// the pixel density is addressed in the units of the plain one).
struct TPictureTextArea {
  QRectF Title;  // the product name, bold, bottom-aligned
  QRectF Line;   // the line under it, top-aligned, word-wrapped
  int TitlePixels = 0;
  int LinePixels = 0;
};

// The text areas of the shipped pictures, matching their vector sources in
// res/art.
TPictureTextArea SplashTextArea();
TPictureTextArea HeaderTextArea();

// The picture with the title and the line drawn in. Texts too wide for
// their area are drawn smaller, never below a readable size, and elided
// only after that. An empty picture stays empty.
QPixmap WithPictureTexts(const QPixmap& picture, const TPictureTextArea& area, const QString& title,
                         const QString& line);

// The pixel size a text is drawn at in a width: the wanted size, made
// smaller (down to minimum) until the text fits on maxLines lines.
int FittingPixelSize(const QString& text, const QFont& font, int wanted, int minimum,
                     const QSizeF& room, int maxLines);
