// The program as the Debian package installs it: unpacked by the fixture
// (build-package.sh) into a temporary root, started through its usr/bin link
// in a sandbox (temporary HOME and XDG folders, offscreen windows).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "e2e/AppProcessSupport.h"
#include "platform/Process.h"

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

}  // namespace
