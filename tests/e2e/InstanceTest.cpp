// Whole-program tests: real processes of the application talking through the
// instance channel, each installation a copy of the executable in a sandbox.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/Instance.h"
#include "support/Sandbox.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

extern char** environ;

namespace {

struct Installation {
  std::string dir;
  std::string exe;
  std::string log;
};

class AppProcessTest : public SandboxTest {
 protected:
  void TearDown() override {
    for (pid_t pid : FChildren) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    SandboxTest::TearDown();
  }

  // A copy of the program in its own folder with its own supplied settings.
  Installation Install(const std::string& name, const std::string& constDat) {
    Installation inst;
    inst.dir = sb().Path(name);
    fs::create_directories(inst.dir);
    inst.exe = inst.dir + "/veilgate";
    fs::copy_file(VG_APP_EXE, inst.exe, fs::copy_options::overwrite_existing);
    sb().WriteFile(name + "/const.dat", "[setting]\n" + constDat);
    // The popup's movie belongs to every installation (without it the popup
    // reports a file error in a box that waits for the user).
    fs::create_directories(inst.dir + "/res");
    fs::copy_file(VG_SOURCE_DIR "/res/veilip.dat", inst.dir + "/res/veilip.dat");
    inst.log = sb().Path(name + ".log");
    return inst;
  }

  pid_t Start(const Installation& inst, const std::vector<std::string>& args,
              const std::vector<std::string>& extraEnv = {}) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
      const std::string v = *e;
      if (v.rfind("VEILGATE_DEBUG_LOG=", 0) == 0 || v.rfind("QT_QPA_PLATFORM=", 0) == 0) continue;
      env.push_back(v);
    }
    env.push_back("VEILGATE_DEBUG_LOG=" + inst.log);
    env.push_back("QT_QPA_PLATFORM=offscreen");
    for (const std::string& v : extraEnv) {
      const std::string name = v.substr(0, v.find('=') + 1);
      std::erase_if(env, [&](const std::string& e) { return e.rfind(name, 0) == 0; });
      env.push_back(v);
    }
    std::vector<char*> argv{const_cast<char*>(inst.exe.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& v : env) envp.push_back(v.data());
    envp.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
      const int devnull = open("/dev/null", O_WRONLY);
      if (devnull >= 0) dup2(devnull, 2);
      execve(argv[0], argv.data(), envp.data());
      _exit(127);
    }
    FChildren.push_back(pid);
    return pid;
  }

  // Waits for the process to end; its exit status, or -1 on timeout.
  int WaitExit(pid_t pid, int timeoutMs) {
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < end) {
      int status = 0;
      if (waitpid(pid, &status, WNOHANG) == pid) {
        std::erase(FChildren, pid);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -1;
  }

  // Windows of the main window class that have finished starting and answer
  // "CL GetAppID" with id.
  bool WaitReady(int32_t appId, int timeoutMs = 15000) {
    const uint32_t getId = platform::RegisterMessage("CL GetAppID");
    const uint32_t ifBusy = platform::RegisterMessage("CL IfBusy");
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < end) {
      for (const auto& w : platform::FindInstanceWindows("TfrmMain"))
        if (platform::SendInstanceMessage(w, getId, 0, 0, 1000) == appId &&
            platform::SendInstanceMessage(w, ifBusy, 0, 0, 1000) == 0)
          return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }

  static std::string ReadLog(const Installation& inst) {
    std::ifstream f(inst.log);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
  }

  bool WaitLog(const Installation& inst, const std::string& text, int timeoutMs = 10000) {
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < end) {
      if (ReadLog(inst).find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
    return false;
  }

  bool AnySettingFile() {
    for (const auto& e : fs::recursive_directory_iterator(sb().Root()))
      if (e.path().filename() == "setting.dat" || e.path().filename() == "UserFlag.ini") return true;
    return false;
  }

 private:
  std::vector<pid_t> FChildren;
};

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

TEST_F(AppProcessTest, InfoSwitchEndsBeforeAnySettingIsRead) {
  Installation inst = Install("one", kConst1);
  for (const char* sw : {"/i", "-U", "/I"}) {
    const pid_t p = Start(inst, {"plain", sw});
    EXPECT_EQ(WaitExit(p, 5000), 0) << sw;
  }
  EXPECT_FALSE(AnySettingFile());
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
  // window is ever published and no setting is read.
  const pid_t gated = Start(inst, {}, {"LC_ALL=zh_CN.UTF-8"});
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  EXPECT_EQ(WaitExit(gated, 10), -1) << "the box should be waiting";
  EXPECT_TRUE(platform::FindInstanceWindows("TfrmMain").empty());
  EXPECT_FALSE(AnySettingFile());
  kill(gated, SIGKILL);
  WaitExit(gated, 5000);

  // Other Chinese variants start normally.
  const pid_t taiwan = Start(inst, {"-h"}, {"LC_ALL=zh_TW.UTF-8"});
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
  const auto end = Clock::now() + std::chrono::seconds(15);
  while (platform::FindInstanceWindows("TfrmMain").empty() && Clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_FALSE(platform::FindInstanceWindows("TfrmMain").empty());
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
