// posix backend of the locale service: the POSIX locale named by the
// environment, mapped to Windows language identifiers and names, and the
// locale's code set standing in for the ANSI code page.
#include "platform/Locale.h"

#include <iconv.h>
#include <langinfo.h>
#include <locale.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/AsciiText.h"
#include "platform/LanguageTable.h"

namespace platform {

namespace {

constexpr uint16_t kEnglishUS = 0x0409;

std::string EnvValue(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

// The locale name that governs a category, as setlocale(cat, "") would pick it.
std::string EffectiveLocale(const char* categoryVar) {
  std::string v = EnvValue("LC_ALL");
  if (v.empty()) v = EnvValue(categoryVar);
  if (v.empty()) v = EnvValue("LANG");
  return v;
}

bool IsUtf8Identity(const std::string& codeset) {
  std::string c = UpperCase(codeset);
  std::string stripped;
  for (char ch : c)
    if (ch != '-' && ch != '_') stripped += ch;
  // Plain ASCII (the C locale) is a subset of UTF-8; treating it as UTF-8
  // keeps every character instead of turning non-ASCII text into "?".
  return stripped.empty() || stripped == "UTF8" || stripped == "ANSIX3.41968" ||
         stripped == "ASCII" || stripped == "USASCII" || stripped == "646";
}

std::mutex gCodesetMutex;
std::string gCodesetKey = "\x01";  // never a real key, forces the first lookup
std::string gCodeset;

// The code set of the user's LC_CTYPE locale ("" for UTF-8 or unknown).
std::string CurrentCodeset() {
  const char* locpath = std::getenv("LOCPATH");
  std::string key = EffectiveLocale("LC_CTYPE") + '\n' + (locpath ? locpath : "");
  std::lock_guard<std::mutex> lock(gCodesetMutex);
  if (key == gCodesetKey) return gCodeset;
  std::string codeset;
  locale_t loc = ::newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0));
  if (loc != static_cast<locale_t>(0)) {
    const char* cs = ::nl_langinfo_l(CODESET, loc);
    if (cs) codeset = cs;
    ::freelocale(loc);
  }
  if (IsUtf8Identity(codeset)) codeset.clear();
  gCodesetKey = key;
  gCodeset = codeset;
  return codeset;
}

// Length of the UTF-8 sequence starting at s[i] (1 for an invalid byte).
size_t Utf8SequenceLength(const std::string& s, size_t i) {
  unsigned char c = static_cast<unsigned char>(s[i]);
  size_t len = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 1;
  if (i + len > s.size()) return 1;
  for (size_t k = 1; k < len; ++k)
    if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 1;
  return len;
}

// Converts with iconv; an input sequence that cannot be converted becomes
// "?" (in the target code set) and conversion goes on after it.
std::string Convert(const std::string& input, const std::string& from, const std::string& to,
                    bool inputIsUtf8) {
  iconv_t cd = ::iconv_open(to.c_str(), from.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return input;
  std::string out;
  out.reserve(input.size() * 2);
  char buf[1024];
  char* in = const_cast<char*>(input.data());
  size_t inLeft = input.size();
  while (inLeft > 0) {
    char* o = buf;
    size_t oLeft = sizeof buf;
    size_t r = ::iconv(cd, &in, &inLeft, &o, &oLeft);
    out.append(buf, sizeof buf - oLeft);
    if (r != static_cast<size_t>(-1)) continue;
    if (errno == E2BIG) continue;
    // EILSEQ or EINVAL: skip the offending character and put "?" instead.
    size_t skip = 1;
    if (inputIsUtf8) skip = Utf8SequenceLength(input, input.size() - inLeft);
    if (skip > inLeft) skip = inLeft;
    in += skip;
    inLeft -= skip;
    out += '?';
    ::iconv(cd, nullptr, nullptr, nullptr, nullptr);  // reset shift state
  }
  // Flush any final shift sequence.
  char* o = buf;
  size_t oLeft = sizeof buf;
  ::iconv(cd, nullptr, nullptr, &o, &oLeft);
  out.append(buf, sizeof buf - oLeft);
  ::iconv_close(cd);
  return out;
}

std::atomic<char> gDecimalOverride{'\0'};
std::mutex gDecimalMutex;
std::string gDecimalKey = "\x01";  // never a real key, forces the first lookup
char gDecimal = '.';

}  // namespace

uint16_t SystemDefaultLangId() {
  uint16_t id = LangIdFromLocaleName(EffectiveLocale("LC_MESSAGES"));
  return id ? id : kEnglishUS;
}

std::string LanguageName(uint16_t langId) {
  std::string name;
  return KnownLanguageName(langId, name) ? name : std::string("Language Neutral");
}

std::string AnsiToUtf8(const std::string& ansi) {
  std::string codeset = CurrentCodeset();
  if (codeset.empty() || ansi.empty()) return ansi;
  return Convert(ansi, codeset, "UTF-8", false);
}

std::string Utf8ToAnsi(const std::string& utf8) {
  std::string codeset = CurrentCodeset();
  if (codeset.empty() || utf8.empty()) return utf8;
  return Convert(utf8, "UTF-8", codeset, true);
}

char DecimalSeparator() {
  char forced = gDecimalOverride.load();
  if (forced != '\0') return forced;
  const char* locpath = std::getenv("LOCPATH");
  std::string key = EffectiveLocale("LC_NUMERIC") + '\n' + (locpath ? locpath : "");
  std::lock_guard<std::mutex> lock(gDecimalMutex);
  if (key == gDecimalKey) return gDecimal;
  char sep = '.';
  locale_t loc = ::newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(0));
  if (loc != static_cast<locale_t>(0)) {
    const char* radix = ::nl_langinfo_l(RADIXCHAR, loc);
    // A separator outside ASCII (several bytes) cannot be one char; keep ".".
    if (radix && radix[0] != '\0' && radix[1] == '\0') sep = radix[0];
    ::freelocale(loc);
  }
  gDecimalKey = key;
  gDecimal = sep;
  return sep;
}

void SetDecimalSeparatorOverride(char separator) { gDecimalOverride.store(separator); }

}  // namespace platform
