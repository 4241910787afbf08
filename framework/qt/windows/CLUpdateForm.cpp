#include "framework/qt/windows/CLUpdateForm.h"

#include <QKeyEvent>
#include <QTimer>

#include <cmath>

#include "framework/CLServiceSettings.h"
#include "framework/CLSettings.h"
#include "framework/qt/CLEngine.h"
#include "framework/qt/CLForm.h"
#include "net/CLDebugLog.h"
#include "net/CLUtils.h"
#include "net/SingleDownloader.h"
#include "platform/Files.h"
#include "vcl/PictureTexts.h"

namespace {

// Design sizes of the window and its panels.
constexpr int kDesignWidth = 373;
constexpr int kDesignHeight = 325;
constexpr int kLogoHeight = 65;
constexpr int kButtonPanelHeight = 41;
constexpr int kProcessHeight = 41;

const char* const kModifyPrefix = "__MODIFY__.";
const char* const kBannerPrefix = "Banner.";

void Log(const std::string& line) { CLDebugLog::Write("CLUpdate", line); }

std::string LibText(const std::string& name) {
  TCLEngine* engine = GetCLEngine();
  return engine ? engine->GetLibString(name) : std::string();
}

// Writes a setting; a settings file that cannot be written is logged, not
// raised: the value stays set in memory.
template <class F>
void WriteSetting(const std::string& what, F&& write) {
  try {
    write();
  } catch (const ECLSettingsWriteError& e) {
    Log("Setting not written: " + what + " (" + e.Reason() + ")");
  }
}

}  // namespace

bool IsStorableSettingName(const std::string& name) {
  if (name.empty()) return false;
  for (unsigned char c : name)
    if (c < 0x20 || c == 0x7F) return false;
  if (name.front() == ' ' || name.back() == ' ') return false;
  if (name.front() == '[' || name.front() == ';') return false;
  return true;
}

bool IsStorableSettingValue(const std::string& value) {
  for (unsigned char c : value)
    if ((c < 0x20 && c != '\t') || c == 0x7F) return false;
  return true;
}

std::function<double()>& TfrmCLUpdateForm::Clock() {
  static std::function<double()> clock = [] { return platform::NowLocal(); };
  return clock;
}

