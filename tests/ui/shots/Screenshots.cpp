// Screenshots of every window, for looking rather than asserting; not part
// of the test suite. scripts/screenshots runs this program under Xvfb once
// per skin, language and scale; the environment names them:
//   VG_SHOT_DIR    where the pictures go
//   VG_SHOT_SKIN   skin name ("Default", "Midnight", ...)
//   VG_SHOT_LANG   language name ("English", "Deutsch")
//   VG_SHOT_WAYLAND "1": under a headless Weston instead (Wayland session)
// Every picture is the screen area of the windows it shows (no window
// manager draws frames under Xvfb: skinned windows draw their own). Under
// Weston a picture is the whole output as the compositor shows it (a
// Wayland client knows no positions on the screen), taken with weston's
// own screenshooter.
#include <gtest/gtest.h>

#include <QApplication>
#include <QGuiApplication>
#include <QMenu>
#include <QScreen>
#include <QWindow>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "MainWindowSupport.h"
#include "WestonSession.h"
#include "framework/qt/CLSplashForm.h"
#include "framework/qt/windows/CLAboutForm.h"
#include "framework/qt/windows/CLUpdateForm.h"
#include "proxy/ServiceProcess.h"
#include "support/NetTestServers.h"
#include "ui/ServiceStatus.h"
#include "proxy/uProxyManager.h"
#include "ui/uChooseIPCountry.h"
#include "ui/uFlashForm.h"
#include "ui/uIPsTesting.h"
#include "ui/uSettings.h"
#include "vcl/ActnList.h"
#include "vcl/WebHosts.h"
#include "vcl/WindowSystem.h"
#include "vcl/spMessage.h"

using namespace mainwin;
namespace fs = std::filesystem;

namespace {

std::string Env(const char* name, const char* fallback) {
  const char* v = std::getenv(name);
  return v && *v ? v : fallback;
}

class Screenshots : public MainWindowTest {
 protected:
  void SetUp() override {
    // The compositor before the application object, which connects to it.
    if (OnWayland()) testsupport::WestonSession::Get();
    MainWindowTest::SetUp();
    if (OnWayland() && !testsupport::WestonSession::Get().Running())
      GTEST_SKIP() << testsupport::WestonSession::Get().Reason();
    FShotDir = fs::absolute(Env("VG_SHOT_DIR", "screenshots")).string();
    FSkin = Env("VG_SHOT_SKIN", "Default");
    FLanguage = Env("VG_SHOT_LANG", "English");
    fs::create_directories(FShotDir);
    // The shipped skins, pictures and flags next to the sandbox's executable.
    fs::copy(VG_BINARY_DIR "/skins", sb().Path("app/skins"), fs::copy_options::recursive);
    fs::copy(VG_BINARY_DIR "/res", sb().Path("app/res"),
             fs::copy_options::recursive | fs::copy_options::overwrite_existing);
  }
  void TearDown() override {
    FService.reset();
    MainWindowTest::TearDown();
  }

  // The screen area covered by the windows, after the event loop has run a
  // while (animations, pictures fetched, style sheets applied).
  static bool OnWayland() { return Env("VG_SHOT_WAYLAND", "") == std::string("1"); }

