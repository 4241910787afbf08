#include "framework/qt/windows/CLAboutForm.h"

#include <QKeyEvent>
#include <QWindow>

#include "framework/CLSettings.h"
#include "framework/lang/CLMultiLang.h"
#include "framework/qt/CLEngine.h"
#include "framework/qt/CLForm.h"
#include "net/CLUtils.h"
#include "platform/Files.h"
#include "vcl/PictureTexts.h"

namespace {

constexpr int kDesignWidth = 373;
constexpr int kDesignHeight = 262;
constexpr int kLogoHeight = 65;
constexpr int kBottomHeight = 41;

}  // namespace

TfrmCLAboutForm::TfrmCLAboutForm(TCLComponent* AOwner) : TForm(AOwner) {
  SetName("frmCLAboutForm");
  SetCaption("About");
  SetBorderStyle(TFormBorderStyle::bsDialog);
  SetPosition(TPosition::poMainFormCenter);
  SetKeyPreview(true);
  SetClientSize(kDesignWidth, kDesignHeight);

  CLForm1 = new TCLForm(this);
  CLForm1->SetName("CLForm1");
  CLForm1->SetRuntimeSetSkinData(true);
  CLForm1->SetRuntimeSetLanguageData(true);

  pnLogo = new TPanel(this);
  pnLogo->SetName("pnLogo");
  pnLogo->SetBevelOuter(TBevelCut::bvNone);
  pnLogo->resize(kDesignWidth, kLogoHeight);
  imgLogo = new TImage(this, pnLogo);
  imgLogo->SetName("imgLogo");

  pn1 = new TPanel(this);
  pn1->SetName("pn1");
  pn1->SetBevelOuter(TBevelCut::bvNone);
  lbInfo = new TLabel(this, pn1);
  lbInfo->SetName("lbInfo");
  lbInfo->SetWordWrap(true);
  lbInfo->setAlignment(Qt::AlignLeft | Qt::AlignTop);

  pn2 = new TPanel(this);
  pn2->SetName("pn2");
  pn2->SetBevelOuter(TBevelCut::bvNone);
  lblSupport = new TLabel(this, pn2);
  lblSupport->SetName("lblSupport");
  lblSupport->SetCaption("Support");
  lblSupport->setCursor(Qt::PointingHandCursor);
  // A link: underlined, in the link colour of the palette unless the skin
  // gives links a colour of its own (QLabel[link="true"]).
  lblSupport->setProperty("link", true);
  {
    QFont f = lblSupport->font();
    f.setUnderline(true);
    lblSupport->setFont(f);
    QPalette pal = lblSupport->palette();
    pal.setColor(QPalette::WindowText, pal.color(QPalette::Link));
    lblSupport->setPalette(pal);
  }
  lblSupport->OnClick = [this](TLabel*) { lblSupportClick(); };
  btnOK = new TButton(this, pn2);
  btnOK->SetName("btnOK");
  btnOK->SetCaption("&OK");
  btnOK->SetModalResult(mrOk);
  btnOK->SetDefault(true);

  OnKeyUp = [this](TForm*, int& key, Qt::KeyboardModifiers shift) { FormKeyUp(key, shift); };
  Realign();
}

TfrmCLAboutForm* TfrmCLAboutForm::Create(TForm* AOwner) {
  return CreateForm<TfrmCLAboutForm>(AOwner);
}

