// Whole-program tests: real processes of the application talking through the
// instance channel, each installation a copy of the executable in a sandbox.
#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>

#include <atomic>
#include <mutex>
#include <thread>

#include <filesystem>
#include <string>
#include <vector>

#include "AppProcessSupport.h"
#include "platform/Mutex.h"
#include "switch/uVGUtils.h"

namespace {

using namespace apptest;

// Whether any settings file was written below root.
bool AnySettingFile(const std::string& root) {
  for (const auto& e : fs::recursive_directory_iterator(root))
    if (e.path().filename() == "setting.dat" || e.path().filename() == "UserFlag.ini") return true;
  return false;
}

const char* const kConst1 = "App.ID=101\nApp.GUID=inst-one\n";
const char* const kConst2 = "App.ID=202\nApp.GUID=inst-two\n";

TEST_F(AppProcessTest, SecondStartHandsOverToTheRunningInstanceAndSlashSClosesIt) {
  Installation inst = Install("one", kConst1);
  const pid_t first = Start(inst, {"-d"});
  ASSERT_TRUE(WaitReady(101)) << ReadLog(inst);

  const pid_t second = Start(inst, {"C:\\Users\\me\\My File.txt", "-x"});
  EXPECT_EQ(WaitExit(second, 10000), 0);
  EXPECT_TRUE(WaitLog(inst, "OnCmdFile: C:\\Users\\me\\My File.txt")) << ReadLog(inst);
  const std::string log = ReadLog(inst);
  // The second start asked whether the first is busy, then brought it
  // forward: the main window comes back from its tray icon by itself, so
  // no foreground forcing is needed.
  EXPECT_NE(log.find("CL IfBusy -> 0"), std::string::npos) << log;
  EXPECT_NE(log.find("CL BringtoFront -> 1"), std::string::npos) << log;
  EXPECT_EQ(log.find("CL ForceForeground"), std::string::npos) << log;

  // A first parameter that is a switch is not handed over.
  const pid_t third = Start(inst, {"-q", "plain.txt"});
  EXPECT_EQ(WaitExit(third, 10000), 0);
  EXPECT_EQ(ReadLog(inst).find("OnCmdFile: plain.txt"), std::string::npos);

  const pid_t closer = Start(inst, {"/S"});
  EXPECT_EQ(WaitExit(closer, 10000), 0);
  EXPECT_EQ(WaitExit(first, 10000), 0) << "the running instance did not close";
}

// A second start hands its activation token (what the launcher gave it for
// the launch feedback) to the running window, which activates with it.
TEST_F(AppProcessTest, SecondStartHandsItsActivationTokenToTheRunningWindow) {
  Installation inst = Install("one", kConst1);
  const pid_t first = Start(inst, {"-d"});
  ASSERT_TRUE(WaitReady(101)) << ReadLog(inst);

  // Without a token nothing is asked.
  EXPECT_EQ(WaitExit(Start(inst, {}), 10000), 0);
  ASSERT_TRUE(WaitLog(inst, "CL BringtoFront -> 1")) << ReadLog(inst);
  EXPECT_EQ(ReadLog(inst).find("CL ActivationToken"), std::string::npos) << ReadLog(inst);

  EXPECT_EQ(WaitExit(Start(inst, {}, "",
                           {{"XDG_ACTIVATION_TOKEN", "launcher/veilgate/42-7_TIME9"}}),
                     10000),
            0);
  EXPECT_TRUE(WaitLog(inst, "Activation with the token of the second start")) << ReadLog(inst);
  const std::string log = ReadLog(inst);
  EXPECT_NE(log.find("CL ActivationToken -> 1"), std::string::npos) << log;
  EXPECT_NE(log.find("Activation token received"), std::string::npos) << log;
  // The token is no command parameter.
  EXPECT_EQ(log.find("OnCmdFile: launcher"), std::string::npos) << log;

  EXPECT_EQ(CloseWith(inst), 0);
  EXPECT_EQ(WaitExit(first, 10000), 0);
}

// An older running instance does not know the token: it is not asked to
// take one as copy-data, which it would take for a command parameter.
TEST_F(AppProcessTest, AnOlderRunningInstanceGetsNoTokenAsAParameter) {
  Installation inst = Install("old", "App.ID=303\nApp.GUID=inst-old\n");
  // The older instance: holds the mutex and answers only the messages it
  // knew, 0 to any other.
  ASSERT_EQ(platform::CreateNamedMutex("Local\\inst-old"), platform::MutexResult::Created);
  std::mutex lock;
  std::vector<std::string> seen;
  const uint32_t getId = platform::RegisterMessage("CL GetAppID");
  const uint32_t ifBusy = platform::RegisterMessage("CL IfBusy");
  const uint32_t toFront = platform::RegisterMessage("CL BringtoFront");
  const uint32_t token = platform::RegisterMessage("CL ActivationToken");
  auto endpoint =
      platform::CreateInstanceEndpoint("TfrmMain",
                                       [&](const platform::InstanceMessage& m) -> int64_t {
                                         std::lock_guard<std::mutex> hold(lock);
                                         if (m.isCopyData) {
                                           seen.push_back("copy-data " + m.data);
                                           return 0;
                                         }
                                         if (m.msg == getId) return 303;
                                         if (m.msg == ifBusy) return 0;
                                         if (m.msg == toFront) {
                                           seen.push_back("bring to front");
                                           return 1;
                                         }
                                         if (m.msg == token) seen.push_back("asked for a token");
                                         return 0;
                                       });
  ASSERT_TRUE(endpoint);
  std::atomic<bool> stop{false};
  std::thread pump([&] {
    while (!stop) {
      pollfd p{endpoint->fd(), POLLIN, 0};
      if (::poll(&p, 1, 20) > 0) endpoint->ProcessPending();
    }
  });
  const int code =
      WaitExit(Start(inst, {}, "", {{"XDG_ACTIVATION_TOKEN", "launcher/veilgate/43"}}), 10000);
  stop = true;
  pump.join();
  platform::ReleaseNamedMutexes();
  EXPECT_EQ(code, 0);
  std::lock_guard<std::mutex> hold(lock);
  EXPECT_EQ(seen, (std::vector<std::string>{"asked for a token", "bring to front"}));
}

// A start "in the tray" on a desktop without one (the offscreen platform has
// none) starts minimised on the task bar instead of invisible.
TEST_F(AppProcessTest, HiddenStartWithoutATrayStartsMinimised) {
  Installation inst = Install("one", kConst1);
  const pid_t first = Start(inst, {"-h", "-d"});
  ASSERT_TRUE(WaitReady(101)) << ReadLog(inst);
  EXPECT_TRUE(WaitLog(inst, "Main window shown, minimised")) << ReadLog(inst);
  EXPECT_EQ(CloseWith(inst), 0);
  EXPECT_EQ(WaitExit(first, 10000), 0);
}

TEST_F(AppProcessTest, InfoSwitchEndsBeforeAnySettingIsRead) {
  Installation inst = Install("one", kConst1);
  for (const char* sw : {"/i", "-U", "/I"}) {
    const pid_t p = Start(inst, {"plain", sw});
    EXPECT_EQ(WaitExit(p, 5000), 0) << sw;
  }
  EXPECT_FALSE(AnySettingFile(sb().Root()));
  // "/s" with no running instance ends as well.
  EXPECT_EQ(WaitExit(Start(inst, {"-s"}), 5000), 0);
}

TEST_F(AppProcessTest, AutorunStartNeedsPermission) {
  Installation denied = Install("denied", kConst1);
  EXPECT_EQ(WaitExit(Start(denied, {"/a"}), 10000), 0);
  EXPECT_TRUE(platform::FindInstanceWindows("TfrmMain").empty());

  Installation allowed = Install("allowed", std::string(kConst2) + "App.Autorun=1\n");
  const pid_t p = Start(allowed, {"/a", "/h"});
  EXPECT_TRUE(WaitReady(202));
  EXPECT_EQ(WaitExit(Start(allowed, {"/s"}), 10000), 0);
  EXPECT_EQ(WaitExit(p, 10000), 0);
}

TEST_F(AppProcessTest, TwoInstallationsDoNotSeeEachOther) {
  Installation one = Install("one", kConst1);
  Installation two = Install("two", kConst2);
  const pid_t p1 = Start(one, {"-d", "-h"});
  const pid_t p2 = Start(two, {"-d", "-h"});
  ASSERT_TRUE(WaitReady(101)) << ReadLog(one) << "\n--- two:\n" << ReadLog(two);
  ASSERT_TRUE(WaitReady(202)) << ReadLog(two) << "\n--- one:\n" << ReadLog(one);
  EXPECT_EQ(platform::FindInstanceWindows("TfrmMain").size(), 2u);

  EXPECT_EQ(WaitExit(Start(two, {"for-two"}), 10000), 0);
  EXPECT_TRUE(WaitLog(two, "OnCmdFile: for-two"));
  EXPECT_EQ(ReadLog(one).find("for-two"), std::string::npos);

  EXPECT_EQ(WaitExit(Start(one, {"/s"}), 10000), 0);
  EXPECT_EQ(WaitExit(p1, 10000), 0);
  EXPECT_TRUE(WaitReady(202, 2000)) << "closing one installation closed the other";
  EXPECT_EQ(WaitExit(Start(two, {"/s"}), 10000), 0);
  EXPECT_EQ(WaitExit(p2, 10000), 0);
}

TEST_F(AppProcessTest, RestartClosesTheOldInstanceAndStartsAgain) {
  Installation inst = Install("one", kConst1);
  const pid_t old = Start(inst, {"-h"});
  ASSERT_TRUE(WaitReady(101));
  const pid_t fresh = Start(inst, {"/r", "-h"});
  EXPECT_EQ(WaitExit(old, 10000), 0);
  EXPECT_TRUE(WaitReady(101));
  EXPECT_EQ(WaitExit(Start(inst, {"-s"}), 10000), 0);
  EXPECT_EQ(WaitExit(fresh, 10000), 0);
}

TEST_F(AppProcessTest, TenThousandArgumentsStillStart) {
  Installation inst = Install("one", kConst1);
  std::vector<std::string> args{"-d", "-h"};
  for (int i = 0; i < 10000; ++i) args.push_back("arg" + std::to_string(i));
  args[0] = "first-plain";  // the first parameter is a plain one
  args.push_back("-d");
  const pid_t p = Start(inst, args);
  ASSERT_TRUE(WaitReady(101));
  EXPECT_TRUE(WaitLog(inst, "OnCmdFile: first-plain"));
  EXPECT_EQ(WaitExit(Start(inst, {"-s"}), 10000), 0);
  EXPECT_EQ(WaitExit(p, 10000), 0);
}

TEST_F(AppProcessTest, ChineseSimplifiedPrcSystemLanguageStopsTheStart) {
  Installation inst = Install("one", kConst1);
  // The gate's box waits for the user: the process stays, but no main
  // window is ever published and no setting is read. The box's text on the
  // standard error stream shows the gate has been reached.
  const std::string err = sb().Path("gated.err");
  const pid_t gated = Start(inst, {}, err, {{"LC_ALL", "zh_CN.UTF-8"}});
  ASSERT_TRUE(testsupport::WaitForText(err, CountryUnavailableMessage, 30000))
      << "no box: " << ReadText(err);
  EXPECT_EQ(WaitExit(gated, 0), -1) << "the box should be waiting";
  EXPECT_TRUE(platform::FindInstanceWindows("TfrmMain").empty());
  EXPECT_FALSE(AnySettingFile(sb().Root()));
  kill(gated, SIGKILL);
  WaitExit(gated, 5000);

  // Other Chinese variants start normally.
  const pid_t taiwan = Start(inst, {"-h"}, "", {{"LC_ALL", "zh_TW.UTF-8"}});
  EXPECT_TRUE(WaitReady(101));
  EXPECT_EQ(WaitExit(Start(inst, {"-s"}), 10000), 0);
  EXPECT_EQ(WaitExit(taiwan, 10000), 0);
}

TEST_F(AppProcessTest, CloseRequestDuringAStartUpBoxEndsTheProgram) {
  Installation inst = Install("one", kConst1);
  // Without its movie the popup reports the missing file in a box that waits
  // for the user while the main window is still being created.
  fs::remove(inst.dir + "/res/veilip.dat");
  const pid_t p = Start(inst, {"-h"});
  ASSERT_TRUE(
      testsupport::WaitUntil([] { return !platform::FindInstanceWindows("TfrmMain").empty(); },
                             15000, 50));
  EXPECT_EQ(WaitExit(Start(inst, {"/s"}), 10000), 0);
  EXPECT_EQ(WaitExit(p, 10000), 0) << "the close request was lost in the start-up box";
}

TEST_F(AppProcessTest, BadSettingFilesStillStart) {
  Installation inst = Install("one", kConst1);
  // Run once to learn where the user file lives, then spoil it.
  const pid_t p = Start(inst, {"-h"});
  ASSERT_TRUE(WaitReady(101));
  EXPECT_EQ(WaitExit(Start(inst, {"-s"}), 10000), 0);
  EXPECT_EQ(WaitExit(p, 10000), 0);
  std::string settingFile;
  for (const auto& e : fs::recursive_directory_iterator(sb().Root()))
    if (e.path().filename() == "setting.dat") settingFile = e.path().string();
  ASSERT_FALSE(settingFile.empty());

  std::string junk;
  for (int i = 0; i < 1 << 16; ++i) junk.push_back(static_cast<char>((i * 7919) & 0xFF));
  {
    std::ofstream f(settingFile, std::ios::binary);
    f << junk;
  }
  const pid_t again = Start(inst, {"-h"});
  EXPECT_TRUE(WaitReady(101));
  EXPECT_EQ(WaitExit(Start(inst, {"-s"}), 10000), 0);
  EXPECT_EQ(WaitExit(again, 10000), 0);
}

}  // namespace
