// The update window against the reference service on loopback (and, for
// answers the service would never give, against a scripted server): the
// three ways the engine opens it, the answer rules, the settings it
// writes, the countdown, the buttons and keys, and bad answers.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEvent>
#include <QImage>

#include <sys/stat.h>

#include <functional>
#include <map>
#include <utility>
#include <memory>
#include <string>
#include <vector>

#include "FrameworkWindowsSupport.h"
#include "framework/CLServiceSettings.h"
#include "framework/qt/CLEngine.h"
#include "framework/qt/windows/CLUpdateForm.h"
#include "support/NetTestServers.h"
#include "net/SingleDownloader.h"
#include "proxy/ServiceProcess.h"
#include "platform/Process.h"
#include "switch/uVGUtils.h"

namespace {

// Runs the action once, on the first update window the moment it is shown.
class TShownWatcher : public QObject {
 public:
  explicit TShownWatcher(std::function<void(TfrmCLUpdateForm*)> action)
      : FAction(std::move(action)) {
    QCoreApplication::instance()->installEventFilter(this);
  }
  ~TShownWatcher() override { QCoreApplication::instance()->removeEventFilter(this); }
  bool eventFilter(QObject* object, QEvent* event) override {
    if (event->type() == QEvent::Show && FAction)
      if (auto* w = dynamic_cast<TfrmCLUpdateForm*>(object)) std::exchange(FAction, nullptr)(w);
    return false;
  }

 private:
  std::function<void(TfrmCLUpdateForm*)> FAction;
};

using proxytest::TServiceProcess;

const char* const kLists =
    "[normal]\n127.0.0.1:8888|United States|US|-97|38\n127.0.0.1:8889|Germany|DE|9|51\n"
    "[super]\n127.0.0.1:8890|Japan|JP|138|36\n";
const char* const kNormalIps =
    "127.0.0.1:8888|United States|US|-97|38;127.0.0.1:8889|Germany|DE|9|51";

std::string ServiceConf(const std::string& update, const std::string& extra = "") {
  return "[service]\nlisten = 127.0.0.1\nport = 0\nmagicword = WORD-1\ncheck_magicword = 1\n"
         "[update]\n" +
         update + extra + kLists;
}

class UpdateFormTest : public FrameworkWindowsTest {
 protected:
  void TearDown() override {
    TfrmCLUpdateForm::Clock() = [] { return platform::NowLocal(); };
    FrameworkWindowsTest::TearDown();
    FService.reset();
    FServer.reset();
  }
  // Starts the reference service and points "URL.Update" at it.
  void Serve(const std::string& conf, const std::vector<std::string>& settings = {},
             const std::string& word = "WORD-1") {
    sb().WriteFile("svc/update.conf", conf);
    FService = std::make_unique<TServiceProcess>(VG_SERVICE_EXE, sb().Path("svc/update.conf"));
    ASSERT_TRUE(FService->Running()) << "the reference service did not start";
    Use(FService->URL("/update"), settings, word);
  }
  // A scripted server whose every answer is body.
  void ServeBody(const std::string& body, const std::vector<std::string>& settings = {}) {
    FServer = std::make_unique<nettest::TestHttpServer>(
        [body](const nettest::Request&, nettest::Connection& c) {
          c.Write(nettest::Response(200, body));
        });
    Use(FServer->Base() + "/update", settings, "WORD-1");
  }
  void Use(const std::string& url, const std::vector<std::string>& settings,
           const std::string& word) {
    std::vector<std::string> lines = {"App.MagicWord=" + word, "URL.Update=" + url, "RunTimes=3",
                                      "Update.AutoCheck=1"};
    lines.insert(lines.end(), settings.begin(), settings.end());
    WriteConst(lines);
  }
  std::vector<TfrmCLUpdateForm*> UpdateWindows() {
    std::vector<TfrmCLUpdateForm*> out;
    for (int i = 0; i < Main()->ComponentCount(); ++i)
      if (auto* w = dynamic_cast<TfrmCLUpdateForm*>(Main()->Components(i))) out.push_back(w);
    return out;
  }
  static int Times() { return GetCLSettings()->GetSettingInteger("Update.Times"); }
  static std::string Setting(const std::string& name) {
    return GetCLSettings()->GetSettingString(name);
  }
  std::string Lib(const std::string& key) { return Engine()->GetLibString(key); }
  // Runs a scheduled check and waits until its answer has been handled.
  TfrmCLUpdateForm* ScheduledCheck() {
    Engine()->AppUpdateAuto();
    auto windows = UpdateWindows();
    if (windows.size() != 1) return nullptr;
    TfrmCLUpdateForm* w = windows[0];
    EXPECT_TRUE(ProcessUntil([&] { return !w->Updating(); }, 10000));
    QCoreApplication::processEvents();  // the posted result message
    return w;
  }

