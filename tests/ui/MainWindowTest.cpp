// The main window: layout, actions and menus, the creation and destruction
// sequences, the arrival of the user's own IP information, the hide and stop
// commands with their guard, readiness check and empty selection, the
// country display and its flag download, the timers with a clock the test
// moves, the options and the two dialogs (the close button and the tray:
// MainWindowTrayTest.cpp).
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

TEST_F(MainTest, LayoutActionsMenusAndTimers) {
  Const({});
  TfrmMain& w = Window();
  EXPECT_EQ(frmMain, &w);
  EXPECT_EQ(w.ClassName(), "TfrmMain");
  EXPECT_EQ(w.imgFL->Hint(), "Flag of fake location");
  EXPECT_EQ(w.lblFake->Caption(), "Fake location:");
  EXPECT_EQ(w.cbChangeIP->Caption(), "Change IP Every" + std::string(21, ' ') + "Minutes ");
  EXPECT_EQ(w.edtChangeIPTime->minimum(), 1);
  EXPECT_EQ(w.edtChangeIPTime->maximum(), 120);
  EXPECT_EQ(w.edtChangeIPTime->singleStep(), 1);
  EXPECT_FALSE(w.cbClearCookie->Visible());
  EXPECT_EQ(w.cbClearCookie->Caption(), "Clear Cookies When IP Changes");
  // Actions.
  EXPECT_EQ(w.actVeilIP->Caption(), "&Veil IP");
  EXPECT_EQ(w.actVeilIP->Hint(), "Veil IP");
  EXPECT_EQ(w.actStopHide->Caption(), "&Stop Hide");
  EXPECT_EQ(w.btnHide->Action(), w.actVeilIP);
  EXPECT_EQ(w.btnChooseIP->Action(), w.actChooseIPCountry);
  EXPECT_EQ(w.btnSettings->Action(), w.actSettings);
  EXPECT_EQ(w.actmgr->Actions().size(), 12u);
  // Both menus, top to bottom (the system menu's Exit is shown only where
  // the desktop has no tray).
  EXPECT_EQ(Captions(w.pmSys),
            (std::vector<std::string>{"Always on top", "-", "Se&ttings", "Update...", "-",
                                      "Ho&me Page", "&Help Center", "About...", "-", "&Exit"}));
  EXPECT_EQ(w.Exit2->Visible(), !TspTrayIcon::Available());
  EXPECT_EQ(Captions(w.pmTray),
            (std::vector<std::string>{"&Open...", "&Veil IP", "Check IP I&nfo",
                                      "Choose &IP Country", "-", "Se&ttings", "Update...", "-",
                                      "Ho&me Page", "&Help Center", "About...", "&Exit"}));
  // Tray icon and frame.
  EXPECT_EQ(w.spTrayIcon->Hint(), "Veilgate");
  EXPECT_EQ(w.spTrayIcon->PopupMenu(), w.pmTray);
  EXPECT_EQ(w.spDynamicSkinForm->TrayIcon(), w.spTrayIcon);
  EXPECT_TRUE(w.spDynamicSkinForm->AlwaysShowTrayIcon());
  EXPECT_EQ(w.spDynamicSkinForm->SystemMenu(), w.pmSys);
  EXPECT_EQ(w.spDynamicSkinForm->BorderIcons(), unsigned(biSystemMenu | biMinimize));
  EXPECT_FALSE(w.spDynamicSkinForm->Sizeable());
  // Timers: start-up on, the other two off.
  EXPECT_EQ(w.tmrInit->Interval(), 1000);
  EXPECT_TRUE(w.tmrInit->Running());
  EXPECT_EQ(w.tmrChangeIP->Interval(), 10000);
  EXPECT_FALSE(w.tmrChangeIP->Running());
  EXPECT_EQ(w.tmrTouch->Interval(), 900000);
  EXPECT_FALSE(w.tmrTouch->Running());
  EXPECT_TRUE(w.sdFlag->BinaryData);
  EXPECT_FALSE(w.sdFlag->UseCache);
  EXPECT_FALSE(w.sdFlag->WaitThread);
  EXPECT_EQ(w.sdFlag->AcceptTypes, "*/*");
  // The popup fills the top panel.
  ASSERT_NE(frmFlashForm, nullptr);
  EXPECT_EQ(frmFlashForm->parentWidget(), w.pnlFlash);
  EXPECT_EQ(frmFlashForm->geometry(), QRect(0, 0, 534, 180));
  EXPECT_FALSE(frmFlashForm->isWindow());
}

