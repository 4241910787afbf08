#include "ui/uSettings.h"

#include <QFileDialog>
#include <QShowEvent>

#include "framework/CLSettings.h"
#include "framework/lang/CLMultiLang.h"
#include "framework/qt/CLEngine.h"
#include "net/CLDebugLog.h"
#include "net/CLUtils.h"
#include "platform/Files.h"
#include "proxy/ServiceReach.h"
#include "proxy/uProxyManager.h"
#include "switch/uVGUtils.h"
#include "ui/uDesignFont.h"
#include "vcl/Controls.h"
#include "vcl/spSkinData.h"
#include "vcl/spSkinForm.h"

TfrmSettings* frmSettings = nullptr;

namespace {

// Dialog types and buttons of the engine's message boxes.
constexpr int kInformation = 2;
constexpr int kError = 1;
constexpr unsigned kOkButton = 4;

// An information box with one OK button and no show-again number.
void InfoBox(const std::string& key) {
  if (TCLEngine* engine = GetCLEngine()) engine->ShowMessageEx(key, {}, 0, kInformation, kOkButton);
}

TCheckBox* NewCheck(TForm* owner, QWidget* parent, const char* name, const char* caption, int x,
                    int y, int w) {
  auto* c = new TCheckBox(owner, parent);
  c->SetName(name);
  c->SetCaption(caption);
  c->SetBounds(x, y, w, 25);
  return c;
}

// The chooser used when no other is installed: a file dialog for the
// Firefox executable, starting at the one known so far.
std::string DefaultFirefoxChooser(QWidget* parent, const std::string& initial,
                                  const std::string& caption) {
  QFileDialog dlg(parent, QStr(caption));
  dlg.setFileMode(QFileDialog::ExistingFile);
  dlg.setAcceptMode(QFileDialog::AcceptOpen);
#ifdef _WIN32
  dlg.setNameFilters({QStringLiteral("Programs (*.exe)"), QStringLiteral("All files (*)")});
#endif
  if (!initial.empty()) {
    const std::string dir = ExtractFileDir(initial);
    if (!dir.empty() && platform::DirectoryExists(dir)) dlg.setDirectory(QStr(dir));
    if (platform::FileExists(initial)) dlg.selectFile(QStr(initial));
  }
  if (dlg.exec() != QDialog::Accepted) return {};
  const QStringList files = dlg.selectedFiles();
  return files.isEmpty() ? std::string() : StdStr(files.first());
}

}  // namespace

TfrmSettings::TFileChooser& TfrmSettings::FirefoxChooser() {
  static TFileChooser chooser;
  return chooser;
}

