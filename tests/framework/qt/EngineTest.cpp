// The engine on a window: skin and language selection with their lists and
// menus, texts by key, the title, message boxes with their show-again
// memory, the update and about decisions, the end of the session, cache
// downloads and the form component.
#include <gtest/gtest.h>

#include "QtTestApp.h"
#include "EngineHostWindow.h"
#include "support/NetTestServers.h"
#include "vcl/Controls.h"
#include "ui/uSettings.h"

#include <QGuiApplication>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <thread>
#include <vector>

#include "framework/CLConst.h"
#include "framework/CLSettings.h"
#include "framework/qt/CLForm.h"
#include "framework/qt/CLQtDispatcher.h"
#include "framework/qt/windows/CLFrameworkWindows.h"
#include "framework/qt/windows/CLMessageBox.h"
#include "platform/Files.h"
#include "platform/System.h"
#include "support/Sandbox.h"
#include "vcl/spMessage.h"

namespace {

class EngineTest : public SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    TestApp();
    FSavedClock = TCLEngine::TickCount();
    sb().WriteFile("app/const.dat", "[setting]\r\nApp.Name=Veilgate\r\nApp.Ver=1.2.3\r\n");
  }
  void TearDown() override {
    CLFrameworkWindows() = TCLFrameworkWindows{};
    TCLEngine::TickCount() = FSavedClock;
    ReleaseCLSettings();
    SandboxTest::TearDown();
  }
  void WriteSkin(const std::string& file, const std::string& sheet) {
    sb().WriteFile("app/skins/" + file, SkinCompress(sheet));
  }
  static std::unique_ptr<TfrmEngineHost> Window() {
    return std::unique_ptr<TfrmEngineHost>(CreateForm<TfrmEngineHost>());
  }
  // The value as it stands in the user's settings file.
  static bool UserFileHas(const std::string& line) {
    std::string text;
    platform::ReadWholeFile(GetCLSettings()->SettingFilePath(), text);
    return text.find(line) != std::string::npos;
  }
  static platform::InstanceMessage Msg(uint32_t msg) {
    platform::InstanceMessage m;
    m.msg = msg;
    return m;
  }

 private:
  std::function<uint32_t()> FSavedClock;
};

const char* const kEnglish =
    "[Info]\r\nLanguage=English\r\n[AppRes]\r\nAppName=Veilgate\r\n"
    "MSGBox.Hello=Hello {1} and {2} from {AppName}\r\n"
    "[LibRes]\r\nLib.Key=Library text {1}\r\n"
    "[TfrmSettings]\r\nbtnCancel.Caption=&Cancel\r\n";
const char* const kGerman =
    "[Info]\r\nLanguage=Deutsch\r\n[AppRes]\r\nAppName=Schleiertor\r\n"
    "[SkinRes]\r\nMSG_BTN_YES=&Ja\r\nMSG_EXTRA=Extra\r\n"
    "[TfrmSettings]\r\nbtnCancel.Caption=&Abbrechen\r\nfrmSettings.Caption=Einstellungen\r\n";

// A small HTTP server on loopback: every GET of /NAME.png answers
// "PNG:NAME" ("slow" after a pause, "cut" shorter than announced) and is
// counted.
class TinyHttpServer {
 public:
  std::string Base() const { return FServer.Base(); }
  int Hits() const { return FServer.RequestCount(); }

 private:
  nettest::TestHttpServer FServer{[](const nettest::Request& r, nettest::Connection& c) {
    const size_t end = r.target.find(".png");
    const std::string name = end == std::string::npos ? std::string() : r.target.substr(1, end - 1);
    if (name == "slow") platform::SleepMs(150);
    const std::string body = "PNG:" + name;
    // "cut" promises more than it sends: a transfer cut short.
    const size_t length = name == "cut" ? body.size() + 100 : body.size();
    c.Write("HTTP/1.1 200 OK\r\nContent-Type: image/png\r\nContent-Length: " +
            std::to_string(length) + "\r\nConnection: close\r\n\r\n" + body);
  }};
};

}  // namespace