TEST_F(MainTest, CreationAndLocalInformationSendThePopupsCommandsInOrder) {
  TWebServer service([](const std::string&) { return TAnswer{}; });
  Const({"URL.GetInfo=" + service.Base() + "/getinfo"});
  TLogLines movie("TShockwaveFlash");
  TfrmMain& w = Window();
  const std::string ready = Text("FLSMsg.Ready");
  EXPECT_EQ(Commands(movie),
            (std::vector<std::string>{"Background," + sb().Path("app/res/images/popup_bg.png"),
                                      "Logo," + sb().Path("app/res/images/logo.png"),
                                      "Local,,,,,,0,100", "Target,,,,,,0,100",
                                      "Info_Text,Verifing from Veilgate server ...,4474009",
                                      "Info_Text2,,0", "LocalA,100,100", "TargetA,100,100",
                                      "Fade,Target,out,0", "Turn,Local",
                                      "Info_Text," + ready + ",16711680",
                                      "Info_Text," + Text("FLSMsg.Verifing") + ",0"}));
  // Direct, not hiding, information asked for, the guard armed from now.
  EXPECT_EQ(ProxyEnable(), 0u);
  EXPECT_FALSE(w.IsHiding());
  EXPECT_FALSE(w.FLocalInfoGot);
  EXPECT_DOUBLE_EQ(w.Session()->FLastActionTime, FNow);
  EXPECT_TRUE(Until([&] { return service.Count("/getinfo?MagicWord=VG-TEST") == 1; }));
  EXPECT_TRUE(w.FProxyManager->FOnGetCurrentLocalInfo != nullptr);

  // The service's empty answer is no answer: the status says so (and the
  // log's lines of it are read before the next ones).
  ASSERT_TRUE(Until([&] { return w.FServiceStatus->Reach().Unreached(); }));
  Until([&] { return !Commands(movie).empty(); }, 1000);
  w.FProxyManager->InfoGot(kHomeInfo);
  EXPECT_TRUE(w.FLocalInfoGot);
  // The answer clears the status's second line.
  EXPECT_EQ(Commands(movie),
            (std::vector<std::string>{
                "Local,True," + UsFlag() + ",203.0.113.5,United States,Dallas,100,100",
                "Target,," + UsFlag() + ",203.0.113.5,United States,Dallas,100,100", "Info_Text,,0",
                "Info_Text," + ready + ",16711680", "Info_Text2,,255"}));
  // A country without a local flag: the web address (the service's flags).
  w.FProxyManager->InfoGot(
      "IP=198.51.100.9\r\nCOUNTRY_SHORT=DE\r\nCOUNTRY_LONG=Germany\r\nCITY=Bonn\r\n");
  EXPECT_EQ(Commands(movie).at(0), "Local,True," +
                                       GetCLSettings()->GetSettingString("URL.FlagPath") +
                                       "DE.PNG,198.51.100.9,Germany,Bonn,100,100");
}

