// The choose-IP-country dialog against a real proxy manager and the shipped
// map template: the list and its first entry, the initial selection, flag
// and map of a selection (the page's six values), OK and Cancel, the flag
// download into the user data folder.
#include <gtest/gtest.h>

#include "AppDialogsSupport.h"
#include "QtTestApp.h"

#include <QBuffer>

#include <atomic>
#include <thread>

#include "framework/qt/CLQtDispatcher.h"
#include "support/NetTestServers.h"
#include "proxy/uProxyManager.h"
#include "support/Sandbox.h"
#include "ui/uChooseIPCountry.h"
#include "vcl/Controls.h"
#include "vcl/WebHosts.h"

using namespace appdlg;

namespace {

const QRgb kRed = qRgb(200, 0, 0), kGreen = qRgb(0, 160, 0), kBlue = qRgb(0, 0, 190),
           kGrey = qRgb(90, 90, 90);

// The real-IP answer: named lines, then latitude (6th) and longitude (7th).
const char* const kLocalInfo =
    "IP=198.51.100.7\r\nCOUNTRY_SHORT=DE\r\nCOUNTRY_LONG=Germany\r\nCITY=Berlin\r\nREGION=Berlin\r\n"
    "52.52\r\n13.40\r\n";

class ChooseIPCountryTest : public SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    TestApp();
    ReleaseCLSettings();
    Const("");
    sb().WriteFile("app/res/map.tpl", SourceFile("res/map.tpl"));
    platform::ForceDirectories(sb().Path("app/res/flag_short"));
    WriteSolidPng(sb().Path("app/res/flag_short/US.PNG"), kRed);
    WriteSolidPng(sb().Path("app/res/flag_short/FR.PNG"), kBlue);
    WriteSolidPng(sb().Path("app/res/flag_short/UN.PNG"), kGrey);
  }
  void TearDown() override {
    FManager.reset();
    ReleaseCLSettings();
    SandboxTest::TearDown();
  }
  // const.dat with the two lists and extra lines.
  void Const(const std::string& extra) {
    sb().WriteFile("app/const.dat",
                   "[setting]\r\nApp.Name=Veilgate\r\n"
                   "NORMAL_IPS=192.0.2.1:8080|United States|US|-97|38;"
                   "192.0.2.2:3128|France|FR|2.35|48.85;192.0.2.3:80|France|FR|5.5|45.1;"
                   "192.0.2.4:80|Germany|DE|9|51\r\n"
                   "SUPER_IPS=192.0.2.9:80|Japan|JP|138|36;192.0.2.10:80|France|FR|1|1\r\n" +
                       extra);
    ReleaseCLSettings();
  }
  TProxyManager& Manager(const std::string& target) {
    FManager = std::make_unique<TProxyManager>();
    FManager->LoadSettings();
    FManager->FTargetCountry = target;
    FManager->FLocalInfo.SetText(kLocalInfo);
    return *FManager;
  }
  std::unique_ptr<TfrmChooseIPCountry> Dialog(const std::string& target) {
    return std::unique_ptr<TfrmChooseIPCountry>(
        CreateForm<TfrmChooseIPCountry>(nullptr, &Manager(target)));
  }
  static std::vector<std::string> Items(TfrmChooseIPCountry& d) {
    std::vector<std::string> items;
    for (int i = 0; i < d.cbbCountry->count(); ++i)
      items.push_back(StdStr(d.cbbCountry->itemText(i)));
    return items;
  }
  static bool Has(const std::string& page, const std::string& part) {
    return page.find(part) != std::string::npos;
  }

  std::unique_ptr<TProxyManager> FManager;
};

}  // namespace

