#include "ui/uMain.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QTimer>

#include <cmath>
#include <cstdlib>

#include "framework/CLSettings.h"
#include "framework/lang/CLMultiLang.h"
#include "framework/qt/CLAppComponents.h"
#include "framework/qt/CLEngine.h"
#include "framework/qt/CLForm.h"
#include "framework/qt/CLMain.h"
#include "net/CLDebugLog.h"
#include "net/CLUtils.h"
#include "net/SingleDownloader.h"
#include "platform/Files.h"
#include "framework/ServiceEndpoints.h"
#include "proxy/LocalInfo.h"
#include "proxy/ProxyProbe.h"
#include "proxy/uProxyManager.h"
#include "switch/THideSession.h"
#include "switch/uVGUtils.h"
#include "ui/AppIcons.h"
#include "ui/uChooseIPCountry.h"
#include "ui/uDesignFont.h"
#include "ui/uFlashForm.h"
#include "ui/uIPsTesting.h"
#include "ui/ServiceStatus.h"
#include "ui/uSettings.h"
#include "ui/uWebRtc.h"
#include "vcl/ActnList.h"
#include "vcl/Controls.h"
#include "vcl/spMessage.h"
#include "vcl/WindowSystem.h"
#include "vcl/spSkinData.h"

TfrmMain* frmMain = nullptr;

std::function<double()>& MainClock() {
  static std::function<double()> clock = [] { return platform::NowLocal(); };
  return clock;
}

namespace {

const char* const kTraceTag = "TfrmMain";
void Trace(const std::string& line) { CLDebugLog::Write(kTraceTag, line); }

}  // namespace

// Writes a setting; a file that cannot be written keeps the value in
// memory for this run (the store reports it, the window goes on).
void TfrmMain::Store(const std::function<void(TCLSettings*)>& write) {
  try {
    write(GetCLSettings());
  } catch (const ECLSettingsWriteError& e) {
    Trace("Setting not written: " + e.Reason());
  }
}

// --- construction -------------------------------------------------------------------------------

TAction* TfrmMain::NewAction(const char* name, const char* caption,
                             void (TfrmMain::*handler)(TBasicAction*)) {
  auto* a = new TAction(this);
  a->SetName(name);
  a->SetCaption(caption);
  a->SetActionList(actmgr);
  a->OnExecute = [this, handler](TBasicAction* s) { (this->*handler)(s); };
  return a;
}

TMenuItem* TfrmMain::NewItem(TPopupMenu* menu, const char* name, TAction* action) {
  auto* item = new TMenuItem(this);
  item->SetName(name);
  if (action)
    item->SetAction(action);
  else
    item->SetCaption("-");
  menu->Items()->Add(item);
  return item;
}