  void Shot(const std::string& name, std::vector<QWidget*> windows, int settleMs = 700) {
    ProcessUntil([] { return false; }, settleMs);
    if (WaylandSession()) return WestonShot(name, windows);
    QRect area;
    for (QWidget* w : windows)
      if (w && w->isVisible()) area = area.united(w->frameGeometry());
    ASSERT_FALSE(area.isEmpty()) << name;
    QScreen* screen = QGuiApplication::primaryScreen();
    const QPixmap shot = screen->grabWindow(0, area.x(), area.y(), area.width(), area.height());
    Save(name, shot.toImage());
  }
  // The compositor's whole output; the first window's own picture when the
  // screenshooter is missing or fails.
  void WestonShot(const std::string& name, const std::vector<QWidget*>& windows) {
    const std::string dir = sb().Path("weston-shots");
    fs::remove_all(dir);
    fs::create_directories(dir);
    const std::string shooter = testsupport::WestonSession::Screenshooter();
    if (!shooter.empty()) {
      testsupport::ChildProcess child;
      const std::string display = testsupport::WestonSession::Get().Display();
      child.Start({"/bin/sh", "-c", "cd \"$0\" && exec \"$1\"", dir, shooter}, "",
                  {{"WAYLAND_DISPLAY", display.c_str()}});
      // The loop keeps running meanwhile: the windows go on drawing.
      ProcessUntil([&] { return !child.Running(); }, 10000);
      for (const auto& e : fs::directory_iterator(dir)) {
        QImage image;
        if (e.path().extension() == ".png" && image.load(QString::fromStdString(e.path().string())))
          return Save(name, image);
      }
    }
    for (QWidget* w : windows)
      if (w && w->isVisible()) return Save(name, w->grab().toImage());
    FAIL() << "nothing to take a picture of: " << name;
  }
  // A widget's own picture (a window placed inside another).
  void Grab(const std::string& name, QWidget* w, int settleMs = 700) {
    ProcessUntil([] { return false; }, settleMs);
    Save(name, w->grab().toImage());
  }
  void Save(const std::string& name, const QImage& image) {
    const std::string file = FShotDir + "/" + name + "-" + FSkin + "-" + FLanguage + ".png";
    // scripts/screenshots turns the pictures into palette pictures afterwards.
    ASSERT_TRUE(
        image.convertToFormat(QImage::Format_RGB888).save(QString::fromStdString(file), "PNG", 9))
        << file;
    std::printf("%s\n", file.c_str());
  }

  TfrmMain& Shown() {
    // The service's local-information answer, so that the status line
    // reads as with a service that answers.
    const std::string info =
        "IP=93.184.216.34\r\nCOUNTRY_SHORT=US\r\nCOUNTRY_LONG=United States\r\nCITY=Norwell\r\n";
    FInfoServer = std::make_unique<TWebServer>([info](const std::string& path) {
      return path == "/getinfo" ? TAnswer{200, info} : TAnswer{404, ""};
    });
    Const(
        {"URL.Service=" + FInfoServer->Base(), "Update.Times=1", "TARGET_COUNTRY=DE",
         "Skin=" + FSkin, "App.Copyright=Copyright (C) 2026",
         "NORMAL_IPS=198.51.100.23:8080|Germany|DE|9|51;203.0.113.40:3128|United States|US|-97|38;"
         "192.0.2.2:3128|France|FR|2.35|48.85",
         "SUPER_IPS=192.0.2.9:80|Japan|JP|139.7|35.7"});
    // The user's choices, as the engine stores them (they win over const.dat).
    GetCLSettings()->SetSettingString("Skin", FSkin);
    GetCLSettings()->SetSettingString("Language", FLanguage);
    TfrmMain& w = Window();
    // Real message boxes and framework windows, as the user sees them.
    w.Engine()->SetMessageBoxes(nullptr);
    CLFrameworkWindows() = CLDefaultFrameworkWindows();
    w.move(60, 40);
    w.show();
    w.activateWindow();
    w.tmrInitTimer(w.tmrInit);
    w.FProxyManager->InfoGot(info);
    ProcessUntil([this] { return FInfoServer->Count("/getinfo") > 0; }, 5000);
    Advance(2);
    return w;
  }

  // Runs open (which opens a modal window of class T) and calls look with
  // that window from inside its modal loop; whatever look leaves open is
  // closed, so the run goes on.
  template <class T>
  static void Modal(const std::function<void()>& open, const std::function<void(T*)>& look) {
    auto* timer = new QTimer;
    const auto started = std::chrono::steady_clock::now();
    QObject::connect(timer, &QTimer::timeout, [timer, look, started] {
      T* found = nullptr;
      for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* t = dynamic_cast<T*>(w); t && t->isVisible() && !dynamic_cast<TfrmMain*>(w))
          found = t;
      if (!found && std::chrono::steady_clock::now() - started < std::chrono::minutes(2)) return;
      timer->stop();
      timer->deleteLater();
      if (!found) return;
      look(found);
      if (found->isVisible() && found->ModalResult() == mrNone) found->SetModalResult(mrCancel);
    });
    timer->start(20);
    open();
  }

