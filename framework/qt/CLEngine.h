// The framework engine: a non-visual component on the main window that
// carries the framework's services.
//  - It answers the messages other instances of this installation send to
//    the main window (find, close, busy test, bring to front, command
//    parameter hand-over) and notices the end of the session.
//  - It holds the override and default layers of the settings store.
//  - It selects the skin and the language (files in the "Path.Skins" and
//    "Path.Languages" folders), offers both as lists and menus, and stores
//    the choice in the settings.
//  - It looks up framework and application texts by name, builds the
//    product name and the window title, and shows message boxes that the
//    user may silence.
//  - It decides when the update and about windows open and how.
//  - It downloads files into a cache for other components.
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "framework/CLSettings.h"
#include "framework/lang/CLMultiLangClasses.h"
#include "net/SingleDownloader.h"
#include "net/StringList.h"
#include "platform/Instance.h"

class QSocketNotifier;
class ICLMessageBoxes;
class TCLMultiLangData;
class TCLSkinMessageBoxes;
class TForm;
class TMenuItem;
class TspCompressedStoredSkin;
class TspDynamicSkinForm;
class TspSkinData;
class TSingleDownloader;

// Windows' message number for the end-of-session query.
inline constexpr uint32_t WM_QUERYENDSESSION_MSG = 17;
// How long after the end-of-session query the session counts as ending.
inline constexpr uint32_t kSessionEndingWindowMs = 300000;

class TCLEngine : public QObject, public TCLComponent, public ICLSettingsLayers {
  Q_OBJECT
 public:
  using TOnCmdFile = std::function<void(const std::string& strFileName)>;
  using TNotifyEvent = std::function<void(TCLEngine* Sender)>;

  // The engine of a window of the component layer; the window's class name
  // is the name other instances look for. Throws std::invalid_argument when
  // there is no window.
  explicit TCLEngine(TForm* AOwner);
  // The engine of any top-level widget, published under formClassName.
  TCLEngine(QWidget* AOwner, const std::string& formClassName);
  ~TCLEngine() override;

  std::string ClassName() const override { return "TCLEngine"; }
  const TCLPropTable& PropTable() const override;

  // Skin, then language, then menus; posts "CL InitPost".
  void Loaded() override;
  // Change events, title, automatic update, pending parameter; afterwards
  // "CL IfBusy" answers 0.
  void InitPost();
  // Closes and frees the splash window, if any.
  void SplashClose();

  bool Debug() const { return FDebug; }
  // True from creation until the post-initialisation has finished.
  bool InInited() const { return FInInited; }
  const std::string& ParamFile() const { return FParamFile; }

  // --- published properties ---------------------------------------------------------
  TspSkinData* SkinData() const { return FSkinData; }
  void SetSkinData(TspSkinData* Value);
  TspDynamicSkinForm* SkinForm() const { return FSkinForm; }
  void SetSkinForm(TspDynamicSkinForm* Value) { FSkinForm = Value; }
  TMenuItem* SkinMenuItem() const { return FSkinMenuItem; }
  void SetSkinMenuItem(TMenuItem* Value) { FSkinMenuItem = Value; }
  TCLMultiLangData* LanguageData() const { return FLanguageData; }
  void SetLanguageData(TCLMultiLangData* Value) { FLanguageData = Value; }
  TMenuItem* LanguageMenuItem() const { return FLanguageMenuItem; }
  void SetLanguageMenuItem(TMenuItem* Value) { FLanguageMenuItem = Value; }
  TStringList& SettingOverwrite() { return FSettingOverwrite; }
  TStringList& SettingDefault() { return FSettingDefault; }
  TStringList GetSettingOverwrite() const { return FSettingOverwrite; }
  TStringList GetSettingDefault() const { return FSettingDefault; }
  void SetSettingOverwrite(const TStringList& Value) { FSettingOverwrite = Value; }
  void SetSettingDefault(const TStringList& Value) { FSettingDefault = Value; }
  WId ParentHWND() const { return FParentHWND; }
  void SetParentHWND(WId Value) { FParentHWND = Value; }
  bool TitleIncludeVer() const { return FTitleIncludeVer; }
  void SetTitleIncludeVer(bool Value);

  TOnCmdFile OnCmdFile;
  TNotifyEvent OnSkinChanged;
  TNotifyEvent OnLanguageChanged;
  TNotifyEvent OnTitleChange;
  // Restores the window from the tray for "CL BringtoFront" when the window
  // has no skin form with a tray icon but can still come back by itself.
  std::function<void()> RestoreFromTray;

