#include "vcl/spSkinForm.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QToolButton>
#include <QWindow>

#include "vcl/Controls.h"
#include "vcl/WindowSystem.h"

namespace {
const int kCaptionHeight = 26;
const int kFrameMargin = 3;
}  // namespace

// --- TspTrayIcon -----------------------------------------------------------------------------

TspTrayIcon::TspTrayIcon(TCLComponent* AOwner) : TCLComponent(AOwner) {}

TspTrayIcon::~TspTrayIcon() {
  if (FTray) FTray->hide();
}

const TCLPropTable& TspTrayIcon::PropTable() const {
  using T = TspTrayIcon;
  static const TCLPropTable table =
      TCLPropBuilder<T>(&TCLComponent::ComponentProps())
          .Text("Hint", "string", &T::Hint, &T::SetHint)
          .Plain("Icon", "TIcon", TCLTypeKind::Class)
          .Plain("IconVisible", "Boolean", TCLTypeKind::Enumeration)
          .Object<TPopupMenu>("PopupMenu", "TPopupMenu", &T::PopupMenu, &T::SetPopupMenu)
          .Event("OnClick")
          .Event("OnDblClick")
          .Build();
  return table;
}

bool TspTrayIcon::Available() { return SystemTrayAvailable(); }

void TspTrayIcon::EnsureTray() {
  if (FTray) return;
  FTray = std::make_unique<QSystemTrayIcon>();
  QIcon icon = QApplication::windowIcon();
  if (icon.isNull()) icon = QApplication::style()->standardIcon(QStyle::SP_ComputerIcon);
  FTray->setIcon(icon);
  FTray->setToolTip(QStr(FHint));
  if (FPopupMenu) FTray->setContextMenu(FPopupMenu->QtMenu());
  QObject::connect(FTray.get(), &QSystemTrayIcon::activated,
                   [this](QSystemTrayIcon::ActivationReason reason) {
                     if (reason == QSystemTrayIcon::Trigger) Click();
                     if (reason == QSystemTrayIcon::DoubleClick && OnDblClick) OnDblClick(this);
                   });
}

void TspTrayIcon::SetHint(const std::string& v) {
  FHint = v;
  if (FTray) FTray->setToolTip(QStr(v));
}

void TspTrayIcon::SetPopupMenu(TPopupMenu* m) {
  FPopupMenu = m;
  if (FTray) FTray->setContextMenu(m ? m->QtMenu() : nullptr);
}

void TspTrayIcon::SetIconVisible(bool v) {
  FIconVisible = v;
  if (v) {
    EnsureTray();
    FTray->show();
  } else if (FTray) {
    FTray->hide();
  }
}

void TspTrayIcon::SetIcon(const QIcon& icon) {
  EnsureTray();
  FTray->setIcon(icon);
}

void TspTrayIcon::Click() {
  if (OnClick) OnClick(this);
}

void TspTrayIcon::Notification(TCLComponent* AComponent) {
  if (AComponent == FPopupMenu) SetPopupMenu(nullptr);
}

// --- TspCaptionBar -------------------------------------------------------------------------------

TspCaptionBar::TspCaptionBar(TspDynamicSkinForm* skinForm, QWidget* parent)
    : QFrame(parent), FSkinForm(skinForm) {
  setObjectName("spCaptionBar");
  setFixedHeight(kCaptionHeight);
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(4, 0, 2, 0);
  layout->setSpacing(2);
  FSysMenu = AddButton("spBtnSysMenu", QString::fromUtf8("\u2261"), cmSysMenu);
  FTitle = new QLabel(this);
  FTitle->setObjectName("spCaptionTitle");
  layout->addWidget(FTitle, 1);
  FRollUp = AddButton("spBtnRollUp", QString::fromUtf8("\u25B4"), cmRollUp);
  FTray = AddButton("spBtnTray", QString::fromUtf8("\u25BE"), cmMinimizeToTray);
  FMinimize = AddButton("spBtnMinimize", QString::fromUtf8("\u2013"), cmMinimize);
  FMaximize = AddButton("spBtnMaximize", QString::fromUtf8("\u25A1"), cmMaximize);
  FClose = AddButton("spBtnClose", QString::fromUtf8("\u2715"), cmClose);
  if (parent) {
    FTitle->setText(parent->windowTitle());
    QObject::connect(parent, &QWidget::windowTitleChanged, FTitle, &QLabel::setText);
  }
  UpdateButtons();
}

QToolButton* TspCaptionBar::AddButton(const char* name, const QString& glyph, TStdCommand cmd) {
  auto* b = new QToolButton(this);
  b->setObjectName(name);
  b->setProperty("spCaptionButton", true);
  b->setText(glyph);
  b->setAutoRaise(true);
  b->setFocusPolicy(Qt::NoFocus);
  b->setFixedSize(kCaptionHeight - 4, kCaptionHeight - 4);
  layout()->addWidget(b);
  QObject::connect(b, &QToolButton::clicked, [this, cmd] { FSkinForm->ExecuteCommand(cmd); });
  return b;
}

