#include "vcl/spMessage.h"

#include <QApplication>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QStyle>

#include <algorithm>
#include <vector>

#include "vcl/Controls.h"
#include "vcl/spSkinForm.h"

namespace {

const TMsgDlgButtonKind kKinds[] = {
    {mbYes, "Yes", mrYes, "MSG_BTN_YES"},
    {mbNo, "No", mrNo, "MSG_BTN_NO"},
    {mbOK, "OK", mrOk, "MSG_BTN_OK"},
    {mbCancel, "Cancel", mrCancel, "MSG_BTN_CANCEL"},
    {mbAbort, "Abort", mrAbort, "MSG_BTN_ABORT"},
    {mbRetry, "Retry", mrRetry, "MSG_BTN_RETRY"},
    {mbIgnore, "Ignore", mrIgnore, "MSG_BTN_IGNORE"},
    {mbAll, "All", mrAll, "MSG_BTN_ALL"},
    {mbNoToAll, "NoToAll", mrNoToAll, "MSG_BTN_NOTOALL"},
    {mbYesToAll, "YesToAll", mrYesToAll, "MSG_BTN_YESTOALL"},
    {mbHelp, "Help", mrNone, "MSG_BTN_HELP"},
    {mbClose, "Close", mrClose, ""},
};

const char* const kTypeCaptions[] = {"MSG_CAP_WARNING", "MSG_CAP_ERROR", "MSG_CAP_INFORMATION",
                                     "MSG_CAP_CONFIRM"};

// The dialog window itself.
class TspMessageForm : public TForm {
 public:
  explicit TspMessageForm(TCLComponent* AOwner) : TForm(AOwner) {}
  std::string ClassName() const override { return "TspMessageForm"; }
};

const int kMargin = 12;
const int kIconSize = 32;
const int kButtonHeight = 25;
const int kButtonGap = 8;
const int kMaxTextWidth = 380;

}  // namespace

const TMsgDlgButtonKind* MsgDlgButtonKinds(int& count) {
  count = static_cast<int>(std::size(kKinds));
  return kKinds;
}

TspSkinMessage::TspSkinMessage(TCLComponent* AOwner) : TCLComponent(AOwner) {}

const TCLPropTable& TspSkinMessage::PropTable() const {
  using M = TspSkinMessage;
  static const TCLPropTable table =
      TCLPropBuilder<M>(&TCLComponent::ComponentProps())
          .Object<TspSkinData>("SkinData", "TspSkinData", &M::SkinData, &M::SetSkinData)
          .Object<TspSkinData>("CtrlSkinData", "TspSkinData", &M::CtrlSkinData, &M::SetCtrlSkinData)
          .Plain("ButtonSkinDataName", "string", TCLTypeKind::LString)
          .Plain("MessageLabelSkinDataName", "string", TCLTypeKind::LString)
          .Plain("ShowAgainFlag", "Boolean", TCLTypeKind::Enumeration)
          .Plain("ShowAgainFlagValue", "Boolean", TCLTypeKind::Enumeration)
          .Build();
  return table;
}

void TspSkinMessage::Notification(TCLComponent* AComponent) {
  if (AComponent == FSkinData) FSkinData = nullptr;
  if (AComponent == FCtrlSkinData) FCtrlSkinData = nullptr;
}

QWidget* TspSkinMessage::OwnerWindowOfBox() const {
  // The window the user works in: a modal one first, then the active one,
  // then the window this component sits on; hidden windows do not count (a
  // box of a window in the tray stands alone).
  QWidget* candidates[] = {QApplication::activeModalWidget(), QApplication::activeWindow(),
                           ParentOwnerForm()};
  // Only a window of its own counts: a menu or a splash is no owner (a
  // Wayland compositor takes only a top-level window as a parent).
  for (QWidget* w : candidates) {
    if (!w || !w->isVisible() || w->isMinimized()) continue;
    QWidget* top = w->window();
    const Qt::WindowType type = top->windowType();
    if (type == Qt::Window || type == Qt::Dialog || type == Qt::Tool) return top;
  }
  return nullptr;
}

TForm* TspSkinMessage::ParentOwnerForm() const {
  for (TCLComponent* c = Owner(); c; c = c->Owner())
    if (auto* form = dynamic_cast<TForm*>(c)) return form;
  return nullptr;
}

std::string TspSkinMessage::ResString(const std::string& name) const {
  TspResourceStrData* table = nullptr;
  if (FSkinData) table = FSkinData->ResourceStrData();
  if (!table && FCtrlSkinData) table = FCtrlSkinData->ResourceStrData();
  return table ? table->GetResStr(name) : TspResourceStrData::BuiltInStr(name);
}

