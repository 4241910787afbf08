// The about window: its lines by language, the logo rule, the support link
// through the default browser, Escape, and one window reused by the engine
// with the texts of its first opening.
#include <gtest/gtest.h>

#include <QImage>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <memory>
#include <string>

#include "FrameworkWindowsSupport.h"
#include "framework/lang/CLMultiLang.h"
#include "framework/qt/CLEngine.h"
#include "framework/qt/windows/CLAboutForm.h"

namespace {

class AboutFormTest : public FrameworkWindowsTest {
 protected:
  void SetUp() override {
    FrameworkWindowsTest::SetUp();
    WriteConst(
        {"App.Copyright=Copyright (C) 2026 Veilgate", "URL.support=http://127.0.0.1:9/support"});
  }
  TfrmCLAboutForm* AboutWindow() {
    for (int i = 0; i < Main()->ComponentCount(); ++i)
      if (auto* w = dynamic_cast<TfrmCLAboutForm*>(Main()->Components(i))) return w;
    return nullptr;
  }
  // Opens the about window through the engine and closes it with Escape,
  // returning what its information label showed.
  std::string OpenAndEscape() {
    std::string shown;
    WhenModal([&shown](QWidget* m) {
      auto* w = dynamic_cast<TfrmCLAboutForm*>(m);
      if (!w) return;
      shown = w->lbInfo->Caption();
      PressKey(w, Qt::Key_Escape);
    });
    Engine()->AppAbout();
    return shown;
  }
};

}  // namespace

TEST_F(AboutFormTest, EnglishShowsThreeLinesAnotherLanguageFour) {
  EXPECT_EQ(OpenAndEscape(),
            "Veilgate hides your IP address while you browse.\nVersion 2.5.0.12\n"
            "Copyright (C) 2026 Veilgate");
  TfrmCLAboutForm* w = AboutWindow();
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->ModalResult(), mrOk);  // Escape closes with OK
  EXPECT_FALSE(w->isVisible());
  EXPECT_EQ(w->Caption(), "About Veilgate");
  EXPECT_EQ(w->btnOK->Caption(), "&OK");
  EXPECT_EQ(w->lblSupport->Caption(), "Support");

  // A window built with another language loaded: four lines, the last
  // naming the language and its translator.
  Engine()->SetLanguage("Deutsch");
  std::unique_ptr<TfrmCLAboutForm> german(TfrmCLAboutForm::Create(Main()));
  const std::string info = german->lbInfo->Caption();
  const std::string translator = Main()->CLMultiLangData->CurrentLanguageTranslator();
  ASSERT_FALSE(translator.empty());
  EXPECT_EQ(std::count(info.begin(), info.end(), '\n'), 3);
  EXPECT_NE(info.find("Deutsch"), std::string::npos);
  EXPECT_NE(info.rfind(translator), std::string::npos);
  EXPECT_GT(info.rfind(translator), info.rfind('\n'));
}

TEST_F(AboutFormTest, LanguageNamedEnglishInOtherCaseCountsAsAnotherLanguage) {
  // The comparison with "English" is exact.
  sb().WriteFile("app/lang/english.lan",
                 "[Info]\r\nLanguage=english\r\nTranslator=Lower Case\r\n[LibRes]\r\n"
                 "TfrmCLAboutForm.CopyRightLine3=Language {1} by {2}\r\n");
  Main();
  Engine()->SetLanguage("english");
  std::unique_ptr<TfrmCLAboutForm> w(TfrmCLAboutForm::Create(Main()));
  const std::string info = w->lbInfo->Caption();
  EXPECT_NE(info.find("Language english by Lower Case"), std::string::npos);
}

TEST_F(AboutFormTest, ReusedWindowKeepsTheTextsOfItsFirstOpening) {
  const std::string first = OpenAndEscape();
  TfrmCLAboutForm* w = AboutWindow();
  ASSERT_NE(w, nullptr);
  Engine()->SetLanguage("Deutsch");
  EXPECT_EQ(OpenAndEscape(), first);
  EXPECT_EQ(AboutWindow(), w);  // the same window, created once
  int count = 0;
  for (int i = 0; i < Main()->ComponentCount(); ++i)
    if (dynamic_cast<TfrmCLAboutForm*>(Main()->Components(i))) ++count;
  EXPECT_EQ(count, 1);
}

TEST_F(AboutFormTest, SupportLinkOpensTheSupportPageWithItsParameters) {
  Main();
  std::unique_ptr<TfrmCLAboutForm> w(TfrmCLAboutForm::Create(Main()));
  const std::string url = w->SupportURL();
  EXPECT_EQ(url.rfind("http://127.0.0.1:9/support?ACTION=support&", 0), 0u) << url;
  EXPECT_NE(url.find("&PID="), std::string::npos);
  w->lblSupportClick();
  EXPECT_EQ(Opened(1), std::vector<std::string>{url});
}

TEST_F(AboutFormTest, LogoPictureDecidesTheSizeAndAMissingOneShortensTheWindow) {
  Main();
  {
    std::unique_ptr<TfrmCLAboutForm> w(TfrmCLAboutForm::Create(Main()));
    EXPECT_FALSE(w->pnLogo->Visible());
    EXPECT_EQ(w->ClientWidth(), 373);
    EXPECT_EQ(w->ClientHeight(), 262 - 65);
  }
  platform::ForceDirectories(sb().Path("app/res/images"));
  QImage picture(360, 90, QImage::Format_RGB32);
  picture.fill(Qt::darkGreen);
  ASSERT_TRUE(picture.save(QString::fromStdString(sb().Path("app/res/images/about.png"))));
  std::unique_ptr<TfrmCLAboutForm> w(TfrmCLAboutForm::Create(Main()));
  EXPECT_TRUE(w->pnLogo->Visible());
  EXPECT_EQ(w->ClientWidth(), 360);
  EXPECT_EQ(w->ClientHeight(), 90 + 262 - 65);
  EXPECT_EQ(w->imgLogo->PictureWidth(), 360);
}

TEST_F(AboutFormTest, EmbeddedEngineShowsTheAboutWindowInsideItsHost) {
  TForm host;
  host.SetClientSize(500, 400);
  host.show();
  Engine()->SetParentHWND(host.winId());
  QWidget* parent = nullptr;
  QPoint position(-1, -1);
  bool shown = false;
  QTimer::singleShot(0, [&] {
    ProcessUntil([&] { return AboutWindow() && AboutWindow()->isVisible(); });
    TfrmCLAboutForm* w = AboutWindow();
    if (!w) return;
    shown = w->isVisible() && w->Showing();
    parent = w->parentWidget();
    position = w->pos();
    PressKey(w, Qt::Key_Escape);
  });
  Engine()->AppAbout();  // returns when Escape closed it
  EXPECT_TRUE(shown);
  EXPECT_EQ(parent, &host);
  EXPECT_EQ(position, QPoint(0, 0));
  EXPECT_FALSE(AboutWindow()->isVisible());
  Engine()->SetParentHWND(0);
  AboutWindow()->setParent(nullptr);  // the host goes first
}