TEST_F(EngineTest, StartWithoutFilesFallsBackToDefaultSkinAndEnglish) {
  auto w = Window();
  TCLEngine* e = w->CLEngine;
  EXPECT_EQ(GetCLEngine(), e);
  EXPECT_EQ(e->Skin(), "Default");
  EXPECT_EQ(e->Language(), "English");
  // The design's skin stays and draws the frame.
  EXPECT_FALSE(w->spSkinData->Empty());
  EXPECT_EQ(w->spSkinData->StyleSheet(), TspCompressedStoredSkin::DefaultStyleSheet());
  EXPECT_TRUE(w->spDynamicSkinForm->FrameSkinned());
  EXPECT_EQ(w->CaptionBar(), w->spDynamicSkinForm->CaptionBar());
  EXPECT_TRUE(UserFileHas("Skin=Default"));
  EXPECT_TRUE(UserFileHas("Language=English"));
  // Texts: nothing loaded, so keys give empty texts and the product name
  // comes from the settings.
  EXPECT_EQ(e->GetAppString("AppName"), "");
  EXPECT_EQ(e->GetLibStringEx("Lib.Key", {"x"}), "");
  EXPECT_EQ(e->GetAppName(), "Veilgate");
  EXPECT_EQ(e->AppTitle(), "Veilgate  1.2.3");
  EXPECT_EQ(w->windowTitle(), "Veilgate  1.2.3");
  EXPECT_EQ(e->SkinList().Count(), 1);
  EXPECT_EQ(e->LanguageList().Count(), 1);
  // Busy until the posted post-initialisation has run.
  EXPECT_EQ(e->WndProc(Msg(e->FWM_CL_IF_BUSY)), 1);
  QCoreApplication::processEvents();
  EXPECT_EQ(e->WndProc(Msg(e->FWM_CL_IF_BUSY)), 0);
}

TEST_F(EngineTest, OwnerMustBeAWindow) {
  EXPECT_THROW(TCLEngine(static_cast<TForm*>(nullptr)), std::invalid_argument);
  EXPECT_THROW(TCLEngine(static_cast<QWidget*>(nullptr), "TfrmX"), std::invalid_argument);
}

TEST_F(EngineTest, SkinSelectionLoadsFilesAndFallsBack) {
  WriteSkin("Midnight.skn", "QPushButton { color: red; }");
  WriteSkin("Dark.nsf.skn", "QPushButton { color: blue; }");
  sb().WriteFile("app/skins/Broken.skn", "this is not a skin");
  auto w = Window();
  TCLEngine* e = w->CLEngine;
  int changed = 0;
  e->OnSkinChanged = [&](TCLEngine*) { ++changed; };

  e->SetSkin("Midnight");
  EXPECT_EQ(e->Skin(), "Midnight");
  EXPECT_EQ(w->spSkinData->StyleSheet(), "QPushButton { color: red; }");
  EXPECT_EQ(w->spSkinData->CompressedStoredSkin(), nullptr);
  EXPECT_TRUE(w->spDynamicSkinForm->FrameSkinned());
  EXPECT_TRUE(w->styleSheet().contains("red"));
  EXPECT_TRUE(UserFileHas("Skin=Midnight"));
  EXPECT_EQ(changed, 1);

  // The same name again does nothing; another letter case is selected anew
  // (and finds the file whatever its case, as on Windows).
  e->SetSkin("Midnight");
  EXPECT_EQ(changed, 1);
  e->SetSkin("MIDNIGHT");
  EXPECT_EQ(changed, 2);
  EXPECT_EQ(e->Skin(), "MIDNIGHT");

  // A skin that leaves the frame to the system.
  e->SetSkin("Dark");
  EXPECT_EQ(e->Skin(), "Dark");
  EXPECT_FALSE(w->spSkinData->SkinnableForm());
  EXPECT_FALSE(w->spDynamicSkinForm->FrameSkinned());
  EXPECT_EQ(w->CaptionBar(), nullptr);

  // A missing file: the design's skin comes back.
  e->SetSkin("Gone");
  EXPECT_EQ(e->Skin(), "Default");
  EXPECT_EQ(w->spSkinData->CompressedStoredSkin(), w->spCompressedStoredSkin);
  EXPECT_EQ(w->spSkinData->StyleSheet(), TspCompressedStoredSkin::DefaultStyleSheet());
  EXPECT_TRUE(w->spSkinData->SkinnableForm());
  EXPECT_TRUE(UserFileHas("Skin=Default"));

  // A file that is not a skin counts as missing, also while the default
  // skin is selected.
  e->SetSkin("Broken");
  EXPECT_EQ(e->Skin(), "Default");
  EXPECT_EQ(w->spSkinData->StyleSheet(), TspCompressedStoredSkin::DefaultStyleSheet());
  EXPECT_EQ(changed, 5);

  e->SetSkin("");  // "Default" again: nothing happens
  EXPECT_EQ(changed, 5);
}

