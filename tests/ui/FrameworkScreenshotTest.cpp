// Screenshots of the framework windows for looking, not asserting: the
// update window connecting, with a new version, up to date and in compact
// mode, and the about window in two languages. Disabled in normal runs;
// run under Xvfb (one command line):
//   xvfb-run -a -s "-screen 0 800x600x24" env QT_QPA_PLATFORM=xcb
//     VG_SHOT_DIR=docs/screenshots build/default/tests/test_ui
//     --gtest_also_run_disabled_tests --gtest_filter='FrameworkScreenshotTest.*'
// Each picture is the window's own content.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

#include "FrameworkWindowsSupport.h"
#include "framework/CLEngine.h"
#include "framework/windows/CLAboutForm.h"
#include "framework/windows/CLUpdateForm.h"
#include "proxy/ServiceProcess.h"

namespace fs = std::filesystem;

namespace {

class FrameworkScreenshotTest : public FrameworkWindowsTest {
 protected:
  void SetUp() override {
    FrameworkWindowsTest::SetUp();
    const char* dir = std::getenv("VG_SHOT_DIR");
    if (!dir) GTEST_SKIP() << "VG_SHOT_DIR not set";
    FShotDir = fs::absolute(dir).string();
    fs::create_directories(FShotDir);
    fs::create_directories(sb().Path("app/res/images"));
    for (const char* picture : {"update.png", "about.png"})
      fs::copy_file(std::string(VG_SOURCE_DIR) + "/res/images/" + picture,
                    sb().Path(std::string("app/res/images/") + picture));
  }
  void TearDown() override {
    FService.reset();
    FrameworkWindowsTest::TearDown();
  }
  void Serve(const std::string& update) {
    sb().WriteFile("svc/shot.conf",
                   "[service]\nlisten = 127.0.0.1\nport = 0\nmagicword = WORD-1\n[update]\n" + update);
    FService = std::make_unique<proxytest::TServiceProcess>(VG_SERVICE_EXE, sb().Path("svc/shot.conf"));
    ASSERT_TRUE(FService->Running());
    Use(FService->URL("/update"));
  }
  void Use(const std::string& url) {
    WriteConst({"App.MagicWord=WORD-1", "URL.Update=" + url, "Update.AutoCheck=1",
                "App.Copyright=Copyright (C) 2026 The Veilgate authors",
                "URL.support=http://127.0.0.1:8470/support"});
  }
  void Shot(QWidget* w, const std::string& name) {
    ProcessUntil([] { return false; }, 400);
    const std::string file = FShotDir + "/" + name + ".png";
    ASSERT_TRUE(w->grab().save(QString::fromStdString(file))) << file;
  }
  TfrmCLUpdateForm* Update() {
    TfrmCLUpdateForm* w = TfrmCLUpdateForm::Create(Main());
    w->SetPosition(TPosition::poScreenCenter);
    return w;
  }
  std::string FShotDir;
  std::unique_ptr<proxytest::TServiceProcess> FService;
};

}  // namespace

TEST_F(FrameworkScreenshotTest, DISABLED_UpdateWindow) {
  {
    proxytest::TSilentListener silent;
    Use("http://127.0.0.1:" + std::to_string(silent.Port()) + "/update");
    TfrmCLUpdateForm* w = Update();
    w->StartUpdate(false, true, true, false, false);
    Shot(w, "update-connecting");
    w->btnOK2Click();
    TfrmCLUpdateForm* compact = Update();
    compact->StartUpdate(false, true, false, true, false);
    Shot(compact, "update-compact");
    compact->btnOK2Click();
  }
  ReleaseCLSettings();
  Serve("Result = 1\ninfo = Veilgate 3.0 is available. It changes your IP faster and "
        "knows more countries.\npage = http://{service}/page/download\n");
  TfrmCLUpdateForm* w = Update();
  w->StartUpdate(false, true, true, false, false);
  ASSERT_TRUE(ProcessUntil([&] { return w->btnOK->isEnabled(); }, 10000));
  Shot(w, "update-new-version");
  w->btnCancelClick();

  FService.reset();
  ReleaseCLSettings();
  Serve("Result = 0\n");
  TfrmCLUpdateForm* latest = Update();
  latest->StartUpdate(false, true, true, false, false);
  ASSERT_TRUE(ProcessUntil([&] { return latest->btnOK2->isEnabled(); }, 10000));
  Shot(latest, "update-last-version");
}

TEST_F(FrameworkScreenshotTest, DISABLED_AboutWindow) {
  Use("http://127.0.0.1:9/update");
  {
    std::unique_ptr<TfrmCLAboutForm> w(TfrmCLAboutForm::Create(Main()));
    w->SetPosition(TPosition::poScreenCenter);
    w->show();
    Shot(w.get(), "about-English");
  }
  Engine()->SetLanguage("Deutsch");
  std::unique_ptr<TfrmCLAboutForm> w(TfrmCLAboutForm::Create(Main()));
  w->SetPosition(TPosition::poScreenCenter);
  w->show();
  Shot(w.get(), "about-Deutsch");
}