TfrmMain::TfrmMain(TCLComponent* AOwner) : TForm(AOwner) {
  frmMain = this;
  SetName("frmMain");
  SetCaption("Veilgate");
  SetBorderStyle(TFormBorderStyle::bsSingle);
  SetPosition(TPosition::poScreenCenter);
  SetClientSize(534, 317);
  setFont(DesignFont());

  const TCLAppComponents app = CreateAppComponents(this);
  spCompressedStoredSkin = app.spCompressedStoredSkin;
  spResourceStrData = app.spResourceStrData;
  spSkinData = app.spSkinData;
  CLMultiLangData = app.CLMultiLangData;
  CLEngine = app.CLEngine;
  CLEngine->SetTitleIncludeVer(true);
  CLEngine->OnCmdFile = [this](const std::string& s) { CLEngineCmdFile(s); };

  // Actions and menus.
  actmgr = new TActionManager(this);
  actmgr->SetName("actmgr");
  actVeilIP = NewAction("actVeilIP", "&Veil IP", &TfrmMain::actVeilIPExecute);
  actVeilIP->SetHint("Veil IP");
  actStopHide = NewAction("actStopHide", "&Stop Hide", &TfrmMain::actStopHideExecute);
  actChooseIPCountry =
      NewAction("actChooseIPCountry", "Choose &IP Country", &TfrmMain::actChooseIPCountryExecute);
  actSettings = NewAction("actSettings", "Se&ttings", &TfrmMain::actSettingsExecute);
  actCheckIPInfo = NewAction("actCheckIPInfo", "Check IP I&nfo", &TfrmMain::actCheckIPInfoExecute);
  actHelpCenter = NewAction("actHelpCenter", "&Help Center", &TfrmMain::actHelpCenterExecute);
  actHomePage = NewAction("actHomePage", "Ho&me Page", &TfrmMain::actHomePageExecute);
  actUpdate = NewAction("actUpdate", "Update...", &TfrmMain::actUpdateExecute);
  actAbout = NewAction("actAbout", "About...", &TfrmMain::actAboutExecute);
  actOpen = NewAction("actOpen", "&Open...", &TfrmMain::actOpenExecute);
  actAlwaysOnTop = NewAction("actAlwaysOnTop", "Always on top", &TfrmMain::actAlwaysOnTopExecute);
  actExit = NewAction("actExit", "&Exit", &TfrmMain::actExitExecute);

  pmSys = new TPopupMenu(this);
  pmSys->SetName("pmSys");
  AlwaysOnTop1 = NewItem(pmSys, "AlwaysOnTop1", actAlwaysOnTop);
  N1 = NewItem(pmSys, "N1", nullptr);
  Settings1 = NewItem(pmSys, "Settings1", actSettings);
  Update1 = NewItem(pmSys, "Update1", actUpdate);
  N2 = NewItem(pmSys, "N2", nullptr);
  HomePage1 = NewItem(pmSys, "HomePage1", actHomePage);
  HelpCenter1 = NewItem(pmSys, "HelpCenter1", actHelpCenter);
  About1 = NewItem(pmSys, "About1", actAbout);
  N5 = NewItem(pmSys, "N5", nullptr);
  Exit2 = NewItem(pmSys, "Exit2", actExit);
  // Rechecked whenever the menu opens: a tray may have appeared since.
  if (QMenu* menu = pmSys->QtMenu())
    QObject::connect(menu, &QMenu::aboutToShow, this, [this] { UpdateSessionItems(); });

  pmTray = new TPopupMenu(this);
  pmTray->SetName("pmTray");
  Open1 = NewItem(pmTray, "Open1", actOpen);
  VeilIP1 = NewItem(pmTray, "VeilIP1", actVeilIP);
  CheckIPInfo1 = NewItem(pmTray, "CheckIPInfo1", actCheckIPInfo);
  ChooseIPCountry1 = NewItem(pmTray, "ChooseIPCountry1", actChooseIPCountry);
  N3 = NewItem(pmTray, "N3", nullptr);
  Settings2 = NewItem(pmTray, "Settings2", actSettings);
  Update2 = NewItem(pmTray, "Update2", actUpdate);
  N4 = NewItem(pmTray, "N4", nullptr);
  HomePage2 = NewItem(pmTray, "HomePage2", actHomePage);
  HelpCenter2 = NewItem(pmTray, "HelpCenter2", actHelpCenter);
  About2 = NewItem(pmTray, "About2", actAbout);
  Exit1 = NewItem(pmTray, "Exit1", actExit);

  // Tray icon and skinned frame.
  spTrayIcon = new TspTrayIcon(this);
  spTrayIcon->SetName("spTrayIcon");
  spTrayIcon->SetHint("Veilgate");
  spTrayIcon->SetPopupMenu(pmTray);
  spTrayIcon->OnClick = [this](TspTrayIcon* s) { spTrayIconClick(s); };
  spDynamicSkinForm = new TspDynamicSkinForm(this);
  spDynamicSkinForm->SetName("spDynamicSkinForm");
  spDynamicSkinForm->SetBorderIcons(biSystemMenu | biMinimize);
  spDynamicSkinForm->SetSizeable(false);
  spDynamicSkinForm->SetSkinData(spSkinData);
  spDynamicSkinForm->SetSystemMenu(pmSys);
  spDynamicSkinForm->SetTrayIcon(spTrayIcon);
  // A window built for its texts only shows no tray icon.
  spDynamicSkinForm->SetAlwaysShowTrayIcon(!CLDesigning());
  spDynamicSkinForm->OnObjectCommand = [this](TspDynamicSkinForm* s, TStdCommand c, bool& cancel) {
    spDynamicSkinFormObjectCommand(s, c, cancel);
  };
  CLEngine->SetSkinForm(spDynamicSkinForm);
  // The system menu also opens with a right click in the window: with the
  // native frame of an ".nsf.skn" skin there is no caption button for it.
  ClientArea()->setContextMenuPolicy(Qt::CustomContextMenu);
  QObject::connect(ClientArea(), &QWidget::customContextMenuRequested, this, [this](QPoint at) {
    PopupMenuOver(pmSys->QtMenu(), this, ClientArea()->mapToGlobal(at));
  });

  CLMultiLang = new TCLMultiLang(this);
  CLMultiLang->SetName("CLMultiLang");
  CLMultiLang->SetLanguageData(CLMultiLangData);
  CLForm = new TCLForm(this);
  CLForm->SetName("CLForm");

  // The window's face.
  pnlFlash = new TPanel(this);
  pnlFlash->SetName("pnlFlash");
  pnlFlash->SetBevelOuter(TBevelCut::bvNone);
  pnlFlash->SetBounds(0, 0, 534, 180);

  auto button = [this](const char* name, int top, TAction* action) {
    auto* b = new TButton(this);
    b->SetName(name);
    b->SetBounds(8, top, 124, 25);
    b->SetAction(action);
    return b;
  };
  btnHide = button("btnHide", 186, actVeilIP);
  btnChooseIP = button("btnChooseIP", 216, actChooseIPCountry);
  btnSettings = button("btnSettings", 247, actSettings);

  pnlSettings = new TPanel(this);
  pnlSettings->SetName("pnlSettings");
  pnlSettings->SetBevelOuter(TBevelCut::bvLowered);
  pnlSettings->SetBounds(143, 191, 384, 112);

  lblFake = new TLabel(this, pnlSettings);
  lblFake->SetName("lblFake");
  lblFake->SetCaption("Fake location:");
  lblFake->SetBold(true);
  lblFake->SetBounds(7, 20, 82, 16);

  imgFL = new TImage(this, pnlSettings);
  imgFL->SetName("imgFL");
  imgFL->SetHint("Flag of fake location");
  imgFL->SetHandPoint(true);
  imgFL->SetBounds(91, 3, 48, 48);
  imgFL->OnClick = [this](TImage* s) { imgFLClick(s); };

  lblIPCountry = new TLabel(this, pnlSettings);
  lblIPCountry->SetName("lblIPCountry");
  lblIPCountry->SetBold(true);
  lblIPCountry->SetBounds(148, 20, 230, 16);

  auto check = [this](const char* name, const char* caption, int x, int y, int w) {
    auto* c = new TCheckBox(this, pnlSettings);
    c->SetName(name);
    c->SetCaption(caption);
    c->SetBounds(x, y, w, 25);
    return c;
  };
  cbAutorun = check("cbAutorun", "Launch On Startup", 3, 51, 147);
  cbAutorun->OnClick = [this](TCheckBox* s) { cbAutorunClick(s); };
  cbChangeIP = check("cbChangeIP", "Change IP Every                     Minutes ", 3, 80, 216);
  cbChangeIP->OnClick = [this](TCheckBox* s) { cbChangeIPClick(s); };
  edtChangeIPTime = new TSpinEdit(this, pnlSettings);
  edtChangeIPTime->SetName("edtChangeIPTime");
  edtChangeIPTime->SetMinValue(1);
  edtChangeIPTime->SetMaxValue(120);
  edtChangeIPTime->SetIncrement(1);
  edtChangeIPTime->SetValue(10);
  edtChangeIPTime->SetBounds(112, 81, 49, 21);
  edtChangeIPTime->raise();
  edtChangeIPTime->OnChange = [this](TSpinEdit* s) { edtChangeIPTimeChange(s); };
  cbClearCookie = check("cbClearCookie", "Clear Cookies When IP Changes", 180, 51, 193);
  cbClearCookie->SetVisible(false);
  cbClearCookie->OnClick = [this](TCheckBox* s) { cbClearCookieClick(s); };

  // Timers: the start-up timer runs from creation, the other two are off.
  tmrInit = new TTimer(this);
  tmrInit->SetName("tmrInit");
  tmrInit->SetInterval(1000);
  tmrInit->SetOnTimer([this](TTimer* t) { tmrInitTimer(t); });
  tmrChangeIP = new TTimer(this);
  tmrChangeIP->SetName("tmrChangeIP");
  tmrChangeIP->SetEnabled(false);
  tmrChangeIP->SetInterval(10000);
  tmrChangeIP->SetOnTimer([this](TTimer* t) { tmrChangeIPTimer(t); });
  tmrTouch = new TTimer(this);
  tmrTouch->SetName("tmrTouch");
  tmrTouch->SetEnabled(false);
  tmrTouch->SetInterval(900000);
  tmrTouch->SetOnTimer([this](TTimer* t) { tmrTouchTimer(t); });
  // The watch of the proxy in use, while hiding.
  tmrWatch = new TTimer(this);
  tmrWatch->SetName("tmrWatch");
  tmrWatch->SetEnabled(false);
  tmrWatch->SetInterval(THideSession::kWatchSeconds * 1000);
  tmrWatch->SetOnTimer([this](TTimer* t) { tmrWatchTimer(t); });

  // The application's termination ("CL CloseApp", the end of the session)
  // closes the windows on its way; the main window then lets itself close.
  if (QCoreApplication::instance()) qApp->installEventFilter(this);

  sdFlag = std::make_unique<TSingleDownloader>();
  sdFlag->Name = "sdFlag";
  sdFlag->BinaryData = true;
  sdFlag->UseCache = false;
  sdFlag->AcceptTypes = "*/*";
  sdFlag->WaitThread = false;
  sdFlag->OnDoneFile = [this](TSingleDownloader* s, const std::string& f, int64_t n) {
    sdFlagDoneFile(s, f, n);
  };
}

