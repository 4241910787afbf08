// The system proxy switch: the registry values, the per-connection options,
// the GNOME settings read back by the real gsettings command, KDE's
// kioslaverc, and a request through a real proxy on loopback.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "platform/Files.h"
#include "platform/PrivateProfile.h"
#include "platform/ProxySettings.h"
#include "platform/Registry.h"
#include "switch/uVGUtils.h"
#include "SwitchTestSupport.h"
#include "support/NetTestServers.h"

using namespace switchtest;

namespace {

const char* const kInternetSettings =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

std::string RegText(const std::string& name) {
  std::string v;
  if (!platform::RegReadString(RegRoot::CurrentUser, kInternetSettings, name, v))
    return "<missing>";
  return v;
}
int64_t RegNumber(const std::string& name) {
  uint32_t v = 0;
  if (!platform::RegReadDword(RegRoot::CurrentUser, kInternetSettings, name, v)) return -1;
  return v;
}

// One value read with the real gsettings command (trailing line break cut).
std::string GSettingsGet(const EnvChanges& env, const std::string& schema, const std::string& key) {
  std::string tool = FindProgram("gsettings");
  if (tool.empty()) return "<gsettings missing>";
  RunResult r = RunProgram({tool, "get", schema, key}, env);
  if (!r.started || r.exitCode != 0) return "<failed: " + r.err + ">";
  while (!r.out.empty() && (r.out.back() == '\n' || r.out.back() == '\r')) r.out.pop_back();
  return r.out;
}

class SystemProxyTest : public SwitchTest {};

}  // namespace

TEST_F(SystemProxyTest, RegistryValuesFollowTheSwitchSettingAndTheUsersComeBack) {
  Settings({"SWITCH.IE=1"});
  // The user had a proxy of their own: stopping brings it back.
  platform::RegWriteString(RegRoot::CurrentUser, kInternetSettings, "ProxyServer",
                           "user.example:3128");
  platform::RegWriteDword(RegRoot::CurrentUser, kInternetSettings, "ProxyEnable", 1);

  SetIEProxy("192.0.2.1:8080");
  EXPECT_EQ(RegText("ProxyServer"), "http=192.0.2.1:8080;ftp=192.0.2.1:8080;https=192.0.2.1:8080;");
  EXPECT_EQ(RegNumber("ProxyEnable"), 1);
  platform::PerConnectionProxy applied = platform::AppliedProxy();
  EXPECT_TRUE(applied.useProxy);
  EXPECT_EQ(applied.server, "192.0.2.1:8080");
  EXPECT_EQ(applied.bypass, "");
  // The values are in the registry file as REGEDIT4 text.
  std::string file = testsupport::ReadText(platform::RegBackingFile(RegRoot::CurrentUser));
  EXPECT_NE(file.find(
                "\"ProxyServer\"=\"http=192.0.2.1:8080;ftp=192.0.2.1:8080;https=192.0.2.1:8080;\""),
            std::string::npos)
      << file;
  EXPECT_NE(file.find("\"ProxyEnable\"=dword:00000001"), std::string::npos) << file;

  SetIEProxy("");
  EXPECT_EQ(RegText("ProxyServer"), "user.example:3128");
  EXPECT_EQ(RegNumber("ProxyEnable"), 1);
  EXPECT_FALSE(platform::AppliedProxy().useProxy);

  // With the option off a hide call switches nothing: the user's own
  // settings stay.
  Settings({"SWITCH.IE=0"});
  SetIEProxy("192.0.2.1:8080");
  EXPECT_EQ(RegText("ProxyServer"), "user.example:3128");
  EXPECT_EQ(RegNumber("ProxyEnable"), 1);
  EXPECT_FALSE(platform::AppliedProxy().useProxy);
  EXPECT_EQ(platform::AppliedProxy().server, "");

  // Turned off while hiding: the next call puts the user's settings back.
  Settings({"SWITCH.IE=1"});
  SetIEProxy("192.0.2.1:8080");
  EXPECT_EQ(RegNumber("ProxyEnable"), 1);
  EXPECT_NE(RegText("ProxyServer"), "user.example:3128");
  Settings({});  // a missing setting counts as off
  SetIEProxy("192.0.2.3:80");
  EXPECT_EQ(RegText("ProxyServer"), "user.example:3128");

  // Values the user never had are removed again, not left as "direct".
  platform::RegDeleteValue(RegRoot::CurrentUser, kInternetSettings, "ProxyServer");
  platform::RegDeleteValue(RegRoot::CurrentUser, kInternetSettings, "ProxyEnable");
  Settings({"SWITCH.IE=1"});
  SetIEProxy("192.0.2.1:8080");
  SetIEProxy("");
  EXPECT_EQ(RegText("ProxyServer"), "<missing>");
  EXPECT_EQ(RegNumber("ProxyEnable"), -1);
}

