// The Firefox switch, driven against a fake Firefox: a script that appends
// its argument vector to a log.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "platform/Files.h"
#include "platform/Process.h"
#include "platform/Registry.h"
#include "platform/System.h"
#include "switch/uVGUtils.h"
#include "SwitchTestSupport.h"

using namespace switchtest;

namespace {

class FirefoxTest : public SwitchTest {
 protected:
  void SetUp() override {
    SwitchTest::SetUp();
    // The extension file the commands need, and a search path that holds
    // only what a test puts there (the machine may have a real Firefox).
    sb().WriteFile("app/ffextension.xpi", "extension");
    platform::ForceDirectories(sb().Path("path"));
    const char* path = std::getenv("PATH");
    FSystemPath = path ? path : "/usr/bin:/bin";
    FPath.Set("PATH", sb().Path("path").c_str());
  }
  // A fake Firefox at rel (inside the sandbox) logging to "firefox.log":
  // one block per start, "argc=N", an "arg=" line per argument, "end".
  std::string MakeFakeFirefox(const std::string& rel) {
    const std::string log = sb().Path("firefox.log");
    sb().WriteFile(rel,
                   "#!/bin/sh\n"
                   "out=\"argc=$#\n\"\n"
                   "for a in \"$@\"; do out=\"${out}arg=$a\n\"; done\n"
                   "printf '%send\\n' \"$out\" >> '" +
                       log + "'\n");
    ::chmod(sb().Path(rel).c_str(), 0755);
    return sb().Path(rel);
  }
  std::string Log() { return sb().ReadFile("firefox.log"); }
  size_t Starts() {
    std::string log = Log();
    size_t n = 0;
    for (size_t p = log.find("end\n"); p != std::string::npos; p = log.find("end\n", p + 1)) ++n;
    return n;
  }
  // Waits (bounded) until the fake Firefox has been started n times in all.
  bool WaitStarts(size_t n) {
    return WaitUntil([&] { return Starts() >= n; }, 10000);
  }
  static std::string Block(const std::vector<std::string>& args) {
    std::string b = "argc=" + std::to_string(args.size()) + "\n";
    for (const std::string& a : args) b += "arg=" + a + "\n";
    return b + "end\n";
  }
  EnvGuard FPath;
  std::string FSystemPath;
};

const char* const kMozillaKey = "SOFTWARE\\Mozilla\\Mozilla Firefox";

}  // namespace

TEST(FirefoxArguments, TextsCharacterForCharacter) {
  EXPECT_EQ(
      FirefoxSetProxyArguments("192.0.2.5", "3128"),
      "-silent -nosplash -chrome \"chrome://veilip/content/veilip.xul?ssl=&proxy=192.0.2.5&port=3128\"");
  EXPECT_STREQ(FirefoxClearProxyArguments,
               "-silent -nosplash -chrome \"chrome://veilip/content/veilip.xul?clear\"");
  EXPECT_STREQ(FirefoxClearCookiesArguments,
               "-silent -nosplash -chrome \"chrome://veilip/content/veilip.xul?cc\"");
  EXPECT_EQ(FirefoxInstallArguments("C:\\Program Files\\Veilgate\\"),
            "\"C:\\Program Files\\Veilgate\\ffextension.xpi\"");
  // The command line splits back into the program and these arguments.
  std::vector<std::string> args =
      platform::SplitCommandLine("\"C:\\Program Files\\Mozilla Firefox\\firefox.exe\" " +
                                 std::string(FirefoxClearProxyArguments));
  EXPECT_EQ(args, (std::vector<std::string>{"C:\\Program Files\\Mozilla Firefox\\firefox.exe",
                                            "-silent", "-nosplash", "-chrome",
                                            "chrome://veilip/content/veilip.xul?clear"}));
}

TEST(FirefoxArguments, SafeProxySplit) {
  std::string a, p;
  ASSERT_TRUE(SplitSafeProxy("192.0.2.5:3128", a, p));
  EXPECT_EQ(a, "192.0.2.5");
  EXPECT_EQ(p, "3128");
  ASSERT_TRUE(SplitSafeProxy("proxy-1.example.org:80", a, p));
  EXPECT_EQ(a, "proxy-1.example.org");
  for (const char* bad :
       {"1.2.3.4\" -profile \"/tmp/x:8080", "1.2.3.4:80\" -profile \"/tmp/x", "1.2.3.4:80 -P x",
        "1.2.3.4", "1.2.3.4:", ":80", "1.2.3.4:80:81", "1.2.3.4:-80", "a&b:80", "1.2.3.4:８０", ""})
    EXPECT_FALSE(SplitSafeProxy(bad, a, p)) << bad;
}

