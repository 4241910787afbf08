// posix backend of the per-connection proxy: the desktop's proxy settings.
// GNOME (and every program that follows it: GNOME applications, Chromium-based
// browsers, Firefox with "use system proxy settings") keeps them in the
// GSettings schema org.gnome.system.proxy, written here through GIO; they
// count as reached only when the settings backend keeps them (not the memory
// or null backend). In a KDE session the "[Proxy Settings]" group of
// kioslaverc is written the way KDE's proxy page writes it (the file is
// created when missing), and running KDE programs are told to re-read it
// with the signal that page sends. A desktop with neither is left alone and
// the switch reports that it reached nothing; this process still records the
// options, because its own connections follow the switch whatever the
// desktop does.
#define G_SETTINGS_ENABLE_BACKEND
#include <gio/gio.h>
#include <gio/gsettingsbackend.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/AsciiText.h"
#include "platform/Files.h"
#include "platform/PrivateProfile.h"
#include "platform/ProxySettings.h"
#include "platform/posix/RuntimeFolder.h"

namespace platform {

namespace {

const char* const kGnomeSchema = "org.gnome.system.proxy";
const char* const kProtocols[] = {"http", "https", "ftp"};
// What is kept of GNOME's settings: the keys of the root schema and the
// host and port of each protocol.
const char* const kGnomeRootKeys[] = {"mode", "ignore-hosts", "autoconfig-url", "use-same-proxy"};
const char* const kGnomeChildren[] = {"http", "https", "ftp", "socks"};
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
    if (!IsAsciiAlnum(c) && c != '.' && c != '-' && c != '_')
      return false;
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

std::once_flag GGnomeNoticeOnce;

// The proxy schema when GNOME's settings can be changed for good: the schema
// is installed and the settings backend keeps what is written (the memory and
// null backends lose it at exit, and no other program sees it). Otherwise
// null, and why goes to the debug log once.
GSettingsSchema* GnomeSchema() {
  std::string why;
  GSettingsSchemaSource* source = g_settings_schema_source_get_default();
  GSettingsSchema* schema =
      source ? g_settings_schema_source_lookup(source, kGnomeSchema, TRUE) : nullptr;
  if (!schema || !g_settings_schema_has_key(schema, "mode")) {
    if (schema) g_settings_schema_unref(schema);
    schema = nullptr;
    why = std::string("the GSettings schema ") + kGnomeSchema + " is not installed";
  } else {
    GSettingsBackend* backend = g_settings_backend_get_default();
    const char* type = backend ? G_OBJECT_TYPE_NAME(backend) : "";
    const bool lost = !backend || std::strcmp(type, "GMemorySettingsBackend") == 0 ||
                      std::strcmp(type, "GNullSettingsBackend") == 0;
    if (lost) why = std::string("the GSettings backend keeps nothing (") + type + ")";
    if (backend) g_object_unref(backend);
    if (lost) {
      g_settings_schema_unref(schema);
      schema = nullptr;
    }
  }
  if (!schema)
    std::call_once(GGnomeNoticeOnce, [&why] {
      AddProxyNotice("The GNOME proxy settings are not switched: " + why);
    });
  return schema;
}

// The root of GNOME's proxy settings, or null where they cannot be changed
// for good (see GnomeSchema).
GSettings* GnomeRoot() {
  GSettingsSchema* schema = GnomeSchema();
  if (!schema) return nullptr;
  GSettings* root = g_settings_new_full(schema, nullptr, nullptr);
  g_settings_schema_unref(schema);
  return root;
}

bool ApplyGnome(const PerConnectionProxy& options, const std::string& host, int port) {
  GSettings* root = GnomeRoot();
  if (!root) return false;
  // All changes reach the store together, so that no program sees the mode
  // switched before the hosts.
  g_settings_delay(root);
  bool ok = true;
  for (const char* protocol : kProtocols) {
    GSettings* child = g_settings_get_child(root, protocol);
    if (!child) {
      ok = false;
      continue;
    }
    if (options.useProxy) {
      ok = g_settings_set_string(child, "host", host.c_str()) && ok;
      ok = g_settings_set_int(child, "port", port) && ok;
    } else {
      // Direct: the hosts are cleared, as Windows clears its server text.
      g_settings_reset(child, "host");
      g_settings_reset(child, "port");
    }
    g_object_unref(child);
  }
  if (options.useProxy) {
    // The same proxy for every protocol, and no SOCKS host that some
    // programs would prefer to it.
    ok = g_settings_set_boolean(root, "use-same-proxy", TRUE) && ok;
    GSettings* socks = g_settings_get_child(root, "socks");
    if (socks) {
      g_settings_reset(socks, "host");
      g_settings_reset(socks, "port");
      g_object_unref(socks);
    }
  }
  std::vector<std::string> bypass = SplitBypass(options.bypass);
  if (!bypass.empty()) {
    std::vector<const char*> list;
    for (const std::string& b : bypass) list.push_back(b.c_str());
    list.push_back(nullptr);
    ok = g_settings_set_strv(root, "ignore-hosts", list.data()) && ok;
  }
  ok = g_settings_set_string(root, "mode", options.useProxy ? "manual" : "none") && ok;
  g_settings_apply(root);
  g_object_unref(root);
  // Writes of some backends are asynchronous; the settings must be in the
  // store when the switch returns.
  g_settings_sync();
  return ok;
}

// One key of a GSettings object into the state when the user has set it.
void ReadGnomeKey(GSettings* settings, const std::string& prefix, const char* key,
                  DesktopProxyState& state) {
  GVariant* v = g_settings_get_user_value(settings, key);
  if (!v) return;
  gchar* text = g_variant_print(v, FALSE);
  state.emplace_back(prefix + key, text);
  g_free(text);
  g_variant_unref(v);
}

void ReadGnome(DesktopProxyState& state) {
  GSettings* root = GnomeRoot();
  if (!root) return;
  state.emplace_back("gnome", "1");
  for (const char* key : kGnomeRootKeys) ReadGnomeKey(root, "gnome.", key, state);
  for (const char* name : kGnomeChildren) {
    GSettings* child = g_settings_get_child(root, name);
    if (!child) continue;
    for (const char* key : {"host", "port"})
      ReadGnomeKey(child, std::string("gnome.") + name + ".", key, state);
    g_object_unref(child);
  }
  g_object_unref(root);
}

// Sets a key to the value text read earlier, or back to its default.
bool WriteGnomeKey(GSettings* settings, const std::string& name, const char* key,
                   const DesktopProxyState& state) {
  for (const auto& [n, text] : state) {
    if (n != name) continue;
    GVariant* current = g_settings_get_value(settings, key);
    const GVariantType* type = g_variant_get_type(current);
    GVariant* v = g_variant_parse(type, text.c_str(), nullptr, nullptr, nullptr);
    g_variant_unref(current);
    if (!v) return false;
    return g_settings_set_value(settings, key, v);  // takes the floating reference
  }
  g_settings_reset(settings, key);
  return true;
}

bool WriteGnome(const DesktopProxyState& state) {
  GSettings* root = GnomeRoot();
  if (!root) return false;
  g_settings_delay(root);
  bool ok = true;
  for (const char* key : kGnomeRootKeys)
    ok = WriteGnomeKey(root, std::string("gnome.") + key, key, state) && ok;
  for (const char* name : kGnomeChildren) {
    GSettings* child = g_settings_get_child(root, name);
    if (!child) continue;
    for (const char* key : {"host", "port"})
      ok = WriteGnomeKey(child, std::string("gnome.") + name + "." + key, key, state) && ok;
    g_object_unref(child);
  }
  g_settings_apply(root);
  g_object_unref(root);
  g_settings_sync();
  return ok;
}

// ---- KDE ---------------------------------------------------------------------

// A KDE Plasma session: KDE named in XDG_CURRENT_DESKTOP (a colon-separated
// list), or the older KDE_FULL_SESSION.
bool IsKdeSession() {
  const char* current = std::getenv("XDG_CURRENT_DESKTOP");
  if (current) {
    std::string list = current;
    size_t pos = 0;
    while (pos <= list.size()) {
      size_t end = list.find(':', pos);
      if (end == std::string::npos) end = list.size();
      std::string item = list.substr(pos, end - pos);
      if (SameText(item, "KDE")) return true;
      pos = end + 1;
    }
  }
  const char* full = std::getenv("KDE_FULL_SESSION");
  return full && std::strcmp(full, "true") == 0;
}

std::string KdeFile() {
  std::string config = DefaultShellFolder("AppData");
  return config.empty() ? std::string() : config + "/kioslaverc";
}

std::once_flag GNoBusNoticeOnce;

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

// The session-bus connection is kept between switches (connecting and
// authenticating costs more than the signal itself); it is made anew when
// the bus address changes or the bus went away.
std::mutex GBusLock;
GDBusConnection* GBus = nullptr;
std::string GBusAddress;

GDBusConnection* SessionBus(const std::string& address, GError** error) {
  if (GBus && (GBusAddress != address || g_dbus_connection_is_closed(GBus))) {
    g_object_unref(GBus);
    GBus = nullptr;
  }
  if (!GBus && !address.empty()) {
    GBus = g_dbus_connection_new_for_address_sync(
        address.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, error);
    if (GBus) {
      g_dbus_connection_set_exit_on_close(GBus, FALSE);
      GBusAddress = address;
    }
  }
  return GBus;
}

}  // namespace

bool NotifyKdeProxyChanged() {
  const std::string address = SessionBusAddress();
  std::lock_guard<std::mutex> hold(GBusLock);
  GError* error = nullptr;
  GDBusConnection* bus = SessionBus(address, &error);
  if (!bus) {
    std::string why = error ? error->message : "no session bus address";
    if (error) g_error_free(error);
    std::call_once(GNoBusNoticeOnce, [&why] {
      AddProxyNotice("kioslaverc is written, but running KDE programs are not told: " + why);
    });
    return false;
  }
  // The signal KDE's proxy page sends: every KIO program re-reads its proxy
  // configuration.
  bool ok = g_dbus_connection_emit_signal(bus, nullptr, "/KIO/Scheduler", "org.kde.KIO.Scheduler",
                                          "reparseSlaveConfiguration", g_variant_new("(s)", ""),
                                          &error);
  if (ok) ok = g_dbus_connection_flush_sync(bus, nullptr, &error);
  if (!ok) {
    AddProxyNotice(std::string("The KDE proxy signal could not be sent: ") +
                   (error ? error->message : "unknown error"));
    if (error) g_error_free(error);
    // The next switch connects anew.
    g_object_unref(GBus);
    GBus = nullptr;
  }
  return ok;
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

std::string SavedDesktopProxyFile() {
  return posix::UserDataFolder() + "/desktop-proxy.saved";
}

}  // namespace platform
