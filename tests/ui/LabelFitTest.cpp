// Every window as a user sees it, in each shipped language: every text fits
// the control that shows it (no caption is cut off by its own control's
// edge), and no visible control covers another or reaches outside its
// parent; every text of the popup is at least 9 pixels high and fits. The
// suite runs these checks again with QT_SCALE_FACTOR=2 (see
// tests/CMakeLists.txt), where fonts and windows grow together.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>

#include <algorithm>
#include <filesystem>
#include <map>
#include <utility>

#include "MainWindowSupport.h"
#include "framework/qt/windows/CLAboutForm.h"
#include "framework/qt/windows/CLMessageBox.h"
#include "framework/qt/windows/CLUpdateForm.h"
#include "ui/uChooseIPCountry.h"
#include "ui/uFlashForm.h"
#include "ui/uIPsTesting.h"
#include "ui/uSettings.h"
#include "vcl/ShockwaveFlash.h"
#include "vcl/ActnList.h"
#include "vcl/spMessage.h"

using namespace mainwin;

namespace {

// The text as drawn: a single "&" marks the mnemonic and is not drawn.
QString Drawn(const QString& text) {
  QString out;
  for (int i = 0; i < text.size(); ++i) {
    if (text[i] == '&') {
      if (i + 1 < text.size() && text[i + 1] == '&') out += '&';
      ++i;
      if (i >= text.size()) break;
    }
    out += text[i];
  }
  return out;
}

// The controls of a window whose text does not fit, as "name: text (needs
// N, has M)".
std::vector<std::string> Overflows(QWidget* window) {
  std::vector<std::string> out;
  auto report = [&](QWidget* w, const QString& text, int need, int have) {
    if (need <= have) return;
    out.push_back(w->objectName().toStdString() + ": \"" + text.toStdString() + "\" needs " +
                  std::to_string(need) + ", has " + std::to_string(have));
  };
  for (QWidget* w : window->findChildren<QWidget*>()) {
    if (w->width() <= 0 || w->height() <= 0) continue;
    // The popup lays out and elides its own texts.
    if (frmFlashForm && (w == frmFlashForm || frmFlashForm->isAncestorOf(w))) continue;
    const QFontMetrics fm(w->font());
    if (auto* label = qobject_cast<QLabel*>(w)) {
      const QString text = label->text();
      if (text.isEmpty() || label->textFormat() == Qt::RichText || Qt::mightBeRichText(text))
        continue;
      if (label->wordWrap()) {
        report(w, text, label->heightForWidth(label->width()), label->height());
      } else {
        // The widest line of the text, within the label's margins.
        int widest = 0;
        for (const QString& line : Drawn(text).split('\n'))
          widest = std::max(widest, fm.horizontalAdvance(line));
        report(w, text, widest, label->contentsRect().width());
      }
    } else if (auto* box = qobject_cast<QAbstractButton*>(w)) {
      const QString text = Drawn(box->text());
      if (text.isEmpty()) continue;
      int need = fm.horizontalAdvance(text);
      if (qobject_cast<QCheckBox*>(w) || qobject_cast<QRadioButton*>(w)) {
        const bool check = qobject_cast<QCheckBox*>(w) != nullptr;
        need += w->style()->pixelMetric(check ? QStyle::PM_IndicatorWidth
                                              : QStyle::PM_ExclusiveIndicatorWidth,
                                        nullptr, w) +
                w->style()->pixelMetric(check ? QStyle::PM_CheckBoxLabelSpacing
                                              : QStyle::PM_RadioButtonLabelSpacing,
                                        nullptr, w);
      } else if (qobject_cast<QPushButton*>(w)) {
        need += 4;  // the frame on both sides
      } else {
        continue;
      }
      report(w, box->text(), need, w->width());
    }
  }
  return out;
}

// Where a caption leaves room for another control (a run of three or more
// blanks, as in "Change IP Every ___ Minutes"): the run's horizontal span
// in the parent's coordinates; empty when there is none.
std::pair<int, int> CaptionGap(QWidget* w) {
  auto* box = qobject_cast<QAbstractButton*>(w);
  auto* label = qobject_cast<QLabel*>(w);
  if (!box && !label) return {0, 0};
  const QString text = Drawn(box ? box->text() : label->text());
  const int start = text.indexOf("   ");
  if (start < 0) return {0, 0};
  int end = start;
  while (end < text.size() && text[end] == ' ') ++end;
  int left = w->x() + (label ? label->contentsRect().left() : 0);
  if (qobject_cast<QCheckBox*>(w))
    left += w->style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, w) +
            w->style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, w);
  const QFontMetrics fm(w->font());
  return {left + fm.horizontalAdvance(text.left(start)),
          left + fm.horizontalAdvance(text.left(end))};
}