TEST_F(FirefoxTest, PathLookupRules) {
  const std::string mozilla = MakeFakeFirefox("mozilla/firefox");
  const std::string foxbeamDir = sb().Path("foxbeam");
  MakeFakeFirefox("foxbeam/Foxbeam.exe");
  const std::string setting = MakeFakeFirefox("setting/firefox");

  // Nothing known: no Firefox.
  EXPECT_EQ(GetFirefoxPath(), "");
  EXPECT_FALSE(IsFirefoxInstalled());

  // The Mozilla key gives the path, which is then remembered.
  platform::RegWriteString(RegRoot::LocalMachine, kMozillaKey, "CurrentVersion", "115.0 (en-US)");
  platform::RegWriteString(RegRoot::LocalMachine,
                           std::string(kMozillaKey) + "\\115.0 (en-US)\\Main", "PathToExe",
                           mozilla);
  EXPECT_EQ(GetFirefoxPath(), mozilla);
  EXPECT_TRUE(IsFirefoxInstalled());
  EXPECT_EQ(GetCLSettings()->GetSettingString("FireFoxPath"), mozilla);

  // With both keys the Foxbeam folder wins over a stored path that is gone.
  platform::RegWriteString(RegRoot::CurrentUser, "Software\\Foxbeam", "", foxbeamDir);
  platform::DeleteFileAt(mozilla);
  EXPECT_EQ(GetFirefoxPath(), foxbeamDir + "/Foxbeam.exe");
  EXPECT_EQ(GetCLSettings()->GetSettingString("FireFoxPath"), foxbeamDir + "/Foxbeam.exe");

  // A stored path that exists is used without looking at the keys.
  GetCLSettings()->SetSettingString("FireFoxPath", setting);
  EXPECT_EQ(GetFirefoxPath(), setting);

  // A registry path that does not exist is returned but not stored.
  platform::RegDeleteKey(RegRoot::CurrentUser, "Software\\Foxbeam");
  platform::DeleteFileAt(setting);
  EXPECT_EQ(GetFirefoxPath(), mozilla);
  EXPECT_EQ(GetCLSettings()->GetSettingString("FireFoxPath"), setting);
}

TEST_F(FirefoxTest, StalePathIsInstalledButStartsNothing) {
  const std::string stale = sb().Path("gone/firefox");
  Settings({"FireFoxPath=" + stale, "SWITCH.FF=1"});
  EXPECT_EQ(GetFirefoxPath(), stale);
  EXPECT_TRUE(IsFirefoxInstalled());
  EXPECT_FALSE(IsFirefoxRunning());
  EXPECT_FALSE(InstallFirefoxExtension());
  SetFirefoxProxy("192.0.2.5:3128");  // fails silently
  LogCapture log("uVGUtils");
  ClearFirefoxCookies();  // the file does not exist: no trace, no start
  EXPECT_TRUE(log.Lines().empty());
}

TEST_F(FirefoxTest, CommandLinesReachFirefox) {
  // A Firefox in a folder with a space: the path is quoted as one argument.
  const std::string firefox = MakeFakeFirefox("Mozilla Firefox/firefox");
  Settings({"FireFoxPath=" + firefox, "SWITCH.FF=1"});

  EXPECT_TRUE(InstallFirefoxExtension());
  ASSERT_TRUE(WaitStarts(1));
  std::string expected = Block({sb().AppDir() + "ffextension.xpi"});
  EXPECT_EQ(Log(), expected);

  SetFirefoxProxy("192.0.2.5:3128");
  ASSERT_TRUE(WaitStarts(2));
  expected += Block({"-silent", "-nosplash", "-chrome",
                     "chrome://veilip/content/veilip.xul?ssl=&proxy=192.0.2.5&port=3128"});
  EXPECT_EQ(Log(), expected);

  SetFirefoxProxy("");
  ASSERT_TRUE(WaitStarts(3));
  const std::string clear =
      Block({"-silent", "-nosplash", "-chrome", "chrome://veilip/content/veilip.xul?clear"});
  expected += clear;
  EXPECT_EQ(Log(), expected);

  {
    LogCapture log("uVGUtils");
    ClearFirefoxCookies();
    ASSERT_TRUE(WaitStarts(4));
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{"cmd", "SP_CreateProcess"}));
  }
  expected += Block({"-silent", "-nosplash", "-chrome", "chrome://veilip/content/veilip.xul?cc"});
  EXPECT_EQ(Log(), expected);

  // With the option off a hide call clears Firefox's proxy.
  Settings({"FireFoxPath=" + firefox, "SWITCH.FF=0"});
  SetFirefoxProxy("192.0.2.5:3128");
  ASSERT_TRUE(WaitStarts(5));
  expected += clear;
  EXPECT_EQ(Log(), expected);
}

