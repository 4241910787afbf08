// The font every window of the application is laid out for: the main
// window's and its dialogs' controls are placed at pixel positions measured
// in it, so a window in another font would clip or crowd its texts.
#pragma once

#include <QFont>

class QWidget;

// Tahoma at its usual 8 points (11 pixels); where it is missing, a narrower
// cut of the default face keeps the layout.
QFont DesignFont();

// A skin's style sheet does not hand the window's font down to the
// controls: each control below root gets it (keeping its own weight),
// except skip and what lies inside it.
void ApplyDesignFont(QWidget* root, const QWidget* skip = nullptr);