QToolButton* TspCaptionBar::Button(TStdCommand cmd) const {
  switch (cmd) {
    case cmClose: return FClose;
    case cmMaximize: return FMaximize;
    case cmMinimize: return FMinimize;
    case cmSysMenu: return FSysMenu;
    case cmRollUp: return FRollUp;
    case cmMinimizeToTray: return FTray;
    default: return nullptr;
  }
}

void TspCaptionBar::UpdateButtons() {
  const unsigned icons = FSkinForm->BorderIcons();
  FSysMenu->setVisible((icons & biSystemMenu) && FSkinForm->SystemMenu());
  FClose->setVisible(icons & biSystemMenu);
  FMinimize->setVisible(icons & biMinimize);
  FMaximize->setVisible(icons & biMaximize);
  FRollUp->setVisible(icons & biRollUp);
  FTray->setVisible(icons & biMinimizeToTray);
  // Tool tips from the skin library's string table.
  TspResourceStrData* table =
      FSkinForm->SkinData() ? FSkinForm->SkinData()->ResourceStrData() : nullptr;
  auto tip = [table](const char* name) {
    return DisplayCaption(table ? table->GetResStr(name) : TspResourceStrData::BuiltInStr(name));
  };
  FClose->setToolTip(tip("MI_CLOSECAPTION"));
  FMinimize->setToolTip(tip("MI_MINCAPTION"));
  FMaximize->setToolTip(tip("MI_MAXCAPTION"));
  FRollUp->setToolTip(tip("MI_ROLLUPCAPTION"));
  FTray->setToolTip(tip("MI_MINTOTRAYCAPTION"));
}

void TspCaptionBar::mousePressEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) return QFrame::mousePressEvent(e);
  QWidget* w = window();
  // The window system moves the window where it can; otherwise the bar
  // drags it itself.
  if (w->windowHandle() && w->windowHandle()->startSystemMove()) return;
  FDragging = true;
  FDragOffset = e->globalPosition().toPoint() - w->frameGeometry().topLeft();
}

void TspCaptionBar::mouseMoveEvent(QMouseEvent* e) {
  if (FDragging) window()->move(e->globalPosition().toPoint() - FDragOffset);
  QFrame::mouseMoveEvent(e);
}

void TspCaptionBar::mouseReleaseEvent(QMouseEvent* e) {
  FDragging = false;
  QFrame::mouseReleaseEvent(e);
}

void TspCaptionBar::mouseDoubleClickEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton && (FSkinForm->BorderIcons() & biMaximize))
    FSkinForm->ExecuteCommand(cmMaximize);
}

// --- TspDynamicSkinForm --------------------------------------------------------------------------

TspDynamicSkinForm::TspDynamicSkinForm(TCLComponent* AOwner)
    : TCLComponent(AOwner), FForm(dynamic_cast<TForm*>(AOwner)) {
  if (FForm) FForm->SetFrame(this);
}

TspDynamicSkinForm::~TspDynamicSkinForm() {
  if (FSkinData) FSkinData->RemoveClient(this);
  if (FForm && FForm->Frame() == this) {
    FForm->SetFrame(nullptr);
    FForm->SetCaptionBar(nullptr);
  }
  delete FCaptionBar;
}

const TCLPropTable& TspDynamicSkinForm::PropTable() const {
  using S = TspDynamicSkinForm;
  static const TCLPropTable table =
      TCLPropBuilder<S>(&TCLComponent::ComponentProps())
          .Plain("AlwaysShowTrayIcon", "Boolean", TCLTypeKind::Enumeration)
          .Plain("BorderIcons", "TspBorderIcons", TCLTypeKind::Set)
          .Plain("Sizeable", "Boolean", TCLTypeKind::Enumeration)
          .Object<TspSkinData>("SkinData", "TspSkinData", &S::SkinData, &S::SetSkinData)
          .Object<TPopupMenu>("SystemMenu", "TPopupMenu", &S::SystemMenu, &S::SetSystemMenu)
          .Object<TspTrayIcon>("TrayIcon", "TspTrayIcon", &S::TrayIcon, &S::SetTrayIcon)
          .Event("OnObjectCommand", "TspCommandEvent")
          .Build();
  return table;
}

void TspDynamicSkinForm::Loaded() {
  ApplySkin();
  if (FAlwaysShowTrayIcon && FTrayIcon) FTrayIcon->SetIconVisible(true);
}

void TspDynamicSkinForm::SetSkinData(TspSkinData* d) {
  if (FSkinData == d) return;
  if (FSkinData) FSkinData->RemoveClient(this);
  FSkinData = d;
  if (FSkinData) FSkinData->AddClient(this);
  if (!Loading()) ApplySkin();
}