TfrmMain::~TfrmMain() {
  // FormDestroy. The stop at exit is not subject to the one-second guard:
  // the browsers must never stay on the proxy after the application ends.
  if (FProxyManager) {
    StopHide(true);
    const std::string country = FProxyManager->FTargetCountry;
    Store([&](TCLSettings* s) { s->SetSettingString("TARGET_COUNTRY", country); });
  }
  ClearAllWindow();
  sdFlag.reset();
  FSession.reset();
  FProxyManager.reset();
  if (frmMain == this) frmMain = nullptr;
}

void TfrmMain::FormCreate() {
  // A window built for its texts only (the language-file writer) does not
  // start: no proxy manager, no popup, no switching.
  if (CLDesigning()) return TForm::FormCreate();
  // The proxy manager.
  FProxyManager = std::make_unique<TProxyManager>();
  FProxyManager->FOnGetCurrentLocalInfo = [this](TProxyManager* s) { LocalInfoGot(s); };
  FServiceStatus = new TServiceStatus(
      this,
      [this] {
        if (FProxyManager) FProxyManager->GetCurrentLocalInfo();
      },
      [this](const std::string& line, const std::string& detail) {
        if (!frmFlashForm) return;
        if (!line.empty()) frmFlashForm->SetTextInfo(line, 255);
        frmFlashForm->SetTextInfo2(detail, 255);
      },
      [this](const std::string& key, const std::vector<std::string>& args) {
        return CLEngine ? CLEngine->GetAppStringEx(key, args) : key;
      });
  FProxyManager->FOnLocalInfoFailed = [this](const std::string& url, const std::string& error) {
    FServiceStatus->Failed(url, error);
  };
  FServiceAddress = GetCLSettings()->GetSettingString("URL.Service");
  FSession = std::make_unique<THideSession>(*FProxyManager, [] { return MainClock()(); });
  FSession->SetProber([](const std::vector<TProxyRec>& candidates, std::function<void(int)> done) {
    TProxyProbeRun::Start(ServiceEndpoints::CheckIPURL(), candidates, std::move(done));
  });
  FSession->OnWatchNews = [this](const TWatchNews& news) { WatchNews(news); };
  // The popup in the top panel.
  PlaceWindow();
  // Browsers to direct, timers off, the popup's ready text.
  actStopHideExecute(nullptr);
  // The user's settings.
  LoadSettings();
  // The user's own IP information is asked for once the window is on the
  // screen: the request loads the network module, which showing the window
  // does not need.
  FLocalInfoGot = false;
  // The popup says the user's IP information is being checked, before the
  // request can fail and say why.
  if (frmFlashForm) frmFlashForm->SetTextInfo(CLEngine->GetAppString("FLSMsg.Verifing"), 0);
  AfterFirstPaint([this] {
    if (FProxyManager) FProxyManager->GetCurrentLocalInfo();
  });
  // The Firefox extension, the first time Firefox is seen.
  if (IsFirefoxInstalled() && !GetCLSettings()->GetSettingBool("FFEXT.INSTALLED")) {
    InstallFirefoxExtension();
    Store([](TCLSettings* s) { s->SetSettingBool("FFEXT.INSTALLED", true); });
    if (IsFirefoxRunning()) CLEngine->ShowMessageEx("MSGBox.FFRestart", {}, 0, mtInformation, mbOK);
  }
  // On top of other windows when the user chose so.
  SetAOT();
  UpdateSessionItems();
  // A command within the first second is refused.
  FSession->ArmGuard();
  TForm::FormCreate();
}