TfrmSettings::TfrmSettings(TCLComponent* AOwner)
    : TSkinnedDialog(AOwner, "frmSettings", "Settings", 434, 265) {
  frmSettings = this;

  pcSetting = new TPageControl(this);
  pcSetting->SetName("pcSetting");
  pcSetting->SetBounds(6, 6, 411, 219);
  tsGeneral = new TTabSheet(this, pcSetting);
  tsGeneral->SetName("tsGeneral");
  tsGeneral->SetCaption("General");
  tsBrowser = new TTabSheet(this, pcSetting);
  tsBrowser->SetName("tsBrowser");
  tsBrowser->SetCaption("Browser");

#ifdef _WIN32
  const char* const autoRunText = "Automatically run Veilgate when I log on to Windows";
  const char* const systemProxyText = "Internet Explorer";
#else
  const char* const autoRunText = "Automatically run Veilgate when I log in";
  const char* const systemProxyText = "Desktop proxy settings";
#endif
  cbAutoRun = NewCheck(this, tsGeneral, "cbAutoRun", autoRunText, 10, 9, 389);
  cbAutoUpdate = NewCheck(this, tsGeneral, "cbAutoUpdate",
                          "Automatically check updates when Veilgate starts", 10, 36, 389);
  cbFailOver = NewCheck(this, tsGeneral, "cbFailOver",
                        "Switch to another proxy when mine stops answering", 10, 63, 389);
  btnClearShowAgainFlag = new TButton(this, tsGeneral);
  btnClearShowAgainFlag->SetName("btnClearShowAgainFlag");
  btnClearShowAgainFlag->SetCaption("Clear Show Again Flag");
  btnClearShowAgainFlag->SetBounds(10, 161, 149, 25);
  btnClearShowAgainFlag->OnClick = [this](TButton* b) { btnClearShowAgainFlagClick(b); };
  lblService = new TLabel(this, tsGeneral);
  lblService->SetName("lblService");
  lblService->SetCaption("Service");
  lblService->SetBounds(12, 94, 80, 20);
  edtService = new TEdit(this, tsGeneral);
  edtService->SetName("edtService");
  edtService->SetBounds(92, 90, 228, 25);
  btnTestService = new TButton(this, tsGeneral);
  btnTestService->SetName("btnTestService");
  btnTestService->SetCaption("Test");
  btnTestService->SetBounds(326, 90, 73, 25);
  btnTestService->OnClick = [this](TButton* b) { btnTestServiceClick(b); };
  lblServiceResult = new TLabel(this, tsGeneral);
  lblServiceResult->SetName("lblServiceResult");
  lblServiceResult->SetBounds(92, 118, 307, 40);
  lblServiceResult->setWordWrap(true);

  lblBrowser = new TLabel(this, tsBrowser);
  lblBrowser->SetName("lblBrowser");
  lblBrowser->SetCaption("Enable Veil IP For Selected Browsers");
  lblBrowser->SetBounds(8, 16, 390, 16);
  cbIE = NewCheck(this, tsBrowser, "cbIE", systemProxyText, 24, 40, 370);
  // The system proxy is always switched; the box only shows the setting.
  cbIE->SetEnabled(false);
  cbFF = NewCheck(this, tsBrowser, "cbFF", "Fire Fox", 24, 66, 150);
  cbOpera = NewCheck(this, tsBrowser, "cbOpera", "Opera", 24, 92, 150);
  // Off: no browser profile is touched at the hide.
  cbWebRtc =
      NewCheck(this, tsBrowser, "cbWebRtc", "Keep WebRTC from revealing my address", 8, 126, 390);
  btnReinstallFF = new TButton(this, tsBrowser);
  btnReinstallFF->SetName("btnReinstallFF");
  btnReinstallFF->SetCaption("Re-install FireFox Extension");
  btnReinstallFF->SetBounds(8, 160, 193, 25);
  btnReinstallFF->OnClick = [this](TButton* b) { btnReinstallFFClick(b); };

  btnOK = new TButton(this);
  btnOK->SetName("btnOK");
  btnOK->SetCaption("&OK");
  btnOK->SetBounds(249, 231, 75, 25);
  btnOK->SetModalResult(mrOk);
  btnOK->SetDefault(true);
  btnOK->OnClick = [this](TButton* b) { btnOKClick(b); };
  btnCancel = new TButton(this);
  btnCancel->SetName("btnCancel");
  btnCancel->SetCaption("&Cancel");
  btnCancel->SetBounds(330, 231, 75, 25);
  btnCancel->SetModalResult(mrCancel);
  btnCancel->SetCancel(true);

  AddTranslation();
}

TfrmSettings::~TfrmSettings() {
  if (frmSettings == this) frmSettings = nullptr;
}

void TfrmSettings::FormCreate() {
  pcSetting->SetActivePageIndex(0);
  // A window built only for its texts leaves the settings closed.
  if (!CLDesigning()) LoadOptions();
  TForm::FormCreate();
}

void TfrmSettings::showEvent(QShowEvent* e) {
  // Every opening starts on the first page.
  if (!e->spontaneous()) pcSetting->SetActivePageIndex(0);
  // The skin's style sheet has been applied to the controls by now.
  ApplyDesignFont(ClientArea());
  TForm::showEvent(e);
}

void TfrmSettings::LoadOptions() {
  TCLSettings* s = GetCLSettings();
  cbAutoRun->SetChecked(s->GetSettingBool("AutoRun"));
  cbIE->SetChecked(s->GetSettingBool("SWITCH.IE"));
  cbFF->SetChecked(s->GetSettingBool("SWITCH.FF"));
  cbOpera->SetChecked(s->GetSettingBool("SWITCH.OPERA"));
  cbWebRtc->SetChecked(s->GetSettingBool("SWITCH.WEBRTC"));
  cbAutoUpdate->SetChecked(s->GetSettingBool("Update.AutoCheck"));
  // On unless the settings say otherwise.
  cbFailOver->SetChecked(s->GetSettingString("FailOver").empty() || s->GetSettingBool("FailOver"));
  edtService->SetText(s->GetSettingString("URL.Service"));
}

void TfrmSettings::SaveOptions() {
  TCLSettings* s = GetCLSettings();
  // One write of the user file for the six values.
  s->BeginUpdate();
  try {
    s->SetSettingBool("AutoRun", cbAutoRun->Checked());
    SetAutoRun(cbAutoRun->Checked(), s->GetSettingString("App.Name"), GetModulePath());
    s->SetSettingBool("SWITCH.IE", cbIE->Checked());
    s->SetSettingBool("SWITCH.FF", cbFF->Checked());
    s->SetSettingBool("SWITCH.OPERA", cbOpera->Checked());
    s->SetSettingBool("SWITCH.WEBRTC", cbWebRtc->Checked());
    s->SetSettingBool("Update.AutoCheck", cbAutoUpdate->Checked());
    s->SetSettingBool("FailOver", cbFailOver->Checked());
    // A changed, well-formed address is kept; anything else leaves the
    // address in use as it is.
    const std::string service = TypedService();
    if (!service.empty() && service != s->GetSettingString("URL.Service"))
      s->SetSettingString("URL.Service", service);
    s->EndUpdate();
  } catch (...) {
    // EndUpdate writes the file; a failed write still leaves the bracket.
    try {
      s->EndUpdate();
    } catch (...) {
    }
    throw;
  }
}

