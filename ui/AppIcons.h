// The program's own pictures, compiled in from the PNGs the build renders
// from dist/*.svg: the mark (windows, desktop entry, and the tray while
// hiding) and the tray picture while the connection goes direct.
#pragma once

#include <QIcon>
#include <QPixmap>

#include <string>
#include <vector>

// Identifier of the desktop entry and the icon's name in the icon theme.
inline constexpr const char* kAppDesktopId = "org.veilgate.Veilgate";

// The mark in every rendered size; a build without the rendered pictures
// gives an empty icon (the style's stock icon stands in for it then).
QIcon AppIcon();
// The mark as every window's icon for the window system: the sizes a title
// bar or task bar shows, which larger uses scale.
QIcon AppWindowIcon();
// The picture files of the window icon, for decoding ahead.
std::vector<std::string> AppWindowIconFiles();
// The tray picture of the state: the mark while hiding, the open grey gate
// while the connection goes direct.
QIcon TrayStateIcon(bool hiding);

// A country's flag from its picture file, at the flag boxes' 48x48 on a
// transparent ground (the box's skin colour shows around it); null when the
// file is not a picture.
QPixmap FlagPicture(const std::string& file);
