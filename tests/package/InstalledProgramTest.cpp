// The program as the Debian package installs it: unpacked by the fixture
// (build-package.sh) into a temporary root, started through its usr/bin link
// in a sandbox (temporary HOME and XDG folders, offscreen windows).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "e2e/AppProcessSupport.h"
#include "net/CLUtils.h"
#include "platform/Process.h"
#include "support/NetTestServers.h"

namespace {

namespace fs = std::filesystem;
using apptest::Installation;

const std::string kRoot = VG_PACKAGE_DIR "/root";

// "App.ID" of the supplied settings the package ships.
int32_t ShippedAppId() {
  std::ifstream f(kRoot + "/usr/lib/veilgate/const.dat");
  std::string line;
  while (std::getline(f, line))
    if (line.rfind("App.ID=", 0) == 0) return static_cast<int32_t>(std::stol(line.substr(7)));
  return 0;
}

class InstalledProgramTest : public apptest::AppProcessTest {
 protected:
  void SetUp() override {
    AppProcessTest::SetUp();
    ASSERT_TRUE(fs::exists(kRoot + "/usr/bin/veilgate")) << "no unpacked package in " << kRoot;
    // Real folder of the program: what every path the program works out
    // for itself must start with, the link being resolved.
    FRealDir = fs::canonical(kRoot + "/usr/lib/veilgate").string();
    FInst.dir = FRealDir + "/";
    FInst.exe = kRoot + "/usr/bin/veilgate";
    FInst.log = sb().Path("installed.log");
    // The ticking helper rides along in every process the test starts.
    FTrigger = sb().Path("tick");
    setenv("LD_PRELOAD", VG_TICKER_LIB, 1);
    setenv("VG_TEST_TICK_FILE", FTrigger.c_str(), 1);
  }
  void TearDown() override {
    AppProcessTest::TearDown();
    unsetenv("LD_PRELOAD");
    unsetenv("VG_TEST_TICK_FILE");
  }

