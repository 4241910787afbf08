#include "ui/uWebRtc.h"

#include "framework/CLSettings.h"
#include "framework/qt/CLEngine.h"
#include "net/CLDebugLog.h"
#include "net/CLUtils.h"
#include "platform/ProxySettings.h"
#include "switch/WebRtcGuard.h"
#include "switch/uVGUtils.h"
#include "ui/uFlashForm.h"
#include "vcl/Forms.h"
#include "vcl/spMessage.h"

namespace {

void Trace(const std::string& line) { CLDebugLog::Write("TfrmMain", line); }

// What the popup's second line shows now: it is sent only when it changes,
// so a machine without browser profiles sees no command for it.
std::string GShownLine;
const TfrmFlashForm* GShownOn = nullptr;

void ShowLine(const std::string& line) {
  if (!frmFlashForm) return;
  if (frmFlashForm != GShownOn) GShownLine.clear();  // a new popup starts empty
  GShownOn = frmFlashForm;
  if (line == GShownLine) return;
  GShownLine = line;
  frmFlashForm->SetTextInfo2(line, 0);
}

std::string Names(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& n : names) text += (text.empty() ? "" : ", ") + n;
  return text;
}

// Firefox profiles that follow the system proxy where the desktop switch
// reached KDE's settings but not GNOME's store, which Firefox reads: they
// do not follow the hide.
std::vector<std::string> FirefoxOutOfReach() {
  std::vector<std::string> names;
  const unsigned reach = platform::LastProxyReach();
  if (!(reach & platform::kProxyReachKde) || (reach & platform::kProxyReachGnome)) return names;
  try {
    if (!GetCLSettings()->GetSettingBool("SWITCH.IE")) return names;
  } catch (...) {
    return names;
  }
  for (const TFirefoxProfile& p : FirefoxProfiles())
    if (FirefoxProxyType(p.Path) == 5) names.push_back("Firefox (" + p.Name + ")");
  return names;
}

}  // namespace

void KeepWebRtcAndTell(const std::string& aProxy) {
  const TWebRtcReport report = KeepWebRtcToProxy();
  TCLEngine* engine = GetCLEngine();
  if (!engine) return;
  const bool touched = !report.Covered.empty() || !report.Restart.empty() || !report.Failed.empty();
  std::string line;  // empty: no profile found, or the user turned the guard off
  if (touched && report.AllCovered())
    line = engine->GetAppString("FLSMsg.WebRtcCovered");
  else if (touched)
    line = FormatPlaceholders(engine->GetAppString("FLSMsg.WebRtcNotCovered"),
                              {Names(report.Restart.empty() ? report.Failed : report.Restart)});
  ShowLine(line);
  // The user let the program set Firefox's own proxy: every new proxy goes
  // there too.
  static bool firefoxOwnProxy = false;
  if (firefoxOwnProxy) KeepFirefoxOnProxy(aProxy);
  // Once a run: a browser left running through several hides is named once.
  static bool told = false;
  const std::vector<std::string> outOfReach = FirefoxOutOfReach();
  if (told || (report.Restart.empty() && outOfReach.empty())) return;
  told = true;
  if (!report.Restart.empty())
    Trace("Running during the hide, WebRTC not yet kept: " + Names(report.Restart));
  if (outOfReach.empty()) {
    engine->ShowMessageEx("MSGBox.WebRtcRestart", {Names(report.Restart)}, 9, mtInformation, mbOK);
    return;
  }
  Trace("Firefox cannot see the desktop's proxy here: " + Names(outOfReach));
  const std::string restart =
      report.Restart.empty() ? std::string()
                             : FormatPlaceholders(engine->GetAppString("MSGBox.WebRtcRestartToo"),
                                                  {Names(report.Restart)});
  const int answer = engine->ShowMessageEx("MSGBox.FFOutOfReach", {Names(outOfReach), restart}, 10,
                                           mtConfirmation, mbYes | mbNo);
  if (answer == mrYes) {
    firefoxOwnProxy = true;
    const TWebRtcReport set = KeepFirefoxOnProxy(aProxy);
    Trace("Proxy set in Firefox's own preferences: " + Names(set.Covered));
  }
}

void PutBackWebRtcAndClear() {
  PutBackWebRtc();
  ShowLine(std::string());
}
