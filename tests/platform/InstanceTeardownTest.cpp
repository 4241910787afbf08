// A main window's endpoint that is withdrawn while the process's static
// objects are destroyed (held by a static object, as a window torn down at
// exit is): the process still ends normally. The body runs in a child
// process of this program, which ends the usual way after its tests.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <memory>

#include "platform/Instance.h"
#include "support/ChildProcess.h"
#include "support/Sandbox.h"

namespace {

// Constructed before main, so destroyed after most other static objects.
std::unique_ptr<platform::InstanceEndpoint> gHeldUntilExit;

TEST(InstanceTeardownTest, EndpointHeldByAStaticObjectIsWithdrawnAtExit) {
  testsupport::ChildProcess child;
  ASSERT_TRUE(
      child.Start({"/proc/self/exe", "--gtest_filter=InstanceTeardownTest.DISABLED_ChildBody",
                   "--gtest_also_run_disabled_tests"}));
  // 0: the child's test passed and its exit withdrew the endpoint without a
  // crash; -1: it did not end at all.
  EXPECT_EQ(child.Wait(30000), 0);
}

TEST(InstanceTeardownTest, DISABLED_ChildBody) {
  gHeldUntilExit = platform::CreateInstanceEndpoint("TfrmTeardown", [](const auto&) { return 1; });
  ASSERT_NE(gHeldUntilExit, nullptr);
  // Answers while it lives.
  EXPECT_EQ(platform::SendInstanceMessage(gHeldUntilExit->window(), 0xC001, 0, 0, 1000), 1);
}

}  // namespace

#endif  // _WIN32
