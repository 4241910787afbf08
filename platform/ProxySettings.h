// The desktop's per-connection proxy options (the system-wide proxy that
// browsers and most programs follow). Windows: InternetSetOptionW with a
// per-connection option list. posix: GNOME's proxy settings through GIO and
// KDE's kioslaverc where the user has one.
#pragma once

#include <string>

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

}  // namespace platform
