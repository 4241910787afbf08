// Page addresses, the parameter block, "wcme:" links and the service
// endpoints, with a real settings store and registry in the sandbox.
#include <gtest/gtest.h>

#include <regex>
#include <utility>

#include "framework/CLSettings.h"
#include "framework/CLURL.h"
#include "framework/ServiceEndpoints.h"
#include "net/CLUtils.h"
#include "platform/Locale.h"
#include "platform/Registry.h"
#include "platform/System.h"
#include "support/Sandbox.h"

class CLURLTest : public SandboxTest {
 protected:
  void TearDown() override {
    ReleaseCLSettings();
    SandboxTest::TearDown();
  }
  void Settings(const std::string& lines) {
    sb().WriteFile("app/const.dat", "[setting]\n" + lines);
    ReleaseCLSettings();
    GetCLSettings();
  }
  // The block after the five time digits, from the store and the platform.
  std::string Tail(const std::string& pid, const std::string& lang, const std::string& ver,
                   const std::string& sver, const std::string& chl) {
    TCLSettings* s = GetCLSettings();
    const platform::VersionInfo v = platform::GetVersionInfo();
    return "&PID=" + pid + "&LANG=" + lang + "&DAY=" + std::to_string(s->GetRunDays()) +
           "&RUNTIME=" + std::to_string(s->RunTimes()) + "&VER=" + ver + "&SVER=" + sver +
           "&WVER=" +
           URLEncode(std::to_string(v.major) + "_" + std::to_string(v.minor) + "_" + v.csdVersion) +
           "&WLANG=" + std::to_string(platform::SystemDefaultLangId()) + "&CHL=" + chl;
  }
  // Replaces the five time digits after "ACTION=page&" by "sszzz".
  static std::string Mask(const std::string& url) {
    return std::regex_replace(url, std::regex("(ACTION=[^&]*&)[0-9]{5}&"), "$1sszzz&");
  }
};

TEST_F(CLURLTest, ParametersAreAppendedInTheirOrder) {
  Settings(
      "URL.home=http://svc.example/home\n"
      "URL.help=http://svc.example/help?\n"
      "URL.support=HTTP://svc.example/s?x=1\n"
      "URL.faq=http://svc.example/f?x=1&\n"
      "URL.Redirect=http://svc.example/redirect\n"
      "App.PID=\n"
      "App.MagicWord=Magic Word&1\n"
      "Language=Chinese (Simplified)\n"
      "App.Ver=2.5.0.12 beta\n"
      "App.SubVer=7\n");
  const std::string tail =
      Tail("Magic+Word%261", "Chinese+(Simplified)", "0205000C", "7", "756E6B6E6F77");
  EXPECT_EQ(Mask(GetURL("home", true)), "http://svc.example/home?ACTION=home&sszzz" + tail);
  EXPECT_EQ(Mask(GetURL("help", true)), "http://svc.example/help?ACTION=help&sszzz" + tail);
  EXPECT_EQ(Mask(GetURL("support", true)), "HTTP://svc.example/s?x=1&ACTION=support&sszzz" + tail);
  EXPECT_EQ(Mask(GetURL("faq", true)), "http://svc.example/f?x=1&ACTION=faq&sszzz" + tail);
  // A page without an address of its own goes to the redirect address.
  EXPECT_EQ(Mask(GetURL("about", true)), "http://svc.example/redirect?ACTION=about&sszzz" + tail);
  EXPECT_EQ(GetURL("home", false), "http://svc.example/home");
  // The five digits are the time of day's seconds and milliseconds.
  EXPECT_TRUE(std::regex_match(GetURLParam(), std::regex("[0-5][0-9][0-9]{3}&PID=.*")));
  EXPECT_EQ(GetURLParamAt(7, 5).substr(0, 5), "07005");
}

TEST_F(CLURLTest, LocalFilesAndOtherSchemesGetNoParameters) {
  Settings(
      "URL.local=%EXEPATH%/pages/index.html\n"
      "URL.blank=   \n"
      "URL.mail=mailto:someone@example.com\n"
      "URL.Redirect=%exepath%/not-replaced.html\n");
  EXPECT_EQ(GetURL("local", true), GetAppPathNoSlash() + "/pages/index.html");
  EXPECT_EQ(GetURL("mail", true), "mailto:someone@example.com");
  // A blank address falls back to the redirect address, unreplaced.
  EXPECT_EQ(GetURL("blank", true), "%exepath%/not-replaced.html");
}

