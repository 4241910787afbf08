// The modules of the posix backend (the HTTP transport, the GIO part of the
// proxy switch): how a module is found and loaded, and a program whose
// modules are missing, which must keep running and report every request
// and switch as failed with the reason.
#ifndef _WIN32
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/Sandbox.h"
#include "platform/Http.h"
#include "platform/ProxySettings.h"
#include "platform/posix/Modules.h"

namespace {

namespace fs = std::filesystem;

std::string Joined(const std::vector<std::string>& notes) {
  std::string all;
  for (const std::string& n : notes) all += n + "\n";
  return all;
}

class ModulesTest : public SandboxTest {};

TEST_F(ModulesTest, AModuleIsLookedForBesideTheExecutableThenOneFolderUp) {
  const std::vector<std::string> folders = platform::posix::ModuleFolders();
  const std::string self = fs::canonical("/proc/self/exe").string();
  ASSERT_EQ(folders.size(), 2u);
  EXPECT_EQ(folders[0], fs::path(self).parent_path().string());
  EXPECT_EQ(folders[1], fs::path(self).parent_path().parent_path().string());
}

TEST_F(ModulesTest, AMissingOrBrokenModuleGivesTheFilesTriedAndWhy) {
  using platform::posix::ModuleEntry;
  fs::create_directories(sb().Path("empty"));
  fs::create_directories(sb().Path("broken"));
  sb().WriteFile("broken/libvgbroken.so", "not a shared object");

  std::string error;
  EXPECT_EQ(ModuleEntry("vgabsent", "entry", &error, {sb().Path("empty")}), nullptr);
  EXPECT_NE(error.find("libvgabsent.so could not be loaded"), std::string::npos) << error;
  EXPECT_NE(error.find(sb().Path("empty") + "/libvgabsent.so: not there"), std::string::npos)
      << error;
  EXPECT_FALSE(platform::posix::ModuleLoaded("vgabsent"));

  // A file that is no module is passed over with the loader's reason, and
  // the next folder is tried.
  error.clear();
  EXPECT_EQ(ModuleEntry("vgbroken", "entry", &error, {sb().Path("broken"), sb().Path("empty")}),
            nullptr);
  EXPECT_NE(error.find(sb().Path("broken") + "/libvgbroken.so"), std::string::npos) << error;
  EXPECT_NE(error.find(sb().Path("empty") + "/libvgbroken.so: not there"), std::string::npos)
      << error;

  // The answer is kept: a later call gives the same failure without a new
  // look, even once the file is there.
  sb().WriteFile("empty/libvgabsent.so", "");
  error.clear();
  EXPECT_EQ(ModuleEntry("vgabsent", "entry", &error, {sb().Path("empty")}), nullptr);
  EXPECT_NE(error.find("not there"), std::string::npos) << error;
}

TEST_F(ModulesTest, TheBuiltModulesLoadAndAnUnknownEntryPointIsReported) {
  using platform::posix::ModuleEntry;
  std::string error;
  EXPECT_NE(ModuleEntry("vghttp", "vg_http_module", &error, {VG_BINARY_DIR}), nullptr) << error;
  EXPECT_TRUE(platform::posix::ModuleLoaded("vghttp"));
  EXPECT_NE(ModuleEntry("vgdesktop", "vg_desktop_module", &error, {VG_BINARY_DIR}), nullptr)
      << error;
  EXPECT_EQ(ModuleEntry("vghttp", "vg_no_such_entry", &error, {VG_BINARY_DIR}), nullptr);
  EXPECT_NE(error.find("no entry point vg_no_such_entry"), std::string::npos) << error;
  // Only the entry points are visible: the module's own copies of the
  // backend's functions never stand in for the program's.
  EXPECT_EQ(
      ModuleEntry("vghttp",
                  "_ZN8platform13HttpGetDirectERKNSt7__cxx1112basic_stringIcSt11char_traitsIcE"
                  "SaIcEEERS5_iPS5_",
                  &error, {VG_BINARY_DIR}),
      nullptr);
}

// Run only as the child of the test below, from a copy of this program in a
// folder without modules.
TEST(ModulesMissing, DISABLED_RequestsAndSwitchesFailWithTheReason) {
  std::string body = "left over", error;
  EXPECT_FALSE(platform::HttpGetDirect("http://127.0.0.1:9/", body, 2000, &error));
  EXPECT_TRUE(body.empty());
  EXPECT_NE(error.find("no HTTP transport"), std::string::npos) << error;
  EXPECT_NE(error.find("libvghttp.so could not be loaded"), std::string::npos) << error;

  platform::HttpRequestOptions options;
  options.host = "127.0.0.1";
  options.port = 9;
  error.clear();
  EXPECT_EQ(platform::HttpOpenRequest(options, &error), nullptr);
  EXPECT_NE(error.find("libvghttp.so could not be loaded"), std::string::npos) << error;

  // The switch reaches nothing and says why, once; this process still
  // follows what was applied.
  platform::TakeProxyNotices();
  platform::PerConnectionProxy proxy{true, "127.0.0.1:3128", ""};
  EXPECT_FALSE(platform::ApplyPerConnectionProxy(proxy));
  EXPECT_EQ(platform::AppliedProxy().server, "127.0.0.1:3128");
  EXPECT_EQ(platform::LastProxyReach(), platform::kProxyReachNone);
  EXPECT_FALSE(platform::NotifyKdeProxyChanged());
  const platform::DesktopProxyState state = platform::ReadDesktopProxyState();
  EXPECT_TRUE(std::none_of(state.begin(), state.end(),
                           [](const auto& e) { return e.first.rfind("gnome", 0) == 0; }));
  const std::vector<std::string> notes = platform::TakeProxyNotices();
  const std::string all = Joined(notes);
  EXPECT_EQ(std::count_if(notes.begin(), notes.end(),
                          [](const std::string& n) {
                            return n.find("libvgdesktop.so could not be loaded") !=
                                   std::string::npos;
                          }),
            1)
      << all;
}

TEST_F(ModulesTest, AProgramWithoutItsModulesKeepsRunningAndReportsEveryFailure) {
  // A copy of this program in a folder (and below a folder) without modules.
  const std::string dir = sb().Path("installed/bin");
  fs::create_directories(dir);
  const std::string copy = dir + "/test_platform";
  fs::copy_file("/proc/self/exe", copy);
  fs::permissions(copy, fs::perms::owner_all);
  const std::string out = sb().Path("child.log");

  const pid_t pid = ::fork();
  if (pid == 0) {
    const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(fd, 1);
    ::dup2(fd, 2);
    // Outside a KDE session: the KDE file is left alone.
    ::unsetenv("XDG_CURRENT_DESKTOP");
    ::unsetenv("KDE_FULL_SESSION");
    ::execl(copy.c_str(), copy.c_str(), "--gtest_also_run_disabled_tests",
            "--gtest_filter=ModulesMissing.DISABLED_RequestsAndSwitchesFailWithTheReason",
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ASSERT_GT(pid, 0);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  const std::string log = sb().ReadFile("child.log");
  ASSERT_TRUE(WIFEXITED(status)) << "the child ended by a signal\n" << log;
  EXPECT_EQ(WEXITSTATUS(status), 0) << log;
  EXPECT_NE(log.find("[  PASSED  ] 1 test"), std::string::npos) << log;
}

}  // namespace
#endif
