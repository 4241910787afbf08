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
//
// WebRTC while hiding: a page that comes through the chosen proxy gathers
// WebRTC candidates against a STUN address on loopback, where a small UDP
// listener counts the datagrams that arrive. While hiding none may arrive
// (they would travel around the proxy and tell a STUN server the real
// address); after the stop they arrive again, so calls work when not
// hiding. The browsers run on their default profiles in the sandboxed home,
// made by a first run before the program starts.
#include <gtest/gtest.h>

#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <map>
#include <random>
#include <thread>

#include <nlohmann/json.hpp>

#include "e2e/AppFlowSupport.h"
#include "platform/Browser.h"
#include "support/ChildProcess.h"
#include "support/EnvGuard.h"
#include "switch/THideSession.h"
#include "vcl/spSkinForm.h"
#include "switch/WebRtcGuard.h"
#include "switch/uVGUtils.h"
#include "vcl/ActnList.h"

using namespace apptest;

namespace {

// A STUN address that answers nothing and counts the datagrams sent to it.
class StunCounter {
 public:
  StunCounter() {
    FSocket = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (FSocket >= 0 && ::bind(FSocket, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(FSocket, reinterpret_cast<sockaddr*>(&a), &len) == 0)
      FPort = ntohs(a.sin_port);
    FThread = std::thread([this] {
      char buf[2048];
      while (!FStop) {
        pollfd p{FSocket, POLLIN, 0};
        if (::poll(&p, 1, 100) > 0 && ::recv(FSocket, buf, sizeof buf, 0) >= 0) ++FCount;
      }
    });
  }
  ~StunCounter() {
    FStop = true;
    FThread.join();
    if (FSocket >= 0) ::close(FSocket);
  }
  int Port() const { return FPort; }
  int Count() const { return FCount; }

 private:
  int FSocket = -1, FPort = 0;
  std::atomic<bool> FStop{false};
  std::atomic<int> FCount{0};
  std::thread FThread;
};

// The page that gathers WebRTC candidates against the STUN address and then
// asks for "/done-<name>" from its own site, so the test knows the
// gathering has ended.
std::string WebRtcPage(int stunPort, const std::string& name) {
  return "<!doctype html><html><body><script>\n"
         "var n = 0, sent = false;\n"
         "function report(why) { if (sent) return; sent = true;\n"
         "  new Image().src = '/done-" +
         name +
         "?candidates=' + n + '&why=' + why; }\n"
         "try {\n"
         "  var pc = new RTCPeerConnection({iceServers: [{urls: 'stun:127.0.0.1:" +
         std::to_string(stunPort) +
         "'}]});\n"
         "  pc.createDataChannel('probe');\n"
         "  pc.onicecandidate = function(e) { if (e.candidate) n++; else report('complete'); };\n"
         "  pc.createOffer().then(function(o) { return pc.setLocalDescription(o); })\n"
         "    .catch(function() { report('error'); });\n"
         "} catch (e) { report('none'); }\n"
         "setTimeout(function() { report('timeout'); }, 20000);\n"
         "</script></body></html>";
}

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

  // A name of this machine that resolves to a loopback address: the proxy
  // resolves it while hiding, the browser itself after the stop, and
  // neither browser keeps it away from the proxy as it does "localhost".
  static std::string LoopbackHostName() {
    char host[256] = {0};
    if (::gethostname(host, sizeof host - 1) != 0 || !*host) return std::string();
    addrinfo hints{}, *res = nullptr;
    hints.ai_family = AF_INET;
    if (::getaddrinfo(host, nullptr, &hints, &res) != 0 || !res) return std::string();
    const auto* in = reinterpret_cast<const sockaddr_in*>(res->ai_addr);
    const bool loopback = (ntohl(in->sin_addr.s_addr) >> 24) == 127;
    ::freeaddrinfo(res);
    return loopback ? std::string(host) : std::string();
  }

  std::string ConfigHome() { return sb().Path("home/.config"); }
  std::string ChromiumPrefs() { return ConfigHome() + "/chromium/Default/Preferences"; }

  // A browser on its default profile: Chromium's user-data folder where it
  // keeps it by default (headless Chromium otherwise takes a throw-away
  // one), Firefox without a profile named.
  bool StartOnDefaultProfile(testsupport::ChildProcess& browser, const std::string& which,
                             const std::string& url) {
    std::vector<std::string> argv;
    if (which == "chromium")
      argv = {FChromium,
              "--headless",
              "--no-sandbox",
              "--disable-gpu",
              "--no-first-run",
              "--disable-background-networking",
              "--disable-component-update",
              "--disable-sync",
              "--disable-dev-shm-usage",
              "--user-data-dir=" + ConfigHome() + "/chromium",
              url};
    else
      argv = {FFirefox, "--headless", "--no-remote", url};
    return browser.Start(argv, sb().Path(which + "-" + std::to_string(++FRuns) + ".out"));
  }

