#include "vcl/Controls.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QStyle>

#include "vcl/PicturePreload.h"

QWidget* VclParent(TCLComponent* AOwner, QWidget* AParent) {
  if (AParent) return AParent;
  if (auto* form = dynamic_cast<TForm*>(AOwner)) return form->ClientArea();
  return dynamic_cast<QWidget*>(AOwner);
}

QString DisplayCaption(const std::string& caption) {
  const QString in = QStr(caption);
  QString out;
  out.reserve(in.size());
  for (qsizetype i = 0; i < in.size(); ++i) {
    if (in[i] == '&') {
      if (i + 1 < in.size() && in[i + 1] == '&') {
        out += '&';
        ++i;
      }
      continue;
    }
    out += in[i];
  }
  return out;
}

namespace {
TStringList LinesOf(const QString& text) {
  TStringList sl;
  if (!text.isEmpty()) sl.SetText(StdStr(text));
  return sl;
}
QString TextOf(const TStringList& sl) {
  std::string joined;
  for (int i = 0; i < sl.Count(); ++i) {
    if (i) joined += "\n";
    joined += sl[i];
  }
  return QStr(joined);
}
}  // namespace

// --- TButton ----------------------------------------------------------------------------

TButton::TButton(TCLComponent* AOwner, QWidget* AParent) : TVclControl(AOwner, AParent) {
  setAutoDefault(false);
  QObject::connect(this, &QPushButton::clicked, [this] { Click(); });
}

TButton::~TButton() {
  if (auto* a = dynamic_cast<TAction*>(FAction)) a->RemoveClient(this);
}

const TCLPropTable& TButton::PropTable() const {
  static const TCLPropTable table =
      ControlProps<TButton>()
          .Object<TBasicAction>("Action", "TBasicAction", &TButton::Action, &TButton::SetAction)
          .Plain("Cancel", "Boolean", TCLTypeKind::Enumeration)
          .Text("Caption", "TCaption", &TButton::Caption, &TButton::SetCaption)
          .Plain("Default", "Boolean", TCLTypeKind::Enumeration)
          .Plain("ModalResult", "TModalResult")
          .Event("OnClick")
          .Build();
  return table;
}

void TButton::SetAction(TBasicAction* a) { LinkAction(FAction, a); }

void TButton::ActionChanged(TAction* action) {
  setText(QStr(action->Caption()));
  setToolTip(QStr(action->Hint()));
  setEnabled(action->Enabled());
  setVisible(action->Visible());
}

void TButton::ActionDestroyed(TAction* action) {
  if (FAction == action) FAction = nullptr;
}

void TButton::SetDefault(bool v) {
  FDefault = v;
  setDefault(v);
  if (TForm* f = ParentForm(this)) {
    if (v)
      f->SetDefaultButton(this);
    else if (f->DefaultButton() == this)
      f->SetDefaultButton(nullptr);
  }
}

void TButton::SetCancel(bool v) {
  FCancel = v;
  if (TForm* f = ParentForm(this)) {
    if (v)
      f->SetCancelButton(this);
    else if (f->CancelButton() == this)
      f->SetCancelButton(nullptr);
  }
}

void TButton::Click() {
  QPointer<TButton> self(this);
  const int result = FModalResult;
  TForm* form = ParentForm(this);
  QPointer<TForm> formGuard(form);
  if (!(FAction && FAction->Execute()) && OnClick) OnClick(this);
  if (result != mrNone && formGuard) formGuard->SetModalResult(result);
}

// --- TLabel -----------------------------------------------------------------------------

TLabel::TLabel(TCLComponent* AOwner, QWidget* AParent) : TVclControl(AOwner, AParent) {
  setTextFormat(Qt::PlainText);
}

const TCLPropTable& TLabel::PropTable() const {
  static const TCLPropTable table =
      ControlProps<TLabel>()
          .Text("Caption", "TCaption", &TLabel::Caption, &TLabel::SetCaption)
          .Plain("WordWrap", "Boolean", TCLTypeKind::Enumeration)
          .Plain("Transparent", "Boolean", TCLTypeKind::Enumeration)
          .Event("OnClick")
          .Build();
  return table;
}

void TLabel::SetCaption(const std::string& v) {
  FCaption = v;
  setText(DisplayCaption(v));
}

void TLabel::SetBold(bool v) {
  QFont f = font();
  f.setBold(v);
  setFont(f);
}

void TLabel::mouseReleaseEvent(QMouseEvent* e) {
  QLabel::mouseReleaseEvent(e);
  if (e->button() == Qt::LeftButton && rect().contains(e->position().toPoint()) && OnClick)
    OnClick(this);
}

// --- TCheckBox ----------------------------------------------------------------------------

TCheckBox::TCheckBox(TCLComponent* AOwner, QWidget* AParent) : TVclControl(AOwner, AParent) {
  QObject::connect(this, &QCheckBox::toggled, [this](bool) {
    if (OnClick) OnClick(this);
  });
}