TEST_F(EngineTest, SkinAndLanguageListsAndMenus) {
  WriteSkin("Blue.skn", "a{}");
  WriteSkin("Blue.nsf.skn", "b{}");
  WriteSkin("Dark.nsf.skn", "c{}");
  WriteSkin("default.skn", "QLabel { color: green; }");
  std::filesystem::create_directories(sb().Path("app/skins/Folder.skn"));
  sb().WriteFile("app/lang/English.lan", kEnglish);
  sb().WriteFile("app/lang/Deutsch.lan", kGerman);

  auto* w = new TfrmEngineHost;
  std::unique_ptr<TfrmEngineHost> owner(w);
  auto* pm = new TPopupMenu(w);
  auto* miSkins = new TMenuItem(w);
  miSkins->SetName("miSkins");
  auto* miLanguages = new TMenuItem(w);
  miLanguages->SetName("miLanguages");
  pm->Items()->Add(miSkins);
  pm->Items()->Add(miLanguages);
  w->CLEngine->SetSkinMenuItem(miSkins);
  w->CLEngine->SetLanguageMenuItem(miLanguages);
  w->AfterConstruction();
  TCLEngine* e = w->CLEngine;

  const TStringList& skins = e->SkinList();
  ASSERT_EQ(skins.Count(), 4);
  EXPECT_EQ(skins[0], "Default");
  EXPECT_EQ(skins[1], "Blue");
  EXPECT_EQ(skins[2], "Blue");
  EXPECT_EQ(skins[3], "Dark");
  // "Default" is found as a file too: the skin file takes the design's place.
  EXPECT_EQ(w->spSkinData->StyleSheet(), "QLabel { color: green; }");
  const TStringList& languages = e->LanguageList();
  ASSERT_EQ(languages.Count(), 2);
  EXPECT_EQ(languages[0], "English");
  EXPECT_EQ(languages[1], "Deutsch");

  ASSERT_EQ(miSkins->Count(), 4);
  EXPECT_TRUE(miSkins->Items(0)->Checked());
  EXPECT_FALSE(miSkins->Items(3)->Checked());
  miSkins->Items(3)->Click();
  EXPECT_EQ(e->Skin(), "Dark");
  EXPECT_FALSE(miSkins->Items(0)->Checked());
  EXPECT_TRUE(miSkins->Items(3)->Checked());
  ASSERT_EQ(miLanguages->Count(), 2);
  miLanguages->Items(1)->QtAction()->trigger();
  EXPECT_EQ(e->Language(), "Deutsch");
  EXPECT_TRUE(miLanguages->Items(1)->Checked());
  EXPECT_TRUE(miLanguages->Visible());
}

TEST_F(EngineTest, MenuOfASingleNameIsHidden) {
  auto* w = new TfrmEngineHost;
  std::unique_ptr<TfrmEngineHost> owner(w);
  auto* miSkins = new TMenuItem(w);
  w->CLEngine->SetSkinMenuItem(miSkins);
  w->AfterConstruction();
  EXPECT_FALSE(miSkins->Visible());
  EXPECT_EQ(miSkins->Count(), 0);
}

TEST_F(EngineTest, LanguageSelectionAppliesTextsAndFallsBack) {
  sb().WriteFile("app/lang/English.lan", kEnglish);
  sb().WriteFile("app/lang/Deutsch.lan", kGerman);
  std::vector<std::string> events;
  auto* w = new TfrmEngineHost;
  std::unique_ptr<TfrmEngineHost> owner(w);
  TCLEngine* e = w->CLEngine;
  e->OnLanguageChanged = [&](TCLEngine*) { events.push_back("language"); };
  e->OnSkinChanged = [&](TCLEngine*) { events.push_back("skin"); };
  w->AfterConstruction();
  // No change events while loading; post-initialisation fires both.
  EXPECT_TRUE(events.empty());
  QCoreApplication::processEvents();
  EXPECT_EQ(events, (std::vector<std::string>{"language", "skin"}));
  EXPECT_EQ(e->Language(), "English");
  // The settings dialog, open over the main window, speaks the language.
  std::unique_ptr<TfrmSettings> d(CreateForm<TfrmSettings>(w));
  EXPECT_EQ(d->btnCancel->text(), "&Cancel");

  e->SetLanguage("Deutsch");
  EXPECT_EQ(e->Language(), "Deutsch");
  EXPECT_EQ(d->btnCancel->text(), "&Abbrechen");
  EXPECT_EQ(d->windowTitle(), "Einstellungen");
  EXPECT_EQ(d->btnOK->text(), "&OK");  // no entry: the design's caption stays
  EXPECT_EQ(e->GetAppName(), "Schleiertor");
  EXPECT_EQ(w->windowTitle(), "Schleiertor  1.2.3");  // the title follows the language
  EXPECT_TRUE(UserFileHas("Language=Deutsch"));
  // The skin library's built-in English captions give way to the
  // language's (message boxes speak the language), and names the table
  // lacks are added.
  TStringList& table = w->spResourceStrData->ResStrings();
  EXPECT_EQ(table.Values("MSG_BTN_YES"), "&Ja");
  EXPECT_EQ(table.Values("MSG_EXTRA"), "Extra");
  EXPECT_EQ(table.Values("MSG_BTN_NO"), "&No");  // the language has none
  EXPECT_EQ(events.size(), 3u);

  e->SetLanguage("Deutsch");
  EXPECT_EQ(events.size(), 3u);

  // The file goes; selecting it again (other letter case: selected anew)
  // falls back to the built-in texts; open windows keep what they show.
  std::filesystem::remove(sb().Path("app/lang/Deutsch.lan"));
  e->SetLanguage("deutsch");
  EXPECT_EQ(e->Language(), "English");
  EXPECT_EQ(events.size(), 4u);
  EXPECT_EQ(d->btnCancel->text(), "&Abbrechen");
  EXPECT_EQ(table.Values("MSG_BTN_YES"), "&Yes");  // the built-in text again
  EXPECT_EQ(e->GetAppString("AppName"), "");
  EXPECT_TRUE(UserFileHas("Language=English"));
}