  // The first run of both browsers, before the program starts: their
  // default profiles in the sandboxed home. Firefox counts a STUN address on
  // loopback only with media.peerconnection.ice.loopback, which the test
  // sets in the profiles' user.js (it only makes the test's address count).
  void MakeDefaultProfiles() {
    for (const std::string which : {"chromium", "firefox"}) {
      testsupport::ChildProcess browser;
      ASSERT_TRUE(StartOnDefaultProfile(browser, which, "about:blank"));
      const std::string made =
          which == "chromium" ? ChromiumPrefs() : ConfigHome() + "/mozilla/firefox/profiles.ini";
      testsupport::WaitUntil([&] { return platform::FileExists(made) || !browser.Running(); },
                             120000);
      // Ended as a user ends it, so that it writes its files.
      browser.Stop();
      ASSERT_TRUE(platform::FileExists(made)) << which << " made no default profile";
    }
    FFirefoxProfiles = FirefoxProfiles();
    ASSERT_FALSE(FFirefoxProfiles.empty());
    for (const TFirefoxProfile& p : FFirefoxProfiles)
      ASSERT_TRUE(
          platform::WriteWholeFile(p.Path + "/user.js",
                                   "user_pref(\"media.peerconnection.ice.loopback\", true);\n"));
  }

  // The files the program changes while hiding, as they are now.
  std::map<std::string, std::string> ProfileFiles() {
    std::map<std::string, std::string> files;
    std::vector<std::string> names = {ChromiumPrefs()};
    for (const TFirefoxProfile& p : FFirefoxProfiles) {
      names.push_back(p.Path + "/user.js");
      names.push_back(p.Path + "/prefs.js");
    }
    for (const std::string& n : names) {
      std::string bytes = "<missing>";
      platform::ReadWholeFile(n, bytes);
      files[n] = bytes;
    }
    return files;
  }

  // The user's own WebRTC values: Chromium's policy and every line of
  // Firefox's preference files that names the guard's preference.
  std::string WebRtcValues() {
    std::string values;
    std::string prefs;
    platform::ReadWholeFile(ChromiumPrefs(), prefs);
    const auto j = nlohmann::json::parse(prefs, nullptr, false);
    values += "chromium: ";
    values += j.is_object() && j.contains("webrtc") && j["webrtc"].contains("ip_handling_policy")
                  ? j["webrtc"]["ip_handling_policy"].dump()
                  : "unset";
    for (const TFirefoxProfile& p : FFirefoxProfiles)
      for (const char* file : {"/user.js", "/prefs.js"}) {
        std::string text;
        platform::ReadWholeFile(p.Path + file, text);
        TStringList lines;
        lines.SetText(text);
        for (const std::string& line : lines.Lines())
          if (line.find(FirefoxWebRtcPref) != std::string::npos) values += "\n" + line;
      }
    return values;
  }

  // One browser on its default profile opens the WebRTC page and ends once
  // the page has reported the end of its gathering (or, with untilDatagram,
  // once a datagram has arrived). True when the page reported.
  bool GatherWebRtc(const std::string& which, const std::string& host, int sitePort,
                    nettest::TestHttpServer& site, const std::string& name,
                    const std::function<bool()>& enough = nullptr) {
    testsupport::ChildProcess browser;
    if (!StartOnDefaultProfile(browser, which,
                               "http://" + host + ":" + std::to_string(sitePort) + "/webrtc-" +
                                   name))
      return false;
    auto reported = [&] {
      for (const nettest::Request& r : site.Requests())
        if (r.target.rfind("/done-" + name, 0) == 0) return true;
      return false;
    };
    testsupport::WaitUntil([&] { return reported() || (enough && enough()) || !browser.Running(); },
                           120000);
    browser.Stop();
    return reported() || (enough && enough());
  }

