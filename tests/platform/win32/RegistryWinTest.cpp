// The registry service and the system proxy switch against the real
// registry and WinINet (under Wine: the test run's prefix), read back with
// the Win32 calls themselves and with "reg query" from another process.
#include <windows.h>

#include <gtest/gtest.h>

#include "WinTestSupport.h"
#include "framework/CLSettings.h"
#include "platform/ProxySettings.h"
#include "platform/win32/PerConnectionOptions.h"
#include "platform/Registry.h"
#include "platform/Files.h"
#include "switch/uVGUtils.h"
// After the platform headers, whose constants share names with its macros.
#include <wininet.h>

namespace {

using platform::RegRoot;
using V = std::vector<std::string>;

class RegistryWinTest : public SandboxTest {
 protected:
  void TearDown() override {
    ReleaseCLSettings();
    SandboxTest::TearDown();
  }
};

// A value read straight with RegQueryValueExW.
bool RawRead(HKEY root, const std::wstring& key, const std::wstring& name, DWORD& type,
             std::wstring& text, DWORD& number) {
  HKEY k;
  if (RegOpenKeyExW(root, key.c_str(), 0, KEY_QUERY_VALUE, &k) != ERROR_SUCCESS) return false;
  BYTE buf[4096] = {};
  DWORD size = sizeof buf - 2;
  LONG rc = RegQueryValueExW(k, name.c_str(), nullptr, &type, buf, &size);
  RegCloseKey(k);
  if (rc != ERROR_SUCCESS) return false;
  if (type == REG_SZ) text = reinterpret_cast<wchar_t*>(buf);
  if (type == REG_DWORD) memcpy(&number, buf, sizeof number);
  return true;
}

TEST_F(RegistryWinTest, ValuesReachTheRealRegistryAsUnicode) {
  const std::string text = "C:\\Pfad \xC3\xBC\xC3\x9F \xE4\xBD\xA0\xE5\xA5\xBD";  // üß 你好
  ASSERT_TRUE(
      platform::RegWriteString(RegRoot::CurrentUser, "\\Software\\Veilgate\\", "Path", text));
  ASSERT_TRUE(
      platform::RegWriteDword(RegRoot::CurrentUser, "Software\\Veilgate", "Count", 0xDEADBEEF));
  ASSERT_TRUE(platform::RegWriteString(RegRoot::CurrentUser, "Software\\Veilgate", "", "dflt"));

  DWORD type = 0, number = 0;
  std::wstring raw;
  ASSERT_TRUE(RawRead(HKEY_CURRENT_USER, L"Software\\Veilgate", L"Path", type, raw, number));
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(raw, wintest::Wide(text));
  ASSERT_TRUE(RawRead(HKEY_CURRENT_USER, L"Software\\Veilgate", L"Count", type, raw, number));
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(number, 0xDEADBEEFu);

  std::string s;
  uint32_t n = 0;
  EXPECT_TRUE(platform::RegReadString(RegRoot::CurrentUser, "SOFTWARE\\veilgate", "path", s));
  EXPECT_EQ(s, text);
  EXPECT_TRUE(platform::RegReadString(RegRoot::CurrentUser, "Software\\Veilgate", "", s));
  EXPECT_EQ(s, "dflt");
  EXPECT_FALSE(platform::RegReadString(RegRoot::CurrentUser, "Software\\Veilgate", "Count", s));
  EXPECT_FALSE(platform::RegReadDword(RegRoot::CurrentUser, "Software\\Veilgate", "Path", n));
  EXPECT_FALSE(platform::RegReadString(RegRoot::CurrentUser, "Software\\Missing", "Path", s));

  // Another process sees the same values.
  const std::string out =
      wintest::Capture(sb(), "reg query \"" + sb().Registry().RealKey(RegRoot::CurrentUser) +
                                 "\\Software\\Veilgate\"");
  EXPECT_NE(out.find("Count"), std::string::npos) << out;
  EXPECT_NE(out.find("0xdeadbeef"), std::string::npos) << out;

  // Keys and values are listed, and deleted with everything below them.
  ASSERT_TRUE(platform::RegCreateKey(RegRoot::CurrentUser, "Software\\Veilgate\\Sub\\Deep"));
  EXPECT_EQ(platform::RegEnumSubKeys(RegRoot::CurrentUser, "Software\\Veilgate"), V{"Sub"});
  EXPECT_EQ(platform::RegEnumValueNames(RegRoot::CurrentUser, "Software\\Veilgate").size(), 3u);
  EXPECT_TRUE(platform::RegDeleteValue(RegRoot::CurrentUser, "Software\\Veilgate", "COUNT"));
  EXPECT_FALSE(platform::RegDeleteValue(RegRoot::CurrentUser, "Software\\Veilgate", "Count"));
  EXPECT_TRUE(platform::RegDeleteKey(RegRoot::CurrentUser, "Software\\Veilgate"));
  EXPECT_FALSE(platform::RegKeyExists(RegRoot::CurrentUser, "Software\\Veilgate\\Sub"));
  EXPECT_FALSE(platform::RegDeleteKey(RegRoot::CurrentUser, "Software\\Veilgate"));
  EXPECT_FALSE(platform::RegDeleteKey(RegRoot::CurrentUser, ""));
}

// The per-connection options as WinINet reports them.
struct ConnOptions {
  DWORD flags = 0;
  std::wstring server, bypass;
  bool ok = false;
};
ConnOptions QueryConnection() {
  INTERNET_PER_CONN_OPTIONW opts[3] = {};
  opts[0].dwOption = INTERNET_PER_CONN_FLAGS;
  opts[1].dwOption = INTERNET_PER_CONN_PROXY_SERVER;
  opts[2].dwOption = INTERNET_PER_CONN_PROXY_BYPASS;
  INTERNET_PER_CONN_OPTION_LISTW list = {};
  list.dwSize = sizeof list;
  list.dwOptionCount = 3;
  list.pOptions = opts;
  DWORD size = sizeof list;
  ConnOptions r;
  r.ok =
      InternetQueryOptionW(nullptr, INTERNET_OPTION_PER_CONNECTION_OPTION, &list, &size) != FALSE;
  r.flags = opts[0].Value.dwValue;
  if (opts[1].Value.pszValue) {
    r.server = opts[1].Value.pszValue;
    GlobalFree(opts[1].Value.pszValue);
  }
  if (opts[2].Value.pszValue) {
    r.bypass = opts[2].Value.pszValue;
    GlobalFree(opts[2].Value.pszValue);
  }
  return r;
}

TEST_F(RegistryWinTest, SystemProxySwitchSetsConnectionOptionsAndRegistry) {
  sb().WriteFile("app/const.dat", "[setting]\r\nSWITCH.IE=1\r\n");
  const std::wstring settingsKey =
      L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

  SetIEProxy("192.0.2.1:8080");
  ConnOptions c = QueryConnection();
  ASSERT_TRUE(c.ok) << GetLastError();
  EXPECT_TRUE(c.flags & PROXY_TYPE_PROXY);
  EXPECT_EQ(c.server, L"192.0.2.1:8080");
  EXPECT_EQ(platform::AppliedProxy().server, "192.0.2.1:8080");
  DWORD type = 0, number = 0;
  std::wstring text;
  ASSERT_TRUE(RawRead(HKEY_CURRENT_USER, settingsKey, L"ProxyServer", type, text, number));
  EXPECT_EQ(text, L"http=192.0.2.1:8080;ftp=192.0.2.1:8080;https=192.0.2.1:8080;");
  ASSERT_TRUE(RawRead(HKEY_CURRENT_USER, settingsKey, L"ProxyEnable", type, text, number));
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(number, 1u);
  std::string out = wintest::Capture(
      sb(),
      "reg query \"" + sb().Registry().RealKey(RegRoot::CurrentUser) +
          "\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\" /v ProxyServer");
  EXPECT_NE(out.find("http=192.0.2.1:8080;ftp=192.0.2.1:8080;https=192.0.2.1:8080;"),
            std::string::npos)
      << out;

  // Stopping puts back what the user had: here nothing of their own, so
  // the connection is direct and the values the switch wrote are gone.
  SetIEProxy("");
  c = QueryConnection();
  ASSERT_TRUE(c.ok);
  EXPECT_EQ(c.flags & PROXY_TYPE_PROXY, 0u);
  EXPECT_FALSE(RawRead(HKEY_CURRENT_USER, settingsKey, L"ProxyServer", type, text, number));

  // With the option off, a hide call changes nothing of the user's.
  ASSERT_TRUE(SetPerConnectionProxy(true, "<local>", "198.51.100.7:3128"));
  c = QueryConnection();
  EXPECT_EQ(c.server, L"198.51.100.7:3128");
  // (Wine keeps the connection's server in the ProxyServer value itself.)
  std::wstring before;
  const bool hadValue =
      RawRead(HKEY_CURRENT_USER, settingsKey, L"ProxyServer", type, before, number);
  ReleaseCLSettings();
  sb().WriteFile("app/const.dat", "[setting]\r\nSWITCH.IE=0\r\n");
  SetIEProxy("192.0.2.1:8080");
  c = QueryConnection();
  EXPECT_EQ(c.server, L"198.51.100.7:3128");
  text.clear();
  EXPECT_EQ(RawRead(HKEY_CURRENT_USER, settingsKey, L"ProxyServer", type, text, number), hadValue);
  EXPECT_EQ(text, hadValue ? before : std::wstring());
  EXPECT_NE(text, L"http=192.0.2.1:8080;ftp=192.0.2.1:8080;https=192.0.2.1:8080;");
}

// The user's own connection options (a proxy of theirs, switched off, and
// their registry values) survive a hide and a stop, also after a change of
// IP in between (the copy is taken once, before the first switch).
TEST_F(RegistryWinTest, TheUsersOwnConnectionOptionsComeBack) {
  sb().WriteFile("app/const.dat", "[setting]\r\nSWITCH.IE=1\r\n");
  const std::wstring settingsKey =
      L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
  ASSERT_TRUE(SetPerConnectionProxy(false, "", "proxy.corp.example:8080"));
  platform::RegWriteString(RegRoot::CurrentUser,
                           "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings",
                           "ProxyServer", "proxy.corp.example:8080");
  platform::RegWriteDword(RegRoot::CurrentUser,
                          "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings",
                          "ProxyEnable", 0);
  const ConnOptions user = QueryConnection();
  ASSERT_TRUE(user.ok);
  EXPECT_EQ(user.flags & PROXY_TYPE_PROXY, 0u);

  for (int run = 0; run < 2; ++run) {
    SetIEProxy("192.0.2.1:8080");
    ConnOptions c = QueryConnection();
    EXPECT_TRUE(c.flags & PROXY_TYPE_PROXY) << run;
    EXPECT_EQ(c.server, L"192.0.2.1:8080") << run;
    EXPECT_TRUE(platform::FileExists(platform::SavedDesktopProxyFile())) << run;
    if (run == 1) {
      SetIEProxy("192.0.2.2:3128");
      EXPECT_EQ(QueryConnection().server, L"192.0.2.2:3128");
    }
    SetIEProxy("");
    c = QueryConnection();
    EXPECT_EQ(c.flags & PROXY_TYPE_PROXY, 0u) << run;
    EXPECT_EQ(c.server, user.server) << run;
    DWORD type = 0, number = 99;
    std::wstring text;
    ASSERT_TRUE(RawRead(HKEY_CURRENT_USER, settingsKey, L"ProxyServer", type, text, number));
    EXPECT_EQ(text, L"proxy.corp.example:8080") << run;
    ASSERT_TRUE(RawRead(HKEY_CURRENT_USER, settingsKey, L"ProxyEnable", type, text, number));
    EXPECT_EQ(number, 0u) << run;
    EXPECT_FALSE(platform::FileExists(platform::SavedDesktopProxyFile())) << run;
  }
}

TEST_F(RegistryWinTest, AutorunEntryIsTheRunKey) {
  const std::string command = "\"C:\\Program Files\\Veil Gate\\veilgate.exe\" -a";
  platform::SetAutoRunEntry(true, "Veilgate", command);
  DWORD type = 0, number = 0;
  std::wstring text;
  ASSERT_TRUE(RawRead(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run",
                      L"Veilgate", type, text, number));
  EXPECT_EQ(text, wintest::Wide(command));
  EXPECT_EQ(platform::GetAutoRunEntry("Veilgate"), command);
  platform::SetAutoRunEntry(false, "Veilgate", "");
  EXPECT_EQ(platform::GetAutoRunEntry("Veilgate"), "");
  EXPECT_FALSE(RawRead(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run",
                       L"Veilgate", type, text, number));
}

}  // namespace

