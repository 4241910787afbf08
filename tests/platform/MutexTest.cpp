#include "platform/Mutex.h"

#include <gtest/gtest.h>

#include "platform/Files.h"
#include "support/Sandbox.h"
#ifndef _WIN32
#include "ProcessSignal.h"
#endif

using platform::MutexResult;

namespace {

class MutexTest : public SandboxTest {};

#ifndef _WIN32
// Forked holders and the posix lock files; the win32 mutex between two
// processes is tested in tests/platform/win32.
TEST_F(MutexTest, HeldByAnotherProcessUntilItEnds) {
  const std::string name = "Global\\{6F1C-TEST}/x";
  testutil::Signal held, release;
  pid_t pid = testsupport::ForkChild([&] {
    if (platform::CreateNamedMutex(name) != MutexResult::Created) return 1;
    held.Notify();
    release.Wait();
    return 0;  // the lock goes with the process
  });
  ASSERT_TRUE(held.Wait());
  EXPECT_EQ(platform::CreateNamedMutex(name), MutexResult::AlreadyExists);
  // A different name, even one that differs only in unsafe characters, is free.
  EXPECT_EQ(platform::CreateNamedMutex("Global\\{6F1C-TEST}:x"), MutexResult::Created);
  release.Notify();
  EXPECT_EQ(testsupport::WaitChild(pid), 0);
  EXPECT_EQ(platform::CreateNamedMutex(name), MutexResult::Created);
  // Held now by this process, so a second creation reports it as existing.
  EXPECT_EQ(platform::CreateNamedMutex(name), MutexResult::AlreadyExists);
  platform::ReleaseNamedMutexes();
  EXPECT_EQ(platform::CreateNamedMutex(name), MutexResult::Created);
}

#endif  // _WIN32

TEST_F(MutexTest, LongAndEmptyNamesWork) {
  std::string longName = "Global\\" + std::string(5000, 'g');
  EXPECT_EQ(platform::CreateNamedMutex(longName), MutexResult::Created);
  EXPECT_EQ(platform::CreateNamedMutex(longName + "h"), MutexResult::Created);
  EXPECT_EQ(platform::CreateNamedMutex("Global\\"), MutexResult::Created);
  EXPECT_EQ(platform::CreateNamedMutex("Global\\"), MutexResult::AlreadyExists);
}

#ifndef _WIN32
TEST_F(MutexTest, UnusableRuntimeFolderFails) {
  testsupport::EnvGuard env;
  sb().WriteFile("notafolder", "x");
  env.Set("XDG_RUNTIME_DIR", sb().Path("notafolder").c_str());
  EXPECT_EQ(platform::CreateNamedMutex("Global\\x"), MutexResult::Failed);
}

#endif  // _WIN32

}  // namespace
