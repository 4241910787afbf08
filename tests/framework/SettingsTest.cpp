#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <vector>

#include "SettingsTestHelpers.h"

namespace fs = std::filesystem;

namespace {

TEST_F(SettingsStoreTest, FirstAndSecondStart) {
  const std::string flagFile = CurrentUserFolder() + "UserFlag.ini";
  {
    TCLSettings s;
    // The all-users folder is writable here, so the flag says so and sticks.
    EXPECT_EQ(OnDisk(flagFile, "Flag", "AllUsers"), "1");
    EXPECT_TRUE(s.AllUser());
    EXPECT_TRUE(SamePath(s.UserDataPath(), AllUsersFolder()));
    EXPECT_EQ(s.UserDataPath().back(), platform::PathSeparator());
    EXPECT_EQ(s.RunTimes(), 0);
    EXPECT_EQ(Slurp(s.SettingFilePath()), "[setting]\r\nRunTimes=1\r\n\r\n");
    EXPECT_TRUE(SamePath(s.ConstDataPath(), sb().AppDir()));
    EXPECT_EQ(s.ConfigPathWord(), WordOf(sb().AppExe()));

    // Moving to the current user's folder creates its user file with one space.
    s.SetAllUser(false);
    EXPECT_FALSE(s.AllUser());
    EXPECT_TRUE(SamePath(s.UserDataPath(), CurrentUserFolder()));
    EXPECT_EQ(Slurp(CurrentUserFolder() + "setting.dat"), " ");
    EXPECT_EQ(s.GetSettingString("RunTimes"), "");
  }
  TCLSettings second;
  EXPECT_TRUE(second.AllUser());
  EXPECT_EQ(second.RunTimes(), 1);
  EXPECT_EQ(OnDisk(second.SettingFilePath(), "setting", "RunTimes"), "2");
}

TEST_F(SettingsStoreTest, NoAllUserKeepsTheUserFlagUntouched) {
  Put(sb().AppDir() + "const.dat", "[setting]\nSetting.NoAllUser=1\n");
  const std::string flagFile = CurrentUserFolder() + "UserFlag.ini";
  Put(flagFile, "[Flag]\r\nAllUsers=1\r\n");
  fs::last_write_time(flagFile, fs::file_time_type::clock::now() - std::chrono::hours(1));
  const auto stamp = fs::last_write_time(flagFile);

  TCLSettings s;
  EXPECT_FALSE(s.AllUser());
  EXPECT_TRUE(SamePath(s.UserDataPath(), CurrentUserFolder()));
  EXPECT_EQ(OnDisk(CurrentUserFolder() + "setting.dat", "setting", "RunTimes"), "1");
  EXPECT_EQ(Slurp(flagFile), "[Flag]\r\nAllUsers=1\r\n");
  EXPECT_EQ(fs::last_write_time(flagFile), stamp);
  // The all-users folder was not even probed.
  EXPECT_FALSE(fs::exists(AllUsersFolder()));
}

TEST_F(SettingsStoreTest, AllUsersDecisionSticks) {
  // The all-users location lies below a plain file: it cannot be created.
  Put(sb().Path("blocker"), "x");
  platform::RegWriteString(platform::RegRoot::LocalMachine, kShellFoldersKey, "Common AppData",
                           sb().Path("blocker/common"));
  const std::string flagFile = CurrentUserFolder() + "UserFlag.ini";
  {
    TCLSettings s;
    EXPECT_FALSE(s.IsAllUserPathWriteable());
    EXPECT_FALSE(s.AllUser());
    EXPECT_EQ(OnDisk(flagFile, "Flag", "AllUsers"), "0");
    EXPECT_TRUE(SamePath(s.UserDataPath(), CurrentUserFolder()));
  }
  // The all-users folder becomes usable: a user whose flag is false stays.
  platform::RegWriteString(platform::RegRoot::LocalMachine, kShellFoldersKey, "Common AppData",
                           sb().CommonAppData());
  {
    TCLSettings s;
    EXPECT_TRUE(s.IsAllUserPathWriteable());
    EXPECT_FALSE(s.AllUser());
    EXPECT_EQ(s.RunTimes(), 1);
  }
  // A true flag whose folder cannot be written is turned false.
  Put(flagFile, "[Flag]\r\nAllUsers=1\r\n");
  platform::RegWriteString(platform::RegRoot::LocalMachine, kShellFoldersKey, "Common AppData",
                           sb().Path("blocker/common"));
  TCLSettings s;
  EXPECT_FALSE(s.AllUser());
  EXPECT_EQ(OnDisk(flagFile, "Flag", "AllUsers"), "0");
  EXPECT_EQ(s.RunTimes(), 2);

  // The flag operations on their own.
  EXPECT_TRUE(s.IsAllUserFlagExists());
  s.SetAllUserFlag(true);
  EXPECT_TRUE(s.GetAllUserFlag());
  fs::remove(flagFile);
  EXPECT_FALSE(s.IsAllUserFlagExists());
  EXPECT_TRUE(s.GetAllUserFlag());  // default when absent
}

TEST_F(SettingsStoreTest, LayersAnswerInOrder) {
  FakeSettingsEngine engine;
  Put(sb().AppDir() + "const.dat",
      "[setting]\nAll=const\nConstOem=const\nConstDef=const\nEmptyOem=const\n"
      "OnlyConst=c\n[other]\nOnlyOther=x\n");
  Put(sb().AppDir() + "oem.const.dat", "[setting]\nAll=oem\nConstOem=oem\nEmptyOem=\n");
  Put(AllUsersFolder() + "setting.dat", "[setting]\nAll=user\nUserDef=user\n");
  engine.Override["all"] = "override";
  engine.Default["all"] = "default";
  engine.Default["constdef"] = "default";
  engine.Default["userdef"] = "default";
  engine.Default["onlydefault"] = "d";
  engine.Default["emptyoem"] = "default";

  TCLSettings s;
  EXPECT_EQ(s.GetSettingString("ALL"), "override");
  EXPECT_EQ(s.GetSettingString("userdef"), "user");
  EXPECT_EQ(s.GetSettingString("ConstOem"), "oem");
  EXPECT_EQ(s.GetSettingString("ConstDef"), "const");
  EXPECT_EQ(s.GetSettingString("OnlyDefault"), "d");
  // Present but empty hides every layer below it.
  EXPECT_EQ(s.GetSettingString("EmptyOem"), "");
  EXPECT_TRUE(s.GetSettingExists("EmptyOem"));
  // Only the section "setting" of the files counts.
  EXPECT_EQ(s.GetSettingString("OnlyOther"), "");
  EXPECT_FALSE(s.GetSettingExists("OnlyOther"));
  EXPECT_FALSE(s.GetSettingExists("Nowhere"));

  // A written value hides the supplied one; the override cannot be changed.
  s.SetSettingstring("OnlyConst", "mine");
  EXPECT_EQ(s.GetSettingString("OnlyConst"), "mine");
  s.SetSettingstring("All", "mine");
  EXPECT_EQ(s.GetSettingString("All"), "override");
  engine.Override.clear();
  EXPECT_EQ(s.GetSettingString("All"), "mine");

  // Without an engine the lists are simply not asked.
  UnregisterSettingsEngine(&engine);
  EXPECT_EQ(s.GetSettingString("OnlyDefault"), "");
  RegisterSettingsEngine(&engine);
  EXPECT_EQ(s.GetSettingString("OnlyDefault"), "d");
}

TEST_F(SettingsStoreTest, FirstRegisteredEngineAnswers) {
  auto first = std::make_unique<FakeSettingsEngine>();
  FakeSettingsEngine second;
  first->Override["who"] = "first";
  second.Override["who"] = "second";
  TCLSettings s;
  EXPECT_EQ(s.GetSettingString("Who"), "first");
  first.reset();
  EXPECT_EQ(s.GetSettingString("Who"), "second");
}

TEST_F(SettingsStoreTest, ConfigurationWordSeparatesInstallations) {
  TCLSettings a;
  a.SetSettingstring("Where", "first installation");

  platform::SetModuleFileNameOverride(sb().Path("other/place/veilgate"));
  TCLSettings b;
  EXPECT_EQ(b.ConfigPathWord(), WordOf(sb().Path("other/place/veilgate")));
  EXPECT_FALSE(SamePath(a.SettingFilePath(), b.SettingFilePath()));
  EXPECT_EQ(b.GetSettingString("Where"), "");
  EXPECT_EQ(b.RunTimes(), 0);

  // "App.ConfigPath" fixes the word, so a moved installation keeps its data.
  Put(sb().Path("other/place/const.dat"), "[setting]\nApp.ConfigPath=Veilgate\n");
  TCLSettings c;
  EXPECT_EQ(c.ConfigPathWord(), "Veilgate");
  EXPECT_TRUE(
      SamePath(c.UserDataPath(), sb().CommonAppData() + kSandboxSep + "Veilgate" + kSandboxSep));
}

TEST_F(SettingsStoreTest, TypedValues) {
  Put(AllUsersFolder() + "setting.dat",
      "[setting]\nWordTrue=true\nOne=1\nMinus=-1\nHex=$10\nHex0x=0x1F\nYes=yes\n"
      "Rect3=1,2,3\nRect5=1,2,3,4,5\nRectHex=$10,-2,3,4\n");
  TCLSettings s;
  EXPECT_FALSE(s.GetSettingBool("WordTrue"));
  EXPECT_FALSE(s.GetSettingBool("Yes"));
  EXPECT_FALSE(s.GetSettingBool("Missing"));
  EXPECT_TRUE(s.GetSettingBool("One"));
  EXPECT_TRUE(s.GetSettingBool("Minus"));
  EXPECT_TRUE(s.GetSettingBool("Hex"));
  EXPECT_EQ(s.GetSettingInteger("Hex0x"), 31);
  EXPECT_EQ(s.GetSettingInteger("WordTrue"), 0);

  s.SetSettingInteger("Int", -42);
  s.SetSettingBool("BoolT", true);
  s.SetSettingBool("BoolF", false);
  EXPECT_EQ(OnDisk(s.SettingFilePath(), "setting", "Int"), "-42");
  EXPECT_EQ(OnDisk(s.SettingFilePath(), "setting", "BoolT"), "1");
  EXPECT_EQ(OnDisk(s.SettingFilePath(), "setting", "BoolF"), "0");
  EXPECT_EQ(s.GetSettingInteger("Int"), -42);

  // Rectangles: only four pieces fill the caller's rectangle.
  const TRect mark{7, 7, 7, 7};
  TRect r = mark;
  s.GetSettingRect("Rect3", r);
  EXPECT_EQ(r, mark);
  s.GetSettingRect("Rect5", r);
  EXPECT_EQ(r, mark);
  s.GetSettingRect("Missing", r);
  EXPECT_EQ(r, mark);
  s.GetSettingRect("RectHex", r);
  EXPECT_EQ(r, (TRect{16, -2, 3, 4}));
  s.SetSettingRect("Window", TRect{10, 20, 300, 400});
  EXPECT_EQ(OnDisk(s.SettingFilePath(), "setting", "Window"), "10,20,300,400");
  r = mark;
  s.GetSettingRect("Window", r);
  EXPECT_EQ(r, (TRect{10, 20, 300, 400}));
}

TEST_F(SettingsStoreTest, FloatsFollowTheLocaleSeparator) {
  TCLSettings s;
  platform::SetDecimalSeparatorOverride(',');
  s.SetSettingFloat("Update.LastDate", 45000.25);
  EXPECT_EQ(OnDisk(s.SettingFilePath(), "setting", "Update.LastDate"), "45000,25");
  EXPECT_DOUBLE_EQ(s.GetSettingFloat("Update.LastDate"), 45000.25);
  s.SetSettingFloat("Third", 1.0 / 3.0);
  EXPECT_EQ(s.GetSettingString("Third"), "0,333333333333333");

  // Written under "," and read under ".": not a number, so 0.
  platform::SetDecimalSeparatorOverride('.');
  EXPECT_EQ(s.GetSettingFloat("Update.LastDate"), 0.0);
  s.SetSettingFloat("Dot", -0.5);
  EXPECT_EQ(s.GetSettingString("Dot"), "-0.5");
  EXPECT_EQ(s.GetSettingFloat("Dot"), -0.5);
  EXPECT_EQ(s.GetSettingFloat("Missing"), 0.0);
}

TEST_F(SettingsStoreTest, RunTimesWithLettersStartsOver) {
  Put(AllUsersFolder() + "setting.dat", "[setting]\nRunTimes=abc\n");
  TCLSettings s;
  EXPECT_EQ(s.RunTimes(), 0);
  EXPECT_EQ(OnDisk(s.SettingFilePath(), "setting", "RunTimes"), "1");
}

TEST_F(SettingsStoreTest, ShowAgainMemory) {
  {
    TCLSettings s;
    EXPECT_TRUE(s.GetMessageShowAgainFlag(5));
    EXPECT_EQ(s.GetMessageShowAgainResult(5), 1);
    s.SetMessageShowAgainFlag(5, false);
    s.SetMessageShowAgainResult(5, 7);
    s.SetMessageShowAgainFlag(6, true);
  }
  TCLSettings s;
  EXPECT_FALSE(s.GetMessageShowAgainFlag(5));
  EXPECT_EQ(s.GetMessageShowAgainResult(5), 7);
  EXPECT_TRUE(s.GetMessageShowAgainFlag(6));
  EXPECT_EQ(OnDisk(s.SettingFilePath(), "ShowAgain", "5"), "0");
  EXPECT_EQ(OnDisk(s.SettingFilePath(), "ShowAgainModuleResult", "5"), "7");

  s.ClearShowAgainFlag();
  EXPECT_TRUE(s.GetMessageShowAgainFlag(5));
  EXPECT_EQ(s.GetMessageShowAgainResult(5), 1);
  const std::string text = Slurp(s.SettingFilePath());
  EXPECT_EQ(text.find("ShowAgain"), std::string::npos) << text;
  EXPECT_EQ(OnDisk(s.SettingFilePath(), "setting", "RunTimes"), "2");
}

TEST_F(SettingsStoreTest, BatchedWritesReachTheFileAtEndUpdate) {
  TCLSettings s;
  const std::string path = s.SettingFilePath();
  const std::string before = Slurp(path);
  s.BeginUpdate();
  for (int i = 0; i < 20; ++i) s.SetSettingInteger("Batch" + std::to_string(i), i);
  s.SetMessageShowAgainFlag(3, false);
  s.ClearShowAgainFlag();
  s.SetMessageShowAgainResult(4, 2);
  EXPECT_EQ(Slurp(path), before);
  EXPECT_EQ(s.GetSettingInteger("Batch19"), 19);  // visible in memory
  s.EndUpdate();
  EXPECT_EQ(OnDisk(path, "setting", "Batch0"), "0");
  EXPECT_EQ(OnDisk(path, "setting", "Batch19"), "19");
  EXPECT_EQ(OnDisk(path, "ShowAgainModuleResult", "4"), "2");

  // Destroying the store writes nothing, so an open batch is dropped.
  {
    TCLSettings t;
    t.BeginUpdate();
    t.SetSettingstring("Unsaved", "x");
  }
  EXPECT_EQ(OnDisk(path, "setting", "Unsaved"), "<absent>");
}

TEST_F(SettingsStoreTest, NoCacheRereadsTheUserFile) {
  TCLSettings s;
  TCLSettings other;  // a second writer of the same file
  other.SetSettingstring("Shared", "from other");
  EXPECT_EQ(s.GetSettingString("Shared"), "");

  s.SetNoCache(true);
  EXPECT_TRUE(s.NoCache());
  EXPECT_EQ(s.GetSettingString("Shared"), "from other");
  s.BeginUpdate();
  s.SetSettingstring("Local", "unsaved");
  EXPECT_EQ(s.GetSettingString("Local"), "");  // the re-read dropped it
  s.SetNoCache(false);
}

TEST_F(SettingsStoreTest, MissesAreLoggedOnlyInDebugMode) {
  std::vector<std::pair<std::string, std::string>> lines;
  int sink = CLDebugLog::AddSink(
      [&](const std::string& tag, const std::string& line) { lines.emplace_back(tag, line); });
  TCLSettings s;
  lines.clear();
  s.GetSettingString("Quiet.Miss");
  EXPECT_TRUE(lines.empty());
  CLDebugLog::SetActive(true);
  s.GetSettingString("Loud.Miss");
  s.SetSettingstring("Present", "1");
  s.GetSettingString("Present");
  s.GetSettingExists("Exists.Miss");  // a probe, not a read
  CLDebugLog::SetActive(false);
  CLDebugLog::RemoveSink(sink);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].first, "CLSettings");
  EXPECT_EQ(lines[0].second, "Setting Not Found :Loud.Miss");
}