  // --- skin and language ------------------------------------------------------------
  const std::string& Skin() const { return FSkin; }
  void SetSkin(const std::string& Value);
  const TStringList& SkinList() { return GetSkinList(); }
  const TStringList& GetSkinList();
  const std::string& Language() const { return FLanguage; }
  void SetLanguage(const std::string& Value);
  const TStringList& LanguageList() { return GetLanguageList(); }
  const TStringList& GetLanguageList();
  // The menu items built for the lists (empty until built).
  const std::vector<TMenuItem*>& SkinMenuItems() const { return FSkinMenuItems; }
  const std::vector<TMenuItem*>& LanguageMenuItems() const { return FLanguageMenuItems; }

  // --- texts ---------------------------------------------------------------------------
  std::string GetLibString(const std::string& strName);
  std::string GetAppString(const std::string& strName);
  std::string GetLibStringEx(const std::string& strName, const std::vector<std::string>& Args);
  std::string GetAppStringEx(const std::string& strName, const std::vector<std::string>& Args);
  std::string GetAppName();
  std::string AppName() { return GetAppName(); }
  const std::string& AppTitle() const { return FAppTitle; }

  // --- message boxes ----------------------------------------------------------------------
  // Dialog types 0 warning, 1 error, 2 information, 3 confirmation, 4 custom;
  // Buttons a set (Yes 1, No 2, OK 4, Cancel 8, Abort 16, Retry 32, Ignore
  // 64, All 128, NoToAll 256, YesToAll 512, Help 1024). With iNumber not 0
  // the box offers "do not display again"; once ticked, later calls show
  // nothing and return the suppressed result (when non-zero) or the result
  // stored then.
  int ShowMessageEx(const std::string& strName, const std::vector<std::string>& Args = {},
                    int iNumber = 0, int DlgType = 2, unsigned Buttons = 4,
                    int SuppressedResult = 0, bool bLib = false);
  void ShowErrorMessage(const std::string& strError, const std::string& strErrorParam,
                        bool bLib = false);
  // Replaces the boxes (tests answer them); null gives the skinned boxes back.
  void SetMessageBoxes(ICLMessageBoxes* boxes) { FMessageBoxes = boxes; }
  TCLSkinMessageBoxes* SkinMessageBoxes() const { return FSkinMessageBoxes.get(); }

  // --- pages ------------------------------------------------------------------------------
  // The address of a page from its "URL." setting, with the parameter block
  // when bAddParams (see framework/CLURL.h).
  std::string GetURL(const std::string& strPage, bool bAddParams = true);
  std::string GetURLParam();
  // Opens the page (or the address) in the user's default browser.
  void ShowPage(const std::string& strPage);
  void ShowPageByURL(const std::string& strURL);
  // The before-navigate handler of embedded browser views: a "wcme:" link
  // is cancelled and opens its "PAGE" in the default browser instead.
  void WebBeforeNavigate2(const std::string& URL, bool& Cancel);

  // --- framework windows -------------------------------------------------------------------
  void AppAbout();
  void AppUpdate(bool bWait);
  // bNow: the check runs also when "Update.Days" says it is not due yet (the
  // service changed, and its lists must come now).
  void AppUpdateAuto(bool bNow = false);
  bool AppWaitFirstUpdate();

  // --- session ----------------------------------------------------------------------------
  bool SessionEnding() const { return GetSessionEnding(); }
  bool GetSessionEnding() const;
  // The tick clock (milliseconds, wrapping at 32 bits); tests replace it.
  static std::function<uint32_t()>& TickCount();

  // --- cache downloads ------------------------------------------------------------------------
  // Fetches strURL into strCacheFile once in the engine's life (URLs compare
  // without regard to case); onDone is called when the file is there.
  void DownloadtoCache(const std::string& strURL, const std::string& strCacheFile,
                       TOnDoneFileEvent onDone);
  // The end of that URL's download is no longer reported.
  void DownloadtoCacheCancel(const std::string& strURL);
  const TStringList& DownloadCacheList() const { return FDownloadCacheList; }

  // --- the settings layers -----------------------------------------------------------------
  bool FindOverride(const std::string& name, std::string& value) const override;
  bool FindDefault(const std::string& name, std::string& value) const override;

