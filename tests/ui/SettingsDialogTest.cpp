// The settings dialog: its two pages (the first on every opening), the five
// check boxes and their settings, OK and Cancel, the autorun entry, "Clear
// Show Again Flag" acting at once, and the Firefox reinstallation with its
// boxes and the choice of the Firefox program. Boxes are answered by a
// recorder on the engine; Firefox is a script that records its command
// lines.
#include <gtest/gtest.h>

#include <filesystem>

#include "AppDialogsSupport.h"
#include "QtTestApp.h"

#include <QFileDialog>
#include <QTimer>

#include <signal.h>
#include <sys/stat.h>

#include <algorithm>

#include "net/CLUtils.h"
#include "platform/Process.h"
#include "support/EnvGuard.h"
#include "support/Sandbox.h"
#include "ui/uSettings.h"
#include "vcl/Controls.h"

using namespace appdlg;

namespace {

// Calls action with the modal window once one is open.
void OnModal(std::function<void(QWidget*)> action) {
  auto* timer = new QTimer;
  QObject::connect(timer, &QTimer::timeout, [timer, action] {
    QWidget* w = QApplication::activeModalWidget();
    if (!w) return;
    timer->stop();
    timer->deleteLater();
    action(w);
  });
  timer->start(5);
}

class SettingsDialogTest : public SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    TestApp();
    ReleaseCLSettings();
    sb().WriteFile("app/const.dat",
                   "[setting]\r\nApp.Name=Veilgate\r\nLanguage=English\r\n"
                   "AutoRun=0\r\nSWITCH.IE=0\r\nSWITCH.FF=1\r\nSWITCH.OPERA=0\r\n"
                   "Update.AutoCheck=1\r\n");
    sb().WriteFile("app/lang/English.lan", SourceFile("lang/English.lan"));
    FHost.reset(CreateForm<TfrmHost>());
    FFirefoxLog = sb().Path("firefox.log");
    sb().WriteFile("app/ffextension.xpi", "extension");
    // A search path without the machine's own Firefox (the program looks
    // there when nothing else names one); the stand-ins need only sleep.
    std::filesystem::create_directories(sb().Path("path"));
    std::filesystem::create_symlink("/bin/sleep", sb().Path("path/sleep"));
    FPath = std::make_unique<testsupport::EnvGuard>("PATH", sb().Path("path"));
  }
  void TearDown() override {
    FPath.reset();
    StopFakeFirefoxes();
    TfrmSettings::FirefoxChooser() = nullptr;
    FHost.reset();
    ReleaseCLSettings();
    SandboxTest::TearDown();
  }
  TCLSettings* S() { return GetCLSettings(); }
  // The English text of an "AppRes" key, as the engine gives it.
  std::string Text(const std::string& key) { return FHost->CLEngine->GetAppString(key); }
  std::vector<std::string> Boxes() { return FHost->Boxes.Texts(); }
  std::unique_ptr<TfrmSettings> Dialog() {
    return std::unique_ptr<TfrmSettings>(CreateForm<TfrmSettings>(FHost.get()));
  }
  // A Firefox stand-in that appends each command line to a log and, as
  // Firefox does, keeps running afterwards (while the sandbox is there, a
  // minute at most; the test ends it earlier).
  std::string FakeFirefox(const std::string& rel) {
    sb().WriteFile(rel, "#!/bin/sh\necho $$ >> '" + sb().Path("firefox.pids") +
                            "'\necho \"$*\" >> '" + FFirefoxLog +
                            "'\ni=0\n"
                            "while [ -e \"$0\" ] && [ $i -lt 300 ]; do\n"
                            "  sleep 0.2; i=$((i+1))\ndone\n");
    const std::string path = sb().Path(rel);
    ::chmod(path.c_str(), 0755);
    return path;
  }
  // Ends the stand-ins this test started.
  void StopFakeFirefoxes() {
    TStringList pids;
    pids.SetText(sb().Exists("firefox.pids") ? sb().ReadFile("firefox.pids") : "");
    for (const std::string& pid : pids.Lines())
      if (const int n = StrToIntDefault(pid, 0); n > 0) ::kill(n, SIGTERM);
  }
  std::string FirefoxLog() {
    std::string text;
    platform::ReadWholeFile(FFirefoxLog, text);
    return text;
  }
  int FirefoxRuns() {
    const std::string log = FirefoxLog();
    return static_cast<int>(std::count(log.begin(), log.end(), '\n'));
  }

  std::unique_ptr<TfrmHost> FHost;
  std::string FFirefoxLog;
  std::unique_ptr<testsupport::EnvGuard> FPath;
};

}  // namespace

