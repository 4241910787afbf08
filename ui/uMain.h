// The main window: the hide and stop-hide commands, the display of the
// target country, the start-up sequence, the arrival of the user's own IP
// information, the three timers, the options on the window's face,
// always-on-top, the tray icon and its menu, and the commands that open the
// country dialog, the settings dialog, web pages, update and about.
//
// The window owns the one proxy manager, the popup, and the application-wide
// skin data and translation data that every other window refers to.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "vcl/Forms.h"
#include "vcl/spSkinForm.h"

class TAction;
class TActionManager;
class TBasicAction;
class TButton;
class TCheckBox;
class TCLEngine;
class TCLForm;
class TCLMultiLang;
class TCLMultiLangData;
class TCLSettings;
class TImage;
class TLabel;
class TMenuItem;
class TPanel;
class TPopupMenu;
class TProxyManager;
class TServiceStatus;
class TSingleDownloader;
class TSpinEdit;
class TspCompressedStoredSkin;
class TspResourceStrData;
class TspSkinData;
class TspTrayIcon;
class TTimer;
class TfrmFlashForm;
class THideSession;
struct TWatchNews;

// The clock of the main window: now as a date-time value in days (the
// platform's local time by default). The guard, the change-IP count and the
// touch count read it; tests replace it.
std::function<double()>& MainClock();

class TfrmMain : public TForm {
  Q_OBJECT
 public:
  explicit TfrmMain(TCLComponent* AOwner = nullptr);
  // FormDestroy: stops hiding (without the one-second guard), stores the
  // target country, frees the popup and the proxy manager.
  ~TfrmMain() override;
  std::string ClassName() const override { return "TfrmMain"; }

  TCLEngine* Engine() const { return CLEngine; }
  TCLMultiLangData* LanguageData() const { return CLMultiLangData; }
  TspSkinData* SkinData() const { return spSkinData; }
  TProxyManager* ProxyManager() const { return FProxyManager.get(); }
  // The hide session the window draws (none in a window built for its texts).
  THideSession* Session() const { return FSession.get(); }

  // --- hide and stop ------------------------------------------------------------------------
  void actVeilIPExecute(TBasicAction* Sender);
  void actStopHideExecute(TBasicAction* Sender);
  // Whether the session is hiding (btnHide then carries actStopHide).
  bool IsHiding() const;
  void ResetCountryDisp();
  void LoadFlag(const std::string& aCountryName);
  // False (picture unchanged) when the file is not a readable picture.
  bool LoadPNG(const std::string& aFileName);
  void sdFlagDoneFile(TSingleDownloader* Sender, const std::string& strFileName, int64_t iFileSize);

  // --- life cycle, timers, options ------------------------------------------------------------------
  void LoadSettings();
  void ResetChangeIPTime();
  void SetAOT();
  void CheckLocalIP();
  void PlaceWindow();
  void PlaceFlashForm(QWidget* aContainer);
  void ClearAllWindow();
  void TestIPfromLocal();
  void LocalInfoGot(TProxyManager* Sender);

  void tmrInitTimer(TTimer* Sender);
  void tmrChangeIPTimer(TTimer* Sender);
  void tmrTouchTimer(TTimer* Sender);
  void tmrWatchTimer(TTimer* Sender);
  // What the watch of the proxy found, in the popup and the tray tooltip.
  void WatchNews(const TWatchNews& news);
  void cbAutorunClick(TCheckBox* Sender);
  void cbChangeIPClick(TCheckBox* Sender);
  void cbClearCookieClick(TCheckBox* Sender);
  void edtChangeIPTimeChange(TSpinEdit* Sender);
  void imgFLClick(TImage* Sender);
  void spTrayIconClick(TspTrayIcon* Sender);
  // The tray icon's picture and tooltip for the current state: hiding (the
  // mark; the proxy's country and address) or not (the open gate; the
  // user's own country and address, once known).
  void ShowTrayState();
  // What the session offers decides what the system menu shows: Exit where
  // there is no tray, no "Always on top" where the compositor decides the
  // stacking. Run at creation and each time the menu opens.
  void UpdateSessionItems();
  void spDynamicSkinFormObjectCommand(TspDynamicSkinForm* Sender, TStdCommand Command,
                                      bool& bCancel);

  void actChooseIPCountryExecute(TBasicAction* Sender);
  void actSettingsExecute(TBasicAction* Sender);
  void actCheckIPInfoExecute(TBasicAction* Sender);
  void actHelpCenterExecute(TBasicAction* Sender);
  void actHomePageExecute(TBasicAction* Sender);
  void actUpdateExecute(TBasicAction* Sender);
  void actAboutExecute(TBasicAction* Sender);
  void actOpenExecute(TBasicAction* Sender);
  void actAlwaysOnTopExecute(TBasicAction* Sender);
  void actExitExecute(TBasicAction* Sender);

  // --- fields --------------------------------------------------------------------------------
  std::unique_ptr<TProxyManager> FProxyManager;
  std::unique_ptr<THideSession> FSession;
  bool FLocalInfoGot = false;
  // Whether the service answers; the popup's status line while it does not.
  TServiceStatus* FServiceStatus = nullptr;

