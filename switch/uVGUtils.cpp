#include "switch/uVGUtils.h"

#include <cstdio>
#include <memory>
#include <mutex>
#include <new>

#include "framework/CLDebugLog.h"
#include "framework/CLSettings.h"
#include "net/CLUtils.h"
#include "platform/Browser.h"
#include "platform/Files.h"
#include "platform/PrivateProfile.h"
#include "platform/ProxySettings.h"
#include "platform/Registry.h"
#include "platform/UrlCache.h"

namespace {

const char* const kTraceTag = "uVGUtils";

void Trace(const std::string& line) { CLDebugLog::Write(kTraceTag, line); }

// A Boolean setting; a store that cannot answer counts as false.
bool SettingOn(const char* name) {
  try {
    return GetCLSettings()->GetSettingBool(name);
  } catch (...) {
    return false;
  }
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsHostChar(char c) {
  return IsDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '.' || c == '-';
}

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

// ---- system proxy -------------------------------------------------------------

void SetIEProxy(const std::string& aProxy) {
  try {
    std::string proxy = SettingOn("SWITCH.IE") ? aProxy : std::string();
    if (!proxy.empty())
      SetPerConnectionProxy(true, "", proxy);
    else
      SetPerConnectionProxy(false, "", "");
    WriteIEProxyRegistry(proxy);
  } catch (...) {
  }
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
  return "http=" + aProxy + ";ftp=" + aProxy + ";https=" + aProxy + ";";
}

void WriteIEProxyRegistry(const std::string& aProxy) {
  const std::string key = "\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
  if (!platform::RegCreateKey(RegRoot::CurrentUser, key)) return;
  platform::RegWriteString(RegRoot::CurrentUser, key, "ProxyServer", IEProxyServerText(aProxy));
  platform::RegWriteDword(RegRoot::CurrentUser, key, "ProxyEnable", aProxy.empty() ? 0 : 1);
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
    if (!IsDigit(c)) return false;
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

bool InstallFirefoxExtension() {
  std::string firefox = GetFirefoxPath();
  if (firefox.empty()) return false;
  std::string appPath = GetAppPath();
  // The folder goes between double quotes; one inside it would end them.
  if (appPath.find('"') != std::string::npos) return false;
  return RunFirefox(firefox, FirefoxInstallArguments(appPath));
}

void SetFirefoxProxy(const std::string& aProxy) {
  std::string proxy = SettingOn("SWITCH.FF") ? aProxy : std::string();
  std::string firefox = GetFirefoxPath();
  if (firefox.empty()) return;
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
  Trace("cmd");
  RunFirefox(firefox, FirefoxClearCookiesArguments);
  Trace("SP_CreateProcess");
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
  const uint32_t kDeleteMask =
      platform::COOKIE_CACHE_ENTRY | platform::URLHISTORY_CACHE_ENTRY | platform::NORMAL_CACHE_ENTRY;
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