TEST_F(SettingsDialogTest, TwoPagesFiveBoxesFromTheirSettings) {
  auto d = Dialog();
  EXPECT_EQ(d->ClassName(), "TfrmSettings");
  EXPECT_EQ(d->Caption(), "Settings");
  ASSERT_EQ(d->pcSetting->PageCount(), 2);
  EXPECT_EQ(d->pcSetting->tabText(0), "General");
  EXPECT_EQ(d->pcSetting->tabText(1), "Browser");
  EXPECT_EQ(d->pcSetting->ActivePage(), d->tsGeneral);
  // The translator applied the shipped English texts ({AppName} filled in).
#ifdef _WIN32
  EXPECT_EQ(d->cbAutoRun->text(), "Automatically run Veilgate when I log on to Windows");
#else
  EXPECT_EQ(d->cbAutoRun->text(), "Automatically run Veilgate when I log in");
#endif
  EXPECT_EQ(d->cbAutoUpdate->text(), "Automatically check updates when Veilgate starts");
  EXPECT_EQ(d->cbWebRtc->text(), "Keep WebRTC from revealing my address");
  EXPECT_EQ(d->cbWebRtc->parentWidget(), d->tsBrowser);

  EXPECT_FALSE(d->cbAutoRun->Checked());
  EXPECT_FALSE(d->cbIE->Checked());
  EXPECT_TRUE(d->cbFF->Checked());
  EXPECT_FALSE(d->cbOpera->Checked());
  EXPECT_FALSE(d->cbWebRtc->Checked()) << "not in this const.dat";
  EXPECT_TRUE(d->cbAutoUpdate->Checked());
  EXPECT_FALSE(d->cbIE->isEnabled()) << "the system proxy box cannot be changed";
  EXPECT_EQ(d->cbIE->parentWidget(), d->tsBrowser);
  EXPECT_EQ(d->btnClearShowAgainFlag->parentWidget(), d->tsGeneral);

  // The other way round.
  S()->SetSettingBool("AutoRun", true);
  S()->SetSettingBool("SWITCH.IE", true);
  S()->SetSettingBool("SWITCH.FF", false);
  S()->SetSettingBool("SWITCH.OPERA", true);
  S()->SetSettingBool("SWITCH.WEBRTC", true);
  S()->SetSettingBool("Update.AutoCheck", false);
  d = Dialog();
  EXPECT_TRUE(d->cbWebRtc->Checked());
  EXPECT_TRUE(d->cbAutoRun->Checked());
  EXPECT_TRUE(d->cbIE->Checked());
  EXPECT_FALSE(d->cbFF->Checked());
  EXPECT_TRUE(d->cbOpera->Checked());
  EXPECT_FALSE(d->cbAutoUpdate->Checked());
}

TEST_F(SettingsDialogTest, FirstPageOnEveryOpening) {
  auto d = Dialog();
  int opened = 0;
  for (int round = 0; round < 2; ++round) {
    OnModal([&](QWidget* w) {
      ++opened;
      EXPECT_EQ(w, d.get());
      EXPECT_EQ(d->pcSetting->ActivePage(), d->tsGeneral) << "round " << round;
      d->pcSetting->SetActivePage(d->tsBrowser);
      d->btnCancel->click();
    });
    EXPECT_EQ(d->ShowModal(), mrCancel);
  }
  EXPECT_EQ(opened, 2);
}