TEST_F(MainTest, HideAndStopDriveTheSwitchesThePopupAndTheButton) {
  TfrmMain& w = Ready({"TARGET_COUNTRY=US"});
  TLogLines movie("TShockwaveFlash");
  const size_t before = FirefoxCalls(1).size();
  w.actVeilIP->Execute();
  ASSERT_TRUE(w.IsHiding());
  const std::string p = Proxy(w);
  EXPECT_TRUE(p == "192.0.2.1:8080" || p == "192.0.2.2:3128") << p;
  EXPECT_EQ(w.FProxyManager->FTargetProxy.Country_Short, "US");
  EXPECT_EQ(Commands(movie),
            (std::vector<std::string>{"Target,True," + UsFlag() + "," +
                                          w.FProxyManager->FTargetProxy.IP +
                                          ",United States,,0,100",
                                      "Fade,Target,in,100", "LocalA,50,100", "Turn,Target",
                                      "Info_Text," + Text("FLSMsg.Hiding") + ",0"}));
  // The three switches, each with the proxy.
  EXPECT_EQ(ProxyServer(), "http=" + p + ";ftp=" + p + ";https=" + p + ";");
  EXPECT_EQ(ProxyEnable(), 1u);
  const auto ff = FirefoxCalls(before + 1);
  ASSERT_EQ(ff.size(), before + 1);
  EXPECT_EQ(ff.back(), "-silent -nosplash -chrome chrome://veilip/content/veilip.xul?ssl=&proxy=" +
                           w.FProxyManager->FTargetProxy.IP +
                           "&port=" + w.FProxyManager->FTargetProxy.Port);
  EXPECT_NE(OperaPrefs().find("HTTP server=" + p), std::string::npos) << OperaPrefs();
  // Button and tray item carry the stop command.
  EXPECT_EQ(w.btnHide->Action(), w.actStopHide);
  EXPECT_EQ(w.VeilIP1->Action(), w.actStopHide);
  EXPECT_EQ(w.VeilIP1->Caption(), "&Stop Hide");
  EXPECT_DOUBLE_EQ(w.Session()->FLastChangeIPTime, FNow);
  EXPECT_FALSE(w.tmrTouch->Running());

  // A hide while hiding takes the other idle proxy.
  Advance(2);
  w.actVeilIP->Execute();
  EXPECT_TRUE(w.IsHiding());
  EXPECT_NE(Proxy(w), p);
  Commands(movie);

  Advance(2);
  w.btnHide->Click();  // now the stop command
  EXPECT_FALSE(w.IsHiding());
  EXPECT_EQ(Commands(movie),
            (std::vector<std::string>{"LocalA,100,100", "TargetA,100,100", "Fade,Target,out,0",
                                      "Turn,Local",
                                      "Info_Text," + Text("FLSMsg.Ready") + ",16711680"}));
  EXPECT_EQ(ProxyEnable(), 0u);
  EXPECT_EQ(ProxyServer(), kUserProxyServer);
  EXPECT_EQ(FirefoxCalls(before + 3).back(),
            "-silent -nosplash -chrome chrome://veilip/content/veilip.xul?clear");
  EXPECT_NE(OperaPrefs().find("Use HTTP=0"), std::string::npos);
  EXPECT_EQ(w.VeilIP1->Caption(), "&Veil IP");
  // The proxy stays remembered after a stop.
  EXPECT_FALSE(w.FProxyManager->FTargetProxy.IP.empty());
  EXPECT_TRUE(Boxes.Requests.empty());
}

TEST_F(MainTest, TheOneSecondGuardRefusesASecondCommandAndCanBeSilenced) {
  TfrmMain& w = Ready();
  w.actVeilIP->Execute();
  ASSERT_TRUE(w.IsHiding());
  const TProxyRec first = w.FProxyManager->FTargetProxy;
  const double accepted = w.Session()->FLastActionTime;
  Advance(0.4);
  w.actVeilIP->Execute();
  ASSERT_EQ(Boxes.Requests.size(), 1u);
  EXPECT_EQ(Boxes.Requests[0].Text, Text("MSGBox_ACTIONFAST"));
  EXPECT_EQ(Boxes.Requests[0].DlgType, 2);
  EXPECT_EQ(Boxes.Requests[0].Buttons, 4u);
  EXPECT_TRUE(Boxes.Requests[0].ShowAgainFlag);
  EXPECT_EQ(w.FProxyManager->FTargetProxy, first);
  EXPECT_DOUBLE_EQ(w.Session()->FLastActionTime, accepted);
  // A stop in the same second is refused too: the browsers stay on the proxy.
  Advance(0.5);
  w.actStopHide->Execute();
  EXPECT_TRUE(w.IsHiding());
  EXPECT_EQ(ProxyEnable(), 1u);
  EXPECT_EQ(Boxes.Requests.size(), 2u);
  // The user ticks "do not show again" (show-again number 6): later
  // refusals come without a box.
  Boxes.TickDoNotShowAgain = true;
  w.actStopHide->Execute();
  EXPECT_FALSE(GetCLSettings()->GetMessageShowAgainFlag(6));
  w.actStopHide->Execute();
  EXPECT_EQ(Boxes.Requests.size(), 3u);
  EXPECT_TRUE(w.IsHiding());
  // One whole second after the accepted command the stop goes through.
  Advance(0.2);
  w.actStopHide->Execute();
  EXPECT_FALSE(w.IsHiding());
  EXPECT_EQ(Boxes.Requests.size(), 3u);
}

TEST_F(MainTest, AHideWithinTheFirstSecondIsRefused) {
  Const({"Update.Times=1", kLists});
  TfrmMain& w = Window();
  w.tmrInitTimer(w.tmrInit);
  w.FProxyManager->InfoGot(kHomeInfo);
  w.actVeilIP->Execute();
  EXPECT_FALSE(w.IsHiding());
  EXPECT_EQ(BoxesWith("MSGBox_ACTIONFAST"), 1);
}