TEST_F(ChooseIPCountryTest, LayoutAndListOfCountries) {
  auto d = Dialog("US");
  EXPECT_EQ(d->ClassName(), "TfrmChooseIPCountry");
  EXPECT_EQ(d->Caption(), "Choose IP Country");
  EXPECT_FALSE(d->cbbCountry->isEditable());
  EXPECT_EQ(d->cbbCountry->maxVisibleItems(), 8);
  EXPECT_EQ(d->btnOK->ModalResult(), mrOk);
  EXPECT_EQ(d->btnCancel->ModalResult(), mrCancel);
  EXPECT_EQ(d->btnOK->text(), "&OK");
  EXPECT_EQ(d->btnCancel->text(), "&Cancel");
  // The browser fills the framed panel.
  EXPECT_EQ(d->wbMap->parentWidget(), d->pnlWB);
  EXPECT_TRUE(d->wbMap->UserInterfaceOptions() & uioDisableContextMenu);
  EXPECT_TRUE(d->wbMap->UserInterfaceOptions() & uioDontUseScrollBars);
  EXPECT_TRUE(d->wbMap->UserInterfaceOptions() & uioDisableSelection);
  EXPECT_TRUE(d->sgLoadingMap->isHidden());
  EXPECT_EQ(d->sdFlag->AcceptTypes, "*/*");
  EXPECT_TRUE(d->sdFlag->BinaryData);
  EXPECT_FALSE(d->sdFlag->UseCache);
  // Any country first; then the normal list's countries, then the ones only
  // the super list has; each once, in the lists' order, unsorted.
  EXPECT_EQ(Items(*d), (std::vector<std::string>{"- Auto Selected -", "United States", "France",
                                                 "Germany", "Japan"}));
  EXPECT_EQ(frmChooseIPCountry, d.get());
  d.reset();
  EXPECT_EQ(frmChooseIPCountry, nullptr);
}

TEST_F(ChooseIPCountryTest, AnyCountryOpensOnAutoSelectedWithTheUsersOwnPosition) {
  for (const char* target : {"UN", "un"}) {
    auto d = Dialog(target);
    EXPECT_EQ(d->cbbCountry->ItemIndex(), 0) << target;
    EXPECT_EQ(d->cbbCountry->Text(), "- Auto Selected -");
    EXPECT_EQ(MiddleColour(d->imgFL->Picture()), kGrey) << "the UN flag";
    const std::string page = d->MapHTML();
    // Longitude {1} and latitude {2} are the 7th and 6th lines.
    EXPECT_TRUE(Has(page, "data-longitude=\"13.40\" data-latitude=\"52.52\""))
        << page.substr(0, 3000);
    // The page is the panel plus 30 in each direction.
    EXPECT_TRUE(Has(page, "data-width=\"447\" data-height=\"375\""));
    EXPECT_TRUE(Has(page, "width: 447px; height: 375px;"));
    EXPECT_TRUE(Has(page, "data-mask=\"\" data-zoom=\"3\""));
    for (const char* ph : {"{1}", "{2}", "{3}", "{4}", "{5}", "{6}"})
      EXPECT_FALSE(Has(page, ph)) << ph;
    // The text went through the line list: CR LF line ends, one at the end.
    EXPECT_EQ(page.substr(page.size() - 9), "</html>\r\n");
    EXPECT_FALSE(Has(StringReplaceAll(page, "\r\n", ""), "\n"));
    EXPECT_EQ(d->wbMap->DocumentHTML(), page);
  }
}

TEST_F(ChooseIPCountryTest, TargetCountryOpensOnItsNameFlagAndFirstProxyPosition) {
  auto d = Dialog("fr");
  EXPECT_EQ(d->cbbCountry->Text(), "France");
  EXPECT_EQ(MiddleColour(d->imgFL->Picture()), kBlue);
  EXPECT_EQ(d->imgFL->PictureWidth(), 48);
  // The first French record of the normal list gives the position.
  EXPECT_TRUE(Has(d->MapHTML(), "data-longitude=\"2.35\" data-latitude=\"48.85\""));

  // The user picks another country: its flag and map follow. Japan's flag
  // is not shipped but was downloaded earlier into the user data folder.
  WriteSolidPng(GetCLSettings()->UserDataPath() + "JP.PNG", kGreen);
  d->cbbCountry->SetItemIndex(4);
  EXPECT_EQ(MiddleColour(d->imgFL->Picture()), kGreen);
  EXPECT_TRUE(Has(d->MapHTML(), "data-longitude=\"138\" data-latitude=\"36\""));
  // Back to any country: the user's own place again.
  d->cbbCountry->SetItemIndex(0);
  EXPECT_EQ(MiddleColour(d->imgFL->Picture()), kGrey);
  EXPECT_TRUE(Has(d->MapHTML(), "data-longitude=\"13.40\" data-latitude=\"52.52\""));
}

