// The windows in a Wayland session: the main window with its popup, a
// message box, the settings dialog and the splash under a headless Weston
// (QT_QPA_PLATFORM=wayland), and a second start of the real program handing
// its activation token to the running one. Skipped when weston or Qt's
// Wayland plugin is not installed.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QPainter>
#include <QWindow>

#include "AppProcessSupport.h"
#include "MainWindowSupport.h"
#include "WestonSession.h"
#include "framework/qt/CLSplashForm.h"
#include "proxy/uProxyManager.h"
#include "ui/uFlashForm.h"
#include "ui/uSettings.h"
#include "vcl/ActnList.h"
#include "vcl/WindowSystem.h"
#include "vcl/spMessage.h"

using namespace mainwin;

namespace {

bool Exposed(QWidget* w) { return w && w->windowHandle() && w->windowHandle()->isExposed(); }

class WaylandWindowTest : public MainWindowTest {
 protected:
  void SetUp() override {
    // The compositor first: the application object connects to it.
    testsupport::WestonSession& weston = testsupport::WestonSession::Get();
    MainWindowTest::SetUp();
    if (!weston.Running()) GTEST_SKIP() << weston.Reason();
    ASSERT_TRUE(WaylandSession()) << QGuiApplication::platformName().toStdString();
  }