  std::string FShotDir, FSkin, FLanguage;
  std::unique_ptr<proxytest::TServiceProcess> FService;
  std::unique_ptr<TWebServer> FInfoServer;
};

TEST_F(Screenshots, MainWindowPopupAndTrayMenu) {
  TfrmMain& w = Shown();
  Shot("main-not-hiding", {&w}, 1500);
  Grab("popup-not-hiding", frmFlashForm);
  w.actVeilIP->Execute();
  ASSERT_TRUE(w.IsHiding());
  Shot("main-hiding", {&w}, 1500);
  Grab("popup-hiding", frmFlashForm);
  // Xvfb has no system tray: the tray icon's menu is opened beside the
  // window, where the tray would show it.
  QMenu* menu = w.pmTray->QtMenu();
  menu->popup(QPoint(w.frameGeometry().right() - 150, w.frameGeometry().top() + 60));
  Shot("tray-menu", {&w, menu});
  menu->close();
  // Without a tray (Xvfb and Weston have none) the system menu carries
  // Exit; it opens below the caption bar's menu button.
  if (!TspTrayIcon::Available()) {
    w.spDynamicSkinForm->ExecuteCommand(cmSysMenu);
    QMenu* sys = w.pmSys->QtMenu();
    ProcessUntil([sys] { return sys->isVisible(); }, 3000);
    Shot("system-menu-no-tray", {&w, sys});
    sys->close();
  }
  // Any country: the country display says so in the window's language.
  Advance(2);  // past the one-second guard
  w.actStopHide->Execute();
  w.FProxyManager->FTargetCountry = "UN";
  w.ResetCountryDisp();
  Shot("main-auto-selected", {&w}, 1500);
}

TEST_F(Screenshots, Dialogs) {
  TfrmMain& w = Shown();
  Modal<TfrmSettings>([&] { ShowSettings(&w); },
                      [&](TfrmSettings* d) {
                        Shot("settings-general", {d});
                        d->pcSetting->SetActivePage(d->tsBrowser);
                        Shot("settings-browser", {d});
                      });
  Modal<TfrmChooseIPCountry>(
      [&] { ShowChooseIPCountry(&w, w.FProxyManager.get()); },
      [&](TfrmChooseIPCountry* d) {
        // The page engine loads the map; the gauge goes once it has finished.
        ProcessUntil([d] { return d->wbMap->ViewCreated() && !d->wbMap->Busy(); }, 60000);
        Shot("country", {d}, 1500);
      });
  std::unique_ptr<TfrmTesting> testing(new TfrmTesting(&w));
  testing->AfterConstruction();
  testing->show();
  Shot("testing", {testing.get()}, 1500);
  testing.reset();
  // The message box with its "do not show again" box.
  Modal<TForm>(
      [&] {
        w.Engine()->ShowMessageEx("MSGBox.CloseNotify", {}, 1, mtInformation, mbOK | mbCancel);
      },
      [&](TForm* d) { Shot("messagebox", {d}); });
  // What the close button says where there is no tray.
  Modal<TForm>(
      [&] { w.Engine()->ShowMessageEx("MSGBox.CloseNotifyNoTray", {}, 11, mtInformation, mbOK); },
      [&](TForm* d) { Shot("messagebox-no-tray", {d}); });
  // A box with the OK button alone.
  Modal<TForm>([&] { w.Engine()->ShowMessageEx("MSGBox.NOPROXY", {}, 0, mtInformation, mbOK); },
               [&](TForm* d) { Shot("messagebox-ok", {d}); });
}

