// The main window in the desktop session: the close button with a tray and
// without one, Exit in the system menu, and an exit right after a hide.
#include <gtest/gtest.h>

#include <QMenu>

#include "MainTestFixture.h"
#include "platform/Instance.h"
#include "proxy/uProxyManager.h"
#include "ui/ServiceStatus.h"
#include "ui/uChooseIPCountry.h"
#include "ui/uFlashForm.h"
#include "ui/uSettings.h"
#include "vcl/ActnList.h"
#include "vcl/Controls.h"
#include "vcl/ShockwaveFlash.h"
#include "vcl/WindowSystem.h"

using namespace mainwin;

namespace {

// Acts out a desktop with or without a system tray for one test.
class TTrayProbeGuard {
 public:
  explicit TTrayProbeGuard(bool* available) : FSaved(SystemTrayProbe()) {
    SystemTrayProbe() = [available] { return *available; };
  }
  ~TTrayProbeGuard() { SystemTrayProbe() = FSaved; }

 private:
  std::function<bool()> FSaved;
};

TEST_F(MainTest, TheCloseButtonGoesToTheTrayUnlessTheSessionEnds) {
  bool tray = true;
  TTrayProbeGuard probe(&tray);
  TfrmMain& w = Ready();
  w.show();
  // Maximise and roll-up are refused.
  EXPECT_FALSE(w.spDynamicSkinForm->ExecuteCommand(cmMaximize));
  EXPECT_FALSE(w.spDynamicSkinForm->ExecuteCommand(cmRollUp));
  EXPECT_FALSE(w.spDynamicSkinForm->ExecuteCommand(cmClose));
  ASSERT_EQ(Boxes.Requests.size(), 1u);
  EXPECT_EQ(Boxes.Requests[0].Text, Text("MSGBox.CloseNotify"));
  EXPECT_EQ(Boxes.Requests[0].DlgType, 2);
  EXPECT_TRUE(Boxes.Requests[0].ShowAgainFlag);
  // Out of sight (the tray, or the task bar where there is no tray), not
  // closed.
  EXPECT_TRUE(!w.isVisible() || w.isMinimized());
  EXPECT_EQ(frmMain, &w);
  w.actOpen->Execute();
  EXPECT_TRUE(w.isVisible());
  EXPECT_FALSE(w.spDynamicSkinForm->InTray());
  // Silenced (show-again number 1): the next close shows no box.
  Boxes.TickDoNotShowAgain = true;
  w.spDynamicSkinForm->ExecuteCommand(cmClose);
  EXPECT_FALSE(GetCLSettings()->GetMessageShowAgainFlag(1));
  w.spTrayIcon->Click();
  EXPECT_TRUE(w.isVisible());
  w.spDynamicSkinForm->ExecuteCommand(cmClose);
  EXPECT_EQ(Boxes.Requests.size(), 2u);
  // While the session ends the close goes through.
  w.actOpen->Execute();
  platform::InstanceMessage end;
  end.msg = WM_QUERYENDSESSION_MSG;
  w.Engine()->WndProc(end);
  EXPECT_TRUE(w.spDynamicSkinForm->ExecuteCommand(cmClose));
  EXPECT_FALSE(w.isVisible());
  EXPECT_EQ(Boxes.Requests.size(), 2u);
}

// Where the desktop has no tray, the close button minimises to the task bar
// with a message that says so, and the system menu carries Exit; a tray
// that appears later is used from then on.
TEST_F(MainTest, WithoutATrayTheWindowStaysReachableAndExitIsInTheSystemMenu) {
  bool tray = false;
  TTrayProbeGuard probe(&tray);
  TfrmMain& w = Ready();
  w.show();
  ASSERT_TRUE(Until([&] { return w.isVisible(); }));
  EXPECT_TRUE(w.Exit2->Visible());
  EXPECT_TRUE(w.N5->Visible());
  EXPECT_EQ(w.Exit2->Action(), w.actExit);

  EXPECT_FALSE(w.spDynamicSkinForm->ExecuteCommand(cmClose));
  ASSERT_EQ(Boxes.Requests.size(), 1u);
  EXPECT_EQ(Boxes.Requests[0].Text, Text("MSGBox.CloseNotifyNoTray"));
  EXPECT_NE(Text("MSGBox.CloseNotifyNoTray"), Text("MSGBox.CloseNotify"));
  EXPECT_EQ(Boxes.Requests[0].Text.find("[AppRes]"), std::string::npos);
  EXPECT_TRUE(Boxes.Requests[0].ShowAgainFlag);
  // Minimised on the task bar, not hidden, not in a tray, not closed.
  EXPECT_TRUE(w.isVisible());
  EXPECT_TRUE(w.isMinimized());
  EXPECT_FALSE(w.spDynamicSkinForm->InTray());
  EXPECT_EQ(frmMain, &w);

  // A second start brings it back from the task bar.
  w.Engine()->WndProc([&] {
    platform::InstanceMessage m;
    m.msg = w.Engine()->FWM_CL_BRING_TO_FRONT;
    return m;
  }());
  EXPECT_FALSE(w.isMinimized());
  EXPECT_TRUE(w.isVisible());

  // Silencing the tray's message does not silence this one.
  GetCLSettings()->SetMessageShowAgainFlag(1, false);
  w.spDynamicSkinForm->ExecuteCommand(cmClose);
  EXPECT_EQ(Boxes.Requests.size(), 2u);
  w.actOpen->Execute();

  // A tray appears: Exit leaves the system menu when it opens next, and
  // the close button goes to the tray, with the tray's message (silenced
  // above, so no box this time).
  tray = true;
  emit w.pmSys->QtMenu()->aboutToShow();
  EXPECT_FALSE(w.Exit2->Visible());
  EXPECT_FALSE(w.N5->Visible());
  w.spDynamicSkinForm->ExecuteCommand(cmClose);
  EXPECT_EQ(Boxes.Requests.size(), 2u);
  EXPECT_TRUE(w.spDynamicSkinForm->InTray());
  EXPECT_FALSE(w.isVisible());
  // And the other way round.
  w.actOpen->Execute();
  tray = false;
  emit w.pmSys->QtMenu()->aboutToShow();
  EXPECT_TRUE(w.Exit2->Visible());
}

// The system menu's Exit closes the window for good, as the tray's does,
// and the system menu also opens with a right click in the window.
TEST_F(MainTest, ExitInTheSystemMenuClosesTheWindow) {
  bool tray = false;
  TTrayProbeGuard probe(&tray);
  TfrmMain& w = Ready();
  w.show();
  emit w.ClientArea()->customContextMenuRequested(QPoint(10, 10));
  ASSERT_TRUE(Until([&] { return w.pmSys->QtMenu()->isVisible(); }));
  EXPECT_TRUE(w.Exit2->QtAction()->isVisible());
  w.pmSys->QtMenu()->close();
  w.Exit2->Click();
  EXPECT_FALSE(w.isVisible());
  EXPECT_TRUE(Boxes.Requests.empty());
}

TEST_F(MainTest, ExitRightAfterAHideStillSwitchesBackAndStoresTheCountry) {
  TfrmMain& w = Ready({"TARGET_COUNTRY=US"});
  w.actVeilIP->Execute();
  ASSERT_TRUE(w.IsHiding());
  ASSERT_EQ(ProxyEnable(), 1u);
  const size_t ff = FirefoxCalls().size();
  w.FProxyManager->FTargetCountry = "FR";
  // Exit in the same second: the window closes and goes; the stop at its
  // destruction is not refused.
  w.show();
  w.actExit->Execute();
  EXPECT_FALSE(w.isVisible());
  CloseWindow();
  EXPECT_EQ(frmMain, nullptr);
  EXPECT_EQ(frmFlashForm, nullptr);
  EXPECT_TRUE(Boxes.Requests.empty());
  EXPECT_EQ(ProxyEnable(), 0u);
  EXPECT_EQ(ProxyServer(), kUserProxyServer);
  EXPECT_NE(OperaPrefs().find("Use HTTP=0"), std::string::npos);
  EXPECT_EQ(FirefoxCalls(ff + 1).back(),
            "-silent -nosplash -chrome chrome://veilip/content/veilip.xul?clear");
  EXPECT_EQ(GetCLSettings()->GetSettingString("TARGET_COUNTRY"), "FR");
}

}  // namespace
