// The file-system service on Windows: write access decided by the real
// security descriptor (GetFileSecurityW + AccessCheck), file times, atomic
// replacement, masks, module and temporary paths, and the settings store's
// all-users decision that rests on them.
#include <windows.h>
#include <aclapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <thread>

#include "WinTestSupport.h"
#include "framework/CLSettings.h"
#include "platform/Locale.h"

namespace {

using V = std::vector<std::string>;

class FilesWinTest : public SandboxTest {
 protected:
  void TearDown() override {
    ReleaseCLSettings();
    SandboxTest::TearDown();
  }
};

// Gives the object a protected DACL that lets everybody read only. False
// when the file system does not keep it (Wine without stored descriptors
// answers with one made from the Unix permissions instead).
bool MakeReadOnlyForEveryone(const std::string& path) {
  SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
  PSID everyone = nullptr;
  if (!AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone))
    return false;
  EXPLICIT_ACCESSW ea = {};
  ea.grfAccessPermissions = GENERIC_READ | GENERIC_EXECUTE;
  ea.grfAccessMode = SET_ACCESS;
  ea.grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
  ea.Trustee.TrusteeForm = TRUSTEE_IS_SID;
  ea.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
  ea.Trustee.ptstrName = static_cast<LPWSTR>(everyone);
  PACL acl = nullptr;
  bool ok = SetEntriesInAclW(1, &ea, nullptr, &acl) == ERROR_SUCCESS;
  if (ok) {
    std::wstring wpath = wintest::Wide(path);
    ok = SetNamedSecurityInfoW(wpath.data(), SE_FILE_OBJECT,
                               DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                               nullptr, nullptr, acl, nullptr) == ERROR_SUCCESS;
  }
  if (acl) LocalFree(acl);
  FreeSid(everyone);
  if (!ok) return false;
  // Read it back: one entry is what was set.
  std::vector<BYTE> sd(65536);
  DWORD need = 0;
  if (!GetFileSecurityW(wintest::Wide(path).c_str(), DACL_SECURITY_INFORMATION, sd.data(),
                        static_cast<DWORD>(sd.size()), &need))
    return false;
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  GetSecurityDescriptorDacl(sd.data(), &present, &dacl, &defaulted);
  return present && dacl && dacl->AceCount == 1;
}

#define REQUIRE_KEPT_DESCRIPTOR(path)                                                 \
  if (!MakeReadOnlyForEveryone(path))                                                 \
  GTEST_SKIP() << "this file system does not keep security descriptors (Wine stores " \
                  "none here), so no folder can be made unwritable by its descriptor"

TEST_F(FilesWinTest, WriteAccessOfAnOrdinaryFolderAndAReadOnlyFile) {
  ASSERT_TRUE(platform::ForceDirectories(sb().Path("open/inner")));
  sb().WriteFile("open/file.txt", "x");
  EXPECT_TRUE(platform::CanWrite(sb().Path("open")));
  EXPECT_TRUE(platform::CanWrite(sb().Path("open/file.txt")));
  EXPECT_FALSE(platform::CanWrite(sb().Path("open/missing")));
  // A file marked read-only is not writable whatever its descriptor says.
  ASSERT_TRUE(SetFileAttributesW(wintest::Wide(sb().Path("open/file.txt")).c_str(),
                                 FILE_ATTRIBUTE_READONLY));
  EXPECT_FALSE(platform::CanWrite(sb().Path("open/file.txt")));
  SetFileAttributesW(wintest::Wide(sb().Path("open/file.txt")).c_str(), FILE_ATTRIBUTE_NORMAL);

  // A writable all-users folder is chosen for a first start.
  sb().WriteFile("app/const.dat", "[setting]\r\nApp.ConfigPath=Veilgate\r\n");
  TCLSettings* s = GetCLSettings();
  EXPECT_TRUE(s->IsAllUserPathWriteable());
  EXPECT_TRUE(s->AllUser());
  EXPECT_TRUE(platform::FileExists(sb().CommonAppData() + "\\Veilgate\\setting.dat"));
  EXPECT_EQ(wintest::ReadText(sb().AppData() + "\\Veilgate\\UserFlag.ini"),
            "[Flag]\r\nAllUsers=1\r\n\r\n");
}

TEST_F(FilesWinTest, FolderDeniedByItsDescriptorIsNotWritable) {
  ASSERT_TRUE(platform::ForceDirectories(sb().Path("locked")));
  REQUIRE_KEPT_DESCRIPTOR(sb().Path("locked"));
  EXPECT_FALSE(platform::CanWrite(sb().Path("locked")));

  // The all-users folder denied: the user's own folder is used.
  sb().WriteFile("app/const.dat", "[setting]\r\nApp.ConfigPath=Veilgate\r\n");
  ASSERT_TRUE(platform::ForceDirectories(sb().CommonAppData() + "\\Veilgate"));
  REQUIRE_KEPT_DESCRIPTOR(sb().CommonAppData() + "\\Veilgate");
  TCLSettings* s = GetCLSettings();
  EXPECT_FALSE(s->IsAllUserPathWriteable());
  EXPECT_FALSE(s->AllUser());
  EXPECT_TRUE(platform::FileExists(sb().AppData() + "\\Veilgate\\setting.dat"));
}

