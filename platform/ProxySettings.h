// The desktop's per-connection proxy options (the system-wide proxy that
// browsers and most programs follow). Windows: InternetSetOptionW with a
// per-connection option list. posix: GNOME's proxy settings through GIO and,
// in a KDE session, KDE's kioslaverc plus the signal that makes running KDE
// programs re-read it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

struct PerConnectionProxy {
  bool useProxy = false;  // PROXY_TYPE_PROXY, else PROXY_TYPE_DIRECT
  std::string server;     // "host:port" for every protocol; empty with direct
  std::string bypass;     // the bypass list; may be empty
};

// Applies the options to the desktop. False when nothing could be applied;
// callers swallow failures.
bool ApplyPerConnectionProxy(const PerConnectionProxy& options);

// The options this process applied last (direct until something was
// applied). The downloader's "preconfigured" connection follows them.
PerConnectionProxy AppliedProxy();
// Records what was applied; called by the backends' apply function.
void RecordAppliedProxy(const PerConnectionProxy& options);

// The desktop mechanisms an apply reached, as bits. A switch that reaches
// none changed nothing a browser reads, and the user must be told.
enum ProxyReach : unsigned {
  kProxyReachNone = 0,
  kProxyReachGnome = 1,    // GNOME's settings store, with a backend that keeps them
  kProxyReachKde = 2,      // KDE's kioslaverc in a KDE session
  kProxyReachWindows = 4,  // the WinINet per-connection options
};
// What the last apply (or put-back) of this process reached.
unsigned LastProxyReach();
void RecordProxyReach(unsigned reach);
// "GNOME, KDE", "Windows" or "none", for the debug log.
std::string DescribeProxyReach(unsigned reach);

// The desktop's proxy configuration as the backend reads it: named values in
// text form ("gnome.mode", "kde.ProxyType", "wininet.flags", ...). A name
// that is not listed is absent (a GNOME key at its default, a KDE key not in
// the file). The list is ordered by name.
using DesktopProxyState = std::vector<std::pair<std::string, std::string>>;
// Reads what the mechanisms this desktop has hold now (backend).
DesktopProxyState ReadDesktopProxyState();
// Puts a state read earlier back exactly: listed values are written, values
// of the same mechanisms that are not listed go back to absent (backend).
// False when a mechanism could not be written.
bool WriteDesktopProxyState(const DesktopProxyState& state);
// The file that keeps the user's own configuration while this program has
// the desktop switched (backend: the user's data folder).
std::string SavedDesktopProxyFile();

// The user's own desktop proxy, kept across a hide. KeepUserProxy saves the
// current configuration (the backend's state and the Internet Settings
// values the switch writes) before the first switch of a run, unless a copy
// is already saved. NoteProxyWritten records what the desktop holds after a
// switch. PutBackUserProxy puts the saved copy back and removes it; when the
// desktop no longer holds what was written (someone else changed it while
// hiding) it leaves theirs and only drops the copy. Without a saved copy it
// changes nothing and returns false. The copy is written atomically and is
// readable by the user only.
bool KeepUserProxy();
void NoteProxyWritten();
bool PutBackUserProxy();

// The two calls a hide makes on the desktop. SwitchDesktopProxy points the
// desktop at a proxy ("host:port"): it keeps the user's own settings first
// (once per run), applies the per-connection options, writes the Internet
// Settings values and notes what the desktop now holds. PutBackDesktopProxy
// puts the user's own settings back; without a saved copy it leaves the
// desktop alone and counts the connection as direct. Neither throws.
struct DesktopSwitch {
  bool changed = false;              // applied / put back
  unsigned reach = kProxyReachNone;  // what the call reached (LastProxyReach)
  std::vector<std::string> notices;  // the backends' notes, for the debug log
};
DesktopSwitch SwitchDesktopProxy(const std::string& server);
DesktopSwitch PutBackDesktopProxy();

// The "ProxyServer" text of the Internet Settings for a proxy:
// "http=P;ftp=P;https=P;".
std::string InternetSettingsProxyServer(const std::string& server);
// Writes "ProxyServer" and "ProxyEnable" (1 with a proxy, 0 for the empty
// text) under the current user's Internet Settings key.
void WriteInternetSettingsProxy(const std::string& server);

// posix: tells running KDE programs to re-read kioslaverc (the session-bus
// signal KDE's proxy page sends). False, with one note, without a bus.
bool NotifyKdeProxyChanged();

// Notes the backends leave for the caller's debug log (for example that the
// desktop has no proxy settings to change). Each call hands over the notes
// gathered since the previous call.
std::vector<std::string> TakeProxyNotices();
void AddProxyNotice(const std::string& notice);

}  // namespace platform