TEST_F(SettingsStoreTest, ScrambledValuesReadBackExactly) {
  TCLSettings s;
  const std::vector<std::string> values = {"password",
                                           "",
                                           " lead and trail ",
                                           "Grüße 日本 \xF0\x9F\x98\x80",
                                           std::string("\x01\x7F\xFF", 3),
                                           std::string(100, 'a')};
  for (const std::string& v : values) {
    s.SetSettingsecString("Secret", v);
    const std::string stored = OnDisk(s.SettingFilePath(), "setting", "Secret");
    EXPECT_EQ(stored.size(), v.size() * 2);
    EXPECT_EQ(stored.find_first_not_of("0123456789ABCDEF"), std::string::npos) << stored;
    if (!v.empty()) {
      EXPECT_NE(stored, v);
    }
    TCLSettings fresh;
    EXPECT_EQ(fresh.GetSettingsecString("Secret"), v);
  }
  // Equal characters at different positions are stored differently.
  const std::string enc = s.EncodeSecString("aaaaaaaa");
  EXPECT_NE(enc.substr(0, 2), enc.substr(2, 2));
  // A pair that is not hexadecimal reads as the number 32.
  EXPECT_EQ(s.DecodeSecString("ZZ"), s.DecodeSecString("20"));
  EXPECT_EQ(s.DecodeSecString("zz" + s.EncodeSecString("ab").substr(2)).substr(1), "b");
}