TEST_F(ChooseIPCountryTest, OkStoresTheChoiceAndNothingSelectedKeepsTheOldCountry) {
  auto d = Dialog("US");
  d->cbbCountry->SetItemIndex(2);  // France
  d->btnOK->Click();
  EXPECT_EQ(FManager->FTargetCountry, "FR");
  ReleaseCLSettings();  // read back from the user file
  EXPECT_EQ(GetCLSettings()->GetSettingString("TARGET_COUNTRY"), "FR");

  d = Dialog("FR");
  d->cbbCountry->SetItemIndex(0);
  d->btnOK->Click();
  EXPECT_EQ(FManager->FTargetCountry, "UN");
  EXPECT_EQ(GetCLSettings()->GetSettingString("TARGET_COUNTRY"), "UN");

  // A code whose proxies have left the lists: nothing is selected, no flag
  // and no map; OK keeps the code.
  d = Dialog("BR");
  EXPECT_EQ(d->cbbCountry->ItemIndex(), -1);
  EXPECT_TRUE(d->imgFL->Picture().isNull());
  EXPECT_TRUE(d->MapHTML().empty());
  d->btnOK->Click();
  EXPECT_EQ(FManager->FTargetCountry, "BR");
  EXPECT_EQ(GetCLSettings()->GetSettingString("TARGET_COUNTRY"), "BR");
}

TEST_F(ChooseIPCountryTest, ModalRunReportsOkOrCancel) {
  TProxyManager& pm = Manager("US");
  // Cancel (Escape) changes nothing.
  WhenModal([](QWidget* w) { PressKey(w, Qt::Key_Escape); });
  EXPECT_FALSE(ShowChooseIPCountry(nullptr, &pm));
  EXPECT_EQ(pm.FTargetCountry, "US");
  EXPECT_FALSE(GetCLSettings()->GetSettingExists("TARGET_COUNTRY"));
  EXPECT_EQ(frmChooseIPCountry, nullptr) << "freed after the showing";

  // OK after picking Japan.
  WhenModal([](QWidget*) {
    ASSERT_NE(frmChooseIPCountry, nullptr);
    frmChooseIPCountry->cbbCountry->SetItemIndex(4);
    frmChooseIPCountry->btnOK->click();
  });
  EXPECT_TRUE(ShowChooseIPCountry(nullptr, &pm));
  EXPECT_EQ(pm.FTargetCountry, "JP");
  EXPECT_EQ(GetCLSettings()->GetSettingString("TARGET_COUNTRY"), "JP");
  EXPECT_EQ(frmChooseIPCountry, nullptr);
}

TEST_F(ChooseIPCountryTest, TemplatePlaceholdersInOrderEveryOccurrenceAndEscaped) {
  sb().WriteFile("app/res/map.tpl", "{1}|{1}|{2}\n{3}x{4}\r{5}/{6}");
  Const("URL.MapMask=http://tiles.test/{z}/{x}/{y}.png?a=1&b=\"2\"\r\n");
  auto d = Dialog("DE");
  EXPECT_EQ(d->MapHTML(),
            "9|9|51\r\n447x375\r\nhttp://tiles.test/{z}/{x}/{y}.png?a=1&amp;b=&quot;2&quot;/3\r\n");
  // A value from the service cannot open markup in the page.
  d->ShowMap("<script>x</script>", "1\"2");
  EXPECT_EQ(d->MapHTML().substr(0, 50), "1&quot;2|1&quot;2|&lt;script&gt;x&lt;/script&gt;\r\n");
  // Without a template the map stays empty; nothing breaks.
  platform::DeleteFileAt(sb().Path("app/res/map.tpl"));
  d->ShowMap("1", "2");
  EXPECT_TRUE(d->MapHTML().empty());
}

