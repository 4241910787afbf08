// The update window: one request to the maker's service and what follows
// from its answer. The answer announces a new version ("Result", "info",
// "page") and pushes settings to the application ("Banner." lines and
// "__MODIFY__." lines, limited to the settings the service owns, see
// framework/CLServiceSettings.h); every accepted answer (its "magicword" matches
// "App.MagicWord") counts as one successful contact ("Update.Times").
//
// The engine opens it in three ways (TCLEngine::AppUpdate, AppUpdateAuto,
// AppWaitFirstUpdate) through StartUpdate. The window shows "connecting",
// the result with OK (and Cancel when there is a page to open), or, in
// compact mode, only a progress strip; it may close itself after a
// countdown.
#pragma once

#include <QPointer>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "framework/qt/windows/CLFrameworkWindows.h"
#include "vcl/Controls.h"
#include "vcl/Forms.h"

class QTimer;
class TCLForm;
class TSingleDownloader;

// The window's private message that shows the result (WM_USER + 2).
inline constexpr uint32_t WM_CL_UPDATE_SHOWRESULT = 0x0400 + 2;

class TfrmCLUpdateForm : public TForm, public ICLUpdateWindow {
 public:
  explicit TfrmCLUpdateForm(TCLComponent* AOwner = nullptr);
  ~TfrmCLUpdateForm() override;
  std::string ClassName() const override { return "TfrmCLUpdateForm"; }

  // Creates and loads a window owned by AOwner (the engine's window).
  static TfrmCLUpdateForm* Create(TForm* AOwner);

  void StartUpdate(bool AShowModal, bool AShowConnecting, bool ADoUpdate, bool AProcess,
                   bool AAutoClose) override;
  // Enables the countdown timer.
  void StartAutoClose();

  // --- handlers ---------------------------------------------------------------------
  void tmrTimerTimer();
  void sdDownloadDoneString(TSingleDownloader* Sender, const std::string& strResult);
  void sdDownloadError(TSingleDownloader* Sender);
  void btnOKClick();
  void btnCancelClick();
  void btnOK2Click();
  void FormKeyUp(int& Key, Qt::KeyboardModifiers Shift);
  // The window's own messages; WM_CL_UPDATE_SHOWRESULT shows the result.
  void WndProc(uint32_t Msg);
  // Queues a message to the window itself (PostMessageW).
  void PostMessage(uint32_t Msg);

  // --- state (read by tests and the engine) ----------------------------------------
  bool Updating() const { return FUpdating; }
  const std::string& Info() const { return FInfo; }
  const std::string& URL() const { return FURL; }
  int DelaySeconds() const { return FDelaySeconds; }
  bool ProcessMode() const { return FProcess; }
  TSingleDownloader* Downloader() const { return sdDownload.get(); }

  // The clock of the countdown (days as date-time); tests replace it.
  static std::function<double()>& Clock();

  // --- components --------------------------------------------------------------------
  TCLForm* CLForm1 = nullptr;
  TPanel* pnLogo = nullptr;
  TImage* imgLogo = nullptr;
  TPanel* pnInfo = nullptr;
  TLabel* lbInfo = nullptr;
  TLabel* lblTimer = nullptr;
  TCheckBox* cbAutoCheckUpdate = nullptr;
  TPanel* pnOkCancel = nullptr;
  TButton* btnOK = nullptr;
  TButton* btnCancel = nullptr;
  TPanel* pnOK = nullptr;
  TButton* btnOK2 = nullptr;
  TPanel* pnProcess = nullptr;
  TLabel* lbProcess = nullptr;
  TButton* btnCancelProcess = nullptr;
  QTimer* tmrTimer = nullptr;  // the countdown, 200 ms

 protected:
  void FormCreate() override;
  void resizeEvent(QResizeEvent* e) override;
  void keyReleaseEvent(QKeyEvent* e) override;

 private:
  // Places the panels: logo at the top, the visible button panel at the
  // bottom, the information panel between; in compact mode only the
  // progress panel, at the top.
  void Realign();
  void ShowResult();
  // Applies the "Banner." and "__MODIFY__." lines of an accepted answer in
  // one batch, with "Update.Times" + 1.
  void ApplyAnswer(const TStringList& answer);
  void SaveAutoCheck();
  void SetInfoText(const std::string& text);

  std::unique_ptr<TSingleDownloader> sdDownload;
  bool FUpdating = false;
  std::string FInfo;
  std::string FURL;
  double FStartTime = 0;
  int FDelaySeconds = 5;
  bool FShowModal = false;
  bool FShowConnecting = false;
  bool FDoUpdate = false;
  bool FProcess = false;
  bool FAutoClose = false;
};

// Whether a name pushed by the service can be stored as a setting: not
// empty, no control characters, no leading or trailing blank, and not
// starting with "[" or ";" (the settings file would read it back as a
// section header or a comment).
bool IsStorableSettingName(const std::string& name);
// Whether a pushed value can be stored: no control characters other than tab.
bool IsStorableSettingValue(const std::string& value);
