// A new service address given in the settings dialog takes effect without a
// restart: the main window asks the new service for the local information
// and the lists at once, also when the automatic check's schedule says the
// next check is not due yet. Two reference services on loopback, each with
// its own answers.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "MainWindowSupport.h"
#include "framework/CLSettings.h"
#include "platform/Files.h"
#include "framework/qt/windows/CLFrameworkWindows.h"
#include "proxy/LocalInfo.h"
#include "proxy/ServiceProcess.h"
#include "proxy/uProxyManager.h"
#include "ui/uSettings.h"
#include "vcl/ActnList.h"
#include "vcl/Controls.h"

using namespace mainwin;

namespace {

class ServiceChangeTest : public MainWindowTest {
 protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    // The real update window asks the service for its answer.
    CLFrameworkWindows().CreateUpdateWindow = CLDefaultFrameworkWindows().CreateUpdateWindow;
  }
  void TearDown() override {
    MainWindowTest::TearDown();
    FServices.clear();
  }
  // A reference service whose lists hold one proxy and whose local
  // information names one country.
  proxytest::TServiceProcess& Service(const std::string& name, const std::string& proxy,
                                      const std::string& countryShort,
                                      const std::string& countryLong, const std::string& city) {
    const std::string conf = sb().Path(name + ".conf");
    sb().WriteFile(name + ".conf",
                   "[service]\nlisten = 127.0.0.1\nport = 0\nmagicword = VG-TEST\n"
                   "[update]\nResult = 0\n"
                   "[normal]\n" +
                       proxy + "|" + countryLong + "|" + countryShort + "|10|20\n[super]\n" +
                       "[localinfo]\nip =\ncountry_short = " + countryShort +
                       "\ncountry_long = " + countryLong + "\ncity = " + city +
                       "\nregion = " + city + "\nlatitude = 20\nlongitude = 10\n");
    FServices.push_back(std::make_unique<proxytest::TServiceProcess>(VG_SERVICE_EXE, conf));
    return *FServices.back();
  }
  // What the window holds now: the country of the local information and
  // the normal list.
  static std::string LocalCountry(TfrmMain& w) {
    return TLocalInfo::Read(w.FProxyManager->FLocalInfo).CountryShort;
  }
  static std::string NormalList(TfrmMain& w) { return w.FProxyManager->FNormalProxyList.Text(); }

  std::vector<std::unique_ptr<proxytest::TServiceProcess>> FServices;
};

TEST_F(ServiceChangeTest, TheNewServicesInformationAndListsArriveWithoutARestart) {
  struct Case {
    const char* what;
    std::vector<std::string> lines;  // of "const.dat"
  };
  const std::vector<Case> cases = {
      {"the automatic check is due at every start", {}},
      // The service asked for one check a week: the change of service
      // cannot wait for it.
      {"the next automatic check is a week away", {"Update.Days=7"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CloseWindow();
    FServices.clear();
    // Each case starts from a first run: no user settings yet.
    const std::string userFile = GetCLSettings()->SettingFilePath();
    ReleaseCLSettings();
    platform::DeleteFileAt(userFile);
    proxytest::TServiceProcess& first =
        Service("first", "192.0.2.1:8080", "US", "United States", "Dallas");
    proxytest::TServiceProcess& second =
        Service("second", "198.51.100.7:3128", "FR", "France", "Paris");
    ASSERT_TRUE(first.Running()) << first.Output();
    ASSERT_TRUE(second.Running()) << second.Output();
    std::vector<std::string> lines = {"URL.Service=" + first.Base(), "Update.BeginAuto=0",
                                      "Update.AutoCheck=0", "Update.AutoClose=1"};
    lines.insert(lines.end(), c.lines.begin(), c.lines.end());
    Const(lines);

    TfrmMain& w = Window();
    // The start's automatic check, as the window's first paint runs it.
    w.Engine()->AppUpdateAuto();
    ASSERT_TRUE(Until(
        [&] {
          return w.FLocalInfoGot && !w.tmrInit->Running() && LocalCountry(w) == "US" &&
                 NormalList(w).find("192.0.2.1:8080") != std::string::npos;
        },
        30000))
        << LocalCountry(w) << " / " << NormalList(w);
    const int checks = GetCLSettings()->GetSettingInteger("Update.Times");

    // The user types the second service's address and presses OK.
    WhenModal([&](QWidget*) {
      ASSERT_NE(frmSettings, nullptr);
      frmSettings->edtService->SetText(second.Base() + "/");
      frmSettings->btnOK->click();
    });
    w.actSettings->Execute();
    EXPECT_EQ(GetCLSettings()->GetSettingString("URL.Service"), second.Base());

    // The second service's answers replace the first's.
    EXPECT_TRUE(Until(
        [&] {
          return w.FLocalInfoGot && !w.tmrInit->Running() && LocalCountry(w) == "FR" &&
                 NormalList(w).find("198.51.100.7:3128") != std::string::npos;
        },
        30000))
        << LocalCountry(w) << " / " << NormalList(w);
    EXPECT_EQ(NormalList(w).find("192.0.2.1:8080"), std::string::npos) << NormalList(w);
    EXPECT_EQ(TLocalInfo::Read(w.FProxyManager->FLocalInfo).City, "Paris");
    EXPECT_GT(GetCLSettings()->GetSettingInteger("Update.Times"), checks);
    TStringList countries;
    w.FProxyManager->GetCountryList(&countries);
    EXPECT_EQ(countries.Text(), "France\r\n");
  }
}

}  // namespace
#endif