// Whether a lies wholly inside the room b's caption leaves for it.
bool InCaptionGap(QWidget* a, QWidget* b) {
  const auto [from, to] = CaptionGap(b);
  return from < to && a->geometry().left() >= from && a->geometry().right() < to;
}

// Controls a user cannot tell apart: a visible control that reaches outside
// its parent, or covers a visible sibling (other than sitting in the room a
// caption leaves for it); as "name: what".
std::vector<std::string> Collisions(QWidget* window) {
  std::vector<std::string> out;
  auto name = [](QWidget* w) {
    return w->objectName().isEmpty() ? std::string(w->metaObject()->className())
                                     : w->objectName().toStdString();
  };
  for (QWidget* parent : window->findChildren<QWidget*>()) {
    if (!parent->isVisible() || parent->isWindow()) continue;
    if (frmFlashForm && (parent == frmFlashForm || frmFlashForm->isAncestorOf(parent))) continue;
    std::vector<QWidget*> kids;
    for (QObject* o : parent->children()) {
      auto* w = qobject_cast<QWidget*>(o);
      // The named controls of the window's design, as the user sees them.
      if (w && w->isVisible() && !w->isWindow() && !w->objectName().isEmpty() &&
          !w->objectName().startsWith("qt_") && w->width() > 0 && w->height() > 0)
        kids.push_back(w);
    }
    for (size_t i = 0; i < kids.size(); ++i) {
      if (!parent->rect().contains(kids[i]->geometry()))
        out.push_back(name(kids[i]) + ": outside " + name(parent));
      for (size_t j = i + 1; j < kids.size(); ++j)
        if (kids[i]->geometry().intersects(kids[j]->geometry()) &&
            !InCaptionGap(kids[i], kids[j]) && !InCaptionGap(kids[j], kids[i]))
          out.push_back(name(kids[i]) + ": covers " + name(kids[j]));
    }
  }
  return out;
}

// The popup's texts, as its player drew them in the last frame, that are
// smaller than 9 pixels on screen or cut short, as "card: text (size)".
std::vector<std::string> PopupTextFaults(TShockwaveFlash* player) {
  std::vector<std::string> out;
  for (const TMovieText& t : player->DrawnTexts()) {
    const std::string what = (t.Card.empty() ? std::string("info") : t.Card) + ": \"" +
                             t.Text.toStdString() + "\" (" + std::to_string(t.PixelSize) + " px)";
    if (t.PixelSize < 9) out.push_back(what + " is smaller than 9 px");
    if (!t.Fits) out.push_back(what + " does not fit");
    if (!QRectF(player->rect()).contains(t.Rect)) out.push_back(what + " leaves the popup");
  }
  return out;
}

class LabelFitTest : public MainWindowTest {
 protected:
  TfrmMain& Shown(const std::string& language) {
    Const({"Update.Times=1", "TARGET_COUNTRY=DE",
           "NORMAL_IPS=198.51.100.23:8080|Germany|DE|9|51;192.0.2.2:3128|France|FR|2.35|48.85"});
    GetCLSettings()->SetSettingString("Language", language);
    TfrmMain& w = Window();
    w.show();
    return w;
  }
  // The popup in each of its states (real location in front with the fake
  // card idle behind it; hiding, with the real location small behind the
  // fake one): every text is drawn at 9 pixels or more and fits its place.
  static std::string CheckPopup() {
    if (!frmFlashForm || !frmFlashForm->FlashPlayer) return "no popup";
    TfrmFlashForm& f = *frmFlashForm;
    TShockwaveFlash* player = f.FlashPlayer;
    std::string all;
    auto settle = [&](const char* state) {
      ProcessUntil([&] { return !player->Animating(); });
      player->Snapshot();
      if (player->DrawnTexts().empty()) all += std::string("\n  ") + state + ": no text drawn";
      for (const std::string& fault : PopupTextFaults(player))
        all += std::string("\n  ") + state + ": " + fault;
    };
    const std::string flag = std::string(VG_SOURCE_DIR) + "/none.png";
    f.SetIPInfo("Local", "True", flag, "203.0.113.254", "United States", "Mountain View", "100",
                "100");
    f.SetIPInfo("Target", "", flag, "203.0.113.254", "United States", "Mountain View", "100",
                "100");
    f.TurnLocal();
    f.SetTextInfo(GetCLEngine()->GetAppString("FLSMsg.Ready"), 16711680);
    settle("not hiding");
    f.SetIPInfo("Target", "True", flag, "198.51.100.230", "Germany", "", "0", "100");
    f.Fade("Target", true, 100);
    f.SetIPInfoA("Local", "50", "100");
    f.TurnTarget();
    f.SetTextInfo(GetCLEngine()->GetAppString("FLSMsg.Hiding"), 0);
    f.SetTextInfo2(GetCLEngine()->GetAppStringEx("FLSMsg.WebRtcNotCovered", {"Chromium"}), 0);
    settle("hiding");
    return all;
  }
  // Shows the window (its design font is applied then) and lists what
  // does not fit.
  static std::string Check(TForm* w) {
    w->show();
    QCoreApplication::processEvents();
    std::string all;
    for (const std::string& o : Overflows(w)) all += "\n  " + o;
    for (const std::string& c : Collisions(w)) all += "\n  " + c;
    return all;
  }
};