TfrmCLUpdateForm::TfrmCLUpdateForm(TCLComponent* AOwner) : TForm(AOwner) {
  SetName("frmCLUpdateForm");
  SetCaption("Update");
  SetBorderStyle(TFormBorderStyle::bsDialog);
  SetPosition(TPosition::poMainFormCenter);
  SetKeyPreview(true);
  SetClientSize(kDesignWidth, kDesignHeight);

  CLForm1 = new TCLForm(this);
  CLForm1->SetName("CLForm1");
  CLForm1->SetRuntimeSetSkinData(true);
  CLForm1->SetRuntimeSetLanguageData(true);

  pnLogo = new TPanel(this);
  pnLogo->SetName("pnLogo");
  pnLogo->SetBevelOuter(TBevelCut::bvNone);
  pnLogo->resize(kDesignWidth, kLogoHeight);
  imgLogo = new TImage(this, pnLogo);
  imgLogo->SetName("imgLogo");
  // The logo takes no clicks here (a disabled picture would be drawn grey).
  imgLogo->setAttribute(Qt::WA_TransparentForMouseEvents);

  pnInfo = new TPanel(this);
  pnInfo->SetName("pnInfo");
  pnInfo->SetBevelOuter(TBevelCut::bvNone);
  lbInfo = new TLabel(this, pnInfo);
  lbInfo->SetName("lbInfo");
  lbInfo->SetWordWrap(true);
  lbInfo->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  lbInfo->SetCaption("Connecting...");
  lblTimer = new TLabel(this, pnInfo);
  lblTimer->SetName("lblTimer");
  lblTimer->SetCaption("This window will close in {1} sec(s)...");
  lblTimer->SetVisible(false);
  cbAutoCheckUpdate = new TCheckBox(this, pnInfo);
  cbAutoCheckUpdate->SetName("cbAutoCheckUpdate");
  cbAutoCheckUpdate->SetCaption("&Auto Check Update");

  pnOkCancel = new TPanel(this);
  pnOkCancel->SetName("pnOkCancel");
  pnOkCancel->SetBevelOuter(TBevelCut::bvNone);
  btnOK = new TButton(this, pnOkCancel);
  btnOK->SetName("btnOK");
  btnOK->SetCaption("&OK");
  btnOK->SetEnabled(false);
  btnOK->SetDefault(true);
  btnOK->OnClick = [this](TButton*) { btnOKClick(); };
  btnCancel = new TButton(this, pnOkCancel);
  btnCancel->SetName("btnCancel");
  btnCancel->SetCaption("&Cancel");
  btnCancel->OnClick = [this](TButton*) { btnCancelClick(); };

  pnOK = new TPanel(this);
  pnOK->SetName("pnOK");
  pnOK->SetBevelOuter(TBevelCut::bvNone);
  btnOK2 = new TButton(this, pnOK);
  btnOK2->SetName("btnOK2");
  btnOK2->SetCaption("&Ok");
  btnOK2->SetEnabled(false);
  btnOK2->OnClick = [this](TButton*) { btnOK2Click(); };

  pnProcess = new TPanel(this);
  pnProcess->SetName("pnProcess");
  pnProcess->SetVisible(false);
  lbProcess = new TLabel(this, pnProcess);
  lbProcess->SetName("lbProcess");
  lbProcess->SetCaption("Connecting...");
  btnCancelProcess = new TButton(this, pnProcess);
  btnCancelProcess->SetName("btnCancelProcess");
  btnCancelProcess->SetCaption("&Cancel");
  btnCancelProcess->OnClick = [this](TButton*) { btnOK2Click(); };

  tmrTimer = new QTimer(this);
  tmrTimer->setObjectName("tmrTimer");
  tmrTimer->setInterval(200);
  QObject::connect(tmrTimer, &QTimer::timeout, this, [this] { tmrTimerTimer(); });

  sdDownload = std::make_unique<TSingleDownloader>();
  sdDownload->Name = "sdDownload";
  sdDownload->AcceptTypes = "*/*";
  sdDownload->UseCache = false;
  sdDownload->WaitThread = false;
  sdDownload->HttpCharset = THttpCharset::KAnsi;
  sdDownload->OnDoneString = [this](TSingleDownloader* s, const std::string& r) {
    sdDownloadDoneString(s, r);
  };
  sdDownload->OnError = [this](TSingleDownloader* s) { sdDownloadError(s); };

  OnKeyUp = [this](TForm*, int& key, Qt::KeyboardModifiers shift) { FormKeyUp(key, shift); };
  Realign();
}

TfrmCLUpdateForm::~TfrmCLUpdateForm() {
  // A request still under way is detached: its answer reaches nobody.
  sdDownload.reset();
}

TfrmCLUpdateForm* TfrmCLUpdateForm::Create(TForm* AOwner) {
  return CreateForm<TfrmCLUpdateForm>(AOwner);
}

