// The testing window: opened by the start-up timer when "TestIPfromLocal" is
// set, its design, the proxies it checks, and that the user can close it
// while a check still waits for an answer.
#include <gtest/gtest.h>

#include <netinet/in.h>

#include <set>
#include <sys/socket.h>
#include <unistd.h>

#include "MainWindowSupport.h"
#include "proxy/uProxyManager.h"
#include "ui/ProxyCheckModule.h"
#include "ui/uIPsTesting.h"
#include "vcl/Controls.h"

using namespace mainwin;

namespace {

// A loopback port that accepts connections and never answers.
class TSilentPort {
 public:
  TSilentPort() {
    FFd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(FFd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(FFd, 8);
    ::getsockname(FFd, reinterpret_cast<sockaddr*>(&a), &len);
    FPort = ntohs(a.sin_port);
  }
  ~TSilentPort() { ::close(FFd); }
  int Port() const { return FPort; }

 private:
  int FFd = -1;
  int FPort = 0;
};

class TestingWindowTest : public MainWindowTest {};

TEST_F(TestingWindowTest, OpensAtStartAndCanBeClosedWhileACheckWaits) {
  TSilentPort silent;
  const std::string proxy = "127.0.0.1:" + std::to_string(silent.Port());
  Const({"TestIPfromLocal=1", "Update.Times=1", "TARGET_COUNTRY=US",
         "NORMAL_IPS=" + proxy + "|United States|US|-97|38;192.0.2.3:80|France|FR|2|48",
         "URL.GetInfo=http://192.0.2.200/getinfo"});
  TfrmMain& w = Window();
  w.show();
  bool seen = false;
  WhenModal([&](QWidget* dlg) {
    ASSERT_EQ(dlg, frmTesting);
    seen = true;
    TfrmTesting& t = *frmTesting;
    EXPECT_EQ(t.ClassName(), "TfrmTesting");
    EXPECT_EQ(t.Caption(), "Verifing from server ...");
    EXPECT_TRUE(t.windowFlags() & Qt::Tool);
    EXPECT_FALSE(t.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_EQ(t.lblInfo->Caption(),
              "Please wait a few minute to verify fake IP information from server... ");
    EXPECT_TRUE(t.ggTesting->Animating());
    EXPECT_EQ(t.ggTesting->AnimationPause(), 1000);
    EXPECT_TRUE(t.mmoLog->ReadOnly());
    EXPECT_EQ(t.mmoLog->Text(), "");
    // The target country's proxies only.
    ASSERT_EQ(t.Proxies().size(), 1u);
    EXPECT_EQ(t.Proxies()[0].IP + ":" + t.Proxies()[0].Port, proxy);
    EXPECT_FALSE(t.Finished());
    // Centred on the main window.
    EXPECT_LE(std::abs(t.frameGeometry().center().x() - w.frameGeometry().center().x()), 2);
    PressKey(dlg, Qt::Key_Escape);
  });
  w.tmrInitTimer(w.tmrInit);
  EXPECT_TRUE(seen);
  EXPECT_EQ(frmTesting, nullptr);
  EXPECT_FALSE(w.tmrInit->Running());
  EXPECT_EQ(w.lblIPCountry->Caption(), "United States");
}

TEST_F(TestingWindowTest, WithoutProxiesOfTheCountryItSaysSoAndStops) {
  Const({"Update.Times=1", "TARGET_COUNTRY=DE", "NORMAL_IPS=192.0.2.3:80|France|FR|2|48"});
  TfrmMain& w = Window();
  w.tmrInitTimer(w.tmrInit);
  std::unique_ptr<TfrmTesting> t(CreateForm<TfrmTesting>(&w));
  EXPECT_TRUE(t->Proxies().empty());
  EXPECT_TRUE(t->Finished());
  EXPECT_FALSE(t->ggTesting->Animating());
  EXPECT_EQ(t->mmoLog->Lines().Count(), 1);
  // "UN" checks every proxy.
  w.FProxyManager->FTargetCountry = "UN";
  EXPECT_EQ(TfrmTesting::ProxiesToCheck().size(), 1u);
}

TEST_F(TestingWindowTest, WithoutItsRequestModuleEachProxyIsReportedFailedWithTheReason) {
  Const({"Update.Times=1", "TARGET_COUNTRY=UN",
         "NORMAL_IPS=192.0.2.3:80|France|FR|2|48;192.0.2.4:81|Germany|DE|10|51",
         "URL.GetInfo=http://192.0.2.200/getinfo"});
  TfrmMain& w = Window();
  w.tmrInitTimer(w.tmrInit);
  // The program installed without the module.
  struct TCandidates {
    QStringList saved = ProxyCheckModuleCandidates();
    ~TCandidates() { ProxyCheckModuleCandidates() = saved; }
  } restore;
  const std::string missing = sb().Path("none/vgnetcheck");
  ProxyCheckModuleCandidates() = {QString::fromStdString(missing)};
  std::unique_ptr<TfrmTesting> t(CreateForm<TfrmTesting>(&w));
  ASSERT_EQ(t->Proxies().size(), 2u);
  ASSERT_TRUE(Until([&] { return t->Finished(); }));
  const TStringList& lines = t->mmoLog->Lines();
  ASSERT_EQ(lines.Count(), 3) << t->mmoLog->Text();
  EXPECT_NE(lines[0].find("192.0.2.3:80"), std::string::npos) << lines[0];
  EXPECT_NE(lines[1].find("192.0.2.4:81"), std::string::npos) << lines[1];
  // The reason in the window's language; the library's wording with the
  // files tried stays out of the user's sight.
  for (int i = 0; i < 2; ++i) {
    EXPECT_NE(lines[i].find("the network part of Veilgate is missing"), std::string::npos)
        << lines[i];
    EXPECT_EQ(lines[i].find(missing), std::string::npos) << lines[i];
  }
  EXPECT_FALSE(t->ggTesting->Animating());
}

// A proxy that refuses the connection is reported with the language's own
// words, not with the network library's English.
TEST_F(TestingWindowTest, AFailedCheckIsReportedInTheWindowsLanguage) {
  // A loopback port nobody listens on: taken, then let go.
  int port = 0;
  {
    TSilentPort taken;
    port = taken.Port();
  }
  struct Case {
    const char* language;
    const char* refused;
    const char* otherLanguage;
  };
  for (const Case& c : {Case{"English", "connection refused", "Verbindung"},
                        Case{"Deutsch", "Verbindung abgelehnt", "onnection refused"}}) {
    SCOPED_TRACE(c.language);
    Const({"Update.Times=1", "TARGET_COUNTRY=US",
           "NORMAL_IPS=127.0.0.1:" + std::to_string(port) + "|United States|US|-97|38",
           "URL.GetInfo=http://192.0.2.200/getinfo"});
    GetCLSettings()->SetSettingString("Language", c.language);
    TfrmMain& w = Window();
    w.tmrInitTimer(w.tmrInit);
    std::unique_ptr<TfrmTesting> t(CreateForm<TfrmTesting>(&w));
    ASSERT_TRUE(Until([&] { return t->Finished(); }));
    const TStringList& lines = t->mmoLog->Lines();
    ASSERT_EQ(lines.Count(), 2) << t->mmoLog->Text();
    EXPECT_NE(lines[0].find(c.refused), std::string::npos) << lines[0];
    EXPECT_EQ(lines[0].find(c.otherLanguage), std::string::npos) << lines[0];
    t.reset();
    CloseWindow();
    ReleaseCLSettings();
  }
}

// Every kind of failure has its own text in each language, and an HTTP
// status is reported as such.
TEST_F(TestingWindowTest, EveryFailureKindHasATextOfItsOwn) {
  for (const char* language : {"English", "Deutsch"}) {
    SCOPED_TRACE(language);
    Const({"Update.Times=1"});
    GetCLSettings()->SetSettingString("Language", language);
    Window();
    std::set<std::string> seen;
    for (TProxyCheckFailure kind :
         {TProxyCheckFailure::Refused, TProxyCheckFailure::NotResolved,
          TProxyCheckFailure::TimedOut, TProxyCheckFailure::Closed, TProxyCheckFailure::Certificate,
          TProxyCheckFailure::ProxyAuth, TProxyCheckFailure::Other, TProxyCheckFailure::NoModule}) {
      TProxyCheckAnswer a;
      a.failure = kind;
      a.error = "Connection refused by the library";
      const std::string text = TfrmTesting::FailureText(a);
      EXPECT_EQ(text.find("[AppRes]"), std::string::npos) << text;
      EXPECT_EQ(text.find("library"), std::string::npos) << text;
      EXPECT_TRUE(seen.insert(text).second) << "twice: " << text;
    }
    TProxyCheckAnswer status;
    status.status = 503;
    EXPECT_NE(TfrmTesting::FailureText(status).find("503"), std::string::npos);
    EXPECT_EQ(seen.count(TfrmTesting::FailureText(status)), 0u);
    CloseWindow();
    ReleaseCLSettings();
  }
}

}  // namespace
