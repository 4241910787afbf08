// Screenshots for looking, not asserting: the engine-driven settings window
// in two skins and two languages, and one message box. Disabled in normal
// runs; run under Xvfb (one command line):
//   xvfb-run -a -s "-screen 0 800x600x24" env QT_QPA_PLATFORM=xcb
//     VG_SHOT_DIR=docs/screenshots build/default/tests/test_ui
//     --gtest_also_run_disabled_tests --gtest_filter='ScreenshotTest.*'
// Each picture is the whole screen, taken with ImageMagick's import.
#include <gtest/gtest.h>

#include "QtTestApp.h"
#include "TestWindows.h"

#include <cstdlib>
#include <filesystem>

#include "framework/CLSettings.h"
#include "support/Sandbox.h"
#include "vcl/spMessage.h"

namespace fs = std::filesystem;

namespace {

class ScreenshotTest : public SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    TestApp();
    const char* dir = std::getenv("VG_SHOT_DIR");
    if (!dir) GTEST_SKIP() << "VG_SHOT_DIR not set";
    FShotDir = fs::absolute(dir).string();
    fs::create_directories(FShotDir);
    // The shipped skins and languages next to the sandbox's executable.
    fs::copy(VG_BINARY_DIR "/skins", sb().Path("app/skins"), fs::copy_options::recursive);
    fs::copy(VG_SOURCE_DIR "/lang", sb().Path("app/lang"), fs::copy_options::recursive);
  }
  void TearDown() override {
    ReleaseCLSettings();
    SandboxTest::TearDown();
  }
  void Shot(const std::string& name) {
    ProcessUntil([] { return false; }, 400);
    const std::string file = FShotDir + "/" + name + ".png";
    const std::string cmd = "import -window root '" + file + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
  }
  std::unique_ptr<TfrmSettings> Window(const std::string& skin, const std::string& language) {
    sb().WriteFile("app/const.dat", "[setting]\r\nApp.Name=Veilgate\r\nApp.Ver=1.0.0.1\r\n");
    // The user's choice, as the engine stores it.
    GetCLSettings()->SetSettingString("Skin", skin);
    GetCLSettings()->SetSettingString("Language", language);
    std::unique_ptr<TfrmSettings> w(new TfrmSettings(true));
    w->SetPosition(TPosition::poScreenCenter);
    w->AfterConstruction();
    w->show();
    w->activateWindow();
    return w;
  }
  std::string FShotDir;
};

}  // namespace

TEST_F(ScreenshotTest, DISABLED_SettingsWindowInTwoSkinsAndTwoLanguages) {
  for (const char* skin : {"Default", "Midnight"})
    for (const char* language : {"English", "Deutsch"}) {
      auto w = Window(skin, language);
      EXPECT_EQ(w->CLEngine->Skin(), skin);
      EXPECT_EQ(w->CLEngine->Language(), language);
      Shot(std::string("settings-") + skin + "-" + language);
    }
  // The system frame of an ".nsf.skn" skin (no window manager under Xvfb,
  // so no frame is drawn at all).
  auto w = Window("Daylight", "English");
  Shot("settings-Daylight-English");
}

TEST_F(ScreenshotTest, DISABLED_MessageBoxWithShowAgainBox) {
  auto w = Window("Midnight", "Deutsch");
  WhenModal([this](QWidget* dlg) {
    Shot("messagebox-Midnight-Deutsch");
    PressKey(dlg, Qt::Key_Return);
  });
  w->CLEngine->ShowMessageEx("MSGBox.CloseNotify", {}, 1, 2, 4 | 8);
}