TEST_F(FirefoxTest, HostileAddressLaunchesNothing) {
  const std::string firefox = MakeFakeFirefox("firefox");
  const std::string victim = sb().Path("victim-profile");
  Settings({"FireFoxPath=" + firefox, "SWITCH.FF=1"});
  SetFirefoxProxy("1.2.3.4\" -profile \"" + victim + ":8080");
  SetFirefoxProxy("1.2.3.4:8080\" -profile \"" + victim);
  SetFirefoxProxy("1.2.3.4:8080 -new-instance");
  // A harmless start afterwards shows that the log would have caught them.
  SetFirefoxProxy("");
  ASSERT_TRUE(WaitStarts(1));
  platform::SleepMs(300);
  EXPECT_EQ(Log(),
            Block({"-silent", "-nosplash", "-chrome", "chrome://veilip/content/veilip.xul?clear"}));
  EXPECT_FALSE(sb().Exists("victim-profile"));
}

TEST_F(FirefoxTest, RunningFirefoxIsFoundByItsExecutable) {
  FPath.Set("PATH", FSystemPath.c_str());
  const std::string sleepTool = FindProgram("sleep");
  ASSERT_FALSE(sleepTool.empty());
  // A real binary standing in for Firefox: the process's executable is it.
  std::string bytes;
  ASSERT_TRUE(platform::ReadWholeFile(sleepTool, bytes));
  const std::string binary = sb().Path("bin/firefox-bin");
  platform::ForceDirectories(sb().Path("bin"));
  ASSERT_TRUE(platform::WriteWholeFile(binary, bytes));
  ::chmod(binary.c_str(), 0755);
  Settings({"FireFoxPath=" + binary});
  EXPECT_FALSE(IsFirefoxRunning());
  {
    ChildProcess running;
    ASSERT_TRUE(running.Start({binary, "30"}, sb().Path("bin.log")));
    EXPECT_TRUE(WaitUntil([] { return IsFirefoxRunning(); }, 5000));
  }
  EXPECT_FALSE(IsFirefoxRunning());

  // A Firefox that is a script runs as its interpreter with the script as
  // argument; it counts as running too.
  const std::string script = sb().Path("bin/firefox.sh");
  sb().WriteFile("bin/firefox.sh", "#!/bin/sh\nwhile :; do sleep 1; done\n");
  ::chmod(script.c_str(), 0755);
  Settings({"FireFoxPath=" + script});
  EXPECT_FALSE(IsFirefoxRunning());
  {
    ChildProcess running;
    ASSERT_TRUE(running.Start({script}, sb().Path("script.log")));
    EXPECT_TRUE(WaitUntil([] { return IsFirefoxRunning(); }, 5000));
  }
}

TEST_F(FirefoxTest, TheSearchPathIsLookedAtWhenNothingElseKnowsFirefox) {
  EXPECT_EQ(GetFirefoxPath(), "");
  // firefox-esr alone (Debian), then firefox beside it, which wins.
  const std::string esr = MakeFakeFirefox("path/firefox-esr");
  EXPECT_EQ(GetFirefoxPath(), esr);
  EXPECT_EQ(GetCLSettings()->GetSettingString("FireFoxPath"), esr);
  const std::string plain = MakeFakeFirefox("path/firefox");
  GetCLSettings()->SetSettingString("FireFoxPath", "");
  EXPECT_EQ(GetFirefoxPath(), plain);
  // A file that is not executable is not a program.
  ::chmod(plain.c_str(), 0644);
  GetCLSettings()->SetSettingString("FireFoxPath", "");
  EXPECT_EQ(GetFirefoxPath(), esr);
  // The registry still comes first.
  const std::string mozilla = MakeFakeFirefox("mozilla/firefox");
  platform::RegWriteString(RegRoot::LocalMachine, kMozillaKey, "CurrentVersion", "115.0 (en-US)");
  platform::RegWriteString(RegRoot::LocalMachine,
                           std::string(kMozillaKey) + "\\115.0 (en-US)\\Main", "PathToExe",
                           mozilla);
  GetCLSettings()->SetSettingString("FireFoxPath", "");
  EXPECT_EQ(GetFirefoxPath(), mozilla);
}

