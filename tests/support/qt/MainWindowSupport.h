// Shared pieces of the main-window and popup tests: an installation in the
// sandbox (settings, the shipped language and movie, flags, a recording
// Firefox, an Opera profile, a recording browser), a clock the test moves,
// message boxes and plain boxes answered without a person, the popup's
// commands read from the debug log, and a small loopback HTTP server.
#pragma once

#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>
#include <QKeyEvent>
#include <QTimer>
#include <QPixmap>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "AppDialogsSupport.h"
#include "QtTestApp.h"
#include "net/CLDebugLog.h"
#include "support/NetTestServers.h"
#include "framework/qt/CLEngine.h"
#include "framework/qt/CLQtDispatcher.h"
#include "framework/CLSettings.h"
#include "framework/qt/windows/CLFrameworkWindows.h"
#include "framework/qt/windows/CLMessageBox.h"
#include "net/CLUtils.h"
#include "platform/Files.h"
#include "platform/Process.h"
#include "platform/Registry.h"
#include "support/EnvGuard.h"
#include "support/LogCapture.h"
#include "support/Sandbox.h"
#include "support/Wait.h"
#include "switch/THideSession.h"
#include "switch/uVGUtils.h"
#include "ui/uMain.h"

#ifndef VG_SOURCE_DIR
#error "VG_SOURCE_DIR must name the source tree"
#endif

namespace mainwin {

// Boxes answered with OK; a test may tick "do not show again" for the next
// ones.
using TBoxes = appdlg::TRecordingBoxes;

// The lines written under one tag of the debug log while it lives.
using TLogLines = testsupport::LogCapture;

// The popup's commands, as the movie received them, since the last call.
inline std::vector<std::string> Commands(TLogLines& movieLog) {
  std::vector<std::string> out;
  for (const std::string& l : movieLog.Take())
    if (l.rfind("callbackvar=", 0) == 0) out.push_back(l.substr(12));
  return out;
}

// A loopback HTTP server that answers every request with a handler (status
// and body for the request's path) and records the targets it was asked for.
struct TAnswer {
  int Status = 200;
  std::string Body;
  std::string Type = "text/plain";
};
class TWebServer {
 public:
  using Handler = std::function<TAnswer(const std::string& path)>;
  explicit TWebServer(Handler handler)
      : FServer([handler](const nettest::Request& q, nettest::Connection& c) {
          const TAnswer a = handler(q.target.substr(0, q.target.find('?')));
          c.Write(nettest::Response(a.Status, a.Body, "Content-Type: " + a.Type + "\r\n"));
        }) {}
  std::string Base() const { return FServer.Base(); }
  std::vector<std::string> Paths() const {
    std::vector<std::string> out;
    for (const auto& r : FServer.Requests()) out.push_back(r.target);
    return out;
  }
  int Count(const std::string& part) const {
    int n = 0;
    for (const std::string& p : Paths())
      if (p.find(part) != std::string::npos) ++n;
    return n;
  }

 private:
  nettest::TestHttpServer FServer;
};

// PNG bytes of a 48 x 48 picture of one colour.
inline std::string SolidPng(QRgb colour) {
  QImage img(48, 48, QImage::Format_ARGB32);
  img.fill(colour);
  QByteArray bytes;
  QBuffer buf(&bytes);
  buf.open(QIODevice::WriteOnly);
  img.save(&buf, "PNG");
  return bytes.toStdString();
}

inline QRgb Middle(const QPixmap& p) {
  return p.isNull() ? 0 : p.toImage().pixel(p.width() / 2, p.height() / 2);
}

using testsupport::ReadText;

inline const char* const kInternetSettings =
    "\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

// The system proxy as the switch wrote it in the (emulated) registry.
// What the user had in the Internet Settings before any test switched.
inline const char* const kUserProxyServer = "user.example:3128";

inline std::string SystemProxyServer() {
  std::string v;
  platform::RegReadString(platform::RegRoot::CurrentUser, kInternetSettings, "ProxyServer", v);
  return v;
}
inline uint32_t SystemProxyEnable() {
  uint32_t v = 99;
  platform::RegReadDword(platform::RegRoot::CurrentUser, kInternetSettings, "ProxyEnable", v);
  return v;
}

// The installation: supplied settings, the shipped English texts and movie,
// flags, a Firefox that records its command lines, an Opera profile and a
// default browser that records the pages it is asked to open.
class MainWindowTest : public SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    TestApp();
    if (!GetDispatcher()) new TCLQtDispatcher;  // lives as long as the process
    // GIO binds to the environment of its first use in a process, and the
    // sandboxes of these tests come and go: no desktop proxy settings here.
    FEnv = std::make_unique<testsupport::EnvGuard>("XDG_DATA_DIRS", sb().Path("no-system-data"));
    ReleaseCLSettings();
    FNow = 46000.5;  // a fixed day, noon
    MainClock() = [this] { return FNow; };
    SetPlainMessageBox([this](const std::string& text) { PlainBoxes.push_back(text); });
    FSavedWindows = CLFrameworkWindows();
    // The framework's update window would contact the service: tests decide.
    CLFrameworkWindows().CreateUpdateWindow = nullptr;
    CLFrameworkWindows().CreateAboutWindow = nullptr;