int TspSkinMessage::MessageDlg2(const std::string& Msg, const std::string& ACaption,
                                TMsgDlgType DlgType, unsigned Buttons, int HelpCtx) {
  (void)HelpCtx;
  auto* dlg = new TspMessageForm(nullptr);
  dlg->SetName("spMessageForm");
  dlg->SetBorderStyle(TFormBorderStyle::bsDialog);
  dlg->SetPosition(TPosition::poScreenCenter);
  // The box belongs to a window, so that the window system keeps it above
  // that window (a Wayland compositor may otherwise open it behind).
  if (QWidget* owner = OwnerWindowOfBox()) dlg->setParent(owner, dlg->windowFlags());

  std::string caption = ACaption;
  if (caption.empty() && DlgType >= mtWarning && DlgType <= mtConfirmation)
    caption = ResString(kTypeCaptions[DlgType]);
  if (caption.empty()) caption = ApplicationTitle();
  dlg->SetCaption(caption);

  QWidget* client = dlg->ClientArea();
  const QFontMetrics fm(dlg->font());

  // Icon by type.
  int textLeft = kMargin;
  int iconHeight = 0;
  if (DlgType >= mtWarning && DlgType <= mtConfirmation) {
    static const QStyle::StandardPixmap icons[] = {QStyle::SP_MessageBoxWarning,
                                                   QStyle::SP_MessageBoxCritical,
                                                   QStyle::SP_MessageBoxInformation,
                                                   QStyle::SP_MessageBoxQuestion};
    auto* icon = new QLabel(client);
    icon->setObjectName("Image");
    icon->setPixmap(
        QApplication::style()->standardIcon(icons[DlgType]).pixmap(kIconSize, kIconSize));
    icon->setGeometry(kMargin, kMargin, kIconSize, kIconSize);
    textLeft += kIconSize + kMargin;
    iconHeight = kIconSize;
  }

  // Message text.
  const QString text = QStr(Msg);
  const QRect textRect =
      fm.boundingRect(QRect(0, 0, kMaxTextWidth, 100000), Qt::TextWordWrap | Qt::AlignLeft, text);
  const int textWidth = std::max(textRect.width(), 1);
  const int textHeight = std::max(textRect.height(), fm.height());
  auto* message = new QLabel(client);
  message->setObjectName("Message");
  message->setTextFormat(Qt::PlainText);
  message->setWordWrap(true);
  message->setText(text);
  message->setGeometry(textLeft, kMargin + std::max(0, (iconHeight - textHeight) / 2),
                       textWidth + 2, textHeight);

  // Buttons of the requested kinds, in kind order.
  struct Made {
    TButton* button;
    const TMsgDlgButtonKind* kind;
  };
  std::vector<Made> made;
  int buttonsWidth = 0;
  for (const TMsgDlgButtonKind& k : kKinds) {
    if (!(Buttons & k.Bit)) continue;
    auto* b = new TButton(dlg);
    b->SetName(k.Name);
    b->SetCaption(*k.CaptionName ? ResString(k.CaptionName) : std::string("Close"));
    b->SetModalResult(k.Result);
    const int w = std::max(75, fm.horizontalAdvance(DisplayCaption(b->Caption())) + 24);
    b->resize(w, kButtonHeight);
    buttonsWidth += w + (made.empty() ? 0 : kButtonGap);
    made.push_back({b, &k});
  }
  auto find = [&made](unsigned bit) -> TButton* {
    for (const Made& m : made)
      if (m.kind->Bit == bit) return m.button;
    return nullptr;
  };
  TButton* def = find(mbOK);
  if (!def) def = find(mbYes);
  if (!def) def = find(mbRetry);
  TButton* cancel = find(mbCancel);
  if (!cancel) cancel = find(mbNo);
  if (!cancel) cancel = find(mbOK);
  if (def) def->SetDefault(true);
  if (cancel) cancel->SetCancel(true);

  // The optional check box, in a band of its own below the buttons.
  TCheckBox* check = nullptr;
  int checkWidth = 0;
  if (FShowAgainFlag) {
    check = new TCheckBox(dlg);
    check->SetName("checkbox");
    std::string flagText = ResString("MSG_CAP_SHOWFLAG");
    if (flagText.empty()) flagText = "Do not display this message again";
    check->SetCaption(flagText);
    check->SetChecked(!FShowAgainFlagValue);
    checkWidth = check->sizeHint().width();
  }

  const int clientWidth = std::max(
      {textLeft + textWidth + kMargin, buttonsWidth + 2 * kMargin, checkWidth + 2 * kMargin, 200});
  const int buttonsTop = kMargin + std::max(iconHeight, textHeight) + 16;
  int clientHeight = buttonsTop + kButtonHeight + kMargin;
  int x = (clientWidth - buttonsWidth) / 2;
  for (const Made& m : made) {
    m.button->move(x, buttonsTop);
    x += m.button->width() + kButtonGap;
  }
  if (check) {
    check->setGeometry(kMargin, clientHeight, clientWidth - 2 * kMargin, 24);
    clientHeight += kShowAgainExtraHeight;
  }
  dlg->SetClientSize(clientWidth, clientHeight);

  // The window's close button counts as the cancel button.
  dlg->OnClose = [cancel](TForm* f, TCloseAction&) {
    if (f->ModalResult() == mrNone && cancel) f->SetModalResult(cancel->ModalResult());
  };

  if (FSkinData) {
    auto* frame = new TspDynamicSkinForm(dlg);
    frame->SetBorderIcons(biSystemMenu);
    frame->SetSizeable(false);
    frame->SetSkinData(FSkinData);
  }
  dlg->AfterConstruction();
  if (def) def->setFocus();

  QPointer<TForm> guard(dlg);
  const int result = dlg->ShowModal();
  if (guard) {
    if (check) FShowAgainFlagValue = !check->isChecked();
    delete dlg;
  }
  return result;
}
