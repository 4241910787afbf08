// The country dialog's map with tiles: with "URL.MapMask" the page engine
// fetches tiles from that address around the chosen country.
#include <gtest/gtest.h>

#include "AppDialogsSupport.h"
#include "QtTestApp.h"

#include <QBuffer>
#include <QPainter>

#include <atomic>
#include <cstdlib>
#include <filesystem>

#include "support/NetTestServers.h"
#include "proxy/uProxyManager.h"
#include "support/Sandbox.h"
#include "ui/uChooseIPCountry.h"
#include "ui/uSettings.h"
#include "vcl/WebHosts.h"

namespace fs = std::filesystem;
using namespace appdlg;

namespace {

class CountryMapTilesTest : public SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    TestApp();
    fs::copy(VG_SOURCE_DIR "/lang", sb().Path("app/lang"), fs::copy_options::recursive);
    fs::copy(VG_BINARY_DIR "/res", sb().Path("app/res"), fs::copy_options::recursive);
  }
  void TearDown() override {
    FHost.reset();
    ReleaseCLSettings();
    SandboxTest::TearDown();
  }
  void Start(const std::string& language) {
    FHost.reset();
    ReleaseCLSettings();
    sb().WriteFile("app/const.dat",
                   "[setting]\r\nApp.Name=Veilgate\r\nApp.Ver=1.0.0.1\r\nSkin=Default\r\n"
                   "Language=" +
                       language +
                       "\r\n"
                       "SWITCH.IE=1\r\nSWITCH.FF=1\r\nSWITCH.OPERA=0\r\nUpdate.AutoCheck=1\r\n"
                       "NORMAL_IPS=192.0.2.1:8080|United States|US|-97|38;"
                       "192.0.2.2:3128|France|FR|2.35|48.85;192.0.2.4:80|Germany|DE|9|51;"
                       "192.0.2.5:80|Brazil|BR|-47.9|-15.8\r\n"
                       "SUPER_IPS=192.0.2.9:80|Japan|JP|139.7|35.7\r\n");
    // The user's choice, as the engine stores it (it wins over const.dat).
    GetCLSettings()->SetSettingString("Language", language);
    FHost.reset(CreateForm<TfrmHost>(true));
    FHost->SetPosition(TPosition::poScreenCenter);
  }
  std::unique_ptr<TfrmHost> FHost;
};

}  // namespace

// With "URL.MapMask" the page lays tiles from that address over the
// outline: a loopback server answers every tile with its own numbers.
TEST_F(CountryMapTilesTest, ThePageLaysTilesOfTheMaskAroundTheChosenCountry) {
  std::atomic<int> tiles{0};
  nettest::TestHttpServer server([&](const nettest::Request& q, nettest::Connection& c) {
    ++tiles;
    QImage tile(256, 256, QImage::Format_ARGB32);
    tile.fill(QColor(236, 232, 220));
    QPainter p(&tile);
    p.setPen(QColor(160, 150, 130));
    p.drawRect(0, 0, 255, 255);
    p.setPen(Qt::black);
    p.drawText(tile.rect(), Qt::AlignCenter, QString::fromStdString(q.target));
    p.end();
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    tile.save(&buffer, "PNG");
    c.Write(nettest::Response(200, std::string(png.constData(), static_cast<size_t>(png.size())),
                              "Content-Type: image/png\r\n"));
  });
  Start("English");
  GetCLSettings()->SetSettingString("URL.MapMask", server.Base() + "/tiles/{z}/{x}/{y}.png");
  TProxyManager pm;
  pm.LoadSettings();
  pm.FTargetCountry = "FR";
  std::unique_ptr<TfrmChooseIPCountry> d(CreateForm<TfrmChooseIPCountry>(FHost.get(), &pm));
  d->SetPosition(TPosition::poScreenCenter);
  d->show();
  d->activateWindow();
  EXPECT_TRUE(Until([&] { return d->wbMap->ViewCreated() && !d->wbMap->Busy(); }, 60000));
  // Zoom 3 around Paris: the tile x 4, y 2 holds the position.
  auto paris = [&] {
    for (const auto& r : server.Requests())
      if (r.target == "/tiles/3/4/2.png") return true;
    return false;
  };
  Until([&] { return tiles.load() >= 4 && paris(); }, 30000);
  EXPECT_GE(tiles.load(), 4);
  EXPECT_TRUE(paris());
}