TEST_F(SettingsDialogTest, OkStoresTheBoxesAndTheAutorunEntry) {
  auto d = Dialog();
  d->cbAutoRun->SetChecked(true);
  d->cbFF->SetChecked(false);
  d->cbOpera->SetChecked(true);
  d->cbWebRtc->SetChecked(true);
  d->cbAutoUpdate->SetChecked(false);
  d->btnOK->Click();
  ReleaseCLSettings();  // read the user file afresh
  EXPECT_TRUE(S()->GetSettingBool("SWITCH.WEBRTC"));
  EXPECT_TRUE(S()->GetSettingBool("AutoRun"));
  EXPECT_FALSE(S()->GetSettingBool("SWITCH.FF"));
  EXPECT_TRUE(S()->GetSettingBool("SWITCH.OPERA"));
  EXPECT_FALSE(S()->GetSettingBool("Update.AutoCheck"));
  // The disabled box is written back as it was.
  std::string user;
  platform::ReadWholeFile(S()->SettingFilePath(), user);
  EXPECT_NE(user.find("SWITCH.IE=0"), std::string::npos) << user;
  // The autorun entry, named by "App.Name", runs this executable.
  EXPECT_EQ(platform::GetAutoRunEntry("Veilgate"), GetModulePath());

  d = Dialog();
  EXPECT_TRUE(d->cbAutoRun->Checked());
  d->cbAutoRun->SetChecked(false);
  d->btnOK->Click();
  EXPECT_FALSE(S()->GetSettingBool("AutoRun"));
  EXPECT_EQ(platform::GetAutoRunEntry("Veilgate"), "");
}

TEST_F(SettingsDialogTest, CancelStoresNothingButClearShowAgainFlagActsAtOnce) {
  S()->SetMessageShowAgainFlag(6, false);
  S()->SetMessageShowAgainFlag(1, false);
  OnModal([&](QWidget*) {
    ASSERT_NE(frmSettings, nullptr);
    frmSettings->cbAutoRun->SetChecked(true);
    frmSettings->cbFF->SetChecked(false);
    frmSettings->cbOpera->SetChecked(true);
    frmSettings->cbAutoUpdate->SetChecked(false);
    frmSettings->btnClearShowAgainFlag->click();
    // Cleared while the dialog is still open, without a question.
    EXPECT_TRUE(GetCLSettings()->GetMessageShowAgainFlag(6));
    EXPECT_TRUE(GetCLSettings()->GetMessageShowAgainFlag(1));
    frmSettings->btnCancel->click();
  });
  EXPECT_FALSE(ShowSettings(FHost.get()));
  EXPECT_EQ(frmSettings, nullptr) << "freed after the showing";
  EXPECT_TRUE(Boxes().empty());
  ReleaseCLSettings();
  EXPECT_FALSE(S()->GetSettingBool("AutoRun"));
  EXPECT_TRUE(S()->GetSettingBool("SWITCH.FF"));
  EXPECT_FALSE(S()->GetSettingBool("SWITCH.OPERA"));
  EXPECT_TRUE(S()->GetSettingBool("Update.AutoCheck"));
  EXPECT_EQ(platform::GetAutoRunEntry("Veilgate"), "");
  EXPECT_TRUE(S()->GetMessageShowAgainFlag(6));
  EXPECT_TRUE(S()->GetMessageShowAgainFlag(1));

  // OK reports true.
  OnModal([](QWidget*) { frmSettings->btnOK->click(); });
  EXPECT_TRUE(ShowSettings(FHost.get()));
}

