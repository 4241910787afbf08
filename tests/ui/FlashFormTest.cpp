// The IP information popup and its movie player: the start-up commands, the
// text of every command, the two commands the movie sends back, the
// right-button filter, and what the player makes of the commands (cards,
// fades, the turn, colours, clicks, flags given by web address).
#include <gtest/gtest.h>

#include <QMouseEvent>

#include "framework/qt/CLAppComponents.h"
#include "MainWindowSupport.h"
#include "framework/CLURL.h"
#include "framework/lang/CLMultiLang.h"
#include "ui/uFlashForm.h"
#include "vcl/ShockwaveFlash.h"

using namespace mainwin;

namespace {

// Plays the main window for the popup: the engine and the translation data.
class THost : public TForm {
 public:
  THost() {
    SetName("frmHost");
    const TCLAppComponents app = CreateAppComponents(this, false);
    Data = app.CLMultiLangData;
    Engine = app.CLEngine;
  }
  std::string ClassName() const override { return "TfrmHost"; }
  TCLMultiLangData* Data = nullptr;
  TCLEngine* Engine = nullptr;
};

class FlashFormTest : public MainWindowTest {
 protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    Const({"URL.CheckIP=http://checkip.example/show",
           "URL.Redirect=http://service.example/redirect"});
  }
  void TearDown() override {
    FPopup.reset();
    FHost.reset();
    MainWindowTest::TearDown();
  }
  TfrmFlashForm& Popup() {
    FHost = std::make_unique<THost>();
    FHost->AfterConstruction();
    FPopup.reset(CreateForm<TfrmFlashForm>(FHost.get()));
    FPopup->show();
    return *FPopup;
  }
  static void Click(QWidget* w, QPointF at, Qt::MouseButton button) {
    QMouseEvent press(QEvent::MouseButtonPress, at, w->mapToGlobal(at), button, button,
                      Qt::NoModifier);
    QApplication::sendEvent(w, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, at, w->mapToGlobal(at), button, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(w, &release);
  }
  // Whether some pixel of the rectangle has the colour's hue (the dominant
  // channel well above the other two).
  static bool HasColour(const QImage& img, const QRectF& r, int channel) {
    for (int y = static_cast<int>(r.top()); y < r.bottom(); ++y)
      for (int x = static_cast<int>(r.left()); x < r.right(); ++x) {
        const QRgb p = img.pixel(x, y);
        const int c[3] = {qRed(p), qGreen(p), qBlue(p)};
        if (c[channel] > 150 && c[(channel + 1) % 3] < 90 && c[(channel + 2) % 3] < 90) return true;
      }
    return false;
  }

  std::unique_ptr<THost> FHost;
  std::unique_ptr<TfrmFlashForm> FPopup;
};

TEST_F(FlashFormTest, StartUpCommandsComeFirstAndAMissingMovieIsReported) {
  platform::DeleteFileAt(sb().Path("app/res/veilip.dat"));
  TLogLines movie("TShockwaveFlash");
  TfrmFlashForm& popup = Popup();
  EXPECT_EQ(frmFlashForm, &popup);
  // The movie's path and " File Error!" in a plain box; the window goes on.
  EXPECT_EQ(PlainBoxes, std::vector<std::string>{sb().Path("app/res/veilip.dat") + " File Error!"});
  ASSERT_NE(popup.FlashPlayer, nullptr);
  EXPECT_FALSE(popup.FlashPlayer->MovieLoaded());
  EXPECT_EQ(Commands(movie),
            (std::vector<std::string>{"Background," + sb().Path("app/res/images/popup_bg.png"),
                                      "Logo," + sb().Path("app/res/images/logo.png"),
                                      "Local,,,,,,0,100", "Target,,,,,,0,100",
                                      "Info_Text,Verifing from Veilgate server ...,4474009",
                                      "Info_Text2,,0"}));
  // The player: its own size at the window's top left, no menu, no loop,
  // quality 1.
  EXPECT_EQ(popup.FlashPlayer->geometry(), QRect(0, 0, 534, 180));
  EXPECT_FALSE(popup.FlashPlayer->Menu());
  EXPECT_FALSE(popup.FlashPlayer->Loop());
  EXPECT_EQ(popup.FlashPlayer->Quality(), 1);
  EXPECT_EQ(popup.FlashPlayer->Movie(), sb().Path("app/res/veilip.dat"));
  // Commands still reach a player without a movie.
  popup.SetTextInfo("still here", 0);
  EXPECT_EQ(popup.FlashPlayer->State().InfoText, "still here");
  FPopup.reset();
  EXPECT_EQ(frmFlashForm, nullptr);
}

TEST_F(FlashFormTest, TheShippedMovieLoadsWithoutABox) {
  TfrmFlashForm& popup = Popup();
  EXPECT_TRUE(PlainBoxes.empty());
  EXPECT_TRUE(popup.FlashPlayer->MovieLoaded());
  EXPECT_EQ(popup.FlashPlayer->ClassName(), "TShockwaveFlash");
  // A file of another format is no movie.
  TShockwaveFlash other(nullptr);
  sb().WriteFile("other.dat", "[movie]\nformat=something else\n");
  other.SetMovie(sb().Path("other.dat"));
  EXPECT_FALSE(other.MovieLoaded());
}

TEST_F(FlashFormTest, EveryOperationSendsItsExactCommandText) {
  TfrmFlashForm& popup = Popup();
  TLogLines movie("TShockwaveFlash");
  popup.SetIPInfo("Target", "True", "C:\\flags,old\\KR.PNG", "192.0.2.7", "Korea, Republic of",
                  "Seoul, Jung-gu", "0", "100");
  popup.SetIPInfoA("Local", "50", "100");
  popup.Fade("Target", false, 0);
  popup.Fade("Target", true, 100);
  popup.SetTextInfo("", 0);
  popup.SetTextInfo("a, b", 16711680);
  popup.SetTextInfo2("second", -16777216);
  popup.TurnTarget();
  popup.TurnLocal();
  popup.SetBackground("bg.png");
  popup.SetLogo("logo.png");
  // Only the country name loses its commas.
  EXPECT_EQ(
      Commands(movie),
      (std::vector<std::string>{
          "Target,True,C:\\flags,old\\KR.PNG,192.0.2.7,Korea  Republic of,Seoul, Jung-gu,0,100",
          "LocalA,50,100", "Fade,Target,out,0", "Fade,Target,in,100", "Info_Text,,0",
          "Info_Text,a, b,16711680", "Info_Text2,second,-16777216", "Turn,Target", "Turn,Local",
          "Background,bg.png", "Logo,logo.png"}));
  EXPECT_EQ(popup.FlashPlayer->GetVariable("callbackvar"), "Logo,logo.png");
}

TEST_F(FlashFormTest, ThePlayerReadsFieldsThatHoldCommas) {
  TfrmFlashForm& popup = Popup();
  popup.SetIPInfo("Target", "True", "C:\\flags,old\\KR.PNG", "192.0.2.7", "Korea, Republic of",
                  "Seoul, Jung-gu", "0", "100");
  const TMovieCard& t = popup.FlashPlayer->State().Target;
  EXPECT_EQ(t.Display, "True");
  EXPECT_EQ(t.FlagURL, "C:\\flags,old\\KR.PNG");
  EXPECT_EQ(t.IP, "192.0.2.7");
  EXPECT_EQ(t.Country, "Korea  Republic of");
  EXPECT_EQ(t.City, "Seoul, Jung-gu");
  EXPECT_EQ(t.Alpha, 0);
  EXPECT_EQ(t.Scale, 100);
  // Without a flag path that ends in .png, the extra commas go to the city.
  popup.SetIPInfo("Local", "", "", "198.51.100.1", "France", "Paris, 1er", "100", "80");
  const TMovieCard& l = popup.FlashPlayer->State().Local;
  EXPECT_EQ(l.FlagURL, "");
  EXPECT_EQ(l.IP, "198.51.100.1");
  EXPECT_EQ(l.City, "Paris, 1er");
  EXPECT_EQ(l.Scale, 80);
  popup.SetTextInfo("one, two, three", 4474009);
  EXPECT_EQ(popup.FlashPlayer->State().InfoText, "one, two, three");
  EXPECT_EQ(popup.FlashPlayer->State().InfoColor, 4474009);
  // Unknown commands and unknown cards change nothing.
  const int before = popup.FlashPlayer->State().Commands;
  for (const char* bad :
       {"Bogus,1,2", "Fade,Nobody,in,100", "Turn,Sideways", "Fade,Local,up,5", ""})
    popup.FlashPlayer->SetVariable("callbackvar", bad);
  EXPECT_EQ(popup.FlashPlayer->State().Commands, before);
  EXPECT_EQ(popup.FlashPlayer->State().Front, "Local");
}

TEST_F(FlashFormTest, FadesAndTheTurnAnimateToTheirGoal) {
  TfrmFlashForm& popup = Popup();
  TShockwaveFlash* p = popup.FlashPlayer;
  popup.SetIPInfo("Target", "True", "", "192.0.2.7", "Japan", "", "0", "100");
  EXPECT_EQ(p->ShownAlpha("Target"), 0.0);
  popup.Fade("Target", true, 100);
  popup.TurnTarget();
  EXPECT_TRUE(p->Animating());
  EXPECT_LT(p->ShownAlpha("Target"), 0.5);
  EXPECT_EQ(p->State().Front, "Target");
  ASSERT_TRUE(Until([p] { return !p->Animating(); }, 3000));
  EXPECT_DOUBLE_EQ(p->ShownAlpha("Target"), 1.0);
  // The card turned to sits in the front slot of the scene, the other in
  // the back slot.
  EXPECT_EQ(p->CardRect("Target"), QRectF(196, 10, 328, 124));
  EXPECT_EQ(p->CardRect("Local"), QRectF(16, 64, 168, 64));
  popup.Fade("Target", false, 0);
  popup.TurnLocal();
  ASSERT_TRUE(Until([p] { return !p->Animating(); }, 3000));
  EXPECT_DOUBLE_EQ(p->ShownAlpha("Target"), 0.0);
  EXPECT_EQ(p->CardRect("Local"), QRectF(196, 10, 328, 124));
  // Alpha of one card alone.
  popup.SetIPInfoA("Local", "50", "100");
  ASSERT_TRUE(Until([p] { return !p->Animating(); }, 3000));
  EXPECT_DOUBLE_EQ(p->ShownAlpha("Local"), 0.5);
}

TEST_F(FlashFormTest, InformationColoursAreRedInTheLowestByte) {
  TfrmFlashForm& popup = Popup();
  TShockwaveFlash* p = popup.FlashPlayer;
  const QRectF line(14, 138, 200, 20);
  popup.SetTextInfo("WWWWWWWWWW", 16711680);  // hexadecimal FF0000: blue
  QImage shot = p->Snapshot().toImage();
  EXPECT_TRUE(HasColour(shot, line, 2));
  EXPECT_FALSE(HasColour(shot, line, 0));
  popup.SetTextInfo("WWWWWWWWWW", 255);  // red
  shot = p->Snapshot().toImage();
  EXPECT_TRUE(HasColour(shot, line, 0));
  EXPECT_FALSE(HasColour(shot, line, 2));
}

TEST_F(FlashFormTest, MovieCommandsOpenTheCheckPageAndTheHomePageInAnyCase) {
  TfrmFlashForm& popup = Popup();
  popup.FlashFSCommand(popup.FlashPlayer, "cmd", "checkipinfo");
  ASSERT_EQ(BrowserCalls(1).size(), 1u);
  EXPECT_EQ(BrowserCalls(1)[0], "http://checkip.example/show");
  popup.FlashFSCommand(popup.FlashPlayer, "CMD", "HomePage");
  const auto calls = BrowserCalls(2);
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[1].rfind(GetURL("home", false), 0), 0u) << calls[1];
  // Anything else is ignored.
  popup.FlashFSCommand(popup.FlashPlayer, "FSCommand", "CHECKIPINFO");
  popup.FlashFSCommand(popup.FlashPlayer, "CMD", "QUIT");
  popup.FlashFSCommand(popup.FlashPlayer, "CMD", "CHECKIPINFO2");
  EXPECT_EQ(BrowserCalls(3, 500).size(), 2u);
}

