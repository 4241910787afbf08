// The per-connection option list that WinINet receives for the desktop's
// proxy options: built apart from the call so that its shape can be checked.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <windows.h>
#include <wininet.h>

#include "platform/ProxySettings.h"

namespace platform {

// The per-connection option list that Windows receives for the options
// (InternetSetOptionW, INTERNET_OPTION_PER_CONNECTION_OPTION): the LAN
// connection (no connection name), no option error, and three options in
// this order: the flags, the bypass list, the server. The flags are
// PROXY_TYPE_PROXY with a proxy and PROXY_TYPE_DIRECT without, never both;
// an empty text is passed as absent (null), not as an empty text. The
// numbers are WinINet's own (INTERNET_PER_CONN_*, PROXY_TYPE_*).

struct PerConnectionOption {
  uint32_t option = 0;   // INTERNET_PER_CONN_*
  uint32_t number = 0;   // the value of INTERNET_PER_CONN_FLAGS
  bool hasText = false;  // false: the text is passed as null
  std::string text;      // UTF-8; the backend passes it as zero-terminated UTF-16
};
struct PerConnectionOptionList {
  bool hasConnection = false;  // false: null connection name, the LAN connection
  uint32_t optionError = 0;
  std::vector<PerConnectionOption> options;
};
PerConnectionOptionList BuildPerConnectionOptionList(const PerConnectionProxy& options);

}  // namespace platform