  // --- the window hook ----------------------------------------------------------------------
  // Answers one message of the instance protocol (or the end-of-session
  // query); returns the reply, 0 for messages it does not know.
  int64_t WndProc(const platform::InstanceMessage& message);
  // Queues a message to the engine's own window (PostMessageW).
  void PostMessage(uint32_t msg, int64_t wParam = 0, int64_t lParam = 0);

  // The registered numbers of the protocol's messages.
  uint32_t FWM_CL_GET_APPID = 0, FWM_CL_CLOSE_APP = 0, FWM_CL_INITPOST = 0, FWM_CL_CMDPARAM = 0,
           FWM_CL_IF_BUSY = 0, FWM_CL_BRING_TO_FRONT = 0, FWM_CL_FORCE_FOREGROUND = 0,
           FWM_CL_ACTIVATION_TOKEN = 0;
  // The activation token a second start handed over, used by the next
  // bring-to-front and then forgotten (a token is good for one activation).
  const std::string& ActivationToken() const { return FActivationToken; }

  void Notification(TCLComponent* AComponent) override;

 private:
  void Create(QWidget* AOwner, const std::string& formClassName);
  void QueryEndSession();
  // Activates the window once more with a pending activation token, which
  // the window system needs to give the focus to a window that the user did
  // not just click (Wayland).
  void UseActivationToken();
  void UpdateTitle();
  void ApplySkinTexts();
  void BuildMenu(TMenuItem* parent, std::vector<TMenuItem*>& items, const TStringList& list,
                 const std::string& current, bool skin);
  static void TickMenu(const std::vector<TMenuItem*>& items, const std::string& current);
  std::string SkinPath() const;
  std::string LanguagePath() const;
  void WriteSetting(const std::string& name, const std::string& value);
  ICLMessageBoxes* MessageBoxes();
  void Trace(const std::string& line) const;

  QPointer<QWidget> FForm;
  std::string FActivationToken;
  TForm* FOwnerForm = nullptr;
  bool FDebug = false;
  TStringList FSettingOverwrite;
  TStringList FSettingDefault;
  WId FParentHWND = 0;
  bool FInLoaded = false;
  std::string FParamFile;
  bool FInInited = true;
  std::string FAppTitle;
  bool FTitleIncludeVer = true;

  std::string FSkin;
  TspSkinData* FSkinData = nullptr;
  TspDynamicSkinForm* FSkinForm = nullptr;
  TStringList FSkinList;
  bool FSkinListBuilt = false;
  TspCompressedStoredSkin* FDefaultSkin = nullptr;
  bool FDefaultSkinForm = true;
  TMenuItem* FSkinMenuItem = nullptr;
  std::vector<TMenuItem*> FSkinMenuItems;

  std::string FLanguage;
  TCLMultiLangData* FLanguageData = nullptr;
  TStringList FLanguageList;
  bool FLanguageListBuilt = false;
  // The skin-library texts the current language put into the library's
  // table (see ApplySkinTexts).
  std::map<std::string, std::string> FSkinTexts;
  TMenuItem* FLanguageMenuItem = nullptr;
  std::vector<TMenuItem*> FLanguageMenuItems;

  ICLMessageBoxes* FMessageBoxes = nullptr;
  std::unique_ptr<TCLSkinMessageBoxes> FSkinMessageBoxes;

  TStringList FDownloadCacheList;
  std::vector<std::unique_ptr<TSingleDownloader>> FDownloaderList;

  bool FQueryEndSessionSeen = false;
  uint32_t FQueryEndSessionTime = 0;

  std::unique_ptr<platform::InstanceEndpoint> FEndpoint;
  QSocketNotifier* FNotifier = nullptr;
};

// The first engine created in the process; null while none exists.
TCLEngine* GetCLEngine();

// While true, windows are built as a designer would build them: their
// engine installs no hook, selects neither skin nor language and posts
// nothing (the language-file writer builds windows this way).
bool& CLDesigning();

// Writes a complete language file for translators: the reserved sections of
// baseLanguageFile (when it exists; its window sections are dropped) plus
// the texts of every window the factories build, collected as the windows'
// designs give them. The windows are built as in a designer and freed
// again. False with a message when the file cannot be written.
bool CLWriteLanguageFile(const std::string& strFileName, const std::string& baseLanguageFile,
                         const std::vector<std::function<TForm*()>>& Windows,
                         std::string& strError);