    std::filesystem::copy(VG_SOURCE_DIR "/lang", sb().Path("app/lang"),
                          std::filesystem::copy_options::recursive);
    sb().WriteFile("app/res/veilip.dat", ReadText(VG_SOURCE_DIR "/res/veilip.dat"));
    sb().WriteFile("app/res/flag_short/US.PNG", SolidPng(kUsColour));
    sb().WriteFile("app/res/flag_short/UN.PNG", SolidPng(kUnColour));
    // The stand-in Firefox stays for an installation, as a real one would:
    // until the sandbox goes (at most a minute), so that the program finds
    // it running however late it looks. Its command lines are recorded by
    // the launcher, in the order the program started them (two of them may
    // run in either order).
    sb().WriteFile("app/firefox",
                   "#!/bin/sh\ncase \"$*\" in *.xpi*) i=0\n"
                   "  while [ -e \"$0\" ] && [ $i -lt 600 ]; do sleep 0.1; i=$((i+1)); done;;\n"
                   "esac\n");
    sb().WriteFile("app/ffextension.xpi", "extension");
    FirefoxExe = sb().Path("app/firefox");
    platform::SetProcessStartObserver([this](const std::string& commandLine) {
      const std::vector<std::string> args = platform::SplitCommandLine(commandLine);
      if (args.empty() || args[0] != FirefoxExe) return;
      std::string line;  // the arguments as the program receives them
      for (size_t i = 1; i < args.size(); ++i) line += (i > 1 ? " " : "") + args[i];
      std::lock_guard<std::mutex> hold(FLaunchLock);
      FFirefoxLaunches.push_back(line);
    });
    std::filesystem::permissions(sb().Path("app/firefox"), std::filesystem::perms::owner_all);
    sb().WriteFile("config/Opera/Opera/operaprefs.ini", "[User Prefs]\nLanguage=en\n");
    BrowserLog = sb().Path("browser.log");
    sb().WriteFile("app/browser", "#!/bin/sh\necho \"$1\" >> '" + BrowserLog + "'\n");
    std::filesystem::permissions(sb().Path("app/browser"), std::filesystem::perms::owner_all);
    platform::RegWriteString(platform::RegRoot::ClassesRoot, "HTTP\\shell\\open\\command", "",
                             "\"" + sb().Path("app/browser") + "\" \"%1\"");
    // The user's own proxy settings: a proxy they keep switched off. Stop
    // and exit must bring exactly these back.
    platform::RegWriteString(platform::RegRoot::CurrentUser, kInternetSettings, "ProxyServer",
                             kUserProxyServer);
    platform::RegWriteDword(platform::RegRoot::CurrentUser, kInternetSettings, "ProxyEnable", 0);
  }

  void TearDown() override {
    FWindow.reset();
    platform::SetProcessStartObserver(nullptr);
    CLFrameworkWindows() = FSavedWindows;
    MainClock() = [] { return platform::NowLocal(); };
    SetPlainMessageBox(nullptr);
    ReleaseCLSettings();
    FEnv.reset();
    SandboxTest::TearDown();
  }

  // "const.dat": the common settings, then the test's lines (a later line
  // of the same name does not win, so tests name what they change here).
  void Const(const std::vector<std::string>& lines) {
    std::string text = "[setting]\r\n";
    for (const std::string& l : lines) text += l + "\r\n";
    text +=
        "App.Name=Veilgate\r\nApp.Ver=1.0.0.1\r\nApp.MagicWord=VG-TEST\r\nLanguage=English\r\n"
        "Setting.NoAllUser=1\r\nSWITCH.IE=1\r\nSWITCH.FF=1\r\nSWITCH.OPERA=1\r\n"
        "FireFoxPath=" +
        sb().Path("app/firefox") +
        "\r\nFFEXT.INSTALLED=1\r\n"
        "URL.LocalFlagPath=res\\flag_short\\\r\nFLS.Width=534\r\nFLS.Height=180\r\n"
        "FLS.Background=res\\images\\popup_bg.png\r\nFLS.Logo=res\\images\\logo.png\r\n"
        "ChangeIPTime=10\r\n";
    sb().WriteFile("app/const.dat", text);
    ReleaseCLSettings();
    // The desktop of these tests has no proxy settings the switch can
    // reach; the box that says so at the first hide is silenced here and
    // tested on its own.
    if (FSilenceNoDesktopBox) GetCLSettings()->SetMessageShowAgainFlag(7, false);
  }
  bool FSilenceNoDesktopBox = true;

  // The main window, built as the start-up routine builds it; its boxes
  // (from its creation handler on) are answered by Boxes.
  TfrmMain& Window() {
    FWindow.reset(new TfrmMain);
    FWindow->Engine()->SetMessageBoxes(&Boxes);
    FWindow->AfterConstruction();
    return *FWindow;
  }
  void CloseWindow() { FWindow.reset(); }

  void Advance(double seconds) { FNow += seconds / 86400.0; }

  // The text a message key shows (with the marker of a missing key).
  std::string Text(const std::string& key) {
    std::string t = FWindow ? FWindow->Engine()->GetAppString(key) : std::string();
    return t.empty() ? "[AppRes]" + key : t;
  }
  int BoxesWith(const std::string& key) {
    int n = 0;
    for (const auto& r : Boxes.Requests)
      if (r.Text == Text(key)) ++n;
    return n;
  }

  static std::string ProxyServer() { return SystemProxyServer(); }
  static uint32_t ProxyEnable() { return SystemProxyEnable(); }
  std::string OperaPrefs() { return ReadText(sb().Path("config/Opera/Opera/operaprefs.ini")); }
  // Firefox's argument texts in launch order, waiting up to timeoutMs for
  // the count (a launch from a worker's answer may still be on its way).
  std::vector<std::string> FirefoxCalls(size_t atLeast = 0, int timeoutMs = 5000) {
    std::vector<std::string> calls;
    Until(
        [&] {
          std::lock_guard<std::mutex> hold(FLaunchLock);
          calls = FFirefoxLaunches;
          return calls.size() >= atLeast;
        },
        timeoutMs);
    return calls;
  }
  std::vector<std::string> BrowserCalls(size_t atLeast, int timeoutMs = 5000) {
    std::vector<std::string> calls;
    Until(
        [&] {
          TStringList sl;
          sl.SetText(ReadText(BrowserLog));
          calls = sl.Lines();
          return calls.size() >= atLeast;
        },
        timeoutMs);
    return calls;
  }

  static constexpr QRgb kUsColour = qRgb(200, 0, 0);
  static constexpr QRgb kUnColour = qRgb(0, 120, 220);

  TBoxes Boxes;
  std::vector<std::string> PlainBoxes;
  std::string FirefoxExe, BrowserLog;
  double FNow = 0;
  std::unique_ptr<TfrmMain> FWindow;

 private:
  std::mutex FLaunchLock;
  std::vector<std::string> FFirefoxLaunches;
  std::unique_ptr<testsupport::EnvGuard> FEnv;
  TCLFrameworkWindows FSavedWindows;
};

// The proxy lists of the tests: three normal proxies in two countries and
// one super proxy.
inline const char* const kLists =
    "NORMAL_IPS=192.0.2.1:8080|United States|US|-97|38;192.0.2.2:3128|United States|US|-90|35;"
    "192.0.2.3:80|France|FR|2|48";
inline const char* const kSuper = "SUPER_IPS=192.0.2.9:8000|Japan|JP|138|36";

// The real-IP answer of the tests: named lines, latitude and longitude.
inline const char* const kHomeInfo =
    "IP=203.0.113.5\r\nCOUNTRY_SHORT=US\r\nCOUNTRY_LONG=United States\r\nCITY=Dallas\r\n"
    "REGION=Texas\r\n32.78\r\n-96.80\r\n";

}  // namespace mainwin
