// The settings dialog: start with the system, check for updates at start,
// which browsers the hiding applies to; resetting every "do not show again"
// choice and reinstalling the Firefox extension (both act at once).
//
// The main window opens it for one modal showing with ShowSettings and
// afterwards sets its own autorun check box again from "AutoRun".
#pragma once

#include <functional>
#include <string>

#include "ui/SkinnedDialog.h"

class TButton;
class TCheckBox;
class TCLMultiLang;
class TEdit;
class TLabel;
class TPageControl;
class TspDynamicSkinForm;
class TTabSheet;

class TfrmSettings : public TSkinnedDialog {
  Q_OBJECT
 public:
  explicit TfrmSettings(TCLComponent* AOwner = nullptr);
  ~TfrmSettings() override;
  std::string ClassName() const override { return "TfrmSettings"; }

  // The check boxes from "AutoRun", "SWITCH.IE", "SWITCH.FF",
  // "SWITCH.OPERA", "Update.AutoCheck", "FailOver", in that order.
  void LoadOptions();
  // Stores the check boxes (and writes or removes the autorun entry).
  void SaveOptions();
  void btnOKClick(TButton* Sender);
  void btnClearShowAgainFlagClick(TButton* Sender);
  void btnReinstallFFClick(TButton* Sender);
  // Asks the address in edtService for the local information and shows in
  // lblServiceResult whether it answers, and if not, why.
  void btnTestServiceClick(TButton* Sender);
  // The address typed into edtService: trimmed, without trailing "/"; empty
  // when it is not an http:// or https:// address.
  std::string TypedService() const;

  // Lets the user pick the Firefox executable; empty when cancelled.
  // Tests may replace the chooser (arguments: parent window, the file to
  // start from, the dialog's caption).
  using TFileChooser = std::function<std::string(QWidget* parent, const std::string& initial,
                                                 const std::string& caption)>;
  static TFileChooser& FirefoxChooser();
  std::string ChooseFirefoxPath();

  TPageControl* pcSetting = nullptr;
  TTabSheet* tsGeneral = nullptr;
  TTabSheet* tsBrowser = nullptr;
  TCheckBox* cbAutoRun = nullptr;
  TCheckBox* cbAutoUpdate = nullptr;
  TCheckBox* cbFailOver = nullptr;
  TButton* btnClearShowAgainFlag = nullptr;
  // The service's address ("URL.Service"): the value in use is shown, a
  // changed one is kept in the user's file when OK is pressed.
  TLabel* lblService = nullptr;
  TEdit* edtService = nullptr;
  TButton* btnTestService = nullptr;
  TLabel* lblServiceResult = nullptr;
  TLabel* lblBrowser = nullptr;
  TCheckBox* cbIE = nullptr;
  TCheckBox* cbFF = nullptr;
  TCheckBox* cbOpera = nullptr;
  TCheckBox* cbWebRtc = nullptr;
  TButton* btnReinstallFF = nullptr;
  TButton* btnOK = nullptr;
  TButton* btnCancel = nullptr;

 protected:
  // Shows the first page, then LoadOptions.
  void FormCreate() override;
  // Every opening starts on the first page.
  void showEvent(QShowEvent* e) override;
};

// The dialog while it exists (one at a time), else null.
extern TfrmSettings* frmSettings;

// Creates the dialog owned by AOwner, shows it modally and frees it. True
// when it was closed with OK (the options are then stored).
bool ShowSettings(TForm* AOwner);