TEST_F(MainTest, WithoutServiceDataOrLocalInformationTheHideAsksAgain) {
  // The service answers the local information (an empty answer would be a
  // failure, whose refusal names the service instead).
  TWebServer service([](const std::string&) {
    TAnswer a;
    a.Body = kHomeInfo;
    return a;
  });
  TStubUpdates updates;
  updates.Install();
  Const({"URL.GetInfo=" + service.Base() + "/getinfo", kLists});
  TfrmMain& w = Window();
  w.tmrInitTimer(w.tmrInit);
  w.FProxyManager->InfoGot(kHomeInfo);
  ASSERT_TRUE(Until([&] { return service.Count("/getinfo") == 1; }));
  Advance(2);
  // The first update runs first; it delivers nothing: the error box, a new
  // request, nothing else.
  w.actVeilIP->Execute();
  EXPECT_EQ(updates.started, 1);
  ASSERT_EQ(Boxes.Requests.size(), 1u);
  EXPECT_EQ(Boxes.Requests[0].Text, Text("MSGBox.CHKNET"));
  EXPECT_EQ(Boxes.Requests[0].DlgType, 1);
  EXPECT_FALSE(Boxes.Requests[0].ShowAgainFlag);
  EXPECT_FALSE(w.IsHiding());
  EXPECT_EQ(ProxyEnable(), 0u);
  EXPECT_DOUBLE_EQ(w.Session()->FLastActionTime, FNow);
  EXPECT_TRUE(Until([&] { return service.Count("/getinfo") == 2; }));
  // A retry in the same second meets the guard.
  Advance(0.5);
  w.actVeilIP->Execute();
  EXPECT_EQ(BoxesWith("MSGBox_ACTIONFAST"), 1);
  EXPECT_EQ(updates.started, 1);
  // The update delivers: the hide goes through.
  updates.deliver = true;
  Advance(1);
  w.actVeilIP->Execute();
  EXPECT_EQ(updates.started, 2);
  EXPECT_TRUE(w.IsHiding());
}

TEST_F(MainTest, WithoutLocalInformationTheHideAndTheCountryDialogAreRefused) {
  TWebServer service([](const std::string&) { return TAnswer{}; });
  Const({"URL.GetInfo=" + service.Base() + "/getinfo", "Update.Times=1", kLists});
  TfrmMain& w = Window();
  w.tmrInitTimer(w.tmrInit);
  Advance(2);
  w.actVeilIP->Execute();
  EXPECT_EQ(BoxesWith("MSGBox.CHKNET"), 1);
  EXPECT_FALSE(w.IsHiding());
  // The country dialog is not opened.
  w.actChooseIPCountry->Execute();
  EXPECT_EQ(BoxesWith("MSGBox.CHKNET"), 2);
  EXPECT_EQ(frmChooseIPCountry, nullptr);
  EXPECT_TRUE(Until([&] { return service.Count("/getinfo") == 3; }));
}

TEST_F(MainTest, NoIdleProxyChangesNothingAndSaysSo) {
  TfrmMain& w = Ready({"TARGET_COUNTRY=DE"});
  const size_t ff = FirefoxCalls(1).size();
  w.actVeilIP->Execute();
  ASSERT_EQ(Boxes.Requests.size(), 1u);
  EXPECT_EQ(Boxes.Requests[0].Text, Text("MSGBox.NOPROXY"));
  EXPECT_EQ(Boxes.Requests[0].DlgType, 2);
  EXPECT_FALSE(w.IsHiding());
  EXPECT_TRUE(w.FProxyManager->FTargetProxy.IP.empty());
  EXPECT_EQ(ProxyServer(), kUserProxyServer);
  EXPECT_EQ(FirefoxCalls(ff + 1, 300).size(), ff);
}

TEST_F(MainTest, ARealIPInChinaEndsTheApplication) {
  Const({});
  TfrmMain& w = Window();
  w.show();
  TLogLines movie("TShockwaveFlash");
  w.FProxyManager->InfoGot(
      "IP=192.0.2.77\r\nCOUNTRY_SHORT=cn\r\nCOUNTRY_LONG=China\r\nCITY=Beijing\r\n");
  EXPECT_EQ(PlainBoxes, std::vector<std::string>{"This product is unavailable in this country."});
  EXPECT_FALSE(w.isVisible());
  // The handler went on all the same.
  EXPECT_TRUE(w.FLocalInfoGot);
  EXPECT_EQ(Commands(movie).size(), 4u);
  // Any other country is fine.
  PlainBoxes.clear();
  w.FProxyManager->InfoGot("IP=192.0.2.78\r\nCOUNTRY_SHORT=TW\r\n");
  EXPECT_TRUE(PlainBoxes.empty());
}