void TfrmSettings::btnOKClick(TButton*) {
  try {
    SaveOptions();
  } catch (const ECLSettingsWriteError& e) {
    // The values hold for this session; the user learns that they were
    // not kept on disk.
    CLDebugLog::Write("TfrmSettings", "Settings not saved: " + e.Path() + ": " + e.Reason());
    if (TCLEngine* engine = GetCLEngine())
      engine->ShowMessageEx("MSGBox.SettingsNotSaved", {e.Path(), e.Reason()}, 0, kError,
                            kOkButton);
  }
}

void TfrmSettings::btnClearShowAgainFlagClick(TButton*) {
  try {
    GetCLSettings()->ClearShowAgainFlag();
  } catch (const ECLSettingsWriteError& e) {
    CLDebugLog::Write("TfrmSettings", "Show-again flags not saved: " + e.Reason());
  }
}

std::string TfrmSettings::ChooseFirefoxPath() {
  std::string caption;
  if (TCLEngine* engine = GetCLEngine())
    caption = engine->GetAppString("Caption.ChooseFirefoxPath");
  if (caption.empty()) caption = "Choose Firefox Path";
  const TFileChooser& chooser =
      FirefoxChooser() ? FirefoxChooser() : TFileChooser(DefaultFirefoxChooser);
  return chooser(this, GetFirefoxPath(), caption);
}

void TfrmSettings::btnReinstallFFClick(TButton*) {
  if (!IsFirefoxInstalled()) {
    InfoBox("MSGBox.FFUninstalled");
    return;
  }
  if (!InstallFirefoxExtension()) {
    InfoBox("MSGBox.FFPath");
    // The user points at the Firefox program itself; a cancelled choice
    // changes nothing and is not tried again.
    const std::string path = ChooseFirefoxPath();
    if (!path.empty() && platform::FileExists(path)) {
      try {
        GetCLSettings()->SetSettingString("FireFoxPath", path);
      } catch (const ECLSettingsWriteError& e) {
        CLDebugLog::Write("TfrmSettings", "FireFoxPath not saved: " + e.Reason());
      }
      InstallFirefoxExtension();
    }
  }
  if (IsFirefoxRunning()) InfoBox("MSGBox.FFRestart");
}

std::string TfrmSettings::TypedService() const {
  std::string text = Trim(edtService->Text());
  while (!text.empty() && text.back() == '/') text.pop_back();
  const bool web = StartsWithText(text, "http://") || StartsWithText(text, "https://");
  if (!web || text.find_first_of(" \t\"<>") != std::string::npos) return std::string();
  return text.size() > 8 ? text : std::string();
}

void TfrmSettings::btnTestServiceClick(TButton*) {
  TCLEngine* engine = GetCLEngine();
  auto text = [engine](const std::string& key, const std::vector<std::string>& args) {
    return engine ? engine->GetAppStringEx(key, args) : key;
  };
  const std::string service = TypedService();
  if (service.empty()) {
    lblServiceResult->SetCaption(
        text("Service.TestFailed", {Trim(edtService->Text()), text("Service.NotResolved", {})}));
    return;
  }
  lblServiceResult->SetCaption(text("Service.Testing", {}));
  btnTestService->SetEnabled(false);
  auto* thread = new TInfoGotThread();
  thread->FURL = service + ServiceAddressPath("URL.GetInfo") +
                 "?MagicWord=" + GetCLSettings()->GetSettingString("App.MagicWord");
  thread->FreeOnTerminate = true;
  // The answer may come after the dialog has closed.
  QPointer<TfrmSettings> self(this);
  auto done = [self, service, text](bool ok, const std::string& error) {
    if (!self) return;
    self->btnTestService->SetEnabled(true);
    if (ok) {
      self->lblServiceResult->SetCaption(text("Service.TestOK", {service}));
      return;
    }
    TServiceReach reach;
    reach.Failed(service, error, 0);
    self->lblServiceResult->SetCaption(
        text("Service.TestFailed", {reach.Address(), reach.ReasonText(text)}));
  };
  thread->FOnInfoGot = [done](const std::string&) { done(true, std::string()); };
  thread->FOnFailed = [done](const std::string& error) { done(false, error); };
  thread->Start();
}

bool ShowSettings(TForm* AOwner) {
  TfrmSettings* dlg = CreateForm<TfrmSettings>(AOwner);
  QPointer<TfrmSettings> guard(dlg);
  const int result = dlg->ShowModal();
  delete guard.data();
  return result == mrOk;
}