bool TfrmMain::eventFilter(QObject* watched, QEvent* event) {
  if (watched == QCoreApplication::instance() && event->type() == QEvent::Quit && !FQuitting) {
    FQuitting = true;
    // A termination that some other window refuses leaves the loop running:
    // the close button goes back to the tray then.
    QTimer::singleShot(0, this, [this] { FQuitting = false; });
  }
  return TForm::eventFilter(watched, event);
}

void TfrmMain::CLEngineCmdFile(const std::string& strFileName) {
  CLDebugLog::Write(kTraceTag, "OnCmdFile: " + strFileName);
}

void TfrmMain::showEvent(QShowEvent* event) {
  // The skin's style sheet has been applied to the controls by now.
  // The popup keeps its own font: the movie lays out its texts itself.
  ApplyDesignFont(ClientArea(), frmFlashForm);
  TForm::showEvent(event);
  Trace(windowState().testFlag(Qt::WindowMinimized) ? "Main window shown, minimised"
                                                    : "Main window shown");
}

// --- hide and stop ---------------------------------------------------------------------------------

bool TfrmMain::IsHiding() const { return FSession && FSession->Hiding(); }

bool TfrmMain::ActionGuard() {
  if (FSession->Accept()) return true;
  CLEngine->ShowMessageEx("MSGBox_ACTIONFAST", {}, 6, mtInformation, mbOK);
  return false;
}

