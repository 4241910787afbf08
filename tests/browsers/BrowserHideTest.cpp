// Real browsers follow the hide. The program runs offscreen against the
// reference service and tinyproxies on their own loopback addresses; after
// the hide command, headless Chromium and Firefox ESR with fresh profiles
// ask for a host name nobody else uses. The request must show up in the log
// of exactly the proxy the program chose; after the stop a second host name
// must reach no proxy at all: it reaches a site on this machine directly
// (the browsers' own resolvers map that name to loopback). Both browsers send loopback addresses past
// any proxy, hence host names; the page itself is an error page (the proxy
// cannot resolve the name), the proxy's log line is the proof.
//
// One session per test (GIO binds to the environment of its first use in a
// process, and each test runs in a process of its own): GNOME (GSettings key
// file in the sandbox) and KDE Plasma without a kioslaverc before the hide
// (Chromium then reads kioslaverc; Firefox reads the GNOME settings, which
// the switch writes wherever the schema is installed).
#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "e2e/AppFlowSupport.h"
#include "support/EnvGuard.h"
#include "switch/THideSession.h"
#include "vcl/spSkinForm.h"
#include "vcl/ActnList.h"

using namespace apptest;

namespace {

class BrowserHideTest : public AppFlowTest {
 protected:
  // A host name for one phase of one run.
  static std::string UniqueHost(const std::string& phase) {
    std::random_device rd;
    char id[17];
    std::snprintf(id, sizeof id, "%08x%08x", rd(), rd());
    return "veilgate-" + phase + "-" + id + ".test";
  }

  // Runs one browser on the address until done() holds or it has shown the
  // page (Chromium prints it and ends; Firefox writes its screenshot and may
  // linger afterwards), then ends it. True when the page was shown.
  bool Browse(const std::string& which, const std::string& url,
              const std::function<bool()>& done = nullptr, const std::string& loopbackHost = "") {
    const std::string profile = sb().Path("profiles/" + which + "-" + std::to_string(++FRuns));
    fs::create_directories(profile);
    // A name the browser's own resolver maps to this machine: a direct
    // connection reaches the test's site, one through a proxy the proxy.
    if (!loopbackHost.empty() && which != "chromium")
      sb().WriteFile("profiles/" + which + "-" + std::to_string(FRuns) + "/user.js",
                     "user_pref(\"network.dns.localDomains\", \"" + loopbackHost + "\");\n");
    const std::string shot = profile + "/page.png";
    std::vector<std::string> argv;
    if (which == "chromium") {
      argv = {FChromium,
              "--headless",
              "--no-sandbox",
              "--disable-gpu",
              "--disable-quic",
              "--no-first-run",
              "--disable-background-networking",
              "--disable-component-update",
              "--disable-sync",
              "--disable-dev-shm-usage",
              "--user-data-dir=" + profile,
              "--dump-dom",
              url};
      if (!loopbackHost.empty())
        argv.insert(argv.end() - 1, "--host-resolver-rules=MAP " + loopbackHost + " 127.0.0.1");
    } else {
      argv = {FFirefox, "--headless",   "--no-remote", "--profile",
              profile,  "--screenshot", shot,          url};
    }
    testsupport::ChildProcess browser;
    if (!browser.Start(argv, profile + ".out")) return false;
    bool shown = false;
    testsupport::WaitUntil(
        [&] {
          shown = which == "chromium" ? !browser.Running() : platform::FileExists(shot);
          return shown || (done && done()) || !browser.Running();
        },
        120000);
    browser.Stop();
    FLastOutput = testsupport::ReadText(profile + ".out");
    return shown;
  }

  // Which proxies' logs hold a request for the host.
  std::vector<std::string> ProxiesThatSaw(const std::string& host) {
    std::vector<std::string> saw;
    for (auto& p : FProxies)
      if (p->Log().find(host) != std::string::npos) saw.push_back(p->Server());
    return saw;
  }