TEST_F(FlashFormTest, ClicksOnTheIPLineAndTheLogoReachTheApplication) {
  TfrmFlashForm& popup = Popup();
  TShockwaveFlash* p = popup.FlashPlayer;
  popup.SetIPInfo("Local", "True", "", "203.0.113.5", "United States", "Dallas", "100", "100");
  Click(p, p->IPLineRect("Local").center(), Qt::LeftButton);
  ASSERT_EQ(BrowserCalls(1).size(), 1u);
  EXPECT_EQ(BrowserCalls(1)[0], "http://checkip.example/show");
  Click(p, p->LogoRect().center(), Qt::LeftButton);
  ASSERT_EQ(BrowserCalls(2).size(), 2u);
  // A card that is faded out cannot be clicked, and a click beside the IP
  // line does nothing.
  popup.SetIPInfo("Local", "True", "", "203.0.113.5", "United States", "Dallas", "0", "100");
  Click(p, p->IPLineRect("Local").center(), Qt::LeftButton);
  Click(p, QPointF(5, 175), Qt::LeftButton);
  EXPECT_EQ(BrowserCalls(3, 500).size(), 2u);
}

TEST_F(FlashFormTest, ARightClickOpensNoMenuOnThePopup) {
  TfrmFlashForm& popup = Popup();
  TShockwaveFlash* p = popup.FlashPlayer;
  // The bare player opens its menu on the right button going down.
  TShockwaveFlash bare(nullptr);
  bare.resize(200, 100);
  bare.show();
  Click(&bare, QPointF(50, 50), Qt::RightButton);
  ASSERT_NE(bare.OpenContextMenu(), nullptr);
  EXPECT_TRUE(Until([&] { return bare.OpenContextMenu() && bare.OpenContextMenu()->isVisible(); }));
  bare.OpenContextMenu()->close();
  // Through the popup's filter the player sees a button-up instead.
  Click(p, QPointF(50, 50), Qt::RightButton);
  p->Perform(WM_RBUTTONDOWN_MSG, 2, MakeLParam(60, 60));
  ASSERT_TRUE(ProcessPosted());
  EXPECT_EQ(p->OpenContextMenu(), nullptr);
  // Every other message passes through unchanged: a left click still works.
  popup.SetIPInfo("Local", "True", "", "203.0.113.5", "United States", "", "100", "100");
  const QPointF ip = p->IPLineRect("Local").center();
  p->Perform(WM_LBUTTONUP_MSG, 0, MakeLParam(static_cast<int>(ip.x()), static_cast<int>(ip.y())));
  EXPECT_EQ(BrowserCalls(1).size(), 1u);
}

