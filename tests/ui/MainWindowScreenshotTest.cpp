// Screenshots of the main window for looking, not asserting: not hiding,
// hiding, and the tray menu. Disabled in normal runs; run under Xvfb (one
// command line):
//   xvfb-run -a -s "-screen 0 800x600x24" env QT_QPA_PLATFORM=xcb
//     VG_SHOT_DIR=docs/screenshots build/default/tests/test_ui
//     --gtest_also_run_disabled_tests --gtest_filter='MainWindowScreenshotTest.*'
// Each picture is the whole screen, taken with ImageMagick's import.
#include <gtest/gtest.h>

#include <QMenu>

#include "MainWindowSupport.h"
#include "proxy/uProxyManager.h"
#include "ui/uFlashForm.h"
#include "vcl/ActnList.h"
#include "vcl/ShockwaveFlash.h"

using namespace mainwin;
namespace fs = std::filesystem;

namespace {

class MainWindowScreenshotTest : public MainWindowTest {
 protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    const char* dir = std::getenv("VG_SHOT_DIR");
    if (!dir) GTEST_SKIP() << "VG_SHOT_DIR not set";
    FShotDir = fs::absolute(dir).string();
    fs::create_directories(FShotDir);
    // The shipped skins, pictures and flags next to the sandbox's executable.
    fs::copy(VG_BINARY_DIR "/skins", sb().Path("app/skins"), fs::copy_options::recursive);
    fs::copy(VG_BINARY_DIR "/res", sb().Path("app/res"),
             fs::copy_options::recursive | fs::copy_options::overwrite_existing);
  }
  void Shot(const std::string& name) {
    ProcessUntil([] { return false; }, 1500);
    const std::string file = FShotDir + "/" + name + ".png";
    const std::string cmd = "import -window root '" + file + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
  }
  TfrmMain& Shown() {
    Const({"Update.Times=1", "TARGET_COUNTRY=DE", "Skin=Default",
           "NORMAL_IPS=198.51.100.23:8080|Germany|DE|9|51;203.0.113.40:3128|United States|US|-97|38"});
    TfrmMain& w = Window();
    w.move(130, 120);
    w.show();
    w.activateWindow();
    w.tmrInitTimer(w.tmrInit);
    w.FProxyManager->InfoGot(
        "IP=93.184.216.34\r\nCOUNTRY_SHORT=US\r\nCOUNTRY_LONG=United States\r\nCITY=Norwell\r\n");
    Advance(2);
    return w;
  }
  std::string FShotDir;
};

TEST_F(MainWindowScreenshotTest, DISABLED_MainWindowNotHidingHidingAndTrayMenu) {
  TfrmMain& w = Shown();
  Shot("main-not-hiding");
  w.actVeilIP->Execute();
  ASSERT_TRUE(w.IsHiding());
  Shot("main-hiding");
  // Xvfb has no system tray: the tray icon's menu is opened beside the
  // window, where the tray would show it.
  w.pmTray->QtMenu()->popup(QPoint(w.frameGeometry().right() - 150, w.frameGeometry().top() + 60));
  Shot("main-tray-menu");
  w.pmTray->QtMenu()->close();
}

}  // namespace