  std::unique_ptr<TServiceProcess> FService;
  std::unique_ptr<nettest::TestHttpServer> FServer;
};

// What a modal update window showed when its result arrived.
struct TShown {
  bool seen = false;
  std::string info;
  bool okCancel = false, okOnly = false, cancelVisible = false;
};

// Waits inside the modal run of the next update window until its result is
// shown, records it and presses the single OK button.
void AnswerModalWithOk(TShown& shown) {
  WhenModal([&shown](QWidget* m) {
    auto* w = dynamic_cast<TfrmCLUpdateForm*>(m);
    if (!w) return;
    ProcessUntil([&] { return w->btnOK2->isEnabled() || w->btnOK->isEnabled(); }, 10000);
    shown.seen = true;
    shown.info = w->lbInfo->Caption();
    shown.okCancel = w->pnOkCancel->Visible();
    shown.okOnly = w->pnOK->Visible();
    shown.cancelVisible = w->btnCancel->Visible();
    w->btnOK2->click();
  });
}

// Runs a check the user asked for, waits for its window's result and says
// what it showed.
TShown VisibleCheck(TCLEngine* engine) {
  TShown shown;
  AnswerModalWithOk(shown);
  engine->AppUpdate(true);
  return shown;
}

}  // namespace

TEST_F(UpdateFormTest, ScheduledCheckWithNewVersionShowsInfoAndOpensThePage) {
  Serve(
      ServiceConf("Result = 1\ninfo = Veilgate 3.0 is out\npage = http://{service}/page/download\n",
                  "[banner]\nBanner.Top.URL = http://{service}/page/banner\n"));
  TfrmCLUpdateForm* w = ScheduledCheck();
  ASSERT_NE(w, nullptr);
  ASSERT_TRUE(ProcessUntil([&] { return w->isVisible(); }));
  EXPECT_EQ(w->lbInfo->Caption(), "Veilgate 3.0 is out");
  EXPECT_TRUE(w->pnOkCancel->Visible());
  EXPECT_FALSE(w->pnOK->Visible());
  EXPECT_TRUE(w->btnOK->isEnabled());
  EXPECT_TRUE(w->btnCancel->Visible());
  EXPECT_FALSE(w->lblTimer->Visible());  // no auto-close unless "Update.AutoClose"
  // The accepted answer was applied in full.
  EXPECT_EQ(Times(), 1);
  EXPECT_GT(GetCLSettings()->GetSettingFloat("Update.LastDate"), 40000.0);
  EXPECT_EQ(Setting("NORMAL_IPS"), kNormalIps);
  EXPECT_EQ(Setting("Banner.Top.URL"), FService->URL("/page/banner"));

  w->cbAutoCheckUpdate->SetChecked(false);
  w->btnOK->click();
  EXPECT_EQ(Opened(1), std::vector<std::string>{FService->URL("/page/download")});
  EXPECT_FALSE(w->isVisible());
  EXPECT_EQ(Setting("Update.AutoCheck"), "0");  // OK saves the box
}

TEST_F(UpdateFormTest, UpToDateClosesQuietlyWhenScheduledAndSaysSoWhenAsked) {
  Serve(ServiceConf("Result = 0\ninfo = unused\n"));
  TfrmCLUpdateForm* w = ScheduledCheck();
  ASSERT_NE(w, nullptr);
  ASSERT_TRUE(ProcessPosted());
  EXPECT_FALSE(w->isVisible());
  EXPECT_EQ(w->Info(), "");
  EXPECT_EQ(Times(), 1);

  // The user's own check shows the last-version text with one OK button,
  // and the engine frees that window afterwards.
  const TShown shown = VisibleCheck(Engine());
  ASSERT_TRUE(shown.seen);
  EXPECT_EQ(shown.info, "You are already using the latest version of Veilgate.");
  EXPECT_TRUE(shown.okOnly);
  EXPECT_FALSE(shown.okCancel);
  EXPECT_FALSE(shown.cancelVisible);
  EXPECT_EQ(Times(), 2);
  EXPECT_EQ(UpdateWindows().size(), 1u);
  EXPECT_TRUE(Opened().empty());
}

