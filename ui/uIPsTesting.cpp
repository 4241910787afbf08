#include "ui/uIPsTesting.h"

#include <QShowEvent>
#include <QTimer>
#include <QUrl>

#include "framework/qt/CLEngine.h"
#include "framework/qt/CLForm.h"
#include "net/CLDebugLog.h"
#include "framework/CLSettings.h"
#include "framework/lang/CLMultiLang.h"
#include "net/CLUtils.h"
#include "proxy/LocalInfo.h"
#include "ui/ProxyCheckModule.h"
#include "ui/uDesignFont.h"
#include "ui/uMain.h"
#include "vcl/Controls.h"

TfrmTesting* frmTesting = nullptr;

namespace {
// A text of the language file with its arguments. A key the file lacks
// shows as "[AppRes]" and the key, as message boxes do, followed by the
// arguments, so that a line never loses what it reports.
std::string Say(const std::string& key, const std::vector<std::string>& args = {}) {
  TCLEngine* e = GetCLEngine();
  std::string text = e ? e->GetAppStringEx(key, args) : std::string();
  if (!text.empty()) return text;
  text = "[AppRes]" + key;
  for (size_t i = 0; i < args.size(); ++i) text += (i ? ", " : " ") + args[i];
  return text;
}
}  // namespace

std::string TfrmTesting::FailureText(const TProxyCheckAnswer& answer) {
  if (answer.status) return Say("Testing.HttpStatus", {std::to_string(answer.status)});
  switch (answer.failure) {
    case TProxyCheckFailure::Refused: return Say("Testing.Refused");
    case TProxyCheckFailure::NotResolved: return Say("Testing.NotResolved");
    case TProxyCheckFailure::TimedOut: return Say("Testing.TimedOut");
    case TProxyCheckFailure::Closed: return Say("Testing.Closed");
    case TProxyCheckFailure::Certificate: return Say("Testing.Certificate");
    case TProxyCheckFailure::ProxyAuth: return Say("Testing.ProxyAuth");
    case TProxyCheckFailure::NoModule: return Say("Testing.NoModule");
    case TProxyCheckFailure::None:
    case TProxyCheckFailure::Other: break;
  }
  return Say("Testing.Failed");
}

int& TfrmTesting::CheckTimeoutMs() {
  static int ms = 10000;
  return ms;
}

TfrmTesting::TfrmTesting(TCLComponent* AOwner) : TForm(AOwner) {
  frmTesting = this;
  SetName("frmTesting");
  SetCaption("Verifing from server ...");
  SetBorderStyle(TFormBorderStyle::bsToolWindow);
  // A tool window without border icons.
  setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  SetPosition(TPosition::poMainFormCenter);
  SetClientSize(423, 210);
  // The main window's font, for which the controls are placed.
  setFont(DesignFont());

  lblInfo = new TLabel(this);
  lblInfo->SetName("lblInfo");
  lblInfo->SetCaption("Please wait a few minute to verify fake IP information from server... ");
  lblInfo->SetWordWrap(true);
  lblInfo->SetBounds(12, 8, 399, 32);
  ggTesting = new TGauge(this);
  ggTesting->SetName("ggTesting");
  ggTesting->SetAnimationPause(1000);
  ggTesting->SetBounds(12, 44, 399, 16);
  mmoLog = new TMemo(this);
  mmoLog->SetName("mmoLog");
  mmoLog->SetReadOnly(true);
  mmoLog->SetBounds(12, 66, 399, 106);
  btnClose = new TButton(this);
  btnClose->SetName("btnClose");
  btnClose->SetCaption("&Close");
  btnClose->SetBounds(336, 178, 75, 25);
  btnClose->SetModalResult(mrCancel);
  btnClose->SetCancel(true);

  CLMultiLang = new TCLMultiLang(this);
  CLMultiLang->SetName("CLMultiLang");
  CLForm = new TCLForm(this);
  CLForm->SetName("CLForm");
  CLForm->SetRuntimeSetLanguageData(true);
}

TfrmTesting::~TfrmTesting() {
  // The check under way is dropped without its answer: nothing is written
  // and no further check starts while the window goes.
  if (FCheck) FCheck->Abort();
  if (frmTesting == this) frmTesting = nullptr;
}

