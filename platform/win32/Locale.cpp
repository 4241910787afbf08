// win32 backend of the locale service: GetSystemDefaultLangID,
// VerLanguageNameW, the ANSI code page (CP_ACP) and LOCALE_SDECIMAL.
#include "platform/Locale.h"

#include <windows.h>

#include <atomic>

#include "platform/LanguageTable.h"
#include "platform/win32/WinText.h"

namespace platform {

namespace {
using win32::Utf8;
using win32::Wide;

std::atomic<char> gDecimalOverride{'\0'};
}  // namespace

uint16_t SystemDefaultLangId() { return GetSystemDefaultLangID(); }

// The classic names of the known languages come from the shared table, so
// that the name of a language is the same on every Windows version (and
// under Wine); VerLanguageNameW names the others.
std::string LanguageName(uint16_t langId) {
  std::string known;
  if (KnownLanguageName(langId, known)) return known;
  // The neutral language, as Windows names it (Wine says "English").
  if (langId == 0) return "Language Neutral";
  wchar_t buf[256] = {};
  DWORD n = VerLanguageNameW(langId, buf, 256);
  if (n >= 256) n = 255;
  while (n > 0 && buf[n - 1] == L'\0') --n;  // some versions count the terminator
  if (n == 0) return "Language Neutral";
  return Utf8(buf, static_cast<int>(n));
}

std::string AnsiToUtf8(const std::string& ansi) {
  if (ansi.empty()) return ansi;
  int n = MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
  if (n <= 0) return std::string();
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), wide.data(), n);
  return Utf8(wide);
}

std::string Utf8ToAnsi(const std::string& utf8) {
  if (utf8.empty()) return utf8;
  std::wstring wide = Wide(utf8);
  int n = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                              "?", nullptr);
  if (n <= 0) return std::string();
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n, "?",
                      nullptr);
  return out;
}

char DecimalSeparator() {
  char forced = gDecimalOverride.load();
  if (forced != '\0') return forced;
  wchar_t buf[8];
  int n = GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, buf, 8);
  // A separator outside ASCII (or longer than one character) cannot be one
  // char; "." is used instead.
  if (n == 2 && buf[0] > 0 && buf[0] < 0x80) return static_cast<char>(buf[0]);
  return '.';
}

void SetDecimalSeparatorOverride(char separator) { gDecimalOverride.store(separator); }

}  // namespace platform
