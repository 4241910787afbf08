// These tests check the posix file-system backend (modes, links, rlimits);
// the win32 backend is tested in tests/platform/win32.
#ifndef _WIN32

#include "platform/Files.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>

#include "support/Sandbox.h"
#include "ProcessSignal.h"

namespace {

using V = std::vector<std::string>;

class FilesTest : public SandboxTest {};

V Sorted(V v) {
  std::sort(v.begin(), v.end());
  return v;
}

// Both atomic writers (the one that also flushes the folder, and the one
// that leaves the rename to the system) replace a file the same way.
TEST_F(FilesTest, AtomicWriteReplacesContentAndLeavesNoTemporaryFile) {
  using Writer = bool (*)(const std::string&, const std::string&, std::string*);
  const std::vector<std::pair<std::string, Writer>> writers = {{"WriteFileAtomic",
                                                                &platform::WriteFileAtomic},
                                                               {"ReplaceFileAtomic",
                                                                &platform::ReplaceFileAtomic}};
  for (const auto& [name, write] : writers) {
    SCOPED_TRACE(name);
    const std::string dir = "w-" + name;
    std::string target = sb().Path(dir + "/file.txt");
    ASSERT_TRUE(platform::ForceDirectories(sb().Path(dir)));
    std::string error;
    ASSERT_TRUE(write(target, "first", &error)) << error;
    ASSERT_TRUE(write(target, std::string("sec\0nd", 6), &error)) << error;
    std::string bytes;
    ASSERT_TRUE(platform::ReadWholeFile(target, bytes));
    EXPECT_EQ(bytes, std::string("sec\0nd", 6));
    EXPECT_EQ(platform::ListFiles(sb().Path(dir), "*"), V{"file.txt"});
    // An existing file keeps its owner's permissions (never more than 0600).
    ASSERT_EQ(::chmod(target.c_str(), 0400), 0);
    ASSERT_TRUE(write(target, "third", nullptr));
    struct stat st {};
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0400u);

    // A symbolic link at the target is replaced by the new file; the file
    // it pointed to stays as it was (a link is never written through).
    const std::string link = dir + "-link.txt";
    ASSERT_EQ(::symlink(target.c_str(), sb().Path(link).c_str()), 0);
    ASSERT_TRUE(write(sb().Path(link), "via link", nullptr));
    struct stat lst {};
    ASSERT_EQ(::lstat(sb().Path(link).c_str(), &lst), 0);
    EXPECT_TRUE(S_ISREG(lst.st_mode));
    EXPECT_EQ(sb().ReadFile(link), "via link");
    EXPECT_EQ(sb().ReadFile(dir + "/file.txt"), "third");
  }
}

TEST_F(FilesTest, AtomicWriteSweepsOnlyStaleTemporariesOfTheSameFile) {
  ASSERT_TRUE(platform::ForceDirectories(sb().Path("w")));
  // Leftovers of writers killed before their rename: one an hour old, one
  // fresh (a writer that may still be at work), one of another file.
  sb().WriteFile("w/.file.txt.tmp-AAAAAA", "old");
  sb().WriteFile("w/.file.txt.tmp-BBBBBB", "fresh");
  sb().WriteFile("w/.other.txt.tmp-CCCCCC", "old");
  sb().WriteFile("w/.file.txt.tmp-notmine", "old");
  const struct timespec hourAgo[2] = {{::time(nullptr) - 3600, 0}, {::time(nullptr) - 3600, 0}};
  for (const char* n :
       {"w/.file.txt.tmp-AAAAAA", "w/.other.txt.tmp-CCCCCC", "w/.file.txt.tmp-notmine"})
    ASSERT_EQ(::utimensat(AT_FDCWD, sb().Path(n).c_str(), hourAgo, 0), 0);
  ASSERT_TRUE(platform::WriteFileAtomic(sb().Path("w/file.txt"), "new"));
  EXPECT_EQ(Sorted(platform::ListFiles(sb().Path("w"), "*")),
            Sorted(V{".file.txt.tmp-BBBBBB", ".file.txt.tmp-notmine", ".other.txt.tmp-CCCCCC",
                     "file.txt"}));
  EXPECT_EQ(sb().ReadFile("w/file.txt"), "new");
}

