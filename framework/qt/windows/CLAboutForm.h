// The about window: the product's version and notice lines, the language
// and translator of the loaded language file, and a link to the support
// page. Its texts come from the "LibRes" section of the language file and
// from settings, read once when the window is created: the engine keeps
// one about window for the life of the process (TCLEngine::AppAbout).
#pragma once

#include <string>

#include "framework/qt/windows/CLFrameworkWindows.h"
#include "vcl/Controls.h"
#include "vcl/Forms.h"

class TCLForm;

class TfrmCLAboutForm : public TForm, public ICLAboutWindow {
 public:
  explicit TfrmCLAboutForm(TCLComponent* AOwner = nullptr);
  std::string ClassName() const override { return "TfrmCLAboutForm"; }

  // Creates and loads a window owned by AOwner (the engine's window).
  static TfrmCLAboutForm* Create(TForm* AOwner);

  // ICLAboutWindow
  bool Showing() const override { return isVisible(); }
  void SetParentWindow(WId parent) override;
  int ShowModal() override { return TForm::ShowModal(); }

  void FormKeyUp(int& Key, Qt::KeyboardModifiers Shift);
  void lblSupportClick();
  // The support link's target, fixed when the window was created.
  const std::string& SupportURL() const { return FSupportURL; }

  TCLForm* CLForm1 = nullptr;
  TPanel* pnLogo = nullptr;
  TImage* imgLogo = nullptr;
  TPanel* pn1 = nullptr;
  TLabel* lbInfo = nullptr;
  TPanel* pn2 = nullptr;
  TLabel* lblSupport = nullptr;
  TButton* btnOK = nullptr;

 protected:
  void FormCreate() override;
  void resizeEvent(QResizeEvent* e) override;
  void keyReleaseEvent(QKeyEvent* e) override;

 private:
  void Realign();
  std::string FSupportURL;
};
