// posix backend of the per-connection proxy: the desktop's proxy settings.
// GNOME (and every program that follows it: GNOME applications, Chromium-based
// browsers, Firefox with "use system proxy settings") keeps them in the
// GSettings schema org.gnome.system.proxy, written through GIO by the module
// libvgdesktop.so (platform/posix/DesktopProxyGio.cpp); they count as reached
// only when the settings backend keeps them (not the memory or null backend). In a KDE session the "[Proxy Settings]" group of
// kioslaverc is written the way KDE's proxy page writes it (the file is
// created when missing), and running KDE programs are told to re-read it
// with the signal that page sends. A desktop with neither is left alone and
// the switch reports that it reached nothing; this process still records the
// options, because its own connections follow the switch whatever the
// desktop does.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/AsciiText.h"
#include "platform/Files.h"
#include "platform/PrivateProfile.h"
#include "platform/ProxySettings.h"
#include "platform/posix/DesktopModule.h"
#include "platform/posix/Modules.h"
#include "platform/posix/RuntimeFolder.h"

namespace platform {

namespace {

const char* const kKdeGroup = "Proxy Settings";

// The server text split into host and port. The host may be a name, an IPv4
// address or an IPv6 address in brackets; the port is 1 to 65535.
bool SplitServer(const std::string& server, std::string& host, int& port) {
  size_t colon = server.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 >= server.size()) return false;
  host = server.substr(0, colon);
  const std::string portText = server.substr(colon + 1);
  if (portText.size() > 5) return false;
  port = 0;
  for (char c : portText) {
    if (c < '0' || c > '9') return false;
    port = port * 10 + (c - '0');
  }
  if (port < 1 || port > 65535) return false;
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
    for (char c : host)
      if (!IsHexDigit(c) && c != ':' && c != '.') return false;
    return true;
  }
  for (char c : host)
    if (!IsAsciiAlnum(c) && c != '.' && c != '-' && c != '_') return false;
  return true;
}