void TfrmCLUpdateForm::FormCreate() {
  TForm::FormCreate();
  TCLSettings* settings = GetCLSettings();
  // The logo decides the window's width and adds its height.
  const std::string logo = JoinPath(GetAppPath(), "res\\images\\update.png");
  if (platform::FileExists(logo)) imgLogo->LoadFromFile(logo);  // a bad picture stays empty
  if (imgLogo->PictureHeight() > 0) {
    // The picture has no words: the product name and its line are drawn
    // in the window's language.
    TCLEngine* engine = GetCLEngine();
    imgLogo->SetPicture(WithPictureTexts(imgLogo->Picture(), HeaderTextArea(),
                                         QStr(engine ? engine->GetAppName() : std::string()),
                                         QStr(LibText("TfrmCLUpdateForm.Header"))));
    const int h = imgLogo->PictureHeight();
    SetClientSize(imgLogo->PictureWidth(), h + ClientHeight() - pnLogo->height());
    pnLogo->resize(pnLogo->width(), h);
  } else {
    pnLogo->SetVisible(false);
    imgLogo->SetVisible(false);
    SetClientSize(ClientWidth(), ClientHeight() - pnLogo->height());
  }
  // Texts.
  SetCaption(LibText(ClassName() + ".Caption"));
  btnOK->SetCaption(LibText("btnOk.Caption"));
  btnOK2->SetCaption(LibText("btnOk.Caption"));
  btnCancel->SetCaption(LibText("btnCancel.Caption"));
  cbAutoCheckUpdate->SetCaption(LibText("cbAutoCheckUpdate.Caption"));
  SetInfoText(LibText("Update.Connecting"));
  // Buttons and the automatic-check box as the settings say; the countdown's length.
  pnOkCancel->SetVisible(false);
  if (settings->GetSettingBool("Update.NoAutoCheck")) cbAutoCheckUpdate->SetVisible(false);
  cbAutoCheckUpdate->SetChecked(settings->GetSettingBool("Update.AutoCheck"));
  FDelaySeconds = std::max(settings->GetSettingInteger("Update.DelaySeconds"), 5);
  Realign();
}

void TfrmCLUpdateForm::keyReleaseEvent(QKeyEvent* e) {
  // Keys of the controls reach FormKeyUp through the key preview; this is
  // a key the window itself received.
  int key = e->key();
  FormKeyUp(key, e->modifiers());
  if (key != 0) TForm::keyReleaseEvent(e);
}

void TfrmCLUpdateForm::resizeEvent(QResizeEvent* e) {
  TForm::resizeEvent(e);
  Realign();
}

void TfrmCLUpdateForm::Realign() {
  if (!pnLogo) return;
  const int w = ClientWidth();
  const int h = ClientHeight();
  if (FProcess) {
    pnProcess->setGeometry(0, 0, w, kProcessHeight);
    lbProcess->setGeometry(12, 12, std::max(w - 12 - 96, 10), 17);
    btnCancelProcess->setGeometry(w - 87, 8, 75, 25);
    return;
  }
  int top = 0;
  if (pnLogo->Visible()) {
    const int lh = pnLogo->height() > 0 ? pnLogo->height() : kLogoHeight;
    pnLogo->setGeometry(0, 0, w, lh);
    imgLogo->setGeometry(0, 0, w, lh);
    top = lh;
  }
  int bottom = h;
  if (pnOkCancel->Visible()) {
    pnOkCancel->setGeometry(0, h - kButtonPanelHeight, w, kButtonPanelHeight);
    btnCancel->setGeometry(w - 87, 8, 75, 25);
    btnOK->setGeometry(w - 168, 8, 75, 25);
    bottom = h - kButtonPanelHeight;
  }
  if (pnOK->Visible()) {
    pnOK->setGeometry(0, h - kButtonPanelHeight, w, kButtonPanelHeight);
    btnOK2->setGeometry(w - 87, 8, 75, 25);
    bottom = h - kButtonPanelHeight;
  }
  pnInfo->setGeometry(0, top, w, std::max(bottom - top, 0));
  const int ih = pnInfo->height();
  lbInfo->setGeometry(16, 12, std::max(w - 32, 10), std::max(ih - 12 - 54, 17));
  lblTimer->setGeometry(16, ih - 48, std::max(w - 32, 10), 17);
  cbAutoCheckUpdate->setGeometry(16, ih - 26, std::max(w - 32, 10), 21);
}

void TfrmCLUpdateForm::SetInfoText(const std::string& text) {
  // Lines of the answer or the language file end in CR LF.
  std::string shown = StringReplaceAll(text, "\r\n", "\n");
  lbInfo->SetCaption(shown);
}

