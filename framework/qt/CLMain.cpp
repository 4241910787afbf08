#include "framework/qt/CLMain.h"

#include <QApplication>
#include <QEventLoop>
#include <QGuiApplication>
#include <QThreadPool>
#include <QTimer>
#include <QWindow>

#include <cfenv>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "framework/CLConst.h"
#include "framework/CLSettings.h"
#include "framework/qt/CLQtDispatcher.h"
#include "net/CLDebugLog.h"
#include "net/CLUtils.h"
#include "platform/Instance.h"
#include "platform/System.h"
#include "vcl/WindowSystem.h"

bool& CLDebugMode() {
  static bool debug = false;
  return debug;
}
bool& CLTerminateRequested() {
  static bool terminate = false;
  return terminate;
}
bool& CLShowMainForm() {
  static bool show = true;
  return show;
}
QWidget*& CLSplashForm() {
  static QWidget* splash = nullptr;
  return splash;
}
std::function<QWidget*()>& CLSplashFactory() {
  static std::function<QWidget*()> factory;
  return factory;
}
std::function<void()>& CLPreloadHook() {
  static std::function<void()> hook;
  return hook;
}
void CLCloseSplash() {
  QWidget*& splash = CLSplashForm();
  if (!splash) return;
  QWidget* w = splash;
  splash = nullptr;
  w->close();
  delete w;
}

bool IsSwitch(const std::string& param, char letter) {
  if (param.size() != 2 || (param[0] != '-' && param[0] != '/')) return false;
  return LowerAscii(param[1]) == letter;
}

bool FindSwitch(const std::vector<std::string>& params, char letter) {
  for (const std::string& p : params)
    if (IsSwitch(p, letter)) return true;
  return false;
}

bool ForceForegroundWindow(QWidget* Wnd) {
  if (!Wnd) return false;
  if (Wnd->isMinimized()) Wnd->showNormal();
  Wnd->show();
  if (Wnd->isActiveWindow()) return true;
  Wnd->raise();
  Wnd->activateWindow();
  return Wnd->isActiveWindow();
}

void SetStayOnTop(QWidget* Wnd, bool OnTop) {
  if (!Wnd) return;
  const bool visible = Wnd->isVisible();
  Wnd->setWindowFlag(Qt::WindowStaysOnTopHint, OnTop);
  // Changing window flags hides a window; put it back as it was.
  if (visible) Wnd->show();
}

namespace {

const int kSendTimeoutMs = 5000;
const int kSplashExposeMs = 1000;

int64_t Send(const platform::InstanceWindow& w, const char* name) {
  return platform::SendInstanceMessage(w, platform::RegisterMessage(name), 0, 0, kSendTimeoutMs);
}

// The running main window of this installation: a window of the class that
// answers "CL GetAppID" with our own "App.ID".
bool FindAppWindow(const std::string& ClassName, platform::InstanceWindow& found) {
  const int32_t appId = GetCLSettings()->GetSettingInteger("App.ID");
  for (const platform::InstanceWindow& w : platform::FindInstanceWindows(ClassName)) {
    if (static_cast<int32_t>(Send(w, CLConst::WM_CL_GET_APPID)) == appId) {
      found = w;
      return true;
    }
  }
  return false;
}

void CloseApp(const std::string& ClassName) {
  platform::InstanceWindow w;
  if (FindAppWindow(ClassName, w)) Send(w, CLConst::WM_CL_CLOSE_APP);
}

// Where the platform can pull another process's window to the front it does
// so; where only the window's own process can (X11, Wayland), the window is
// asked to restore and activate itself.
bool ForceForegroundWindow(const platform::InstanceWindow& w) {
  if (platform::ForceInstanceForeground(w)) return true;
  return Send(w, CLConst::WM_CL_FORCE_FOREGROUND) == 1;
}

// Hands this process's activation token to the running window, when there
// is one and the window takes tokens (an older instance does not).
void SendActivationToken(const platform::InstanceWindow& w) {
  const char* token = std::getenv("XDG_ACTIVATION_TOKEN");
  if (!token || !*token) return;
  if (Send(w, CLConst::WM_CL_ACTIVATION_TOKEN) != 1) return;
  platform::SendCopyData(w, CLConst::ActivationTokenData, token, kSendTimeoutMs);
}

void BringAppToFront(const std::string& ClassName) {
  platform::InstanceWindow w;
  if (!FindAppWindow(ClassName, w)) return;
  if (Send(w, CLConst::WM_CL_IF_BUSY) == 1) return;  // still starting
  SendActivationToken(w);
  if (Send(w, CLConst::WM_CL_BRING_TO_FRONT) == 1) return;
  ForceForegroundWindow(w);
}

// Hands a parameter to the running instance as UTF-16 copy-data.
void SendAppParam(const std::string& ClassName, const std::string& Text) {
  platform::InstanceWindow w;
  if (!FindAppWindow(ClassName, w)) return;
  const std::u16string units = QString::fromStdString(Text).toStdU16String();
  std::string bytes;
  bytes.reserve(units.size() * 2);
  for (char16_t u : units) {
    bytes.push_back(static_cast<char>(u & 0xFF));
    bytes.push_back(static_cast<char>(u >> 8));
  }
  platform::SendCopyData(w, 0, bytes, kSendTimeoutMs);
}

// Waits for the splash's first exposure and notes its painting.
class TSplashExposeWait : public QObject {
 public:
  TSplashExposeWait(QWidget* splash, QEventLoop* loop) : FSplash(splash), FLoop(loop) {
    splash->installEventFilter(this);
  }
  // The native window exists once the splash is shown.
  void WatchWindow() {
    if (FSplash->windowHandle()) FSplash->windowHandle()->installEventFilter(this);
  }
  bool Painted() const { return FPainted; }

