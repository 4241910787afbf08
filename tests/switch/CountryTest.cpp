// The country gate: the system language at start and the real-IP answer.
#include <gtest/gtest.h>

#include "net/CLUtils.h"
#include "platform/Locale.h"
#include "switch/uVGUtils.h"
#include "SwitchTestSupport.h"

using namespace switchtest;

namespace {

class CountryTest : public SwitchTest {
 protected:
  void SetUp() override {
    SwitchTest::SetUp();
    SetPlainMessageBox([this](const std::string& text) { FShown.push_back(text); });
  }
  void TearDown() override {
    SetPlainMessageBox(nullptr);
    SwitchTest::TearDown();
  }
  // CountryCheck under a locale; the boxes it showed are in FShown.
  bool CheckUnder(const char* locale) {
    EnvGuard env;
    env.Set("LC_ALL", locale);
    env.Set("LC_MESSAGES", nullptr);
    env.Set("LANG", locale);
    FShown.clear();
    return CountryCheck();
  }
  std::vector<std::string> FShown;
};

}  // namespace

TEST_F(CountryTest, SystemLanguageGate) {
  EXPECT_FALSE(CheckUnder("zh_CN.UTF-8"));
  EXPECT_EQ(FShown, (std::vector<std::string>{"This product is unavailable in this country."}));
  EXPECT_FALSE(CheckUnder("zh_CN"));
  EXPECT_EQ(FShown.size(), 1u);
  EXPECT_FALSE(CheckUnder("zh_CN.GB18030"));

  for (const char* open :
       {"zh_TW.UTF-8", "zh_SG.UTF-8", "zh_HK.UTF-8", "en_US.UTF-8", "de_DE", "C", ""}) {
    EXPECT_TRUE(CheckUnder(open)) << open;
    EXPECT_TRUE(FShown.empty()) << open;
  }
}

TEST_F(CountryTest, LanguageNamesOfTheChineseLocales) {
  EnvGuard env;
  env.Set("LC_MESSAGES", nullptr);
  const std::pair<const char*, const char*> cases[] = {
      {"zh_CN.UTF-8", "Chinese (Simplified, PRC)"},
      {"zh_TW.UTF-8", "Chinese (Traditional, Taiwan)"},
      {"zh_SG.UTF-8", "Chinese (Simplified, Singapore)"},
  };
  for (const auto& [locale, name] : cases) {
    env.Set("LC_ALL", locale);
    EXPECT_EQ(GetSystemLanguageName(), name) << locale;
  }
  // The name compares without regard to letter case.
  for (const char* name : {"Chinese (Simplified, PRC)", "CHINESE (SIMPLIFIED, PRC)",
                           "chinese (simplified, prc)", "cHiNeSe (sImPlIfIeD, pRc)"})
    EXPECT_TRUE(IsUnavailableLanguageName(name)) << name;
  for (const char* name : {"Chinese (Traditional, Taiwan)", "Chinese (Simplified, Singapore)",
                           "Chinese (Simplified, PRC) ", "Chinese (Simplified)", ""})
    EXPECT_FALSE(IsUnavailableLanguageName(name)) << name;
}

TEST_F(CountryTest, RealIpAnswerGate) {
  TStringList info;
  info.SetText("IP=192.0.2.44\r\nCOUNTRY_SHORT=cn\r\nCITY=Beijing\r\n");
  EXPECT_TRUE(IsUnavailableLocalInfo(info));
  info.SetText("country_short=CN\r\n");
  EXPECT_TRUE(IsUnavailableLocalInfo(info));
  info.SetText("IP=192.0.2.44\r\nCITY=Beijing\r\n");
  EXPECT_FALSE(IsUnavailableLocalInfo(info));
  info.SetText("COUNTRY_SHORT=TW\r\nCOUNTRY_SHORT=CN\r\n");
  EXPECT_FALSE(IsUnavailableLocalInfo(info));
  info.SetText("COUNTRY_SHORT=CNX\r\n");
  EXPECT_FALSE(IsUnavailableLocalInfo(info));
}

TEST(CountryMessage, WithoutABoxTheTextGoesToStandardError) {
  SetPlainMessageBox(nullptr);
  ::testing::internal::CaptureStderr();
  ShowPlainMessage(CountryUnavailableMessage);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "This product is unavailable in this country.\n");
}