  std::string FRealDir;
  std::string FTrigger;
  Installation FInst;
};

TEST_F(InstalledProgramTest, RunsThroughItsLinkWithItsDataAndWritesAnAutostartEntryNamingIt) {
  const int32_t appId = ShippedAppId();
  ASSERT_NE(appId, 0);
  const pid_t first = Start(FInst, {"-h", "-d"});
  ASSERT_TRUE(WaitReady(appId, 60000)) << ReadText(FInst.log);

  // The data came from the executable's real folder, not the link's.
  const std::string log = ReadText(FInst.log);
  EXPECT_NE(log.find("Language: English"), std::string::npos) << log;
  EXPECT_NE(log.find("Movie loaded: " + FRealDir + "/res/veilip.dat"), std::string::npos) << log;
  // The service's lists are asked for at start: the HTTP transport module
  // installed beside the program was found and loaded (the answer itself
  // may fail, no service runs here).
  EXPECT_TRUE(WaitLog(FInst, "HttpOpenRequest ok!", 30000)) << ReadText(FInst.log);
  EXPECT_EQ(ReadText(FInst.log).find("no HTTP transport"), std::string::npos)
      << ReadText(FInst.log);
  // The user's settings live in the XDG folder under the real path's word.
  std::string word = FRealDir + "/veilgate";
  for (char& c : word)
    if (c == '/') c = '_';
  EXPECT_TRUE(fs::exists(sb().AppData() + "/" + word + "/setting.dat")) << word;

  // A second start hands its parameter over to the running one and ends.
  const pid_t second = Start(FInst, {"handed-over"});
  EXPECT_EQ(WaitExit(second, 30000), 0);
  EXPECT_TRUE(WaitLog(FInst, "CL CmdParam: handed-over", 30000)) << ReadText(FInst.log);
  EXPECT_EQ(WaitExit(first, 0), -1) << "the first instance ended";

  // "Launch On Startup" ticked: the entry starts the installed program.
  sb().WriteFile("tick", "");
  const std::string entry = sb().AppData() + "/autostart/Veilgate.desktop";
  ASSERT_TRUE(testsupport::WaitUntil([&] { return fs::exists(entry); }, 30000, 50))
      << ReadText(FInst.log);
  const std::string command = platform::GetAutoRunEntry("Veilgate");
  EXPECT_EQ(command, FRealDir + "/veilgate") << ReadText(entry);
  EXPECT_EQ(access(command.c_str(), X_OK), 0) << command;

  // "-s" closes it.
  EXPECT_EQ(CloseWith(FInst), 0);
  EXPECT_EQ(WaitExit(first, 30000), 0) << ReadText(FInst.log);
}

// The service as its package installs it, run with its packaged
// configuration (its folders moved into the unpacked root and the sandbox,
// any free port); the program finds it through the administrator's file of
// its own package, with no setting of the user's.
TEST_F(InstalledProgramTest, FindsThePackagedServiceThroughTheAdministratorsFile) {
  const std::string root = VG_PACKAGE_DIR "/root-veilgate-service";
  std::string conf = ReadText(root + "/etc/veilgate-service/service.conf");
  ASSERT_NE(conf.find("database = /var/lib/veilgate-service/pool.db"), std::string::npos) << conf;
  conf = StringReplaceAll(conf, "/var/lib/veilgate-service", sb().Path("state"));
  conf =
      StringReplaceAll(conf, "/usr/share/veilgate-service", root + "/usr/share/veilgate-service");
  // Its answer of the caller's location: loopback has none in the GeoIP data.
  conf += "[localinfo]\nip =\ncountry_short = US\ncountry_long = United States\ncity = Dallas\n";
  fs::create_directories(sb().Path("state"));
  sb().WriteFile("service.conf", conf);
  const std::string exe = root + "/usr/sbin/veilgate-service";
  sb().WriteFile("proxies.txt", "127.0.0.1:9|Germany|DE|9|51\n");
  testsupport::ChildProcess import;
  ASSERT_TRUE(import.Start({exe, "--config", sb().Path("service.conf"), "pool", "import",
                            sb().Path("proxies.txt")},
                           sb().Path("import.out")));
  ASSERT_EQ(import.Wait(30000), 0) << ReadText(sb().Path("import.out"));
  nettest::ServiceProcess service;
  ASSERT_TRUE(service.Start(exe, sb().Path("service.conf"), sb().Path("service.out")))
      << ReadText(sb().Path("service.out"));

  // The administrator's file as the program's package ships it, moved to
  // the service's port.
  const std::string admin = kRoot + "/etc/veilgate/veilgate.conf";
  const std::string shipped = ReadText(admin);
  ASSERT_NE(shipped.find("URL.Service=http://127.0.0.1:8470"), std::string::npos) << shipped;
  sb().WriteFile("admin.conf", StringReplaceAll(shipped, "127.0.0.1:8470",
                                                "127.0.0.1:" + std::to_string(service.Port())));
  fs::copy_file(sb().Path("admin.conf"), admin, fs::copy_options::overwrite_existing);
  fs::permissions(admin, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                             fs::perms::others_read);
  struct Restore {
    std::string path, text;
    ~Restore() { std::ofstream(path, std::ios::binary) << text; }
  } restore{admin, shipped};

  const pid_t app = Start(FInst, {"-h", "-d"});
  ASSERT_GT(app, 0);
  EXPECT_TRUE(WaitLog(FInst, "Local information shown: 127.0.0.1 US", 60000))
      << ReadText(FInst.log) << ReadText(sb().Path("service.out"));
  EXPECT_TRUE(WaitLog(FInst, "Proxy lists loaded: 1 normal", 60000)) << ReadText(FInst.log);
  // This service answered, not another one on the default port.
  EXPECT_NE(ReadText(sb().Path("service.out")).find("/getinfo"), std::string::npos)
      << ReadText(sb().Path("service.out"));
  EXPECT_EQ(CloseWith(FInst), 0);
  EXPECT_EQ(WaitExit(app, 30000), 0) << ReadText(FInst.log);
}

}  // namespace