  std::string FChromium, FFirefox, FLastOutput;
  std::vector<TFirefoxProfile> FFirefoxProfiles;
  int FRuns = 0;
};

nettest::TestHttpServer WebRtcSite(int stunPort) {
  return nettest::TestHttpServer([stunPort](const nettest::Request& r, nettest::Connection& c) {
    if (r.target.rfind("/webrtc-", 0) == 0)
      c.Write(nettest::Response(200, WebRtcPage(stunPort, r.target.substr(8)),
                                "Content-Type: text/html\r\nConnection: close\r\n"));
    else
      c.Write(nettest::Response(204, "", "Connection: close\r\n"));
  });
}

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

// While hiding, no WebRTC datagram leaves either browser around the proxy;
// after the stop WebRTC works again and the user's own values are back.
TEST_F(BrowserHideTest, WebRtcKeepsToTheProxyWhileHiding) {
  ASSERT_NO_FATAL_FAILURE(FindBrowsers());
  testsupport::EnvGuard env("XDG_CONFIG_HOME", ConfigHome());
  ASSERT_TRUE(DesktopSettings(true)) << "GIO was already bound in this process";
  env.Set("XDG_CURRENT_DESKTOP", "GNOME");
  const std::string host = LoopbackHostName();
  if (host.empty()) GTEST_SKIP() << "this machine's name does not resolve to a loopback address";
  ASSERT_NO_FATAL_FAILURE(MakeDefaultProfiles());
  const std::string usersOwn = WebRtcValues();

  StunCounter stun;
  ASSERT_GT(stun.Port(), 0);
  nettest::TestHttpServer site = WebRtcSite(stun.Port());
  Start(2, {kRecords[0], kRecords[1]}, {}, {"TARGET_COUNTRY=US", "SWITCH.FF=1"});
  TfrmMain& w = Running();
  w.actVeilIP->Execute();
  ASSERT_TRUE(w.IsHiding());
  const std::string chosen = Proxy(w);
  EXPECT_TRUE(Boxes.Texts().empty()) << "no browser ran: nothing to restart";

  for (const std::string which : {"chromium", "firefox"}) {
    const int before = stun.Count();
    EXPECT_TRUE(GatherWebRtc(which, host, site.Port(), site, "hide-" + which))
        << which << " never finished gathering";
    EXPECT_EQ(stun.Count(), before) << which << " sent WebRTC datagrams around the proxy";
    EXPECT_EQ(ProxiesThatSaw("/webrtc-hide-" + which), std::vector<std::string>{chosen})
        << which << ": the page did not come through the chosen proxy";
  }

  Advance(2);
  w.actStopHide->Execute();
  ASSERT_FALSE(w.IsHiding());
  EXPECT_EQ(WebRtcValues(), usersOwn);

  for (const std::string which : {"chromium", "firefox"}) {
    const int before = stun.Count();
    GatherWebRtc(which, host, site.Port(), site, "stop-" + which,
                 [&] { return stun.Count() > before; });
    EXPECT_GT(stun.Count(), before) << which << ": WebRTC does not work again after the stop";
  }
}

// A browser running during the hide cannot take the setting: the user is
// told to restart it, and its file is left to it.
TEST_F(BrowserHideTest, BrowserRunningDuringTheHideIsNamed) {
  ASSERT_NO_FATAL_FAILURE(FindBrowsers());
  testsupport::EnvGuard env("XDG_CONFIG_HOME", ConfigHome());
  ASSERT_TRUE(DesktopSettings(true)) << "GIO was already bound in this process";
  env.Set("XDG_CURRENT_DESKTOP", "GNOME");
  ASSERT_NO_FATAL_FAILURE(MakeDefaultProfiles());
  testsupport::ChildProcess chromium;
  ASSERT_TRUE(StartOnDefaultProfile(chromium, "chromium", "about:blank"));
  ASSERT_TRUE(testsupport::WaitUntil(
      [&] { return platform::BrowserProfileInUse(ConfigHome() + "/chromium"); }, 120000));
  const std::string before = ProfileFiles()[ChromiumPrefs()];

  Start(1, {kRecords[0]}, {}, {"TARGET_COUNTRY=US"});
  TfrmMain& w = Running();
  w.actVeilIP->Execute();
  ASSERT_TRUE(w.IsHiding());
  ASSERT_EQ(Boxes.Texts().size(), 1u);
  EXPECT_NE(Boxes.Texts()[0].find("Chromium"), std::string::npos) << Boxes.Texts()[0];
  EXPECT_EQ(Boxes.Texts()[0].find("Firefox"), std::string::npos) << "Firefox is not running";
  EXPECT_EQ(ProfileFiles()[ChromiumPrefs()], before) << "written under a running Chromium";
  chromium.Stop();
  Advance(2);
  w.actStopHide->Execute();
}

// Where no browser ran in between, the stop and the start after a run
// killed while hiding leave every profile file exactly as it was.
TEST_F(BrowserHideTest, ProfilesBackByteForByteAfterStopAndAfterKill) {
  ASSERT_NO_FATAL_FAILURE(FindBrowsers());
  testsupport::EnvGuard env("XDG_CONFIG_HOME", ConfigHome());
  ASSERT_TRUE(DesktopSettings(true)) << "GIO was already bound in this process";
  env.Set("XDG_CURRENT_DESKTOP", "GNOME");
  ASSERT_NO_FATAL_FAILURE(MakeDefaultProfiles());
  const auto usersOwn = ProfileFiles();
  Start(1, {kRecords[0]}, {}, {"TARGET_COUNTRY=US"});
  {
    TfrmMain& w = Running();
    w.actVeilIP->Execute();
    ASSERT_TRUE(w.IsHiding());
    EXPECT_NE(ProfileFiles(), usersOwn) << "the hide changed no profile";
    Advance(2);
    w.actStopHide->Execute();
    EXPECT_EQ(ProfileFiles(), usersOwn);
    FWindow.reset();
  }
  // A run that hides and is killed (SIGKILL) before it can stop.
  const pid_t killed = testsupport::ForkChild([] {
    SetIEProxy("192.0.2.1:8080");
    KeepWebRtcToProxy();
    ::raise(SIGKILL);
    return 0;
  });
  EXPECT_EQ(testsupport::WaitChild(killed), -1) << "the run was to be killed";
  EXPECT_NE(ProfileFiles(), usersOwn) << "the killed run changed no profile";
  // The next start puts everything back.
  Running();
  EXPECT_EQ(ProfileFiles(), usersOwn);
  EXPECT_FALSE(platform::FileExists(SavedWebRtcFile()));
}

// KDE Plasma whose GSettings store is not shared between processes (the
// memory backend, no dconf): the desktop switch reaches KDE's kioslaverc,
// which Firefox does not read. The hide says so and offers to set the proxy
// in Firefox's own profile; accepted, Firefox on its default profile goes
// through the chosen proxy, and after the stop it goes direct again.
TEST_F(BrowserHideTest, KdeWithoutSharedStoreSetsFirefoxOwnProxy) {
  ASSERT_NO_FATAL_FAILURE(FindBrowsers());
  testsupport::EnvGuard env("XDG_CONFIG_HOME", ConfigHome());
  env.Set("GSETTINGS_BACKEND", "memory");
  ASSERT_TRUE(DesktopSettings(true)) << "GIO was already bound in this process";
  env.Set("XDG_CURRENT_DESKTOP", "KDE");
  env.Set("KDE_SESSION_VERSION", "5");
  ASSERT_NO_FATAL_FAILURE(MakeDefaultProfiles());
  const auto usersOwn = ProfileFiles();

  Start(2, {kRecords[0], kRecords[1]}, {}, {"TARGET_COUNTRY=US"});
  Boxes.Answer = mrYes;
  TfrmMain& w = Running();
  w.actVeilIP->Execute();
  ASSERT_TRUE(w.IsHiding());
  const std::string chosen = Proxy(w);
  EXPECT_EQ(platform::LastProxyReach(), unsigned(platform::kProxyReachKde));
  ASSERT_EQ(Boxes.Texts().size(), 1u) << "one notice";
  EXPECT_NE(Boxes.Texts()[0].find("Firefox ("), std::string::npos) << Boxes.Texts()[0];

  const std::string hidden = UniqueHost("kde-hide");
  testsupport::ChildProcess firefox;
  ASSERT_TRUE(StartOnDefaultProfile(firefox, "firefox", "http://" + hidden + "/"));
  testsupport::WaitUntil([&] { return !ProxiesThatSaw(hidden).empty() || !firefox.Running(); },
                         120000);
  firefox.Stop();
  EXPECT_EQ(ProxiesThatSaw(hidden), std::vector<std::string>{chosen})
      << "Firefox did not go through the chosen proxy";

  Advance(2);
  w.actStopHide->Execute();
  // Firefox ended in between: its prefs.js took the values and gave them
  // back; user.js is the test's own again, byte for byte.
  for (const TFirefoxProfile& p : FFirefoxProfiles) {
    EXPECT_EQ(ProfileFiles()[p.Path + "/user.js"], usersOwn.at(p.Path + "/user.js"));
    EXPECT_EQ(FirefoxProxyType(p.Path), 5) << p.Path;
  }
  // Back to the desktop's settings: a site on this machine is reached
  // directly, past every proxy.
  const std::string host = LoopbackHostName();
  if (host.empty()) return;  // no name of this machine to reach it by
  nettest::TestHttpServer site([](const nettest::Request&, nettest::Connection& c) {
    c.Write(nettest::Response(200, "<html><body>direct</body></html>",
                              "Content-Type: text/html\r\nConnection: close\r\n"));
  });
  const std::string path = "/" + UniqueHost("kde-stop");
  auto reached = [&] {
    for (const nettest::Request& r : site.Requests())
      if (r.target == path) return true;
    return false;
  };
  testsupport::ChildProcess again;
  ASSERT_TRUE(StartOnDefaultProfile(again, "firefox",
                                    "http://" + host + ":" + std::to_string(site.Port()) + path));
  testsupport::WaitUntil(
      [&] { return reached() || !ProxiesThatSaw(path).empty() || !again.Running(); }, 120000);
  again.Stop();
  EXPECT_TRUE(reached()) << "Firefox did not reach the site directly";
  EXPECT_TRUE(ProxiesThatSaw(path).empty()) << "Firefox still goes through a proxy";
}