TEST_F(SystemProxyTest, WriteIEProxyRegistryWritesTheEmptyFormToo) {
  WriteIEProxyRegistry("");
  EXPECT_EQ(RegText("ProxyServer"), "http=;ftp=;https=;");
  EXPECT_EQ(RegNumber("ProxyEnable"), 0);
  WriteIEProxyRegistry("proxy.example:3128");
  EXPECT_EQ(RegText("ProxyServer"),
            "http=proxy.example:3128;ftp=proxy.example:3128;https=proxy.example:3128;");
  EXPECT_EQ(RegNumber("ProxyEnable"), 1);
  EXPECT_EQ(IEProxyServerText("a:1"), "http=a:1;ftp=a:1;https=a:1;");
}

TEST_F(SystemProxyTest, MalformedServerIsNotApplied) {
  SetPerConnectionProxy(true, "", "192.0.2.1:8080");
  for (const char* bad : {"192.0.2.1", "192.0.2.1:", ":80", "192.0.2.1:99999", "192.0.2.1:8o",
                          "bad host:80", "a\nb:80", ""}) {
    EXPECT_FALSE(SetPerConnectionProxy(true, "", bad)) << bad;
    EXPECT_EQ(platform::AppliedProxy().server, "192.0.2.1:8080") << bad;
  }
}

// GNOME's settings, written by the switch in a child process and read back
// with the gsettings command.
TEST_F(SystemProxyTest, GnomeSettingsReadBackWithGsettings) {
  ASSERT_FALSE(FindProgram("gsettings").empty())
      << "the gsettings command is missing (scripts/deps)";
  // The child processes and gsettings see the system's schemas.
  const EnvChanges desktop = {{"XDG_DATA_DIRS", SystemDataDirs()}};
  ASSERT_EQ(GSettingsGet(desktop, "org.gnome.system.proxy", "mode"), "'none'")
      << "the schema org.gnome.system.proxy is missing (gsettings-desktop-schemas, scripts/deps)";
  const std::string child = VG_SWITCH_PROXY_CHILD;

  Settings({"SWITCH.IE=1"});
  RunResult r = RunProgram({child, sb().AppExe(), "192.0.2.1:8080"}, desktop);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "proxy 192.0.2.1:8080\n");
  EXPECT_TRUE(sb().Exists("config/glib-2.0/settings/keyfile"));
  EXPECT_EQ(GSettingsGet(desktop, "org.gnome.system.proxy", "mode"), "'manual'");
  for (const char* protocol : {"http", "https", "ftp"}) {
    std::string schema = std::string("org.gnome.system.proxy.") + protocol;
    EXPECT_EQ(GSettingsGet(desktop, schema, "host"), "'192.0.2.1'") << protocol;
    EXPECT_EQ(GSettingsGet(desktop, schema, "port"), "8080") << protocol;
  }
  // The user's bypass list stays when the switch brings none.
  EXPECT_EQ(GSettingsGet(desktop, "org.gnome.system.proxy", "ignore-hosts"),
            "['localhost', '127.0.0.0/8', '::1']");
  EXPECT_EQ(RegText("ProxyServer"), "http=192.0.2.1:8080;ftp=192.0.2.1:8080;https=192.0.2.1:8080;");

  r = RunProgram({child, sb().AppExe(), "-"}, desktop);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "direct\n");
  EXPECT_EQ(GSettingsGet(desktop, "org.gnome.system.proxy", "mode"), "'none'");
  EXPECT_EQ(GSettingsGet(desktop, "org.gnome.system.proxy.http", "host"), "''");
  EXPECT_EQ(RegNumber("ProxyEnable"), -1);

  // Hiding with the option off leaves the desktop direct.
  RunProgram({child, sb().AppExe(), "192.0.2.1:8080"}, desktop);
  EXPECT_EQ(GSettingsGet(desktop, "org.gnome.system.proxy", "mode"), "'manual'");
  Settings({"SWITCH.IE=0"});
  r = RunProgram({child, sb().AppExe(), "192.0.2.1:8080"}, desktop);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "direct\n");
  EXPECT_EQ(GSettingsGet(desktop, "org.gnome.system.proxy", "mode"), "'none'");
  EXPECT_EQ(RegText("ProxyServer"), "<missing>");
}

