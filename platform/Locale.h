// Locale service: the system's default language, the ANSI code page and the
// decimal separator of the user's locale.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// The system default language identifier (GetSystemDefaultLangID). On posix
// the locale (LC_ALL, LC_MESSAGES, LANG) mapped to the Windows identifier.
uint16_t SystemDefaultLangId();
// The language name for an identifier (VerLanguageNameW), for example
// "English (United States)" or "Chinese (Simplified, PRC)". Unknown
// identifiers give "Language Neutral".
std::string LanguageName(uint16_t langId);
// Maps a locale name such as "zh_CN.UTF-8" to a Windows language identifier
// (0 when unknown). Exposed for tests of the posix mapping.
uint16_t LangIdFromLocaleName(const std::string& locale);

// Text in the system ANSI code page (CP_ACP on Windows, the locale's code set
// on posix) to and from UTF-8. Characters the code page lacks become "?".
std::string AnsiToUtf8(const std::string& ansi);
std::string Utf8ToAnsi(const std::string& utf8);

// The decimal separator of the user's locale.
char DecimalSeparator();
// Tests set a separator to simulate another locale; '\0' restores the real one.
void SetDecimalSeparatorOverride(char separator);

}  // namespace platform
