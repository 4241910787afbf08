// The settings store's local boundary: the folder shared by all users and
// the user's settings files are trusted only when no other user can have
// planted them (posix; on Windows the profile folders' permissions hold it).
#ifndef _WIN32
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "SettingsTestHelpers.h"

namespace {

constexpr uid_t kOtherUser = 65534;  // "nobody"

class SecurityLocal : public SettingsStoreTest {
 protected:
  // The all-users folder as another user might have left it.
  void PrepareAllUsersFolder(mode_t mode) {
    const std::string folder = AllUsersFolder().substr(0, AllUsersFolder().size() - 1);
    Put(AllUsersFolder() + "setting.dat", "[setting]\nFireFoxPath=/planted/program\n");
    ASSERT_EQ(::chmod(folder.c_str(), mode), 0);
  }
};

TEST_F(SecurityLocal, ASharedFolderOthersCanWriteIsNotUsed) {
  PrepareAllUsersFolder(0777);
  TCLSettings s;
  EXPECT_FALSE(s.AllUser());
  EXPECT_TRUE(SamePath(s.UserDataPath(), CurrentUserFolder()));
  EXPECT_EQ(s.GetSettingString("FireFoxPath"), "");
  EXPECT_EQ(OnDisk(CurrentUserFolder() + "UserFlag.ini", "Flag", "AllUsers"), "0");
}

TEST_F(SecurityLocal, ALinkInTheSettingsFilesPlaceIsNeitherReadNorWrittenThrough) {
  Put(sb().Path("victim.dat"), "[setting]\nFireFoxPath=/planted/program\n");
  Put(CurrentUserFolder() + "UserFlag.ini", "[Flag]\r\nAllUsers=0\r\n");
  ASSERT_EQ(::symlink(sb().Path("victim.dat").c_str(),
                      (CurrentUserFolder() + "setting.dat").c_str()),
            0);
  {
    TCLSettings s;
    ASSERT_FALSE(s.AllUser());
    EXPECT_EQ(s.GetSettingString("FireFoxPath"), "");
  }
  // The run counter was written as a file of the user's own in the link's place.
  struct stat st {};
  ASSERT_EQ(::lstat((CurrentUserFolder() + "setting.dat").c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  EXPECT_EQ(Slurp(sb().Path("victim.dat")), "[setting]\nFireFoxPath=/planted/program\n");
}

class SecurityOtherUser : public SecurityLocal {
 protected:
  void SetUp() override {
    SecurityLocal::SetUp();
    if (::geteuid() != 0) GTEST_SKIP() << "making files of another user needs root";
  }
};

TEST_F(SecurityOtherUser, ASharedFolderOrSettingsFileOfAnotherUserIsNotUsed) {
  PrepareAllUsersFolder(0755);
  const std::string folder = AllUsersFolder().substr(0, AllUsersFolder().size() - 1);
  ASSERT_EQ(::chown(folder.c_str(), kOtherUser, kOtherUser), 0);
  {
    TCLSettings s;
    EXPECT_FALSE(s.AllUser());
    EXPECT_EQ(s.GetSettingString("FireFoxPath"), "");
  }
  // In the user's own folder, a settings file another user owns is not read.
  const std::string own = CurrentUserFolder() + "setting.dat";
  platform::DeleteFileAt(own);
  Put(own, "[setting]\nFireFoxPath=/planted/program\n");
  ASSERT_EQ(::chown(own.c_str(), kOtherUser, kOtherUser), 0);
  TCLSettings s;
  EXPECT_FALSE(s.AllUser());
  EXPECT_EQ(s.GetSettingString("FireFoxPath"), "");
}

}  // namespace
#endif
