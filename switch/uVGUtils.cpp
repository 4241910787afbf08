#include "switch/uVGUtils.h"

#include <cstdio>
#include <memory>
#include <mutex>
#include <new>

#include "framework/CLSettings.h"
#include "net/CLDebugLog.h"
#include "net/CLUtils.h"
#include "platform/Browser.h"
#include "platform/Files.h"
#include "platform/PrivateProfile.h"
#include "platform/Process.h"
#include "platform/ProxySettings.h"
#include "platform/Registry.h"
#include "platform/UrlCache.h"

namespace {

const char* const kTraceTag = "uVGUtils";

void Trace(const std::string& line) { CLDebugLog::Write(kTraceTag, line); }

bool IsHostChar(char c) { return IsAsciiAlnum(c) || c == '.' || c == '-'; }

// Starts Firefox with one argument text: the executable in double quotes, a
// space and the text; not hidden and not waited for. A path that holds a
// double quote cannot be quoted and is not started.
bool RunFirefox(const std::string& aExe, const std::string& aArguments) {
  if (aExe.find('"') != std::string::npos) return false;
  try {
    return RunProcess(aExe, aArguments, false, 0, false);
  } catch (...) {
    return false;
  }
}

std::mutex GBoxLock;
TPlainMessageBox GBox;

}  // namespace

bool SettingOn(const char* name) {
  try {
    return GetCLSettings()->GetSettingBool(name);
  } catch (...) {
    return false;
  }
}

// ---- system proxy -------------------------------------------------------------

void SetIEProxy(const std::string& aProxy) {
  const std::string proxy = SettingOn("SWITCH.IE") ? aProxy : std::string();
  // The user's own settings are saved before the first switch of a run
  // changes them, so that stop and exit (or the next start, after a run
  // that was killed) put them back; without a saved copy (nothing was
  // switched) the desktop is left alone instead of being made direct.
  const platform::DesktopSwitch done =
      proxy.empty() ? platform::PutBackDesktopProxy() : platform::SwitchDesktopProxy(proxy);
  for (const std::string& notice : done.notices) Trace(notice);
  if (!proxy.empty())
    Trace("Desktop proxy set to " + proxy +
          ", reached: " + platform::DescribeProxyReach(done.reach));
  else
    Trace(done.changed ? "The user's own desktop proxy is put back"
                       : "The desktop proxy is left as it is");
}

bool SetPerConnectionProxy(bool aEnable, const std::string& aBypass, const std::string& aServer) {
  platform::PerConnectionProxy options;
  options.useProxy = aEnable;
  options.bypass = aBypass;
  options.server = aServer;
  bool applied = false;
  try {
    applied = platform::ApplyPerConnectionProxy(options);
  } catch (...) {
    applied = false;
  }
  for (const std::string& notice : platform::TakeProxyNotices()) Trace(notice);
  return applied;
}

std::string IEProxyServerText(const std::string& aProxy) {
  return platform::InternetSettingsProxyServer(aProxy);
}

void WriteIEProxyRegistry(const std::string& aProxy) {
  platform::WriteInternetSettingsProxy(aProxy);
}

// ---- shared checks ----------------------------------------------------------------

bool SplitSafeProxy(const std::string& aProxy, std::string& aAddress, std::string& aPort) {
  size_t colon = aProxy.find(':');
  if (colon == std::string::npos) return false;
  std::string address = aProxy.substr(0, colon);
  std::string port = aProxy.substr(colon + 1);
  if (address.empty() || port.empty()) return false;
  for (char c : address)
    if (!IsHostChar(c)) return false;
  for (char c : port)
    if (!IsAsciiDigit(c)) return false;
  aAddress = address;
  aPort = port;
  return true;
}

// ---- Opera ----------------------------------------------------------------------

std::string GetOperaPrefsFile() {
  std::string appData = GetShellFolder("AppData");
  if (appData.empty()) return std::string();
  std::string file = JoinPath(appData, "Opera\\Opera\\profile\\opera6.ini");
  if (platform::FileExists(file)) return file;
  file = JoinPath(appData, "Opera\\Opera\\operaprefs.ini");
  if (platform::FileExists(file)) return file;
  // Where the platform keeps Opera's preferences elsewhere (the legacy
  // Linux Opera: ~/.opera/operaprefs.ini).
  file = platform::LegacyOperaPrefsFile();
  if (!file.empty() && platform::FileExists(file)) return file;
  return std::string();
}

