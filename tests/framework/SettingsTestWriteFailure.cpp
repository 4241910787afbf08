// Writes of the user file that fail: the caller hears of it, the value stays
// in memory and the file on disk keeps its previous content.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <csignal>
#include <filesystem>

#include "SettingsTestHelpers.h"
#include "support/ChildProcess.h"

namespace fs = std::filesystem;

namespace {

TEST_F(SettingsStoreTest, WriteOverAFolderThrowsWithPathAndReason) {
  TCLSettings s;
  const std::string path = s.SettingFilePath();
  // Something else takes the file's name: a folder that is not empty.
  fs::remove(path);
  fs::create_directories(path);
  Put(path + "/keep", "x");

  try {
    s.SetSettingstring("Color", "blue");
    ADD_FAILURE() << "the failed write was not reported";
  } catch (const ECLSettingsWriteError& e) {
    EXPECT_EQ(e.Path(), path);
    EXPECT_FALSE(e.Reason().empty());
    EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
  }
  EXPECT_EQ(s.GetSettingString("Color"), "blue");
  // Batched writes report at EndUpdate; show-again writes report too.
  s.BeginUpdate();
  EXPECT_NO_THROW(s.SetSettingstring("Size", "2"));
  EXPECT_THROW(s.EndUpdate(), ECLSettingsWriteError);
  EXPECT_THROW(s.SetMessageShowAgainFlag(1, false), ECLSettingsWriteError);
  EXPECT_THROW(s.UpdateSettingINI(), ECLSettingsWriteError);
  EXPECT_EQ(Slurp(path + "/keep"), "x");

  // A store created while its file cannot be written still starts and reads.
  Put(sb().AppDir() + "const.dat", "[setting]\nSupplied=yes\n");
  TCLSettings t;
  EXPECT_EQ(t.RunTimes(), 0);
  EXPECT_EQ(t.GetSettingString("Supplied"), "yes");
  EXPECT_THROW(t.SetSettingInteger("X", 1), ECLSettingsWriteError);
}

TEST_F(SettingsStoreTest, AValueTheFileHoldsIsWrittenAgainOnlyAfterAFailedWrite) {
  TCLSettings s;
  const std::string path = s.SettingFilePath();
  s.SetSettingstring("Skin", "Default");
  // A section added from outside shows whether the file was written again
  // (a write puts out what the store holds, without it).
  Put(path, Slurp(path) + "[mark]\nSeen=1\n");
  s.SetSettingstring("Skin", "Default");
  EXPECT_NE(Slurp(path).find("[mark]"), std::string::npos) << Slurp(path);
  s.SetSettingstring("Skin", "Dark");
  EXPECT_EQ(Slurp(path).find("[mark]"), std::string::npos) << Slurp(path);
  EXPECT_NE(Slurp(path).find("Skin=Dark"), std::string::npos) << Slurp(path);

  // After a failed write the file is behind: the same value is written then.
  fs::remove(path);
  fs::create_directories(path);
  EXPECT_THROW(s.SetSettingstring("Skin", "Light"), ECLSettingsWriteError);
  fs::remove_all(path);
  s.SetSettingstring("Skin", "Light");
  EXPECT_NE(Slurp(path).find("Skin=Light"), std::string::npos);
  // And after a failed batch, which changed nothing on the disk either.
  fs::remove(path);
  fs::create_directories(path);
  s.BeginUpdate();
  s.SetSettingstring("Size", "2");
  EXPECT_THROW(s.EndUpdate(), ECLSettingsWriteError);
  fs::remove_all(path);
  s.SetSettingstring("Size", "2");
  EXPECT_NE(Slurp(path).find("Size=2"), std::string::npos);
}

TEST_F(SettingsStoreTest, NoWritableFolderAtAllStillStarts) {
  // Both data folders lie below a plain file: nothing can be created.
  Put(sb().Path("blocker"), "x");
  platform::RegWriteString(platform::RegRoot::CurrentUser, kShellFoldersKey, "AppData",
                           sb().Path("blocker/user"));
  platform::RegWriteString(platform::RegRoot::LocalMachine, kShellFoldersKey, "Common AppData",
                           sb().Path("blocker/common"));
  Put(sb().AppDir() + "const.dat", "[setting]\nApp.Name=Veilgate\n");
  std::unique_ptr<TCLSettings> s;
  ASSERT_NO_THROW(s = std::make_unique<TCLSettings>());
  // The user's own folder is chosen, as the all-users one is not writable,
  // even though no flag could be stored to say so.
  EXPECT_FALSE(s->AllUser());
  EXPECT_FALSE(s->IsAllUserFlagExists());
  EXPECT_EQ(s->RunTimes(), 0);
  EXPECT_EQ(s->GetSettingString("App.Name"), "Veilgate");
  EXPECT_THROW(s->SetSettingstring("A", "1"), ECLSettingsWriteError);
  EXPECT_EQ(s->GetSettingString("A"), "1");
  EXPECT_THROW(s->SetAllUserFlag(true), ECLSettingsWriteError);
}

#ifndef _WIN32
TEST_F(SettingsStoreTest, FullDiskKeepsTheOldFile) {
  // A file size limit makes the write of the new file fail half way, as a
  // full disk would (this works even for root, unlike permissions). It runs
  // in a child so that the limit does not reach the test process.
  std::string path;
  {
    TCLSettings s;
    s.SetSettingstring("Keep", "old value");
    path = s.SettingFilePath();
  }
  const std::string before = Slurp(path);
  const std::string folder = path.substr(0, path.find_last_of('/'));

  const pid_t pid = testsupport::ForkChild([&] {
    int code = 0;
    try {
      TCLSettings s;  // its own counter write is small enough
      signal(SIGXFSZ, SIG_IGN);
      struct rlimit rl {};
      getrlimit(RLIMIT_FSIZE, &rl);
      rl.rlim_cur = 4096;
      setrlimit(RLIMIT_FSIZE, &rl);
      const std::string big(64 * 1024, 'n');
      try {
        s.SetSettingstring("Keep", big);
        code = 10;  // not reported
      } catch (const ECLSettingsWriteError& e) {
        if (e.Path() != s.SettingFilePath())
          code = 11;
        else if (s.GetSettingString("Keep") != big)
          code = 12;
      }
    } catch (...) {
      code = 13;
    }
    return code;
  });
  ASSERT_GE(pid, 0);
  EXPECT_EQ(testsupport::WaitChild(pid), 0);

  // The old file is intact apart from the child's own counter write, and no
  // temporary file is left behind.
  EXPECT_EQ(OnDisk(path, "setting", "Keep"), "old value");
  EXPECT_EQ(OnDisk(path, "setting", "RunTimes"), "2");
  EXPECT_NE(before, "");
  int others = 0;
  for (const auto& entry : fs::directory_iterator(folder))
    if (entry.path().filename() != "setting.dat") ++others;
  EXPECT_EQ(others, 0);
}
#endif  // _WIN32

}  // namespace