std::vector<TProxyRec> TfrmTesting::ProxiesToCheck() {
  std::vector<TProxyRec> out;
  if (!frmMain || !frmMain->ProxyManager()) return out;
  TProxyManager* pm = frmMain->ProxyManager();
  const std::string country = pm->FTargetCountry;
  auto add = [&](const TStringList& list, bool super) {
    for (int i = 0; i < list.Count(); ++i) {
      TProxyRec r;
      if (!pm->GetProxyRec(list, i, super, r)) continue;
      if (country == "UN" || SameText(r.Country_Short, country)) out.push_back(r);
    }
  };
  add(pm->FNormalProxyList, false);
  add(pm->FSuperProxyList, true);
  return out;
}

void TfrmTesting::FormCreate() {
  // Built for its texts only (the language-file writer): nothing is checked.
  if (CLDesigning()) return TForm::FormCreate();
  // The form component attached the application's texts without applying
  // them: the window speaks the chosen language from its first showing.
  if (CLMultiLang->LanguageData()) CLMultiLang->ApplyData();
  ggTesting->StartAnimation();
  FProxies = ProxiesToCheck();
  QString why;
  FCheck = CreateProxyCheck(this, &why);
  if (!FCheck) {
    FCheckError = StdStr(why);
    CLDebugLog::Write("Testing window: " + FCheckError);
  }
  TForm::FormCreate();
  if (FProxies.empty()) {
    AddLine(Say("Testing.NoProxy"));
    FFinished = true;
    ggTesting->StopAnimation();
    return;
  }
  CheckNext();
}

void TfrmTesting::AddLine(const std::string& line) { mmoLog->appendPlainText(QStr(line)); }

void TfrmTesting::CheckNext() {
  if (FIndex >= FProxies.size()) {
    FFinished = true;
    ggTesting->StopAnimation();
    ggTesting->SetProgress(ggTesting->maximum());
    AddLine(Say("Testing.Done", {std::to_string(FAnswered), std::to_string(FProxies.size())}));
    return;
  }
  const TProxyRec& p = FProxies[FIndex];
  TCLSettings* settings = GetCLSettings();
  const std::string url = settings->GetSettingString("URL.GetInfo") +
                          "?MagicWord=" + settings->GetSettingString("App.MagicWord");
  if (!FCheck) {
    // Without the module no check can be sent: each proxy is reported
    // failed with the reason, in turn, from the event loop.
    TProxyCheckAnswer failed;
    failed.failure = TProxyCheckFailure::NoModule;
    failed.error = QStr(FCheckError);
    QTimer::singleShot(0, this, [this, failed] { CheckDone(failed); });
    return;
  }
  FCheck->Start(QStr(p.IP), static_cast<quint16>(StrToIntDefault(p.Port, 0)), QUrl(QStr(url)),
                CheckTimeoutMs(), [this](const TProxyCheckAnswer& answer) { CheckDone(answer); });
}

void TfrmTesting::CheckDone(const TProxyCheckAnswer& answer) {
  if (FIndex >= FProxies.size()) return;
  const TProxyRec& p = FProxies[FIndex];
  const std::string proxy = p.IP + ":" + p.Port;
  if (answer.ok) {
    const TLocalInfo info = TLocalInfo::FromText(answer.body.toStdString());
    ++FAnswered;
    AddLine(Say("Testing.Good", {proxy, p.Country_Long, info.IP, info.CountryLong}));
  } else {
    // The user reads the failure in the window's language; the library's
    // own wording goes to the debug log.
    if (!answer.error.isEmpty())
      CLDebugLog::Write("Testing window: " + proxy + ": " + StdStr(answer.error));
    AddLine(Say("Testing.Bad", {proxy, p.Country_Long, FailureText(answer)}));
  }
  ++FIndex;
  CheckNext();
}

void TfrmTesting::showEvent(QShowEvent* e) {
  // The skin's style sheet has been applied to the controls by now.
  ApplyDesignFont(ClientArea());
  TForm::showEvent(e);
}
