// Message-box glue: the one way the engine shows a message box. The engine
// asks an ICLMessageBoxes; the application's implementation shows the skin
// library's message dialog, tests install one that answers without a
// person.
#pragma once

#include <memory>
#include <string>

class TCLComponent;
class TForm;
class TspSkinData;
class TspSkinMessage;

struct TCLMessageBoxRequest {
  std::string Text;
  std::string Caption;
  int DlgType = 2;       // 0 warning, 1 error, 2 information, 3 confirmation, 4 custom
  unsigned Buttons = 4;  // set of button kinds (Yes 1, No 2, OK 4, Cancel 8, ...)
  int HelpCtx = 0;
  bool ShowAgainFlag = false;  // the box carries the "do not display again" check box
};

struct TCLMessageBoxReply {
  int Result = 0;                  // result code of the pressed button
  bool ShowAgainFlagValue = true;  // false: the user ticked the check box
};

class ICLMessageBoxes {
 public:
  virtual ~ICLMessageBoxes() = default;
  virtual TCLMessageBoxReply ShowMessageBox(const TCLMessageBoxRequest& request) = 0;
};

// The skinned boxes: one message dialog component, created on first use,
// owned by the given window and styled with the given skin data, reused for
// every box.
class TCLSkinMessageBoxes : public ICLMessageBoxes {
 public:
  explicit TCLSkinMessageBoxes(TForm* AOwner);
  ~TCLSkinMessageBoxes() override;
  void SetSkinData(TspSkinData* data);
  TCLMessageBoxReply ShowMessageBox(const TCLMessageBoxRequest& request) override;
  // The dialog component, null until the first box.
  TspSkinMessage* MessageDlg() const { return FMessageDlg; }
  // The owner tells the glue that one of its components is going away.
  void Forget(TCLComponent* component);

 private:
  TForm* FOwner;
  TspSkinData* FSkinData = nullptr;
  TspSkinMessage* FMessageDlg = nullptr;
  std::unique_ptr<TspSkinMessage> FOwnedDlg;  // when there is no owner window
};