TEST_F(LabelFitTest, EveryTextFitsItsControlInEveryWindowAndLanguage) {
  for (const char* language : {"English", "Deutsch"}) {
    SCOPED_TRACE(language);
    TfrmMain& w = Shown(language);
    ASSERT_EQ(w.Engine()->Language(), language);
    EXPECT_EQ(Check(&w), "") << "main window";
    EXPECT_EQ(CheckPopup(), "") << "popup";
    // Any country: its name in the window's language fits as well.
    w.FProxyManager->FTargetCountry = "UN";
    w.ResetCountryDisp();
    EXPECT_NE(w.lblIPCountry->Caption().find(std::string(language) == "Deutsch" ? "Automatisch"
                                                                                : "Auto"),
              std::string::npos);
    EXPECT_EQ(Check(&w), "") << "main window, any country";
    {
      std::unique_ptr<TfrmSettings> s(CreateForm<TfrmSettings>(&w));
      EXPECT_EQ(Check(s.get()), "") << "settings";
      s->pcSetting->SetActivePage(s->tsBrowser);
      EXPECT_EQ(Check(s.get()), "") << "settings, second page";
      EXPECT_TRUE(s->cbOpera->isVisible());
    }
    {
      std::unique_ptr<TfrmChooseIPCountry> c(
          CreateForm<TfrmChooseIPCountry>(&w, w.FProxyManager.get()));
      EXPECT_EQ(Check(c.get()), "") << "country";
    }
    {
      std::unique_ptr<TfrmTesting> t(CreateForm<TfrmTesting>(&w));
      EXPECT_EQ(Check(t.get()), "") << "testing";
      // A window built after the language was chosen speaks it.
      EXPECT_EQ(t->btnClose->text().toStdString(),
                std::string(language) == "Deutsch" ? "&Schließen" : "&Close");
    }
    {
      std::unique_ptr<TfrmCLAboutForm> a(TfrmCLAboutForm::Create(&w));
      EXPECT_EQ(Check(a.get()), "") << "about";
    }
    {
      std::unique_ptr<TfrmCLUpdateForm> u(TfrmCLUpdateForm::Create(&w));
      EXPECT_EQ(Check(u.get()), "") << "update";
    }
    CloseWindow();
    ReleaseCLSettings();
  }
}

}  // namespace

namespace {

// Texts that name a Windows thing have a variant for this desktop, in every
// language, and the Windows wording stays in the files for Windows.
TEST_F(LabelFitTest, TheSettingsSpeakOfThisDesktop) {
  struct Case {
    const char* language;
    const char* autorun;
    const char* systemProxy;
  };
  for (const Case& c :
       {Case{"English", "Automatically run Veilgate when I log in", "Desktop proxy settings"},
        Case{"Deutsch", "Veilgate bei der Anmeldung automatisch starten",
             "Proxy-Einstellungen des Desktops"}}) {
    TfrmMain& w = Shown(c.language);
    std::unique_ptr<TfrmSettings> s(CreateForm<TfrmSettings>(&w));
#ifdef _WIN32
    EXPECT_NE(s->cbAutoRun->text().toStdString().find("Windows"), std::string::npos);
#else
    EXPECT_EQ(s->cbAutoRun->text().toStdString(), c.autorun);
    EXPECT_EQ(s->cbIE->text().toStdString(), c.systemProxy);
#endif
    s.reset();
    CloseWindow();
    ReleaseCLSettings();
  }
  const std::string english = ReadText(VG_SOURCE_DIR "/lang/English.lan");
  EXPECT_NE(english.find("cbAutoRun.Caption=Automatically run {AppName} when I log on to Windows"),
            std::string::npos);
  EXPECT_NE(english.find("cbIE.Caption=Internet Explorer"), std::string::npos);
}

}  // namespace

