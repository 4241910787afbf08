// The desktop's per-connection proxy options (the system-wide proxy that
// browsers and most programs follow). Windows: InternetSetOptionW with a
// per-connection option list. posix: GNOME's proxy settings through GIO and
// KDE's kioslaverc where the user has one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

struct PerConnectionProxy {
  bool useProxy = false;   // PROXY_TYPE_PROXY, else PROXY_TYPE_DIRECT
  std::string server;      // "host:port" for every protocol; empty with direct
  std::string bypass;      // the bypass list; may be empty
};

// Applies the options to the desktop. False when nothing could be applied;
// callers swallow failures.
bool ApplyPerConnectionProxy(const PerConnectionProxy& options);

// The options this process applied last (direct until something was
// applied). The downloader's "preconfigured" connection follows them.
PerConnectionProxy AppliedProxy();
// Records what was applied; called by the backends' apply function.
void RecordAppliedProxy(const PerConnectionProxy& options);

// Notes the backends leave for the caller's debug log (for example that the
// desktop has no proxy settings to change). Each call hands over the notes
// gathered since the previous call.
std::vector<std::string> TakeProxyNotices();
void AddProxyNotice(const std::string& notice);

// The per-connection option list that Windows receives for the options
// (InternetSetOptionW, INTERNET_OPTION_PER_CONNECTION_OPTION): the LAN
// connection (no connection name), no option error, and three options in
// this order: the flags, the bypass list, the server. The flags are
// PROXY_TYPE_PROXY with a proxy and PROXY_TYPE_DIRECT without, never both;
// an empty text is passed as absent (null), not as an empty text.
constexpr uint32_t INTERNET_PER_CONN_FLAGS = 1;
constexpr uint32_t INTERNET_PER_CONN_PROXY_SERVER = 2;
constexpr uint32_t INTERNET_PER_CONN_PROXY_BYPASS = 3;
constexpr uint32_t PROXY_TYPE_DIRECT = 1;
constexpr uint32_t PROXY_TYPE_PROXY = 2;

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