  // --- components, in creation order ---------------------------------------------------------
  TspCompressedStoredSkin* spCompressedStoredSkin = nullptr;
  TspResourceStrData* spResourceStrData = nullptr;
  TspSkinData* spSkinData = nullptr;
  TCLMultiLangData* CLMultiLangData = nullptr;
  TCLEngine* CLEngine = nullptr;

  TActionManager* actmgr = nullptr;
  TAction* actVeilIP = nullptr;
  TAction* actStopHide = nullptr;
  TAction* actChooseIPCountry = nullptr;
  TAction* actSettings = nullptr;
  TAction* actCheckIPInfo = nullptr;
  TAction* actHelpCenter = nullptr;
  TAction* actHomePage = nullptr;
  TAction* actUpdate = nullptr;
  TAction* actAbout = nullptr;
  TAction* actOpen = nullptr;
  TAction* actAlwaysOnTop = nullptr;
  TAction* actExit = nullptr;

  TPopupMenu* pmSys = nullptr;
  TMenuItem* AlwaysOnTop1 = nullptr;
  TMenuItem* N1 = nullptr;
  TMenuItem* Settings1 = nullptr;
  TMenuItem* Update1 = nullptr;
  TMenuItem* N2 = nullptr;
  TMenuItem* HomePage1 = nullptr;
  TMenuItem* HelpCenter1 = nullptr;
  TMenuItem* About1 = nullptr;
  // Exit in the system menu, shown where the session has no tray (whose
  // menu otherwise carries it).
  TMenuItem* N5 = nullptr;
  TMenuItem* Exit2 = nullptr;

  TPopupMenu* pmTray = nullptr;
  TMenuItem* Open1 = nullptr;
  TMenuItem* VeilIP1 = nullptr;
  TMenuItem* CheckIPInfo1 = nullptr;
  TMenuItem* ChooseIPCountry1 = nullptr;
  TMenuItem* N3 = nullptr;
  TMenuItem* Settings2 = nullptr;
  TMenuItem* Update2 = nullptr;
  TMenuItem* N4 = nullptr;
  TMenuItem* HomePage2 = nullptr;
  TMenuItem* HelpCenter2 = nullptr;
  TMenuItem* About2 = nullptr;
  TMenuItem* Exit1 = nullptr;

  TspTrayIcon* spTrayIcon = nullptr;
  TspDynamicSkinForm* spDynamicSkinForm = nullptr;
  TCLMultiLang* CLMultiLang = nullptr;
  TCLForm* CLForm = nullptr;

  TPanel* pnlFlash = nullptr;
  TButton* btnHide = nullptr;
  TButton* btnChooseIP = nullptr;
  TButton* btnSettings = nullptr;
  TPanel* pnlSettings = nullptr;
  TLabel* lblFake = nullptr;
  TImage* imgFL = nullptr;
  TLabel* lblIPCountry = nullptr;
  TCheckBox* cbAutorun = nullptr;
  TCheckBox* cbChangeIP = nullptr;
  TSpinEdit* edtChangeIPTime = nullptr;
  TCheckBox* cbClearCookie = nullptr;

  TTimer* tmrInit = nullptr;
  TTimer* tmrChangeIP = nullptr;
  TTimer* tmrTouch = nullptr;
  TTimer* tmrWatch = nullptr;
  // The last word of the watch while hiding; empty when there is none.
  std::string FWatchNote;
  std::unique_ptr<TSingleDownloader> sdFlag;

 protected:
  void FormCreate() override;
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Writes a setting; a file that cannot be written keeps the value in
  // memory for this run (the store reports it, the window goes on).
  static void Store(const std::function<void(TCLSettings*)>& write);
  // The one-second guard of both commands: false (after the box) when the
  // last accepted command lies within the same whole second.
  bool ActionGuard();
  void StopHide(bool bypassGuard);
  // The popup's target card shows the proxy in use.
  void ShowTarget();
  void CLEngineCmdFile(const std::string& strFileName);
  std::string PopupFlag(const std::string& aCode) const;
  std::string LocalInfoFlag(const std::string& aCode) const;
  // The refusal of a command that needs the service's data: names the
  // service and the reason when the service is unreached.
  void RefuseNotReady();
  // After the settings dialog: a new service address fetches the local
  // information and the lists again.
  void ServiceChanged();
  std::string FServiceAddress;
  // Update.Times when the service changed; the lists are read again once a
  // later update answer has arrived (-1: not waiting).
  int FListsAfterUpdate = -1;
  TAction* NewAction(const char* name, const char* caption,
                     void (TfrmMain::*handler)(TBasicAction*));
  TMenuItem* NewItem(TPopupMenu* menu, const char* name, TAction* action);
  // The application is terminating (its message loop is asked to end):
  // the windows it closes on the way are not sent to the tray.
  bool FQuitting = false;
};

// The application's main window while it exists.
extern TfrmMain* frmMain;