void TspDynamicSkinForm::SetSystemMenu(TPopupMenu* m) {
  FSystemMenu = m;
  if (FCaptionBar) FCaptionBar->UpdateButtons();
}

void TspDynamicSkinForm::SetBorderIcons(unsigned icons) {
  FBorderIcons = icons;
  if (FCaptionBar) FCaptionBar->UpdateButtons();
}

void TspDynamicSkinForm::SetAlwaysShowTrayIcon(bool v) {
  FAlwaysShowTrayIcon = v;
  if (v && FTrayIcon && !Loading()) FTrayIcon->SetIconVisible(true);
}

void TspDynamicSkinForm::SkinChanged(TspSkinData*) { ApplySkin(); }

void TspDynamicSkinForm::SkinDataDestroyed(TspSkinData* data) {
  if (FSkinData != data) return;
  FSkinData = nullptr;
  ApplySkin();
}

void TspDynamicSkinForm::Notification(TCLComponent* AComponent) {
  if (AComponent == FSkinData) SkinDataDestroyed(FSkinData);
  if (AComponent == FTrayIcon) FTrayIcon = nullptr;
  if (AComponent == FSystemMenu) SetSystemMenu(nullptr);
}

void TspDynamicSkinForm::ApplySkin() {
  if (!FForm) return;
  if (FSkinData)
    FSkinData->ApplyTo(FForm);
  else
    FForm->setStyleSheet(QString());
  const bool skinned = FSkinData && FSkinData->SkinnableForm() && !FSkinData->Empty();
  FFrameSkinned = skinned;
  if (skinned) {
    if (!FCaptionBar) FCaptionBar = new TspCaptionBar(this, FForm);
    FCaptionBar->UpdateButtons();
    FForm->SetCaptionBar(FCaptionBar);
    FForm->SetFrameMargin(kFrameMargin);
    FForm->SetFrameless(true);
  } else {
    FForm->SetCaptionBar(nullptr);
    FForm->SetFrameMargin(0);
    FForm->SetFrameless(false);
  }
}

bool TspDynamicSkinForm::Report(TStdCommand cmd) {
  bool cancel = false;
  if (OnObjectCommand) OnObjectCommand(this, cmd, cancel);
  return !cancel;
}

bool TspDynamicSkinForm::ExecuteCommand(TStdCommand cmd) {
  if (!Report(cmd)) return false;
  Perform(cmd);
  return true;
}

void TspDynamicSkinForm::Perform(TStdCommand cmd) {
  if (!FForm) return;
  switch (cmd) {
    case cmClose: FForm->Close(); break;
    case cmMinimize:
      FMinimizingByFrame = true;
      FForm->showMinimized();
      FMinimizingByFrame = false;
      break;
    case cmMaximize:
      if (FForm->isMaximized())
        FForm->showNormal();
      else if (FSizeable)
        FForm->showMaximized();
      break;
    case cmRollUp: ToggleRollUp(); break;
    case cmMinimizeToTray: MinimizeToTray(); break;
    case cmSysMenu:
      if (FSystemMenu && FCaptionBar) {
        QWidget* b = FCaptionBar->Button(cmSysMenu);
        const QPoint at = b ? b->mapToGlobal(QPoint(0, b->height())) : QCursor::pos();
        PopupMenuOver(FSystemMenu->QtMenu(), FForm, at);
      }
      break;
    default: break;
  }
}

bool TspDynamicSkinForm::FrameClose() { return Report(cmClose); }

bool TspDynamicSkinForm::FrameMinimize() {
  if (FMinimizingByFrame) return true;
  return Report(cmMinimize);
}

void TspDynamicSkinForm::ToggleRollUp() {
  if (!FForm || !FFrameSkinned) return;
  if (!FRolledUp) {
    FRolledHeight = FForm->height();
    FForm->ClientArea()->hide();
    FForm->setFixedHeight(kCaptionHeight + 2 * kFrameMargin);
    FRolledUp = true;
  } else {
    FForm->ClientArea()->show();
    FForm->setFixedHeight(FRolledHeight);
    FRolledUp = false;
  }
}

void TspDynamicSkinForm::MinimizeToTray() {
  if (!FForm) return;
  if (FTrayIcon && TspTrayIcon::Available()) {
    FTrayIcon->SetIconVisible(true);
    FForm->hide();
    FInTray = true;
  } else {
    // No tray to go to: the task bar keeps the window reachable.
    FMinimizingByFrame = true;
    FForm->showMinimized();
    FMinimizingByFrame = false;
  }
}

void TspDynamicSkinForm::RestoreFromTray() {
  if (!FForm) return;
  FInTray = false;
  if (FForm->isMinimized())
    FForm->showNormal();
  else
    FForm->show();
  FForm->raise();
  FForm->activateWindow();
  if (FTrayIcon && !FAlwaysShowTrayIcon) FTrayIcon->SetIconVisible(false);
}