void SetOperaProxy(const std::string& aProxy) {
  try {
    std::string proxy = SettingOn("SWITCH.OPERA") ? aProxy : std::string();
    std::string file = GetOperaPrefsFile();
    if (file.empty()) return;
    std::string address, port;
    // A proxy text that could break the preferences line is refused.
    if (!proxy.empty() && !SplitSafeProxy(proxy, address, port)) return;
    const std::string use = proxy.empty() ? "0" : "1";
    platform::WriteProfileValues(file, "Proxy",
                                 {{"Use HTTP", use},
                                  {"Use HTTPS", use},
                                  {"Use FTP", use},
                                  {"HTTP server", proxy},
                                  {"HTTPS server", proxy},
                                  {"FTP server", proxy},
                                  {"No Proxy Servers", ""}});
  } catch (...) {
  }
}

// ---- Firefox ----------------------------------------------------------------------

const char* const FirefoxClearProxyArguments =
    "-silent -nosplash -chrome \"chrome://veilip/content/veilip.xul?clear\"";
const char* const FirefoxClearCookiesArguments =
    "-silent -nosplash -chrome \"chrome://veilip/content/veilip.xul?cc\"";

std::string FirefoxInstallArguments(const std::string& aAppPath) {
  return "\"" + aAppPath + "ffextension.xpi\"";
}

std::string FirefoxSetProxyArguments(const std::string& aAddress, const std::string& aPort) {
  return "-silent -nosplash -chrome \"chrome://veilip/content/veilip.xul?ssl=&proxy=" + aAddress +
         "&port=" + aPort + "\"";
}

std::string GetFirefoxPath() {
  try {
    TCLSettings* settings = GetCLSettings();
    std::string candidate = settings->GetSettingString("FireFoxPath");
    if (!candidate.empty() && platform::FileExists(candidate)) return candidate;

    std::string version;
    if (platform::RegReadString(RegRoot::LocalMachine, "SOFTWARE\\Mozilla\\Mozilla Firefox",
                                "CurrentVersion", version) &&
        !version.empty()) {
      std::string exe;
      if (platform::RegReadString(RegRoot::LocalMachine,
                                  "SOFTWARE\\Mozilla\\Mozilla Firefox\\" + version + "\\Main",
                                  "PathToExe", exe) &&
          !exe.empty())
        candidate = exe;
    }
    std::string folder;
    if (platform::RegReadString(RegRoot::CurrentUser, "Software\\Foxbeam", "", folder) &&
        !folder.empty())
      candidate = IncludeBackslash(folder) + "Foxbeam.exe";

    // Neither the setting nor the registry knows one: the program on the
    // search path (firefox, firefox-esr), where the platform has one.
    if (candidate.empty() || !platform::FileExists(candidate)) {
      for (const char* name : {"firefox", "firefox-esr"}) {
        std::string found = platform::FindProgramOnPath(name);
        if (!found.empty()) {
          candidate = found;
          break;
        }
      }
    }
    if (!candidate.empty() && platform::FileExists(candidate)) {
      try {
        settings->SetSettingString("FireFoxPath", candidate);
      } catch (...) {
      }
    }
    return candidate;
  } catch (...) {
    return std::string();
  }
}

bool IsFirefoxInstalled() { return !GetFirefoxPath().empty(); }

bool IsFirefoxRunning() {
  try {
    return platform::FirefoxRunning(GetFirefoxPath());
  } catch (...) {
    return false;
  }
}

bool FirefoxExtensionPresent() {
  if (platform::FileExists(GetAppPath() + "ffextension.xpi")) return true;
  static std::once_flag noted;
  std::call_once(noted, [] {
    Trace("ffextension.xpi is missing: Firefox is not driven through the extension");
  });
  return false;
}

bool InstallFirefoxExtension() {
  std::string firefox = GetFirefoxPath();
  if (firefox.empty()) return false;
  // Without the extension file Firefox would open a window that installs
  // nothing.
  if (!FirefoxExtensionPresent()) return false;
  std::string appPath = GetAppPath();
  // The folder goes between double quotes; one inside it would end them.
  if (appPath.find('"') != std::string::npos) return false;
  return RunFirefox(firefox, FirefoxInstallArguments(appPath));
}

