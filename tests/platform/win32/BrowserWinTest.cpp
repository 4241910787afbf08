// Where Windows browsers keep their profiles and how a running one is seen:
// the Chromium family under the local application-data folder (Opera under
// the roaming one), and a profile in use while its lock file is held open
// without sharing, as the browser holds it.
#include <windows.h>

#include <gtest/gtest.h>

#include <map>

#include "WinTestSupport.h"
#include "platform/Browser.h"
#include "platform/Files.h"

namespace {

using BrowserWinTest = SandboxTest;

TEST_F(BrowserWinTest, ChromiumFamilyProfilesLiveInTheApplicationDataFolders) {
  Sandbox& s = sb();
  std::map<std::string, std::string> found;
  for (const auto& where : platform::ChromiumProfileLocations())
    found[where.browser] = where.profileFolder;
  EXPECT_EQ(found["Chromium"], s.Path("data") + "\\Chromium\\User Data\\Default");
  EXPECT_EQ(found["Microsoft Edge"], s.Path("data") + "\\Microsoft\\Edge\\User Data\\Default");
  EXPECT_EQ(found["Google Chrome"], s.Path("data") + "\\Google\\Chrome\\User Data\\Default");
  EXPECT_EQ(found["Opera"], s.AppData() + "\\Opera Software\\Opera Stable");
  EXPECT_EQ(found.size(), 6u);
}

TEST_F(BrowserWinTest, ProfileInUseWhileItsLockFileIsHeldOpen) {
  Sandbox& s = sb();
  for (const char* lock : {"lockfile", "parent.lock"}) {
    SCOPED_TRACE(lock);
    const std::string folder = s.Path(std::string("profile-") + lock);
    ASSERT_TRUE(platform::ForceDirectories(folder));
    EXPECT_FALSE(platform::BrowserProfileInUse(folder)) << "no lock file";
    const std::string file = folder + "\\" + lock;
    HANDLE h = CreateFileW(wintest::Wide(file).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(platform::BrowserProfileInUse(folder)) << "held open";
    CloseHandle(h);
    EXPECT_FALSE(platform::BrowserProfileInUse(folder)) << "left behind by a browser that ended";
  }
}

}  // namespace