TEST_F(FilesTest, AtomicWriteFailureKeepsOldFileAndSaysWhy) {
  // A folder that cannot exist: its parent is a file.
  sb().WriteFile("plain", "x");
  std::string error;
  EXPECT_FALSE(platform::WriteFileAtomic(sb().Path("plain/sub.txt"), "data", &error));
  EXPECT_NE(error.find(std::strerror(ENOTDIR)), std::string::npos) << error;

  // A write that runs out of room half-way (a file size limit stands in for
  // a full disk): the old file stays as it was and no temporary file remains.
  sb().WriteFile("w/keep.txt", "old content");
  std::string target = sb().Path("w/keep.txt");
  testutil::Signal done;
  pid_t pid = testsupport::ForkChild([&] {
    ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit lim {
      16, 16
    };
    if (::setrlimit(RLIMIT_FSIZE, &lim) != 0) return 2;
    std::string err;
    if (platform::WriteFileAtomic(target, std::string(100000, 'n'), &err)) return 3;
    if (err.find(std::strerror(EFBIG)) == std::string::npos) return 4;
    if (err.find(target) == std::string::npos) return 5;
    return 0;
  });
  EXPECT_EQ(testsupport::WaitChild(pid), 0);
  EXPECT_EQ(sb().ReadFile("w/keep.txt"), "old content");
  EXPECT_EQ(platform::ListFiles(sb().Path("w"), "*"), V{"keep.txt"});

  // The rename fails when a folder has the target's name: nothing is left behind.
  ASSERT_TRUE(platform::ForceDirectories(sb().Path("w/dir.txt/inner")));
  EXPECT_FALSE(platform::WriteFileAtomic(sb().Path("w/dir.txt"), "data", &error));
  EXPECT_FALSE(error.empty());
  EXPECT_TRUE(platform::DirectoryExists(sb().Path("w/dir.txt/inner")));
  EXPECT_EQ(platform::ListFiles(sb().Path("w"), "*"), V{"keep.txt"});
}