void SetFirefoxProxy(const std::string& aProxy) {
  std::string proxy = SettingOn("SWITCH.FF") ? aProxy : std::string();
  std::string firefox = GetFirefoxPath();
  if (firefox.empty()) return;
  // No extension, nothing in Firefox obeys the command: it is not started
  // (it follows the desktop's proxy instead, when its profile says so).
  if (!FirefoxExtensionPresent()) return;
  std::string arguments = FirefoxClearProxyArguments;
  if (!proxy.empty()) {
    std::string address, port;
    // Anything but a plain address and port could add arguments of its own.
    if (!SplitSafeProxy(proxy, address, port)) return;
    arguments = FirefoxSetProxyArguments(address, port);
  }
  RunFirefox(firefox, arguments);
}

void ClearFirefoxCookies() {
  std::string firefox = GetFirefoxPath();
  if (firefox.empty() || !platform::FileExists(firefox)) return;
  if (!FirefoxExtensionPresent()) return;
  Trace("cmd");
  RunFirefox(firefox, FirefoxClearCookiesArguments);
  Trace("SP_CreateProcess");
}

namespace {

// The value of network.proxy.type in a prefs.js or user.js text, the last
// line that sets it; -1 when none does.
int ProxyTypeIn(const std::string& text) {
  int value = -1;
  const std::string name = "\"network.proxy.type\"";
  size_t pos = 0;
  while ((pos = text.find(name, pos)) != std::string::npos) {
    size_t lineStart = text.rfind('\n', pos);
    lineStart = lineStart == std::string::npos ? 0 : lineStart + 1;
    const std::string head = text.substr(lineStart, pos - lineStart);
    pos += name.size();
    // Only user_pref(...) and pref(...) lines, not comments, and not a line
    // the program itself set while hiding.
    if (head.find("pref(") == std::string::npos || head.find("//") != std::string::npos) continue;
    const size_t lineEnd = text.find('\n', pos);
    if (text.substr(pos, lineEnd == std::string::npos ? std::string::npos : lineEnd - pos)
            .find(FirefoxWhileHidingMark) != std::string::npos)
      continue;
    size_t comma = text.find(',', pos);
    if (comma == std::string::npos) break;
    size_t digit = text.find_first_not_of(" \t", comma + 1);
    if (digit == std::string::npos || !IsAsciiDigit(text[digit])) continue;
    int n = 0;
    while (digit < text.size() && IsAsciiDigit(text[digit]) && n < 1000)
      n = n * 10 + (text[digit++] - '0');
    value = n;
  }
  return value;
}

}  // namespace

std::vector<TFirefoxProfile> FirefoxProfiles(const std::string& aProfilesFolder) {
  std::vector<TFirefoxProfile> result;
  try {
    const std::string folder =
        aProfilesFolder.empty() ? platform::FirefoxProfilesFolder() : aProfilesFolder;
    std::string ini;
    if (folder.empty() || !platform::ReadWholeFile(JoinPath(folder, "profiles.ini"), ini))
      return result;
    struct Entry {
      std::string name, path;
      bool relative = true, profile = false;
    };
    std::vector<Entry> entries;
    TStringList lines;
    lines.SetText(ini);
    for (int i = 0; i < lines.Count(); ++i) {
      std::string line = Trim(lines[i]);
      if (line.size() > 2 && line.front() == '[' && line.back() == ']') {
        entries.push_back(Entry());
        entries.back().profile = line.compare(0, 8, "[Profile") == 0;
        continue;
      }
      size_t eq = line.find('=');
      if (entries.empty() || eq == std::string::npos) continue;
      const std::string key = Trim(line.substr(0, eq)), value = Trim(line.substr(eq + 1));
      if (key == "Name") entries.back().name = value;
      if (key == "Path") entries.back().path = value;
      if (key == "IsRelative") entries.back().relative = value != "0";
    }
    for (const Entry& e : entries) {
      if (!e.profile || e.path.empty()) continue;
      result.push_back(
          {e.name.empty() ? e.path : e.name, e.relative ? JoinPath(folder, e.path) : e.path});
    }
  } catch (...) {
  }
  return result;
}