TEST_F(UpdateFormTest, FirstContactRunsCompactAndAnswersFromTheCount) {
  Serve(ServiceConf("Result = 1\ninfo = not shown in compact mode\npage = http://{service}/x\n"));
  bool compact = false, frameless = false, infoHidden = false;
  int height = 0, stripHeight = -1;
  // Looked at the moment it is shown: on loopback the compact window may
  // open and close between two polls of a timer.
  TShownWatcher watcher([&](TfrmCLUpdateForm* w) {
    compact = w->ProcessMode() && w->pnProcess->Visible();
    infoHidden = !w->pnInfo->Visible() && !w->pnOK->Visible() && !w->pnLogo->Visible();
    frameless = (w->windowFlags() & Qt::FramelessWindowHint) != 0;
    height = w->ClientHeight();
    stripHeight = w->pnProcess->height();
  });
  EXPECT_TRUE(Engine()->AppWaitFirstUpdate());  // returns when the window closed itself
  EXPECT_TRUE(compact);
  EXPECT_TRUE(infoHidden);
  EXPECT_TRUE(frameless);
  EXPECT_EQ(height, stripHeight);  // the window is only the progress strip
  EXPECT_LT(height, 100);
  EXPECT_EQ(Times(), 1);
  EXPECT_EQ(Setting("NORMAL_IPS"), kNormalIps);
  EXPECT_TRUE(Opened().empty());
  // Once the count is above 0 the answer is immediate, without a window.
  EXPECT_TRUE(Engine()->AppWaitFirstUpdate());
  EXPECT_TRUE(UpdateWindows().empty());
}

TEST_F(UpdateFormTest, FirstContactWithTheServiceDownAnswersFalse) {
  Serve(ServiceConf("Result = 0\n"));
  FService->Stop();
  EXPECT_FALSE(Engine()->AppWaitFirstUpdate());
  EXPECT_EQ(Times(), 0);
  EXPECT_EQ(Setting("NORMAL_IPS"), "");
  // A failed request is not an answer: the date of the last answer stays.
  EXPECT_EQ(Setting("Update.LastDate"), "");
  EXPECT_TRUE(UpdateWindows().empty());
}

TEST_F(UpdateFormTest, WrongMagicWordRejectsTheWholeAnswerButDatesIt) {
  Serve(ServiceConf("Result = 1\ninfo = must not show\npage = http://{service}/x\n",
                    "[settings]\nURL.Extra = http://{service}/extra\n"),
        {}, "ANOTHER-WORD");
  TfrmCLUpdateForm::Clock() = [] { return 46000.5; };
  const TShown shown = VisibleCheck(Engine());
  ASSERT_TRUE(shown.seen);
  EXPECT_EQ(shown.info, Lib("Update.NetError"));
  EXPECT_TRUE(shown.okOnly);
  EXPECT_EQ(Setting("NORMAL_IPS"), "");
  EXPECT_EQ(Setting("URL.Extra"), "");
  EXPECT_EQ(Times(), 0);
  EXPECT_DOUBLE_EQ(GetCLSettings()->GetSettingFloat("Update.LastDate"), 46000.5);
  EXPECT_TRUE(Opened().empty());
}

