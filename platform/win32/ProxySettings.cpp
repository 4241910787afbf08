// win32 backend of the per-connection proxy options: InternetSetOptionW with
// INTERNET_OPTION_PER_CONNECTION_OPTION and no internet handle, which sets
// the options of the LAN connection for the current user. The structures are
// passed with their sizes on this target (sizeof), not sizes of another one.
#include "platform/ProxySettings.h"

#include <windows.h>
#include <wininet.h>

#include <vector>

#include "platform/win32/WinText.h"

namespace platform {

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
  INTERNET_PER_CONN_OPTION_LISTW list;
  ZeroMemory(&list, sizeof list);
  list.dwSize = sizeof list;
  list.pszConnection = nullptr;  // the LAN connection
  list.dwOptionCount = static_cast<DWORD>(items.size());
  list.dwOptionError = built.optionError;
  list.pOptions = items.data();
  if (!InternetSetOptionW(nullptr, INTERNET_OPTION_PER_CONNECTION_OPTION, &list, sizeof list)) {
    AddProxyNotice("InternetSetOption(PER_CONNECTION_OPTION) failed: " +
                   win32::ErrorText(GetLastError()));
    return false;
  }
  RecordAppliedProxy(options);
  return true;
}

}  // namespace platform