TEST_F(SettingsStoreTest, RunDaysOfFreshFoldersIsZero) {
  TCLSettings s;
  EXPECT_EQ(s.GetRunDays(), 0);
}

TEST_F(SettingsStoreTest, LanguageStringsComeStraightFromTheFile) {
  TCLSettings s;
  EXPECT_EQ(s.SlowGetLanguageString("AppRes", "AppName", "dflt"), "dflt");  // no file yet
  Put(sb().AppDir() + "lang/English.lan", "[AppRes]\r\nAppName=Veilgate\r\nEmpty=\r\n");
  Put(sb().AppDir() + "lang/German.lan", "[AppRes]\r\nAppName=Schleier\r\n");
  Put(sb().AppDir() + "texts/French.lan", "[AppRes]\r\nAppName=Voile\r\n");
  EXPECT_EQ(s.SlowGetLanguageString("appres", "appname", "dflt"), "Veilgate");
  EXPECT_EQ(s.SlowGetLanguageString("AppRes", "Missing", "dflt"), "dflt");
  EXPECT_EQ(s.SlowGetLanguageString("AppRes", "Empty", "dflt"), "");
  s.SetSettingstring("Language", "German");
  EXPECT_EQ(s.SlowGetLanguageString("AppRes", "AppName", "dflt"), "Schleier");
  s.SetSettingstring("Language.Force", "English");
  EXPECT_EQ(s.SlowGetLanguageString("AppRes", "AppName", "dflt"), "Veilgate");
  // Opened on every call: a change on disk is seen at once.
  Put(sb().AppDir() + "lang/English.lan", "[AppRes]\r\nAppName=Changed\r\n");
  EXPECT_EQ(s.SlowGetLanguageString("AppRes", "AppName", "dflt"), "Changed");
  // The folder is named by "Path.Languages".
  s.SetSettingstring("Path.Languages", "texts");
  s.SetSettingstring("Language.Force", "French");
  EXPECT_EQ(s.SlowGetLanguageString("AppRes", "AppName", "dflt"), "Voile");
}