TEST_F(EngineTest, TitleWithAndWithoutAutomaticTitle) {
  sb().WriteFile("app/lang/English.lan", kEnglish);
  auto w = Window();
  TCLEngine* e = w->CLEngine;
  int titles = 0;
  e->OnTitleChange = [&](TCLEngine*) { ++titles; };
  EXPECT_EQ(e->AppTitle(), "Veilgate  1.2.3");
  EXPECT_EQ(w->windowTitle(), "Veilgate  1.2.3");
  EXPECT_EQ(ApplicationTitle(), "Veilgate  1.2.3");
  // Qt's display name stays unset: the window system would otherwise show
  // every window's title followed by " — Veilgate  1.2.3".
  EXPECT_EQ(QGuiApplication::applicationDisplayName(), QCoreApplication::applicationName());

  e->SetTitleIncludeVer(false);
  EXPECT_EQ(e->AppTitle(), "Veilgate");
  EXPECT_EQ(w->windowTitle(), "Veilgate");
  EXPECT_EQ(titles, 1);

  // With "App.NoAutoTitle" the title is built but nothing is changed.
  e->SettingOverwrite().SetValue("App.NoAutoTitle", "1");
  e->SetTitleIncludeVer(true);
  EXPECT_EQ(e->AppTitle(), "Veilgate  1.2.3");
  EXPECT_EQ(w->windowTitle(), "Veilgate");
  EXPECT_EQ(titles, 1);
}

namespace {
struct FakeBoxes : ICLMessageBoxes {
  std::vector<TCLMessageBoxRequest> requests;
  TCLMessageBoxReply reply;
  TCLMessageBoxReply ShowMessageBox(const TCLMessageBoxRequest& r) override {
    requests.push_back(r);
    return reply;
  }
};
}  // namespace

TEST_F(EngineTest, ShowMessageExRemembersATickedBox) {
  sb().WriteFile("app/lang/English.lan", kEnglish);
  auto w = Window();
  TCLEngine* e = w->CLEngine;
  FakeBoxes boxes;
  e->SetMessageBoxes(&boxes);

  boxes.reply = {1, false};  // OK with the box ticked
  EXPECT_EQ(e->ShowMessageEx("MSGBox.Hello", {"A", "B"}, 6, 2, 4), 1);
  ASSERT_EQ(boxes.requests.size(), 1u);
  EXPECT_EQ(boxes.requests[0].Text, "Hello A and B from Veilgate");
  EXPECT_EQ(boxes.requests[0].Caption, "Veilgate");
  EXPECT_TRUE(boxes.requests[0].ShowAgainFlag);
  EXPECT_EQ(boxes.requests[0].DlgType, 2);
  EXPECT_EQ(boxes.requests[0].Buttons, 4u);
  EXPECT_FALSE(GetCLSettings()->GetMessageShowAgainFlag(6));
  EXPECT_EQ(GetCLSettings()->GetMessageShowAgainResult(6), 1);

  // From now on silent: the stored result, or the suppressed one.
  boxes.reply = {2, true};
  EXPECT_EQ(e->ShowMessageEx("MSGBox.Hello", {}, 6, 2, 4 | 8), 1);
  EXPECT_EQ(e->ShowMessageEx("MSGBox.Hello", {}, 6, 2, 4, 7), 7);
  EXPECT_EQ(boxes.requests.size(), 1u);

  // An unticked box keeps showing.
  EXPECT_EQ(e->ShowMessageEx("MSGBox.Hello", {}, 5, 3, 1 | 2), 2);
  EXPECT_EQ(e->ShowMessageEx("MSGBox.Hello", {}, 5, 3, 1 | 2), 2);
  EXPECT_EQ(boxes.requests.size(), 3u);
  EXPECT_TRUE(GetCLSettings()->GetMessageShowAgainFlag(5));

  // Without a number there is no check box and nothing is stored.
  boxes.reply = {1, false};
  e->ShowMessageEx("MSGBox.Hello");
  EXPECT_FALSE(boxes.requests.back().ShowAgainFlag);

  // Missing texts name their key.
  e->ShowMessageEx("MSGBox.Nope");
  EXPECT_EQ(boxes.requests.back().Text, "[AppRes]MSGBox.Nope");
  e->ShowMessageEx("Lib.Nope", {}, 0, 2, 4, 0, true);
  EXPECT_EQ(boxes.requests.back().Text, "[LibRes]Lib.Nope");
  e->ShowErrorMessage("Lib.Key", "42", true);
  EXPECT_EQ(boxes.requests.back().Text, "Library text 42");
  EXPECT_EQ(boxes.requests.back().DlgType, 1);
  EXPECT_EQ(boxes.requests.back().Buttons, 4u);

  // Clearing the memory brings the box back.
  GetCLSettings()->ClearShowAgainFlag();
  boxes.reply = {1, true};
  const size_t before = boxes.requests.size();
  e->ShowMessageEx("MSGBox.Hello", {}, 6);
  EXPECT_EQ(boxes.requests.size(), before + 1);
  e->SetMessageBoxes(nullptr);
}