TEST_F(UpdateFormTest, AcceptedSettingsReachTheSettingsFileInOneBatch) {
  Serve(ServiceConf("Result = 0\n", "[settings]\nSUPER_TOUCH = http://{service}/touch?ip={1}\n"));
  ASSERT_NE(ScheduledCheck(), nullptr);
  ASSERT_EQ(Times(), 1);
  const std::string file = UserFile();
  EXPECT_NE(file.find("NORMAL_IPS=" + std::string(kNormalIps)), std::string::npos);
  EXPECT_NE(file.find("Update.Times=1"), std::string::npos);
  // A fresh store reads the same values back from disk.
  ReleaseCLSettings();
  EXPECT_EQ(Setting("NORMAL_IPS"), kNormalIps);
  EXPECT_EQ(Setting("SUPER_IPS"), "127.0.0.1:8890|Japan|JP|138|36");
  EXPECT_EQ(Setting("SUPER_TOUCH"), FService->URL("/touch?ip={1}"));
  EXPECT_EQ(Times(), 1);
}

TEST_F(UpdateFormTest, CountdownOfTwoSecondsCountsFiveToOne) {
  Serve(ServiceConf("Result = 1\ninfo = New\npage = http://{service}/p\n"),
        {"Update.DelaySeconds=2", "Update.AutoClose=1"});
  double now = 45000.0;
  TfrmCLUpdateForm::Clock() = [&now] { return now; };
  TfrmCLUpdateForm* w = ScheduledCheck();
  ASSERT_NE(w, nullptr);
  ASSERT_TRUE(ProcessUntil([&] { return w->isVisible(); }));
  EXPECT_EQ(w->DelaySeconds(), 5);  // below 5 is raised to 5
  std::vector<std::string> shown;
  for (int second = 0; second < 5; ++second) {
    now = 45000.0 + second / 86400.0;
    const std::string expected =
        "This window will close in " + std::to_string(5 - second) + " sec(s)...";
    // The 200 ms timer picks the time up by itself.
    EXPECT_TRUE(ProcessUntil([&] { return w->lblTimer->Caption() == expected; }, 2000)) << expected;
    EXPECT_TRUE(w->lblTimer->Visible());
    EXPECT_TRUE(w->isVisible());
    shown.push_back(w->lblTimer->Caption());
  }
  EXPECT_EQ(shown.size(), 5u);
  now = 45000.0 + 5 / 86400.0;
  EXPECT_TRUE(ProcessUntil([&] { return !w->isVisible(); }, 2000));
  EXPECT_TRUE(Opened().empty());  // closing by the countdown opens nothing
}

TEST_F(UpdateFormTest, CheckBoxIsSavedOnlyByTheOkButtonsAndNeverWhenHidden) {
  Serve(ServiceConf("Result = 1\ninfo = New\npage = http://{service}/p\n"));
  TfrmCLUpdateForm* w = ScheduledCheck();
  ASSERT_NE(w, nullptr);
  ASSERT_TRUE(ProcessUntil([&] { return w->isVisible(); }));
  EXPECT_TRUE(w->cbAutoCheckUpdate->Checked());  // from "Update.AutoCheck"
  w->cbAutoCheckUpdate->SetChecked(false);
  w->btnCancel->click();  // closes without saving or opening
  EXPECT_FALSE(w->isVisible());
  EXPECT_EQ(UserFile().find("Update.AutoCheck"), std::string::npos);
  EXPECT_TRUE(Opened().empty());

  // With "Update.NoAutoCheck" the box is hidden and its state never saved.
  ReleaseCLSettings();
  Use(FService->URL("/update"), {"Update.NoAutoCheck=1"}, "WORD-1");
  TfrmCLUpdateForm* hidden = TfrmCLUpdateForm::Create(Main());
  EXPECT_FALSE(hidden->cbAutoCheckUpdate->Visible());
  hidden->StartUpdate(false, true, true, false, false);
  ASSERT_TRUE(ProcessUntil([&] { return hidden->btnOK->isEnabled(); }, 10000));
  hidden->cbAutoCheckUpdate->SetChecked(false);
  hidden->btnOK->click();
  EXPECT_EQ(UserFile().find("Update.AutoCheck"), std::string::npos);
  EXPECT_EQ(Opened(1).size(), 1u);
}

