#include "framework/qt/CLEngine.h"

#include <QApplication>
#include <QGuiApplication>
#include <QSocketNotifier>
#if QT_CONFIG(sessionmanager)
#include <QSessionManager>
#endif

#include <algorithm>
#include <chrono>
#include <cmath>
#include <map>
#include <stdexcept>

#include "framework/CLConst.h"
#include "framework/CLSettings.h"
#include "framework/CLURL.h"
#include "framework/WinVersion.h"
#include "framework/lang/CLMultiLang.h"
#include "framework/qt/CLMain.h"
#include "framework/qt/windows/CLFrameworkWindows.h"
#include "framework/qt/windows/CLMessageBox.h"
#include "net/CLDebugLog.h"
#include "net/CLUtils.h"
#include "platform/Files.h"
#include "vcl/ActnList.h"
#include "vcl/Forms.h"
#include "vcl/WebHosts.h"
#include "vcl/spSkinData.h"
#include "vcl/spSkinForm.h"

namespace {
TCLEngine* GEngine = nullptr;

// The about window lives for the rest of the process once created; when it
// is a Qt object, the guard notices that it went with its owner.
ICLAboutWindow* GAboutWindow = nullptr;
QPointer<QObject> GAboutGuard;
bool GAboutGuarded = false;

ICLAboutWindow* AboutWindow() {
  if (GAboutGuarded && !GAboutGuard) GAboutWindow = nullptr;
  return GAboutWindow;
}

std::string StripLastExt(const std::string& name) {
  const size_t dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

// File names of the folder matching the mask, in case-insensitive order.
std::vector<std::string> SortedFiles(const std::string& folder, const std::string& mask) {
  std::vector<std::string> files = platform::ListFiles(folder, mask);
  std::stable_sort(files.begin(), files.end(), [](const std::string& a, const std::string& b) {
    return CompareText(a, b) < 0;
  });
  return files;
}

// The file of that name in the folder, found without regard to letter case
// as the file system of Windows does; empty when there is none.
std::string FindFileNoCase(const std::string& folder, const std::string& fileName) {
  if (platform::FileExists(folder + fileName)) return folder + fileName;
  if (fileName.find_first_of("*?") != std::string::npos) return std::string();
  const std::vector<std::string> hits = platform::ListFiles(folder, fileName);
  return hits.empty() ? std::string() : folder + hits.front();
}

// A list name as a menu caption: a literal "&" is doubled.
std::string MenuCaption(const std::string& name) { return StringReplaceAll(name, "&", "&&"); }
std::string MenuName(const std::string& caption) { return StringReplaceAll(caption, "&&", "&"); }
}  // namespace

TCLEngine* GetCLEngine() { return GEngine; }

bool& CLDesigning() {
  static bool designing = false;
  return designing;
}

std::function<uint32_t()>& TCLEngine::TickCount() {
  static std::function<uint32_t()> clock = [] {
    using namespace std::chrono;
    return static_cast<uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
  };
  return clock;
}

namespace {
TForm* RequireForm(TForm* AOwner) {
  if (!AOwner) throw std::invalid_argument("Invalid type cast: the engine's owner must be a form");
  return AOwner;
}
QWidget* RequireWidget(QWidget* AOwner) {
  if (!AOwner) throw std::invalid_argument("Invalid type cast: the engine's owner must be a form");
  return AOwner;
}
}  // namespace

TCLEngine::TCLEngine(TForm* AOwner) : QObject(RequireForm(AOwner)), TCLComponent(AOwner) {
  Create(AOwner, AOwner->ClassName());
}

TCLEngine::TCLEngine(QWidget* AOwner, const std::string& formClassName)
    : QObject(RequireWidget(AOwner)), TCLComponent(dynamic_cast<TForm*>(AOwner)) {
  Create(AOwner, formClassName);
}

void TCLEngine::Create(QWidget* AOwner, const std::string& formClassName) {
  FForm = AOwner;
  FOwnerForm = dynamic_cast<TForm*>(AOwner);
  FTitleIncludeVer = true;
  FInInited = true;

  FWM_CL_GET_APPID = platform::RegisterMessage(CLConst::WM_CL_GET_APPID);
  FWM_CL_CLOSE_APP = platform::RegisterMessage(CLConst::WM_CL_CLOSE_APP);
  FWM_CL_INITPOST = platform::RegisterMessage(CLConst::WM_CL_INITPOST);
  FWM_CL_CMDPARAM = platform::RegisterMessage(CLConst::WM_CL_CMDPARAM);
  FWM_CL_IF_BUSY = platform::RegisterMessage(CLConst::WM_CL_IF_BUSY);
  FWM_CL_BRING_TO_FRONT = platform::RegisterMessage(CLConst::WM_CL_BRING_TO_FRONT);
  FWM_CL_FORCE_FOREGROUND = platform::RegisterMessage(CLConst::WM_CL_FORCE_FOREGROUND);
  FWM_CL_ACTIVATION_TOKEN = platform::RegisterMessage(CLConst::WM_CL_ACTIVATION_TOKEN);

  FSettingDefault.Add("Path.Skins=skins");
  FSettingDefault.Add("Path.Languages=lang");
  if (!GEngine) GEngine = this;
  RegisterSettingsEngine(this);
  FDebug = CLDebugMode();
  GAboutWindow = nullptr;
  GAboutGuard = nullptr;
  GAboutGuarded = false;
  FSkinMessageBoxes = std::make_unique<TCLSkinMessageBoxes>(FOwnerForm);
  // The line an embedded browser shows in place of a page it cannot show
  // speaks the language of the engine in use.
  SetWebBrowserTexts([](const std::string& key, const std::vector<std::string>& args) {
    TCLEngine* engine = GetCLEngine();
    return engine ? engine->GetLibStringEx(key, args) : std::string();
  });
  // The engine sits on the main window, whose closing ends the application.
  if (FOwnerForm && !TForm::MainForm()) TForm::SetMainForm(FOwnerForm);

  if (!CLDesigning()) {
    // Hook the window: publish it to other instances and answer their
    // requests from this thread's event loop.
    FEndpoint =
        platform::CreateInstanceEndpoint(formClassName, [this](const platform::InstanceMessage& m) {
          return WndProc(m);
        });
    if (FEndpoint && FEndpoint->fd() >= 0) {
      FNotifier = new QSocketNotifier(FEndpoint->fd(), QSocketNotifier::Read, this);
      connect(FNotifier, &QSocketNotifier::activated, this, [this] {
        if (FEndpoint) FEndpoint->ProcessPending();
      });
    }
#ifdef Q_OS_WIN
    // Other instances force the form itself to the front, not the endpoint.
    if (FEndpoint && FForm) FEndpoint->SetNativeWindow(static_cast<uintptr_t>(FForm->winId()));
#endif
#if QT_CONFIG(sessionmanager)
    // The session manager's request to save before the session ends is
    // this platform's end-of-session query.
    if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
      connect(app, &QGuiApplication::commitDataRequest, this,
              [this](QSessionManager&) { QueryEndSession(); });
#endif
  }
  // A window still being built loads its components when it is complete;
  // an engine added to a finished window loads at once.
  if (!Loading()) Loaded();
}

TCLEngine::~TCLEngine() {
  if (GEngine == this) GEngine = nullptr;
  if (FNotifier) FNotifier->setEnabled(false);
  FEndpoint.reset();
  UnregisterSettingsEngine(this);
  // Downloads still running are detached: their end is never reported.
  FDownloaderList.clear();
  FDownloadCacheList.Clear();
}

const TCLPropTable& TCLEngine::PropTable() const {
  using E = TCLEngine;
  static const TCLPropTable table =
      TCLPropBuilder<E>(&TCLComponent::ComponentProps())
          .Object<TspSkinData>("SkinData", "TspSkinData", &E::SkinData, &E::SetSkinData)
          .Object<TspDynamicSkinForm>("SkinForm", "TspDynamicSkinForm", &E::SkinForm,
                                      &E::SetSkinForm)
          .Object<TMenuItem>("SkinMenuItem", "TMenuItem", &E::SkinMenuItem, &E::SetSkinMenuItem)
          .Event("OnSkinChanged")
          .Object<TCLMultiLangData>("LanguageData", "TCLMultiLangData", &E::LanguageData,
                                    &E::SetLanguageData)
          .Object<TMenuItem>("LanguageMenuItem", "TMenuItem", &E::LanguageMenuItem,
                             &E::SetLanguageMenuItem)
          .Event("OnLanguageChanged")
          .Strings("SettingOverwrite", &E::GetSettingOverwrite, &E::SetSettingOverwrite)
          .Strings("SettingDefault", &E::GetSettingDefault, &E::SetSettingDefault)
          .Plain("ParentHWND", "HWND")
          .Event("OnCmdFile", "TOnCmdFile")
          .Event("OnTitleChange")
          .Plain("TitleIncludeVer", "Boolean", TCLTypeKind::Enumeration)
          .Build();
  return table;
}

void TCLEngine::Notification(TCLComponent* AComponent) {
  if (AComponent == FSkinData) SetSkinData(nullptr);
  if (AComponent == FSkinForm) FSkinForm = nullptr;
  if (AComponent == FLanguageData) FLanguageData = nullptr;
  if (AComponent == FSkinMenuItem) FSkinMenuItem = nullptr;
  if (AComponent == FLanguageMenuItem) FLanguageMenuItem = nullptr;
  if (AComponent == FDefaultSkin) FDefaultSkin = nullptr;
  std::erase(FSkinMenuItems, AComponent);
  std::erase(FLanguageMenuItems, AComponent);
  if (FSkinMessageBoxes) FSkinMessageBoxes->Forget(AComponent);
}

void TCLEngine::SetSkinData(TspSkinData* Value) {
  FSkinData = Value;
  if (FSkinMessageBoxes) FSkinMessageBoxes->SetSkinData(Value);
}

// --- settings layers ----------------------------------------------------------------------

namespace {
bool FindIn(const TStringList& list, const std::string& name, std::string& value) {
  const int i = list.IndexOfName(name);
  if (i < 0) return false;
  value = list.ValueFromIndex(i);
  return true;
}
}  // namespace

bool TCLEngine::FindOverride(const std::string& name, std::string& value) const {
  return FindIn(FSettingOverwrite, name, value);
}
bool TCLEngine::FindDefault(const std::string& name, std::string& value) const {
  return FindIn(FSettingDefault, name, value);
}

void TCLEngine::WriteSetting(const std::string& name, const std::string& value) {
  try {
    GetCLSettings()->SetSettingString(name, value);
  } catch (const ECLSettingsWriteError& e) {
    // The choice holds for this run; the file keeps the previous one.
    Trace("Setting not written: " + name + " (" + e.Reason() + ")");
  }
}

void TCLEngine::Trace(const std::string& line) const { CLDebugLog::Write("CLEngine", line); }

// --- loading and post-initialisation ------------------------------------------------------

void TCLEngine::Loaded() {
  if (CLDesigning()) return;
  TCLSettings* settings = GetCLSettings();
  FInLoaded = true;
  if (FSkinData) {
    FDefaultSkin = FSkinData->CompressedStoredSkin();
    FDefaultSkinForm = FSkinData->SkinnableForm();
    SetSkin(settings->GetSettingString("Skin"));
    if (FSkinMenuItem) BuildMenu(FSkinMenuItem, FSkinMenuItems, GetSkinList(), FSkin, true);
  }
  if (FLanguageData) {
    std::string language = settings->GetSettingString("Language");
    if (language.empty()) language = "English";
    SetLanguage(language);
    if (FLanguageMenuItem)
      BuildMenu(FLanguageMenuItem, FLanguageMenuItems, GetLanguageList(), FLanguage, false);
  }
  FInLoaded = false;
  PostMessage(FWM_CL_INITPOST);
}

void TCLEngine::InitPost() {
  if (OnLanguageChanged) OnLanguageChanged(this);
  if (OnSkinChanged) OnSkinChanged(this);
  UpdateTitle();
  // The automatic update check waits until the window is on the screen:
  // its request loads the network module, which the window does not need.
  if (GetCLSettings()->GetSettingBool("Update.BeginAuto")) {
    if (FOwnerForm)
      FOwnerForm->AfterFirstPaint([this] { AppUpdateAuto(); });
    else
      AppUpdateAuto();
  }
  // A plain first parameter of our own command line becomes the pending
  // command parameter, exactly as one handed over by a later start.
  const QStringList args = QCoreApplication::arguments();
  if (args.size() > 1) {
    const QString first = args.at(1);
    if (!first.startsWith('-') && !first.startsWith('/')) {
      FParamFile = first.toStdString();
      PostMessage(FWM_CL_CMDPARAM);
    }
  }
  // A splash shown for a hidden start would never lose activation.
  if (FForm && !FForm->isVisible()) SplashClose();
  FInInited = false;
  Trace("Post-initialisation done");
}

void TCLEngine::SplashClose() { CLCloseSplash(); }

// --- skins ------------------------------------------------------------------------------------

std::string TCLEngine::SkinPath() const {
  return IncludeBackslash(JoinPath(GetAppPath(), GetCLSettings()->GetSettingString("Path.Skins")));
}

std::string TCLEngine::LanguagePath() const {
  return IncludeBackslash(
      JoinPath(GetAppPath(), GetCLSettings()->GetSettingString("Path.Languages")));
}

void TCLEngine::SetSkin(const std::string& Value) {
  if (!FSkinData) return;
  const std::string name = Value.empty() ? "Default" : Value;
  if (name == FSkin) return;

  const std::string folder = SkinPath();
  std::string file = FindFileNoCase(folder, name + ".skn");
  bool skinnable = true;
  if (file.empty()) {
    file = FindFileNoCase(folder, name + ".nsf.skn");
    skinnable = false;
  }
  bool loaded = false;
  bool failed = false;
  if (!file.empty()) {
    FSkinData->SetCompressedStoredSkin(nullptr);
    FSkinData->SetSkinnableForm(skinnable);
    loaded = FSkinData->LoadFromCompressedFile(file);
    // A file that is not a skin counts as missing.
    failed = !loaded;
    if (failed) Trace("Skin file unreadable: " + file);
  }
  if (loaded) {
    FSkin = name;
  } else {
    if (!FSkin.empty() || failed) {
      if (FDefaultSkin)
        FSkinData->SetCompressedStoredSkin(FDefaultSkin);
      else
        FSkinData->ClearSkin();
      FSkinData->SetSkinnableForm(FDefaultSkinForm);
    }
    FSkin = "Default";
  }
  if (IsWindowsVista64()) {
    FSkinData->SetShowButtonGlowFrames(false);
    FSkinData->SetShowCaptionButtonGlowFrames(false);
  }
  WriteSetting("Skin", FSkin);
  TickMenu(FSkinMenuItems, FSkin);
  Trace("Skin: " + FSkin);
  if (!FInLoaded && OnSkinChanged) OnSkinChanged(this);
}

const TStringList& TCLEngine::GetSkinList() {
  if (FSkinListBuilt) return FSkinList;
  FSkinListBuilt = true;
  FSkinList.Add("Default");
  for (const std::string& f : SortedFiles(SkinPath(), "*.skn")) {
    const std::string name = StripLastExt(StripLastExt(f));
    if (SameText(name, "Default")) continue;
    FSkinList.Add(name);
  }
  return FSkinList;
}

// --- languages ------------------------------------------------------------------------------------

void TCLEngine::SetLanguage(const std::string& Value) {
  if (!FLanguageData) return;
  const std::string name = Value.empty() ? "Default" : Value;
  if (name == FLanguage) return;

  const std::string file = FindFileNoCase(LanguagePath(), name + ".lan");
  bool loaded = false;
  if (!file.empty()) {
    try {
      FLanguageData->LoadCurrentFromFile(file);
      loaded = true;
    } catch (const std::exception& e) {
      // A file that cannot be read counts as missing.
      Trace(std::string("Language file unreadable: ") + e.what());
    }
  }
  if (loaded) {
    FLanguage = name;
  } else {
    if (!FLanguage.empty()) FLanguageData->ClearCurrentAll();
    FLanguage = "English";
  }
  WriteSetting("Language", FLanguage);
  TickMenu(FLanguageMenuItems, FLanguage);
  if (FSkinData && FSkinData->ResourceStrData()) ApplySkinTexts();
  Trace("Language: " + FLanguage);
  if (!FInLoaded && OnLanguageChanged) OnLanguageChanged(this);
  UpdateTitle();
}

// The skin library's texts (message-box buttons and captions) in the
// language: the language's "SkinRes" names are added to the library's table,
// and a name the table holds with the library's built-in English text, or
// with the text an earlier language put there, takes the language's text; a
// text the skin itself changed stays. Names the language lacks go back to
// their built-in text.
void TCLEngine::ApplySkinTexts() {
  TStringList& table = FSkinData->ResourceStrData()->ResStrings();
  TStringList language;
  FLanguageData->GetSectionStrings("SkinRes", language);
  std::map<std::string, std::string> applied;
  auto ours = [&](const std::string& name) {
    const int i = table.IndexOfName(name);
    if (i < 0) return true;
    const std::string current = table.ValueFromIndex(i);
    const auto before = FSkinTexts.find(name);
    return current == TspResourceStrData::BuiltInStr(name) ||
           (before != FSkinTexts.end() && before->second == current);
  };
  for (int i = 0; i < language.Count(); ++i) {
    const std::string name = language.Names(i);
    const std::string value = language.ValueFromIndex(i);
    // An empty text would leave a button without words: the built-in stays.
    if (value.empty() || !ours(name)) continue;
    table.SetValue(name, value);
    applied[name] = value;
  }
  for (const auto& [name, value] : FSkinTexts)
    if (!applied.count(name) && ours(name))
      table.SetValue(name, TspResourceStrData::BuiltInStr(name));
  FSkinTexts = std::move(applied);
}

const TStringList& TCLEngine::GetLanguageList() {
  if (FLanguageListBuilt) return FLanguageList;
  FLanguageListBuilt = true;
  FLanguageList.Add("English");
  for (const std::string& f : SortedFiles(LanguagePath(), "*.lan")) {
    const std::string name = StripLastExt(f);
    if (SameText(name, "English")) continue;
    FLanguageList.Add(name);
  }
  return FLanguageList;
}

// --- menus ------------------------------------------------------------------------------------------

void TCLEngine::BuildMenu(TMenuItem* parent, std::vector<TMenuItem*>& items,
                          const TStringList& list, const std::string& current, bool skin) {
  if (!items.empty()) return;
  if (list.Count() <= 1) {
    parent->SetVisible(false);
    return;
  }
  for (int i = 0; i < list.Count(); ++i) {
    const std::string name = list[i];
    auto* item = new TMenuItem(this);
    item->SetCaption(MenuCaption(name));
    item->SetRadioItem(true);
    item->SetChecked(SameText(name, current));
    item->OnClick = [this, skin](TMenuItem* sender) {
      const std::string chosen = MenuName(sender->Caption());
      if (skin)
        SetSkin(chosen);
      else
        SetLanguage(chosen);
    };
    items.push_back(item);
  }
  for (TMenuItem* item : items) parent->Add(item);
}

void TCLEngine::TickMenu(const std::vector<TMenuItem*>& items, const std::string& current) {
  for (TMenuItem* item : items) item->SetChecked(SameText(MenuName(item->Caption()), current));
}

// --- texts ---------------------------------------------------------------------------------------------

std::string TCLEngine::GetLibString(const std::string& strName) {
  std::string value;
  if (FLanguageData) FLanguageData->GetProp("LibRes", "", strName, value);
  return value;
}

std::string TCLEngine::GetAppString(const std::string& strName) {
  std::string value;
  if (FLanguageData) FLanguageData->GetProp("AppRes", "", strName, value);
  return value;
}

std::string TCLEngine::GetLibStringEx(const std::string& strName,
                                      const std::vector<std::string>& Args) {
  return FormatPlaceholders(GetLibString(strName), Args);
}

std::string TCLEngine::GetAppStringEx(const std::string& strName,
                                      const std::vector<std::string>& Args) {
  return FormatPlaceholders(GetAppString(strName), Args);
}

std::string TCLEngine::GetAppName() {
  if (FLanguageData && !FLanguageData->AppName().empty()) return FLanguageData->AppName();
  return GetCLSettings()->GetSettingString("App.Name");
}

void TCLEngine::SetTitleIncludeVer(bool Value) {
  FTitleIncludeVer = Value;
  UpdateTitle();
}

void TCLEngine::UpdateTitle() {
  TCLSettings* settings = GetCLSettings();
  std::string title = GetAppName();
  if (FTitleIncludeVer) title += "  " + settings->GetSettingString("App.Ver");
  FAppTitle = title;
  if (settings->GetSettingBool("App.NoAutoTitle")) return;
  ApplicationTitle() = title;
  if (FOwnerForm)
    FOwnerForm->SetCaption(title);
  else if (FForm)
    FForm->setWindowTitle(QStr(title));
  if (OnTitleChange) OnTitleChange(this);
}

// --- message boxes ------------------------------------------------------------------------------------

ICLMessageBoxes* TCLEngine::MessageBoxes() {
  return FMessageBoxes ? FMessageBoxes : FSkinMessageBoxes.get();
}

int TCLEngine::ShowMessageEx(const std::string& strName, const std::vector<std::string>& Args,
                             int iNumber, int DlgType, unsigned Buttons, int SuppressedResult,
                             bool bLib) {
  std::string text = bLib ? GetLibString(strName) : GetAppString(strName);
  if (text.empty()) text = (bLib ? "[LibRes]" : "[AppRes]") + strName;
  text = FormatPlaceholders(text, Args);

  TCLSettings* settings = GetCLSettings();
  if (iNumber != 0 && !settings->GetMessageShowAgainFlag(iNumber))
    return SuppressedResult != 0 ? SuppressedResult : settings->GetMessageShowAgainResult(iNumber);

  TCLMessageBoxRequest request;
  request.Text = text;
  request.Caption = GetAppName();
  request.DlgType = DlgType;
  request.Buttons = Buttons;
  request.HelpCtx = 0;
  request.ShowAgainFlag = iNumber != 0;
  Trace("Message box: " + strName);
  const TCLMessageBoxReply reply = MessageBoxes()->ShowMessageBox(request);

  if (iNumber != 0 && !reply.ShowAgainFlagValue) {
    try {
      settings->SetMessageShowAgainFlag(iNumber, false);
      settings->SetMessageShowAgainResult(iNumber, reply.Result);
    } catch (const ECLSettingsWriteError& e) {
      Trace("Show-again choice not written: " + e.Reason());
    }
  }
  return reply.Result;
}

void TCLEngine::ShowErrorMessage(const std::string& strError, const std::string& strErrorParam,
                                 bool bLib) {
  ShowMessageEx(strError, {strErrorParam}, 0, 1, 4, 0, bLib);
}

// --- pages ----------------------------------------------------------------------------------------------

std::string TCLEngine::GetURL(const std::string& strPage, bool bAddParams) {
  return ::GetURL(strPage, bAddParams);
}

std::string TCLEngine::GetURLParam() { return ::GetURLParam(); }

void TCLEngine::ShowPage(const std::string& strPage) { ShowPageByURL(GetURL(strPage, true)); }

void TCLEngine::ShowPageByURL(const std::string& strURL) {
  Trace("Show page: " + strURL);
  OpenURLInBrowser(strURL);
}

void TCLEngine::WebBeforeNavigate2(const std::string& URL, bool& Cancel) {
  HandleBeforeNavigate(URL, Cancel, [this](const std::string& page) { ShowPage(page); });
}

// --- framework windows --------------------------------------------------------------------------------

void TCLEngine::AppAbout() {
  ICLAboutWindow* about = AboutWindow();
  if (!about) {
    const auto& create = CLFrameworkWindows().CreateAboutWindow;
    if (!create) return;
    about = create(FOwnerForm);
    if (!about) return;
    GAboutWindow = about;
    auto* guard = dynamic_cast<QObject*>(about);
    GAboutGuard = guard;
    GAboutGuarded = guard != nullptr;
  }
  if (about->Showing()) return;
  if (FParentHWND != 0) about->SetParentWindow(FParentHWND);
  about->ShowModal();
}

void TCLEngine::AppUpdate(bool bWait) {
  const auto& create = CLFrameworkWindows().CreateUpdateWindow;
  if (!create) return;
  ICLUpdateWindow* w = create(FOwnerForm);
  if (!w) return;
  w->StartUpdate(bWait, true, true, false, false);
  if (bWait) delete w;
}

void TCLEngine::AppUpdateAuto(bool bNow) {
  TCLSettings* settings = GetCLSettings();
  const double last = settings->GetSettingFloat("Update.LastDate");
  const double days = std::trunc(std::fabs(platform::NowLocal() - last));
  if (!bNow && days < static_cast<double>(settings->GetSettingInteger("Update.Days"))) {
    Trace("Automatic update: not due");
    return;
  }
  const auto& create = CLFrameworkWindows().CreateUpdateWindow;
  if (!create) return;
  ICLUpdateWindow* w = create(FOwnerForm);
  if (!w) return;
  const bool doUpdate = settings->GetSettingBool("Update.AutoCheck") &&
                        !settings->GetSettingBool("Update.NoAutoCheck") && settings->RunTimes() > 0;
  w->StartUpdate(false, false, doUpdate, false, settings->GetSettingBool("Update.AutoClose"));
}

bool TCLEngine::AppWaitFirstUpdate() {
  TCLSettings* settings = GetCLSettings();
  if (settings->GetSettingInteger("Update.Times") > 0) return true;
  const auto& create = CLFrameworkWindows().CreateUpdateWindow;
  if (create) {
    if (ICLUpdateWindow* w = create(FOwnerForm)) {
      w->StartUpdate(true, true, false, true, false);
      // The modal run is over; the window has nothing more to show.
      delete w;
    }
  }
  return settings->GetSettingInteger("Update.Times") > 0;
}

// --- session --------------------------------------------------------------------------------------------

void TCLEngine::QueryEndSession() {
  FQueryEndSessionTime = TickCount()();
  FQueryEndSessionSeen = true;
  Trace("End of session requested");
}

bool TCLEngine::GetSessionEnding() const {
  if (!FQueryEndSessionSeen) return false;
  const uint32_t elapsed = TickCount()() - FQueryEndSessionTime;
  return elapsed < kSessionEndingWindowMs;
}

// --- cache downloads --------------------------------------------------------------------------------------

void TCLEngine::DownloadtoCache(const std::string& strURL, const std::string& strCacheFile,
                                TOnDoneFileEvent onDone) {
  if (FDownloadCacheList.IndexOf(strURL) >= 0) return;
  auto downloader = std::make_unique<TSingleDownloader>();
  TSingleDownloader* d = downloader.get();
  FDownloaderList.push_back(std::move(downloader));
  FDownloadCacheList.Add(strURL);
  const std::string folder = ExtractFileDir(strCacheFile);
  if (!folder.empty()) platform::ForceDirectories(folder);
  d->URL = strURL;
  d->FileName = strCacheFile;
  d->OnDoneFile = std::move(onDone);
  // A failed transfer may have left a copy cut short at the cache file, and
  // a cache file that exists is shown as it is: remove it, so that the next
  // use goes to the address again. (Cancelling keeps this handler.)
  d->OnError = [strCacheFile](TSingleDownloader*) { platform::DeleteFileAt(strCacheFile); };
  Trace("Download to cache: " + strURL);
  d->GetFile();
}

void TCLEngine::DownloadtoCacheCancel(const std::string& strURL) {
  for (int i = 0; i < FDownloadCacheList.Count(); ++i)
    if (SameText(FDownloadCacheList[i], strURL))
      FDownloaderList[static_cast<size_t>(i)]->OnDoneFile = nullptr;
}
