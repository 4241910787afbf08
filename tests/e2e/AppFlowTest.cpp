// The application end to end, offscreen, against the reference service and
// real forward proxies (tinyproxy) on loopback: the main window is built as
// the start-up routine builds it, with the shipped settings file pointed at
// the service, the framework's own update window delivering the proxy
// lists, and a clock the test moves for the timers.
//
//  - start, local information, lists; hide through "US": the desktop proxy
//    (GNOME settings, the registry values) points at that proxy and a
//    request made through the desktop proxy arrives through it; a change of
//    country through the country dialog; stop; exit right after a hide;
//  - the change-IP timer with a one-minute interval and cookie clearing
//    after a timed change only; a super proxy touched at once;
//  - the testing window checking each proxy through the proxy.
#include <gtest/gtest.h>

#include "e2e/AppFlowSupport.h"
#include "ui/uChooseIPCountry.h"
#include "ui/uFlashForm.h"
#include "ui/uIPsTesting.h"
#include "vcl/ActnList.h"
#include "vcl/Controls.h"
#include "vcl/ShockwaveFlash.h"

using namespace apptest;

namespace {

TEST_F(AppFlowTest, HideChangeCountryStopAndExitAgainstRealProxies) {
  const bool desktop = DesktopSettings(true);
  Start(3, {kRecords[0], kRecords[1], kRecords[2]}, {}, {"TARGET_COUNTRY=US"});
  TfrmMain& w = Running();
  // Local information on the popup, lists from the update answer.
  const TMovieState& movie = frmFlashForm->FlashPlayer->State();
  EXPECT_EQ(movie.Local.IP, "127.0.0.1");
  EXPECT_EQ(movie.Local.Country, "United States");
  EXPECT_EQ(movie.Local.City, "Dallas");
  EXPECT_EQ(w.FProxyManager->FNormalProxyList.Count(), 3);
  EXPECT_GE(GetCLSettings()->GetSettingInteger("Update.Times"), 1);
  EXPECT_EQ(w.lblIPCountry->Caption(), "United States");

  // Hide through the US.
  w.actVeilIP->Execute();
  ASSERT_TRUE(w.IsHiding()) << (Boxes.Requests.empty() ? "" : Boxes.Requests[0].Text);
  const std::string us = Proxy(w);
  ASSERT_TRUE(us == FProxies[0]->Server() || us == FProxies[1]->Server()) << us;
  EXPECT_EQ(SystemProxyServer(), "http=" + us + ";ftp=" + us + ";https=" + us + ";");
  EXPECT_EQ(SystemProxyEnable(), 1u);
  EXPECT_EQ(movie.Target.IP, us.substr(0, us.find(':')));
  EXPECT_EQ(movie.Front, "Target");
  if (desktop) {
    EXPECT_EQ(GSetting("org.gnome.system.proxy", "mode"), "'manual'");
    EXPECT_EQ(GSetting("org.gnome.system.proxy.http", "host"),
              "'" + us.substr(0, us.find(':')) + "'");
    EXPECT_EQ(GSetting("org.gnome.system.proxy.http", "port"), us.substr(us.find(':') + 1));
  }
  // A request through the desktop's proxy arrives through the chosen one.
  const std::string probe = FService->URL("/checkip?probe=e2e-us");
  ASSERT_TRUE(CurlThrough(DesktopProxy(desktop), probe));
  EXPECT_NE(ProxyAt(us)->Log().find("probe=e2e-us"), std::string::npos) << ProxyAt(us)->Log();
  for (auto& p : FProxies) {
    if (p->Server() != us) {
      EXPECT_EQ(p->Log().find("probe=e2e-us"), std::string::npos);
    }
  }

  // Another country through the country dialog: hidden through it at once.
  Advance(2);
  bool chosen = false;
  WhenModal(
      [&](QWidget*) {
        if (!frmChooseIPCountry) return;
        TComboBox* list = frmChooseIPCountry->cbbCountry;
        list->SetItemIndex(list->findText("Germany"));
        chosen = list->Text() == "Germany";
        frmChooseIPCountry->btnOK->Click();
      },
      15000);
  w.actChooseIPCountry->Execute();
  ASSERT_TRUE(chosen);
  const std::string de = FProxies[2]->Server();
  EXPECT_EQ(Proxy(w), de);
  EXPECT_EQ(w.lblIPCountry->Caption(), "Germany");
  EXPECT_EQ(SystemProxyServer(), "http=" + de + ";ftp=" + de + ";https=" + de + ";");
  if (desktop) {
    EXPECT_EQ(GSetting("org.gnome.system.proxy.http", "port"), de.substr(de.find(':') + 1));
  }
  ASSERT_TRUE(CurlThrough(DesktopProxy(desktop), FService->URL("/checkip?probe=e2e-de")));
  EXPECT_NE(FProxies[2]->Log().find("probe=e2e-de"), std::string::npos);
  // The window's flag came from the service into the user's data folder.
  EXPECT_TRUE(Until([&] {
    return platform::FileExists(JoinPath(GetCLSettings()->UserDataPath(), "DE.PNG")) ||
           platform::FileExists(sb().Path("app/res/flag_short/DE.PNG"));
  }));

  // Stop: direct again.
  Advance(2);
  w.actStopHide->Execute();
  EXPECT_FALSE(w.IsHiding());
  EXPECT_EQ(SystemProxyEnable(), 0u);
  EXPECT_FALSE(platform::AppliedProxy().useProxy);
  if (desktop) {
    EXPECT_EQ(GSetting("org.gnome.system.proxy", "mode"), "'none'");
  }

  // Exit within one second of a hide: direct again all the same.
  Advance(2);
  w.actVeilIP->Execute();
  ASSERT_TRUE(w.IsHiding());
  if (desktop) {
    EXPECT_EQ(GSetting("org.gnome.system.proxy", "mode"), "'manual'");
  }
  w.actExit->Execute();
  FWindow.reset();
  EXPECT_EQ(SystemProxyEnable(), 0u);
  EXPECT_FALSE(platform::AppliedProxy().useProxy);
  if (desktop) {
    EXPECT_EQ(GSetting("org.gnome.system.proxy", "mode"), "'none'");
  }
  EXPECT_EQ(GetCLSettings()->GetSettingString("TARGET_COUNTRY"), "DE");
  EXPECT_TRUE(PlainBoxes.empty());
}

TEST_F(AppFlowTest, TimedChangeClearsCookiesAndASuperProxyIsTouched) {
  DesktopSettings(false);
  Start(3, {kRecords[0], kRecords[1]}, {"{p2}|Japan|JP|138|36"},
        {"TARGET_COUNTRY=US", "ChangeIP=1", "ClearCookie=1"});
  TfrmMain& w = Running();
  // The user sets one minute.
  w.edtChangeIPTime->SetValue(1);
  EXPECT_TRUE(w.tmrChangeIP->Running());
  w.actVeilIP->Execute();
  ASSERT_TRUE(w.IsHiding());
  const std::string first = Proxy(w);
  auto cookieClears = [&] {
    int n = 0;
    for (const auto& c : FirefoxCalls()) n += c.find("veilip.xul?cc") != std::string::npos;
    return n;
  };
  Advance(59);
  w.tmrChangeIPTimer(w.tmrChangeIP);
  EXPECT_EQ(Proxy(w), first);
  Advance(1);
  w.tmrChangeIPTimer(w.tmrChangeIP);
  const std::string second = Proxy(w);
  EXPECT_NE(second, first);
  EXPECT_EQ(SystemProxyServer(), "http=" + second + ";ftp=" + second + ";https=" + second + ";");
  EXPECT_TRUE(Until([&] { return cookieClears() == 1; }));
  // A hide by hand does not clear them.
  Advance(2);
  w.actVeilIP->Execute();
  ProcessUntil([] { return false; }, 300);
  EXPECT_EQ(cookieClears(), 1);

  // Japan has a super proxy only; this selection draws the super list.
  w.FProxyManager->FTargetCountry = "JP";
  w.FProxyManager->SetRandom(std::make_shared<TFirstDraw>());
  Advance(2);
  w.actVeilIP->Execute();
  ASSERT_TRUE(w.FProxyManager->FTargetProxy.IsSuper);
  EXPECT_EQ(Proxy(w), FProxies[2]->Server());
  EXPECT_TRUE(w.tmrTouch->Running());
  const std::string jp = FProxies[2]->Server();
  EXPECT_TRUE(Until(
      [&] { return FService->Touches().find(jp.substr(0, jp.find(':'))) != std::string::npos; }));
}

TEST_F(AppFlowTest, TheTestingWindowChecksEachProxyThroughTheProxy) {
  DesktopSettings(false);
  Start(1, {kRecords[0], "127.0.0.1:1|United States|US|-90|35", kRecords[2]}, {},
        {"TARGET_COUNTRY=US", "TestIPfromLocal=1"});
  bool finished = false;
  std::string log;
  WhenModal(
      [&](QWidget* dlg) {
        if (!frmTesting) return;
        finished = Until([] { return frmTesting->Finished(); }, 20000);
        log = frmTesting->mmoLog->Text();
        PressKey(dlg, Qt::Key_Escape);
      },
      20000);
  TfrmMain& w = Running();
  ASSERT_TRUE(finished) << log;
  TStringList lines;
  lines.SetText(log);
  // One line per proxy of the country, then the summary.
  ASSERT_EQ(lines.Count(), 3) << log;
  EXPECT_NE(lines[0].find(FProxies[0]->Server()), std::string::npos) << lines[0];
  // The address the service saw: the proxy's way out, not this machine's
  // direct one.
  EXPECT_NE(lines[0].find("sees " + FProxies[0]->Host() + ","), std::string::npos) << lines[0];
  EXPECT_NE(lines[1].find("127.0.0.1:1"), std::string::npos) << lines[1];
  EXPECT_EQ(lines[1].find(FProxies[0]->Server()), std::string::npos) << lines[1];
  // The good check really went through the proxy.
  EXPECT_NE(FProxies[0]->Log().find("/getinfo"), std::string::npos) << FProxies[0]->Log();
  EXPECT_EQ(frmTesting, nullptr);
  EXPECT_EQ(w.lblIPCountry->Caption(), "United States");
}

}  // namespace

