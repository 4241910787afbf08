// Windows of the component layer. A TForm is a top-level Qt widget that is
// also a component: it owns the components placed on it (in creation order),
// reports a class name of its own ("TfrmMain", "TfrmSettings", ...) and
// publishes its Caption. Controls are placed in its client area at pixel
// positions; a skinned frame may put its own caption bar above that area.
//
// Building a window: construct it (its constructor creates the components
// while the window is "loading"), then AfterConstruction runs Loaded on
// every component in creation order, Loaded of the window, and then the
// window's creation handler. CreateForm<T>(...) does both.
#pragma once

#include <QPointer>
#include <QWidget>

#include <functional>
#include <string>
#include <vector>

#include "framework/lang/CLMultiLangClasses.h"

class QEventLoop;
class QVBoxLayout;

// Results of a modal run and of the message dialog's buttons.
enum TModalResult {
  mrNone = 0,
  mrOk = 1,
  mrCancel = 2,
  mrAbort = 3,
  mrRetry = 4,
  mrIgnore = 5,
  mrYes = 6,
  mrNo = 7,
  mrAll = 8,
  mrNoToAll = 9,
  mrYesToAll = 10,
  mrClose = 11,
};

enum class TPosition { poDesigned, poDefault, poScreenCenter, poMainFormCenter, poOwnerFormCenter };
enum class TFormBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow, bsSizeToolWin };
enum class TCloseAction { caNone, caHide, caFree, caMinimize };

// Receives what the window frame does, before the window carries it out.
// A skinned frame installs itself here.
class IFormFrame {
 public:
  virtual ~IFormFrame() = default;
  // A close that did not come from TForm::Close (the frame's close button,
  // the window manager, the session). False cancels it.
  virtual bool FrameClose() = 0;
  // The window manager minimised the window. False restores it again.
  virtual bool FrameMinimize() = 0;
};

class TForm : public QWidget, public TCLComponent {
  Q_OBJECT
 public:
  explicit TForm(TCLComponent* AOwner = nullptr);
  ~TForm() override;

  std::string ClassName() const override { return "TForm"; }
  const TCLPropTable& PropTable() const override;

  // Loaded on every component, then on the window, then the creation
  // handler (OnCreate / FormCreate).
  void AfterConstruction();

  // --- texts and geometry -------------------------------------------------------
  std::string Caption() const;
  void SetCaption(const std::string& value);
  std::string Hint() const;
  void SetHint(const std::string& value);
  // The area controls are placed in; positions are relative to it.
  QWidget* ClientArea() const { return FClientArea; }
  int ClientWidth() const { return FClientWidth; }
  int ClientHeight() const { return FClientHeight; }
  void SetClientSize(int w, int h);
  // A caption bar drawn by a skinned frame, above the client area (null
  // removes it). The window grows by its height.
  void SetCaptionBar(QWidget* bar);
  QWidget* CaptionBar() const { return FCaptionBar; }
  // Frame margin around caption bar and client area (skinned frames).
  void SetFrameMargin(int margin);
  void SetFrame(IFormFrame* frame) { FFrame = frame; }
  IFormFrame* Frame() const { return FFrame; }

  TPosition Position() const { return FPosition; }
  void SetPosition(TPosition p) { FPosition = p; }
  TFormBorderStyle BorderStyle() const { return FBorderStyle; }
  void SetBorderStyle(TFormBorderStyle s);
  // Without the native frame (skinned frame or no border).
  void SetFrameless(bool frameless);
  bool KeyPreview() const { return FKeyPreview; }
  void SetKeyPreview(bool v);
  bool Scaled() const { return FScaled; }
  void SetScaled(bool v) { FScaled = v; }
  bool AutoScroll() const { return FAutoScroll; }
  void SetAutoScroll(bool v) { FAutoScroll = v; }
  bool FormAutoSize() const { return FAutoSize; }
  void SetFormAutoSize(bool v) { FAutoSize = v; }

