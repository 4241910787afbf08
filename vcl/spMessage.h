// The skin library's message dialog: buttons of the requested kinds in kind
// order with their result codes and captions from the library's string
// table, a default and a cancel button, an icon by dialog type, and, when
// asked, a "do not display this message again" check box whose state comes
// back to the caller.
#pragma once

#include <string>

#include "framework/lang/CLMultiLangClasses.h"
#include "vcl/Forms.h"
#include "vcl/spSkinData.h"

enum TMsgDlgType {
  mtWarning = 0,
  mtError = 1,
  mtInformation = 2,
  mtConfirmation = 3,
  mtCustom = 4
};

// Button kinds as set bits.
enum TMsgDlgBtn : unsigned {
  mbYes = 1,
  mbNo = 2,
  mbOK = 4,
  mbCancel = 8,
  mbAbort = 16,
  mbRetry = 32,
  mbIgnore = 64,
  mbAll = 128,
  mbNoToAll = 256,
  mbYesToAll = 512,
  mbHelp = 1024,
  mbClose = 2048,
};

// One button kind: its component name, result code and caption name in the
// string table (empty: the kind has no table caption).
struct TMsgDlgButtonKind {
  unsigned Bit;
  const char* Name;
  int Result;
  const char* CaptionName;
};
// The twelve kinds, in the order the dialog creates them.
const TMsgDlgButtonKind* MsgDlgButtonKinds(int& count);

// Extra height of a dialog that carries the check box.
inline constexpr int kShowAgainExtraHeight = 40;

class TspSkinMessage : public TCLComponent {
 public:
  explicit TspSkinMessage(TCLComponent* AOwner);
  std::string ClassName() const override { return "TspSkinMessage"; }
  const TCLPropTable& PropTable() const override;

  TspSkinData* SkinData() const { return FSkinData; }
  void SetSkinData(TspSkinData* d) { FSkinData = d; }
  TspSkinData* CtrlSkinData() const { return FCtrlSkinData; }
  void SetCtrlSkinData(TspSkinData* d) { FCtrlSkinData = d; }

  // The next dialog carries the check box.
  bool ShowAgainFlag() const { return FShowAgainFlag; }
  void SetShowAgainFlag(bool v) { FShowAgainFlag = v; }
  // True while the message is still to be shown again; the dialog writes
  // back the opposite of the check box when it closes.
  bool ShowAgainFlagValue() const { return FShowAgainFlagValue; }
  void SetShowAgainFlagValue(bool v) { FShowAgainFlagValue = v; }

  // Shows the dialog modally; the result code of the pressed button (the
  // cancel button's code for Escape or the window's close button).
  int MessageDlg2(const std::string& Msg, const std::string& ACaption, TMsgDlgType DlgType,
                  unsigned Buttons, int HelpCtx);

  // The caption of a string-table name as this dialog shows it.
  std::string ResString(const std::string& name) const;

  void Notification(TCLComponent* AComponent) override;

  // The window a box opened now belongs to (its parent), or none.
  QWidget* OwnerWindowOfBox() const;

 private:
  TForm* ParentOwnerForm() const;
  TspSkinData* FSkinData = nullptr;
  TspSkinData* FCtrlSkinData = nullptr;
  bool FShowAgainFlag = false;
  bool FShowAgainFlagValue = true;
};