// "Any country" is a text of the window's language.
TEST_F(MainTest, AnyCountryIsNamedInTheWindowsLanguage) {
  TfrmMain& w = Ready({"TARGET_COUNTRY=UN", "Language=Deutsch"});
  ASSERT_EQ(w.Engine()->Language(), "Deutsch");
  EXPECT_EQ(w.lblIPCountry->Caption(), "Automatisch gewählt");
}

TEST_F(MainTest, AnyCountryReadsAutoSelectedAndShowsThePickedProxysCountry) {
  TfrmMain& w = Ready({"TARGET_COUNTRY=UN"});
  EXPECT_EQ(w.lblIPCountry->Caption(), "Auto Selected");
  EXPECT_EQ(Middle(w.imgFL->Picture()), kUnColour);
  TLogLines movie("TShockwaveFlash");
  w.actVeilIP->Execute();
  ASSERT_TRUE(w.IsHiding());
  const TProxyRec& p = w.FProxyManager->FTargetProxy;
  EXPECT_EQ(Commands(movie).at(0).rfind("Target,True,", 0), 0u);
  EXPECT_EQ(frmFlashForm->FlashPlayer->State().Target.Country, p.Country_Long);
  // Only the exact code means any country.
  w.FProxyManager->FTargetCountry = "un";
  w.ResetCountryDisp();
  EXPECT_EQ(w.lblIPCountry->Caption(), "");
  w.FProxyManager->FTargetCountry = "US";
  w.ResetCountryDisp();
  EXPECT_EQ(w.lblIPCountry->Caption(), "United States");
  EXPECT_EQ(Middle(w.imgFL->Picture()), kUsColour);
}

TEST_F(MainTest, AMissingFlagIsDownloadedOnceIntoTheUserDataFolder) {
  const QRgb green = qRgb(0, 160, 0);
  std::atomic<bool> broken{false};
  TWebServer flags([&](const std::string& path) {
    if (path == "/flags/FR.PNG" && !broken) return TAnswer{200, SolidPng(green), "image/png"};
    if (path == "/flags/FR.PNG") return TAnswer{200, "<html>oops</html>", "image/png"};
    return TAnswer{404, "no such flag"};
  });
  TfrmMain& w = Ready({"TARGET_COUNTRY=US", "URL.FlagPath=" + flags.Base() + "/flags/"});
  ASSERT_EQ(Middle(w.imgFL->Picture()), kUsColour);
  const std::string file = JoinPath(GetCLSettings()->UserDataPath(), "FR.PNG");
  w.LoadFlag("fr");
  // The old picture stays until the download ends.
  EXPECT_EQ(Middle(w.imgFL->Picture()), kUsColour);
  ASSERT_TRUE(Until([&] { return Middle(w.imgFL->Picture()) == green; }));
  EXPECT_EQ(flags.Paths(), std::vector<std::string>{"/flags/FR.PNG"});
  EXPECT_TRUE(platform::FileExists(file));
  // Found locally from now on, whatever the case of the code.
  w.LoadFlag("US");
  w.LoadFlag("FR");
  EXPECT_EQ(Middle(w.imgFL->Picture()), green);
  w.LoadFlag("fr");
  EXPECT_EQ(flags.Count("/flags/"), 1);
  // A download that fails keeps the old picture and leaves no file.
  w.LoadFlag("XX");
  ASSERT_TRUE(Until([&] { return flags.Count("/flags/XX.PNG") == 1 && !w.sdFlag->Busy(); }, 30000));
  ASSERT_TRUE(ProcessPosted());
  EXPECT_EQ(Middle(w.imgFL->Picture()), green);
  EXPECT_FALSE(platform::FileExists(JoinPath(GetCLSettings()->UserDataPath(), "XX.PNG")));
  // A stored file that is no picture is fetched again; an answer that is
  // no picture leaves the old one and no file.
  platform::WriteWholeFile(file, "not a picture");
  broken = true;
  w.LoadFlag("FR");
  ASSERT_TRUE(Until([&] { return flags.Count("/flags/FR.PNG") == 2; }));
  ASSERT_TRUE(Until([&] { return !platform::FileExists(file); }));
  EXPECT_EQ(Middle(w.imgFL->Picture()), green);
  ASSERT_TRUE(Until([&] { return !w.sdFlag->Busy(); }, 30000));
  // A code that is not a plain code touches no file and asks for nothing.
  w.LoadFlag("../FR");
  w.LoadFlag("");
  EXPECT_FALSE(w.sdFlag->Busy());
  EXPECT_EQ(flags.Count("/flags/"), 3);
}