TEST_F(CLURLTest, VersionNumberAndChannel) {
  const std::pair<const char*, uint32_t> versions[] = {
      {"2.5.0.12", 0x0205000Cu},
      {"1.0.0.1 (build 7)", 0x01000001u},
      {"1.2.3", 0u},
      {"1.2.3.4.5", 0u},
      {"", 0u},
      {"1.x.300.4", 0x01002C04u},  // not a number: 0; 300 cut to 44
      {"300.0.0.0", 0x2C000000u},  // kept to 32 bits
  };
  for (const auto& [text, number] : versions) EXPECT_EQ(VersionTextToNumber(text), number) << text;

  EXPECT_EQ(ChannelToHex("abc"), "616263");
  EXPECT_EQ(ChannelToHex("unknow"), "756E6B6E6F77");
  EXPECT_EQ(ChannelToHex("\"C:\\Downloads\\setup_partner.exe\""),
            ChannelToHex("setup_partner.exe"));
  EXPECT_EQ(ChannelToHex("a:b\\c"), "63");
  EXPECT_EQ(ChannelToHex("\xC3\xA9\xE4\xB8\xAD"), "E92D");  // low bytes of U+00E9 and U+4E2D
  EXPECT_EQ(ChannelToHex(""), "");

  // The channel comes from the registry, under the installation's key.
  Settings("App.RegPath=Veilgate\nApp.Ver=1.2.3\nApp.PID=p1\nLanguage=English\n");
  EXPECT_EQ(GetChannel(), "unknow");
  EXPECT_NE(GetURLParam().find("&VER=00000000&"), std::string::npos);
  ASSERT_TRUE(platform::RegWriteString(RegRoot::LocalMachine, "Software\\Veilgate", "CHL",
                                       "\"C:\\Temp\\partner42.exe\""));
  EXPECT_EQ(GetChannel(), "\"C:\\Temp\\partner42.exe\"");
  const std::string p = GetURLParam();
  EXPECT_EQ(p.substr(p.find("&CHL=")), "&CHL=" + ChannelToHex("partner42.exe"));
  EXPECT_NE(p.find("&PID=p1&LANG=English&"), std::string::npos);
}

TEST_F(CLURLTest, WcmeLinksOpenPagesAndNeverNavigate) {
  std::string page;
  EXPECT_TRUE(ParseWcmeLink("wcme:open?PAGE=help&x=1", page));
  EXPECT_EQ(page, "help");
  EXPECT_TRUE(ParseWcmeLink("WCME://host/?page=buy%20now+x", page));
  EXPECT_EQ(page, "buy now x");
  // Without "?" the text up to the first ":" goes.
  EXPECT_TRUE(ParseWcmeLink("wcme:PAGE=home&a=b", page));
  EXPECT_EQ(page, "home");
  // A value that does not decode is skipped.
  EXPECT_TRUE(ParseWcmeLink("wcme:?PAGE=%zz", page));
  EXPECT_EQ(page, "");
  EXPECT_FALSE(ParseWcmeLink("http://example.com/?PAGE=home", page));
  EXPECT_EQ(page, "");

  std::vector<std::string> shown;
  auto show = [&](const std::string& p) { shown.push_back(p); };
  bool cancel = false;
  HandleBeforeNavigate("wcme:?PAGE=support", cancel, show);
  EXPECT_TRUE(cancel);
  cancel = false;
  HandleBeforeNavigate("wcme:?other=1", cancel, show);  // no page: nothing opens
  EXPECT_TRUE(cancel);
  cancel = false;
  HandleBeforeNavigate("https://example.com/", cancel, show);
  EXPECT_FALSE(cancel);
  EXPECT_EQ(shown, std::vector<std::string>{"support"});
}

TEST_F(CLURLTest, ServiceEndpointsComeFromSettings) {
  Settings(
      "URL.GetInfo=http://127.0.0.1:8470/getinfo\n"
      "App.MagicWord=VG demo\n"
      "SUPER_TOUCH=http://127.0.0.1:8470/touch?ip={1}&again={1}\n"
      "URL.FlagPath=http://127.0.0.1:8470/flags/\n"
      "URL.CheckIP=http://127.0.0.1:8470/checkip\n"
      "URL.MapMask=http://tiles.example/{z}/{x}/{y}.png\n"
      "URL.Update=http://127.0.0.1:8470/update\n");
  // The magic word is joined as it stands, without encoding.
  EXPECT_EQ(ServiceEndpoints::LocalInfoURL(), "http://127.0.0.1:8470/getinfo?MagicWord=VG demo");
  EXPECT_EQ(ServiceEndpoints::TouchURL("192.0.2.9"),
            "http://127.0.0.1:8470/touch?ip=192.0.2.9&again=192.0.2.9");
  EXPECT_EQ(ServiceEndpoints::FlagURL("FR"), "http://127.0.0.1:8470/flags/FR.PNG");
  EXPECT_EQ(ServiceEndpoints::CheckIPURL(), "http://127.0.0.1:8470/checkip");
  EXPECT_EQ(ServiceEndpoints::MapMask(), "http://tiles.example/{z}/{x}/{y}.png");
  EXPECT_EQ(ServiceEndpoints::UpdateURL().rfind("http://127.0.0.1:8470/update?ACTION=Update&", 0),
            0u);
  // The touch address is read afresh; an empty one means no touch.
  GetCLSettings()->SetSettingString("SUPER_TOUCH", "");
  EXPECT_EQ(ServiceEndpoints::TouchURL("192.0.2.9"), "");
}