TEST_F(FlashFormTest, AFlagGivenByWebAddressIsFetchedOnceAndDrawn) {
  TWebServer web([](const std::string&) {
    return TAnswer{200, SolidPng(qRgb(0, 170, 0)), "image/png"};
  });
  TfrmFlashForm& popup = Popup();
  TShockwaveFlash* p = popup.FlashPlayer;
  const std::string url = web.Base() + "/flags/DE.PNG";
  popup.SetIPInfo("Local", "True", url, "203.0.113.5", "Germany", "", "100", "100");
  popup.SetIPInfo("Target", "", url, "203.0.113.5", "Germany", "", "100", "100");
  const QRectF flag(196 + 12, 10 + 30, 48, 48);  // the front card's flag
  ASSERT_TRUE(Until([&] { return Middle(p->Snapshot().copy(flag.toRect())) == qRgb(0, 170, 0); }));
  EXPECT_EQ(web.Count("/flags/DE.PNG"), 1);
  // The downloader's own temporary file is gone once the picture was read.
  EXPECT_TRUE(platform::ListFiles(GetTempDir(), "sg*").empty());
}

}  // namespace

namespace {

TEST_F(FlashFormTest, ACardWithoutItsDisplayFlagShowsNoValuesAndTitlesFollowTheLanguage) {
  TfrmFlashForm& popup = Popup();
  TShockwaveFlash* p = popup.FlashPlayer;
  // The titles come from the language file, in the language chosen.
  EXPECT_EQ(p->GetVariable("Target_title"), "Your fake location");
  EXPECT_EQ(p->GetVariable("Local_title"), "Your real location");
  FHost->Engine->SetLanguage("Deutsch");
  EXPECT_EQ(p->GetVariable("Target_title"), "Ihr vorgetäuschter Standort");
  EXPECT_FALSE(p->GetVariable("idle_text").empty());

  popup.TurnTarget();
  ASSERT_TRUE(Until([p] { return !p->Animating(); }, 3000));
  // Without the display flag, what the card was filled with is not shown:
  // two different locations give the same picture.
  popup.SetIPInfo("Target", "", "", "192.0.2.7", "Japan", "Tokyo", "100", "100");
  const QImage idleA = p->Snapshot().toImage();
  popup.SetIPInfo("Target", "", "", "203.0.113.9", "France", "Paris", "100", "100");
  const QImage idleB = p->Snapshot().toImage();
  EXPECT_EQ(idleA, idleB);
  // With the flag the values are drawn.
  popup.SetIPInfo("Target", "True", "", "192.0.2.7", "Japan", "Tokyo", "100", "100");
  const QImage liveA = p->Snapshot().toImage();
  popup.SetIPInfo("Target", "True", "", "203.0.113.9", "France", "Paris", "100", "100");
  EXPECT_NE(liveA, p->Snapshot().toImage());
  EXPECT_NE(liveA, idleA);
}

}  // namespace