void TfrmMain::actVeilIPExecute(TBasicAction*) {
  // Too soon after the last command: refused with a note.
  if (!ActionGuard()) return;
  switch (FSession->Hide(CLEngine->AppWaitFirstUpdate() && FLocalInfoGot)) {
    case THideOutcome::NotReady:
      // The service's data and the user's own information must be there.
      RefuseNotReady();
      return;
    case THideOutcome::NoProxy:
      CLEngine->ShowMessageEx("MSGBox.NOPROXY", {}, 0, mtInformation, mbOK);
      return;
    case THideOutcome::Hidden: break;
  }
  // WebRTC keeps to the proxy in every browser profile found.
  KeepWebRtcAndTell(FSession->ProxyText());
  // The periodic change of proxy, when the user turned it on; a super proxy
  // is kept alive; the proxy is watched.
  if (GetCLSettings()->GetSettingBool("ChangeIP")) tmrChangeIP->SetEnabled(true);
  tmrTouch->SetEnabled(FSession->TouchWanted());
  tmrWatch->SetEnabled(true);
  FWatchNote.clear();
  // The popup shows the fake location.
  ShowTarget();
  // The hide button and the tray menu now stop hiding.
  btnHide->SetAction(actStopHide);
  VeilIP1->SetAction(btnHide->Action());
  ShowTrayState();
  // The popup's "hiding" text, and (once) a word to the user when the
  // desktop switch reached no browser setting.
  if (frmFlashForm) frmFlashForm->SetTextInfo(CLEngine->GetAppString("FLSMsg.Hiding"), 0);
  THideReach reach;
  if (FSession->TakeReachReport(reach)) {
    if (reach.NothingReached)
      CLEngine->ShowMessageEx("MSGBox.NoDesktopProxy", {reach.Proxy}, 7, mtWarning, mbOK);
    else
      CLEngine->ShowMessageEx("MSGBox.FFProxyType", {reach.FirefoxNotFollowing}, 8, mtInformation,
                              mbOK);
  }
}