const char* const FirefoxWhileHidingMark = "// set while hiding";

int FirefoxProxyType(const std::string& aProfileFolder) {
  std::string prefs, user;
  platform::ReadWholeFile(JoinPath(aProfileFolder, "prefs.js"), prefs);
  platform::ReadWholeFile(JoinPath(aProfileFolder, "user.js"), user);
  int type = ProxyTypeIn(user);
  if (type < 0) type = ProxyTypeIn(prefs);
  return type < 0 ? 5 : type;
}

std::vector<TFirefoxProfileProxy> FirefoxProfilesNotFollowingDesktop(
    const std::string& aProfilesFolder) {
  std::vector<TFirefoxProfileProxy> result;
  try {
    for (const TFirefoxProfile& p : FirefoxProfiles(aProfilesFolder)) {
      const int type = FirefoxProxyType(p.Path);
      if (type != 5) result.push_back({p.Name, p.Path, type});
    }
  } catch (...) {
  }
  return result;
}

// ---- cookies and cache --------------------------------------------------------------

namespace {

// A buffer of exactly size bytes (none for 0 or when memory runs out).
std::unique_ptr<uint8_t[]> GetMem(uint32_t& size) {
  if (size == 0) return nullptr;
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[size]);
  if (!buffer) size = 0;
  return buffer;
}

}  // namespace

void ClearIECookies() {
  const uint32_t kDeleteMask = platform::COOKIE_CACHE_ENTRY | platform::URLHISTORY_CACHE_ENTRY |
                               platform::NORMAL_CACHE_ENTRY;
  try {
    platform::UrlCacheProvider& cache = platform::CurrentUrlCache();

    uint32_t size = 0;
    if (platform::UrlCacheEnum stray = cache.FindFirst(nullptr, size)) cache.FindClose(stray);
    Trace("FindFirstUrlCacheEntry");
    std::unique_ptr<uint8_t[]> buffer = GetMem(size);
    Trace("GetMem");
    if (size != 0) cache.SetStructSize(buffer.get(), size, size);
    uint32_t fetched = size;
    platform::UrlCacheEnum handle = cache.FindFirst(buffer.get(), fetched);
    Trace("FindFirstUrlCacheEntry");

    if (handle) {
      for (;;) {
        Trace(std::string(51, '='));
        const uint32_t type = cache.EntryType(buffer.get());
        const std::string url = cache.SourceUrl(buffer.get());
        if (type & kDeleteMask) cache.DeleteEntry(url);
        Trace("Delete --- " + url);
        Trace("Repeat");

        buffer.reset();
        Trace("FreeMem");
        size = 0;
        cache.FindNext(handle, nullptr, size);
        Trace("FindNextUrlCacheEntry");
        buffer = GetMem(size);
        Trace("GetMem");
        if (size != 0) cache.SetStructSize(buffer.get(), size, size);
        fetched = size;
        if (!buffer || !cache.FindNext(handle, buffer.get(), fetched)) break;
      }
    }

    Trace("repeat end");
    buffer.reset();
    Trace("FreeMem");
    if (handle) cache.FindClose(handle);
    Trace("FindCloseUrlCache");
  } catch (...) {
  }
}

// ---- country gate ---------------------------------------------------------------------

const char* const CountryUnavailableMessage = "This product is unavailable in this country.";

void SetPlainMessageBox(TPlainMessageBox aBox) {
  std::lock_guard<std::mutex> g(GBoxLock);
  GBox = std::move(aBox);
}

void ShowPlainMessage(const std::string& aText) {
  TPlainMessageBox box;
  {
    std::lock_guard<std::mutex> g(GBoxLock);
    box = GBox;
  }
  if (box) {
    box(aText);
    return;
  }
  std::fprintf(stderr, "%s\n", aText.c_str());
}

bool IsUnavailableLanguageName(const std::string& aName) {
  return SameText(aName, "Chinese (Simplified, PRC)");
}

bool CountryCheck() {
  if (!IsUnavailableLanguageName(GetSystemLanguageName())) return true;
  ShowPlainMessage(CountryUnavailableMessage);
  return false;
}

bool IsUnavailableLocalInfo(const TStringList& aInfo) {
  return SameText(aInfo.Values("COUNTRY_SHORT"), "CN");
}