namespace {
struct UpdateCall {
  bool modal, connecting, doUpdate, process, autoClose;
  bool operator==(const UpdateCall&) const = default;
};
std::ostream& operator<<(std::ostream& os, const UpdateCall& c) {
  return os << c.modal << c.connecting << c.doUpdate << c.process << c.autoClose;
}

struct FakeUpdateWindows {
  std::vector<UpdateCall> calls;
  std::vector<ICLUpdateWindow*> live;
  std::function<void()> onStart;
  int deleted = 0;

  struct Window : ICLUpdateWindow {
    FakeUpdateWindows* owner;
    explicit Window(FakeUpdateWindows* o) : owner(o) { owner->live.push_back(this); }
    ~Window() override {
      ++owner->deleted;
      std::erase(owner->live, this);
    }
    void StartUpdate(bool m, bool c, bool d, bool p, bool a) override {
      owner->calls.push_back({m, c, d, p, a});
      if (owner->onStart) owner->onStart();
    }
  };
  void Install(TForm* expectedOwner) {
    CLFrameworkWindows().CreateUpdateWindow = [this, expectedOwner](TForm* o) -> ICLUpdateWindow* {
      EXPECT_EQ(o, expectedOwner);
      return new Window(this);
    };
  }
  ~FakeUpdateWindows() {
    while (!live.empty()) delete live.back();
  }
};
}  // namespace

