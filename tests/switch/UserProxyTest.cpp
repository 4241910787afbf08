// The user's own desktop proxy survives a hide: GNOME's settings (read back
// with the real gsettings command) and KDE's kioslaverc, after a stop and
// after a run killed while hiding; what the switch reached; the KDE signal on
// a private session bus.
#include <gio/gio.h>
#include <gtest/gtest.h>

#include "platform/Files.h"
#include "platform/ProxySettings.h"
#include "switch/uVGUtils.h"
#include "SwitchTestSupport.h"

using namespace switchtest;

namespace {

const char* const kSchema = "org.gnome.system.proxy";

class UserProxyTest : public SwitchTest {
 protected:
  void SetUp() override {
    SwitchTest::SetUp();
    Settings({"SWITCH.IE=1"});
  }

  // gsettings with the system's schemas and the sandbox's key file.
  std::string Get(const std::string& schema, const std::string& key) {
    RunResult r = RunProgram({FindProgram("gsettings"), "get", schema, key}, Desktop());
    std::string out = r.out;
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return r.exitCode == 0 ? out : "<failed: " + r.err + ">";
  }
  void Set(const std::string& schema, const std::string& key, const std::string& value) {
    RunResult r = RunProgram({FindProgram("gsettings"), "set", schema, key, value}, Desktop());
    ASSERT_EQ(r.exitCode, 0) << r.err;
  }
  // The switch in a child process of its own (GIO binds to the environment
  // of its first use in a process).
  RunResult Switch(const std::vector<std::string>& steps, EnvChanges extra = {}) {
    std::vector<std::string> argv = {VG_SWITCH_PROXY_CHILD, sb().AppExe()};
    argv.insert(argv.end(), steps.begin(), steps.end());
    EnvChanges env = Desktop();
    env.insert(env.end(), extra.begin(), extra.end());
    return RunProgram(argv, env);
  }
  EnvChanges Desktop() { return {{"XDG_DATA_DIRS", SystemDataDirs()}}; }
  bool Saved() { return sb().Exists("data/veilgate/desktop-proxy.saved"); }

  // The user's configuration: a proxy auto-configuration address, their own
  // exceptions and a SOCKS host.
  void UserPacConfiguration() {
    Set(kSchema, "mode", "'auto'");
    Set(kSchema, "autoconfig-url", "'http://wpad.corp.example/proxy.pac'");
    Set(kSchema, "ignore-hosts", "['corp.example', '10.0.0.0/8']");
    Set(std::string(kSchema) + ".socks", "host", "'socks.corp.example'");
    Set(std::string(kSchema) + ".socks", "port", "1080");
  }
  void ExpectUserPacConfiguration() {
    EXPECT_EQ(Get(kSchema, "mode"), "'auto'");
    EXPECT_EQ(Get(kSchema, "autoconfig-url"), "'http://wpad.corp.example/proxy.pac'");
    EXPECT_EQ(Get(kSchema, "ignore-hosts"), "['corp.example', '10.0.0.0/8']");
    EXPECT_EQ(Get(std::string(kSchema) + ".socks", "host"), "'socks.corp.example'");
    EXPECT_EQ(Get(std::string(kSchema) + ".socks", "port"), "1080");
    EXPECT_EQ(Get(std::string(kSchema) + ".http", "host"), "''");
    EXPECT_FALSE(Saved());
  }
  void ExpectHiding(const std::string& host) {
    EXPECT_EQ(Get(kSchema, "mode"), "'manual'");
    EXPECT_EQ(Get(std::string(kSchema) + ".http", "host"), "'" + host + "'");
    EXPECT_EQ(Get(std::string(kSchema) + ".socks", "host"), "''");
    EXPECT_TRUE(Saved());
  }
};

}  // namespace

