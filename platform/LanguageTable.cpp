// The language table shared by the backends (see LanguageTable.h) and the
// mapping of locale names to language identifiers.
#include "platform/LanguageTable.h"

#include "platform/AsciiText.h"
#include "platform/Locale.h"

namespace platform {

namespace {

struct LangEntry {
  const char* language;   // ISO 639 code
  const char* territory;  // ISO 3166 code, "" for the language's primary entry
  uint16_t id;
  const char* name;  // as VerLanguageNameW gives it
};

// The first entry of each language is its primary variant, used when the
// locale names no territory or one this table does not know.
const LangEntry kLanguages[] = {
    {"af", "ZA", 0x0436, "Afrikaans (South Africa)"},
    {"ar", "SA", 0x0401, "Arabic (Saudi Arabia)"},
    {"ar", "IQ", 0x0801, "Arabic (Iraq)"},
    {"ar", "EG", 0x0C01, "Arabic (Egypt)"},
    {"ar", "LY", 0x1001, "Arabic (Libya)"},
    {"ar", "DZ", 0x1401, "Arabic (Algeria)"},
    {"ar", "MA", 0x1801, "Arabic (Morocco)"},
    {"ar", "TN", 0x1C01, "Arabic (Tunisia)"},
    {"ar", "OM", 0x2001, "Arabic (Oman)"},
    {"ar", "YE", 0x2401, "Arabic (Yemen)"},
    {"ar", "SY", 0x2801, "Arabic (Syria)"},
    {"ar", "JO", 0x2C01, "Arabic (Jordan)"},
    {"ar", "LB", 0x3001, "Arabic (Lebanon)"},
    {"ar", "KW", 0x3401, "Arabic (Kuwait)"},
    {"ar", "AE", 0x3801, "Arabic (U.A.E.)"},
    {"ar", "BH", 0x3C01, "Arabic (Bahrain)"},
    {"ar", "QA", 0x4001, "Arabic (Qatar)"},
    {"be", "BY", 0x0423, "Belarusian (Belarus)"},
    {"bg", "BG", 0x0402, "Bulgarian (Bulgaria)"},
    {"ca", "ES", 0x0403, "Catalan (Catalan)"},
    {"cs", "CZ", 0x0405, "Czech (Czech Republic)"},
    {"da", "DK", 0x0406, "Danish (Denmark)"},
    {"de", "DE", 0x0407, "German (Germany)"},
    {"de", "CH", 0x0807, "German (Switzerland)"},
    {"de", "AT", 0x0C07, "German (Austria)"},
    {"de", "LU", 0x1007, "German (Luxembourg)"},
    {"de", "LI", 0x1407, "German (Liechtenstein)"},
    {"el", "GR", 0x0408, "Greek (Greece)"},
    {"en", "US", 0x0409, "English (United States)"},
    {"en", "GB", 0x0809, "English (United Kingdom)"},
    {"en", "AU", 0x0C09, "English (Australia)"},
    {"en", "CA", 0x1009, "English (Canada)"},
    {"en", "NZ", 0x1409, "English (New Zealand)"},
    {"en", "IE", 0x1809, "English (Ireland)"},
    {"en", "ZA", 0x1C09, "English (South Africa)"},
    {"en", "JM", 0x2009, "English (Jamaica)"},
    {"en", "BZ", 0x2809, "English (Belize)"},
    {"en", "TT", 0x2C09, "English (Trinidad and Tobago)"},
    {"en", "ZW", 0x3009, "English (Zimbabwe)"},
    {"en", "PH", 0x3409, "English (Republic of the Philippines)"},
    {"en", "IN", 0x4009, "English (India)"},
    {"en", "MY", 0x4409, "English (Malaysia)"},
    {"en", "SG", 0x4809, "English (Singapore)"},
    {"es", "ES", 0x0C0A, "Spanish (Spain, International Sort)"},
    {"es", "MX", 0x080A, "Spanish (Mexico)"},
    {"es", "GT", 0x100A, "Spanish (Guatemala)"},
    {"es", "CR", 0x140A, "Spanish (Costa Rica)"},
    {"es", "PA", 0x180A, "Spanish (Panama)"},
    {"es", "DO", 0x1C0A, "Spanish (Dominican Republic)"},
    {"es", "VE", 0x200A, "Spanish (Venezuela)"},
    {"es", "CO", 0x240A, "Spanish (Colombia)"},
    {"es", "PE", 0x280A, "Spanish (Peru)"},
    {"es", "AR", 0x2C0A, "Spanish (Argentina)"},
    {"es", "EC", 0x300A, "Spanish (Ecuador)"},
    {"es", "CL", 0x340A, "Spanish (Chile)"},
    {"es", "UY", 0x380A, "Spanish (Uruguay)"},
    {"es", "PY", 0x3C0A, "Spanish (Paraguay)"},
    {"es", "BO", 0x400A, "Spanish (Bolivia)"},
    {"es", "SV", 0x440A, "Spanish (El Salvador)"},
    {"es", "HN", 0x480A, "Spanish (Honduras)"},
    {"es", "NI", 0x4C0A, "Spanish (Nicaragua)"},
    {"es", "PR", 0x500A, "Spanish (Puerto Rico)"},
    {"es", "US", 0x540A, "Spanish (United States)"},
    {"et", "EE", 0x0425, "Estonian (Estonia)"},
    {"eu", "ES", 0x042D, "Basque (Basque)"},
    {"fa", "IR", 0x0429, "Persian"},
    {"fi", "FI", 0x040B, "Finnish (Finland)"},
    {"fil", "PH", 0x0464, "Filipino (Philippines)"},
    {"fr", "FR", 0x040C, "French (France)"},
    {"fr", "BE", 0x080C, "French (Belgium)"},
    {"fr", "CA", 0x0C0C, "French (Canada)"},
    {"fr", "CH", 0x100C, "French (Switzerland)"},
    {"fr", "LU", 0x140C, "French (Luxembourg)"},
    {"fr", "MC", 0x180C, "French (Principality of Monaco)"},
    {"gl", "ES", 0x0456, "Galician (Galician)"},
    {"he", "IL", 0x040D, "Hebrew (Israel)"},
    {"hi", "IN", 0x0439, "Hindi (India)"},
    {"hr", "HR", 0x041A, "Croatian (Croatia)"},
    {"hu", "HU", 0x040E, "Hungarian (Hungary)"},
    {"hy", "AM", 0x042B, "Armenian (Armenia)"},
    {"id", "ID", 0x0421, "Indonesian (Indonesia)"},
    {"is", "IS", 0x040F, "Icelandic (Iceland)"},
    {"it", "IT", 0x0410, "Italian (Italy)"},
    {"it", "CH", 0x0810, "Italian (Switzerland)"},
    {"ja", "JP", 0x0411, "Japanese (Japan)"},
    {"ka", "GE", 0x0437, "Georgian (Georgia)"},
    {"kk", "KZ", 0x043F, "Kazakh (Kazakhstan)"},
    {"ko", "KR", 0x0412, "Korean (Korea)"},
    {"lt", "LT", 0x0427, "Lithuanian (Lithuania)"},
    {"lv", "LV", 0x0426, "Latvian (Latvia)"},
    {"mk", "MK", 0x042F, "Macedonian (Former Yugoslav Republic of Macedonia)"},
    {"ms", "MY", 0x043E, "Malay (Malaysia)"},
    {"ms", "BN", 0x083E, "Malay (Brunei Darussalam)"},
    {"nb", "NO", 0x0414, "Norwegian, Bokm\xC3\xA5l (Norway)"},
    {"no", "NO", 0x0414, "Norwegian, Bokm\xC3\xA5l (Norway)"},
    {"nn", "NO", 0x0814, "Norwegian, Nynorsk (Norway)"},
    {"nl", "NL", 0x0413, "Dutch (Netherlands)"},
    {"nl", "BE", 0x0813, "Dutch (Belgium)"},
    {"pl", "PL", 0x0415, "Polish (Poland)"},
    {"pt", "BR", 0x0416, "Portuguese (Brazil)"},
    {"pt", "PT", 0x0816, "Portuguese (Portugal)"},
    {"ro", "RO", 0x0418, "Romanian (Romania)"},
    {"ru", "RU", 0x0419, "Russian (Russia)"},
    {"sk", "SK", 0x041B, "Slovak (Slovakia)"},
    {"sl", "SI", 0x0424, "Slovenian (Slovenia)"},
    {"sq", "AL", 0x041C, "Albanian (Albania)"},
    {"sr", "RS", 0x281A, "Serbian (Cyrillic, Serbia)"},
    {"sv", "SE", 0x041D, "Swedish (Sweden)"},
    {"sv", "FI", 0x081D, "Swedish (Finland)"},
    {"sw", "KE", 0x0441, "Kiswahili (Kenya)"},
    {"ta", "IN", 0x0449, "Tamil (India)"},
    {"th", "TH", 0x041E, "Thai (Thailand)"},
    {"tr", "TR", 0x041F, "Turkish (Turkey)"},
    {"uk", "UA", 0x0422, "Ukrainian (Ukraine)"},
    {"ur", "PK", 0x0420, "Urdu (Islamic Republic of Pakistan)"},
    {"vi", "VN", 0x042A, "Vietnamese (Vietnam)"},
    {"zh", "CN", 0x0804, "Chinese (Simplified, PRC)"},
    {"zh", "TW", 0x0404, "Chinese (Traditional, Taiwan)"},
    {"zh", "HK", 0x0C04, "Chinese (Traditional, Hong Kong S.A.R.)"},
    {"zh", "SG", 0x1004, "Chinese (Simplified, Singapore)"},
    {"zh", "MO", 0x1404, "Chinese (Traditional, Macao S.A.R.)"},
};

// Serbian written in Latin letters ("sr_RS@latin").
const LangEntry kSerbianLatin = {"sr", "RS", 0x241A, "Serbian (Latin, Serbia)"};

constexpr uint16_t kEnglishUS = 0x0409;

}  // namespace

uint16_t LangIdFromLocaleName(const std::string& locale) {
  if (locale.empty() || locale == "C" || locale == "POSIX" || locale.rfind("C.", 0) == 0)
    return kEnglishUS;
  // language[_territory][.codeset][@modifier]; "-" accepted for "_".
  std::string language, territory, modifier;
  size_t i = 0;
  while (i < locale.size() && IsAsciiLetter(locale[i])) language += locale[i++];
  if (i < locale.size() && (locale[i] == '_' || locale[i] == '-')) {
    ++i;
    while (i < locale.size() && IsAsciiAlnum(locale[i])) territory += locale[i++];
  }
  size_t at = locale.find('@');
  if (at != std::string::npos) modifier = LowerCase(locale.substr(at + 1));
  language = LowerCase(language);
  territory = UpperCase(territory);
  if (language.empty()) return 0;
  if (language == "sr" && modifier == "latin") return kSerbianLatin.id;
  const LangEntry* primary = nullptr;
  for (const LangEntry& e : kLanguages) {
    if (language != e.language) continue;
    if (!primary) primary = &e;
    if (territory == e.territory) return e.id;
  }
  return primary ? primary->id : 0;
}

bool KnownLanguageName(uint16_t langId, std::string& name) {
  if (langId == kSerbianLatin.id) {
    name = kSerbianLatin.name;
    return true;
  }
  for (const LangEntry& e : kLanguages) {
    if (e.id == langId) {
      name = e.name;
      return true;
    }
  }
  return false;
}

}  // namespace platform