TEST_F(EngineTest, UpdateDecisionsAndArguments) {
  sb().WriteFile("app/const.dat",
                 "[setting]\r\nApp.Name=Veilgate\r\nUpdate.AutoCheck=1\r\nUpdate.AutoClose=1\r\n");
  auto w = Window();
  TCLEngine* e = w->CLEngine;
  FakeUpdateWindows fake;
  fake.Install(w.get());
  ASSERT_EQ(GetCLSettings()->RunTimes(), 0);

  // First start: never an evaluated check.
  e->AppUpdateAuto();
  ASSERT_EQ(fake.calls.size(), 1u);
  EXPECT_EQ(fake.calls.back(), (UpdateCall{false, false, false, false, true}));

  // Second start: the automatic check evaluates the result.
  ReleaseCLSettings();
  ASSERT_EQ(GetCLSettings()->RunTimes(), 1);
  e->AppUpdateAuto();
  EXPECT_EQ(fake.calls.back(), (UpdateCall{false, false, true, false, true}));
  e->SettingOverwrite().SetValue("Update.NoAutoCheck", "1");
  e->AppUpdateAuto();
  EXPECT_EQ(fake.calls.back(), (UpdateCall{false, false, false, false, true}));
  e->SettingOverwrite().Clear();
  EXPECT_EQ(fake.calls.size(), 3u);

  // Day rule: whole days since the last check below "Update.Days" skip it.
  TCLSettings* s = GetCLSettings();
  s->SetSettingFloat("Update.LastDate", platform::NowLocal() - 2.5);
  s->SetSettingInteger("Update.Days", 3);
  e->AppUpdateAuto();
  EXPECT_EQ(fake.calls.size(), 3u);
  s->SetSettingInteger("Update.Days", 2);
  e->AppUpdateAuto();
  EXPECT_EQ(fake.calls.size(), 4u);
  s->SetSettingFloat("Update.LastDate", platform::NowLocal() + 2.5);  // a clock set back
  s->SetSettingInteger("Update.Days", 3);
  e->AppUpdateAuto();
  EXPECT_EQ(fake.calls.size(), 4u);
  // A check asked for now (the service changed) runs whatever the days say,
  // as the automatic check runs.
  s->SetSettingFloat("Update.LastDate", platform::NowLocal());
  e->AppUpdateAuto(true);
  ASSERT_EQ(fake.calls.size(), 5u);
  EXPECT_EQ(fake.calls.back(), (UpdateCall{false, false, true, false, true}));

  // Post-initialisation runs the automatic check when "Update.BeginAuto",
  // once the window is on the screen: a window never shown runs it when
  // the loop next turns, not within the post-initialisation itself.
  s->SetSettingInteger("Update.Days", 0);
  e->SettingOverwrite().SetValue("Update.BeginAuto", "1");
  e->InitPost();
  EXPECT_EQ(fake.calls.size(), 5u);
  // (The window's own post-initialisation, still queued, may add its check.)
  EXPECT_TRUE(ProcessUntil([&] { return fake.calls.size() >= 6u; }));
  EXPECT_EQ(fake.calls[5], (UpdateCall{false, false, true, false, true}));
  e->SettingOverwrite().Clear();
  EXPECT_EQ(fake.deleted, 0);

  // The user's check: modal with waiting, freed afterwards.
  e->AppUpdate(true);
  EXPECT_EQ(fake.calls.back(), (UpdateCall{true, true, true, false, false}));
  EXPECT_EQ(fake.deleted, 1);
  e->AppUpdate(false);
  EXPECT_EQ(fake.calls.back(), (UpdateCall{false, true, true, false, false}));
  EXPECT_EQ(fake.deleted, 1);

  // Waiting for the first successful contact.
  fake.onStart = [] {};
  EXPECT_FALSE(e->AppWaitFirstUpdate());
  EXPECT_EQ(fake.calls.back(), (UpdateCall{true, true, false, true, false}));
  fake.onStart = [] { GetCLSettings()->SetSettingInteger("Update.Times", 1); };
  EXPECT_TRUE(e->AppWaitFirstUpdate());
  const size_t calls = fake.calls.size();
  EXPECT_TRUE(e->AppWaitFirstUpdate());  // already done: no window
  EXPECT_EQ(fake.calls.size(), calls);

  // Without the windows nothing opens and nothing breaks.
  CLFrameworkWindows() = TCLFrameworkWindows{};
  e->AppUpdate(true);
  GetCLSettings()->SetSettingInteger("Update.Times", 0);
  EXPECT_FALSE(e->AppWaitFirstUpdate());
}

namespace {
class FakeAbout : public QObject, public ICLAboutWindow {
 public:
  bool showing = false;
  WId parent = 0;
  int shown = 0;
  bool Showing() const override { return showing; }
  void SetParentWindow(WId p) override { parent = p; }
  int ShowModal() override {
    ++shown;
    return 1;
  }
};
}  // namespace

TEST_F(EngineTest, AboutWindowIsCreatedOnceAndReused) {
  auto w = Window();
  TCLEngine* e = w->CLEngine;
  int created = 0;
  QPointer<FakeAbout> about;
  CLFrameworkWindows().CreateAboutWindow = [&](TForm* o) -> ICLAboutWindow* {
    ++created;
    about = new FakeAbout;
    about->setParent(o);
    return about.data();
  };
  e->AppAbout();
  e->AppAbout();
  ASSERT_TRUE(about);
  EXPECT_EQ(created, 1);
  EXPECT_EQ(about->shown, 2);
  EXPECT_EQ(about->parent, 0u);
  about->showing = true;
  e->AppAbout();
  EXPECT_EQ(about->shown, 2);
  about->showing = false;
  e->SetParentHWND(0x1234);
  e->AppAbout();
  EXPECT_EQ(about->parent, 0x1234u);
  // A window that went with its owner is created anew.
  delete about.data();
  e->AppAbout();
  EXPECT_EQ(created, 2);
}

TEST_F(EngineTest, SessionEndsForFiveMinutesAfterTheQuery) {
  auto w = Window();
  TCLEngine* e = w->CLEngine;
  uint32_t now = 1000;
  TCLEngine::TickCount() = [&] { return now; };
  EXPECT_FALSE(e->SessionEnding());  // no query yet, even right after boot
  EXPECT_EQ(e->WndProc(Msg(WM_QUERYENDSESSION_MSG)), 1);
  EXPECT_TRUE(e->SessionEnding());
  now = 1000 + 299999;
  EXPECT_TRUE(e->SessionEnding());
  now = 1000 + 300000;
  EXPECT_FALSE(e->SessionEnding());
  // The tick count wraps around after 49.7 days.
  now = 0xFFFFFF00u;
  e->WndProc(Msg(WM_QUERYENDSESSION_MSG));
  now = 0x100;
  EXPECT_TRUE(e->SessionEnding());
}