  void FindBrowsers() {
    FChromium = testsupport::FindProgram("chromium");
    FFirefox = testsupport::FindProgram("firefox-esr");
    if (FFirefox.empty()) FFirefox = testsupport::FindProgram("firefox");
    ASSERT_FALSE(FChromium.empty()) << "chromium is not installed (scripts/deps installs it)";
    ASSERT_FALSE(FFirefox.empty()) << "firefox-esr is not installed (scripts/deps installs it)";
  }

  // The whole run for one desktop session: hide, both browsers through the
  // chosen proxy; stop, both browsers past every proxy.
  void HideAndStopWithRealBrowsers() {
    // Two proxies of the same country: the choice is the program's, and only
    // the chosen one may see the browsers.
    Start(2, {kRecords[0], kRecords[1]}, {}, {"TARGET_COUNTRY=US", "SWITCH.FF=1"});
    TfrmMain& w = Running();
    w.actVeilIP->Execute();
    ASSERT_TRUE(w.IsHiding());
    const std::string chosen = Proxy(w);
    ASSERT_NE(ProxyAt(chosen), nullptr) << chosen;
    EXPECT_NE(platform::LastProxyReach(), unsigned(platform::kProxyReachNone));

    for (const std::string which : {"chromium", "firefox"}) {
      const std::string host = UniqueHost("hide-" + which);
      Browse(which, "http://" + host + "/", [&] { return !ProxiesThatSaw(host).empty(); });
      EXPECT_EQ(ProxiesThatSaw(host), std::vector<std::string>{chosen})
          << which << " did not go through the chosen proxy: " << FLastOutput;
    }

    Advance(2);
    w.actStopHide->Execute();
    ASSERT_FALSE(w.IsHiding());
    // After the stop the browsers go direct: to a site on this machine that
    // their resolver finds under the unique name, past every proxy.
    nettest::TestHttpServer site([](const nettest::Request&, nettest::Connection& c) {
      c.Write(nettest::Response(200, "<html><body>direct</body></html>",
                                "Content-Type: text/html\r\nConnection: close\r\n"));
    });
    for (const std::string which : {"chromium", "firefox"}) {
      const std::string host = UniqueHost("stop-" + which);
      auto direct = [&] {
        for (const nettest::Request& r : site.Requests())
          if (r.Header("Host").find(host) != std::string::npos) return true;
        return false;
      };
      Browse(which, "http://" + host + ":" + std::to_string(site.Port()) + "/", direct, host);
      EXPECT_TRUE(direct()) << which << " did not reach the site directly: " << FLastOutput;
      EXPECT_TRUE(ProxiesThatSaw(host).empty()) << which << " still went through a proxy";
    }
  }

  std::string FChromium, FFirefox, FLastOutput;
  int FRuns = 0;
};

}  // namespace

TEST_F(BrowserHideTest, GnomeSession) {
  ASSERT_NO_FATAL_FAILURE(FindBrowsers());
  // The folders of a real session: settings in ~/.config.
  testsupport::EnvGuard env("XDG_CONFIG_HOME", sb().Path("home/.config"));
  ASSERT_TRUE(DesktopSettings(true)) << "GIO was already bound in this process";
  env.Set("XDG_CURRENT_DESKTOP", "GNOME");
  ASSERT_NO_FATAL_FAILURE(HideAndStopWithRealBrowsers());
}

TEST_F(BrowserHideTest, KdePlasmaSessionWithoutKioslaverc) {
  ASSERT_NO_FATAL_FAILURE(FindBrowsers());
  // The folders of a real session: Chromium looks for kioslaverc in
  // ~/.config whatever XDG_CONFIG_HOME says, KDE itself in XDG_CONFIG_HOME.
  testsupport::EnvGuard env("XDG_CONFIG_HOME", sb().Path("home/.config"));
  ASSERT_TRUE(DesktopSettings(true)) << "GIO was already bound in this process";
  env.Set("XDG_CURRENT_DESKTOP", "KDE");
  env.Set("KDE_SESSION_VERSION", "5");
  // A user who never opened KDE's proxy page.
  const std::string kioslaverc = sb().Path("home/.config/kioslaverc");
  ASSERT_FALSE(platform::FileExists(kioslaverc));
  ASSERT_NO_FATAL_FAILURE(HideAndStopWithRealBrowsers());
  // The group the switch created is gone again with the stop.
  EXPECT_FALSE(platform::FileExists(kioslaverc));
}