TEST_F(SettingsStoreTest, AccessorCreatesOnceAndReleases) {
  TCLSettings* a = GetCLSettings();
  EXPECT_EQ(GetCLSettings("ignored.dat"), a);
  EXPECT_EQ(a->SettingFilename(), "setting.dat");
  EXPECT_EQ(a->RunTimes(), 0);
  ReleaseCLSettings();
  TCLSettings* b = GetCLSettings();
  EXPECT_EQ(b->RunTimes(), 1);  // a fresh store runs the counter again
  ReleaseCLSettings();

  // A given name replaces both the user file and the supplied file.
  Put(sb().AppDir() + "my.ini", "[setting]\nFrom=const\n");
  Put(sb().AppDir() + "oem.my.ini", "[setting]\nFrom=oem\n");
  TCLSettings* c = GetCLSettings("my.ini");
  EXPECT_EQ(c->GetSettingString("From"), "oem");
  EXPECT_EQ(OnDisk(c->UserDataPath() + "my.ini", "setting", "RunTimes"), "1");
  // The default user file of the stores before is left alone.
  EXPECT_EQ(OnDisk(c->UserDataPath() + "setting.dat", "setting", "RunTimes"), "2");
}

TEST_F(SettingsStoreTest, BadUserFilesStillGiveAStore) {
  // Binary junk.
  std::string junk;
  for (int i = 0; i < 100000; ++i) junk += static_cast<char>((i * 7919) % 256);
  Put(AllUsersFolder() + "setting.dat", junk);
  {
    TCLSettings s;
    EXPECT_EQ(s.RunTimes(), 0);
    EXPECT_EQ(OnDisk(s.SettingFilePath(), "setting", "RunTimes"), "1");
  }
  // A 50 MB file: a long setting section with the counter at its end.
  std::string big = "[setting]\r\n";
  big.reserve(52u << 20);
  for (int i = 0; big.size() < (50u << 20); ++i)
    big += "Name" + std::to_string(i) + "=" + std::string(80, 'v') + "\r\n";
  big += "RunTimes=41\r\n";
  Put(AllUsersFolder() + "setting.dat", big);
  TCLSettings s;
  EXPECT_EQ(s.RunTimes(), 41);
  EXPECT_EQ(s.GetSettingString("Name12345"), std::string(80, 'v'));
  EXPECT_GT(platform::FileSize(s.SettingFilePath()), int64_t(50) << 20);
}

}  // namespace
