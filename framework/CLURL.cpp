#include "framework/CLURL.h"

#include <chrono>

#include "framework/CLSettings.h"
#include "net/CLUtils.h"
#include "platform/Locale.h"
#include "platform/System.h"

namespace {

// Form encoding of text taken in the ANSI code page.
std::string EncodeParam(const std::string& text) { return URLEncode(platform::Utf8ToAnsi(text)); }

std::string TwoDigits(int v) {
  std::string s = std::to_string(v);
  return s.size() < 2 ? "0" + s : s;
}

std::string ThreeDigits(int v) {
  std::string s = std::to_string(v);
  while (s.size() < 3) s.insert(0, "0");
  return s;
}

}  // namespace

uint32_t VersionTextToNumber(const std::string& strVer) {
  const std::string text = strVer.substr(0, strVer.find(' '));
  TStringList pieces;
  SplitString(text, '.', &pieces);
  if (pieces.Count() != 4) return 0;
  uint32_t n[4];
  for (int i = 0; i < 4; ++i) n[i] = static_cast<uint32_t>(StrToIntDefault(pieces[i], 0));
  return (n[0] << 24) + ((n[1] & 0xFF) << 16) + ((n[2] & 0xFF) << 8) + (n[3] & 0xFF);
}

std::string GetChannel() {
  const std::string regPath = GetCLSettings()->GetSettingString("App.RegPath");
  return RegReadString(RegRoot::LocalMachine, "Software\\" + regPath, "CHL", "unknow");
}

std::string ChannelToHex(const std::string& strChannel) {
  std::string c;
  for (char ch : strChannel)
    if (ch != '"') c += ch;
  const size_t cut = c.find_last_of("\\:");
  if (cut != std::string::npos) c.erase(0, cut + 1);
  return CharsToHex(c, static_cast<int>(Utf8ToUtf16(c).size()));
}

std::string GetURLParamAt(int seconds, int milliseconds) {
  TCLSettings* s = GetCLSettings();
  std::string pid = s->GetSettingString("App.PID");
  if (pid.empty()) pid = s->GetSettingString("App.MagicWord");
  const platform::VersionInfo v = platform::GetVersionInfo();
  const std::string wver =
      std::to_string(v.major) + "_" + std::to_string(v.minor) + "_" + v.csdVersion;
  std::string r;
  r += TwoDigits(seconds) + ThreeDigits(milliseconds);
  r += "&PID=" + EncodeParam(pid);
  r += "&LANG=" + EncodeParam(s->GetSettingString("Language"));
  r += "&DAY=" + std::to_string(s->GetRunDays());
  r += "&RUNTIME=" + std::to_string(s->RunTimes());
  r += "&VER=" + HexText(VersionTextToNumber(s->GetSettingString("App.Ver")), 8);
  r += "&SVER=" + std::to_string(s->GetSettingInteger("App.SubVer"));
  r += "&WVER=" + EncodeParam(wver);
  r += "&WLANG=" + std::to_string(platform::SystemDefaultLangId());
  r += "&CHL=" + ChannelToHex(GetChannel());
  return r;
}

std::string GetURLParam() {
  // The seconds of the local time equal those of UTC (time zones are whole
  // minutes apart), so no time-zone lookup is needed.
  using namespace std::chrono;
  const auto ms = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
  return GetURLParamAt(static_cast<int>((ms / 1000) % 60), static_cast<int>(ms % 1000));
}

std::string AppendURLQuery(const std::string& address, const std::string& query) {
  if (address.find('?') == std::string::npos) return address + "?" + query;
  if (!address.empty() && (address.back() == '?' || address.back() == '&')) return address + query;
  return address + "&" + query;
}

std::string GetURL(const std::string& strPage, bool bAddParams) {
  TCLSettings* s = GetCLSettings();
  std::string address = s->GetSettingString("URL." + strPage);
  if (!Trim(address).empty())
    address = StringReplaceAll(address, "%exepath%", GetAppPathNoSlash(), true);
  else
    address = s->GetSettingString("URL.Redirect");
  if (bAddParams && StartsWithText(address, "http"))
    address = AppendURLQuery(address, "ACTION=" + strPage + "&" + GetURLParam());
  return address;
}

bool ParseWcmeLink(const std::string& URL, std::string& strPage) {
  strPage.clear();
  if (!StartsWithText(URL, "wcme:")) return false;
  TStringList values;
  ParseURLQuery(URL, &values, true);
  strPage = platform::AnsiToUtf8(values.Values("PAGE"));
  return true;
}

void HandleBeforeNavigate(const std::string& URL, bool& Cancel,
                          const std::function<void(const std::string&)>& showPage) {
  std::string page;
  if (!ParseWcmeLink(URL, page)) return;
  if (!page.empty() && showPage) showPage(page);
  Cancel = true;
}