void TfrmMain::ShowTarget() {
  if (!frmFlashForm) return;
  const TProxyRec& t = FSession->Proxy();
  const std::string flag = PopupFlag(t.Country_Short);
  frmFlashForm->SetIPInfo("Target", "True", flag, t.IP, t.Country_Long, "", "0", "100");
  frmFlashForm->Fade("Target", true, 100);
  frmFlashForm->SetIPInfoA("Local", "50", "100");
  frmFlashForm->TurnTarget();
}

void TfrmMain::WatchNews(const TWatchNews& news) {
  // Said once, in the popup and in the tray icon's tooltip, in the user's
  // language.
  std::string key;
  std::vector<std::string> args;
  switch (news.Kind) {
    case TWatchNews::Moved:
      key = "FLSMsg.ProxyMoved";
      args = {news.From, news.To};
      ShowTarget();
      KeepWebRtcAndTell(FSession->ProxyText());
      tmrTouch->SetEnabled(FSession->TouchWanted());
      break;
    case TWatchNews::NoneAnswers:
      key = "FLSMsg.NoProxyAnswers";
      args = {news.Country, news.From};
      break;
    case TWatchNews::Back:
      key = "FLSMsg.ProxyBack";
      args = {news.From};
      break;
  }
  FWatchNote = CLEngine->GetAppStringEx(key, args);
  if (frmFlashForm)
    frmFlashForm->SetTextInfo(FWatchNote, news.Kind == TWatchNews::NoneAnswers ? 255 : 0);
  ShowTrayState();
}

void TfrmMain::actStopHideExecute(TBasicAction*) { StopHide(false); }

void TfrmMain::StopHide(bool bypassGuard) {
  if (!FSession) return;
  if (bypassGuard)
    FSession->ArmGuard();
  else if (!ActionGuard())
    return;
  if (frmFlashForm) {
    frmFlashForm->SetIPInfoA("Local", "100", "100");
    frmFlashForm->SetIPInfoA("Target", "100", "100");
    frmFlashForm->Fade("Target", false, 0);
    frmFlashForm->TurnLocal();
  }
  if (btnHide) {
    btnHide->SetAction(actVeilIP);
    VeilIP1->SetAction(btnHide->Action());
  }
  FSession->Stop();
  PutBackWebRtcAndClear();
  if (tmrChangeIP) tmrChangeIP->SetEnabled(false);
  if (tmrTouch) tmrTouch->SetEnabled(false);
  if (tmrWatch) tmrWatch->SetEnabled(false);
  FWatchNote.clear();
  if (frmFlashForm && CLEngine)
    frmFlashForm->SetTextInfo(CLEngine->GetAppString("FLSMsg.Ready"), 16711680);
  ShowTrayState();
}

void TfrmMain::ResetCountryDisp() {
  const std::string country = FProxyManager ? FProxyManager->FTargetCountry : std::string();
  LoadFlag(country);
  if (country == "UN")
    lblIPCountry->SetCaption(CLEngine ? CLEngine->GetAppString("Country.AutoSelected")
                                      : std::string("Auto Selected"));
  else
    lblIPCountry->SetCaption(FProxyManager ? FProxyManager->GetCountryLong(country)
                                           : std::string());
}

// --- life cycle ------------------------------------------------------------------------------------

