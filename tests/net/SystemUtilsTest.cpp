// Utility functions that reach files, the registry, processes and the
// locale, each inside the test sandbox.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <cstdlib>
#include <filesystem>
#include <set>

#include "net/CLUtils.h"
#include "platform/Files.h"
#include "platform/Process.h"
#include "platform/System.h"
#include "support/EnvGuard.h"
#include "support/Sandbox.h"

namespace fs = std::filesystem;

namespace {

using ScopedEnv = testsupport::EnvGuard;

class UtilsSandboxTest : public SandboxTest {
 protected:
  // A shell script that writes its working folder and one argument per line
  // to outFile (through a temporary file, so a reader never sees half).
  std::string MakeRecorder(const std::string& rel, const std::string& outFile,
                           const std::string& before = "") {
    sb().WriteFile(rel, "#!/bin/sh\n" + before +
                            "{ pwd; for a in \"$@\"; do printf '%s\\n' \"$a\"; done; } > '" +
                            outFile + ".tmp' && mv '" + outFile + ".tmp' '" + outFile + "'\n");
    fs::permissions(sb().Path(rel), fs::perms::owner_all);
    return sb().Path(rel);
  }
  // Waits up to ten seconds for a file another process writes.
  std::string WaitForFile(const std::string& path) {
    for (int i = 0; i < 500 && !platform::FileExists(path); ++i) platform::SleepMs(20);
    std::string bytes;
    platform::ReadWholeFile(path, bytes);
    return bytes;
  }
  // The recorded arguments, without the working folder on the first line.
  static std::string ArgsOf(const std::string& recorded) {
    size_t nl = recorded.find('\n');
    return nl == std::string::npos ? std::string() : recorded.substr(nl + 1);
  }
};

#ifndef _WIN32  // shell scripts, XDG folders and locale variables
TEST_F(UtilsSandboxTest, ApplicationAndTemporaryFolders) {
  EXPECT_EQ(GetModulePath(), sb().AppExe());
  EXPECT_EQ(GetAppPath(), sb().AppDir());
  EXPECT_EQ(GetAppPathNoSlash(), sb().Path("app"));
  EXPECT_EQ(GetTempDir(), sb().Path("tmp") + "/");
  // The long-name form: a program reached through a linked folder is found
  // in its real folder, where its data files are.
  sb().WriteFile("app/veilgate", "");
  fs::create_directory_symlink(sb().Path("app"), sb().Path("link"));
  platform::SetModuleFileNameOverride(sb().Path("link/veilgate"));
  EXPECT_EQ(GetAppPath(), sb().AppDir());
  EXPECT_EQ(GetLongPath(sb().Path("link/missing/x")), sb().Path("link/missing/x"));
}
#endif

TEST_F(UtilsSandboxTest, MakeTempFileNameNeverReturnsAnExistingName) {
  const std::string dir = sb().Path("tmp/");
  std::set<std::string> made;
  // With thousands of names taken out of about a million, a generator that
  // did not check for existing files would hand one out again.
  for (int i = 0; i < 3000; ++i) {
    std::string name = MakeTempFileName(dir, "vg", "tmp");
    ASSERT_FALSE(platform::PathExists(name)) << name;
    ASSERT_TRUE(made.insert(name).second);
    ASSERT_TRUE(platform::WriteWholeFile(name, ""));
    std::string file = ExtractFileName(name);
    ASSERT_TRUE(StartsWithText(file, "vg") && file.size() > 6 &&
                file.substr(file.size() - 4) == ".tmp")
        << file;
    std::string hex = file.substr(2, file.size() - 6);
    ASSERT_TRUE(hex.size() <= 5 && (hex == "0" || hex[0] != '0')) << file;
    ASSERT_EQ(hex.find_first_not_of("0123456789ABCDEF"), std::string::npos) << file;
    ASSERT_LE(std::stoul(hex, nullptr, 16), 0xFFFFEul) << file;
  }
  EXPECT_EQ(ExtractFileDir(*made.begin()), sb().Path("tmp"));
}

TEST_F(UtilsSandboxTest, ListFilesAppendsMatchingFilesOnly) {
  sb().WriteFile("lang/English.lan", "x");
  sb().WriteFile("lang/german.LAN", "x");
  sb().WriteFile("lang/notes.txt", "x");
  fs::create_directory(sb().Path("lang/folder.lan"));
  TStringList l(std::vector<std::string>{"keep"});
  ListFiles(sb().Path("lang/*.lan"), &l, false);
  std::set<std::string> names(l.Lines().begin() + 1, l.Lines().end());
  EXPECT_EQ(l[0], "keep");
  EXPECT_EQ(names, (std::set<std::string>{"English.lan", "german.LAN"}));
  TStringList full;
  ListFiles(sb().Path("lang/E*"), &full, true);
  EXPECT_EQ(full.Lines(), std::vector<std::string>{sb().Path("lang/English.lan")});
  TStringList none;
  ListFiles(sb().Path("missing/*"), &none, true);
  EXPECT_TRUE(none.Empty());
}

TEST_F(UtilsSandboxTest, SaveTextToFileWritesOneBytePerCharacter) {
  sb().WriteFile("out.txt", "a much longer old content");
  ASSERT_TRUE(SaveTextToFile("A\xC3\xA9\xE2\x82\xAC\r\n", sb().Path("out.txt")));
  EXPECT_EQ(sb().ReadFile("out.txt"), "A\xE9\xAC\r\n");
  EXPECT_FALSE(SaveTextToFile("x", sb().Path("no/such/folder/out.txt")));
  EXPECT_FALSE(sb().Exists("no"));
}

TEST_F(UtilsSandboxTest, FileTimesAccessAndVolume) {
  sb().WriteFile("f.txt", "x");
  double created = 0;
  ASSERT_TRUE(GetFileCreationTime(sb().Path("f.txt"), created));
  EXPECT_NEAR(created, platform::NowLocal(), 60.0 / 86400);
  ASSERT_TRUE(GetFileCreationTime(sb().Path("app"), created));  // folders too
  EXPECT_FALSE(GetFileCreationTime(sb().Path("missing"), created));

  EXPECT_TRUE(HasFileAccess(false, sb().Path("f.txt")));
  EXPECT_TRUE(HasFileAccess(true, sb().Path("f.txt")));
  EXPECT_TRUE(HasFileAccess(false, sb().Path("app")));
  EXPECT_FALSE(HasFileAccess(false, sb().Path("missing")));
  EXPECT_FALSE(HasFileAccess(true, sb().Path("missing")));
#ifndef _WIN32
  if (geteuid() != 0) {  // root passes every permission check
    fs::permissions(sb().Path("f.txt"), fs::perms::owner_read, fs::perm_options::replace);
    EXPECT_FALSE(HasFileAccess(true, sb().Path("f.txt")));
    fs::permissions(sb().Path("f.txt"), fs::perms::owner_write, fs::perm_options::replace);
    EXPECT_FALSE(HasFileAccess(false, sb().Path("f.txt")));
  }
#endif

  std::string id = GetVolumeIdHex(sb().Root());
  ASSERT_EQ(id.size(), 16u) << id;
  EXPECT_EQ(id.find_first_not_of("0123456789ABCDEF"), std::string::npos) << id;
  EXPECT_EQ(id.substr(0, 8), "00000000");
  EXPECT_EQ(GetVolumeIdHex(sb().Path("app")), id);  // same volume, same number
#ifndef _WIN32
  EXPECT_EQ(GetVolumeIdHex(sb().Path("missing/dir")), "");
#endif
}

TEST_F(UtilsSandboxTest, RegistryWrappersAndShellFolders) {
  const auto HKCU = RegRoot::CurrentUser;
  EXPECT_EQ(::RegReadString(HKCU, "Software\\VG", "Missing", "dflt"), "dflt");
  ASSERT_TRUE(::RegWriteString(HKCU, "Software\\VG\\Deep", "Name", "value"));
  EXPECT_EQ(::RegReadString(HKCU, "software\\vg\\deep", "name", "dflt"), "value");
  EXPECT_TRUE(::RegDeleteValue(HKCU, "Software\\VG\\Deep", "Name"));
  EXPECT_FALSE(::RegDeleteValue(HKCU, "Software\\VG\\Deep", "Name"));
  EXPECT_EQ(::RegReadString(HKCU, "Software\\VG\\Deep", "Name", "dflt"), "dflt");

  // Neither root names "AppData": the platform's own folder.
  EXPECT_EQ(GetShellFolder("AppData"), platform::DefaultShellFolder("AppData"));
  EXPECT_FALSE(GetShellFolder("AppData").empty());
  // The all-users folder comes from the local machine's key.
  EXPECT_EQ(GetShellFolder("Common AppData"), sb().CommonAppData());
  // The current user's value wins; an empty one falls through.
  ::RegWriteString(HKCU, kShellFoldersKey, "Common AppData", "");
  EXPECT_EQ(GetShellFolder("Common AppData"), sb().CommonAppData());
  ::RegWriteString(HKCU, kShellFoldersKey, "Common AppData", sb().Path("mine"));
  EXPECT_EQ(GetShellFolder("common appdata"), sb().Path("mine"));
}

#ifndef _WIN32  // shell scripts, XDG folders and locale variables
TEST_F(UtilsSandboxTest, SetAutoRunWritesAndRemovesTheEntry) {
  const std::string desktop = sb().AppData() + "/autostart/Veilgate.desktop";
  SetAutoRun(true, "Veilgate", sb().AppExe());
  EXPECT_EQ(platform::GetAutoRunEntry("Veilgate"), sb().AppExe());
  EXPECT_TRUE(platform::FileExists(desktop));
  SetAutoRun(false, "Veilgate", sb().AppExe());
  EXPECT_EQ(platform::GetAutoRunEntry("Veilgate"), "");
  EXPECT_FALSE(platform::FileExists(desktop));
  SetAutoRun(false, "Veilgate", "");  // removing again is harmless
}
#endif

#ifndef _WIN32  // shell scripts, XDG folders and locale variables
TEST_F(UtilsSandboxTest, OpenURLInBrowserRunsTheRegisteredCommand) {
  const std::string out = sb().Path("argv.txt");
  const std::string browser = MakeRecorder("bin/browser", out);
  const std::string key = "HTTP\\shell\\open\\command";
  const std::string url = "http://example.test/a?b=1&c=d e";
  const std::string sent = "http://example.test/a?b=1&c=d%20e";  // the space encoded

  ::RegWriteString(RegRoot::ClassesRoot, key, "", "\"" + browser + "\" -osint -url \"%1\"");
  ASSERT_TRUE(OpenURLInBrowser(url));
  EXPECT_EQ(ArgsOf(WaitForFile(out)), "-osint\n-url\n" + sent + "\n");
  fs::remove(out);

  // Without "%1" the address is appended in quotes.
  ::RegWriteString(RegRoot::ClassesRoot, key, "", "\"" + browser + "\" --new");
  ASSERT_TRUE(OpenURLInBrowser(url));
  EXPECT_EQ(ArgsOf(WaitForFile(out)), "--new\n" + sent + "\n");
  fs::remove(out);

  // A quote in the address cannot close the argument and add others.
  ::RegWriteString(RegRoot::ClassesRoot, key, "", "\"" + browser + "\" \"%1\"");
  ASSERT_TRUE(OpenURLInBrowser("http://x/\" --evil \"y"));
  EXPECT_EQ(ArgsOf(WaitForFile(out)), "http://x/%22%20--evil%20%22y\n");
  fs::remove(out);

  ::RegWriteString(RegRoot::ClassesRoot, key, "", "\"" + sb().Path("bin/missing") + "\" %1");
  EXPECT_FALSE(OpenURLInBrowser(url));

  // No registered command: the desktop opens it (xdg-open from PATH).
  ::RegWriteString(RegRoot::ClassesRoot, key, "", "");
  MakeRecorder("fakebin/xdg-open", out);
  ScopedEnv path("PATH", sb().Path("fakebin") + ":" + std::getenv("PATH"));
  EXPECT_TRUE(OpenURLInBrowser(url));
  EXPECT_EQ(ArgsOf(WaitForFile(out)), sent + "\n");
}
#endif

#ifndef _WIN32  // shell scripts, XDG folders and locale variables
TEST_F(UtilsSandboxTest, RunProcessStartsInTheProgramFolderAndWaits) {
  const std::string out = sb().Path("run.txt");
  MakeRecorder("app/tools/tool", out);
  // A relative program is found next to the executable and runs in its folder.
  ASSERT_TRUE(RunProcess("tools/tool", "one \"two words\"", true, -1, true));
  EXPECT_EQ(sb().ReadFile("run.txt"), sb().Path("app/tools") + "\none\ntwo words\n");
  fs::remove(out);

  // Without a program the parameters are the whole command line.
  ASSERT_TRUE(RunProcess("", "\"" + sb().Path("app/tools/tool") + "\" x", false, 5000, true));
  EXPECT_EQ(ArgsOf(sb().ReadFile("run.txt")), "x\n");
  fs::remove(out);

  EXPECT_FALSE(RunProcess("tools/missing", "", false, -1, true));

  // A wait with a timeout gives up while the program still runs.
  MakeRecorder("app/slow", out, "exec 2>/dev/null\nsleep 3\n");
  ASSERT_TRUE(RunProcess("slow", "", false, 100, true));
  EXPECT_FALSE(platform::FileExists(out));
}
#endif

#ifndef _WIN32  // shell scripts, XDG folders and locale variables
TEST_F(UtilsSandboxTest, SingleInstanceAndSystemLanguage) {
  EXPECT_TRUE(CheckSingleInstance("Global\\{VG-TEST}"));
  EXPECT_FALSE(CheckSingleInstance("Global\\{VG-TEST}"));
  EXPECT_TRUE(CheckSingleInstance("Global\\{VG-OTHER}"));
  {
    // When the mutex cannot be made at all, the program still runs.
    sb().WriteFile("not-a-folder", "x");
    ScopedEnv run("XDG_RUNTIME_DIR", sb().Path("not-a-folder"));
    EXPECT_TRUE(CheckSingleInstance("Global\\{VG-FAILS}"));
  }

  ScopedEnv lang("LC_ALL", "de_DE.UTF-8");
  EXPECT_EQ(GetSystemLanguageName(), "German (Germany)");
  // The name is cut to the 49 characters the system's buffer holds.
  ScopedEnv mk("LC_ALL", "mk_MK.UTF-8");
  EXPECT_EQ(GetSystemLanguageName(), "Macedonian (Former Yugoslav Republic of Macedonia");
}
#endif

}  // namespace