void TfrmCLAboutForm::FormCreate() {
  TForm::FormCreate();
  TCLSettings* settings = GetCLSettings();
  TCLEngine* engine = GetCLEngine();
  auto lib = [engine](const std::string& name) {
    return engine ? engine->GetLibString(name) : std::string();
  };
  auto libEx = [engine](const std::string& name, const std::vector<std::string>& args) {
    return engine ? engine->GetLibStringEx(name, args) : std::string();
  };
  // The logo decides the width and adds its height.
  const std::string logo = JoinPath(GetAppPath(), "res\\images\\about.png");
  if (platform::FileExists(logo)) imgLogo->LoadFromFile(logo);  // a bad picture stays empty
  if (imgLogo->PictureHeight() > 0) {
    // The picture has no words: the product name and its line are drawn
    // in the window's language.
    imgLogo->SetPicture(WithPictureTexts(imgLogo->Picture(), HeaderTextArea(),
                                         QStr(engine ? engine->GetAppName() : std::string()),
                                         QStr(lib("TfrmCLAboutForm.Header"))));
    const int h = imgLogo->PictureHeight();
    SetClientSize(imgLogo->PictureWidth(), h + ClientHeight() - pnLogo->height());
    pnLogo->resize(imgLogo->PictureWidth(), h);
  } else {
    SetClientSize(ClientWidth(), ClientHeight() - pnLogo->height());
    pnLogo->SetVisible(false);
  }
  // Caption and button in the current language.
  SetCaption(lib(ClassName() + ".Caption"));
  btnOK->SetCaption(lib("btnOk.Caption"));
  // The information lines: copyright and version, the operator's copyright and,
  // in a translation, its language and translator.
  std::string info = lib("TfrmCLAboutForm.CopyRightLine1");
  info += "\r\n" + libEx("TfrmCLAboutForm.CopyRightLine2", {settings->GetSettingString("App.Ver")});
  info += "\r\n" + settings->GetSettingString("App.Copyright");
  const std::string language = engine ? engine->Language() : std::string();
  if (!language.empty() && language != "English") {
    std::string translator;
    if (engine->LanguageData()) translator = engine->LanguageData()->CurrentLanguageTranslator();
    info += "\r\n" + libEx("TfrmCLAboutForm.CopyRightLine3", {language, translator});
  }
  lbInfo->SetCaption(StringReplaceAll(info, "\r\n", "\n"));
  // The support link and the address it opens.
  lblSupport->SetCaption(lib("lblSupport.Caption"));
  if (engine) FSupportURL = engine->GetURL("support", true);
  lblSupport->setToolTip(QStr(FSupportURL));
  Realign();
}

void TfrmCLAboutForm::keyReleaseEvent(QKeyEvent* e) {
  // Keys of the controls reach FormKeyUp through the key preview; this is
  // a key the window itself received.
  int key = e->key();
  FormKeyUp(key, e->modifiers());
  if (key != 0) TForm::keyReleaseEvent(e);
}

void TfrmCLAboutForm::resizeEvent(QResizeEvent* e) {
  TForm::resizeEvent(e);
  Realign();
}

void TfrmCLAboutForm::Realign() {
  if (!pnLogo) return;
  const int w = ClientWidth();
  const int h = ClientHeight();
  int top = 0;
  if (pnLogo->Visible()) {
    pnLogo->setGeometry(0, 0, w, pnLogo->height());
    imgLogo->setGeometry(0, 0, w, pnLogo->height());
    top = pnLogo->height();
  }
  pn2->setGeometry(0, h - kBottomHeight, w, kBottomHeight);
  lblSupport->setGeometry(16, 12, std::max(w - 16 - 100, 10), 17);
  btnOK->setGeometry(w - 87, 8, 75, 25);
  pn1->setGeometry(0, top, w, std::max(h - kBottomHeight - top, 0));
  lbInfo->setGeometry(16, 12, std::max(w - 32, 10), std::max(pn1->height() - 16, 17));
}

void TfrmCLAboutForm::SetParentWindow(WId parent) {
  // Shown inside the host window, as a child at its top left corner.
  if (QWidget* host = QWidget::find(parent)) {
    // A window of this process: an ordinary child widget.
    if (parentWidget() != host) setParent(host, Qt::Widget);
  } else if (QWindow* foreign = QWindow::fromWinId(parent)) {
    // A window of another program.
    create();
    if (QWindow* own = windowHandle()) own->setParent(foreign);
  }
  SetPosition(TPosition::poDesigned);  // not centred: at 0,0 of the host
  move(0, 0);
}

void TfrmCLAboutForm::lblSupportClick() {
  if (FSupportURL.empty()) return;
  if (TCLEngine* engine = GetCLEngine()) engine->ShowPageByURL(FSupportURL);
}

void TfrmCLAboutForm::FormKeyUp(int& Key, Qt::KeyboardModifiers) {
  if (Key != Qt::Key_Escape) return;
  Key = 0;
  SetModalResult(mrOk);
  if (!Modal()) Close();
}
