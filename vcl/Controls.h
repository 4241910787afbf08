// Visual controls of the component layer: thin Qt widgets that are also
// components. A control is owned by its window (the translator walks the
// window's components) and sits in a parent widget: the window's client
// area unless another parent (a panel, a page) is given.
//
// Each control publishes the properties the windows of this program use,
// under their usual names and declared type names; the Qt property system is
// not exposed.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>

#include <functional>
#include <string>

#include "framework/lang/CLMultiLangClasses.h"
#include "vcl/ActnList.h"
#include "vcl/Forms.h"

// The parent widget of a control: the given one, else the owner window's
// client area, else the owner when it is a widget.
QWidget* VclParent(TCLComponent* AOwner, QWidget* AParent);

template <class QtBase>
class TVclControl : public QtBase, public TCLComponent {
 public:
  TVclControl(TCLComponent* AOwner, QWidget* AParent)
      : QtBase(VclParent(AOwner, AParent)), TCLComponent(AOwner) {}
  ~TVclControl() override { DestroyComponents(); }

  std::string Hint() const { return StdStr(this->toolTip()); }
  void SetHint(const std::string& v) { this->setToolTip(QStr(v)); }
  bool Visible() const { return !this->isHidden(); }
  void SetVisible(bool v) { this->setVisible(v); }
  bool Enabled() const { return this->isEnabled(); }
  void SetEnabled(bool v) { this->setEnabled(v); }
  void SetBounds(int left, int top, int width, int height) {
    this->setGeometry(left, top, width, height);
  }

 protected:
  void NameChanged() override { this->setObjectName(QStr(this->Name())); }

  // The properties every control publishes.
  template <class T>
  static TCLPropBuilder<T> ControlProps() {
    return TCLPropBuilder<T>(&TCLComponent::ComponentProps())
        .Text("Hint", "string", &T::Hint, &T::SetHint)
        .Plain("Left", "Integer")
        .Plain("Top", "Integer")
        .Plain("Width", "Integer")
        .Plain("Height", "Integer")
        .Plain("Enabled", "Boolean", TCLTypeKind::Enumeration)
        .Plain("Visible", "Boolean", TCLTypeKind::Enumeration)
        .Plain("ShowHint", "Boolean", TCLTypeKind::Enumeration);
  }
};

// Displayed text of a caption: "&x" marks an accelerator and "&&" is one
// ampersand, as on buttons.
QString DisplayCaption(const std::string& caption);

class TButton : public TVclControl<QPushButton>, public IActionClient {
 public:
  explicit TButton(TCLComponent* AOwner, QWidget* AParent = nullptr);
  ~TButton() override;
  std::string ClassName() const override { return "TButton"; }
  const TCLPropTable& PropTable() const override;

  std::string Caption() const { return StdStr(text()); }
  void SetCaption(const std::string& v) { setText(QStr(v)); }
  TBasicAction* Action() const { return FAction; }
  void SetAction(TBasicAction* a);
  // Enter presses the default button, Escape the cancel button.
  bool Default() const { return FDefault; }
  void SetDefault(bool v);
  bool Cancel() const { return FCancel; }
  void SetCancel(bool v);
  // Clicking ends the window's modal run with this result when non-zero.
  int ModalResult() const { return FModalResult; }
  void SetModalResult(int v) { FModalResult = v; }

  // Runs the action or the click handler, then the modal result.
  void Click();
  std::function<void(TButton*)> OnClick;

  void ActionChanged(TAction* action) override;
  void ActionDestroyed(TAction* action) override;

 private:
  TBasicAction* FAction = nullptr;
  bool FDefault = false;
  bool FCancel = false;
  int FModalResult = mrNone;
};

class TLabel : public TVclControl<QLabel> {
 public:
  explicit TLabel(TCLComponent* AOwner, QWidget* AParent = nullptr);
  std::string ClassName() const override { return "TLabel"; }
  const TCLPropTable& PropTable() const override;

  std::string Caption() const { return FCaption; }
  void SetCaption(const std::string& v);
  bool WordWrap() const { return wordWrap(); }
  void SetWordWrap(bool v) { setWordWrap(v); }
  void SetBold(bool v);
  std::function<void(TLabel*)> OnClick;

 protected:
  void mouseReleaseEvent(QMouseEvent* e) override;

 private:
  std::string FCaption;
};

class TCheckBox : public TVclControl<QCheckBox> {
 public:
  explicit TCheckBox(TCLComponent* AOwner, QWidget* AParent = nullptr);
  std::string ClassName() const override { return "TCheckBox"; }
  const TCLPropTable& PropTable() const override;

  std::string Caption() const { return StdStr(text()); }
  void SetCaption(const std::string& v) { setText(QStr(v)); }
  bool Checked() const { return isChecked(); }
  // A change of state runs OnClick, whether the user or the code made it.
  void SetChecked(bool v) { setChecked(v); }
  std::function<void(TCheckBox*)> OnClick;
};

class TEdit : public TVclControl<QLineEdit> {
 public:
  explicit TEdit(TCLComponent* AOwner, QWidget* AParent = nullptr);
  std::string ClassName() const override { return "TEdit"; }
  const TCLPropTable& PropTable() const override;
  std::string Text() const { return StdStr(text()); }
  void SetText(const std::string& v) { setText(QStr(v)); }
  std::function<void(TEdit*)> OnChange;
};

