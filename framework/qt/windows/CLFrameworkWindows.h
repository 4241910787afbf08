// The framework windows the engine opens: the update window and the about
// window. Their factories live here (the framework's own windows are
// installed from the start; tests may replace them); the engine decides
// when to open them and with which arguments. Without a factory the engine
// opens nothing.
#pragma once

#include <QWidget>

#include <functional>

class TForm;

class ICLUpdateWindow {
 public:
  virtual ~ICLUpdateWindow() = default;
  // Starts one update check in the given mode (modal, showing "connecting",
  // evaluating the version result, compact progress, auto-close). With
  // AShowModal it returns when the window has closed.
  virtual void StartUpdate(bool AShowModal, bool AShowConnecting, bool ADoUpdate, bool AProcess,
                           bool AAutoClose) = 0;
};

class ICLAboutWindow {
 public:
  virtual ~ICLAboutWindow() = default;
  virtual bool Showing() const = 0;
  // Embeds the window in a host window at 0,0.
  virtual void SetParentWindow(WId parent) = 0;
  virtual int ShowModal() = 0;
};

struct TCLFrameworkWindows {
  // Each creates a new window owned by AOwner (the engine's window).
  std::function<ICLUpdateWindow*(TForm* AOwner)> CreateUpdateWindow;
  std::function<ICLAboutWindow*(TForm* AOwner)> CreateAboutWindow;
};

TCLFrameworkWindows& CLFrameworkWindows();
// The framework's own update and about windows.
TCLFrameworkWindows CLDefaultFrameworkWindows();