namespace {

// The access key a text marks with "&" ("&&" is a plain ampersand), in
// lower case; a null character when it marks none.
QChar AccessKey(const QString& text) {
  for (int i = 0; i + 1 < text.size(); ++i) {
    if (text[i] != '&') continue;
    if (text[i + 1] == '&') {
      ++i;
      continue;
    }
    return text[i + 1].toLower();
  }
  return QChar();
}

// Texts of one window or menu that mark the same access key, as
// "key: text | text"; empty when every key is unique.
std::string Clashes(const std::vector<QString>& texts) {
  std::map<QChar, std::vector<QString>> byKey;
  for (const QString& t : texts)
    if (const QChar k = AccessKey(t); !k.isNull()) byKey[k].push_back(t);
  std::string out;
  for (const auto& [key, users] : byKey) {
    if (users.size() < 2) continue;
    out += "\n  " + QString(key).toStdString() + ":";
    for (const QString& u : users) out += " \"" + u.toStdString() + "\"";
  }
  return out;
}

// The captions of the buttons, check boxes and labels a window shows at
// once (the keys of a hidden page or panel do not act).
std::vector<QString> WindowTexts(QWidget* w) {
  w->show();
  QCoreApplication::processEvents();
  std::vector<QString> out;
  for (QAbstractButton* b : w->findChildren<QAbstractButton*>())
    if (b->isVisibleTo(w)) out.push_back(b->text());
  for (QLabel* l : w->findChildren<QLabel*>())
    if (l->isVisibleTo(w) && l->textFormat() != Qt::RichText) out.push_back(l->text());
  return out;
}

// The captions of a menu's lines, whether shown now or not (the hide and
// the stop-hide line take turns in the same place).
std::vector<QString> MenuTexts(TPopupMenu* menu) {
  std::vector<QString> out;
  TMenuItem* root = menu->Items();
  for (int i = 0; i < root->Count(); ++i)
    if (QAction* a = root->Items(i)->QtAction(); a && !a->isSeparator()) out.push_back(a->text());
  return out;
}

}  // namespace

// The about and update windows' logo strips carry no words of their own:
// the product name and the window's line are drawn in the window's
// language, and on a screen of twice the pixel density the strip drawn for
// it is taken, at the same size on screen.
TEST_F(LabelFitTest, HeaderPicturesSpeakTheLanguageAndMatchTheScreen) {
  std::map<std::string, QImage> about, update;
  for (const char* language : {"English", "Deutsch"}) {
    SCOPED_TRACE(language);
    TfrmMain& w = Shown(language);
    std::filesystem::create_directories(sb().Path("app/res/images"));
    for (const char* file : {"about.png", "about@2x.png", "update.png", "update@2x.png"})
      std::filesystem::copy_file(std::string(VG_BINARY_DIR) + "/res/images/" + file,
                                 sb().Path(std::string("app/res/images/") + file),
                                 std::filesystem::copy_options::overwrite_existing);
    std::unique_ptr<TfrmCLAboutForm> a(TfrmCLAboutForm::Create(&w));
    std::unique_ptr<TfrmCLUpdateForm> u(TfrmCLUpdateForm::Create(&w));
    for (TImage* logo : {a->imgLogo, u->imgLogo}) {
      EXPECT_EQ(logo->PictureWidth(), 373);
      EXPECT_EQ(logo->PictureHeight(), 65);
      EXPECT_EQ(logo->Picture().devicePixelRatio(), qApp->devicePixelRatio() >= 1.5 ? 2.0 : 1.0);
    }
    about[language] = a->imgLogo->Picture().toImage();
    update[language] = u->imgLogo->Picture().toImage();
    a.reset();
    u.reset();
    CloseWindow();
    ReleaseCLSettings();
  }
  // The picture files are the same for both: only the drawn line differs.
  EXPECT_NE(about["English"], about["Deutsch"]);
  EXPECT_NE(update["English"], update["Deutsch"]);
  EXPECT_NE(about["English"], update["English"]);
}

