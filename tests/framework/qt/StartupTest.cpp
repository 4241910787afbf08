// The start-up routine's command-line rules and the engine's side of the
// instance protocol, in process.
#include <gtest/gtest.h>

#include "QtTestApp.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPainter>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <atomic>
#include <chrono>
#include <thread>

#include "framework/CLConst.h"
#include "framework/CLSettings.h"
#include "framework/qt/CLEngine.h"
#include "framework/qt/CLMain.h"
#include "net/CLDebugLog.h"
#include "platform/Instance.h"
#include "support/Sandbox.h"

namespace {

TEST(SwitchTest, SwitchesAreOneLetterAfterDashOrSlashInAnyCase) {
  EXPECT_TRUE(IsSwitch("/s", 's'));
  EXPECT_TRUE(IsSwitch("-s", 's'));
  EXPECT_TRUE(IsSwitch("/S", 's'));
  EXPECT_TRUE(IsSwitch("-U", 'u'));
  EXPECT_FALSE(IsSwitch("-sx", 's'));
  EXPECT_FALSE(IsSwitch("s", 's'));
  EXPECT_FALSE(IsSwitch("\\s", 's'));
  EXPECT_FALSE(IsSwitch("-", 's'));
  EXPECT_FALSE(IsSwitch("", 's'));
  EXPECT_FALSE(IsSwitch("/d", 's'));
  EXPECT_TRUE(FindSwitch({"file.txt", "-x", "/H"}, 'h'));
  EXPECT_FALSE(FindSwitch({"file.txt", "-hh", "h"}, 'h'));
}

class EngineHookTest : public SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    TestApp();
    sb().WriteFile("app/const.dat", "[setting]\nApp.ID=4711\n");
  }
  void TearDown() override {
    ReleaseCLSettings();
    SandboxTest::TearDown();
  }
  static platform::InstanceMessage Msg(const char* name) {
    platform::InstanceMessage m;
    m.msg = platform::RegisterMessage(name);
    return m;
  }
};

TEST_F(EngineHookTest, AnswersEveryMessageOfTheProtocol) {
  QWidget form;
  auto* engine = new TCLEngine(&form, "TfrmHookTest");
  EXPECT_EQ(GetCLEngine(), engine);
  std::vector<std::string> received;
  engine->OnCmdFile = [&](const std::string& s) { received.push_back(s); };

  // Busy from creation until the posted post-initialisation has run.
  EXPECT_EQ(engine->WndProc(Msg(CLConst::WM_CL_IF_BUSY)), 1);
  QCoreApplication::processEvents();
  EXPECT_EQ(engine->WndProc(Msg(CLConst::WM_CL_IF_BUSY)), 0);

  EXPECT_EQ(engine->WndProc(Msg(CLConst::WM_CL_GET_APPID)), 4711);
  // No tray restore available: bring-to-front answers 0.
  EXPECT_EQ(engine->WndProc(Msg(CLConst::WM_CL_BRING_TO_FRONT)), 0);
  int restored = 0;
  engine->RestoreFromTray = [&] { ++restored; };
  EXPECT_EQ(engine->WndProc(Msg(CLConst::WM_CL_BRING_TO_FRONT)), 1);
  EXPECT_EQ(restored, 1);

  // Copy-data: cbData / 2 UTF-16 units become the pending parameter, which
  // reaches OnCmdFile only from the message loop.
  platform::InstanceMessage copy;
  copy.msg = platform::WM_COPYDATA_MSG;
  copy.isCopyData = true;
  const std::u16string text = u"C:\\Docs\\Grüße.txt";
  for (char16_t u : text) {
    copy.data.push_back(static_cast<char>(u & 0xFF));
    copy.data.push_back(static_cast<char>(u >> 8));
  }
  copy.data.push_back('X');  // an odd trailing byte is not a character
  EXPECT_EQ(engine->WndProc(copy), 0);
  EXPECT_TRUE(received.empty());
  QCoreApplication::processEvents();
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0], "C:\\Docs\\Grüße.txt");
  EXPECT_EQ(engine->ParamFile(), "C:\\Docs\\Grüße.txt");

  // The engine's lists are the outer layers of the settings store.
  EXPECT_EQ(GetCLSettings()->GetSettingString("Path.Languages"), "lang");
  engine->SettingOverwrite().SetValue("App.ID", "99");
  EXPECT_EQ(engine->WndProc(Msg(CLConst::WM_CL_GET_APPID)), 99);

  // Unknown messages are answered with 0 and change nothing.
  platform::InstanceMessage other;
  other.msg = 0xC001;
  EXPECT_EQ(engine->WndProc(other), 0);
}

