#include "vcl/Forms.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

#include "vcl/WindowSystem.h"

QString QStr(const std::string& s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}
std::string StdStr(const QString& s) { return s.toUtf8().toStdString(); }

namespace {
QPointer<TForm> GMainForm;

QWidget* OwnerWindow(TCLComponent* AOwner) { return dynamic_cast<TForm*>(AOwner); }
}  // namespace

TForm* ParentForm(QWidget* w) { return w ? dynamic_cast<TForm*>(w->window()) : nullptr; }

std::string& ApplicationTitle() {
  static std::string title;
  return title;
}

TForm* TForm::MainForm() { return GMainForm.data(); }

void TForm::SetMainForm(TForm* form) {
  GMainForm = form;
  // The application ends when its main window closes, not when the last
  // visible window goes: the main window may sit in the tray while a
  // message box is closed.
  if (form && qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
    QGuiApplication::setQuitOnLastWindowClosed(false);
}

TForm::TForm(TCLComponent* AOwner)
    : QWidget(OwnerWindow(AOwner), Qt::Window), TCLComponent(AOwner) {
  BeginLoading();
  setAttribute(Qt::WA_StyledBackground);
  FLayout = new QVBoxLayout(this);
  FLayout->setContentsMargins(0, 0, 0, 0);
  FLayout->setSpacing(0);
  FClientArea = new QWidget(this);
  FClientArea->setObjectName("ClientArea");
  FLayout->addWidget(FClientArea, 1);
  // A window always has a size, as a designed one does.
  SetClientSize(320, 240);
}

TForm::~TForm() {
  if (OnDestroy) OnDestroy(this);
  if (FModalLoop) FModalLoop->quit();
  if (FKeyPreview && QCoreApplication::instance()) qApp->removeEventFilter(this);
  // Components go before the window they sit on, last created first.
  DestroyComponents();
}

const TCLPropTable& TForm::PropTable() const {
  using F = TForm;
  static const TCLPropTable table =
      TCLPropBuilder<F>(&TCLComponent::ComponentProps())
          .Text("Caption", "TCaption", &F::Caption, &F::SetCaption)
          .Text("Hint", "string", &F::Hint, &F::SetHint)
          .Plain("Left", "Integer")
          .Plain("Top", "Integer")
          .Plain("ClientWidth", "Integer")
          .Plain("ClientHeight", "Integer")
          .Plain("Position", "TPosition", TCLTypeKind::Enumeration)
          .Plain("BorderStyle", "TFormBorderStyle", TCLTypeKind::Enumeration)
          .Plain("KeyPreview", "Boolean", TCLTypeKind::Enumeration)
          .Plain("Scaled", "Boolean", TCLTypeKind::Enumeration)
          .Plain("AutoScroll", "Boolean", TCLTypeKind::Enumeration)
          .Plain("AutoSize", "Boolean", TCLTypeKind::Enumeration)
          .Plain("Visible", "Boolean", TCLTypeKind::Enumeration)
          .Event("OnCreate")
          .Event("OnDestroy")
          .Event("OnShow")
          .Event("OnClose", "TCloseEvent")
          .Event("OnActivate")
          .Event("OnDeactivate")
          .Event("OnKeyDown", "TKeyEvent")
          .Event("OnKeyUp", "TKeyEvent")
          .Build();
  return table;
}

void TForm::AfterConstruction() {
  EndLoading();
  FormCreate();
}

void TForm::FormCreate() {
  if (OnCreate) OnCreate(this);
}

void TForm::NameChanged() { setObjectName(QStr(Name())); }

std::string TForm::Caption() const { return StdStr(windowTitle()); }
void TForm::SetCaption(const std::string& value) { setWindowTitle(QStr(value)); }
std::string TForm::Hint() const { return StdStr(toolTip()); }
void TForm::SetHint(const std::string& value) { setToolTip(QStr(value)); }

void TForm::SetClientSize(int w, int h) {
  FClientWidth = w;
  FClientHeight = h;
  UpdateWindowSize();
}

void TForm::SetCaptionBar(QWidget* bar) {
  if (FCaptionBar == bar) return;
  if (FCaptionBar) {
    FLayout->removeWidget(FCaptionBar);
    FCaptionBar->hide();
  }
  FCaptionBar = bar;
  if (bar) {
    bar->setParent(this);
    FLayout->insertWidget(0, bar);
    bar->show();
  }
  UpdateWindowSize();
}

void TForm::SetFrameMargin(int margin) {
  FFrameMargin = margin;
  FLayout->setContentsMargins(margin, margin, margin, margin);
  UpdateWindowSize();
}

void TForm::UpdateWindowSize() {
  if (FClientWidth <= 0 || FClientHeight <= 0) return;
  int barHeight = 0;
  if (FCaptionBar && !FCaptionBar->isHidden())
    barHeight = FCaptionBar->minimumHeight() > 0 ? FCaptionBar->minimumHeight()
                                                 : FCaptionBar->sizeHint().height();
  const QSize total(FClientWidth + 2 * FFrameMargin, FClientHeight + barHeight + 2 * FFrameMargin);
  const bool sizeable = FBorderStyle == TFormBorderStyle::bsSizeable ||
                        FBorderStyle == TFormBorderStyle::bsSizeToolWin;
  if (sizeable) {
    setMinimumSize(0, 0);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    resize(total);
  } else {
    setFixedSize(total);
  }
}

void TForm::SetBorderStyle(TFormBorderStyle s) {
  FBorderStyle = s;
  ApplyWindowFlags();
}

void TForm::SetFrameless(bool frameless) {
  if (FFrameless == frameless) return;
  FFrameless = frameless;
  ApplyWindowFlags();
}

void TForm::ApplyWindowFlags() {
  const bool visible = isVisible();
  Qt::WindowFlags f = Qt::Window;
  switch (FBorderStyle) {
    case TFormBorderStyle::bsDialog:
      f = Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
          Qt::CustomizeWindowHint;
      break;
    case TFormBorderStyle::bsToolWindow:
    case TFormBorderStyle::bsSizeToolWin: f = Qt::Tool; break;
    default: break;
  }
  if (FFrameless || FBorderStyle == TFormBorderStyle::bsNone) f |= Qt::FramelessWindowHint;
  if (windowFlags() & Qt::WindowStaysOnTopHint) f |= Qt::WindowStaysOnTopHint;
  if (f != windowFlags()) {
    // A window without its native window yet takes the flags as they are:
    // they are used when it is created. Setting them the full way would
    // re-parent it, which polishes every control on it again.
    if (testAttribute(Qt::WA_WState_Created))
      setWindowFlags(f);
    else
      overrideWindowFlags(f);
  }
  UpdateWindowSize();
  // Changing the flags hides a window; it comes back as it was.
  if (visible && !isVisible()) show();
}

void TForm::SetKeyPreview(bool v) {
  if (FKeyPreview == v) return;
  FKeyPreview = v;
  if (!QCoreApplication::instance()) return;
  if (v)
    qApp->installEventFilter(this);
  else
    qApp->removeEventFilter(this);
}

bool TForm::OwnsWidget(QObject* o) const {
  auto* w = qobject_cast<QWidget*>(o);
  return w && w->window() == this;
}

bool TForm::eventFilter(QObject* watched, QEvent* e) {
  // The window system shows the window: its contents are painted and put on
  // the screen while this event is handled, so the work runs right after.
  if (e->type() == QEvent::Expose && watched == windowHandle() && !FPainted &&
      windowHandle()->isExposed()) {
    windowHandle()->removeEventFilter(this);
    QPointer<TForm> self(this);
    QTimer::singleShot(0, this, [self] {
      if (self && !self->FPainted) self->RunAfterFirstPaint();
    });
  }
  // With KeyPreview the window sees keys before its controls.
  if (FKeyPreview && (e->type() == QEvent::KeyPress || e->type() == QEvent::KeyRelease) &&
      watched != this && OwnsWidget(watched)) {
    auto* ke = static_cast<QKeyEvent*>(e);
    int key = ke->key();
    auto& handler = e->type() == QEvent::KeyPress ? OnKeyDown : OnKeyUp;
    if (handler) {
      handler(this, key, ke->modifiers());
      if (key == 0) return true;
    }
  }
  return QWidget::eventFilter(watched, e);
}

void TForm::keyPressEvent(QKeyEvent* e) {
  int key = e->key();
  if (!FKeyPreview && OnKeyDown) {
    OnKeyDown(this, key, e->modifiers());
    if (key == 0) return;
  }
  if (HandleDialogKey(key)) return;
  QWidget::keyPressEvent(e);
}

void TForm::keyReleaseEvent(QKeyEvent* e) {
  int key = e->key();
  if (!FKeyPreview && OnKeyUp) {
    OnKeyUp(this, key, e->modifiers());
    if (key == 0) return;
  }
  QWidget::keyReleaseEvent(e);
}

// Enter presses the focused push button, else the default button; Escape
// presses the cancel button.
bool TForm::HandleDialogKey(int key) {
  auto usable = [](QWidget* w) { return w && w->isVisible() && w->isEnabled(); };
  if (key == Qt::Key_Return || key == Qt::Key_Enter) {
    auto* focused = qobject_cast<QPushButton*>(focusWidget());
    if (focused && usable(focused) && focused->window() == this) {
      focused->click();
      return true;
    }
    if (auto* b = qobject_cast<QAbstractButton*>(FDefaultButton.data()); b && usable(b)) {
      b->click();
      return true;
    }
  } else if (key == Qt::Key_Escape) {
    if (auto* b = qobject_cast<QAbstractButton*>(FCancelButton.data()); b && usable(b)) {
      b->click();
      return true;
    }
  }
  return false;
}

int TForm::ShowModal() {
  if (FModalLoop) return mrNone;
  FModalResult = mrNone;
  setWindowModality(Qt::ApplicationModal);
  show();
  raise();
  activateWindow();
  QEventLoop loop;
  FModalLoop = &loop;
  QPointer<TForm> self(this);
  while (self && FModalResult == mrNone && isVisible()) loop.exec(QEventLoop::DialogExec);
  if (!self) return mrNone;  // freed while it was open
  FModalLoop = nullptr;
  if (FModalResult == mrNone) FModalResult = mrCancel;
  hide();
  setWindowModality(Qt::NonModal);
  return FModalResult;
}

void TForm::SetModalResult(int value) {
  FModalResult = value;
  if (value != mrNone && FModalLoop) FModalLoop->quit();
}

void TForm::Close() {
  FClosingByCode = true;
  QWidget::close();
  FClosingByCode = false;
}

void TForm::closeEvent(QCloseEvent* e) {
  const bool byCode = FClosingByCode;
  FClosingByCode = false;
  if (!byCode && FFrame && !FFrame->FrameClose()) {
    e->ignore();
    return;
  }
  bool canClose = true;
  if (OnCloseQuery) OnCloseQuery(this, canClose);
  if (!canClose) {
    e->ignore();
    return;
  }
  TCloseAction action = TCloseAction::caHide;
  if (OnClose) OnClose(this, action);
  if (action == TCloseAction::caNone) {
    e->ignore();
    return;
  }
  if (action == TCloseAction::caMinimize) {
    e->ignore();
    showMinimized();
    return;
  }
  e->accept();
  if (FModalLoop) {
    if (FModalResult == mrNone) FModalResult = mrCancel;
    FModalLoop->quit();
  }
  if (this == GMainForm) QCoreApplication::quit();
  if (action == TCloseAction::caFree) deleteLater();
}

void TForm::AfterFirstPaint(std::function<void()> work) {
  if (!work) return;
  if (FPainted || (windowHandle() && windowHandle()->isExposed())) {
    FPainted = true;
    QTimer::singleShot(0, this, std::move(work));
    return;
  }
  FAfterFirstPaint.push_back(std::move(work));
  if (FAfterFirstPaint.size() > 1) return;
  WatchFirstExpose();
  QPointer<TForm> self(this);
  QTimer::singleShot(0, this, [self] {
    if (self && !self->isVisible()) self->RunAfterFirstPaint();
  });
  QTimer::singleShot(kFirstPaintWaitMs, this, [self] {
    if (self) self->RunAfterFirstPaint();
  });
}

void TForm::RunAfterFirstPaint() {
  FPainted = true;
  // Work may ask for more work; that runs on a later turn.
  std::vector<std::function<void()>> work;
  work.swap(FAfterFirstPaint);
  for (auto& w : work) w();
}

void TForm::WatchFirstExpose() {
  if (FPainted || FAfterFirstPaint.empty() || !windowHandle()) return;
  windowHandle()->removeEventFilter(this);
  windowHandle()->installEventFilter(this);
}

void TForm::PlaceWindow() {
  // A Wayland compositor places windows itself and ignores a client's
  // position (a dialog goes over its parent there).
  if (WaylandSession()) return;
  QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
  const QRect area = screen ? screen->geometry() : QRect(0, 0, 1024, 768);
  QWidget* around = nullptr;
  switch (FPosition) {
    case TPosition::poScreenCenter: break;
    case TPosition::poOwnerFormCenter:
      around = dynamic_cast<TForm*>(Owner());
      if (!around) around = GMainForm;
      break;
    case TPosition::poMainFormCenter: around = GMainForm; break;
    default: return;
  }
  if (around == this || (around && !around->isVisible())) around = nullptr;
  const QRect r = around ? around->frameGeometry() : area;
  move(r.x() + (r.width() - width()) / 2, r.y() + (r.height() - height()) / 2);
}

void TForm::showEvent(QShowEvent* e) {
  if (!FPlaced) {
    FPlaced = true;
    PlaceWindow();
  }
  QWidget::showEvent(e);
  WatchFirstExpose();
  if (FDefaultButton && (!focusWidget() || focusWidget() == this)) FDefaultButton->setFocus();
  if (OnShow) OnShow(this);
}

void TForm::hideEvent(QHideEvent* e) {
  QWidget::hideEvent(e);
  if (FModalLoop) {
    if (FModalResult == mrNone) FModalResult = mrCancel;
    FModalLoop->quit();
  }
  if (OnHide) OnHide(this);
}

void TForm::changeEvent(QEvent* e) {
  if (e->type() == QEvent::ActivationChange) {
    if (isActiveWindow()) {
      FWasActive = true;
      if (OnActivate) OnActivate(this);
    } else if (FWasActive) {
      FWasActive = false;
      if (OnDeactivate) OnDeactivate(this);
    }
  } else if (e->type() == QEvent::WindowStateChange) {
    auto* se = static_cast<QWindowStateChangeEvent*>(e);
    const bool nowMin = windowState() & Qt::WindowMinimized;
    const bool wasMin = se->oldState() & Qt::WindowMinimized;
    if (nowMin && !wasMin && FFrame && !FFrame->FrameMinimize()) {
      QPointer<TForm> self(this);
      QMetaObject::invokeMethod(
          this,
          [self] {
            if (self) self->showNormal();
          },
          Qt::QueuedConnection);
    }
  }
  QWidget::changeEvent(e);
}