TEST_F(EngineTest, BringToFrontRestoresFromTheTrayThroughTheSkinForm) {
  auto w = Window();
  TCLEngine* e = w->CLEngine;
  w->hide();
  EXPECT_EQ(e->WndProc(Msg(e->FWM_CL_BRING_TO_FRONT)), 0);
  EXPECT_FALSE(w->isVisible());
  auto* tray = new TspTrayIcon(w.get());
  w->spDynamicSkinForm->SetTrayIcon(tray);
  EXPECT_EQ(e->WndProc(Msg(e->FWM_CL_BRING_TO_FRONT)), 1);
  EXPECT_TRUE(w->isVisible());
}

// A second start asks whether the window takes an activation token before
// sending it; the window keeps only a plausible token, for one activation,
// and a token never becomes a command parameter.
TEST_F(EngineTest, ActivationTokenOfASecondStartIsKeptForOneActivation) {
  auto w = Window();
  TCLEngine* e = w->CLEngine;
  std::vector<std::string> params;
  e->OnCmdFile = [&params](const std::string& p) { params.push_back(p); };
  EXPECT_EQ(e->WndProc(Msg(e->FWM_CL_ACTIVATION_TOKEN)), 1);
  EXPECT_NE(e->FWM_CL_ACTIVATION_TOKEN, e->FWM_CL_BRING_TO_FRONT);

  auto token = [](const std::string& text) {
    platform::InstanceMessage m;
    m.msg = platform::WM_COPYDATA_MSG;
    m.isCopyData = true;
    m.dwData = CLConst::ActivationTokenData;
    m.data = text;
    return m;
  };
  struct Case {
    std::string text;
    bool kept;
  };
  const Case cases[] = {
      {"gnome-shell/Veilgate/2281-5-host_TIME123", true},
      {"0b0c4e5e-9c4e-4f7d-a2d9-6d3c1c1f7a10", true},
      {"", false},
      {"with space", false},
      {std::string("nul\0inside", 11), false},
      {"line\nbreak", false},
      {std::string(5000, 'a'), false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(e->WndProc(token(c.text)), c.kept ? 1 : 0) << c.text.substr(0, 40);
    EXPECT_EQ(e->ActivationToken(), c.kept ? c.text : std::string()) << c.text.substr(0, 40);
  }
  ProcessPosted();
  EXPECT_TRUE(params.empty());

  // Used by the next bring-to-front, then gone.
  ASSERT_EQ(e->WndProc(token("token-1")), 1);
  w->hide();
  auto* tray = new TspTrayIcon(w.get());
  w->spDynamicSkinForm->SetTrayIcon(tray);
  EXPECT_EQ(e->WndProc(Msg(e->FWM_CL_BRING_TO_FRONT)), 1);
  EXPECT_TRUE(w->isVisible());
  EXPECT_EQ(e->ActivationToken(), "");
  // The foreground request of a window system without a tray uses it too.
  ASSERT_EQ(e->WndProc(token("token-2")), 1);
  e->WndProc(Msg(e->FWM_CL_FORCE_FOREGROUND));
  EXPECT_EQ(e->ActivationToken(), "");

  // Copy-data without the mark is still a command parameter.
  platform::InstanceMessage plain = token("");
  plain.dwData = 0;
  plain.data = std::string("p\0a\0r\0", 6);
  e->WndProc(plain);
  ASSERT_TRUE(Until([&] { return !params.empty(); }));
  EXPECT_EQ(params, std::vector<std::string>{"par"});
  EXPECT_EQ(e->ActivationToken(), "");
}

TEST_F(EngineTest, DownloadToCacheFetchesEachAddressOnce) {
  auto w = Window();
  TCLEngine* e = w->CLEngine;
  TCLQtDispatcher dispatcher;
  TinyHttpServer server;
  const std::string base = server.Base();

  std::vector<std::string> done;
  auto onDone = [&](TSingleDownloader*, const std::string& file, int64_t) { done.push_back(file); };
  const std::string flag = sb().Path("cache/flags/US.png");
  e->DownloadtoCache(base + "/us.png", flag, onDone);
  e->DownloadtoCache(base + "/US.PNG", flag, onDone);  // the same address in other case
  EXPECT_TRUE(ProcessUntil([&] { return !done.empty(); }));
  EXPECT_EQ(done, std::vector<std::string>{flag});
  EXPECT_EQ(sb().ReadFile("cache/flags/US.png"), "PNG:us");
  e->DownloadtoCache(base + "/us.png", flag, onDone);  // also after it finished
  EXPECT_EQ(server.Hits(), 1);

  // A cancelled download goes on but its end is not reported, and the
  // address is still not fetched again.
  const std::string slow = sb().Path("cache/slow.png");
  e->DownloadtoCache(base + "/slow.png", slow, onDone);
  e->DownloadtoCacheCancel(base + "/SLOW.png");
  EXPECT_TRUE(ProcessUntil([&] { return platform::FileExists(slow); }));
  QCoreApplication::processEvents();
  EXPECT_EQ(done.size(), 1u);
  e->DownloadtoCache(base + "/slow.png", slow, onDone);
  EXPECT_EQ(server.Hits(), 2);
  EXPECT_EQ(e->DownloadCacheList().Count(), 2);
}

TEST_F(EngineTest, DownloadToCacheKeepsNoCutShortCopy) {
  auto w = Window();
  TCLEngine* e = w->CLEngine;
  TCLQtDispatcher dispatcher;
  TinyHttpServer server;
  // An older copy is in the cache; the new transfer is cut short. The cache
  // must not hold the cut copy (it would be shown as the page next time).
  sb().WriteFile("cache/page.png", "older copy");
  bool reported = false;
  e->DownloadtoCache(server.Base() + "/cut.png", sb().Path("cache/page.png"),
                     [&](TSingleDownloader*, const std::string&, int64_t) { reported = true; });
  EXPECT_TRUE(ProcessUntil([&] { return !platform::FileExists(sb().Path("cache/page.png")); }));
  EXPECT_FALSE(reported);
  EXPECT_EQ(server.Hits(), 1);
}

namespace {
// A framework window: its skin frame and translator take the engine's data.
class TfrmCLDialog : public TForm {
 public:
  explicit TfrmCLDialog(TspSkinData* ownSkin) {
    SetName("frmCLDialog");
    SetCaption("Dialog");
    lblText = new TLabel(this);
    lblText->SetName("lblText");
    lblText->SetCaption("Design text");
    Lang = new TCLMultiLang(this);
    Lang->SetName("CLMultiLang");
    SkinForm = new TspDynamicSkinForm(this);
    SkinForm->SetName("spDynamicSkinForm");
    Message = new TspSkinMessage(this);
    Message->SetName("spSkinMessage");
    Message->SetSkinData(ownSkin);
    Form = new TCLForm(this);
    Form->SetName("CLForm");
    Form->SetRuntimeSetSkinData(true);
    Form->SetRuntimeSetLanguageData(true);
    Form->SetRunTimeSetFormProperties(true);
  }
  std::string ClassName() const override { return "TfrmCLDialog"; }
  TLabel* lblText;
  TCLMultiLang* Lang;
  TspDynamicSkinForm* SkinForm;
  TspSkinMessage* Message;
  TCLForm* Form;
};
}  // namespace

TEST_F(EngineTest, FormComponentHandsOverSkinAndLanguageData) {
  sb().WriteFile("app/lang/English.lan", "[TfrmCLDialog]\r\nlblText.Caption=Translated\r\n");
  auto main = Window();
  TspSkinData own(nullptr);
  std::unique_ptr<TfrmCLDialog> dlg(CreateForm<TfrmCLDialog>(&own));
  EXPECT_EQ(dlg->SkinForm->SkinData(), main->spSkinData);
  EXPECT_EQ(dlg->Message->SkinData(), &own);  // an assigned skin stays
  EXPECT_EQ(dlg->Lang->LanguageData(), main->CLMultiLangData);
  const auto& clients = main->CLMultiLangData->Clients();
  EXPECT_NE(std::find(clients.begin(), clients.end(), dlg->Lang), clients.end());
  // Attaching does not apply; the next application does.
  EXPECT_EQ(dlg->lblText->Caption(), "Design text");
  main->CLMultiLangData->ApplyClients();
  EXPECT_EQ(dlg->lblText->Caption(), "Translated");
  EXPECT_EQ(dlg->Position(), TPosition::poMainFormCenter);
  EXPECT_FALSE(dlg->Scaled());
  EXPECT_FALSE(dlg->AutoScroll());
  // The dialog goes first: the translator leaves the client list.
  dlg.reset();
  EXPECT_EQ(std::find(clients.begin(), clients.end(), nullptr), clients.end());
  EXPECT_EQ(main->CLMultiLangData->Clients().size(), 1u);
}

TEST_F(EngineTest, EmbeddedViewsHandOverOnlyWcmeLinks) {
  auto w = Window();
  TCLEngine* e = w->CLEngine;
  bool cancel = false;
  e->WebBeforeNavigate2("https://example.org/map", cancel);
  EXPECT_FALSE(cancel);
  e->WebBeforeNavigate2("WCME:?SOMETHING=1", cancel);  // no page: nothing opens
  EXPECT_TRUE(cancel);
  e->SettingOverwrite().SetValue("URL.Home", "file:///home.html");
  EXPECT_EQ(e->GetURL("Home", true), "file:///home.html");  // only http addresses get the block
}