TEST_F(MainTest, TheChangeIPTimerCountsWholeMinutesAndClearsCookiesOnlyAfterATimedChange) {
  TfrmMain& w = Ready({"TARGET_COUNTRY=US", "ChangeIP=1", "ClearCookie=1"});
  EXPECT_TRUE(w.cbChangeIP->Checked());
  EXPECT_TRUE(w.cbClearCookie->Checked());
  EXPECT_EQ(w.edtChangeIPTime->Value(), 10);
  EXPECT_TRUE(w.tmrChangeIP->Running());
  auto cookieClears = [&] {
    int n = 0;
    for (const auto& c : FirefoxCalls()) n += c.find("veilip.xul?cc") != std::string::npos;
    return n;
  };
  // Not hiding: ticks do nothing.
  Advance(11 * 60);
  w.tmrChangeIPTimer(w.tmrChangeIP);
  EXPECT_FALSE(w.IsHiding());
  // A hide by hand clears no cookies.
  w.actVeilIP->Execute();
  ASSERT_TRUE(w.IsHiding());
  EXPECT_TRUE(w.tmrChangeIP->Running());
  const std::string first = Proxy(w);
  ProcessUntil([] { return false; }, 200);
  EXPECT_EQ(cookieClears(), 0);
  // 9 minutes 59 seconds: not yet.
  Advance(9 * 60 + 59);
  w.tmrChangeIPTimer(w.tmrChangeIP);
  EXPECT_EQ(Proxy(w), first);
  // 10 whole minutes: a new proxy, then the cookies.
  Advance(1);
  TLogLines trace("uVGUtils");
  w.tmrChangeIPTimer(w.tmrChangeIP);
  EXPECT_NE(Proxy(w), first);
  EXPECT_DOUBLE_EQ(w.Session()->FLastChangeIPTime, FNow);
  EXPECT_TRUE(trace.Has("FindCloseUrlCache"));
  EXPECT_TRUE(Until([&] { return cookieClears() == 1; }));
  // Changing the interval restarts the count from the change.
  Advance(5 * 60);
  w.edtChangeIPTime->SetValue(7);
  EXPECT_EQ(GetCLSettings()->GetSettingInteger("ChangeIPTime"), 7);
  const double changed = w.Session()->FLastChangeIPTime;
  EXPECT_DOUBLE_EQ(changed, FNow);
  Advance(6 * 60 + 59);
  w.tmrChangeIPTimer(w.tmrChangeIP);
  EXPECT_DOUBLE_EQ(w.Session()->FLastChangeIPTime, changed);
  Advance(1);
  w.tmrChangeIPTimer(w.tmrChangeIP);
  // Both proxies of the country have been used: the round starts again,
  // with either of them.
  EXPECT_DOUBLE_EQ(w.Session()->FLastChangeIPTime, FNow);
  EXPECT_TRUE(Until([&] { return cookieClears() == 2; }));
  // Switching the option off stops the timer and stores it.
  w.cbChangeIP->SetChecked(false);
  EXPECT_FALSE(w.tmrChangeIP->Running());
  EXPECT_FALSE(GetCLSettings()->GetSettingBool("ChangeIP"));
}

TEST_F(MainTest, WithoutTheChangeIPOptionAHideLeavesTheTimerOff) {
  TfrmMain& w = Ready({"ChangeIP=0"});
  w.actVeilIP->Execute();
  ASSERT_TRUE(w.IsHiding());
  EXPECT_FALSE(w.tmrChangeIP->Running());
}

