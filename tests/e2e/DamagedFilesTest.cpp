// The whole program started over damaged data files: a language file that
// cannot be read, a skin file that is not zlib data, pictures that are not
// PNG (the partner splash, the window pictures, every flag), a missing
// "res/map.tpl" and a settings file of binary junk. The program starts, says
// in its debug log what it could not use, falls back (the built-in skin,
// the English texts), answers another instance and ends cleanly on "/s".
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "AppProcessSupport.h"

namespace {

using namespace apptest;

std::string Junk(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(rng());
  return s;
}

class DamagedFilesTest : public AppProcessTest {
 protected:
  // Replaces every file below folder whose name ends with ext (any case).
  static int Spoil(const std::string& folder, const std::string& ext, unsigned seed) {
    int n = 0;
    if (!fs::exists(folder)) return 0;
    for (const auto& e : fs::recursive_directory_iterator(folder)) {
      std::string x = e.path().extension().string();
      for (char& c : x) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      if (!e.is_regular_file() || x != ext) continue;
      std::ofstream(e.path(), std::ios::binary | std::ios::trunc) << Junk(512, seed + n);
      ++n;
    }
    return n;
  }
};

TEST_F(DamagedFilesTest, TheProgramStartsFallsBackAndEndsCleanly) {
  Installation inst = Install("bad",
                              "App.ID=301\nApp.GUID=damaged-files\nApp.Splash=1\n"
                              "Skin=Broken\nLanguage=English\n",
                              true);
  // The language file: a folder in its place (unreadable even for root).
  fs::remove(inst.dir + "lang/English.lan");
  fs::create_directories(inst.dir + "lang/English.lan");
  // A skin that is not zlib data.
  fs::create_directories(inst.dir + "skins");
  std::ofstream(inst.dir + "skins/Broken.skn", std::ios::binary) << "plain text, not zlib data";
  // Pictures that are not PNG.
  std::ofstream(inst.dir + "oem.splash.png", std::ios::binary) << "GIF89a" << Junk(300, 1);
  Spoil(inst.dir + "res", ".png", 10);
  // No map page.
  fs::remove(inst.dir + "res/map.tpl");

  const std::string err = sb().Path("bad.err");
  const pid_t pid = Start(inst, {"-d", "-h"}, err);
  ASSERT_TRUE(WaitReady(301)) << ReadText(inst.log) << ReadText(err);
  EXPECT_TRUE(WaitLog(inst, "Skin file unreadable")) << ReadText(inst.log);
  EXPECT_TRUE(WaitLog(inst, "Skin: Default")) << ReadText(inst.log);
  EXPECT_TRUE(WaitLog(inst, "Language: English")) << ReadText(inst.log);

  // A second start still hands over to it, and "/s" ends it normally.
  EXPECT_EQ(WaitExit(Start(inst, {"some-file.txt"}), 30000), 0);
  EXPECT_TRUE(WaitLog(inst, "OnCmdFile: some-file.txt")) << ReadText(inst.log);
  EXPECT_EQ(CloseWith(inst), 0);
  EXPECT_EQ(WaitExit(pid, 15000), 0) << ReadText(err);
}

TEST_F(DamagedFilesTest, JunkSettingsFilesStillGiveAWorkingProgram) {
  Installation inst = Install("junk", "App.ID=302\nApp.GUID=junk-settings\n", true);
  // The partner file and the user's file as binary junk; the user's file is
  // found where the program will look for it.
  std::ofstream(inst.dir + "oem.const.dat", std::ios::binary) << Junk(4096, 7);
  const pid_t first = Start(inst, {"-h"});
  ASSERT_TRUE(WaitReady(302));
  EXPECT_EQ(CloseWith(inst), 0);
  ASSERT_EQ(WaitExit(first, 15000), 0);
  int spoiled = 0;
  for (const auto& e : fs::recursive_directory_iterator(sb().Root()))
    if (e.path().filename() == "setting.dat") {
      std::ofstream(e.path(), std::ios::binary | std::ios::trunc)
          << Junk(8192, 9) << "\n[setting]\nRunTimes=-5\x01\n[";
      ++spoiled;
    }
  ASSERT_GT(spoiled, 0);

  const std::string err = sb().Path("junk.err");
  const pid_t pid = Start(inst, {"-h"}, err);
  ASSERT_TRUE(WaitReady(302)) << ReadText(err);
  EXPECT_EQ(CloseWith(inst), 0);
  EXPECT_EQ(WaitExit(pid, 15000), 0) << ReadText(err);
}

}  // namespace