void TfrmCLUpdateForm::StartUpdate(bool AShowModal, bool AShowConnecting, bool ADoUpdate,
                                   bool AProcess, bool AAutoClose) {
  // Remember how this check runs.
  FStartTime = 0;
  FShowModal = AShowModal;
  FShowConnecting = AShowConnecting;
  FDoUpdate = ADoUpdate;
  FProcess = AProcess;
  FAutoClose = AAutoClose;
  FUpdating = true;
  // The address of the update answer.
  std::string url;
  if (TCLEngine* engine = GetCLEngine()) url = engine->GetURL("Update", true);
  Log("Update URL : " + url);
  // Compact progress mode: only the progress strip, without a border.
  if (AProcess) {
    pnProcess->SetVisible(true);
    pnOK->SetVisible(false);
    pnOkCancel->SetVisible(false);
    pnLogo->SetVisible(false);
    pnInfo->SetVisible(false);
    SetBorderStyle(TFormBorderStyle::bsNone);
    SetClientSize(ClientWidth(), kProcessHeight);
    Realign();
  }
  // Fetch the answer on a worker; sdDownloadDoneString gets it.
  sdDownload->URL = url;
  sdDownload->GetString();
  // Show the window now when asked to: modal, or while connecting.
  if (AShowModal) {
    ShowModal();
  } else if (AShowConnecting) {
    PlaceWindow();
    show();
  }
}

void TfrmCLUpdateForm::StartAutoClose() { tmrTimer->start(); }

void TfrmCLUpdateForm::sdDownloadDoneString(TSingleDownloader*, const std::string& strResult) {
  TCLSettings* settings = GetCLSettings();
  // Log the answer's size (not its text: it carries the magic word and the
  // proxies) and record the date of this check.
  Log("Update Net : " + std::to_string(strResult.size()) + " bytes");
  WriteSetting("Update.LastDate", [&] { settings->SetSettingFloat("Update.LastDate", Clock()()); });
  // A check that has been abandoned meanwhile ends here.
  if (!FUpdating) return;
  // Only an answer with the right magic word counts.
  TStringList answer;
  answer.SetText(strResult);
  const bool accepted =
      SameText(answer.Values("magicword"), settings->GetSettingString("App.MagicWord"));
  bool display = false;
  if (accepted) {
    // Take over the settings it carries.
    ApplyAnswer(answer);
    // A new version, or on an open window "already the latest", is shown.
    if (FDoUpdate) {
      const int32_t result = StrToIntDefault(answer.Values("Result"), 0);
      if (result == 1) {
        FInfo = answer.Values("info");
        FURL = answer.Values("page");
        display = true;
      } else if (result == 0) {
        if (isVisible()) {
          FInfo = LibText("Update.LastVersionAlready");
          FURL.clear();
          display = true;
        }
      }
    }
  } else {
    Log("Update answer rejected: wrong magic word");
  }
  // The check is over; a rejected answer on an open window is a network error.
  FUpdating = false;
  if (!accepted && isVisible()) {
    FInfo = LibText("Update.NetError");
    FURL.clear();
    display = true;
  }
  // Show the result, or close when there is nothing to show.
  if (display)
    PostMessage(WM_CL_UPDATE_SHOWRESULT);
  else
    Close();
}

void TfrmCLUpdateForm::ApplyAnswer(const TStringList& answer) {
  TCLSettings* settings = GetCLSettings();
  const size_t modifyLen = std::string(kModifyPrefix).size();
  settings->BeginUpdate();
  int applied = 0;
  for (int i = 0; i < answer.Count(); ++i) {
    const std::string name = answer.Names(i);
    if (name.empty()) continue;
    std::string target;
    if (StartsWithText(name, kBannerPrefix))
      target = name;
    else if (StartsWithText(name, kModifyPrefix))
      target = name.substr(modifyLen);
    else
      continue;
    const std::string value = answer.ValueFromIndex(i);
    // A name or value the settings file cannot hold faithfully would read
    // back as another setting, a section or a comment: it is left out.
    if (!IsStorableSettingName(target) || !IsStorableSettingValue(value)) {
      Log("Update setting refused: line " + std::to_string(i + 1));
      continue;
    }
    // Only the service's own settings come from the network: never a program,
    // a file, the user's choices or an address the desktop would run.
    std::string why;
    if (!IsServiceSetting(target, value, &why)) {
      Log("Update setting refused: " + target + " (" + why + ")");
      continue;
    }
    settings->SetSettingString(target, ServiceSettingValue(target, value));
    ++applied;
  }
  settings->SetSettingInteger("Update.Times", settings->GetSettingInteger("Update.Times") + 1);
  WriteSetting("update answer", [&] { settings->EndUpdate(); });
  Log("Update settings applied: " + std::to_string(applied));
}