TEST_F(FirefoxTest, WithoutTheExtensionFileFirefoxIsNeverStarted) {
  const std::string firefox = MakeFakeFirefox("firefox");
  Settings({"FireFoxPath=" + firefox, "SWITCH.FF=1"});
  platform::DeleteFileAt(sb().Path("app/ffextension.xpi"));
  LogCapture log("uVGUtils");
  EXPECT_FALSE(FirefoxExtensionPresent());
  EXPECT_FALSE(InstallFirefoxExtension());
  SetFirefoxProxy("192.0.2.5:3128");
  SetFirefoxProxy("");
  ClearFirefoxCookies();
  // The extension file comes back: the next command starts Firefox, so the
  // log would have caught the earlier ones.
  sb().WriteFile("app/ffextension.xpi", "extension");
  SetFirefoxProxy("");
  ASSERT_TRUE(WaitStarts(1));
  platform::SleepMs(300);
  EXPECT_EQ(Log(),
            Block({"-silent", "-nosplash", "-chrome", "chrome://veilip/content/veilip.xul?clear"}));
  int notes = 0;
  for (const std::string& l : log.Lines())
    notes += l.find("ffextension.xpi is missing") != std::string::npos;
  EXPECT_EQ(notes, 1);
}

TEST(FirefoxProfiles, ThoseThatDoNotUseTheSystemProxyAreNamed) {
  Sandbox box;
  // clang-format off
  box.WriteFile("home/.mozilla/firefox/profiles.ini",
                "[Install4F96D1932A9F858E]\nDefault=abc.default-esr\n\n"
                "[Profile0]\nName=default-esr\nIsRelative=1\nPath=abc.default-esr\nDefault=1\n\n"
                "[Profile1]\nName=work\nIsRelative=1\nPath=def.work\n\n"
                "[Profile2]\nName=manual\nIsRelative=0\nPath=" + box.Path("elsewhere/manual") + "\n\n"
                "[Profile3]\nName=user-js\nIsRelative=1\nPath=ghi.userjs\n\n"
                "[General]\nStartWithLastProfile=1\nVersion=2\n");
  // clang-format on
  // No setting at all: 5, the system's settings.
  box.WriteFile("home/.mozilla/firefox/abc.default-esr/prefs.js",
                "// Mozilla User Preferences\nuser_pref(\"browser.startup.page\", 3);\n");
  // "No proxy".
  box.WriteFile("home/.mozilla/firefox/def.work/prefs.js",
                "user_pref(\"network.proxy.type\", 0);\n");
  // Manual, in a profile outside the Firefox folder; a comment does not count.
  box.WriteFile(
      "elsewhere/manual/prefs.js",
      "// user_pref(\"network.proxy.type\", 5);\nuser_pref(\"network.proxy.type\", 1);\n");
  // user.js wins over prefs.js.
  box.WriteFile("home/.mozilla/firefox/ghi.userjs/prefs.js",
                "user_pref(\"network.proxy.type\", 0);\n");
  box.WriteFile("home/.mozilla/firefox/ghi.userjs/user.js",
                "user_pref(\"network.proxy.type\", 5);\n");

  const std::vector<TFirefoxProfileProxy> off = FirefoxProfilesNotFollowingDesktop();
  ASSERT_EQ(off.size(), 2u);
  EXPECT_EQ(off[0].Name, "work");
  EXPECT_EQ(off[0].ProxyType, 0);
  EXPECT_EQ(off[1].Name, "manual");
  EXPECT_EQ(off[1].ProxyType, 1);
  EXPECT_EQ(off[1].Path, box.Path("elsewhere/manual"));
  // No Firefox folder at all: nothing to say.
  EXPECT_TRUE(FirefoxProfilesNotFollowingDesktop(box.Path("nowhere")).empty());
}
