// The application end to end, offscreen, against the reference service and
// real forward proxies (tinyproxy on their own loopback addresses): the
// fixture shared by the whole-program tests and the real-browser tests.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/ProxySettings.h"
#include "proxy/ServiceProcess.h"
#include "proxy/uProxyManager.h"
#include "support/qt/MainWindowSupport.h"

namespace fs = std::filesystem;
using namespace mainwin;

extern char** environ;

namespace apptest {

// GIO binds its settings store to the environment of its first use in a
// process. Only the first test of a process that switches with the desktop
// settings visible can check them.
inline bool& GioBound() {
  static bool bound = false;
  return bound;
}

// tinyproxy on its own loopback address (127.0.0.N), as real proxies have.
using TLoopProxy = nettest::TinyProxy;

struct TFirstDraw : IProxyRandom {
  void Randomize() override {}
  int Random(int) override { return 0; }
};

class AppFlowTest : public SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    TestApp();
    if (!GetDispatcher()) new TCLQtDispatcher;
    ReleaseCLSettings();
    FSavedDataDirs = std::getenv("XDG_DATA_DIRS") ? std::getenv("XDG_DATA_DIRS") : "";
    FHadDataDirs = std::getenv("XDG_DATA_DIRS") != nullptr;
    FNow = platform::NowLocal();
    MainClock() = [this] { return FNow; };
    SetPlainMessageBox([this](const std::string& text) { PlainBoxes.push_back(text); });
  }
  void TearDown() override {
    FWindow.reset();
    for (auto& p : FProxies) p->Stop();
    if (FService) FService->Stop();
    MainClock() = [] { return platform::NowLocal(); };
    SetPlainMessageBox(nullptr);
    ReleaseCLSettings();
    if (FHadDataDirs)
      setenv("XDG_DATA_DIRS", FSavedDataDirs.c_str(), 1);
    else
      unsetenv("XDG_DATA_DIRS");
    SandboxTest::TearDown();
  }

  // With the desktop's own schemas (only in a process where GIO is still
  // free), or none.
  bool DesktopSettings(bool want) {
    if (want && !GioBound()) {
      GioBound() = true;
      return true;
    }
    FEnv.Set("XDG_DATA_DIRS", sb().Path("no-system-data"));
    return false;
  }

  // tinyproxy forward proxies; the service with their records; the
  // installation with the shipped settings pointed at the service.
  void Start(int proxies, const std::vector<std::string>& records,
             const std::vector<std::string>& superRecords,
             const std::vector<std::string>& constLines) {
    for (int i = 0; i < proxies; ++i) {
      auto p = std::make_unique<TLoopProxy>();
      std::string error;
      const std::string address = "127.0.0." + std::to_string(i + 2);
      ASSERT_TRUE(p->Start(sb().Path("proxy" + std::to_string(i)), &error, address)) << error;
      FProxies.push_back(std::move(p));
    }
    auto expand = [this](std::string r) {
      for (size_t i = 0; i < FProxies.size(); ++i)
        r = StringReplaceAll(r, "{p" + std::to_string(i) + "}", FProxies[i]->Server());
      return r;
    };
    // clang-format off
    std::string conf =
        "[service]\nlisten = 127.0.0.1\nport = 0\nmagicword = VG-DEMO\ncheck_magicword = 1\n"
        "flags = " + sb().Path("flags") + "\n"
        "[update]\nResult = 0\n"
        "[settings]\nSUPER_TOUCH = http://{service}/touch?ip={1}\n"
        "URL.CheckIP = http://{service}/checkip\nURL.FlagPath = http://{service}/flags/\n"
        "[normal]\n";
    // clang-format on
    for (const auto& r : records) conf += expand(r) + "\n";
    conf += "[super]\n";
    for (const auto& r : superRecords) conf += expand(r) + "\n";
    conf +=
        "[localinfo]\nip =\ncountry_short = US\ncountry_long = United States\ncity = Dallas\n"
        "region = Texas\nlatitude = 38\nlongitude = -97\n";
    fs::create_directories(sb().Path("flags"));
    fs::copy_file(VG_BINARY_DIR "/res/flag_short/DE.PNG", sb().Path("flags/DE.PNG"));
    sb().WriteFile("service.conf", conf);
    FService =
        std::make_unique<proxytest::TServiceProcess>(VG_SERVICE_EXE, sb().Path("service.conf"));
    ASSERT_TRUE(FService->Running());

    // The shipped installation, its service addresses moved to this service.
    fs::copy(VG_BINARY_DIR "/lang", sb().Path("app/lang"), fs::copy_options::recursive);
    fs::copy(VG_BINARY_DIR "/res", sb().Path("app/res"), fs::copy_options::recursive);
    if (fs::exists(sb().Path("app/res/const.dat"))) fs::remove(sb().Path("app/res/const.dat"));
    std::string shipped = ReadText(VG_SOURCE_DIR "/res/const.dat");
    const std::string service = "http://127.0.0.1:" + std::to_string(FService->Port());
    FirefoxLog = sb().Path("firefox.log");
    sb().WriteFile("app/firefox", "#!/bin/sh\necho \"$*\" >> '" + FirefoxLog + "'\n");
    fs::permissions(sb().Path("app/firefox"), fs::perms::owner_all);
    std::string lines = "[setting]\r\nURL.Service=" + service +
                        "\r\nFireFoxPath=" + sb().Path("app/firefox") + "\r\nFFEXT.INSTALLED=1\r\n";
    for (const auto& l : constLines) lines += l + "\r\n";
    // Our lines first: the first line of a name wins.
    shipped = StringReplaceAll(shipped, "[setting]", lines);
    sb().WriteFile("app/const.dat", shipped);
    sb().WriteFile("config/Opera/Opera/operaprefs.ini", "[User Prefs]\nLanguage=en\n");
    sb().WriteFile("app/ffextension.xpi", "extension");
    // The user's own Internet Settings (a proxy they keep switched off):
    // stop and exit bring them back.
    platform::RegWriteString(platform::RegRoot::CurrentUser, kInternetSettings, "ProxyServer",
                             kUserProxyServer);
    platform::RegWriteDword(platform::RegRoot::CurrentUser, kInternetSettings, "ProxyEnable", 0);
    ReleaseCLSettings();
  }

  // The main window, running: local information shown and lists loaded.
  TfrmMain& Running() {
    FWindow.reset(new TfrmMain);
    FWindow->Engine()->SetMessageBoxes(&Boxes);
    FWindow->AfterConstruction();
    FWindow->show();
    TfrmMain& w = *FWindow;
    EXPECT_TRUE(Until([&] { return w.FLocalInfoGot && !w.tmrInit->Running(); }, 15000))
        << "local information " << w.FLocalInfoGot << ", lists "
        << w.FProxyManager->FNormalProxyList.Count();
    Advance(2);
    return w;
  }
  void Advance(double seconds) { FNow += seconds / 86400.0; }

  std::string Proxy(TfrmMain& w) {
    return w.FProxyManager->FTargetProxy.IP + ":" + w.FProxyManager->FTargetProxy.Port;
  }
  TLoopProxy* ProxyAt(const std::string& server) {
    for (auto& p : FProxies)
      if (p->Server() == server) return p.get();
    return nullptr;
  }

  // A GSettings value as the desktop reads it (a separate process).
  std::string GSetting(const std::string& schema, const std::string& key) {
    std::string out = sb().Path("gsettings.out");
    const std::string cmd = "gsettings get " + schema + " " + key + " > '" + out + "' 2>&1";
    if (std::system(cmd.c_str()) != 0) return "(failed) " + ReadText(out);
    std::string v = ReadText(out);
    while (!v.empty() && (v.back() == '\n' || v.back() == '\r')) v.pop_back();
    return v;
  }
  // The desktop's HTTP proxy: GNOME's setting where the desktop has one,
  // else the one this process applied (what its own connections follow).
  std::string DesktopProxy(bool desktop) {
    if (!desktop) return platform::AppliedProxy().server;
    std::string host = GSetting("org.gnome.system.proxy.http", "host");
    if (host.size() >= 2 && host.front() == '\'' && host.back() == '\'')
      host = host.substr(1, host.size() - 2);
    return host + ":" + GSetting("org.gnome.system.proxy.http", "port");
  }
  // GET through a proxy with curl, as a desktop program would.
  bool CurlThrough(const std::string& proxy, const std::string& url) {
    const std::string cmd = "curl -s -m 10 -o /dev/null -x http://" + proxy + " '" + url + "'";
    return std::system(cmd.c_str()) == 0;
  }
  std::vector<std::string> FirefoxCalls() {
    TStringList sl;
    sl.SetText(ReadText(FirefoxLog));
    return sl.Lines();
  }

  TBoxes Boxes;
  std::vector<std::string> PlainBoxes;
  std::string FirefoxLog;
  double FNow = 0;
  std::vector<std::unique_ptr<TLoopProxy>> FProxies;
  testsupport::EnvGuard FEnv;
  std::unique_ptr<proxytest::TServiceProcess> FService;
  std::unique_ptr<TfrmMain> FWindow;

 private:
  std::string FSavedDataDirs;
  bool FHadDataDirs = false;
};

const char* const kRecords[] = {"{p0}|United States|US|-97|38", "{p1}|United States|US|-90|35",
                                "{p2}|Germany|DE|9|51"};

}  // namespace apptest