 protected:
  bool eventFilter(QObject* watched, QEvent* e) override {
    if (watched == FSplash && e->type() == QEvent::Paint) FPainted = true;
    // The painting comes with the handling of this event; the loop ends
    // once that is done.
    if (watched == FSplash->windowHandle() && e->type() == QEvent::Expose &&
        FSplash->windowHandle()->isExposed())
      FLoop->quit();
    return false;
  }

 private:
  QWidget* FSplash;
  QEventLoop* FLoop;
  bool FPainted = false;
};

// Shows the splash and lets the window system map and paint it before the
// main window is built: without turning the event loop here, the splash
// would be drawn only after the main window exists. The wait ends with the
// window's exposure, when it is painted; a window system that never
// exposes it (none at all, a hidden session) costs at most the limit.
void ShowSplashPainted(QWidget* splash) {
  QEventLoop loop;
  TSplashExposeWait wait(splash, &loop);
  splash->show();
  QWindow* window = splash->windowHandle();
  if (window && !window->isExposed()) {
    wait.WatchWindow();
    QTimer::singleShot(kSplashExposeMs, &loop, &QEventLoop::quit);
    loop.exec();
  }
  if (!wait.Painted()) splash->repaint();
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  QGuiApplication::sync();
}

bool CtrlAndShiftHeld() {
  if (platform::CtrlAndShiftDown()) return true;
  if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return false;
  const Qt::KeyboardModifiers mods = QGuiApplication::queryKeyboardModifiers();
  return (mods & Qt::ControlModifier) && (mods & Qt::ShiftModifier);
}

}  // namespace