  // A main window whose service data and local information are there, on
  // the screen.
  TfrmMain& Shown() {
    Const({"Update.Times=1", kLists, kSuper});
    TfrmMain& w = Window();
    w.tmrInitTimer(w.tmrInit);
    w.FProxyManager->InfoGot(kHomeInfo);
    w.show();
    EXPECT_TRUE(Until([&] { return Exposed(&w); }, 15000)) << "the main window was not mapped";
    return w;
  }
};

TEST_F(WaylandWindowTest, MainWindowMapsWithItsPopupAndOffersOnlyWhatTheCompositorHonours) {
  TfrmMain& w = Shown();
  // The popup inside it is drawn.
  ASSERT_NE(frmFlashForm, nullptr);
  EXPECT_TRUE(frmFlashForm->isVisible());
  EXPECT_EQ(frmFlashForm->window(), &w);
  const QImage popup = frmFlashForm->grab().toImage();
  EXPECT_FALSE(popup.isNull());

  // "Always on top" is not offered, and the stored choice changes nothing:
  // the window is neither unmapped nor flagged.
  emit w.pmSys->QtMenu()->aboutToShow();
  EXPECT_FALSE(w.AlwaysOnTop1->Visible());
  EXPECT_FALSE(w.AlwaysOnTop1->QtAction()->isVisible());
  QWindow* native = w.windowHandle();
  w.actAlwaysOnTop->Execute();
  EXPECT_TRUE(GetCLSettings()->GetSettingBool("AlwaysOnTop"));
  EXPECT_FALSE(w.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_EQ(w.windowHandle(), native);
  EXPECT_TRUE(w.isVisible());
  EXPECT_TRUE(Exposed(&w));
  w.actAlwaysOnTop->Execute();
  EXPECT_FALSE(GetCLSettings()->GetSettingBool("AlwaysOnTop"));

  // Exit is in the system menu exactly where there is no tray.
  EXPECT_EQ(w.Exit2->Visible(), !TspTrayIcon::Available());
}

TEST_F(WaylandWindowTest, CloseButtonKeepsTheWindowReachable) {
  TfrmMain& w = Shown();
  EXPECT_FALSE(w.spDynamicSkinForm->ExecuteCommand(cmClose));
  ASSERT_EQ(Boxes.Requests.size(), 1u);
  const bool tray = TspTrayIcon::Available();
  EXPECT_EQ(Boxes.Requests[0].Text, Text(tray ? "MSGBox.CloseNotify" : "MSGBox.CloseNotifyNoTray"));
  EXPECT_EQ(frmMain, &w);
  if (!tray) {
    // On the task bar: still mapped, asked to be minimised.
    EXPECT_TRUE(w.isVisible());
    EXPECT_TRUE(w.isMinimized());
  }
  // No animation window in global coordinates was opened.
  for (QWidget* top : QApplication::topLevelWidgets())
    EXPECT_FALSE(top->inherits("QRubberBand") && top->isVisible());
  w.actOpen->Execute();
  EXPECT_TRUE(w.isVisible());
  EXPECT_FALSE(w.isMinimized());
}

TEST_F(WaylandWindowTest, MessageBoxAndSettingsDialogOpenOverTheirWindow) {
  TfrmMain& w = Shown();
  TspSkinMessage message(&w);
  QWidget* boxParent = nullptr;
  bool boxExposed = false;
  WhenModal([&](QWidget* box) {
    boxParent = box->parentWidget();
    boxExposed = Until([&] { return Exposed(box); }, 10000);
    PressKey(box, Qt::Key_Return);
  });
  EXPECT_EQ(message.MessageDlg2("Text", "Veilgate", mtInformation, mbOK, 0), mrOk);
  EXPECT_EQ(boxParent, &w);
  EXPECT_TRUE(boxExposed);
  // Its transient parent is the main window's surface.
  QWidget* dialogParent = nullptr;
  bool dialogExposed = false;
  QWindow* transient = nullptr;
  WhenModal([&](QWidget* dialog) {
    dialogParent = dialog->parentWidget();
    dialogExposed = Until([&] { return Exposed(dialog); }, 10000);
    if (dialog->windowHandle()) transient = dialog->windowHandle()->transientParent();
    PressKey(dialog, Qt::Key_Escape);
  });
  ShowSettings(&w);
  EXPECT_EQ(dialogParent, &w);
  EXPECT_TRUE(dialogExposed);
  EXPECT_EQ(transient, w.windowHandle());
}

TEST_F(WaylandWindowTest, SplashIsTranslucentWithTransparentCorners) {
  ASSERT_TRUE(WriteRoundedSplash(sb(), QSize(160, 90), QColor(20, 90, 160), 24));
  std::unique_ptr<TfrmCLSplashForm> splash(CreateForm<TfrmCLSplashForm>());
  splash->show();
  ASSERT_TRUE(Until([&] { return Exposed(splash.get()); }, 15000));
  // The surface is asked with an alpha channel, so it is not declared
  // opaque: the compositor blends the corners with what lies behind
  // instead of showing them black.
  EXPECT_GT(splash->windowHandle()->requestedFormat().alphaBufferSize(), 0);
  const QImage shot = splash->grab().toImage().convertToFormat(QImage::Format_ARGB32);
  EXPECT_EQ(qAlpha(shot.pixel(0, 0)), 0);
  EXPECT_EQ(qAlpha(shot.pixel(159, 89)), 0);
  EXPECT_EQ(qAlpha(shot.pixel(80, 45)), 255);
}

// The real program under the compositor: a second start hands its token
// over the instance channel, and the running window activates with it.
class WaylandAppTest : public apptest::AppProcessTest {
 protected:
  void SetUp() override {
    testsupport::WestonSession& weston = testsupport::WestonSession::Get();
    AppProcessTest::SetUp();
    if (!weston.Running()) GTEST_SKIP() << weston.Reason();
  }
  pid_t StartOnWayland(const apptest::Installation& inst, const std::vector<std::string>& args,
                       testsupport::EnvChanges env = {}) {
    const std::string& display = testsupport::WestonSession::Get().Display();
    env.insert(env.begin(), {{"QT_QPA_PLATFORM", "wayland"}, {"WAYLAND_DISPLAY", display.c_str()}});
    return Start(inst, args, sb().Path("app-output.log"), env);
  }
};

TEST_F(WaylandAppTest, SecondStartActivatesTheFirstWithItsToken) {
  apptest::Installation inst =
      Install("one", "App.ID=515\nApp.GUID=wayland-one\nApp.Splash=1\n", true);
  const pid_t first = StartOnWayland(inst, {"-d"});
  ASSERT_TRUE(WaitReady(515, 30000)) << ReadLog(inst) << ReadText(sb().Path("app-output.log"));
  ASSERT_TRUE(WaitLog(inst, "Main window shown", 15000)) << ReadLog(inst);

  const pid_t second = StartOnWayland(inst, {}, {{"XDG_ACTIVATION_TOKEN", "weston/veilgate/77"}});
  EXPECT_EQ(WaitExit(second, 15000), 0);
  EXPECT_TRUE(WaitLog(inst, "Activation with the token of the second start")) << ReadLog(inst);
  const std::string log = ReadLog(inst);
  EXPECT_NE(log.find("CL ActivationToken -> 1"), std::string::npos) << log;
  EXPECT_NE(log.find("CL BringtoFront -> 1"), std::string::npos) << log;
  // Qt's Wayland plugin took the token for the activation request.
  EXPECT_NE(log.find("handed to the window system"), std::string::npos) << log;

  EXPECT_EQ(CloseWith(inst), 0);
  EXPECT_EQ(WaitExit(first, 15000), 0) << ReadLog(inst);
}

}  // namespace
