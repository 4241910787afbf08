#include "framework/qt/windows/CLMessageBox.h"

#include "vcl/Forms.h"
#include "vcl/spMessage.h"

TCLSkinMessageBoxes::TCLSkinMessageBoxes(TForm* AOwner) : FOwner(AOwner) {}

TCLSkinMessageBoxes::~TCLSkinMessageBoxes() = default;

void TCLSkinMessageBoxes::SetSkinData(TspSkinData* data) {
  FSkinData = data;
  if (FMessageDlg) {
    FMessageDlg->SetSkinData(data);
    FMessageDlg->SetCtrlSkinData(data);
  }
}

void TCLSkinMessageBoxes::Forget(TCLComponent* component) {
  if (component == FMessageDlg) FMessageDlg = nullptr;
  if (component == FSkinData) SetSkinData(nullptr);
}

TCLMessageBoxReply TCLSkinMessageBoxes::ShowMessageBox(const TCLMessageBoxRequest& request) {
  if (!FMessageDlg) {
    if (FOwner) {
      FMessageDlg = new TspSkinMessage(FOwner);
    } else {
      FOwnedDlg = std::make_unique<TspSkinMessage>(nullptr);
      FMessageDlg = FOwnedDlg.get();
    }
    FMessageDlg->SetName("spSkinMessage");
    FMessageDlg->SetSkinData(FSkinData);
    FMessageDlg->SetCtrlSkinData(FSkinData);
  }
  FMessageDlg->SetShowAgainFlag(request.ShowAgainFlag);
  FMessageDlg->SetShowAgainFlagValue(true);
  TCLMessageBoxReply reply;
  // The dialog component may go with its window while the box is open.
  TspSkinMessage* dlg = FMessageDlg;
  reply.Result =
      dlg->MessageDlg2(request.Text, request.Caption, static_cast<TMsgDlgType>(request.DlgType),
                       request.Buttons, request.HelpCtx);
  if (FMessageDlg == dlg) reply.ShowAgainFlagValue = dlg->ShowAgainFlagValue();
  return reply;
}