namespace {

// The real program against the service: it starts hidden in the tray,
// shows the local information, loads the lists from the update answer, and
// a second start with "/s" ends it, switching the browsers to direct on the
// way out.
TEST_F(AppFlowTest, TheProgramStartsAgainstTheServiceAndEndsDirect) {
  DesktopSettings(false);
  Start(1, {kRecords[0]}, {}, {"TARGET_COUNTRY=US", "App.Splash=0"});
  fs::copy_file(VG_APP_EXE, sb().Path("app/veilgate"), fs::copy_options::overwrite_existing);
  // The modules it loads on first use lie beside it, as installed.
  for (const char* module : {"libvghttp.so", "libvgdesktop.so", "libvgnetcheck.so"})
    fs::create_symlink(fs::path(VG_APP_EXE).parent_path() / module, sb().Path("app/") + module);
  // The run counter as this test's own store found it; creating the store
  // counted the test as a run too.
  ReleaseCLSettings();
  const int32_t runsBefore = GetCLSettings()->RunTimes() + 1;
  ReleaseCLSettings();
  const std::string log = sb().Path("app.log");
  setenv("VEILGATE_DEBUG_LOG", log.c_str(), 1);
  testsupport::ChildProcess app;
  ASSERT_TRUE(app.Start({sb().Path("app/veilgate"), "-d", "-h"}, sb().Path("app.out")));
  EXPECT_TRUE(testsupport::WaitUntil(
      [&] {
        const std::string t = ReadText(log);
        return t.find("Local information shown: 127.0.0.1 US") != std::string::npos &&
               t.find("Proxy lists loaded: 1 normal") != std::string::npos;
      },
      15000))
      << ReadText(log);
  testsupport::ChildProcess closer;
  ASSERT_TRUE(closer.Start({sb().Path("app/veilgate"), "/s"}, sb().Path("closer.out")));
  EXPECT_TRUE(testsupport::WaitUntil([&] { return !app.Running(); }, 10000)) << ReadText(log);
  unsetenv("VEILGATE_DEBUG_LOG");
  const std::string t = ReadText(log);
  const size_t close = t.find("CL CloseApp");
  ASSERT_NE(close, std::string::npos) << t;
  EXPECT_NE(t.find("Switched to direct", close), std::string::npos) << t;
  // The popup went through its start-up commands, then the ready text.
  EXPECT_NE(t.find("callbackvar=Info_Text,Verifing from Veilgate server ...,4474009"),
            std::string::npos);
  EXPECT_NE(t.find("callbackvar=Local,True,"), std::string::npos);
  EXPECT_EQ(SystemProxyEnable(), 0u);
  // Two starts of the program (the one that ran and the one that ended it)
  // count at most two runs: the window storing its settings on the way out
  // does not count a third. The running program keeps the file in memory, so
  // its last write may cover the second start's count.
  ReleaseCLSettings();
  EXPECT_GE(GetCLSettings()->RunTimes(), runsBefore + 1);
  EXPECT_LE(GetCLSettings()->RunTimes(), runsBefore + 2);
}

}  // namespace