// A proxy that dies while hiding: the watch moves the browsers to another
// proxy of the country that answers; with none left the desktop keeps the
// dead proxy (never a direct connection) and the window says hiding has
// stopped working; a proxy that answers again takes over.
TEST_F(BrowserHideTest, ADeadProxyIsLeftForOneThatAnswersAndTheHideNeverGoesDirect) {
  ASSERT_NO_FATAL_FAILURE(FindBrowsers());
  testsupport::EnvGuard env("XDG_CONFIG_HOME", sb().Path("home/.config"));
  ASSERT_TRUE(DesktopSettings(true)) << "GIO was already bound in this process";
  env.Set("XDG_CURRENT_DESKTOP", "GNOME");
  Start(3, {kRecords[0], kRecords[1], "{p2}|United States|US|-80|40"}, {},
        {"TARGET_COUNTRY=US", "FailOver=1"});
  TfrmMain& w = Running();
  w.actVeilIP->Execute();
  ASSERT_TRUE(w.IsHiding());
  const std::string first = Proxy(w);
  ASSERT_EQ(DesktopProxy(true), first);
  // The watch ticks every 20 s; here each tick follows the last check.
  auto watchUntil = [&](const std::function<bool()>& done, int seconds) {
    return Until(
        [&] {
          if (done()) return true;
          w.tmrWatchTimer(w.tmrWatch);
          return false;
        },
        seconds * 1000);
  };

  // The chosen proxy dies: another one of the country, and the browser with it.
  ProxyAt(first)->Stop();
  ASSERT_TRUE(watchUntil([&] { return Proxy(w) != first; }, 60)) << w.FWatchNote;
  const std::string second = Proxy(w);
  EXPECT_EQ(w.FProxyManager->FTargetProxy.Country_Short, "US");
  EXPECT_EQ(DesktopProxy(true), second);
  ASSERT_NE(ProxyAt(second), nullptr);
  EXPECT_TRUE(ProxyAt(second)->Running());
  const std::string firstIP = first.substr(0, first.find(':'));
  const std::string secondIP = second.substr(0, second.find(':'));
  EXPECT_EQ(w.FWatchNote, firstIP + " stopped answering; now hiding through " + secondIP);
  EXPECT_NE(w.spTrayIcon->Hint().find(w.FWatchNote), std::string::npos) << w.spTrayIcon->Hint();
  const std::string host = UniqueHost("moved");
  Browse("chromium", "http://" + host + "/", [&] { return !ProxiesThatSaw(host).empty(); });
  EXPECT_EQ(ProxiesThatSaw(host), std::vector<std::string>{second}) << FLastOutput;

  // Every proxy of the country dies: the desktop keeps a proxy and the
  // window says hiding has stopped working.
  for (auto& p : FProxies) p->Stop();
  ASSERT_TRUE(watchUntil([&] { return w.Session()->FailedClosed(); }, 60));
  EXPECT_TRUE(w.IsHiding());
  EXPECT_EQ(GSetting("org.gnome.system.proxy", "mode"), "'manual'");
  EXPECT_EQ(DesktopProxy(true), second);
  EXPECT_NE(w.FWatchNote.find("hiding has stopped working"), std::string::npos) << w.FWatchNote;

  // One comes back: the program moves to it.
  ASSERT_TRUE(ProxyAt(first)->Restart());
  ASSERT_TRUE(watchUntil([&] { return !w.Session()->FailedClosed(); }, 60)) << w.FWatchNote;
  EXPECT_EQ(Proxy(w), first);
  EXPECT_EQ(DesktopProxy(true), first);
  Advance(2);
  w.actStopHide->Execute();
  EXPECT_FALSE(w.IsHiding());
}
