#include "framework/CLEngine.h"

#include <QApplication>
#include <QSocketNotifier>

#include "framework/CLConst.h"
#include "framework/CLDebugLog.h"
#include "framework/CLMain.h"
#include "framework/CLSettings.h"

namespace {
TCLEngine* GEngine = nullptr;

// Copy-data carries UTF-16 text; take cbData / 2 characters of it.
std::string Utf16BytesToUtf8(const std::string& bytes) {
  std::u16string units;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2)
    units.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                          (static_cast<unsigned char>(bytes[i + 1]) << 8)));
  return QString::fromUtf16(units.data(), static_cast<qsizetype>(units.size()))
      .toUtf8()
      .toStdString();
}
}  // namespace

TCLEngine* GetCLEngine() { return GEngine; }

TCLEngine::TCLEngine(QWidget* AOwner, const std::string& formClassName)
    : QObject(AOwner), FForm(AOwner) {
  FWM_CL_GET_APPID = platform::RegisterMessage(CLConst::WM_CL_GET_APPID);
  FWM_CL_CLOSE_APP = platform::RegisterMessage(CLConst::WM_CL_CLOSE_APP);
  FWM_CL_INITPOST = platform::RegisterMessage(CLConst::WM_CL_INITPOST);
  FWM_CL_CMDPARAM = platform::RegisterMessage(CLConst::WM_CL_CMDPARAM);
  FWM_CL_IF_BUSY = platform::RegisterMessage(CLConst::WM_CL_IF_BUSY);
  FWM_CL_BRING_TO_FRONT = platform::RegisterMessage(CLConst::WM_CL_BRING_TO_FRONT);
  FWM_CL_FORCE_FOREGROUND = platform::RegisterMessage(CLConst::WM_CL_FORCE_FOREGROUND);

  FSettingDefault.Add("Path.Skins=skins");
  FSettingDefault.Add("Path.Languages=lang");
  if (!GEngine) GEngine = this;
  RegisterSettingsEngine(this);
  FDebug = CLDebugMode();
  FInInited = true;

  // Hook the form: publish it to other instances and answer their requests
  // from this thread's event loop.
  FEndpoint = platform::CreateInstanceEndpoint(
      formClassName, [this](const platform::InstanceMessage& m) { return WndProc(m); });
  if (FEndpoint && FEndpoint->fd() >= 0) {
    FNotifier = new QSocketNotifier(FEndpoint->fd(), QSocketNotifier::Read, this);
    connect(FNotifier, &QSocketNotifier::activated, this, [this] {
      if (FEndpoint) FEndpoint->ProcessPending();
    });
  }
  Loaded();
}

TCLEngine::~TCLEngine() {
  if (FNotifier) FNotifier->setEnabled(false);
  FEndpoint.reset();
  UnregisterSettingsEngine(this);
  if (GEngine == this) GEngine = nullptr;
}

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

void TCLEngine::Trace(const std::string& line) const { CLDebugLog::Write("CLEngine", line); }

// End of loading: post-initialisation runs from the message loop.
void TCLEngine::Loaded() { PostMessage(FWM_CL_INITPOST); }

void TCLEngine::PostInit() {
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
  FInInited = false;
  Trace("Post-initialisation done");
}

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
    QCoreApplication::quit();
    return 0;
  }
  if (m.msg == FWM_CL_INITPOST) {
    PostInit();
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
  if (m.msg == FWM_CL_BRING_TO_FRONT) {
    const bool restored = static_cast<bool>(RestoreFromTray);
    Trace(std::string("CL BringtoFront -> ") + (restored ? "1" : "0"));
    if (!restored) return 0;
    RestoreFromTray();
    return 1;
  }
  if (m.msg == FWM_CL_FORCE_FOREGROUND) {
    const bool ok = FForm && ForceForegroundWindow(FForm);
    Trace(std::string("CL ForceForeground -> ") + (ok ? "1" : "0"));
    return ok ? 1 : 0;
  }
  if (m.isCopyData || m.msg == platform::WM_COPYDATA_MSG) {
    FParamFile = Utf16BytesToUtf8(m.data);
    Trace("WM_COPYDATA: " + FParamFile);
    PostMessage(FWM_CL_CMDPARAM);
    return 0;
  }
  return 0;
}