TEST_F(UpdateFormTest, EscapeAbortsAHangingRequestAndEndsTheModalRun) {
  nettest::SilentListener silent;
  Use("http://127.0.0.1:" + std::to_string(silent.Port()) + "/update", {}, "WORD-1");
  bool connecting = false, abortedOnEscape = false;
  WhenModal([&](QWidget* m) {
    auto* w = dynamic_cast<TfrmCLUpdateForm*>(m);
    if (!w) return;
    ProcessUntil([&] { return silent.HasCaller(0); }, 30000);
    connecting = w->Updating() && w->Downloader()->Busy() &&
                 w->lbInfo->Caption() == Engine()->GetLibString("Update.Connecting");
    PressKey(w, Qt::Key_Escape);
    // The key itself ended the request, not its time limit later on.
    abortedOnEscape = !w->Downloader()->Busy();
  });
  Engine()->AppUpdate(true);
  EXPECT_TRUE(connecting);
  EXPECT_TRUE(abortedOnEscape);
  EXPECT_EQ(Times(), 0);

  // A window that is not modal closes on Escape as well: nothing would be
  // left to wait for and no button to leave by.
  TfrmCLUpdateForm* w = TfrmCLUpdateForm::Create(Main());
  w->StartUpdate(false, true, true, false, false);
  ASSERT_TRUE(w->isVisible());
  PressKey(w, Qt::Key_Escape);
  EXPECT_FALSE(w->isVisible());
  EXPECT_FALSE(w->Downloader()->Busy());
}

TEST_F(UpdateFormTest, RequestErrorShowsTheNetworkTextOnlyToAVisibleWindow) {
  Use("http://127.0.0.1:" + std::to_string(nettest::FreePort()) + "/update", {}, "WORD-1");
  const TShown shown = VisibleCheck(Engine());
  ASSERT_TRUE(shown.seen);
  EXPECT_EQ(shown.info, Lib("Update.NetError"));
  EXPECT_TRUE(shown.okOnly);
  // A silent check closes without a word; nothing is written.
  TfrmCLUpdateForm* w = ScheduledCheck();
  ASSERT_NE(w, nullptr);
  ASSERT_TRUE(ProcessPosted());
  EXPECT_FALSE(w->isVisible());
  EXPECT_EQ(Setting("Update.LastDate"), "");
  EXPECT_EQ(Times(), 0);
}

TEST_F(UpdateFormTest, LogoPictureSetsTheWindowSize) {
  WriteConst({});
  Main();
  {
    std::unique_ptr<TfrmCLUpdateForm> w(TfrmCLUpdateForm::Create(Main()));
    EXPECT_FALSE(w->pnLogo->Visible());
    EXPECT_EQ(w->ClientWidth(), 373);
    EXPECT_EQ(w->ClientHeight(), 325 - 65);
    EXPECT_EQ(w->Caption(), "Veilgate Update");  // "LibRes" texts
    EXPECT_EQ(w->lbInfo->Caption(), "Connecting...");
    EXPECT_FALSE(w->pnOkCancel->Visible());
  }
  platform::ForceDirectories(sb().Path("app/res/images"));
  QImage picture(400, 80, QImage::Format_RGB32);
  picture.fill(Qt::darkBlue);
  ASSERT_TRUE(picture.save(QString::fromStdString(sb().Path("app/res/images/update.png"))));
  {
    std::unique_ptr<TfrmCLUpdateForm> w(TfrmCLUpdateForm::Create(Main()));
    EXPECT_TRUE(w->pnLogo->Visible());
    EXPECT_EQ(w->ClientWidth(), 400);
    EXPECT_EQ(w->ClientHeight(), 80 + 325 - 65);
    EXPECT_EQ(w->pnLogo->height(), 80);
  }
  // A file that is not a picture counts as no picture.
  sb().WriteFile("app/res/images/update.png", "not a picture");
  {
    std::unique_ptr<TfrmCLUpdateForm> w(TfrmCLUpdateForm::Create(Main()));
    EXPECT_FALSE(w->pnLogo->Visible());
    EXPECT_EQ(w->ClientHeight(), 325 - 65);
  }
}

// --- answers the reference service would never give ----------------------------------

TEST_F(UpdateFormTest, HugeAnswerIsHandledAndOnlyItsRulesApply) {
  std::string body = "magicword=word-1\r\n";
  const std::string junk(1000, 'x');
  while (body.size() < 5 * 1024 * 1024) body += junk + "\r\n";
  body += "__MODIFY__.NORMAL_IPS=1.2.3.4:80|Here|HR|1|2\r\nResult=0\r\n";
  ServeBody(body);
  ASSERT_NE(ScheduledCheck(), nullptr);
  EXPECT_EQ(Times(), 1);
  EXPECT_EQ(Setting("NORMAL_IPS"), "1.2.3.4:80|Here|HR|1|2");
  EXPECT_LT(UserFile().size(), 10000u);  // no junk line became a setting
}