TEST_F(UserProxyTest, GnomeConfigurationSurvivesStopAndAKilledRun) {
  ASSERT_FALSE(FindProgram("gsettings").empty()) << "gsettings is missing (scripts/deps)";
  UserPacConfiguration();

  // Hide, change the IP, stop.
  RunResult r = Switch({"192.0.2.1:8080", "reach"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "reach GNOME\nproxy 192.0.2.1:8080\n");
  ExpectHiding("192.0.2.1");
  ASSERT_EQ(Switch({"192.0.2.2:3128"}).exitCode, 0);
  ExpectHiding("192.0.2.2");
  r = Switch({"-"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "direct\n");
  ExpectUserPacConfiguration();

  // Killed while hiding: the next start puts the user's settings back.
  r = Switch({"192.0.2.1:8080", "kill", "-"});
  EXPECT_NE(r.exitCode, 0);
  ExpectHiding("192.0.2.1");
  ASSERT_EQ(Switch({"-"}).exitCode, 0);
  ExpectUserPacConfiguration();

  // A start without a saved copy leaves the desktop alone, whatever it holds.
  Set(kSchema, "mode", "'manual'");
  Set(std::string(kSchema) + ".http", "host", "'proxy.corp.example'");
  ASSERT_EQ(Switch({"-"}).exitCode, 0);
  EXPECT_EQ(Get(kSchema, "mode"), "'manual'");
  EXPECT_EQ(Get(std::string(kSchema) + ".http", "host"), "'proxy.corp.example'");
}

TEST_F(UserProxyTest, SomeoneElsesChangeWhileHidingIsKept) {
  ASSERT_FALSE(FindProgram("gsettings").empty()) << "gsettings is missing (scripts/deps)";
  UserPacConfiguration();
  ASSERT_EQ(Switch({"192.0.2.1:8080"}).exitCode, 0);
  // The user (or another program) sets a proxy of their own meanwhile.
  Set(std::string(kSchema) + ".http", "host", "'theirs.example'");
  ASSERT_EQ(Switch({"-"}).exitCode, 0);
  EXPECT_EQ(Get(kSchema, "mode"), "'manual'");
  EXPECT_EQ(Get(std::string(kSchema) + ".http", "host"), "'theirs.example'");
  EXPECT_FALSE(Saved());
}

TEST_F(UserProxyTest, KdeGroupIsWrittenAndPutBackByteForByte) {
  const EnvChanges kde = {{"XDG_CURRENT_DESKTOP", "KDE"}, {"KDE_SESSION_VERSION", "5"}};
  // Every other group, comments and CR LF line ends stay as they are; the
  // user's proxy configuration is a PAC address.
  const std::string original =
      "[$Version]\r\n"
      "update_info=kioslave.upd:use-proxy-type\r\n"
      "\r\n"
      "# the user's own comment\r\n"
      "[Proxy Settings]\r\n"
      "NoProxyFor=corp.example\r\n"
      "Proxy Config Script=http://wpad.corp.example/proxy.pac\r\n"
      "ProxyType=2\r\n"
      "ReversedException=false\r\n"
      "\r\n"
      "[UserAgent]\r\n"
      "SendLanguageSettings=true\r\n";
  sb().WriteFile("config/kioslaverc", original);
  RunResult r = Switch({"192.0.2.1:8080", "reach"}, kde);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("KDE"), std::string::npos) << r.out;
  const std::string hiding = sb().ReadFile("config/kioslaverc");
  EXPECT_NE(hiding.find("ProxyType=1\r\n"), std::string::npos) << hiding;
  EXPECT_NE(hiding.find("httpProxy=http://192.0.2.1 8080\r\n"), std::string::npos) << hiding;
  EXPECT_NE(hiding.find("httpsProxy=http://192.0.2.1 8080\r\n"), std::string::npos) << hiding;
  EXPECT_NE(hiding.find("# the user's own comment\r\n[Proxy Settings]"), std::string::npos);
  EXPECT_NE(hiding.find("[UserAgent]\r\nSendLanguageSettings=true\r\n"), std::string::npos);

  ASSERT_EQ(Switch({"-"}, kde).exitCode, 0);
  EXPECT_EQ(sb().ReadFile("config/kioslaverc"), original);
  EXPECT_FALSE(Saved());

  // Killed while hiding, then started again.
  Switch({"192.0.2.1:8080", "kill"}, kde);
  EXPECT_NE(sb().ReadFile("config/kioslaverc"), original);
  ASSERT_EQ(Switch({"-"}, kde).exitCode, 0);
  EXPECT_EQ(sb().ReadFile("config/kioslaverc"), original);
}

TEST_F(UserProxyTest, KdeFileIsCreatedWhenMissingAndRemovedAgain) {
  const EnvChanges kde = {{"XDG_CURRENT_DESKTOP", "KDE"}, {"KDE_SESSION_VERSION", "5"}};
  ASSERT_FALSE(sb().Exists("config/kioslaverc"));
  RunResult r = Switch({"192.0.2.1:8080"}, kde);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::string made = sb().ReadFile("config/kioslaverc");
  EXPECT_EQ(made,
            "[Proxy Settings]\n"
            "ProxyType=1\n"
            "httpProxy=http://192.0.2.1 8080\n"
            "httpsProxy=http://192.0.2.1 8080\n"
            "ftpProxy=http://192.0.2.1 8080\n"
            "socksProxy=\n"
            "ReversedException=false\n");
  ASSERT_EQ(Switch({"-"}, kde).exitCode, 0);
  EXPECT_FALSE(sb().Exists("config/kioslaverc"));

  // Outside a KDE session kioslaverc is not read by anyone: not created.
  ASSERT_EQ(Switch({"192.0.2.1:8080"}, {{"XDG_CURRENT_DESKTOP", "XFCE"}}).exitCode, 0);
  EXPECT_FALSE(sb().Exists("config/kioslaverc"));
}

TEST_F(UserProxyTest, ReachIsNoneWithoutAKeepingBackendOrKdeAndTheLogSaysWhy) {
  const std::string log = sb().Path("debug.log");
  RunResult r =
      Switch({"192.0.2.1:8080", "reach", "192.0.2.2:80"}, {{"GSETTINGS_BACKEND", "memory"},
                                                           {"XDG_CURRENT_DESKTOP", "XFCE"},
                                                           {"VEILGATE_DEBUG_LOG", log.c_str()}});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "reach none\nproxy 192.0.2.2:80\n");
  const std::string text = sb().ReadFile("debug.log");
  const size_t why = text.find("keeps nothing (GMemorySettingsBackend)");
  ASSERT_NE(why, std::string::npos) << text;
  EXPECT_EQ(text.find("keeps nothing", why + 1), std::string::npos) << "said once: " << text;
  EXPECT_NE(text.find("reached: none"), std::string::npos) << text;
}