// The service does not answer: the status line names it and the reason; the
// settings dialog's Test says the same of the address typed in.
TEST_F(Screenshots, ServiceUnreached) {
  TfrmMain& w = Shown();
  const std::string service = "http://127.0.0.1:" + std::to_string(nettest::FreePort());
  GetCLSettings()->SetSettingString("URL.Service", service);
  w.FProxyManager->GetCurrentLocalInfo();
  ProcessUntil([&w] { return w.FServiceStatus->Reach().Unreached(); }, 30000);
  ASSERT_TRUE(w.FServiceStatus->Reach().Unreached());
  Shot("main-service-unreached", {&w}, 1500);
  Modal<TfrmSettings>([&] { ShowSettings(&w); },
                      [&](TfrmSettings* d) {
                        d->btnTestService->click();
                        ProcessUntil([d] { return d->btnTestService->isEnabled(); }, 30000);
                        Shot("settings-service", {d});
                      });
}

TEST_F(Screenshots, AboutAndUpdateWindows) {
  TfrmMain& w = Shown();
  {
    std::unique_ptr<TfrmCLAboutForm> about(TfrmCLAboutForm::Create(&w));
    about->SetPosition(TPosition::poScreenCenter);
    about->show();
    Shot("about", {about.get()});
  }
  auto update = [&](const std::string& url) {
    w.Engine()->SettingOverwrite().SetValue("URL.Update", url);
    w.Engine()->SettingOverwrite().SetValue("App.MagicWord", "WORD-1");
    TfrmCLUpdateForm* u = TfrmCLUpdateForm::Create(&w);
    u->SetPosition(TPosition::poScreenCenter);
    return u;
  };
  {
    nettest::SilentListener silent;
    const std::string url = "http://127.0.0.1:" + std::to_string(silent.Port()) + "/update";
    TfrmCLUpdateForm* u = update(url);
    u->StartUpdate(false, true, true, false, false);
    Shot("update-connecting", {u});
    u->btnOK2Click();
    TfrmCLUpdateForm* compact = update(url);
    compact->StartUpdate(false, true, false, true, false);
    Shot("update-compact", {compact});
    compact->btnOK2Click();
  }
  {
    // Nobody listens: the network error.
    TfrmCLUpdateForm* u = update("http://127.0.0.1:9/update");
    u->StartUpdate(false, true, true, false, false);
    ProcessUntil([&] { return u->btnOK2->isEnabled(); }, 10000);
    Shot("update-net-error", {u});
    u->btnOK2Click();
  }
  auto serve = [&](const std::string& answer) {
    FService.reset();
    sb().WriteFile("svc/shot.conf",
                   "[service]\nlisten = 127.0.0.1\nport = 0\nmagicword = WORD-1\n[update]\n" +
                       answer);
    FService =
        std::make_unique<proxytest::TServiceProcess>(VG_SERVICE_EXE, sb().Path("svc/shot.conf"));
    return FService->URL("/update");
  };
  {
    TfrmCLUpdateForm* u = update(serve(
        "Result = 1\ninfo = Veilgate 3.0 is available. It changes your IP faster and knows more "
        "countries.\npage = http://{service}/page/download\n"));
    u->StartUpdate(false, true, true, false, false);
    ProcessUntil([&] { return u->btnOK->isEnabled(); }, 10000);
    Shot("update-new-version", {u});
    u->btnCancelClick();
  }
  {
    TfrmCLUpdateForm* u = update(serve("Result = 0\n"));
    u->StartUpdate(false, true, true, false, false);
    ProcessUntil([&] { return u->btnOK2->isEnabled(); }, 10000);
    Shot("update-last-version", {u});
    u->btnOK2Click();
  }
}

TEST_F(Screenshots, Splash) {
  // The splash speaks the language the settings choose.
  Const({"Skin=" + FSkin, "Language=" + FLanguage});
  std::unique_ptr<QWidget> splash(TfrmCLSplashForm::CreateSplash());
  splash->show();
  ProcessUntil([&] { return splash->windowHandle() && splash->windowHandle()->isExposed(); });
  Shot("splash", {splash.get()});
}

}  // namespace