TEST_F(UpdateFormTest, JunkAnswerIsRejectedAndCountsNothing) {
  ServeBody("<html><body>Proxy error</body></html>\r\n===\r\n\x01\x02\x03\r\n=value\r\n");
  TfrmCLUpdateForm* w = ScheduledCheck();
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(Times(), 0);
  EXPECT_FALSE(Setting("Update.LastDate").empty());
  const std::string file = UserFile();
  EXPECT_EQ(file.find("Proxy"), std::string::npos);
  EXPECT_EQ(file.find("value"), std::string::npos);
}

TEST_F(UpdateFormTest, PushedSettingsThatTheFileCannotHoldAreLeftOut) {
  std::string body =
      "magicword=WORD-1\r\n"
      "__MODIFY__.=empty name\r\n"
      "__MODIFY__.[evil=section]\r\n"
      "__MODIFY__.;comment=1\r\n"
      "__MODIFY__. padded=1\r\n"
      "__MODIFY__.Banner.Good=kept\r\n"
      "banner.Side.URL=http://example.org/side\r\n";
  body += std::string("__MODIFY__.NUL") + '\0' + "NAME=1\r\n";
  body += std::string("__MODIFY__.NULVALUE=a") + '\0' + "b\r\n";
  body += "__MODIFY__.Banner.After=also kept\r\n";
  ServeBody(body, {"NORMAL_IPS=supplied"});
  ASSERT_NE(ScheduledCheck(), nullptr);
  EXPECT_EQ(Times(), 1);
  // Read back from disk: the good lines are there, the file's structure
  // is intact (no section or comment came from the answer).
  ReleaseCLSettings();
  EXPECT_EQ(Setting("Banner.Good"), "kept");
  EXPECT_EQ(Setting("Banner.After"), "also kept");
  EXPECT_EQ(Setting("banner.Side.URL"), "http://example.org/side");
  EXPECT_EQ(Setting("NORMAL_IPS"), "supplied");
  EXPECT_EQ(Times(), 1);
  const std::string file = UserFile();
  EXPECT_EQ(file.find("evil"), std::string::npos);
  EXPECT_EQ(file.find("comment"), std::string::npos);
  EXPECT_EQ(file.find("padded"), std::string::npos);
  EXPECT_EQ(file.find("empty name"), std::string::npos);
  EXPECT_EQ(file.find("NULVALUE"), std::string::npos);
  EXPECT_EQ(file.find('\0'), std::string::npos);
  EXPECT_EQ(file.find("[setting]"), file.rfind("[setting]"));  // one settings section
}

TEST_F(UpdateFormTest, MagicWordWithANulCharacterIsRejected) {
  ServeBody(std::string("magicword=WORD-1") + '\0' + "\r\n__MODIFY__.Banner.Good=1\r\n");
  ASSERT_NE(ScheduledCheck(), nullptr);
  EXPECT_EQ(Times(), 0);
  EXPECT_EQ(Setting("Banner.Good"), "");
}

// --- the update channel as a trust boundary -------------------------------------------

// Whoever answers the update request (the service, or anybody between the
// program and the service) writes only the settings the service owns.
class SecurityUpdateChannel : public UpdateFormTest {
 protected:
  void TearDown() override {
    platform::SetProcessStartObserver(nullptr);
    UpdateFormTest::TearDown();
  }
  // A program for a pushed "FireFoxPath".
  std::string EvilProgram() {
    sb().WriteFile("evil/firefox", "#!/bin/sh\nexit 0\n");
    ::chmod(sb().Path("evil/firefox").c_str(), 0755);
    return sb().Path("evil/firefox");
  }
};