TEST_F(FilesWinTest, TimesAndAtomicWrites) {
  sb().WriteFile("w/file.txt", "old");
  const double now = platform::NowLocal();
  double created = 0;
  ASSERT_TRUE(platform::FileCreationTime(sb().Path("w/file.txt"), created));
  EXPECT_NEAR(created, now, 60.0 / 86400.0);
  ASSERT_TRUE(platform::FileCreationTime(sb().Path("w"), created));  // a folder
  EXPECT_NEAR(created, now, 60.0 / 86400.0);
  EXPECT_FALSE(platform::FileCreationTime(sb().Path("none"), created));
  // Local time: the value follows the machine's time zone, not UTC.
  SYSTEMTIME local;
  GetLocalTime(&local);
  EXPECT_NEAR(std::fmod(now, 1.0) * 24.0, local.wHour + local.wMinute / 60.0, 0.1);

  std::string error;
  ASSERT_TRUE(platform::WriteFileAtomic(sb().Path("w/file.txt"), std::string("n\0w", 3), &error))
      << error;
  EXPECT_EQ(sb().ReadFile("w/file.txt"), std::string("n\0w", 3));
  EXPECT_EQ(platform::ListFiles(sb().Path("w"), "*"), V{"file.txt"});
  // A folder in the way: the write fails with a reason and leaves nothing.
  ASSERT_TRUE(platform::ForceDirectories(sb().Path("w/dir.txt/inner")));
  EXPECT_FALSE(platform::WriteFileAtomic(sb().Path("w/dir.txt"), "x", &error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(platform::ListFiles(sb().Path("w"), "*"), V{"file.txt"});
  EXPECT_FALSE(platform::ReadWholeFile(sb().Path("w/missing"), error, &error));
  EXPECT_NE(error.find("missing"), std::string::npos);
}

// Windows refuses to rename over a file that another handle holds, even a
// reader that shares deletion. A reader at the moment of the rename must not
// lose the write; a holder that never lets go fails it with a reason and
// leaves the old file and no temporary behind.
TEST_F(FilesWinTest, AtomicWritesOutlastABriefReader) {
  const std::string file = sb().Path("r/file.txt");
  sb().WriteFile("r/file.txt", "old");
  auto openReader = [&] {
    return CreateFileW(wintest::Wide(file).c_str(), GENERIC_READ,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  };

  HANDLE reader = openReader();
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  std::string error;
  bool written = false;
  std::thread writer([&] { written = platform::WriteFileAtomic(file, "new", &error); });
  // The reader lets go only once the writer has its temporary file, so the
  // rename meets the open handle at least once.
  EXPECT_TRUE(
      wintest::WaitUntil([&] { return platform::ListFiles(sb().Path("r"), "*").size() > 1; }, 10000,
                         1));
  Sleep(50);
  CloseHandle(reader);
  writer.join();
  EXPECT_TRUE(written) << error;
  EXPECT_EQ(sb().ReadFile("r/file.txt"), "new");
  EXPECT_EQ(platform::ListFiles(sb().Path("r"), "*"), V{"file.txt"});

  reader = openReader();
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(platform::WriteFileAtomic(file, "lost", &error));
  CloseHandle(reader);
  EXPECT_NE(error.find("file.txt"), std::string::npos) << error;
  EXPECT_EQ(sb().ReadFile("r/file.txt"), "new");
  EXPECT_EQ(platform::ListFiles(sb().Path("r"), "*"), V{"file.txt"});
}

TEST_F(FilesWinTest, PathsMasksAndText) {
  EXPECT_EQ(platform::PathSeparator(), '\\');
  EXPECT_TRUE(platform::IsAbsolutePath("C:\\x"));
  EXPECT_TRUE(platform::IsAbsolutePath("\\\\server\\share"));
  EXPECT_FALSE(platform::IsAbsolutePath("x\\y"));
  EXPECT_EQ(platform::ModuleFileName(), sb().AppExe());
  platform::SetModuleFileNameOverride("");
  EXPECT_NE(platform::ModuleFileName().find("test_win32.exe"), std::string::npos);
  platform::SetModuleFileNameOverride(sb().AppExe());
  EXPECT_EQ(platform::TempPath(), sb().Path("tmp") + "\\");

  for (const char* name : {"one.txt", "Two.TXT", "three.log", "a.txt.bak", "noext"})
    sb().WriteFile(std::string("list/") + name, "");
  ASSERT_TRUE(platform::ForceDirectories(sb().Path("list/folder.txt")));
  V txt = platform::ListFiles(sb().Path("list"), "*.TXT");
  std::sort(txt.begin(), txt.end());
  EXPECT_EQ(txt, (V{"Two.TXT", "one.txt"}));
  EXPECT_EQ(platform::ListFiles(sb().Path("list"), "*.*").size(), 5u);

  // Long-name form of a short 8.3 name, where the file system has them.
  sb().WriteFile("Long Folder Name/file.txt", "");
  wchar_t shortName[MAX_PATH];
  if (GetShortPathNameW(wintest::Wide(sb().Path("Long Folder Name")).c_str(), shortName,
                        MAX_PATH)) {
    std::string s(shortName, shortName + wcslen(shortName));
    EXPECT_EQ(platform::LongPathName(s), platform::LongPathName(sb().Path("Long Folder Name")));
  }
  EXPECT_EQ(platform::LongPathName(sb().Path("nothing here")), sb().Path("nothing here"));

  // Text in the ANSI code page (1252 for English): one byte per letter.
  EXPECT_EQ(platform::Utf8ToAnsi("caf\xC3\xA9 \xE4\xB8\xAD"), "caf\xE9 ?");
  EXPECT_EQ(platform::AnsiToUtf8("caf\xE9"), "caf\xC3\xA9");
  EXPECT_EQ(platform::LanguageName(0x0804), "Chinese (Simplified, PRC)");
  EXPECT_EQ(platform::SystemDefaultLangId(), GetSystemDefaultLangID());
}

}  // namespace