TEST_F(SystemProxyTest, MissingGnomeSchemaIsReportedOnceAndChangesNothing) {
  std::string emptyData = sb().Path("no-schemas");
  platform::ForceDirectories(emptyData);
  std::string log = sb().Path("debug.log");
  Settings({"SWITCH.IE=1"});
  RunResult r =
      RunProgram({VG_SWITCH_PROXY_CHILD, sb().AppExe(), "192.0.2.1:8080", "-", "192.0.2.7:3128"},
                 {{"XDG_DATA_DIRS", emptyData.c_str()},
                  {"GSETTINGS_SCHEMA_DIR", nullptr},
                  {"VEILGATE_DEBUG_LOG", log.c_str()}});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  // This process still follows the switch.
  EXPECT_EQ(r.out, "proxy 192.0.2.7:3128\n");
  std::string text = testsupport::ReadText(log);
  size_t first = text.find("org.gnome.system.proxy");
  ASSERT_NE(first, std::string::npos) << text;
  EXPECT_EQ(text.find("org.gnome.system.proxy", first + 1), std::string::npos) << text;
  EXPECT_FALSE(sb().Exists("config/glib-2.0/settings/keyfile"));
  EXPECT_EQ(RegText("ProxyServer"), "http=192.0.2.7:3128;ftp=192.0.2.7:3128;https=192.0.2.7:3128;");
}

TEST_F(SystemProxyTest, KdeProxySettingsChangeOnlyTheProxyGroup) {
  Settings({"SWITCH.IE=1"});
  EnvGuard session;
  session.Set("XDG_CURRENT_DESKTOP", "KDE");
  // A kioslaverc with the given "Proxy Settings" group between others.
  const auto kioslaverc = [](const std::string& proxyGroup) {
    return "[$Version]\n"
           "update_info=kioslave.upd:use-proxy-type\n"
           "\n"
           "[Cache Settings]\n"
           "CacheEnabled=true\n"
           "\n"
           "[Proxy Settings]\n" +
           proxyGroup +
           "\n"
           "[UserAgent]\n"
           "SendLanguageSettings=true\n";
  };
  const std::string original = kioslaverc(
      "AuthMode=0\n"
      "NoProxyFor=localhost,127.0.0.1\n"
      "ProxyType=0\n"
      "socksProxy=socks://192.0.2.200 1080\n");
  sb().WriteFile("config/kioslaverc", original);
  SetIEProxy("192.0.2.1:8080");
  EXPECT_NE(platform::LastProxyReach() & platform::kProxyReachKde, 0u);
  // The keys KDE's proxy page writes; the user's SOCKS proxy would take
  // connections past ours, so it is emptied while hiding.
  const std::string expected = kioslaverc(
      "AuthMode=0\n"
      "NoProxyFor=localhost,127.0.0.1\n"
      "ProxyType=1\n"
      "socksProxy=\n"
      "httpProxy=http://192.0.2.1 8080\n"
      "httpsProxy=http://192.0.2.1 8080\n"
      "ftpProxy=http://192.0.2.1 8080\n"
      "ReversedException=false\n");
  EXPECT_EQ(sb().ReadFile("config/kioslaverc"), expected);

  // Stop: the user's group exactly as it was.
  SetIEProxy("");
  EXPECT_EQ(sb().ReadFile("config/kioslaverc"), original);

  // A bypass list in the Windows form becomes KDE's comma-separated one.
  EXPECT_TRUE(SetPerConnectionProxy(true, "*.example.org; 192.0.2.0/24;;", "192.0.2.1:8080"));
  std::string bypass = sb().ReadFile("config/kioslaverc");
  EXPECT_NE(bypass.find("NoProxyFor=*.example.org,192.0.2.0/24\n"), std::string::npos) << bypass;
  EXPECT_EQ(platform::AppliedProxy().bypass, "*.example.org; 192.0.2.0/24;;");
  // A reversed exception list ("only these through the proxy") is not kept
  // while hiding: everything goes through the proxy.
  sb().WriteFile("config/kioslaverc",
                 "[Proxy Settings]\nNoProxyFor=intranet.example\nReversedException=true\n");
  EXPECT_TRUE(SetPerConnectionProxy(true, "", "192.0.2.1:8080"));
  const std::string reversed = sb().ReadFile("config/kioslaverc");
  EXPECT_NE(reversed.find("ReversedException=false\n"), std::string::npos) << reversed;
  EXPECT_NE(reversed.find("NoProxyFor=\n"), std::string::npos) << reversed;
}