class TSpinEdit : public TVclControl<QSpinBox> {
 public:
  explicit TSpinEdit(TCLComponent* AOwner, QWidget* AParent = nullptr);
  std::string ClassName() const override { return "TSpinEdit"; }
  const TCLPropTable& PropTable() const override;
  int Value() const { return value(); }
  void SetValue(int v) { setValue(v); }
  void SetMinValue(int v) { setMinimum(v); }
  void SetMaxValue(int v) { setMaximum(v); }
  void SetIncrement(int v) { setSingleStep(v); }
  std::function<void(TSpinEdit*)> OnChange;
};

class TComboBox : public TVclControl<QComboBox> {
 public:
  explicit TComboBox(TCLComponent* AOwner, QWidget* AParent = nullptr);
  std::string ClassName() const override { return "TComboBox"; }
  const TCLPropTable& PropTable() const override;
  TStringList Items() const;
  void SetItems(const TStringList& v);
  std::string Text() const { return StdStr(currentText()); }
  void SetText(const std::string& v);
  int ItemIndex() const { return currentIndex(); }
  void SetItemIndex(int i) { setCurrentIndex(i); }
  std::function<void(TComboBox*)> OnChange;
};

class TMemo : public TVclControl<QPlainTextEdit> {
 public:
  explicit TMemo(TCLComponent* AOwner, QWidget* AParent = nullptr);
  std::string ClassName() const override { return "TMemo"; }
  const TCLPropTable& PropTable() const override;
  TStringList Lines() const;
  void SetLines(const TStringList& v);
  std::string Text() const { return StdStr(toPlainText()); }
  void SetText(const std::string& v) { setPlainText(QStr(v)); }
  bool ReadOnly() const { return isReadOnly(); }
  void SetReadOnly(bool v) { setReadOnly(v); }
};

class TImage : public TVclControl<QLabel> {
 public:
  explicit TImage(TCLComponent* AOwner, QWidget* AParent = nullptr);
  std::string ClassName() const override { return "TImage"; }
  const TCLPropTable& PropTable() const override;
  // False when the file is missing or not a picture; the image is then empty.
  bool LoadFromFile(const std::string& fn);
  void SetPicture(const QPixmap& p);
  QPixmap Picture() const { return FPicture; }
  void Clear();
  // The picture's size on screen (a picture of twice the pixel density
  // counts half).
  int PictureWidth() const { return qRound(FPicture.deviceIndependentSize().width()); }
  int PictureHeight() const { return qRound(FPicture.deviceIndependentSize().height()); }
  void SetStretch(bool v);
  void SetHandPoint(bool v);
  std::function<void(TImage*)> OnClick;

 protected:
  void mouseReleaseEvent(QMouseEvent* e) override;

 private:
  QPixmap FPicture;
};

enum class TBevelCut { bvNone, bvLowered, bvRaised };

class TPanel : public TVclControl<QFrame> {
 public:
  explicit TPanel(TCLComponent* AOwner, QWidget* AParent = nullptr);
  std::string ClassName() const override { return "TPanel"; }
  const TCLPropTable& PropTable() const override;
  // Drawn in the middle of the panel, as panels do.
  std::string Caption() const { return FCaption; }
  void SetCaption(const std::string& v);
  void SetBevelOuter(TBevelCut b);

 protected:
  void paintEvent(QPaintEvent* e) override;

 private:
  std::string FCaption;
};

class TTabSheet;

class TPageControl : public TVclControl<QTabWidget> {
 public:
  explicit TPageControl(TCLComponent* AOwner, QWidget* AParent = nullptr);
  std::string ClassName() const override { return "TPageControl"; }
  const TCLPropTable& PropTable() const override;
  int PageCount() const { return count(); }
  TTabSheet* Pages(int i) const;
  TTabSheet* ActivePage() const;
  void SetActivePage(TTabSheet* page);
  int ActivePageIndex() const { return currentIndex(); }
  void SetActivePageIndex(int i) { setCurrentIndex(i); }
};

// A page of a page control; controls placed on it take it as parent.
class TTabSheet : public TVclControl<QWidget> {
 public:
  TTabSheet(TCLComponent* AOwner, TPageControl* APageControl);
  std::string ClassName() const override { return "TTabSheet"; }
  const TCLPropTable& PropTable() const override;
  std::string Caption() const { return FCaption; }
  void SetCaption(const std::string& v);
  TPageControl* PageControl() const { return FPageControl; }

 private:
  std::string FCaption;
  TPageControl* FPageControl;
};

// A progress gauge; "animated" shows a running busy bar.
class TGauge : public TVclControl<QProgressBar> {
 public:
  explicit TGauge(TCLComponent* AOwner, QWidget* AParent = nullptr);
  std::string ClassName() const override { return "TGauge"; }
  const TCLPropTable& PropTable() const override;
  void SetMinValue(int v) { setMinimum(v); }
  void SetMaxValue(int v) { setMaximum(v); }
  int Progress() const { return value(); }
  void SetProgress(int v) { setValue(v); }
  int AnimationPause() const { return FAnimationPause; }
  void SetAnimationPause(int ms) { FAnimationPause = ms; }
  void StartAnimation();
  void StopAnimation();
  bool Animating() const { return FAnimating; }

 private:
  int FAnimationPause = 0;
  bool FAnimating = false;
  int FMin = 0, FMax = 100;
};