TEST_F(SettingsDialogTest, ReinstallFirefoxWithoutFirefoxShowsOneBox) {
  auto d = Dialog();
  d->btnReinstallFF->click();
  ASSERT_EQ(FHost->Boxes.Requests.size(), 1u);
  const TCLMessageBoxRequest& box = FHost->Boxes.Requests[0];
  EXPECT_EQ(box.Text, Text("MSGBox.FFUninstalled"));
  EXPECT_EQ(box.Text, "Firefox is not installed on this computer.");
  EXPECT_EQ(box.DlgType, 2);   // information
  EXPECT_EQ(box.Buttons, 4u);  // OK
  EXPECT_FALSE(box.ShowAgainFlag);
}

TEST_F(SettingsDialogTest, ReinstallFirefoxInstallsTheExtension) {
  const std::string firefox = FakeFirefox("ff/firefox");
  S()->SetSettingString("FireFoxPath", firefox);
  auto d = Dialog();
  d->btnReinstallFF->click();
  ASSERT_TRUE(Until([&] { return FirefoxRuns() == 1; }));
  // The extension file of the application folder (the launcher hands it
  // over as one argument).
  EXPECT_EQ(FirefoxLog(), sb().AppDir() + "ffextension.xpi\n");
  // The Firefox just started is running: the user is asked to restart it.
  EXPECT_EQ(Boxes(), std::vector<std::string>{Text("MSGBox.FFRestart")});
  EXPECT_EQ(FHost->Boxes.Requests[0].DlgType, 2);
  EXPECT_FALSE(FHost->Boxes.Requests[0].ShowAgainFlag);
}

TEST_F(SettingsDialogTest, FailedInstallLetsTheUserPickTheFirefoxProgram) {
  // A stale path: Firefox counts as installed, but it cannot be started.
  S()->SetSettingString("FireFoxPath", sb().Path("gone/firefox"));
  const std::string firefox = FakeFirefox("other/firefox");
  auto d = Dialog();
  std::vector<std::string> shownBefore;
  // The file dialog opens after the "MSGBox.FFPath" box; the user picks the
  // program itself.
  FHost->Boxes.OnBox = [&](const TCLMessageBoxRequest&) {
    OnModal([&](QWidget* w) {
      auto* dlg = qobject_cast<QFileDialog*>(w);
      ASSERT_NE(dlg, nullptr) << "a file dialog";
      shownBefore = Boxes();
      EXPECT_EQ(dlg->fileMode(), QFileDialog::ExistingFile);
      EXPECT_EQ(dlg->windowTitle().toStdString(), Text("Caption.ChooseFirefoxPath"));
      dlg->selectFile(QString::fromStdString(firefox));
      QMetaObject::invokeMethod(dlg, "accept");
    });
    FHost->Boxes.OnBox = nullptr;
  };
  d->btnReinstallFF->click();
  EXPECT_EQ(shownBefore, std::vector<std::string>{Text("MSGBox.FFPath")});
  EXPECT_EQ(S()->GetSettingString("FireFoxPath"), firefox);
  // The second attempt ran the chosen program, which is running now.
  ASSERT_TRUE(Until([&] { return FirefoxRuns() == 1; }));
  EXPECT_EQ(FirefoxLog(), sb().AppDir() + "ffextension.xpi\n");
  EXPECT_EQ(Boxes(), (std::vector<std::string>{Text("MSGBox.FFPath"), Text("MSGBox.FFRestart")}));
}

TEST_F(SettingsDialogTest, CancelledFirefoxChoiceStoresNothing) {
  const std::string stale = sb().Path("gone/firefox");
  S()->SetSettingString("FireFoxPath", stale);
  auto d = Dialog();
  int chooserCalls = 0;
  TfrmSettings::FirefoxChooser() = [&](QWidget* parent, const std::string& initial,
                                       const std::string&) {
    ++chooserCalls;
    EXPECT_EQ(parent, d.get());
    EXPECT_EQ(initial, stale);
    return std::string();
  };
  d->btnReinstallFF->click();
  EXPECT_EQ(chooserCalls, 1);
  EXPECT_EQ(Boxes(), std::vector<std::string>{Text("MSGBox.FFPath")});
  ReleaseCLSettings();
  EXPECT_EQ(S()->GetSettingString("FireFoxPath"), stale);
}