TEST_F(SecurityUpdateChannel, HostileAnswerChangesNoLocalSettingAndTheNextHideStartsNothing) {
  const std::string evil = EvilProgram();
  // Each setting that names a program, a file or a folder, the user's own
  // choices and the program's bookkeeping, with a value an attacker wants.
  // clang-format off
  const std::vector<std::pair<std::string, std::string>> refused = {
      {"FireFoxPath", evil}, {"Language", "Deutsch"}, {"Language.Force", "Deutsch"},
      {"Skin", "../../evil"}, {"Path.Languages", "/tmp"}, {"Path.Skins", "/tmp"},
      {"SWITCH.IE", "0"}, {"SWITCH.FF", "1"}, {"SWITCH.OPERA", "0"}, {"ChangeIP", "1"},
      {"ChangeIPTime", "1"}, {"ClearCookie", "1"}, {"AutoRun", "1"}, {"AlwaysOnTop", "1"},
      {"TestIPfromLocal", "1"}, {"TARGET_COUNTRY", "CN"}, {"App.Name", "../../.bashrc"},
      {"App.GUID", "{evil}"}, {"App.MagicWord", "EVIL"}, {"App.RegPath", "Evil"},
      {"App.Autorun", "1"}, {"App.PID", "evil"}, {"App.Multiple", "1"},
      {"Setting.NoAllUser", "0"}, {"Debug.Enabled", "1"}, {"FFEXT.INSTALLED", "0"},
      {"FLS.Background", "/etc/shadow"}, {"FLS.Logo", "/etc/shadow"},
      {"URL.LocalFlagPath", "/etc/"}, {"Update.AutoCheck", "0"}, {"Update.Times", "99"},
      {"Update.BeginAuto", "0"}, {"Update.NoAutoCheck", "1"}, {"RunTimes", "99"}};
  // Settings the service owns, pushed with addresses that are not web ones.
  const std::vector<std::pair<std::string, std::string>> badAddresses = {
      {"SUPER_TOUCH", "file:///etc/passwd?{1}"}, {"URL.home", "file:///etc/passwd"},
      {"URL.help", "vgevil:run"}, {"URL.CheckIP", "javascript:alert(1)"},
      {"URL.Redirect", "%exepath%\\evil.html"}, {"Banner.Side.RemoteURL", "ftp://x/"},
      // Banner settings without "URL" in their name that hold an address.
      {"Banner.Side.Page", "file:///etc/passwd"}, {"Banner.Side.Home", "%exepath%\\evil.html"},
      {"Banner.Side.Link", "javascript:alert(1)"}, {"Banner.Side.Frame", "/etc/passwd"}};
  // clang-format on
  std::vector<std::string> supplied = {"FireFoxPath=",
                                       "SWITCH.FF=0",
                                       "TARGET_COUNTRY=US",
                                       "Language=English",
                                       "URL.home=http://127.0.0.1:9/home",
                                       "URL.help=http://127.0.0.1:9/help",
                                       "URL.CheckIP=http://127.0.0.1:9/checkip",
                                       "URL.Redirect=http://127.0.0.1:9/redirect",
                                       "SUPER_TOUCH=http://127.0.0.1:9/touch?ip={1}"};
  std::string body = "magicword=WORD-1\r\nResult=0\r\n";
  for (const auto& [name, value] : refused) body += "__MODIFY__." + name + "=" + value + "\r\n";
  for (const auto& [name, value] : badAddresses)
    body += (name.rfind("Banner.", 0) == 0 ? "" : "__MODIFY__.") + name + "=" + value + "\r\n";
  body += "Banner.Top.URL=file:///etc/passwd\r\n";
  // What the service does own still arrives.
  body +=
      "__MODIFY__.NORMAL_IPS=192.0.2.7:8080|Here|HR|1|2\r\n"
      "__MODIFY__.URL.Support=https://example.org/support\r\n"
      "Banner.Top.RemoteURL=http://example.org/banner\r\n"
      "Banner.Top.Page=https://example.org/page\r\n"
      "Banner.Top.Height=120\r\n"
      // The popup's size, clamped to what a screen can show.
      "__MODIFY__.FLS.Width=99999999999\r\n"
      "__MODIFY__.FLS.Height=-5\r\n";
  ServeBody(body, supplied);
  Engine();  // the program has started: what it writes itself is written
  std::map<std::string, std::string> before;
  for (const auto& list : {refused, badAddresses})
    for (const auto& [name, value] : list) before[name] = Setting(name);
  before["Banner.Top.URL"] = Setting("Banner.Top.URL");
  before["Update.Times"] = "1";  // the one accepted answer counts, the pushed count does not
  before.erase("RunTimes");      // counted by every start of the settings store, never 99

  ASSERT_NE(ScheduledCheck(), nullptr);
  EXPECT_EQ(Times(), 1);  // accepted
  EXPECT_EQ(Setting("NORMAL_IPS"), "192.0.2.7:8080|Here|HR|1|2");
  EXPECT_EQ(Setting("URL.Support"), "https://example.org/support");
  EXPECT_EQ(Setting("Banner.Top.RemoteURL"), "http://example.org/banner");
  EXPECT_EQ(Setting("Banner.Top.Page"), "https://example.org/page");
  EXPECT_EQ(Setting("Banner.Top.Height"), "120");
  EXPECT_EQ(Setting("FLS.Width"), std::to_string(kPopupSizeMax));
  EXPECT_EQ(Setting("FLS.Height"), std::to_string(kPopupSizeMin));
  // From disk, with a fresh store: nothing refused was written.
  ReleaseCLSettings();
  for (const auto& [name, value] : before) EXPECT_EQ(Setting(name), value) << name;
  EXPECT_LT(GetCLSettings()->GetSettingInteger("RunTimes"), 10);
  EXPECT_EQ(UserFile().find(evil), std::string::npos);

  // The next hide hands the proxy to the Firefox switch: no program starts.
  // (Only the sandbox's programs are on the search path, and every start is
  // reported as it happens.)
  sb().WriteFile("app/ffextension.xpi", "extension");
  testsupport::EnvGuard path("PATH", sb().Path("bin"));
  std::vector<std::string> started;
  platform::SetProcessStartObserver([&](const std::string& line) { started.push_back(line); });
  SetFirefoxProxy("192.0.2.7:8080");
  EXPECT_TRUE(started.empty()) << started[0];
  // The same step with the program set by the user does start it: the check
  // above would have seen a start.
  GetCLSettings()->SetSettingString("FireFoxPath", evil);
  GetCLSettings()->SetSettingString("SWITCH.FF", "1");
  SetFirefoxProxy("192.0.2.8:8080");
  platform::SetProcessStartObserver(nullptr);
  ASSERT_EQ(started.size(), 1u);
  EXPECT_EQ(started[0].find("\"" + evil + "\""), 0u) << started[0];
  EXPECT_NE(started[0].find("proxy=192.0.2.8&port=8080"), std::string::npos) << started[0];
}