// The option list the desktop switch hands to WinINet.
TEST(PerConnectionOptionList, ThreeOptionsInOrderWithAbsentEmptyTexts) {
  platform::PerConnectionOptionList on =
      platform::BuildPerConnectionOptionList({true, "192.0.2.1:8080", ""});
  EXPECT_FALSE(on.hasConnection);
  EXPECT_EQ(on.optionError, 0u);
  ASSERT_EQ(on.options.size(), 3u);
  EXPECT_EQ(on.options[0].option, static_cast<uint32_t>(INTERNET_PER_CONN_FLAGS));
  EXPECT_EQ(on.options[0].number, static_cast<uint32_t>(PROXY_TYPE_PROXY));
  EXPECT_EQ(on.options[1].option, static_cast<uint32_t>(INTERNET_PER_CONN_PROXY_BYPASS));
  EXPECT_FALSE(on.options[1].hasText);
  EXPECT_EQ(on.options[2].option, static_cast<uint32_t>(INTERNET_PER_CONN_PROXY_SERVER));
  EXPECT_TRUE(on.options[2].hasText);
  EXPECT_EQ(on.options[2].text, "192.0.2.1:8080");

  platform::PerConnectionOptionList off = platform::BuildPerConnectionOptionList({false, "", ""});
  ASSERT_EQ(off.options.size(), 3u);
  EXPECT_EQ(off.options[0].number, static_cast<uint32_t>(PROXY_TYPE_DIRECT));
  EXPECT_FALSE(off.options[1].hasText);
  EXPECT_FALSE(off.options[2].hasText);

  platform::PerConnectionOptionList bypass =
      platform::BuildPerConnectionOptionList({true, "h:1", "<local>;*.example"});
  EXPECT_TRUE(bypass.options[1].hasText);
  EXPECT_EQ(bypass.options[1].text, "<local>;*.example");
}
