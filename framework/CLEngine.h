// The framework engine that sits on the main window. This unit holds the part
// the start-up routine relies on: the hook that answers the messages other
// instances of this installation send (find, close, busy test, bring to
// front, command parameter hand-over), the pending command parameter and the
// post-initialisation that follows loading.
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "framework/CLSettings.h"
#include "net/StringList.h"
#include "platform/Instance.h"

class QSocketNotifier;

class TCLEngine : public QObject, public ICLSettingsLayers {
  Q_OBJECT
 public:
  using TOnCmdFile = std::function<void(const std::string& strFileName)>;

  // The owner must be the form the engine sits on; the engine publishes that
  // form to other instances under the form's class name.
  explicit TCLEngine(QWidget* AOwner, const std::string& formClassName);
  ~TCLEngine() override;

  bool Debug() const { return FDebug; }
  // True from creation until the post-initialisation has finished.
  bool InInited() const { return FInInited; }
  const std::string& ParamFile() const { return FParamFile; }

  // Receives command parameters handed over by later starts.
  TOnCmdFile OnCmdFile;
  // Restores the form from the tray; set by windows that have a skin form
  // with a tray icon. Unset: "CL BringtoFront" answers 0.
  std::function<void()> RestoreFromTray;

  // The override and default layers of the settings store.
  TStringList& SettingOverwrite() { return FSettingOverwrite; }
  TStringList& SettingDefault() { return FSettingDefault; }
  bool FindOverride(const std::string& name, std::string& value) const override;
  bool FindDefault(const std::string& name, std::string& value) const override;

  // The window procedure hook: answers one message of the instance protocol.
  // Returns the reply; messages it does not know answer 0.
  int64_t WndProc(const platform::InstanceMessage& message);
  // Queues a message to the engine's own window (PostMessageW).
  void PostMessage(uint32_t msg, int64_t wParam = 0, int64_t lParam = 0);

  // The registered numbers of the protocol's messages.
  uint32_t FWM_CL_GET_APPID = 0, FWM_CL_CLOSE_APP = 0, FWM_CL_INITPOST = 0,
           FWM_CL_CMDPARAM = 0, FWM_CL_IF_BUSY = 0, FWM_CL_BRING_TO_FRONT = 0,
           FWM_CL_FORCE_FOREGROUND = 0;

 private:
  void Loaded();
  void PostInit();
  void Trace(const std::string& line) const;

  QPointer<QWidget> FForm;
  bool FDebug = false;
  TStringList FSettingOverwrite;
  TStringList FSettingDefault;
  std::string FParamFile;
  bool FInInited = true;
  std::unique_ptr<platform::InstanceEndpoint> FEndpoint;
  QSocketNotifier* FNotifier = nullptr;
};

// The first engine created in the process; null while none exists.
TCLEngine* GetCLEngine();