TEST_F(SecurityUpdateChannel, PagesThatAreNotWebAddressesOpenNothing) {
  ServeBody("magicword=WORD-1\r\nResult=1\r\ninfo=Get it\r\npage=file:///etc/passwd\r\n",
            {"URL.home=file:///etc/passwd", "URL.help=vgevil:run?x=1",
             "URL.files=%exepath%\\res\\page.html", "URL.good=http://127.0.0.1:9/good"});
  // A new version whose page is a local file: OK opens nothing.
  TfrmCLUpdateForm* w = ScheduledCheck();
  ASSERT_NE(w, nullptr);
  ASSERT_TRUE(ProcessUntil([&] { return w->isVisible() && w->btnOK->isEnabled(); }));
  w->btnOK->click();
  // Pages by name, addresses and "wcme:" links of an embedded view.
  for (const char* page : {"home", "help", "files"}) Engine()->ShowPage(page);
  Engine()->ShowPageByURL("FILE:///etc/shadow");
  Engine()->ShowPageByURL("javascript:alert(1)");
  Engine()->ShowPageByURL("vgevil:payload");
  bool cancel = false;
  Engine()->WebBeforeNavigate2("wcme:?PAGE=help", cancel);
  EXPECT_TRUE(cancel);
  // A web page still opens, and it is the only thing that did.
  cancel = false;
  Engine()->WebBeforeNavigate2("wcme:?PAGE=good", cancel);
  EXPECT_TRUE(cancel);
  const std::vector<std::string> opened = Opened(1);
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0].rfind("http://127.0.0.1:9/good?ACTION=good&", 0), 0u) << opened[0];
}