TEST_F(MainTest, ASuperProxyIsTouchedAtOnceAndEveryHalfHourAfter) {
  TWebServer service([](const std::string&) { return TAnswer{200, "OK"}; });
  TfrmMain& w = Ready({"TARGET_COUNTRY=JP", "SUPER_TOUCH=" + service.Base() + "/touch?ip={1}"});
  // The selection draws the super list first in one of five; this one does.
  w.FProxyManager->SetRandom(std::make_shared<TFirstDraw>());
  w.actVeilIP->Execute();
  ASSERT_TRUE(w.IsHiding());
  EXPECT_TRUE(w.FProxyManager->FTargetProxy.IsSuper);
  EXPECT_TRUE(Until([&] { return service.Count("/touch?ip=192.0.2.9") == 1; }));
  EXPECT_TRUE(w.tmrTouch->Running());
  EXPECT_DOUBLE_EQ(w.Session()->FLastTouchTime, FNow);
  Advance(30 * 60 + 59);
  w.tmrTouchTimer(w.tmrTouch);
  ProcessUntil([] { return false; }, 300);
  EXPECT_EQ(service.Count("/touch"), 1);
  Advance(1);
  w.tmrTouchTimer(w.tmrTouch);
  EXPECT_TRUE(Until([&] { return service.Count("/touch?ip=192.0.2.9") == 2; }));
  EXPECT_DOUBLE_EQ(w.Session()->FLastTouchTime, FNow);
  // A hide through a normal proxy switches the touch timer off.
  w.FProxyManager->FTargetCountry = "US";
  Advance(2);
  w.actVeilIP->Execute();
  EXPECT_FALSE(w.FProxyManager->FTargetProxy.IsSuper);
  EXPECT_FALSE(w.tmrTouch->Running());
}

TEST_F(MainTest, OptionsAreStoredAndAutorunIsWrittenAgainAtStart) {
  const std::string entry = sb().Path("config/autostart/Veilgate.desktop");
  TfrmMain& w = Ready({"AutoRun=1", "AlwaysOnTop=0"});
  EXPECT_TRUE(w.cbAutorun->Checked());
  ASSERT_TRUE(platform::FileExists(entry));
  EXPECT_NE(ReadText(entry).find(sb().AppExe()), std::string::npos) << ReadText(entry);
  w.cbAutorun->SetChecked(false);
  EXPECT_FALSE(GetCLSettings()->GetSettingBool("AutoRun"));
  EXPECT_FALSE(platform::FileExists(entry));
  w.cbClearCookie->SetChecked(true);
  EXPECT_TRUE(GetCLSettings()->GetSettingBool("ClearCookie"));
  // Always on top: stored, checked, applied; and back.
  EXPECT_FALSE(w.actAlwaysOnTop->Checked());
  w.actAlwaysOnTop->Execute();
  EXPECT_TRUE(GetCLSettings()->GetSettingBool("AlwaysOnTop"));
  EXPECT_TRUE(w.actAlwaysOnTop->Checked());
  EXPECT_TRUE(w.AlwaysOnTop1->Checked());
  EXPECT_TRUE(w.windowFlags() & Qt::WindowStaysOnTopHint);
  w.actAlwaysOnTop->Execute();
  EXPECT_FALSE(GetCLSettings()->GetSettingBool("AlwaysOnTop"));
  EXPECT_FALSE(w.windowFlags() & Qt::WindowStaysOnTopHint);
}

TEST_F(MainTest, TheSettingsDialogIsFollowedByTheAutorunSetting) {
  TfrmMain& w = Ready({"AutoRun=0"});
  const std::string entry = sb().Path("config/autostart/Veilgate.desktop");
  EXPECT_FALSE(platform::FileExists(entry));
  // The setting changed behind the check box's back; the dialog is left
  // with Cancel.
  GetCLSettings()->SetSettingBool("AutoRun", true);
  bool opened = false;
  WhenModal([&](QWidget* dlg) {
    opened = dlg == frmSettings;
    PressKey(dlg, Qt::Key_Escape);
  });
  w.actSettings->Execute();
  EXPECT_TRUE(opened);
  EXPECT_EQ(frmSettings, nullptr);
  EXPECT_TRUE(w.cbAutorun->Checked());
  EXPECT_TRUE(platform::FileExists(entry));
}

TEST_F(MainTest, ConfirmingACountryHidesThroughIt) {
  TfrmMain& w = Ready({"TARGET_COUNTRY=US"});
  ASSERT_FALSE(w.IsHiding());
  bool opened = false;
  WhenModal(
      [&](QWidget*) {
        if (!frmChooseIPCountry) return;
        opened = true;
        TComboBox* list = frmChooseIPCountry->cbbCountry;
        list->SetItemIndex(list->findText("France"));
        frmChooseIPCountry->btnOK->Click();
      },
      15000);
  w.actChooseIPCountry->Execute();
  ASSERT_TRUE(opened);
  EXPECT_EQ(w.FProxyManager->FTargetCountry, "FR");
  EXPECT_EQ(w.lblIPCountry->Caption(), "France");
  EXPECT_TRUE(w.IsHiding());
  EXPECT_EQ(Proxy(w), "192.0.2.3:80");
  EXPECT_EQ(ProxyEnable(), 1u);
}