TEST_F(FilesTest, ReadAndWriteWholeFiles) {
  std::string bytes, error;
  EXPECT_FALSE(platform::ReadWholeFile(sb().Path("missing"), bytes, &error));
  EXPECT_NE(error.find(std::strerror(ENOENT)), std::string::npos) << error;
  EXPECT_FALSE(platform::ReadWholeFile(sb().Root(), bytes, &error));
  EXPECT_EQ(platform::FileSize(sb().Path("missing")), -1);

  std::string big(300000, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
  ASSERT_TRUE(platform::WriteWholeFile(sb().Path("big.bin"), big, &error)) << error;
  EXPECT_EQ(platform::FileSize(sb().Path("big.bin")), 300000);
  ASSERT_TRUE(platform::ReadWholeFile(sb().Path("big.bin"), bytes));
  EXPECT_EQ(bytes, big);
  EXPECT_FALSE(platform::WriteWholeFile(sb().Path("nofolder/x"), "x", &error));

  EXPECT_TRUE(platform::RenameFile(sb().Path("big.bin"), sb().Path("moved.bin")));
  EXPECT_TRUE(platform::FileExists(sb().Path("moved.bin")));
  EXPECT_FALSE(platform::PathExists(sb().Path("big.bin")));
  EXPECT_TRUE(platform::DeleteFileAt(sb().Path("moved.bin")));
  EXPECT_FALSE(platform::DeleteFileAt(sb().Path("moved.bin")));
}

TEST_F(FilesTest, FoldersAndExistence) {
  EXPECT_TRUE(platform::ForceDirectories(sb().Path("a/b/c/")));
  EXPECT_TRUE(platform::DirectoryExists(sb().Path("a/b/c")));
  EXPECT_FALSE(platform::FileExists(sb().Path("a/b/c")));
  EXPECT_TRUE(platform::PathExists(sb().Path("a/b")));
  sb().WriteFile("a/f", "1");
  EXPECT_TRUE(platform::FileExists(sb().Path("a/f")));
  EXPECT_FALSE(platform::DirectoryExists(sb().Path("a/f")));
  EXPECT_FALSE(platform::ForceDirectories(sb().Path("a/f/g")));
  EXPECT_FALSE(platform::ForceDirectories(""));
  EXPECT_TRUE(platform::CanWrite(sb().Path("a/f")));
  EXPECT_FALSE(platform::CanWrite(sb().Path("a/missing")));
  EXPECT_TRUE(platform::IsAbsolutePath("/x"));
  EXPECT_FALSE(platform::IsAbsolutePath("x/y"));
  EXPECT_EQ(platform::PathSeparator(), '/');
}

TEST_F(FilesTest, ListFilesMatchesMasksWithoutCase) {
  for (const char* name : {"one.txt", "Two.TXT", "three.log", "a.txt.bak", "x1.dat", "x12.dat"})
    sb().WriteFile(std::string("list/") + name, "");
  ASSERT_TRUE(platform::ForceDirectories(sb().Path("list/folder.txt")));
  ASSERT_EQ(::symlink("one.txt", sb().Path("list/link.txt").c_str()), 0);

  EXPECT_EQ(Sorted(platform::ListFiles(sb().Path("list"), "*.txt")),
            (V{"Two.TXT", "link.txt", "one.txt"}));
  EXPECT_EQ(Sorted(platform::ListFiles(sb().Path("list/"), "X?.DAT")), V{"x1.dat"});
  EXPECT_EQ(Sorted(platform::ListFiles(sb().Path("list"), "x*.dat")), (V{"x1.dat", "x12.dat"}));
  EXPECT_EQ(Sorted(platform::ListFiles(sb().Path("list"), "*t*.*a*")), (V{"a.txt.bak"}));
  EXPECT_EQ(platform::ListFiles(sb().Path("list"), "*").size(), 7u);
  // "*.*" takes names without a dot as well, as on Windows.
  sb().WriteFile("list/noext", "");
  EXPECT_EQ(platform::ListFiles(sb().Path("list"), "*.*").size(), 8u);
  EXPECT_EQ(platform::ListFiles(sb().Path("list"), "*.").size(), 0u);
  EXPECT_TRUE(platform::ListFiles(sb().Path("list"), "*.none").empty());
  EXPECT_TRUE(platform::ListFiles(sb().Path("missing"), "*").empty());
}

TEST_F(FilesTest, PathsOfTheProgramAndTheUser) {
  EXPECT_EQ(platform::ModuleFileName(), sb().AppExe());
  platform::SetModuleFileNameOverride("");
  std::string real = platform::ModuleFileName();
  EXPECT_TRUE(platform::FileExists(real)) << real;
  EXPECT_NE(real.find("test_platform"), std::string::npos) << real;
  platform::SetModuleFileNameOverride(sb().AppExe());

  EXPECT_EQ(platform::TempPath(), sb().Path("tmp/"));
  {
    testsupport::EnvGuard env;
    env.Set("TMPDIR", nullptr);
    EXPECT_EQ(platform::TempPath(), "/tmp/");
  }

  EXPECT_EQ(platform::DefaultShellFolder("AppData"), sb().AppData());
  EXPECT_EQ(platform::DefaultShellFolder("Common AppData"), "/var/lib");
  EXPECT_EQ(platform::DefaultShellFolder("Fonts"), "");
  {
    testsupport::EnvGuard env;
    env.Set("XDG_CONFIG_HOME", nullptr);
    EXPECT_EQ(platform::DefaultShellFolder("AppData"), sb().Path("home/.config"));
  }
}

TEST_F(FilesTest, LongPathNameResolvesLinks) {
  ASSERT_TRUE(platform::ForceDirectories(sb().Path("real/dir")));
  ASSERT_EQ(::symlink(sb().Path("real").c_str(), sb().Path("alias").c_str()), 0);
  std::string root = platform::LongPathName(sb().Root());
  EXPECT_EQ(platform::LongPathName(sb().Path("alias/dir")), root + "/real/dir");
  EXPECT_EQ(platform::LongPathName(sb().Path("alias/dir/")), root + "/real/dir/");
  EXPECT_EQ(platform::LongPathName(sb().Path("alias/./dir/../dir")), root + "/real/dir");
  EXPECT_EQ(platform::LongPathName(sb().Path("alias/none")), sb().Path("alias/none"));
  EXPECT_EQ(platform::LongPathName(""), "");
}

TEST_F(FilesTest, TimesAreLocalDaysSince1899) {
  testsupport::EnvGuard env;
  // Three hours east of UTC, no daylight saving.
  env.Set("TZ", "XYZ-3");
  ::tzset();
  double utcDays = 25569.0 + static_cast<double>(std::time(nullptr)) / 86400.0;
  double now = platform::NowLocal();
  EXPECT_NEAR(now - utcDays, 3.0 / 24.0, 5.0 / 86400.0);

  sb().WriteFile("fresh", "x");
  double created = 0;
  ASSERT_TRUE(platform::FileCreationTime(sb().Path("fresh"), created));
  EXPECT_NEAR(created, now, 60.0 / 86400.0);
  ASSERT_TRUE(platform::FileCreationTime(sb().Path("run"), created));
  EXPECT_FALSE(platform::FileCreationTime(sb().Path("none"), created));
  env.Set("TZ", nullptr);
  ::tzset();
}

}  // namespace

#endif  // _WIN32