// The signal KDE's proxy page sends, received by a subscriber on a private
// session bus; without a bus the file is still written and the log says so.
TEST_F(UserProxyTest, KdeProgramsAreToldOnTheSessionBus) {
  const std::string daemon = FindProgram("dbus-daemon");
  ASSERT_FALSE(daemon.empty()) << "dbus-daemon is missing (scripts/deps installs it)";
  const std::string socket = sb().Path("run/test-bus");
  const std::string address = "unix:path=" + socket;
  ChildProcess bus;
  ASSERT_TRUE(bus.Start({daemon, "--session", "--nofork", "--nopidfile", "--address=" + address},
                        sb().Path("dbus.log")));
  ASSERT_TRUE(WaitUntil([&] { return platform::PathExists(socket) || !bus.Running(); }))
      << sb().ReadFile("dbus.log");

  GError* error = nullptr;
  GMainContext* context = g_main_context_new();
  g_main_context_push_thread_default(context);
  GDBusConnection* subscriber =
      g_dbus_connection_new_for_address_sync(address.c_str(),
                                             static_cast<GDBusConnectionFlags>(
                                                 G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                 G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
                                             nullptr, nullptr, &error);
  ASSERT_NE(subscriber, nullptr) << (error ? error->message : "");
  struct Seen {
    int count = 0;
    std::string argument = "<none>";
  } seen;
  const guint id = g_dbus_connection_signal_subscribe(
      subscriber, nullptr, "org.kde.KIO.Scheduler", "reparseSlaveConfiguration", "/KIO/Scheduler",
      nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
      [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
         GVariant* parameters, gpointer user) {
        auto* s = static_cast<Seen*>(user);
        ++s->count;
        if (g_variant_is_of_type(parameters, G_VARIANT_TYPE("(s)"))) {
          const gchar* text = nullptr;
          g_variant_get(parameters, "(&s)", &text);
          s->argument = text;
        }
      },
      &seen, nullptr);
  // The subscription reaches the bus before the switch sends.
  g_dbus_connection_call_sync(subscriber, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                              "org.freedesktop.DBus", "GetId", nullptr, nullptr,
                              G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);

  RunResult r = Switch({"192.0.2.1:8080"}, {{"XDG_CURRENT_DESKTOP", "KDE"},
                                            {"DBUS_SESSION_BUS_ADDRESS", address.c_str()}});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  WaitUntil(
      [&] {
        while (g_main_context_iteration(context, FALSE)) {
        }
        return seen.count > 0;
      },
      20000);
  EXPECT_EQ(seen.count, 1);
  EXPECT_EQ(seen.argument, "");
  g_dbus_connection_signal_unsubscribe(subscriber, id);
  g_dbus_connection_close_sync(subscriber, nullptr, nullptr);
  g_object_unref(subscriber);
  g_main_context_pop_thread_default(context);
  g_main_context_unref(context);

  // No bus: the file is written all the same, and one note says why.
  const std::string log = sb().Path("nobus.log");
  r = Switch({"192.0.2.3:80", "192.0.2.4:80"},
             {{"XDG_CURRENT_DESKTOP", "KDE"}, {"VEILGATE_DEBUG_LOG", log.c_str()}});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(sb().ReadFile("config/kioslaverc").find("httpProxy=http://192.0.2.4 80"),
            std::string::npos);
  const std::string text = sb().ReadFile("nobus.log");
  const size_t note = text.find("running KDE programs are not told");
  ASSERT_NE(note, std::string::npos) << text;
  EXPECT_EQ(text.find("running KDE programs are not told", note + 1), std::string::npos) << text;
}

TEST_F(UserProxyTest, AnUnreadableSavedCopyIsDroppedAndTheDesktopLeftAlone) {
  sb().WriteFile("data/veilgate/desktop-proxy.saved", "garbage without sections\n");
  EXPECT_FALSE(platform::PutBackUserProxy());
  EXPECT_FALSE(Saved());
  // A copy is kept only once per run: the second hide does not overwrite it.
  Settings({"SWITCH.IE=1"});
  SetIEProxy("192.0.2.1:8080");
  const std::string first = sb().ReadFile("data/veilgate/desktop-proxy.saved");
  EXPECT_NE(first.find("[saved]"), std::string::npos);
  EXPECT_NE(first.find("[written]"), std::string::npos);
  SetIEProxy("192.0.2.2:8080");
  const std::string second = sb().ReadFile("data/veilgate/desktop-proxy.saved");
  EXPECT_EQ(first.substr(0, first.find("[written]")), second.substr(0, second.find("[written]")));
  SetIEProxy("");
  EXPECT_FALSE(Saved());
}
