// The GIO part of the posix desktop proxy switch, built as the module
// libvgdesktop.so (see platform/posix/DesktopModule.h): GNOME's proxy
// settings in the GSettings schema org.gnome.system.proxy (they count as
// reached only when the settings backend keeps them, not the memory or null
// backend) and the session-bus signal that makes running KDE programs
// re-read kioslaverc.
#define G_SETTINGS_ENABLE_BACKEND
#include <gio/gio.h>
#include <gio/gsettingsbackend.h>

#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/posix/DesktopModule.h"

namespace platform {

namespace {

const posix::TDesktopModuleHost* GHost = nullptr;

}  // namespace

// Notes go to the program, which hands them to its debug log.
void AddProxyNotice(const std::string& notice) {
  if (GHost) GHost->addNotice(notice);
}

namespace {

const char* const kGnomeSchema = "org.gnome.system.proxy";
const char* const kProtocols[] = {"http", "https", "ftp"};
// What is kept of GNOME's settings: the keys of the root schema and the
// host and port of each protocol.
const char* const kGnomeRootKeys[] = {"mode", "ignore-hosts", "autoconfig-url", "use-same-proxy"};
const char* const kGnomeChildren[] = {"http", "https", "ftp", "socks"};

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
    std::call_once(GGnomeNoticeOnce,
                   [&why] { AddProxyNotice("The GNOME proxy settings are not switched: " + why); });
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

bool ApplyGnome(const PerConnectionProxy& options, const std::string& host, int port,
                const std::vector<std::string>& bypass) {
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

// ---- Session bus -------------------------------------------------------------

std::once_flag GNoBusNoticeOnce;

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
    GBus =
        g_dbus_connection_new_for_address_sync(address.c_str(),
                                               static_cast<GDBusConnectionFlags>(
                                                   G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                   G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
                                               nullptr, nullptr, error);
    if (GBus) {
      g_dbus_connection_set_exit_on_close(GBus, FALSE);
      GBusAddress = address;
    }
  }
  return GBus;
}

bool NotifyKde(const std::string& address) {
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
  bool ok =
      g_dbus_connection_emit_signal(bus, nullptr, "/KIO/Scheduler", "org.kde.KIO.Scheduler",
                                    "reparseSlaveConfiguration", g_variant_new("(s)", ""), &error);
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

}  // namespace

}  // namespace platform

extern "C" __attribute__((visibility("default"))) const platform::posix::TDesktopModule*
vg_desktop_module(int abi, const platform::posix::TDesktopModuleHost* host) {
  using namespace platform;
  if (abi != posix::kDesktopModuleAbi || !host || !host->addNotice) return nullptr;
  static const posix::TDesktopModule services = [host] {
    GHost = host;
    return posix::TDesktopModule{&ApplyGnome, &ReadGnome, &WriteGnome, &NotifyKde};
  }();
  return &services;
}