void TfrmMain::LoadSettings() {
  TCLSettings* s = GetCLSettings();
  cbAutorun->SetChecked(s->GetSettingBool("AutoRun"));
  cbChangeIP->SetChecked(s->GetSettingBool("ChangeIP"));
  cbClearCookie->SetChecked(s->GetSettingBool("ClearCookie"));
  edtChangeIPTime->SetValue(s->GetSettingInteger("ChangeIPTime"));
  // The check box's handler runs only on a change of state; the timer
  // follows the option in either case.
  ResetChangeIPTime();
}

void TfrmMain::ResetChangeIPTime() {
  if (FSession) FSession->RestartChangeCount();
  tmrChangeIP->SetEnabled(cbChangeIP->Checked());
}

void TfrmMain::CheckLocalIP() {
  if (!FProxyManager || !IsUnavailableLocalInfo(FProxyManager->FLocalInfo)) return;
  Trace("Local information in an unavailable country");
  ShowPlainMessage(CountryUnavailableMessage);
  Close();
}

void TfrmMain::PlaceWindow() { PlaceFlashForm(pnlFlash); }

void TfrmMain::PlaceFlashForm(QWidget* aContainer) {
  auto* popup = new TfrmFlashForm(this);
  frmFlashForm = popup;
  popup->AfterConstruction();
  // Without its border, inside the container, filling it.
  popup->setParent(aContainer, Qt::Widget);
  popup->setGeometry(aContainer->rect());
  popup->show();
}

void TfrmMain::ClearAllWindow() {
  if (!frmFlashForm) return;
  TfrmFlashForm* popup = frmFlashForm;
  popup->setParent(nullptr);
  frmFlashForm = nullptr;
  delete popup;
}

void TfrmMain::TestIPfromLocal() {
  auto* w = new TfrmTesting(this);
  w->AfterConstruction();
  w->ShowModal();
  delete w;
}

void TfrmMain::LocalInfoGot(TProxyManager*) {
  // The country gate on the real IP.
  CheckLocalIP();
  // The flag: local folder, else the web address.
  const TLocalInfo info = TLocalInfo::Read(FProxyManager->FLocalInfo);
  const std::string flag = LocalInfoFlag(info.CountryShort);
  // Both cards show the real location until the first hide.
  if (frmFlashForm) {
    frmFlashForm->SetIPInfo("Local", "True", flag, info.IP, info.CountryLong, info.City, "100",
                            "100");
    frmFlashForm->SetIPInfo("Target", "", flag, info.IP, info.CountryLong, info.City, "100", "100");
    frmFlashForm->SetTextInfo("", 0);
    frmFlashForm->SetTextInfo(CLEngine->GetAppString("FLSMsg.Ready"), 16711680);
  }
  // The local information is in: hiding may start.
  FLocalInfoGot = true;
  if (FServiceStatus) FServiceStatus->Answered();
  Trace("Local information shown: " + info.IP + " " + info.CountryShort);
  ShowTrayState();
}

// --- timers ------------------------------------------------------------------------------------------

void TfrmMain::tmrInitTimer(TTimer*) {
  if (!FProxyManager) return;
  // After a change of service the lists are those of its first answer.
  if (FListsAfterUpdate >= 0) {
    if (GetCLSettings()->GetSettingInteger("Update.Times") == FListsAfterUpdate) return;
    FListsAfterUpdate = -1;
  }
  // Loading appends to the lists: while the normal list is still empty,
  // what an earlier tick read (super proxies) is read afresh instead of
  // being added a second time.
  FProxyManager->FNormalProxyList.Clear();
  FProxyManager->FSuperProxyList.Clear();
  if (!FProxyManager->LoadSettings()) return;
  tmrInit->SetEnabled(false);
  Trace("Proxy lists loaded: " + std::to_string(FProxyManager->FNormalProxyList.Count()) +
        " normal, " + std::to_string(FProxyManager->FSuperProxyList.Count()) + " super");
  ResetCountryDisp();
  if (GetCLSettings()->GetSettingBool("TestIPfromLocal")) TestIPfromLocal();
}

void TfrmMain::tmrChangeIPTimer(TTimer*) {
  if (!FSession->ChangeDue(edtChangeIPTime->Value())) return;
  actVeilIP->Execute();
  if (cbClearCookie->Checked()) FSession->ClearCookies();
}