const TCLPropTable& TCheckBox::PropTable() const {
  static const TCLPropTable table =
      ControlProps<TCheckBox>()
          .Text("Caption", "TCaption", &TCheckBox::Caption, &TCheckBox::SetCaption)
          .Plain("Checked", "Boolean", TCLTypeKind::Enumeration)
          .Event("OnClick")
          .Build();
  return table;
}

// --- TEdit ------------------------------------------------------------------------------------

TEdit::TEdit(TCLComponent* AOwner, QWidget* AParent) : TVclControl(AOwner, AParent) {
  QObject::connect(this, &QLineEdit::textChanged, [this](const QString&) {
    if (OnChange) OnChange(this);
  });
}

const TCLPropTable& TEdit::PropTable() const {
  static const TCLPropTable table = ControlProps<TEdit>()
                                        .Text("Text", "TCaption", &TEdit::Text, &TEdit::SetText)
                                        .Plain("ReadOnly", "Boolean", TCLTypeKind::Enumeration)
                                        .Event("OnChange")
                                        .Build();
  return table;
}

// --- TSpinEdit ---------------------------------------------------------------------------------

TSpinEdit::TSpinEdit(TCLComponent* AOwner, QWidget* AParent) : TVclControl(AOwner, AParent) {
  QObject::connect(this, &QSpinBox::valueChanged, [this](int) {
    if (OnChange) OnChange(this);
  });
}

const TCLPropTable& TSpinEdit::PropTable() const {
  static const TCLPropTable table = ControlProps<TSpinEdit>()
                                        .Plain("MinValue", "Integer")
                                        .Plain("MaxValue", "Integer")
                                        .Plain("Increment", "Integer")
                                        .Plain("Value", "Integer")
                                        .Event("OnChange")
                                        .Build();
  return table;
}

// --- TComboBox -----------------------------------------------------------------------------------

TComboBox::TComboBox(TCLComponent* AOwner, QWidget* AParent) : TVclControl(AOwner, AParent) {
  QObject::connect(this, &QComboBox::currentIndexChanged, [this](int) {
    if (OnChange) OnChange(this);
  });
}

const TCLPropTable& TComboBox::PropTable() const {
  static const TCLPropTable table =
      ControlProps<TComboBox>()
          .Strings("Items", &TComboBox::Items, &TComboBox::SetItems)
          .Plain("ItemIndex", "Integer")
          .Text("Text", "TCaption", &TComboBox::Text, &TComboBox::SetText)
          .Event("OnChange")
          .Build();
  return table;
}

TStringList TComboBox::Items() const {
  TStringList sl;
  for (int i = 0; i < count(); ++i) sl.Add(StdStr(itemText(i)));
  return sl;
}

void TComboBox::SetItems(const TStringList& v) {
  const int index = currentIndex();
  clear();
  for (int i = 0; i < v.Count(); ++i) addItem(QStr(v[i]));
  if (index >= 0 && index < count()) setCurrentIndex(index);
}

void TComboBox::SetText(const std::string& v) {
  const int i = findText(QStr(v));
  if (i >= 0)
    setCurrentIndex(i);
  else if (isEditable())
    setEditText(QStr(v));
}

// --- TMemo ------------------------------------------------------------------------------------------

TMemo::TMemo(TCLComponent* AOwner, QWidget* AParent) : TVclControl(AOwner, AParent) {}

const TCLPropTable& TMemo::PropTable() const {
  static const TCLPropTable table = ControlProps<TMemo>()
                                        .Strings("Lines", &TMemo::Lines, &TMemo::SetLines)
                                        .Plain("ReadOnly", "Boolean", TCLTypeKind::Enumeration)
                                        .Plain("WordWrap", "Boolean", TCLTypeKind::Enumeration)
                                        .Build();
  return table;
}

TStringList TMemo::Lines() const { return LinesOf(toPlainText()); }
void TMemo::SetLines(const TStringList& v) { setPlainText(TextOf(v)); }

// --- TImage -------------------------------------------------------------------------------------------

TImage::TImage(TCLComponent* AOwner, QWidget* AParent) : TVclControl(AOwner, AParent) {
  setAlignment(Qt::AlignCenter);
}

const TCLPropTable& TImage::PropTable() const {
  static const TCLPropTable table = ControlProps<TImage>()
                                        .Plain("Picture", "TPicture", TCLTypeKind::Class)
                                        .Plain("Stretch", "Boolean", TCLTypeKind::Enumeration)
                                        .Plain("Cursor", "TCursor")
                                        .Event("OnClick")
                                        .Build();
  return table;
}

bool TImage::LoadFromFile(const std::string& fn) {
  QPixmap p;
  if (!LoadPicture(fn, p)) {
    Clear();
    return false;
  }
  SetPicture(p);
  return true;
}

