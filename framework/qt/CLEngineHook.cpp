// The engine's window hook (the registered messages between instances of
// one installation, copy-data, session end) and the language-file writer.
#include "framework/qt/CLEngine.h"

#include <QApplication>
#include <QGuiApplication>

#include <algorithm>
#include <map>

#include "framework/CLConst.h"
#include "framework/CLSettings.h"
#include "framework/lang/CLMultiLang.h"
#include "framework/qt/CLMain.h"
#include "net/CLDebugLog.h"
#include "net/CLUtils.h"
#include "platform/Files.h"
#include "vcl/ActnList.h"
#include "vcl/Forms.h"
#include "vcl/WindowSystem.h"
#include "vcl/spSkinForm.h"

namespace {

// Longest activation token taken from a second start.
constexpr size_t kMaxActivationToken = 4096;

// Copy-data carries UTF-16 text; take cbData / 2 characters of it.
std::string Utf16BytesToUtf8(const std::string& bytes) {
  std::u16string units;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2)
    units.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                          (static_cast<unsigned char>(bytes[i + 1]) << 8)));
  return Utf16ToUtf8(units);
}

}  // namespace

// --- the window hook ----------------------------------------------------------------------------------------

void TCLEngine::PostMessage(uint32_t msg, int64_t wParam, int64_t lParam) {
  QPointer<TCLEngine> self(this);
  QMetaObject::invokeMethod(
      this,
      [self, msg, wParam, lParam] {
        if (!self) return;
        platform::InstanceMessage m;
        m.msg = msg;
        m.wParam = wParam;
        m.lParam = lParam;
        self->WndProc(m);
      },
      Qt::QueuedConnection);
}

int64_t TCLEngine::WndProc(const platform::InstanceMessage& m) {
  if (m.msg == FWM_CL_GET_APPID) {
    const int64_t id = GetCLSettings()->GetSettingInteger("App.ID");
    Trace("CL GetAppID -> " + std::to_string(id));
    return id;
  }
  if (m.msg == FWM_CL_CLOSE_APP) {
    Trace("CL CloseApp");
    // Remembered for the start-up routine too: a request answered from a
    // modal loop before the message loop runs would otherwise be lost.
    CLTerminateRequested() = true;
    // Every running loop ends, modal ones included, without asking the
    // windows (a main window would go to the tray instead of closing).
    QCoreApplication::exit(0);
    return 0;
  }
  if (m.msg == FWM_CL_INITPOST) {
    InitPost();
    return 0;
  }
  if (m.msg == FWM_CL_CMDPARAM) {
    Trace("CL CmdParam: " + FParamFile);
    if (OnCmdFile) OnCmdFile(FParamFile);
    return 0;
  }
  if (m.msg == FWM_CL_IF_BUSY) {
    Trace(std::string("CL IfBusy -> ") + (FInInited ? "1" : "0"));
    return FInInited ? 1 : 0;
  }
  if (m.msg == FWM_CL_ACTIVATION_TOKEN) {
    Trace("CL ActivationToken -> 1");
    return 1;  // a token may follow as copy-data
  }
  if (m.isCopyData && m.dwData == CLConst::ActivationTokenData) {
    // Printable text of a sane length, as compositors hand out; anything
    // else is dropped rather than put into the environment.
    const bool sane =
        !m.data.empty() && m.data.size() <= kMaxActivationToken &&
        std::all_of(m.data.begin(), m.data.end(), [](char c) { return c > ' ' && c < 0x7F; });
    FActivationToken = sane ? m.data : std::string();
    Trace(std::string("Activation token ") + (sane ? "received" : "refused"));
    return sane ? 1 : 0;
  }
  if (m.msg == FWM_CL_BRING_TO_FRONT) {
    int64_t reply = 0;
    if (FSkinForm && FSkinForm->TrayIcon()) {
      FSkinForm->RestoreFromTray();
      reply = 1;
    } else if (RestoreFromTray) {
      RestoreFromTray();
      reply = 1;
    }
    UseActivationToken();
    Trace("CL BringtoFront -> " + std::to_string(reply));
    return reply;
  }
  if (m.msg == FWM_CL_FORCE_FOREGROUND) {
    const bool ok = FForm && ForceForegroundWindow(FForm);
    UseActivationToken();
    Trace(std::string("CL ForceForeground -> ") + (ok ? "1" : "0"));
    return ok ? 1 : 0;
  }
  if (m.msg == WM_QUERYENDSESSION_MSG) {
    QueryEndSession();
    return 1;  // the session may end
  }
  if (m.isCopyData || m.msg == platform::WM_COPYDATA_MSG) {
    FParamFile = Utf16BytesToUtf8(m.data);
    Trace("WM_COPYDATA: " + FParamFile);
    PostMessage(FWM_CL_CMDPARAM);
    return 0;
  }
  return 0;
}

void TCLEngine::UseActivationToken() {
  if (FActivationToken.empty() || !FForm) return;
  // Good for one activation: used now, after the window came back.
  const std::string token = std::move(FActivationToken);
  FActivationToken.clear();
  const bool handed = ActivateWithToken(FForm, token);
  Trace(std::string("Activation with the token of the second start: ") +
        (handed ? "handed to the window system" : "not taken by this window system"));
}

// --- the language-file writer ---------------------------------------------------------------------------------

bool CLWriteLanguageFile(const std::string& strFileName, const std::string& baseLanguageFile,
                         const std::vector<std::function<TForm*()>>& Windows,
                         std::string& strError) {
  struct DesignMode {
    bool saved = CLDesigning();
    DesignMode() { CLDesigning() = true; }
    ~DesignMode() { CLDesigning() = saved; }
  } designMode;

  TCLMultiLangData data(nullptr);
  if (!baseLanguageFile.empty() && platform::FileExists(baseLanguageFile)) {
    try {
      data.LoadCurrentFromFile(baseLanguageFile);
    } catch (const std::exception& e) {
      strError = e.what();
      return false;
    }
    data.ClearCurrentAllForm();
  }

  std::vector<std::unique_ptr<TForm>> windows;
  bool rulesTaken = false;
  for (const auto& create : Windows) {
    std::unique_ptr<TForm> w(create());
    if (!w) continue;
    for (int i = 0; i < w->ComponentCount(); ++i)
      if (auto* translator = dynamic_cast<TCLMultiLang*>(w->Components(i))) {
        // Collected with the collecting rules of the window's own data.
        if (TCLMultiLangData* own = translator->LanguageData(); own && !rulesTaken) {
          data.SetExcludeProps(own->ExcludeProps());
          data.SetExcludeEmptyProp(own->ExcludeEmptyProp());
          data.SetExcludeNumberEndProps(own->ExcludeNumberEndProps());
          data.SetExcludeWithAction(own->ExcludeWithAction());
          rulesTaken = true;
        }
        translator->SetLanguageData(&data);
      }
    windows.push_back(std::move(w));
  }
  data.UpdateClients();
  bool ok = true;
  try {
    data.SaveCurrentToFile(strFileName);
  } catch (const std::exception& e) {
    strError = e.what();
    ok = false;
  }
  // The translators leave the writer's data before the windows go.
  for (auto& w : windows)
    for (int i = 0; i < w->ComponentCount(); ++i)
      if (auto* translator = dynamic_cast<TCLMultiLang*>(w->Components(i)))
        if (translator->LanguageData() == &data) translator->SetLanguageData(nullptr);
  windows.clear();
  return ok;
}
