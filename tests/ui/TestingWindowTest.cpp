// The testing window: opened by the start-up timer when "TestIPfromLocal" is
// set, its design, the proxies it checks, and that the user can close it
// while a check still waits for an answer.
#include <gtest/gtest.h>

#include <netinet/in.h>
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
  for (int i = 0; i < 2; ++i) {
    EXPECT_NE(lines[i].find("proxy check module not found"), std::string::npos) << lines[i];
    EXPECT_NE(lines[i].find(missing), std::string::npos) << lines[i];
  }
  EXPECT_FALSE(t->ggTesting->Animating());
}

}  // namespace