void TImage::SetPicture(const QPixmap& p) {
  FPicture = p;
  setPixmap(p);
}

void TImage::Clear() {
  FPicture = QPixmap();
  clear();
}

void TImage::SetStretch(bool v) { setScaledContents(v); }

void TImage::SetHandPoint(bool v) { setCursor(v ? Qt::PointingHandCursor : Qt::ArrowCursor); }

void TImage::mouseReleaseEvent(QMouseEvent* e) {
  QLabel::mouseReleaseEvent(e);
  if (e->button() == Qt::LeftButton && rect().contains(e->position().toPoint()) && OnClick)
    OnClick(this);
}

// --- TPanel -------------------------------------------------------------------------------------------

TPanel::TPanel(TCLComponent* AOwner, QWidget* AParent) : TVclControl(AOwner, AParent) {
  SetBevelOuter(TBevelCut::bvRaised);
}

const TCLPropTable& TPanel::PropTable() const {
  static const TCLPropTable table =
      ControlProps<TPanel>()
          .Plain("Align", "TAlign", TCLTypeKind::Enumeration)
          .Plain("BevelOuter", "TBevelCut", TCLTypeKind::Enumeration)
          .Text("Caption", "TCaption", &TPanel::Caption, &TPanel::SetCaption)
          .Build();
  return table;
}

void TPanel::SetCaption(const std::string& v) {
  FCaption = v;
  update();
}

void TPanel::SetBevelOuter(TBevelCut b) {
  switch (b) {
    case TBevelCut::bvNone: setFrameStyle(QFrame::NoFrame); break;
    case TBevelCut::bvLowered: setFrameStyle(QFrame::Panel | QFrame::Sunken); break;
    case TBevelCut::bvRaised: setFrameStyle(QFrame::Panel | QFrame::Raised); break;
  }
}

void TPanel::paintEvent(QPaintEvent* e) {
  QFrame::paintEvent(e);
  if (FCaption.empty()) return;
  QPainter p(this);
  p.drawText(contentsRect(), Qt::AlignCenter, DisplayCaption(FCaption));
}

// --- TPageControl / TTabSheet ---------------------------------------------------------------------------

TPageControl::TPageControl(TCLComponent* AOwner, QWidget* AParent) : TVclControl(AOwner, AParent) {}

const TCLPropTable& TPageControl::PropTable() const {
  static const TCLPropTable table = ControlProps<TPageControl>()
                                        .Plain("ActivePage", "TTabSheet", TCLTypeKind::Class)
                                        .Plain("TabIndex", "Integer")
                                        .Event("OnChange")
                                        .Build();
  return table;
}

TTabSheet* TPageControl::Pages(int i) const { return dynamic_cast<TTabSheet*>(widget(i)); }
TTabSheet* TPageControl::ActivePage() const { return dynamic_cast<TTabSheet*>(currentWidget()); }
void TPageControl::SetActivePage(TTabSheet* page) {
  if (page && indexOf(page) >= 0) setCurrentWidget(page);
}

TTabSheet::TTabSheet(TCLComponent* AOwner, TPageControl* APageControl)
    : TVclControl(AOwner, APageControl), FPageControl(APageControl) {
  if (FPageControl) FPageControl->addTab(this, QString());
}

const TCLPropTable& TTabSheet::PropTable() const {
  static const TCLPropTable table =
      ControlProps<TTabSheet>()
          .Text("Caption", "TCaption", &TTabSheet::Caption, &TTabSheet::SetCaption)
          .Plain("TabVisible", "Boolean", TCLTypeKind::Enumeration)
          .Build();
  return table;
}

void TTabSheet::SetCaption(const std::string& v) {
  FCaption = v;
  if (FPageControl) {
    const int i = FPageControl->indexOf(this);
    if (i >= 0) FPageControl->setTabText(i, QStr(v));
  }
}

// --- TGauge ------------------------------------------------------------------------------------------------

TGauge::TGauge(TCLComponent* AOwner, QWidget* AParent) : TVclControl(AOwner, AParent) {
  setTextVisible(false);
}

const TCLPropTable& TGauge::PropTable() const {
  static const TCLPropTable table = ControlProps<TGauge>()
                                        .Plain("MinValue", "Integer")
                                        .Plain("MaxValue", "Integer")
                                        .Plain("Progress", "Integer")
                                        .Plain("AnimationPause", "Integer")
                                        .Build();
  return table;
}

// A running busy bar: the range collapses to 0..0, which Qt draws as an
// endless animation; stopping gives the range back.
void TGauge::StartAnimation() {
  if (FAnimating) return;
  FMin = minimum();
  FMax = maximum();
  FAnimating = true;
  setRange(0, 0);
}

void TGauge::StopAnimation() {
  if (!FAnimating) return;
  FAnimating = false;
  setRange(FMin, FMax);
}