TEST_F(ChooseIPCountryTest, GaugeFollowsTheBrowsersProgress) {
  auto d = Dialog("US");
  d->wbMapProgressChange(d->wbMap, 30, 120);
  EXPECT_FALSE(d->sgLoadingMap->isHidden());
  EXPECT_EQ(d->sgLoadingMap->maximum(), 120);
  EXPECT_EQ(d->sgLoadingMap->Progress(), 30);
  d->wbMapProgressChange(d->wbMap, 120, 120);
  EXPECT_TRUE(d->sgLoadingMap->isHidden());
  // The browser's own reports reach the gauge.
  ASSERT_TRUE(d->wbMap->OnProgressChange);
  d->wbMap->OnProgressChange(d->wbMap, 5, 100);
  EXPECT_FALSE(d->sgLoadingMap->isHidden());
  EXPECT_EQ(d->sgLoadingMap->Progress(), 5);

  // The real page engine, where this build has it: the map page loads and
  // the gauge goes away at the end.
  bool completed = false;
  d->wbMap->OnDocumentComplete = [&](TWebBrowser*, const std::string&) { completed = true; };
  d->show();
  if (!d->wbMap->ViewCreated()) GTEST_SKIP() << "no page engine in this build";
  ASSERT_TRUE(ProcessUntil([&] { return completed; }, 30000));
  EXPECT_FALSE(d->wbMap->Busy());
  EXPECT_TRUE(d->sgLoadingMap->isHidden());
  EXPECT_EQ(d->sgLoadingMap->Progress(), d->sgLoadingMap->maximum());
  EXPECT_EQ(d->wbMap->LocationURL(), "about:blank");
}

TEST_F(ChooseIPCountryTest, MissingFlagIsDownloadedOnceUnderTheUpperCaseName) {
  // A flag server: DE answers a picture, anything else an error page.
  QImage green(48, 48, QImage::Format_ARGB32);
  green.fill(kGreen);
  QByteArray png;
  {
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    green.save(&buffer, "PNG");
  }
  const std::string pngBytes(png.constData(), static_cast<size_t>(png.size()));
  nettest::TestHttpServer server([&](const nettest::Request& q, nettest::Connection& c) {
    if (q.target == "/flags/DE.PNG")
      c.Write(nettest::Response(200, pngBytes, "Content-Type: image/png\r\n"));
    else
      c.Write(nettest::Response(200, "<html>no such flag</html>", "Content-Type: text/html\r\n"));
  });
  auto hits = [&] { return server.RequestCount(); };
  auto lastPath = [&] { return server.Requests().back().target; };
  const int port = server.Port();
  Const("URL.FlagPath=http://127.0.0.1:" + std::to_string(port) + "/flags/\r\n");
  TCLQtDispatcher dispatcher;

  auto d = Dialog("US");
  EXPECT_EQ(MiddleColour(d->imgFL->Picture()), kRed);
  const std::string userFlag = GetCLSettings()->UserDataPath() + "DE.PNG";
  d->LoadFlag("de");
  // The old flag stays while the download runs.
  EXPECT_EQ(MiddleColour(d->imgFL->Picture()), kRed);
  ASSERT_TRUE(ProcessUntil([&] { return MiddleColour(d->imgFL->Picture()) == kGreen; }));
  EXPECT_EQ(lastPath(), "/flags/DE.PNG");
  EXPECT_TRUE(platform::FileExists(userFlag));
  // Found locally the next time.
  d->LoadFlag("US");
  d->LoadFlag("DE");
  EXPECT_EQ(hits(), 1);
  EXPECT_EQ(MiddleColour(d->imgFL->Picture()), kGreen);

  // An error page is no flag: the picture stays and nothing is kept.
  d->LoadFlag("jp");
  ASSERT_TRUE(ProcessUntil([&] { return hits() == 2 && !d->sdFlag->Busy(); }, 30000));
  ASSERT_TRUE(ProcessPosted());
  EXPECT_EQ(MiddleColour(d->imgFL->Picture()), kGreen);
  EXPECT_FALSE(platform::FileExists(GetCLSettings()->UserDataPath() + "JP.PNG"));
  // A code that is not a plain code never names a file.
  d->LoadFlag("../x");
  EXPECT_FALSE(d->sdFlag->Busy());
  EXPECT_EQ(hits(), 2);

  d.reset();
}
