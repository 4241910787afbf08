// win32 backend of the per-connection proxy options: InternetSetOptionW with
// INTERNET_OPTION_PER_CONNECTION_OPTION and no internet handle, which sets
// the options of the LAN connection for the current user. The structures are
// passed with their sizes on this target (sizeof), not sizes of another one.
// The user's own options are read back with InternetQueryOptionW (flags,
// server, bypass list, autoconfig address) so they can be put back.
#include "platform/ProxySettings.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "platform/Files.h"
#include "platform/win32/PerConnectionOptions.h"
#include "platform/win32/WinText.h"

namespace platform {

namespace {

// Hands an option list to WinINet for the LAN connection (no connection
// name); a refusal is noted for the debug log.
bool SetConnectionOptions(INTERNET_PER_CONN_OPTIONW* items, DWORD count, DWORD optionError) {
  INTERNET_PER_CONN_OPTION_LISTW list;
  ZeroMemory(&list, sizeof list);
  list.dwSize = sizeof list;
  list.pszConnection = nullptr;  // the LAN connection
  list.dwOptionCount = count;
  list.dwOptionError = optionError;
  list.pOptions = items;
  if (!InternetSetOptionW(nullptr, INTERNET_OPTION_PER_CONNECTION_OPTION, &list, sizeof list)) {
    AddProxyNotice("InternetSetOption(PER_CONNECTION_OPTION) failed: " +
                   win32::ErrorText(GetLastError()));
    return false;
  }
  return true;
}

}  // namespace

bool ApplyPerConnectionProxy(const PerConnectionProxy& options) {
  const PerConnectionOptionList built = BuildPerConnectionOptionList(options);
  // The texts live here while the call runs; an absent text is null.
  std::vector<std::wstring> texts(built.options.size());
  std::vector<INTERNET_PER_CONN_OPTIONW> items(built.options.size());
  for (size_t i = 0; i < built.options.size(); ++i) {
    const PerConnectionOption& o = built.options[i];
    ZeroMemory(&items[i], sizeof items[i]);
    items[i].dwOption = o.option;
    if (o.option == INTERNET_PER_CONN_FLAGS) {
      items[i].Value.dwValue = o.number;
    } else if (o.hasText) {
      texts[i] = win32::Wide(o.text);
      items[i].Value.pszValue = texts[i].data();
    } else {
      items[i].Value.pszValue = nullptr;
    }
  }
  if (!SetConnectionOptions(items.data(), static_cast<DWORD>(items.size()), built.optionError))
    return false;
  RecordAppliedProxy(options);
  RecordProxyReach(kProxyReachWindows);
  return true;
}

namespace {

const DWORD kKeptOptions[] = {INTERNET_PER_CONN_FLAGS, INTERNET_PER_CONN_PROXY_SERVER,
                              INTERNET_PER_CONN_PROXY_BYPASS, INTERNET_PER_CONN_AUTOCONFIG_URL};
const char* const kKeptNames[] = {"wininet.flags", "wininet.server", "wininet.bypass",
                                  "wininet.autoconfig"};

}  // namespace

DesktopProxyState ReadDesktopProxyState() {
  DesktopProxyState state;
  INTERNET_PER_CONN_OPTIONW items[4];
  ZeroMemory(items, sizeof items);
  for (int i = 0; i < 4; ++i) items[i].dwOption = kKeptOptions[i];
  INTERNET_PER_CONN_OPTION_LISTW list;
  ZeroMemory(&list, sizeof list);
  list.dwSize = sizeof list;
  list.pszConnection = nullptr;
  list.dwOptionCount = 4;
  list.pOptions = items;
  DWORD size = sizeof list;
  if (!InternetQueryOptionW(nullptr, INTERNET_OPTION_PER_CONNECTION_OPTION, &list, &size)) {
    AddProxyNotice("InternetQueryOption(PER_CONNECTION_OPTION) failed: " +
                   win32::ErrorText(GetLastError()));
    return state;
  }
  state.emplace_back("wininet", "1");
  state.emplace_back(kKeptNames[0], std::to_string(items[0].Value.dwValue));
  for (int i = 1; i < 4; ++i) {
    if (items[i].Value.pszValue) {
      state.emplace_back(kKeptNames[i], win32::Utf8(items[i].Value.pszValue));
      GlobalFree(items[i].Value.pszValue);
    }
  }
  std::sort(state.begin(), state.end());
  return state;
}

bool WriteDesktopProxyState(const DesktopProxyState& state) {
  bool wininet = false;
  for (const auto& entry : state) wininet = wininet || entry.first == "wininet";
  if (!wininet) return true;
  std::wstring texts[4];
  INTERNET_PER_CONN_OPTIONW items[4];
  ZeroMemory(items, sizeof items);
  for (int i = 0; i < 4; ++i) {
    items[i].dwOption = kKeptOptions[i];
    const std::pair<std::string, std::string>* found = nullptr;
    for (const auto& entry : state)
      if (entry.first == kKeptNames[i]) found = &entry;
    if (i == 0) {
      DWORD flags = PROXY_TYPE_DIRECT;
      if (found) flags = static_cast<DWORD>(std::strtoul(found->second.c_str(), nullptr, 10));
      items[i].Value.dwValue = flags;
    } else if (found) {
      texts[i] = win32::Wide(found->second);
      items[i].Value.pszValue = texts[i].data();
    } else {
      items[i].Value.pszValue = nullptr;
    }
  }
  if (!SetConnectionOptions(items, 4, 0)) return false;
  // Programs that cache the options are told they changed.
  InternetSetOptionW(nullptr, INTERNET_OPTION_SETTINGS_CHANGED, nullptr, 0);
  InternetSetOptionW(nullptr, INTERNET_OPTION_REFRESH, nullptr, 0);
  RecordProxyReach(kProxyReachWindows);
  return true;
}

std::string SavedDesktopProxyFile() {
  const std::string appData = DefaultShellFolder("AppData");
  if (appData.empty()) return std::string();
  return appData + "\\Veilgate\\desktop-proxy.saved";
}

bool NotifyKdeProxyChanged() { return false; }

}  // namespace platform