void TfrmCLUpdateForm::sdDownloadError(TSingleDownloader*) {
  FUpdating = false;
  Log("Update Net Error !");
  if (FDoUpdate && isVisible()) {
    FInfo = LibText("Update.NetError");
    FURL.clear();
    PostMessage(WM_CL_UPDATE_SHOWRESULT);
  } else {
    Close();
  }
}

void TfrmCLUpdateForm::PostMessage(uint32_t Msg) {
  QPointer<TfrmCLUpdateForm> self(this);
  QMetaObject::invokeMethod(
      this,
      [self, Msg] {
        if (self) self->WndProc(Msg);
      },
      Qt::QueuedConnection);
}

void TfrmCLUpdateForm::WndProc(uint32_t Msg) {
  if (Msg == WM_CL_UPDATE_SHOWRESULT) ShowResult();
}

void TfrmCLUpdateForm::ShowResult() {
  // The text of the result.
  SetInfoText(FInfo);
  // With a page to open: OK and Cancel; without: OK alone.
  if (!FURL.empty()) {
    pnOkCancel->SetVisible(true);
    btnCancel->SetVisible(true);
    pnOK->SetVisible(false);
  } else {
    pnOK->SetVisible(true);
    pnOkCancel->SetVisible(false);
    btnCancel->SetVisible(false);
  }
  btnOK->SetEnabled(true);
  btnOK2->SetEnabled(true);
  Realign();
  // Show the window if it is not open yet.
  if (!isVisible()) {
    PlaceWindow();
    show();
  }
  // Close by itself after the countdown when asked to.
  if (FAutoClose) StartAutoClose();
}

void TfrmCLUpdateForm::tmrTimerTimer() {
  const double now = Clock()();
  if (FStartTime == 0) FStartTime = now;
  // Whole seconds; the small term absorbs the rounding of date-time values.
  const int elapsed = static_cast<int>(std::floor((now - FStartTime) * 86400.0 + 1e-4));
  const int left = FDelaySeconds - elapsed;
  TCLEngine* engine = GetCLEngine();
  const std::string text =
      engine ? engine->GetLibStringEx("lblTimer.Caption", {std::to_string(left)}) : std::string();
  lblTimer->SetCaption(text);
  lblTimer->SetVisible(true);
  if (elapsed >= FDelaySeconds) {
    tmrTimer->stop();
    Close();
  }
}

void TfrmCLUpdateForm::SaveAutoCheck() {
  TCLSettings* settings = GetCLSettings();
  if (settings->GetSettingBool("Update.NoAutoCheck")) return;
  const bool checked = cbAutoCheckUpdate->Checked();
  WriteSetting("Update.AutoCheck", [&] { settings->SetSettingBool("Update.AutoCheck", checked); });
}

void TfrmCLUpdateForm::btnOKClick() {
  SaveAutoCheck();
  if (!FURL.empty())
    if (TCLEngine* engine = GetCLEngine()) engine->ShowPageByURL(FURL);
  Close();
}

void TfrmCLUpdateForm::btnOK2Click() {
  sdDownload->Abort();
  SaveAutoCheck();
  Close();
}

void TfrmCLUpdateForm::btnCancelClick() { Close(); }

void TfrmCLUpdateForm::FormKeyUp(int& Key, Qt::KeyboardModifiers) {
  if (Key != Qt::Key_Escape) return;
  Key = 0;
  sdDownload->Abort();
  if (Modal()) {
    SetModalResult(mrCancel);
  } else {
    // Without a modal run to end, the window would stay open with nothing
    // left to wait for and no button to leave by.
    Close();
  }
}