TEST(ProfileSections, ReadAndReplaceOneGroupOnly) {
  const std::string text =
      "\xEF\xBB\xBF[A]\r\nx=1\r\n; note\r\n[Proxy Settings]\r\nKeep=1\r\nDrop=2\r\n# c\r\n"
      "Keep=second\r\n\r\n[B]\r\ny=2";
  platform::ProfileValues values;
  ASSERT_TRUE(platform::ReadProfileSection(text, "proxy settings", values));
  EXPECT_EQ(values, (platform::ProfileValues{{"Keep", "1"}, {"Drop", "2"}}));
  EXPECT_FALSE(platform::ReadProfileSection(text, "Missing", values));
  const platform::ProfileValues wanted = {{"Keep", "9"}, {"New", ""}};
  EXPECT_EQ(platform::ReplaceProfileSectionInText(text, "Proxy Settings", &wanted),
            "\xEF\xBB\xBF[A]\r\nx=1\r\n; note\r\n[Proxy Settings]\r\nKeep=9\r\n# c\r\nNew=\r\n"
            "\r\n[B]\r\ny=2");
  EXPECT_EQ(platform::ReplaceProfileSectionInText(text, "Proxy Settings", nullptr),
            "\xEF\xBB\xBF[A]\r\nx=1\r\n; note\r\n[B]\r\ny=2");
  // The last group goes with the blank lines before it.
  EXPECT_EQ(platform::ReplaceProfileSectionInText("[A]\nx=1\n\n[Proxy Settings]\nk=v\n",
                                                  "Proxy Settings", nullptr),
            "[A]\nx=1\n");
  EXPECT_EQ(platform::ReplaceProfileSectionInText("[A]\nx=1\n", "Missing", nullptr), "[A]\nx=1\n");
}

// A program that follows the proxy the platform reports reaches a loopback
// server through a real proxy; the proxy's log shows the request.
TEST_F(SystemProxyTest, RequestGoesThroughTheSwitchedProxy) {
  const std::string curl = FindProgram("curl");
  ASSERT_FALSE(curl.empty()) << "curl is missing (scripts/deps installs it)";

  nettest::TestHttpServer server([](const nettest::Request&, nettest::Connection& c) {
    c.Write(nettest::Response(200, "veilgate-through-proxy"));
  });
  ASSERT_GT(server.Port(), 0);
  nettest::TinyProxy proxy;
  std::string error;
  ASSERT_TRUE(proxy.Start(sb().Path("tinyproxy"), &error)) << error;
  const int proxyPort = proxy.Port();

  Settings({"SWITCH.IE=1"});
  SetIEProxy("127.0.0.1:" + std::to_string(proxyPort));
  platform::PerConnectionProxy applied = platform::AppliedProxy();
  ASSERT_TRUE(applied.useProxy);

  const std::string url =
      "http://127.0.0.1:" + std::to_string(server.Port()) + "/through-proxy-check";
  RunResult r =
      RunProgram({curl, "-s", "-S", "--max-time", "15", "-x", "http://" + applied.server, url},
                 {{"no_proxy", nullptr},
                  {"NO_PROXY", nullptr},
                  {"http_proxy", nullptr},
                  {"HTTP_PROXY", nullptr},
                  {"all_proxy", nullptr},
                  {"ALL_PROXY", nullptr}},
                 30000);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "veilgate-through-proxy");
  EXPECT_TRUE(WaitUntil([&] { return proxy.Log().find("GET " + url) != std::string::npos; }))
      << proxy.Log();
  ASSERT_EQ(server.RequestCount(), 1);

  // Back to direct: the platform reports no proxy any more.
  SetIEProxy("");
  EXPECT_FALSE(platform::AppliedProxy().useProxy);
}
