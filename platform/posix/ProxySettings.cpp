// posix backend of the per-connection proxy: the desktop's proxy settings.
// GNOME (and every program that follows it: GNOME applications, Chromium-based
// browsers, Firefox with "use system proxy settings") keeps them in the
// GSettings schema org.gnome.system.proxy, written here through GIO. KDE
// keeps them in the "[Proxy Settings]" section of kioslaverc, which is
// changed only when the user has that file. A desktop with neither is left
// alone; this process still records the options, because its own
// connections follow the switch whatever the desktop does.
#include <gio/gio.h>

#include <cctype>
#include <cstdlib>
#include <mutex>

#include "platform/Files.h"
#include "platform/PrivateProfile.h"
#include "platform/ProxySettings.h"

namespace platform {

namespace {

const char* const kGnomeSchema = "org.gnome.system.proxy";
const char* const kProtocols[] = {"http", "https", "ftp"};

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
      if (!std::isxdigit(static_cast<unsigned char>(c)) && c != ':' && c != '.') return false;
    return true;
  }
  for (char c : host)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-' && c != '_')
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

std::once_flag GMissingSchemaNoticeOnce;

bool ApplyGnome(const PerConnectionProxy& options, const std::string& host, int port) {
  GSettingsSchemaSource* source = g_settings_schema_source_get_default();
  GSettingsSchema* schema =
      source ? g_settings_schema_source_lookup(source, kGnomeSchema, TRUE) : nullptr;
  if (!schema || !g_settings_schema_has_key(schema, "mode")) {
    if (schema) g_settings_schema_unref(schema);
    std::call_once(GMissingSchemaNoticeOnce, [] {
      AddProxyNotice(std::string("The desktop proxy settings are not switched: the GSettings schema ") +
                     kGnomeSchema + " is not installed");
    });
    return false;
  }
  GSettings* root = g_settings_new_full(schema, nullptr, nullptr);
  g_settings_schema_unref(schema);
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

// ---- KDE ---------------------------------------------------------------------

bool ApplyKde(const PerConnectionProxy& options, const std::string& host, int port) {
  std::string config = DefaultShellFolder("AppData");
  if (config.empty()) return false;
  const std::string file = config + "/kioslaverc";
  if (!FileExists(file)) return false;
  // KDE's own settings page writes "scheme://host port".
  std::string hostText = host.find(':') != std::string::npos ? "[" + host + "]" : host;
  std::string value = options.useProxy ? hostText + " " + std::to_string(port) : std::string();
  ProfileValues values = {{"ProxyType", options.useProxy ? "1" : "0"},
                          {"httpProxy", options.useProxy ? "http://" + value : ""},
                          {"httpsProxy", options.useProxy ? "http://" + value : ""},
                          {"ftpProxy", options.useProxy ? "http://" + value : ""}};
  std::vector<std::string> bypass = SplitBypass(options.bypass);
  if (!bypass.empty()) {
    std::string joined;
    for (const std::string& b : bypass) joined += (joined.empty() ? "" : ",") + b;
    values.push_back({"NoProxyFor", joined});
  }
  return WriteProfileValues(file, "Proxy Settings", values);
}

}  // namespace

bool ApplyPerConnectionProxy(const PerConnectionProxy& options) {
  std::string host;
  int port = 0;
  if (options.useProxy && !SplitServer(options.server, host, port)) return false;
  RecordAppliedProxy(options);
  bool gnome = ApplyGnome(options, host, port);
  bool kde = ApplyKde(options, host, port);
  return gnome || kde;
}

}  // namespace platform
