// WebRTC kept to the proxy while hiding: the browser profiles of a sandboxed
// home (Chromium-family Preferences under the config folder, Firefox
// profiles of ~/.mozilla/firefox/profiles.ini) get their preference at the
// hide and exactly the user's own back afterwards, whatever the browsers did
// in between.
#include <gtest/gtest.h>

#include <map>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "platform/Files.h"
#include "switch/WebRtcGuard.h"
#include "switch/uVGUtils.h"
#include "SwitchTestSupport.h"

using namespace switchtest;
using ordered_json = nlohmann::ordered_json;

namespace {

const std::string kFirefoxLine =
    "user_pref(\"media.peerconnection.ice.proxy_only_if_behind_proxy\", true);";

// A user's Chromium preferences: other keys around, a "webrtc" group that
// holds something else already, text outside ASCII.
const std::string kChromiumPrefs =
    R"({"browser":{"window_placement":{"bottom":900,"left":10}},"webrtc":{"multiple_routes_enabled":false},"profile":{"name":"Persönlich","exit_type":"Normal"},"zoom":1.25})";

class WebRtcGuardTest : public SwitchTest {
 protected:
  void SetUp() override {
    SwitchTest::SetUp();
    Settings({"SWITCH.WEBRTC=1"});
  }

  // A Chromium-family profile; rel is the user-data folder under the config
  // folder, profile the profile's folder inside it ("" for Opera's layout).
  std::string Chromium(const std::string& rel, const std::string& profile,
                       const std::string& prefs = kChromiumPrefs) {
    const std::string file =
        "config/" + rel + (profile.empty() ? "" : "/" + profile) + "/Preferences";
    sb().WriteFile(file, prefs);
    return file;
  }
  // Firefox profiles in profiles.ini; each with its user.js when given.
  void Firefox(const std::vector<std::pair<std::string, std::string>>& profiles) {
    std::string ini = "[General]\nStartWithLastProfile=1\n\n";
    int i = 0;
    for (const auto& [name, userJs] : profiles) {
      ini += "[Profile" + std::to_string(i++) + "]\nName=" + name + "\nIsRelative=1\nPath=p." +
             name + "\n\n";
      platform::ForceDirectories(sb().Path(FRoot + "/p." + name));
      sb().WriteFile(FRoot + "/p." + name + "/prefs.js",
                     "// Mozilla User Preferences\nuser_pref(\"browser.startup.page\", 3);\n");
      if (!userJs.empty()) sb().WriteFile(FRoot + "/p." + name + "/user.js", userJs);
    }
    ini += "[Install4F96D1932A9F858E]\nDefault=p.default\nLocked=1\n";
    sb().WriteFile(FRoot + "/profiles.ini", ini);
  }
  std::string FF(const std::string& name, const std::string& file) {
    return FRoot + "/p." + name + "/" + file;
  }
  // Where the profiles are: the folder of older installations.
  std::string FRoot = "home/.mozilla/firefox";
  bool Exists(const std::string& rel) { return platform::FileExists(sb().Path(rel)); }

