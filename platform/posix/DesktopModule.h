// The boundary between the posix desktop proxy switch
// (platform/posix/ProxySettings.cpp) and its GIO part, the module
// libvgdesktop.so: GNOME's proxy settings through GSettings and the
// session-bus signal that tells KDE programs to re-read theirs. The switch
// loads the module on its first use; a start that switches nothing maps none
// of GIO's libraries. Both sides are built from the same tree with the same
// compiler, so C++ types cross the boundary.
#pragma once

#include <string>
#include <vector>

#include "platform/ProxySettings.h"

namespace platform::posix {

// Version of this boundary; the module and the program must agree.
inline constexpr int kDesktopModuleAbi = 1;

// What the module asks of the program.
struct TDesktopModuleHost {
  // A note for the caller's debug log (AddProxyNotice).
  void (*addNotice)(const std::string& notice);
};

struct TDesktopModule {
  // Writes the options to GNOME's settings (host and port split from the
  // server, the bypass list split into entries). False when GNOME's
  // settings cannot be changed for good or a write failed.
  bool (*applyGnome)(const PerConnectionProxy& options, const std::string& host, int port,
                     const std::vector<std::string>& bypass);
  // The "gnome..." entries of ReadDesktopProxyState.
  void (*readGnome)(DesktopProxyState& state);
  // Puts the "gnome..." entries of a state back; false when it failed.
  bool (*writeGnome)(const DesktopProxyState& state);
  // Sends KDE's proxy-changed signal on the session bus at the address
  // (empty: there is none). False, with one note, when it cannot.
  bool (*notifyKde)(const std::string& busAddress);
};

inline constexpr const char* kDesktopModuleName = "vgdesktop";
inline constexpr const char* kDesktopModuleEntry = "vg_desktop_module";
// The services, or null when the module was built for another version.
using TDesktopModuleEntry = const TDesktopModule* (*)(int abi, const TDesktopModuleHost* host);

}  // namespace platform::posix