TEST_F(EngineHookTest, OtherProcessesReachTheEngineThroughItsWindow) {
  QWidget form;
  auto* engine = new TCLEngine(&form, "TfrmHookTest2");
  (void)engine;
  const auto windows = platform::FindInstanceWindows("TfrmHookTest2");
  ASSERT_EQ(windows.size(), 1u);
  // The request is answered while this thread runs its event loop.
  std::atomic<int64_t> reply{-1};
  std::thread sender([&] {
    reply = platform::SendInstanceMessage(windows[0], platform::RegisterMessage("CL GetAppID"), 0,
                                          0, 5000);
  });
  ProcessUntil([&] { return reply != -1; }, 10000);
  sender.join();
  EXPECT_EQ(reply, 4711);
}

TEST_F(EngineHookTest, CloseAppEndsTheMessageLoop) {
  QWidget form;
  auto* engine = new TCLEngine(&form, "TfrmHookTest3");
  QMetaObject::invokeMethod(
      engine, [engine] { engine->WndProc(Msg(CLConst::WM_CL_CLOSE_APP)); }, Qt::QueuedConnection);
  // exec returns only because the close request quit the loop.
  EXPECT_EQ(QApplication::exec(), 0);
}

// A window that counts how often it was painted.
class TPaintCounter : public QWidget {
 public:
  int Paints = 0;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.fillRect(rect(), Qt::black);
    ++Paints;
  }
};

TEST_F(EngineHookTest, SplashIsPaintedBeforeTheMainWindowAndGoesWhenItShows) {
  sb().WriteFile("app/const.dat", "[setting]\nApp.ID=4712\nApp.Splash=1\nApp.Multiple=1\n");
  QPointer<TPaintCounter> splash;
  // The pictures are started ahead once, before any window is built.
  int preloads = 0;
  bool preloadBeforeSplash = false;
  CLPreloadHook() = [&] {
    ++preloads;
    preloadBeforeSplash = !splash;
  };
  CLSplashFactory() = [&]() -> QWidget* {
    splash = new TPaintCounter;
    splash->resize(200, 100);
    return splash;
  };
  bool splashVisibleAtCreate = false;
  int splashPaintsAtCreate = 0;
  QWidget* shownWith = nullptr;
  bool mainVisibleWhenSplashWent = false;
  TFormClass mainClass{"TfrmSplashTest", [&]() -> QWidget* {
                         splashVisibleAtCreate = splash && splash->isVisible();
                         splashPaintsAtCreate = splash ? splash->Paints : 0;
                         auto* w = new QWidget;
                         w->resize(300, 200);
                         // The loop ends once the splash is gone, or after a
                         // generous wait when it never goes.
                         auto* poll = new QTimer(w);
                         QElapsedTimer waited;
                         waited.start();
                         QObject::connect(poll, &QTimer::timeout, [&, w, waited] {
                           if (CLSplashForm() && waited.elapsed() < 20000) return;
                           // Ending the loop closes the windows: look first.
                           mainVisibleWhenSplashWent = w->isVisible() && !CLSplashForm();
                           QCoreApplication::quit();
                         });
                         poll->start(5);
                         return w;
                       }};
  char arg0[] = "veilgate";
  char* argv[] = {arg0, nullptr};
  CLShowMainForm() = true;
  CLTerminateRequested() = false;
  CLMainRun(1, argv, mainClass, shownWith);
  CLSplashFactory() = nullptr;
  CLPreloadHook() = nullptr;
  EXPECT_EQ(preloads, 1);
  EXPECT_TRUE(preloadBeforeSplash);
  ASSERT_NE(shownWith, nullptr);
  EXPECT_TRUE(splashVisibleAtCreate);
  EXPECT_GE(splashPaintsAtCreate, 1);
  // The main window was shown, and the splash went without any change of
  // activation.
  EXPECT_TRUE(mainVisibleWhenSplashWent);
  EXPECT_EQ(CLSplashForm(), nullptr);
  EXPECT_TRUE(splash.isNull());
  delete shownWith;
}

}  // namespace
