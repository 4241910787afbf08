#include "vcl/WindowSystem.h"

#include <QGuiApplication>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QWidget>
#include <QWindow>

#if !defined(_WIN32)
#include <dlfcn.h>
#endif

#include <cstddef>

bool WaylandSession() {
  return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) &&
         QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

std::function<bool()>& SystemTrayProbe() {
  static std::function<bool()> probe = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
  return probe;
}

bool SystemTrayAvailable() { return SystemTrayProbe() && SystemTrayProbe()(); }

namespace {

// QtWaylandClient::QWaylandWindow::setXdgActivationToken(const QString&),
// exported by Qt's Wayland client library: the token for the window's next
// activation request. Not public API, so it is looked up when needed and
// the program does without it where it is missing.
using TSetToken = void (*)(void* self, const QString& token);
TSetToken SetTokenCall() {
#if defined(_WIN32)
  return nullptr;
#else
  // The plugin loads the library privately: it is found by its name, and
  // only when it is loaded already.
  static const TSetToken call = [] {
    void* library = dlopen("libQt6WaylandClient.so.6", RTLD_LAZY | RTLD_NOLOAD);
    if (!library) return TSetToken(nullptr);
    auto found = reinterpret_cast<TSetToken>(
        dlsym(library, "_ZN15QtWaylandClient14QWaylandWindow21setXdgActivationTokenERK7QString"));
    dlclose(library);  // still loaded by the plugin
    return found;
  }();
  return call;
#endif
}

#if !defined(_WIN32)
// The whole object of a polymorphic object seen through one of its bases:
// the C++ ABI of this platform stores the distance in front of the virtual
// table. The Wayland plugin's window is a QObject first and a platform
// window second; the call above wants the whole object.
void* WholeObject(void* base) {
  const auto* vtable = *static_cast<const std::ptrdiff_t* const*>(base);
  return static_cast<char*>(base) + vtable[-2];
}
#endif

}  // namespace

bool ActivateWithToken(QWidget* w, const std::string& token) {
  if (!w) return false;
  bool handed = false;
  QWindow* window = w->window()->windowHandle();
  const TSetToken call = SetTokenCall();
#if !defined(_WIN32)
  if (window && window->handle() && call && !token.empty() && WaylandSession()) {
    call(WholeObject(window->handle()), QString::fromStdString(token));
    handed = true;
  }
#else
  (void)window;
  (void)call;
#endif
  w->window()->activateWindow();
  return handed;
}

void PopupMenuOver(QMenu* menu, QWidget* owner, const QPoint& at) {
  if (!menu) return;
  QWindow* parent = owner && owner->window() ? owner->window()->windowHandle() : nullptr;
  if (parent) {
    menu->winId();  // the menu's window, to name its parent
    if (QWindow* own = menu->windowHandle()) own->setTransientParent(parent);
  }
  menu->popup(at);
}