void TfrmMain::tmrTouchTimer(TTimer*) { FSession->TouchIfDue(); }

void TfrmMain::tmrWatchTimer(TTimer*) { FSession->WatchTick(); }

// --- options -------------------------------------------------------------------------------------------

void TfrmMain::cbAutorunClick(TCheckBox*) {
  const bool on = cbAutorun->Checked();
  Store([on](TCLSettings* s) { s->SetSettingBool("AutoRun", on); });
  SetAutoRun(on, GetCLSettings()->GetSettingString("App.Name"), GetModulePath());
}

void TfrmMain::cbChangeIPClick(TCheckBox*) {
  const bool on = cbChangeIP->Checked();
  Store([on](TCLSettings* s) { s->SetSettingBool("ChangeIP", on); });
  ResetChangeIPTime();
}

void TfrmMain::cbClearCookieClick(TCheckBox*) {
  const bool on = cbClearCookie->Checked();
  Store([on](TCLSettings* s) { s->SetSettingBool("ClearCookie", on); });
}

void TfrmMain::edtChangeIPTimeChange(TSpinEdit*) {
  const int minutes = edtChangeIPTime->Value();
  Store([minutes](TCLSettings* s) { s->SetSettingInteger("ChangeIPTime", minutes); });
  ResetChangeIPTime();
}

void TfrmMain::imgFLClick(TImage*) { actChooseIPCountry->Execute(); }

// --- commands ------------------------------------------------------------------------------------------

void TfrmMain::actChooseIPCountryExecute(TBasicAction*) {
  if (!CLEngine->AppWaitFirstUpdate() || !FLocalInfoGot) {
    RefuseNotReady();
    return;
  }
  // Confirming a country always hides through it, also when the window
  // was not hiding.
  if (ShowChooseIPCountry(this, FProxyManager.get())) {
    ResetCountryDisp();
    actVeilIPExecute(nullptr);
  }
}

void TfrmMain::actSettingsExecute(TBasicAction*) {
  ShowSettings(this);
  cbAutorun->SetChecked(GetCLSettings()->GetSettingBool("AutoRun"));
  ServiceChanged();
}

void TfrmMain::RefuseNotReady() {
  const std::string refusal = FServiceStatus ? FServiceStatus->RefusalText() : std::string();
  if (refusal.empty()) {
    CLEngine->ShowMessageEx("MSGBox.CHKNET", {}, 0, mtError, mbOK);
  } else {
    ShowPlainMessage(refusal);
    // A try is already scheduled; asking now would only put it off.
    return;
  }
  FProxyManager->GetCurrentLocalInfo();
}

void TfrmMain::ServiceChanged() {
  TCLSettings* settings = GetCLSettings();
  const std::string service = settings->GetSettingString("URL.Service");
  if (service == FServiceAddress || !FProxyManager) return;
  FServiceAddress = service;
  Trace("Service address changed to " + service);
  // The local information and the lists come again from the new service.
  if (FServiceStatus) FServiceStatus->Answered();
  FLocalInfoGot = false;
  if (frmFlashForm) frmFlashForm->SetTextInfo(CLEngine->GetAppString("FLSMsg.Verifing"), 0);
  FProxyManager->GetCurrentLocalInfo();
  FListsAfterUpdate = settings->GetSettingInteger("Update.Times");
  tmrInit->SetEnabled(true);
  // The lists wait for the new service's first answer: its check runs now,
  // whatever the schedule of the automatic check says.
  CLEngine->AppUpdateAuto(true);
}

void TfrmMain::actCheckIPInfoExecute(TBasicAction*) {
  CLEngine->ShowPageByURL(GetCLSettings()->GetSettingString("URL.CheckIP"));
}

void TfrmMain::actHelpCenterExecute(TBasicAction*) { CLEngine->ShowPage("help"); }

void TfrmMain::actHomePageExecute(TBasicAction*) { CLEngine->ShowPage("home"); }

void TfrmMain::actUpdateExecute(TBasicAction*) { CLEngine->AppUpdate(true); }

void TfrmMain::actAboutExecute(TBasicAction*) { CLEngine->AppAbout(); }