TEST(AccessKeyTest, TheKeyIsTheCharacterAfterASingleAmpersand) {
  struct Case {
    const char* text;
    QChar key;
  };
  for (const Case& c :
       {Case{"&Open", 'o'}, Case{"Ho&me Page", 'm'}, Case{"Fish && &Chips", 'c'},
        Case{"No key", QChar()}, Case{"Trailing &", QChar()}, Case{"Ö&ffnen", 'f'}}) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(AccessKey(QString::fromUtf8(c.text)), c.key);
  }
  EXPECT_NE(Clashes({"&Homepage", "&Hilfe-Center"}), "");
  EXPECT_EQ(Clashes({"Home&page", "&Hilfe-Center", "Plain"}), "");
}

// No two lines of a menu and no two controls of a window or message box
// share an access key, in every window and language: a key press must
// reach the one control its text promises.
TEST_F(LabelFitTest, NoTwoControlsOfAWindowOrMenuShareAnAccessKey) {
  for (const char* language : {"English", "Deutsch"}) {
    SCOPED_TRACE(language);
    TfrmMain& w = Shown(language);
    ASSERT_EQ(w.Engine()->Language(), language);
    QCoreApplication::processEvents();
    EXPECT_EQ(Clashes(WindowTexts(&w)), "") << "main window";
    EXPECT_FALSE(MenuTexts(w.pmTray).empty());
    EXPECT_EQ(Clashes(MenuTexts(w.pmTray)), "") << "tray menu";
    // While hiding, the hide line carries the stop-hide command.
    w.VeilIP1->SetAction(w.actStopHide);
    EXPECT_EQ(Clashes(MenuTexts(w.pmTray)), "") << "tray menu while hiding";
    w.VeilIP1->SetAction(w.actVeilIP);
    EXPECT_EQ(Clashes(MenuTexts(w.pmSys)), "") << "system menu";
    {
      std::unique_ptr<TfrmSettings> s(CreateForm<TfrmSettings>(&w));
      EXPECT_EQ(Clashes(WindowTexts(s.get())), "") << "settings";
      s->pcSetting->SetActivePage(s->tsBrowser);
      EXPECT_EQ(Clashes(WindowTexts(s.get())), "") << "settings, second page";
    }
    {
      std::unique_ptr<TfrmChooseIPCountry> c(
          CreateForm<TfrmChooseIPCountry>(&w, w.FProxyManager.get()));
      EXPECT_EQ(Clashes(WindowTexts(c.get())), "") << "country";
    }
    {
      std::unique_ptr<TfrmTesting> t(CreateForm<TfrmTesting>(&w));
      EXPECT_EQ(Clashes(WindowTexts(t.get())), "") << "testing";
    }
    {
      std::unique_ptr<TfrmCLAboutForm> a(TfrmCLAboutForm::Create(&w));
      EXPECT_EQ(Clashes(WindowTexts(a.get())), "") << "about";
    }
    {
      std::unique_ptr<TfrmCLUpdateForm> u(TfrmCLUpdateForm::Create(&w));
      EXPECT_EQ(Clashes(WindowTexts(u.get())), "") << "update";
      // A new version found: OK and Cancel beside the automatic-check box.
      u->pnOK->SetVisible(false);
      u->pnOkCancel->SetVisible(true);
      u->btnCancel->SetVisible(true);
      const std::vector<QString> offer = WindowTexts(u.get());
      EXPECT_EQ(Clashes(offer), "") << "update with a new version";
      EXPECT_EQ(std::count_if(offer.begin(), offer.end(),
                              [](const QString& t) { return !AccessKey(t).isNull(); }),
                3);
    }
    // The message box's button sets, with the captions the skin's message
    // dialog gives them in this language.
    TspSkinMessage dlg(nullptr);
    dlg.SetSkinData(w.Engine()->SkinData());
    for (unsigned set : {mbOK | mbCancel, mbYes | mbNo, mbYes | mbNo | mbCancel,
                         mbYes | mbYesToAll | mbNo | mbNoToAll | mbCancel,
                         mbAbort | mbRetry | mbIgnore, mbOK | mbHelp, mbYes | mbNo | mbAll}) {
      int count = 0;
      const TMsgDlgButtonKind* kinds = MsgDlgButtonKinds(count);
      std::vector<QString> captions;
      for (int i = 0; i < count; ++i)
        if ((set & kinds[i].Bit) && *kinds[i].CaptionName)
          captions.push_back(QString::fromStdString(dlg.ResString(kinds[i].CaptionName)));
      EXPECT_EQ(Clashes(captions), "") << "message box buttons " << set;
    }
    CloseWindow();
    ReleaseCLSettings();
  }
}