  static ordered_json Parse(const std::string& text) {
    return ordered_json::parse(text, nullptr, false);
  }
  static std::string Policy(const std::string& text) {
    const ordered_json j = Parse(text);
    if (!j.is_object() || !j.contains("webrtc") || !j["webrtc"].contains("ip_handling_policy"))
      return "<unset>";
    return j["webrtc"]["ip_handling_policy"].dump();
  }
  // A lock link as the browser makes it, naming a process.
  void Lock(const std::string& relFolder, const std::string& name, const std::string& target) {
    platform::ForceDirectories(sb().Path(relFolder));
    ASSERT_EQ(::symlink(target.c_str(), sb().Path(relFolder + "/" + name).c_str()), 0);
  }
  static std::string Host() {
    char host[256] = {0};
    ::gethostname(host, sizeof host - 1);
    return host;
  }
  // The id of a process that has ended.
  static pid_t DeadPid() {
    pid_t pid = ::fork();
    if (pid == 0) ::_exit(0);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return pid;
  }
};

// The user hides and stops with every kind of profile present and no
// browser running in between: each profile holds the preference while
// hiding, and afterwards every file is back byte for byte.
TEST_F(WebRtcGuardTest, HideSetsEveryProfileAndStopPutsBackEveryByte) {
  struct Profile {
    std::string browser, file;
  };
  const std::vector<Profile> chromium = {
      {"Chromium", Chromium("chromium", "Default")},
      {"Brave", Chromium("BraveSoftware/Brave-Browser", "Default")},
      {"Opera", Chromium("opera", "")},
  };
  Firefox({{"default", ""}, {"work", "user_pref(\"browser.tabs.warnOnClose\", false);"}});
  std::map<std::string, std::string> before;
  for (const std::string& rel :
       {chromium[0].file, chromium[1].file, chromium[2].file, FF("work", "user.js"),
        FF("default", "prefs.js"), FF("work", "prefs.js")})
    before[rel] = sb().ReadFile(rel);

  const TWebRtcReport report = KeepWebRtcToProxy();
  EXPECT_TRUE(report.AllCovered());
  EXPECT_EQ(report.Covered, (std::vector<std::string>{"Chromium", "Brave", "Opera",
                                                      "Firefox (default)", "Firefox (work)"}));
  for (const Profile& p : chromium) {
    const ordered_json now = Parse(sb().ReadFile(p.file));
    EXPECT_EQ(Policy(sb().ReadFile(p.file)), "\"disable_non_proxied_udp\"") << p.browser;
    // Every other key is kept, in its order.
    ordered_json expected = Parse(kChromiumPrefs);
    expected["webrtc"]["ip_handling_policy"] = "disable_non_proxied_udp";
    EXPECT_EQ(now, expected) << p.browser;
  }
  EXPECT_EQ(sb().ReadFile(FF("default", "user.js")), kFirefoxLine + "\n");
  EXPECT_EQ(sb().ReadFile(FF("work", "user.js")),
            "user_pref(\"browser.tabs.warnOnClose\", false);\n" + kFirefoxLine + "\n");
  // The user's values wait in a private file.
  struct stat st {};
  ASSERT_EQ(::stat(SavedWebRtcFile().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  // A second hide (the periodic change of proxy) keeps the first record.
  KeepWebRtcToProxy();

  EXPECT_TRUE(PutBackWebRtc());
  for (const auto& [rel, bytes] : before) EXPECT_EQ(sb().ReadFile(rel), bytes) << rel;
  EXPECT_FALSE(Exists(FF("default", "user.js"))) << "made by the hide, gone with the stop";
  EXPECT_FALSE(platform::FileExists(SavedWebRtcFile()));
  // Nothing kept, nothing to put back: the next start leaves the files alone.
  EXPECT_FALSE(PutBackWebRtc());
  for (const auto& [rel, bytes] : before) EXPECT_EQ(sb().ReadFile(rel), bytes) << rel;
}

// Browsers started and ended while hiding rewrote their files: Chromium its
// whole Preferences (with the policy it read), Firefox its prefs.js (with the
// value user.js set). Only the preference goes back; the rest stays as the
// browsers left it, and a value the user had set before comes back.
TEST_F(WebRtcGuardTest, FilesBrowsersRewroteGetOnlyThePreferenceBack) {
  struct Case {
    const char* name;
    std::string prefs;         // the user's Preferences
    std::string expectPolicy;  // after the stop
  };
  const std::vector<Case> cases = {
      {"unset", kChromiumPrefs, "<unset>"},
      {"own value", R"({"webrtc":{"ip_handling_policy":"default_public_interface_only"}})",
       "\"default_public_interface_only\""},
      {"no webrtc group", R"({"profile":{"name":"x"}})", "<unset>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string file = Chromium("chromium", "Default", c.prefs);
    Firefox({{"default", ""}});
    sb().WriteFile(FF("default", "prefs.js"),
                   "// Mozilla User Preferences\n"
                   "user_pref(\"media.peerconnection.ice.proxy_only_if_behind_proxy\", false);\n"
                   "user_pref(\"browser.startup.page\", 3);\n");
    ASSERT_TRUE(KeepWebRtcToProxy().AllCovered());

    // Chromium ran: a new key, its own layout.
    ordered_json running = Parse(sb().ReadFile(file));
    running["session"] = {{"restore_on_startup", 1}};
    sb().WriteFile(file, running.dump(3));
    // Firefox ran: user.js's value copied into prefs.js.
    sb().WriteFile(FF("default", "prefs.js"),
                   "// Mozilla User Preferences\n"
                   "user_pref(\"browser.startup.page\", 3);\n"
                   "user_pref(\"media.peerconnection.ice.proxy_only_if_behind_proxy\", true);\n"
                   "user_pref(\"browser.download.dir\", \"/tmp\");\n");

    EXPECT_TRUE(PutBackWebRtc());
    const std::string after = sb().ReadFile(file);
    EXPECT_EQ(Policy(after), c.expectPolicy);
    EXPECT_EQ(Parse(after)["session"]["restore_on_startup"], 1);
    EXPECT_EQ(Parse(after).contains("webrtc"), Parse(c.prefs).contains("webrtc"));
    EXPECT_EQ(sb().ReadFile(FF("default", "prefs.js")),
              "// Mozilla User Preferences\n"
              "user_pref(\"browser.startup.page\", 3);\n"
              "user_pref(\"media.peerconnection.ice.proxy_only_if_behind_proxy\", false);\n"
              "user_pref(\"browser.download.dir\", \"/tmp\");\n");
    EXPECT_FALSE(Exists(FF("default", "user.js")));
  }
}

// A browser running at the hide is named so the user can restart it. A
// running Chromium is not written (it would overwrite the file from memory)
// and gets the setting at a later hide once it has ended; Firefox reads
// user.js only when it starts, so it is written all the same. At the stop a
// running browser keeps its file until it has ended: the next put-back
// (stop, exit, start) finishes it. A lock left by a crashed browser counts
// for nothing.
TEST_F(WebRtcGuardTest, RunningBrowsersAreNamedAndPutBackOnceEnded) {
  const std::string chromium = Chromium("chromium", "Default");
  const std::string vivaldi = Chromium("vivaldi", "Default");
  Firefox({{"default", ""}});
  const std::string live = std::to_string(::getpid());
  ASSERT_NO_FATAL_FAILURE(Lock("config/chromium", "SingletonLock", Host() + "-" + live));
  ASSERT_NO_FATAL_FAILURE(
      Lock("config/vivaldi", "SingletonLock", Host() + "-" + std::to_string(DeadPid())));
  ASSERT_NO_FATAL_FAILURE(Lock(FRoot + "/p.default", "lock", "127.0.0.1:+" + live));

  TWebRtcReport report = KeepWebRtcToProxy();
  EXPECT_EQ(report.Restart, (std::vector<std::string>{"Chromium", "Firefox (default)"}));
  EXPECT_EQ(report.Covered, std::vector<std::string>{"Vivaldi"}) << "a stale lock is no browser";
  EXPECT_EQ(sb().ReadFile(chromium), kChromiumPrefs);
  EXPECT_EQ(sb().ReadFile(FF("default", "user.js")), kFirefoxLine + "\n");

  // Chromium has ended by the next hide.
  platform::DeleteFileAt(sb().Path("config/chromium/SingletonLock"));
  report = KeepWebRtcToProxy();
  EXPECT_EQ(Policy(sb().ReadFile(chromium)), "\"disable_non_proxied_udp\"");

  // Stop with Chromium and Firefox running again (started while hiding).
  ASSERT_NO_FATAL_FAILURE(Lock("config/chromium", "SingletonLock", Host() + "-" + live));
  sb().WriteFile(FF("default", "prefs.js"), kFirefoxLine + "\n");
  EXPECT_FALSE(PutBackWebRtc());
  EXPECT_EQ(Policy(sb().ReadFile(chromium)), "\"disable_non_proxied_udp\"");
  EXPECT_EQ(sb().ReadFile(vivaldi), kChromiumPrefs);
  EXPECT_FALSE(Exists(FF("default", "user.js"))) << "user.js goes back at once";
  EXPECT_TRUE(platform::FileExists(SavedWebRtcFile()));

  // Both have ended: the next start finishes the put-back.
  platform::DeleteFileAt(sb().Path("config/chromium/SingletonLock"));
  platform::DeleteFileAt(sb().Path(FRoot + "/p.default/lock"));
  EXPECT_TRUE(PutBackWebRtc());
  EXPECT_EQ(sb().ReadFile(chromium), kChromiumPrefs);
  EXPECT_EQ(sb().ReadFile(FF("default", "prefs.js")), "");
  EXPECT_FALSE(platform::FileExists(SavedWebRtcFile()));
}

// Files the guard must not damage: preferences that are not the JSON
// expected stay untouched, byte for byte, while the other profiles are
// covered; a saved copy that cannot be read is dropped and nothing is
// written from it.
TEST_F(WebRtcGuardTest, DamagedFilesAreLeftAlone) {
  const std::vector<std::pair<std::string, std::string>> bad = {
      {"chromium", "{\"browser\": {\"window_placement\""},
      {"google-chrome", R"({"webrtc": "not a group"})"},
      {"microsoft-edge", "[1, 2, 3]"},
      {"vivaldi", std::string("{\"name\":\"\xff\xfe\"}")},
  };
  for (const auto& [rel, text] : bad) Chromium(rel, "Default", text);
  const std::string brave = Chromium("BraveSoftware/Brave-Browser", "Default");

  const TWebRtcReport report = KeepWebRtcToProxy();
  EXPECT_EQ(report.Covered, std::vector<std::string>{"Brave"});
  EXPECT_EQ(report.Failed.size(), bad.size());
  for (const auto& [rel, text] : bad)
    EXPECT_EQ(sb().ReadFile("config/" + rel + "/Default/Preferences"), text) << rel;

  // The saved copy damaged (a full disk, an editor): it is dropped, and the
  // preference the hide set stays rather than a guess being written.
  ASSERT_TRUE(platform::WriteWholeFile(SavedWebRtcFile(), "{\"profiles\": ["));
  EXPECT_FALSE(PutBackWebRtc());
  EXPECT_FALSE(platform::FileExists(SavedWebRtcFile()));
  EXPECT_EQ(Policy(sb().ReadFile(brave)), "\"disable_non_proxied_udp\"");
}

// The user's choices win: with "Keep WebRTC from revealing my address" off
// no profile is touched (and a hide from before the change is put back);
// a value the user set while hiding stays theirs.
TEST_F(WebRtcGuardTest, TheUsersChoicesWin) {
  const std::string file = Chromium("chromium", "Default");
  Firefox({{"default", "user_pref(\"a\", 1);\n"}});
  ASSERT_FALSE(KeepWebRtcToProxy().Covered.empty());

  Settings({"SWITCH.WEBRTC=0"});
  EXPECT_TRUE(KeepWebRtcToProxy().Covered.empty());
  EXPECT_EQ(sb().ReadFile(file), kChromiumPrefs);
  EXPECT_EQ(sb().ReadFile(FF("default", "user.js")), "user_pref(\"a\", 1);\n");
  EXPECT_TRUE(KeepWebRtcToProxy().Covered.empty());
  EXPECT_EQ(sb().ReadFile(file), kChromiumPrefs);

  Settings({"SWITCH.WEBRTC=1"});
  KeepWebRtcToProxy();
  // The user chose another policy in Chromium, and edited user.js.
  ordered_json theirs = Parse(sb().ReadFile(file));
  theirs["webrtc"]["ip_handling_policy"] = "default";
  sb().WriteFile(file, theirs.dump());
  sb().WriteFile(FF("default", "user.js"), "user_pref(\"b\", 2);\n");
  EXPECT_TRUE(PutBackWebRtc());
  EXPECT_EQ(Policy(sb().ReadFile(file)), "\"default\"");
  EXPECT_EQ(sb().ReadFile(FF("default", "user.js")), "user_pref(\"b\", 2);\n");
}

// Where Firefox cannot follow the desktop's proxy (KDE without a shared
// GSettings store) the user lets the program set the proxy in Firefox's own
// profiles: those following the system proxy get it, a profile with the
// user's own proxy choice is left alone, each new proxy replaces the last,
// and the stop takes it all out again, also from the prefs.js Firefox wrote
// meanwhile. Profiles live where current Firefox makes them (the XDG config
// folder) when there is no ~/.mozilla.
TEST_F(WebRtcGuardTest, FirefoxOutOfReachGetsTheProxyInItsOwnProfiles) {
  FRoot = "config/mozilla/firefox";
  Firefox({{"default", ""}, {"manual", "user_pref(\"network.proxy.type\", 1);\n"}});
  const std::string prefsBefore = sb().ReadFile(FF("default", "prefs.js"));
  ASSERT_EQ(KeepWebRtcToProxy().Covered,
            (std::vector<std::string>{"Firefox (default)", "Firefox (manual)"}));

  // Refused: anything but an address and a port.
  for (const std::string bad : {"192.0.2.7", "host\");evil(\":80", "a b:1", ":3128"}) {
    EXPECT_TRUE(KeepFirefoxOnProxy(bad).Covered.empty()) << bad;
    EXPECT_EQ(sb().ReadFile(FF("default", "user.js")), kFirefoxLine + "\n") << bad;
  }
  EXPECT_EQ(KeepFirefoxOnProxy("192.0.2.7:3128").Covered,
            std::vector<std::string>{"Firefox (default)"});
  KeepWebRtcToProxy();
  EXPECT_EQ(KeepFirefoxOnProxy("192.0.2.8:8080").Covered,
            std::vector<std::string>{"Firefox (default)"});
  const std::string user = sb().ReadFile(FF("default", "user.js"));
  EXPECT_EQ(user.find("192.0.2.7"), std::string::npos) << user;
  EXPECT_NE(user.find("user_pref(\"network.proxy.http\", \"192.0.2.8\");"), std::string::npos);
  EXPECT_NE(user.find("user_pref(\"network.proxy.ssl_port\", 8080);"), std::string::npos);
  EXPECT_NE(user.find(kFirefoxLine), std::string::npos);
  EXPECT_EQ(sb().ReadFile(FF("manual", "user.js")),
            "user_pref(\"network.proxy.type\", 1);\n" + kFirefoxLine + "\n");
  // The program's own lines are not the user's choice: the profile still
  // counts as following the desktop.
  EXPECT_EQ(FirefoxProxyType(sb().Path(FF("default", ""))), 5);
  ASSERT_EQ(FirefoxProfilesNotFollowingDesktop().size(), 1u);
  EXPECT_EQ(FirefoxProfilesNotFollowingDesktop()[0].Name, "manual");

  // Firefox ran and copied the values into prefs.js.
  sb().WriteFile(FF("default", "prefs.js"),
                 prefsBefore +
                     "user_pref(\"network.proxy.type\", 1);\n"
                     "user_pref(\"network.proxy.http\", \"192.0.2.8\");\n" +
                     kFirefoxLine + "\n");
  EXPECT_TRUE(PutBackWebRtc());
  EXPECT_FALSE(Exists(FF("default", "user.js")));
  EXPECT_EQ(sb().ReadFile(FF("default", "prefs.js")), prefsBefore);
  EXPECT_EQ(sb().ReadFile(FF("manual", "user.js")), "user_pref(\"network.proxy.type\", 1);\n");
}

// The policy goes into the user's own text in place, whatever its layout:
// the written file equals the user's preferences with the policy set (the
// order and every other byte kept), and the stop gives back every byte.
// A file that has the policy already is not written, and nothing is kept
// for it.
TEST_F(WebRtcGuardTest, ThePolicyGoesIntoTheUsersTextInPlace) {
  struct Case {
    const char* name;
    std::string prefs;
    bool written;  // false: the policy was set already
  };
  const std::vector<Case> cases = {
      {"empty object", "{}", true},
      {"spaces and lines", "{\n  \"a\" : [1, {\"b\": \"}\"}],\n  \"c\": \"\\\"x\"\n}\n", true},
      {"empty webrtc group", R"({"webrtc":{},"z":1})", true},
      {"webrtc group pretty", "{\"webrtc\": {\n   \"x\": true\n}, \"y\": null}", true},
      {"own string value", R"({"webrtc":{"ip_handling_policy":"default","n":2}})", true},
      {"own odd value", R"({"webrtc":{"ip_handling_policy":{"nested":[1,2]}}})", true},
      {"duplicate groups: the last counts", R"({"webrtc":{"a":1},"webrtc":{"b":2}})", true},
      {"escaped name", R"({"web\u0072tc":{"ip_handling_policy":"default"}})", true},
      {"set by the user", R"({"webrtc":{"ip_handling_policy":"disable_non_proxied_udp"},"k":"v"})",
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string file = Chromium("chromium", "Default", c.prefs);
    ASSERT_EQ(KeepWebRtcToProxy().Covered, std::vector<std::string>{"Chromium"});
    const std::string during = sb().ReadFile(file);
    ordered_json expected = Parse(c.prefs);
    expected["webrtc"]["ip_handling_policy"] = "disable_non_proxied_udp";
    EXPECT_EQ(Parse(during), expected) << during;
    EXPECT_EQ(during == c.prefs, !c.written) << during;
    EXPECT_EQ(platform::FileExists(SavedWebRtcFile()), c.written);
    // A second hide finds it set and writes nothing.
    KeepWebRtcToProxy();
    EXPECT_EQ(sb().ReadFile(file), during);
    EXPECT_EQ(PutBackWebRtc(), c.written);
    EXPECT_EQ(sb().ReadFile(file), c.prefs);
    EXPECT_FALSE(platform::FileExists(SavedWebRtcFile()));
  }
}

// The saved copy keeps the change, not the files: a profile used for years
// (preferences of megabytes) costs the copy a few hundred bytes, and a run
// killed between the copy and the browser file finds the file as the user
// left it and leaves it so.
TEST_F(WebRtcGuardTest, TheSavedCopyKeepsTheChangeNotTheFiles) {
  std::string big = R"({"extensions":{"settings":{)";
  for (int i = 0; i < 20000; ++i)
    big += (i ? "," : "") + ("\"ext" + std::to_string(i) + "\":{\"state\":1,\"path\":\"/x\"}");
  big += R"(}},"webrtc":{"ip_handling_policy":"default"}})";
  const std::string file = Chromium("chromium", "Default", big);
  ASSERT_TRUE(KeepWebRtcToProxy().AllCovered());
  ASSERT_GT(big.size(), 500000u);
  EXPECT_LT(platform::FileSize(SavedWebRtcFile()), 1000);
  EXPECT_EQ(Policy(sb().ReadFile(file)), "\"disable_non_proxied_udp\"");

  // Killed after the copy was written, before the browser file was: the
  // put-back sees the user's own file and keeps it.
  sb().WriteFile(file, big);
  EXPECT_TRUE(PutBackWebRtc());
  EXPECT_EQ(sb().ReadFile(file), big);

  // The same size, one byte different (the browser changed a value while
  // hiding): only the policy goes back, the browser's byte stays.
  ASSERT_TRUE(KeepWebRtcToProxy().AllCovered());
  std::string changed = sb().ReadFile(file);
  const size_t at = changed.find("\"state\":1");
  ASSERT_NE(at, std::string::npos);
  changed[at + 8] = '0';
  sb().WriteFile(file, changed);
  EXPECT_TRUE(PutBackWebRtc());
  const std::string after = sb().ReadFile(file);
  EXPECT_EQ(Policy(after), "\"default\"");
  EXPECT_EQ(Parse(after)["extensions"]["settings"]["ext0"]["state"], 0);
}

// A copy left by an earlier version of the program (whole files in
// hexadecimal) is still put back byte for byte.
TEST_F(WebRtcGuardTest, ACopyOfWholeFilesIsStillPutBack) {
  const std::string written =
      R"({"webrtc":{"multiple_routes_enabled":false,"ip_handling_policy":"disable_non_proxied_udp"}})";
  const std::string original = R"({"webrtc":{"multiple_routes_enabled":false}})";
  const std::string file = Chromium("chromium", "Default", written);
  const auto hex = [](const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes) {
      static const char* const d = "0123456789abcdef";
      out += d[c >> 4];
      out += d[c & 15];
    }
    return out;
  };
  nlohmann::json copy = {{"profiles",
                          {{{"kind", "chromium"},
                            {"browser", "Chromium"},
                            {"folder", sb().Path("config/chromium")},
                            {"file", sb().Path(file)},
                            {"original", hex(original)},
                            {"written", hex(written)}}}}};
  platform::ForceDirectories(SavedWebRtcFile().substr(0, SavedWebRtcFile().rfind('/')));
  ASSERT_TRUE(platform::WriteWholeFile(SavedWebRtcFile(), copy.dump()));
  EXPECT_TRUE(PutBackWebRtc());
  EXPECT_EQ(sb().ReadFile(file), original);
}

}  // namespace
