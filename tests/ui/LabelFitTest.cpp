// Every window as a user sees it, in each shipped language: every text fits
// the control that shows it (no caption is cut off by its own control's
// edge), and no visible control covers another or reaches outside its
// parent. The
// suite runs these checks again with QT_SCALE_FACTOR=2 (see
// tests/CMakeLists.txt), where fonts and windows grow together.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>

#include <utility>

#include "MainWindowSupport.h"
#include "framework/qt/windows/CLAboutForm.h"
#include "framework/qt/windows/CLUpdateForm.h"
#include "ui/uChooseIPCountry.h"
#include "ui/uFlashForm.h"
#include "ui/uIPsTesting.h"
#include "ui/uSettings.h"

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
