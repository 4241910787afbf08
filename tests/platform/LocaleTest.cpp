#include "platform/Locale.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "support/Sandbox.h"
#ifndef _WIN32
#include "ProcessSignal.h"
#endif

namespace {

class LocaleTest : public SandboxTest {};

TEST_F(LocaleTest, LocaleNamesMapToWindowsLanguages) {
  EXPECT_EQ(platform::LangIdFromLocaleName("zh_CN.UTF-8"), 0x0804);
  EXPECT_EQ(platform::LanguageName(0x0804), "Chinese (Simplified, PRC)");
  EXPECT_EQ(platform::LangIdFromLocaleName("zh_TW.Big5"), 0x0404);
  EXPECT_EQ(platform::LanguageName(0x0404), "Chinese (Traditional, Taiwan)");
  EXPECT_EQ(platform::LangIdFromLocaleName("zh_SG"), 0x1004);
  EXPECT_EQ(platform::LanguageName(0x1004), "Chinese (Simplified, Singapore)");
  EXPECT_EQ(platform::LangIdFromLocaleName("zh_HK.UTF-8"), 0x0C04);
  EXPECT_EQ(platform::LangIdFromLocaleName("zh_MO"), 0x1404);
  EXPECT_EQ(platform::LangIdFromLocaleName("en_US.UTF-8"), 0x0409);
  EXPECT_EQ(platform::LanguageName(0x0409), "English (United States)");
  EXPECT_EQ(platform::LangIdFromLocaleName("en_GB.ISO-8859-15@euro"), 0x0809);
  EXPECT_EQ(platform::LangIdFromLocaleName("de_AT"), 0x0C07);
  EXPECT_EQ(platform::LangIdFromLocaleName("pt_BR"), 0x0416);
  EXPECT_EQ(platform::LangIdFromLocaleName("pt_PT"), 0x0816);
  EXPECT_EQ(platform::LangIdFromLocaleName("es_ES"), 0x0C0A);
  EXPECT_EQ(platform::LangIdFromLocaleName("ja_JP.eucJP"), 0x0411);
  EXPECT_EQ(platform::LangIdFromLocaleName("sr_RS@latin"), 0x241A);
  EXPECT_EQ(platform::LangIdFromLocaleName("sr_RS"), 0x281A);
  // Other spellings: "-" for "_", any letter case.
  EXPECT_EQ(platform::LangIdFromLocaleName("ZH-cn"), 0x0804);
  // A language alone, or with a territory not in the table, gives its main variant.
  EXPECT_EQ(platform::LangIdFromLocaleName("zh"), 0x0804);
  EXPECT_EQ(platform::LangIdFromLocaleName("de"), 0x0407);
  EXPECT_EQ(platform::LangIdFromLocaleName("fr_SN.UTF-8"), 0x040C);
  // The neutral locales are US English; unknown languages are unknown.
  EXPECT_EQ(platform::LangIdFromLocaleName("C"), 0x0409);
  EXPECT_EQ(platform::LangIdFromLocaleName("C.UTF-8"), 0x0409);
  EXPECT_EQ(platform::LangIdFromLocaleName("POSIX"), 0x0409);
  EXPECT_EQ(platform::LangIdFromLocaleName(""), 0x0409);
  EXPECT_EQ(platform::LangIdFromLocaleName("xx_YY"), 0);
  EXPECT_EQ(platform::LangIdFromLocaleName(".UTF-8"), 0);
  EXPECT_EQ(platform::LanguageName(0), "Language Neutral");
  EXPECT_EQ(platform::LanguageName(0x7FFF), "Language Neutral");
}

#ifndef _WIN32
// How the posix backend follows the locale variables and code sets; the
// win32 backend is tested in tests/platform/win32.
TEST_F(LocaleTest, SystemLanguageFollowsLocaleVariablesInOrder) {
  testsupport::EnvGuard env;
  env.Set("LC_ALL", "");
  env.Set("LC_MESSAGES", "zh_CN.UTF-8");
  env.Set("LANG", "en_US.UTF-8");
  EXPECT_EQ(platform::SystemDefaultLangId(), 0x0804);
  env.Set("LC_ALL", "zh_TW.UTF-8");
  EXPECT_EQ(platform::SystemDefaultLangId(), 0x0404);
  env.Set("LC_ALL", nullptr);
  env.Set("LC_MESSAGES", nullptr);
  EXPECT_EQ(platform::SystemDefaultLangId(), 0x0409);
  env.Set("LANG", "de_DE.UTF-8");
  EXPECT_EQ(platform::SystemDefaultLangId(), 0x0407);
  env.Set("LANG", nullptr);
  EXPECT_EQ(platform::SystemDefaultLangId(), 0x0409);
  env.Set("LANG", "tlh_QO");  // a language the table lacks
  EXPECT_EQ(platform::SystemDefaultLangId(), 0x0409);
}

TEST_F(LocaleTest, AsciiLocaleKeepsUtf8Text) {
  testsupport::EnvGuard env;
  env.Set("LC_ALL", "C");
  const std::string text = "\xE4\xB8\xAD\xE6\x96\x87 caf\xC3\xA9";
  EXPECT_EQ(platform::Utf8ToAnsi(text), text);
  EXPECT_EQ(platform::AnsiToUtf8(text), text);
  env.Set("LC_ALL", "C.UTF-8");
  EXPECT_EQ(platform::Utf8ToAnsi(text), text);
  EXPECT_EQ(platform::AnsiToUtf8(""), "");
}

// Builds a Latin-1 German locale inside the sandbox with localedef; skipped
// where the locale sources are not installed.
bool MakeLatin1Locale(const Sandbox& sb) {
  std::string cmd = "mkdir -p '" + sb.Path("locales") + "' && localedef -i de_DE -f ISO-8859-1 '" +
                    sb.Path("locales/de_DE.ISO-8859-1") + "' >/dev/null 2>&1";
  return std::system(cmd.c_str()) == 0;
}

TEST_F(LocaleTest, LegacyCodeSetIsConvertedAndDecimalSeparatorFollowsLocale) {
  testsupport::EnvGuard env;
  env.Set("LC_ALL", "C");
  platform::SetDecimalSeparatorOverride('\0');
  EXPECT_EQ(platform::DecimalSeparator(), '.');
  platform::SetDecimalSeparatorOverride(',');
  EXPECT_EQ(platform::DecimalSeparator(), ',');
  platform::SetDecimalSeparatorOverride('\0');
  EXPECT_EQ(platform::DecimalSeparator(), '.');

  if (!MakeLatin1Locale(sb())) GTEST_SKIP() << "localedef cannot build de_DE.ISO-8859-1";
  env.Set("LOCPATH", sb().Path("locales").c_str());
  env.Set("LC_ALL", "de_DE.ISO-8859-1");
  EXPECT_EQ(platform::DecimalSeparator(), ',');
  // e-acute is one byte in Latin-1; a Chinese character has none and becomes "?".
  EXPECT_EQ(platform::Utf8ToAnsi("caf\xC3\xA9 \xE4\xB8\xAD!"), "caf\xE9 ?!");
  EXPECT_EQ(platform::AnsiToUtf8("caf\xE9\xFF"), "caf\xC3\xA9\xC3\xBF");
  // Broken UTF-8 input loses only the broken bytes.
  EXPECT_EQ(platform::Utf8ToAnsi("a\xC3(b"), "a?(b");
}

#endif  // _WIN32

}  // namespace
