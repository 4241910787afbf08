// A main window's endpoint that is withdrawn while the process's static
// objects are destroyed (held by a static object, as a window torn down at
// exit is): the process ends normally and the socket file goes with it.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "platform/Files.h"
#include "platform/Instance.h"
#include "support/Sandbox.h"

namespace {

// Constructed before main, so destroyed after most other static objects.
std::unique_ptr<platform::InstanceEndpoint> gHeldUntilExit;

class InstanceTeardownTest : public SandboxTest {};

TEST_F(InstanceTeardownTest, EndpointHeldByAStaticObjectIsWithdrawnAtExit) {
  int path[2];
  ASSERT_EQ(::pipe(path), 0);
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::close(path[0]);
    gHeldUntilExit = platform::CreateInstanceEndpoint("TfrmTeardown", [](const auto&) { return 1; });
    if (!gHeldUntilExit) ::_exit(3);
    const std::string id = gHeldUntilExit->window().id;
    if (::write(path[1], id.data(), id.size()) != static_cast<ssize_t>(id.size())) ::_exit(4);
    ::close(path[1]);
    std::exit(0);  // static destructors run, the endpoint's among them
  }
  ::close(path[1]);
  std::string id;
  char buf[512];
  ssize_t n;
  while ((n = ::read(path[0], buf, sizeof buf)) > 0) id.append(buf, static_cast<size_t>(n));
  ::close(path[0]);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
      << "exit " << (WIFEXITED(status) ? WEXITSTATUS(status) : -1) << ", signal "
      << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
  ASSERT_FALSE(id.empty());
  EXPECT_FALSE(platform::FileExists(id)) << "the socket file stayed behind";
}

}  // namespace

#endif  // _WIN32