TEST_F(MainTest, TheFirstStartWithFirefoxInstallsTheExtension) {
  Const({"FFEXT.INSTALLED=0"});
  TfrmMain& w = Window();
  // After the stop command's call, the installation.
  const auto calls = FirefoxCalls(2);
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0], "-silent -nosplash -chrome chrome://veilip/content/veilip.xul?clear");
  EXPECT_EQ(calls[1], sb().AppDir() + "ffextension.xpi");
  EXPECT_TRUE(GetCLSettings()->GetSettingBool("FFEXT.INSTALLED"));
  // Firefox was still running (our stand-in waits): the restart box.
  EXPECT_EQ(BoxesWith("MSGBox.FFRestart"), 1);
  (void)w;
  // The next start leaves the extension alone.
  CloseWindow();
  Boxes.Requests.clear();
  Window();
  EXPECT_EQ(BoxesWith("MSGBox.FFRestart"), 0);
  ProcessUntil([] { return false; }, 200);
  int installs = 0;
  for (const auto& c : FirefoxCalls()) installs += c.find("ffextension.xpi") != std::string::npos;
  EXPECT_EQ(installs, 1);
}

TEST_F(MainTest, TheStartUpTimerWaitsForTheListsThenShowsTheCountry) {
  Const({"TARGET_COUNTRY=US", kSuper});
  TfrmMain& w = Window();
  // Only super proxies so far: the timer goes on, and the super list is not
  // read twice.
  w.tmrInitTimer(w.tmrInit);
  w.tmrInitTimer(w.tmrInit);
  EXPECT_TRUE(w.tmrInit->Running());
  EXPECT_EQ(w.FProxyManager->FSuperProxyList.Count(), 1);
  EXPECT_EQ(w.lblIPCountry->Caption(), "");
  // The lists arrive (as the update check writes them).
  GetCLSettings()->SetSettingString("NORMAL_IPS", std::string(kLists).substr(11));
  w.tmrInitTimer(w.tmrInit);
  EXPECT_FALSE(w.tmrInit->Running());
  EXPECT_EQ(w.FProxyManager->FNormalProxyList.Count(), 3);
  EXPECT_EQ(w.FProxyManager->FSuperProxyList.Count(), 1);
  EXPECT_EQ(w.lblIPCountry->Caption(), "United States");
  EXPECT_EQ(Middle(w.imgFL->Picture()), kUsColour);
}

}  // namespace

namespace {

// A desktop whose proxy settings the switch cannot reach (no GNOME schema
// in these tests, not a KDE session): the first hide says so once, with
// the address to set by hand, and goes on hiding.
TEST_F(MainTest, AHideThatReachesNoDesktopSettingsSaysWhichProxyToSetByHand) {
  FSilenceNoDesktopBox = false;
  TfrmMain& w = Ready({"TARGET_COUNTRY=US"});
  w.actVeilIP->Execute();
  ASSERT_TRUE(w.IsHiding());
  ASSERT_EQ(BoxesWith("MSGBox.NoDesktopProxy"), 0) << "the text names the proxy, not the key";
  ASSERT_EQ(Boxes.Requests.size(), 1u);
  const TCLMessageBoxRequest& box = Boxes.Requests[0];
  EXPECT_NE(box.Text.find(Proxy(w)), std::string::npos) << box.Text;
  EXPECT_EQ(box.Text.find("[AppRes]"), std::string::npos) << box.Text;
  EXPECT_TRUE(box.ShowAgainFlag);
  // The next hide of the run says nothing more.
  Advance(2);
  w.actVeilIP->Execute();
  EXPECT_TRUE(w.IsHiding());
  EXPECT_EQ(Boxes.Requests.size(), 1u);
  // With the system switch off there is nothing to tell.
  CloseWindow();
  Boxes.Requests.clear();
  TfrmMain& off = Ready({"TARGET_COUNTRY=US", "SWITCH.IE=0"});
  off.actVeilIP->Execute();
  EXPECT_TRUE(off.IsHiding());
  EXPECT_TRUE(Boxes.Requests.empty());
}

}  // namespace