  // --- showing --------------------------------------------------------------------
  // Shows the window modally and returns its modal result; timers and other
  // windows' events keep running while it is open.
  int ShowModal();
  bool Modal() const { return FModalLoop != nullptr; }
  int ModalResult() const { return FModalResult; }
  // Setting a non-zero result ends a modal run.
  void SetModalResult(int value);
  // Closes the window the way code asks for it (not reported to the frame).
  void Close();
  // Places the window by its Position (done before the first showing).
  void PlaceWindow();
  // Runs work once the window has been painted for the first time: start-up
  // work the window does not need to appear waits until the user sees it.
  // A window still hidden when the event loop first turns (a start into the
  // tray) runs it then; one the window system does not expose within
  // kFirstPaintWaitMs (another workspace, a minimised start) runs it then.
  // Work asked for after the first paint runs on the next turn of the loop.
  void AfterFirstPaint(std::function<void()> work);
  static constexpr int kFirstPaintWaitMs = 300;

  // The button Enter presses and the one Escape presses (set by buttons).
  void SetDefaultButton(QWidget* b) { FDefaultButton = b; }
  void SetCancelButton(QWidget* b) { FCancelButton = b; }
  QWidget* DefaultButton() const { return FDefaultButton; }
  QWidget* CancelButton() const { return FCancelButton; }

  // The application's main window: its closing ends the application.
  static TForm* MainForm();
  static void SetMainForm(TForm* form);

  // --- events ----------------------------------------------------------------------
  std::function<void(TForm*)> OnCreate, OnDestroy, OnShow, OnHide, OnActivate, OnDeactivate;
  std::function<void(TForm*, TCloseAction&)> OnClose;
  std::function<void(TForm*, bool&)> OnCloseQuery;
  // Key code (Qt key) and modifiers; setting the key to 0 swallows it.
  std::function<void(TForm*, int&, Qt::KeyboardModifiers)> OnKeyDown, OnKeyUp;

 protected:
  // The creation handler; the default runs OnCreate.
  virtual void FormCreate();
  void showEvent(QShowEvent* e) override;
  void hideEvent(QHideEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  void changeEvent(QEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void keyReleaseEvent(QKeyEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;
  void NameChanged() override;

 private:
  void ApplyWindowFlags();
  void RunAfterFirstPaint();
  void WatchFirstExpose();
  void UpdateWindowSize();
  bool HandleDialogKey(int key);
  bool OwnsWidget(QObject* o) const;

  QVBoxLayout* FLayout = nullptr;
  QWidget* FClientArea = nullptr;
  QPointer<QWidget> FCaptionBar;
  IFormFrame* FFrame = nullptr;
  int FClientWidth = 0;
  int FClientHeight = 0;
  int FFrameMargin = 0;
  TPosition FPosition = TPosition::poDesigned;
  TFormBorderStyle FBorderStyle = TFormBorderStyle::bsSizeable;
  bool FFrameless = false;
  bool FKeyPreview = false;
  bool FScaled = true;
  bool FAutoScroll = true;
  bool FAutoSize = false;
  bool FPlaced = false;
  bool FClosingByCode = false;
  bool FWasActive = false;
  int FModalResult = mrNone;
  QEventLoop* FModalLoop = nullptr;
  QPointer<QWidget> FDefaultButton;
  QPointer<QWidget> FCancelButton;
  bool FPainted = false;
  std::vector<std::function<void()>> FAfterFirstPaint;
};

// Constructs a window and completes its loading.
template <class T, class... A>
T* CreateForm(A&&... args) {
  T* form = new T(std::forward<A>(args)...);
  form->AfterConstruction();
  return form;
}

// The window a widget sits in, as a TForm (null for other windows).
TForm* ParentForm(QWidget* w);

// Text conversions between Qt and the model (UTF-8 std::string).
QString QStr(const std::string& s);
std::string StdStr(const QString& s);

// The application's title (name and, when wanted, version): the caption of
// boxes that bring none of their own. Kept here rather than as Qt's display
// name, which Qt would append to the title of every window.
std::string& ApplicationTitle();