// The bypass list in the WinINet form ("a;b;c", blanks and commas allowed
// between entries) as separate entries.
std::vector<std::string> SplitBypass(const std::string& bypass) {
  std::vector<std::string> items;
  std::string cur;
  for (char c : bypass + ";") {
    if (c == ';' || c == ',' || c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      if (!cur.empty()) items.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  return items;
}

// ---- GNOME -------------------------------------------------------------------

// GNOME's settings are reached through GIO, in the module libvgdesktop.so
// (platform/posix/DesktopModule.h), loaded on the first switch or read.

const posix::TDesktopModuleHost kDesktopHost{&AddProxyNotice};
std::once_flag GNoModuleNoticeOnce;

// The module's services; null, with one note, when it cannot be loaded.
const posix::TDesktopModule* DesktopModule() {
  std::string why;
  auto entry = reinterpret_cast<posix::TDesktopModuleEntry>(
      posix::ModuleEntry(posix::kDesktopModuleName, posix::kDesktopModuleEntry, &why));
  const posix::TDesktopModule* services =
      entry ? entry(posix::kDesktopModuleAbi, &kDesktopHost) : nullptr;
  if (entry && !services) why = "the desktop module is of another version of the program";
  if (!services)
    std::call_once(GNoModuleNoticeOnce, [&why] {
      AddProxyNotice("GNOME's proxy settings and the session bus are out of reach: " + why);
    });
  return services;
}

bool ApplyGnome(const PerConnectionProxy& options, const std::string& host, int port) {
  const posix::TDesktopModule* desktop = DesktopModule();
  return desktop && desktop->applyGnome(options, host, port, SplitBypass(options.bypass));
}

void ReadGnome(DesktopProxyState& state) {
  if (const posix::TDesktopModule* desktop = DesktopModule()) desktop->readGnome(state);
}

bool WriteGnome(const DesktopProxyState& state) {
  const posix::TDesktopModule* desktop = DesktopModule();
  return desktop && desktop->writeGnome(state);
}

// ---- KDE ---------------------------------------------------------------------

// A KDE Plasma session: KDE named in XDG_CURRENT_DESKTOP (a colon-separated
// list), or the older KDE_FULL_SESSION.
bool IsKdeSession() {
  const char* current = std::getenv("XDG_CURRENT_DESKTOP");
  if (current)
    for (std::string_view item : SplitView(current, ':'))
      if (SameText(item, "KDE")) return true;
  const char* full = std::getenv("KDE_FULL_SESSION");
  return full && std::strcmp(full, "true") == 0;
}

std::string KdeFile() {
  std::string config = DefaultShellFolder("AppData");
  return config.empty() ? std::string() : config + "/kioslaverc";
}

// The address of the session bus, without starting one: the environment's,
// else the user bus socket in the runtime folder; empty when there is none.
std::string SessionBusAddress() {
  const char* env = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  if (env && *env) return env;
  const char* run = std::getenv("XDG_RUNTIME_DIR");
  if (run && *run) {
    std::string socket = std::string(run) + "/bus";
    if (PathExists(socket)) return "unix:path=" + socket;
  }
  return std::string();
}

}  // namespace

bool NotifyKdeProxyChanged() {
  const posix::TDesktopModule* desktop = DesktopModule();
  return desktop && desktop->notifyKde(SessionBusAddress());
}

namespace {

bool WriteKdeText(const std::string& file, const std::string& text) {
  std::string error;
  const std::string folder = file.substr(0, file.rfind('/'));
  if (!ForceDirectories(folder) || !WriteFileAtomic(file, text, &error)) {
    AddProxyNotice("kioslaverc could not be written: " + error);
    return false;
  }
  NotifyKdeProxyChanged();
  return true;
}

bool ApplyKde(const PerConnectionProxy& options, const std::string& host, int port) {
  if (!IsKdeSession()) return false;
  const std::string file = KdeFile();
  if (file.empty()) return false;
  std::string text;
  if (FileExists(file) && !ReadWholeFile(file, text)) return false;
  ProfileValues current;
  ReadProfileSection(text, kKdeGroup, current);
  // KDE's own proxy page writes "scheme://host port".
  std::string hostText = host.find(':') != std::string::npos ? "[" + host + "]" : host;
  std::string value = options.useProxy ? "http://" + hostText + " " + std::to_string(port) : "";
  ProfileValues values = {{"ProxyType", options.useProxy ? "1" : "0"},
                          {"httpProxy", value},
                          {"httpsProxy", value},
                          {"ftpProxy", value}};
  if (options.useProxy) {
    // No SOCKS proxy beside ours, and the exceptions are exceptions: a
    // reversed list ("only these through the proxy") would send everything
    // else direct.
    values.push_back({"socksProxy", ""});
    bool reversed = false;
    for (const auto& [k, v] : current)
      if (k == "ReversedException") reversed = v == "true";
    values.push_back({"ReversedException", "false"});
    if (reversed) values.push_back({"NoProxyFor", ""});
  }
  std::vector<std::string> bypass = SplitBypass(options.bypass);
  if (!bypass.empty()) {
    std::string joined;
    for (const std::string& b : bypass) joined += (joined.empty() ? "" : ",") + b;
    values.push_back({"NoProxyFor", joined});
  }
  return WriteKdeText(file, WriteProfileValuesToText(text, kKdeGroup, values));
}

void ReadKde(DesktopProxyState& state) {
  if (!IsKdeSession()) return;
  const std::string file = KdeFile();
  if (file.empty()) return;
  state.emplace_back("kde", "1");
  std::string text;
  if (!FileExists(file) || !ReadWholeFile(file, text)) return;
  state.emplace_back("kde.file", "1");
  ProfileValues group;
  if (!ReadProfileSection(text, kKdeGroup, group)) return;
  state.emplace_back("kde.group", "1");
  for (const auto& [k, v] : group) state.emplace_back("kde.key." + k, v);
}

bool WriteKde(const DesktopProxyState& state) {
  const std::string file = KdeFile();
  if (file.empty()) return false;
  bool hadFile = false, hadGroup = false;
  ProfileValues group;
  for (const auto& [n, v] : state) {
    if (n == "kde.file") hadFile = true;
    if (n == "kde.group") hadGroup = true;
    if (n.compare(0, 8, "kde.key.") == 0) group.emplace_back(n.substr(8), v);
  }
  std::string text;
  if (FileExists(file) && !ReadWholeFile(file, text)) return false;
  std::string out = ReplaceProfileSectionInText(text, kKdeGroup, hadGroup ? &group : nullptr);
  if (!hadFile && out.find_first_not_of(" \t\r\n") == std::string::npos) {
    // The switch made the file; nothing of anyone else is in it.
    if (FileExists(file)) DeleteFileAt(file);
    NotifyKdeProxyChanged();
    return true;
  }
  if (out == text) return true;
  return WriteKdeText(file, out);
}

}  // namespace

bool ApplyPerConnectionProxy(const PerConnectionProxy& options) {
  std::string host;
  int port = 0;
  if (options.useProxy && !SplitServer(options.server, host, port)) return false;
  RecordAppliedProxy(options);
  unsigned reach = kProxyReachNone;
  if (ApplyGnome(options, host, port)) reach |= kProxyReachGnome;
  if (ApplyKde(options, host, port)) reach |= kProxyReachKde;
  RecordProxyReach(reach);
  return reach != kProxyReachNone;
}

DesktopProxyState ReadDesktopProxyState() {
  DesktopProxyState state;
  ReadGnome(state);
  ReadKde(state);
  std::sort(state.begin(), state.end());
  return state;
}

bool WriteDesktopProxyState(const DesktopProxyState& state) {
  bool gnome = false, kde = false;
  for (const auto& entry : state) {
    if (entry.first == "gnome") gnome = true;
    if (entry.first == "kde") kde = true;
  }
  bool ok = true;
  unsigned reach = kProxyReachNone;
  if (gnome) {
    if (WriteGnome(state))
      reach |= kProxyReachGnome;
    else
      ok = false;
  }
  if (kde) {
    if (WriteKde(state))
      reach |= kProxyReachKde;
    else
      ok = false;
  }
  RecordProxyReach(reach);
  return ok;
}

std::string SavedDesktopProxyFile() { return posix::UserDataFolder() + "/desktop-proxy.saved"; }

}  // namespace platform
