// A main window's endpoint that is withdrawn while the process's static
// objects are destroyed (held by a static object, as a window torn down at
// exit is): the process still ends normally. The body runs in a child
// process of this program, which ends the usual way after its tests.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/Instance.h"
#include "support/Sandbox.h"

extern char** environ;

namespace {

// Constructed before main, so destroyed after most other static objects.
std::unique_ptr<platform::InstanceEndpoint> gHeldUntilExit;

TEST(InstanceTeardownTest, EndpointHeldByAStaticObjectIsWithdrawnAtExit) {
  std::vector<std::string> args = {"/proc/self/exe",
                                   "--gtest_filter=InstanceTeardownTest.DISABLED_ChildBody",
                                   "--gtest_also_run_disabled_tests"};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, "/proc/self/exe", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ASSERT_EQ(spawned, 0);
  int status = 0;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (::waitpid(pid, &status, WNOHANG) != pid) {
    ASSERT_LT(std::chrono::steady_clock::now(), end) << "the child did not end";
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
      << "exit " << (WIFEXITED(status) ? WEXITSTATUS(status) : -1) << ", signal "
      << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

TEST(InstanceTeardownTest, DISABLED_ChildBody) {
  gHeldUntilExit = platform::CreateInstanceEndpoint("TfrmTeardown", [](const auto&) { return 1; });
  ASSERT_NE(gHeldUntilExit, nullptr);
  // Answers while it lives.
  EXPECT_EQ(platform::SendInstanceMessage(gHeldUntilExit->window(), 0xC001, 0, 0, 1000), 1);
}

}  // namespace

#endif  // _WIN32
