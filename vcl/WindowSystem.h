// What the window system of this session lets a program do with its
// windows. A Wayland compositor decides placement, stacking and activation
// itself: a client cannot move its windows, keep one above the others or
// take the focus without a token from the compositor, and it knows no
// global screen coordinates. Windows ask here before relying on those.
#pragma once

#include <functional>
#include <string>

class QMenu;
class QPoint;
class QWidget;

// True when the program runs as a Wayland client (Qt's "wayland..." platform
// plugins).
bool WaylandSession();

// Whether the desktop has a system tray. The session is asked each time, so
// a tray that appears later (an extension turned on, a panel restarted) is
// used from then on. Tests replace the probe to act out either desktop.
bool SystemTrayAvailable();
std::function<bool()>& SystemTrayProbe();

// Activates the widget's window with an activation token that the
// compositor handed to another process (a second start of the program):
// under Wayland a window takes the focus only with such a token. The token
// goes to Qt's Wayland plugin for the window's next activation request,
// which follows. False when the token could not be handed over (not a
// Wayland session, a plugin without the call); the window is then asked to
// activate all the same.
bool ActivateWithToken(QWidget* w, const std::string& token);

// Opens a menu at a point given in the owner's global coordinates, as a
// popup of the owner's window: a Wayland compositor places a popup only
// relative to its parent window, so a menu without one opens at a wrong
// place there.
void PopupMenuOver(QMenu* menu, QWidget* owner, const QPoint& at);
