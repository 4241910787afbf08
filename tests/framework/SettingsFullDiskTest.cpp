// The settings store on a disk that is really full: a 64 KiB tmpfs mounted
// over the user data folder. A write that does not fit reports its error,
// keeps the value in memory and leaves the old file whole; once the disk
// has room again, the next write succeeds. Special files in the place of a
// settings file never hold the program up.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "SettingsTestHelpers.h"
#include "support/SmallDisk.h"
#include "support/Wait.h"

namespace fs = std::filesystem;

namespace {

// Files in the folder other than the settings file (temporary files left by
// a failed write would show here).
int Others(const std::string& folder) {
  int n = 0;
  for (const auto& e : fs::directory_iterator(folder))
    if (e.path().filename() != "setting.dat") ++n;
  return n;
}

TEST_F(SettingsStoreTest, FullTmpfsReportsTheWriteAndKeepsTheOldFile) {
  std::string folder, path;
  {
    TCLSettings probe;
    path = probe.SettingFilePath();
    folder = probe.UserDataPath();
  }
  const int code = smalldisk::RunOnSmallDisk(folder, 64 * 1024, [&]() -> int {
    // A data folder others may write is not used: the new disk is closed as
    // the folder it stands for would be.
    if (::chmod(folder.c_str(), 0700) != 0) return 9;
    TCLSettings s;  // a fresh file on the empty disk
    s.SetSettingstring("Keep", "old value");
    const std::string before = Slurp(path);
    if (before.find("Keep=old value") == std::string::npos) return 10;

    // Twice the size of the whole disk.
    const std::string big(128 * 1024, 'b');
    try {
      s.SetSettingstring("Keep", big);
      return 11;  // the failure was not reported
    } catch (const ECLSettingsWriteError& e) {
      if (e.Path() != path || e.Reason().empty()) return 12;
    }
    if (s.GetSettingString("Keep") != big) return 13;  // the value stays in memory
    if (Slurp(path) != before) return 14;              // the old file is whole
    if (Others(folder) != 0) return 15;                // no temporary file left

    // A batch that does not fit fails at its end, the same way.
    s.BeginUpdate();
    s.SetSettingstring("Other", big);
    try {
      s.EndUpdate();
      return 16;
    } catch (const ECLSettingsWriteError&) {
    }
    if (Slurp(path) != before) return 17;

    // Once the big values are replaced, the document fits again and the
    // next write goes through, holding what memory holds.
    s.BeginUpdate();
    s.SetSettingstring("Keep", "new value");
    s.SetSettingstring("Other", "small");
    s.EndUpdate();
    TCLMemIniFile onDisk(path);
    const std::string* v = onDisk.Find("setting", "Keep");
    if (!v || *v != "new value") return 18;
    if (Others(folder) != 0) return 19;
    return 0;
  });
  if (code == smalldisk::kCannotMount)
    GTEST_SKIP() << "no mount namespace here; SettingsStoreTest.FullDiskKeepsTheOldFile covers "
                    "the same path with a file size limit";
  EXPECT_EQ(code, 0) << "see the numbered checks in the test body";
}

TEST_F(SettingsStoreTest, NamedPipesInPlaceOfTheFilesDoNotHoldTheStart) {
  std::string path;
  {
    TCLSettings probe;
    path = probe.SettingFilePath();
  }
  // Nobody ever writes to these pipes: a reader that opened them blocking
  // would wait forever.
  fs::remove(path);
  ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
  fs::remove(sb().AppDir() + "const.dat");
  ASSERT_EQ(::mkfifo((sb().AppDir() + "const.dat").c_str(), 0600), 0);

  // A reader held by a pipe is let go by a writer that opens and closes
  // both, so that the test fails instead of hanging.
  const auto letGo = [&] {
    for (const std::string& pipe : {path, sb().AppDir() + "const.dat"}) {
      const int fd = ::open(pipe.c_str(), O_WRONLY | O_NONBLOCK);
      if (fd >= 0) ::close(fd);
    }
  };
  std::string read = "<not read>";
  EXPECT_TRUE(testsupport::ReturnsWithin(
      [&] {
        TCLSettings s;
        read = s.GetSettingString("Anything");
        // The write puts a regular file in the pipe's place.
        s.SetSettingstring("After", "written");
      },
      60000, letGo, "opening the settings"))
      << "a pipe held the settings";
  EXPECT_EQ(read, "");
  TCLSettings again;
  EXPECT_EQ(again.GetSettingString("After"), "written");
}

}  // namespace

#endif  // _WIN32