void CLMainRun(int argc, char** argv, const TFormClass& InstanceClass, QWidget*& Reference,
               const std::function<bool()>& Check) {
  std::vector<std::string> params;
  for (int i = 1; i < argc; ++i) params.emplace_back(argv[i]);

  // Floating-point exceptions stay masked (the default of this platform's
  //    C runtime; made explicit because plug-ins may change it).
  std::feclearexcept(FE_ALL_EXCEPT);

  // The debug log stays off until the debug decision.
  CLDebugLog::SetActive(false);
  CLDebugLog::SetAutoStart(false);

  // "i" and "u": end before anything else runs.
  if (FindSwitch(params, 'i') || FindSwitch(params, 'u')) return;

  // "s": ask the running instance to close.
  if (FindSwitch(params, 's')) {
    CloseApp(InstanceClass.ClassName);
    return;
  }
  // "r": ask it to close, give it time, then start normally.
  if (FindSwitch(params, 'r')) {
    CloseApp(InstanceClass.ClassName);
    platform::SleepMs(2000);
  }

  // The application object exists from here on: the keyboard state of the
  // debug decision is read from the window system, which needs it.
  std::unique_ptr<QApplication> ownApp;
  if (!QCoreApplication::instance()) ownApp = std::make_unique<QApplication>(argc, argv);
  // Work on the application's worker threads ends before the application
  // object goes, on every way out of here: a task still using what the
  // object holds (the font database) would find it destroyed.
  struct TPoolWait {
    ~TPoolWait() {
      // The application object ends the pool with it once it has gone.
      if (QCoreApplication::instance()) QThreadPool::globalInstance()->waitForDone();
    }
  } poolWait;
  // Worker threads hand their results to the user-interface thread through it.
  auto dispatcher = std::make_unique<TCLQtDispatcher>();

  // Debug decision.
  TCLSettings* settings = GetCLSettings();
  const bool debug = FindSwitch(params, 'd') ||
                     ((settings->GetSettingBool("Debug.Enabled") || CtrlAndShiftHeld()) &&
                      !settings->GetSettingBool("Debug.Disabled"));
  CLDebugMode() = debug;
  CLDebugLog::SetActive(debug);
  CLDebugLog::SetAutoStart(debug);
  if (debug) CLDebugLog::Write("Enter Debug Mode...");

  // Autorun start only when autorun is permitted.
  if (FindSwitch(params, 'a') && !settings->GetSettingBool("App.Autorun")) return;

  // The caller's veto.
  if (Check && !Check()) return;

  // One instance per installation: hand over to the running one.
  if (!settings->GetSettingBool("App.Multiple")) {
    const std::string name =
        std::string(CLConst::MutexPrefix) + settings->GetSettingString("App.GUID");
    if (!CheckSingleInstance(name)) {
      BringAppToFront(InstanceClass.ClassName);
      if (!params.empty() && !params[0].empty() && params[0][0] != '-' && params[0][0] != '/')
        SendAppParam(InstanceClass.ClassName, params[0]);
      return;
    }
  }

  // What the first windows need is prepared on worker threads while they
  // are built (a start that hands over or ends before needs none of it).
  if (CLPreloadHook()) CLPreloadHook()();

  // The splash window shows before the main window exists.
  if (settings->GetSettingBool("App.Splash") && CLSplashFactory()) {
    CLSplashForm() = CLSplashFactory()();
    if (CLSplashForm()) ShowSplashPainted(CLSplashForm());
  }

  // The main window; its engine posts "CL InitPost" when loading ends.
  Reference = InstanceClass.Create();

  // Shown unless started hidden or the window asked not to be shown. A
  // start "in the tray" where the session has no tray starts minimised on
  // the task bar instead: a hidden window there could not be reached.
  if (Reference && CLShowMainForm()) {
    if (!FindSwitch(params, 'h'))
      Reference->show();
    else if (!SystemTrayAvailable())
      Reference->showMinimized();
  }
  // The start-up benchmarks measure the time to the first showing: with
  // VEILGATE_QUIT_WHEN_SHOWN set, the loop ends at its first turn after it.
  if (Reference && Reference->isVisible() && std::getenv("VEILGATE_QUIT_WHEN_SHOWN"))
    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
  // The splash has done its work once the main window is there: it goes
  // with the first turn of the message loop, whether or not the window
  // system ever moved the activation away from it.
  if (CLSplashForm()) QTimer::singleShot(0, [] { CLCloseSplash(); });

  // Message loop, unless termination was asked for while the windows
  // were being created (a modal box during start-up answers requests).
  if (!CLTerminateRequested()) QApplication::exec();

  // The windows belong to the application object and go before it. The
  // main window stores its last settings as it goes, so it goes before the
  // settings store: a store created after the release would count this run
  // a second time.
  if (ownApp) {
    delete Reference;
    Reference = nullptr;
  }
  // The settings store goes; a later access creates a fresh one.
  ReleaseCLSettings();
  if (ownApp) {
    dispatcher.reset();
    QThreadPool::globalInstance()->waitForDone();
    ownApp.reset();
  }
}
