#include "platform/Process.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <dirent.h>
#include <sys/stat.h>
#include <sys/wait.h>
#endif

#include <cerrno>
#include <chrono>
#include <csignal>
#include <future>
#include <thread>

#include "platform/Files.h"
#include "platform/System.h"
#include "support/Sandbox.h"
#include "support/Wait.h"
#ifndef _WIN32
#include "ProcessSignal.h"
#endif

namespace {

using V = std::vector<std::string>;
using Clock = std::chrono::steady_clock;

#ifndef _WIN32
// posix backend: processes started through /bin/sh, zombies in /proc,
// xdg-open and autostart files. The win32 backend is tested in tests/platform/win32.
class ProcessTest : public SandboxTest {};

bool WaitForFile(const std::string& path, int ms) {
  return testsupport::WaitUntil([&] { return platform::FileSize(path) > 0; }, ms);
}

// Children of this process that have ended but were not reaped.
int ZombieChildren() {
  int count = 0;
  DIR* proc = ::opendir("/proc");
  if (!proc) return 0;
  while (struct dirent* e = ::readdir(proc)) {
    if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
    std::string stat;
    if (!platform::ReadWholeFile(std::string("/proc/") + e->d_name + "/stat", stat)) continue;
    size_t close = stat.rfind(')');
    if (close == std::string::npos || close + 4 >= stat.size()) continue;
    char state = stat[close + 2];
    long ppid = std::strtol(stat.c_str() + close + 4, nullptr, 10);
    if (state == 'Z' && ppid == ::getpid()) ++count;
  }
  ::closedir(proc);
  return count;
}

#endif  // _WIN32

TEST(SplitCommandLine, FollowsWindowsRules) {
  using platform::SplitCommandLine;
  EXPECT_EQ(SplitCommandLine(""), V{});
  EXPECT_EQ(SplitCommandLine("prog"), V{"prog"});
  EXPECT_EQ(SplitCommandLine("prog a  b\t c  "), (V{"prog", "a", "b", "c"}));
  EXPECT_EQ(SplitCommandLine("\"C:\\Program Files\\a.exe\" -x \"b c\""),
            (V{"C:\\Program Files\\a.exe", "-x", "b c"}));
  // The program name ends at its closing quote; backslashes there are plain.
  EXPECT_EQ(SplitCommandLine("\"a b\\\"c d"), (V{"a b\\", "c", "d"}));
  EXPECT_EQ(SplitCommandLine("C:\\dir\\x.exe \"\""), (V{"C:\\dir\\x.exe", ""}));
  // Backslashes before a quote: 2n give n and a quote mark, 2n+1 give n and a literal quote.
  EXPECT_EQ(SplitCommandLine("p \"abc\" d e"), (V{"p", "abc", "d", "e"}));
  EXPECT_EQ(SplitCommandLine("p a\\\\\\b d\"e f\"g h"), (V{"p", "a\\\\\\b", "de fg", "h"}));
  EXPECT_EQ(SplitCommandLine("p a\\\\\\\"b c d"), (V{"p", "a\\\"b", "c", "d"}));
  EXPECT_EQ(SplitCommandLine("p a\\\\\\\\\"b c\" d e"), (V{"p", "a\\\\b c", "d", "e"}));
  EXPECT_EQ(SplitCommandLine("p C:\\path\\ \"x\\\\\""), (V{"p", "C:\\path\\", "x\\"}));
  EXPECT_EQ(SplitCommandLine("p \"unterminated arg"), (V{"p", "unterminated arg"}));
}

#ifndef _WIN32
TEST_F(ProcessTest, StartsInWorkingFolderAndWaits) {
  ASSERT_TRUE(platform::ForceDirectories(sb().Path("work dir")));
  std::string out = sb().Path("pwd.txt");
  std::string cmd = "/bin/sh -c \"pwd > '" + out + "'; echo \\\"$0\\\" >> '" + out + "'\" arg0";
  ASSERT_TRUE(platform::StartProcess(cmd, sb().Path("work dir"), true, true, 10000));
  std::string text = sb().ReadFile("pwd.txt");
  EXPECT_EQ(text, platform::LongPathName(sb().Path("work dir")) + "\narg0\n");

  // Failures to start are reported.
  EXPECT_FALSE(platform::StartProcess("/no/such/program", "", false, true, 1000));
  EXPECT_FALSE(platform::StartProcess("/bin/true", sb().Path("missing"), false, true, 1000));
  EXPECT_FALSE(platform::StartProcess("   ", "", false, false, 0));
  // Programs are found on PATH.
  EXPECT_TRUE(platform::StartProcess("  sh -c \"exit 3\"", "", false, true, -1));
}

TEST_F(ProcessTest, WaitEndsAtTimeoutAndChildrenAreReaped) {
  // A child that runs until the test lets it go: a wait with a time limit
  // can only end by that limit, with the child still running.
  const std::string pidFile = sb().Path("child.pid");
  const std::string release = sb().Path("release");
  const std::string cmd = "/bin/sh -c \"echo $$ > '" + pidFile + "'; while [ ! -e '" + release +
                          "' ]; do sleep 0.05; done\"";
  auto waited = std::async(std::launch::async,
                           [&] { return platform::StartProcess(cmd, "", false, true, 200); });
  // A wait that ignores its limit would hold until the child ends: let the
  // child go then, so the test fails instead of hanging.
  const bool returnedWhileRunning =
      waited.wait_for(std::chrono::seconds(60)) == std::future_status::ready;
  if (!returnedWhileRunning) sb().WriteFile("release", "");
  EXPECT_TRUE(waited.get());
  ASSERT_TRUE(returnedWhileRunning) << "the wait did not end at its time limit";

  ASSERT_TRUE(WaitForFile(pidFile, 10000));
  const pid_t child = static_cast<pid_t>(std::stol(sb().ReadFile("child.pid")));
  ASSERT_GT(child, 0);
  EXPECT_EQ(::kill(child, 0), 0) << "the child did not outlive the time limit";

  // Let go, it ends and is reaped: its process entry disappears instead of
  // staying behind as a zombie.
  sb().WriteFile("release", "");
  EXPECT_TRUE(
      testsupport::WaitUntil([&] { return ::kill(child, 0) != 0 && errno == ESRCH; }, 10000, 20))
      << ZombieChildren() << " zombies";

  // A child not waited for is reaped all the same once it ends.
  std::string out = sb().Path("later.txt");
  ASSERT_TRUE(
      platform::StartProcess("/bin/sh -c \"echo $$ > '" + out + "'\"", "", false, false, 0));
  ASSERT_TRUE(WaitForFile(out, 5000));
  const pid_t later = static_cast<pid_t>(std::stol(sb().ReadFile("later.txt")));
  EXPECT_TRUE(
      testsupport::WaitUntil([&] { return ::kill(later, 0) != 0 && errno == ESRCH; }, 10000, 20))
      << ZombieChildren() << " zombies";
}

TEST_F(ProcessTest, ShellOpenHandsTheTargetToXdgOpen) {
  sb().WriteFile("bin/xdg-open",
                 "#!/bin/sh\nprintf '%s|%s' \"$#\" \"$1\" > \"$(dirname \"$0\")/opened\"\n");
  ASSERT_EQ(::chmod(sb().Path("bin/xdg-open").c_str(), 0755), 0);
  testsupport::EnvGuard env;
  env.Set("PATH", (sb().Path("bin") + ":/usr/bin:/bin").c_str());
  const std::string url = "http://example.test/a b?x=1&y=\"2\"";
  ASSERT_TRUE(platform::ShellOpen(url));
  ASSERT_TRUE(WaitForFile(sb().Path("bin/opened"), 5000));
  EXPECT_EQ(sb().ReadFile("bin/opened"), "1|" + url);

  env.Set("PATH", sb().Path("empty").c_str());
  EXPECT_FALSE(platform::ShellOpen(url));
  EXPECT_FALSE(platform::ShellOpen(""));
}

TEST_F(ProcessTest, AutorunEntryIsAnAutostartFile) {
  // An executable path with spaces, unquoted as the Run key holds it.
  sb().WriteFile("Veil Gate/veil$gate", "");
  const std::string exe = sb().Path("Veil Gate/veil$gate");
  platform::SetAutoRunEntry(true, "Veilgate", exe);
  std::string text = sb().ReadFile("config/autostart/Veilgate.desktop");
  EXPECT_EQ(text, "[Desktop Entry]\nType=Application\nName=Veilgate\nExec=\"" + sb().Root() +
                      "/Veil Gate/veil\\\\$gate\"\nX-GNOME-Autostart-enabled=true\n");
  EXPECT_EQ(platform::GetAutoRunEntry("Veilgate"), exe);
  platform::SetAutoRunEntry(true, "Veilgate", exe + " -a");
  EXPECT_EQ(platform::GetAutoRunEntry("Veilgate"), "\"" + exe + "\" -a");

  // A command with parameters, quotes and a percent sign reads back the same.
  const std::string cmd = "\"/opt/x y/app\" -a 100% \"say \\\"hi\\\"\"";
  platform::SetAutoRunEntry(true, "Veilgate", cmd);
  EXPECT_NE(sb().ReadFile("config/autostart/Veilgate.desktop").find(" 100%% "), std::string::npos);
  EXPECT_EQ(platform::GetAutoRunEntry("Veilgate"), cmd);
  EXPECT_EQ(platform::GetAutoRunEntry("Other"), "");

  // An entry switched off by the desktop counts as absent.
  sb().WriteFile("config/autostart/Hidden.desktop",
                 "[Desktop Entry]\nExec=/bin/app\nHidden=true\n");
  EXPECT_EQ(platform::GetAutoRunEntry("Hidden"), "");
  // A name cannot reach outside the autostart folder.
  platform::SetAutoRunEntry(true, "../escape", "/bin/app");
  EXPECT_FALSE(sb().Exists("config/escape.desktop"));

  platform::SetAutoRunEntry(false, "Veilgate", "");
  EXPECT_FALSE(sb().Exists("config/autostart/Veilgate.desktop"));
  EXPECT_EQ(platform::GetAutoRunEntry("Veilgate"), "");
  platform::SetAutoRunEntry(false, "Veilgate", "");  // removing twice is harmless
}

TEST(SystemInfo, DescribesTheRunningKernel) {
  platform::VersionInfo v = platform::GetVersionInfo();
  EXPECT_EQ(v.platformId, 0u);
  EXPECT_EQ(v.systemName, "Linux");
  EXPECT_FALSE(v.release.empty());
  EXPECT_EQ(std::to_string(v.major), v.release.substr(0, v.release.find('.')));
  EXPECT_FALSE(platform::CtrlAndShiftDown());
  auto start = Clock::now();
  platform::SleepMs(50);
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(50));
}

#endif  // _WIN32

}  // namespace
