// The reference web service, run as the real program on a loopback port and
// asked by the application's own network code.
#include <gtest/gtest.h>

#include <memory>
#include <regex>

#include "framework/CLSettings.h"
#include "net/Dispatcher.h"
#include "net/NetTestServers.h"
#include "net/ServiceEndpoints.h"
#include "net/SingleDownloader.h"
#include "net/StringList.h"
#include "platform/Http.h"
#include "support/Sandbox.h"

namespace {

const char* const kConfig =
    "; test configuration\n"
    "[service]\n"
    "listen = 127.0.0.1\n"
    "port = 8470\n"
    "magicword = VG-TEST\n"
    "flags = flags\n"
    "log = requests.log\n"
    "touches = touches.log\n"
    "[update]\n"
    "Result = 1\n"
    "info = Version 2 is out\n"
    "page = http://{service}/page/download\n"
    "Extra = kept\n"
    "[banner]\n"
    "Banner.URL = http://{service}/page/banner\n"
    "Height = 120\n"
    "[settings]\n"
    "SUPER_TOUCH = http://{service}/touch?ip={1}\n"
    "URL.CheckIP = http://{service}/checkip\n"
    "[normal]\n"
    "192.0.2.10:8080|United States|US|-97|38\n"
    "192.0.2.11:3128|Cote d'Ivoire|CI|-5|8\n"
    "[super]\n"
    "192.0.2.20:8080|Japan|JP|138|36\n"
    "[localinfo]\n"
    "country_short = FR\n"
    "country_long = France\n"
    "city = Paris\n"
    "region = Ile-de-France\n"
    "latitude = 48.85\n"
    "longitude = 2.35\n";

class ServiceTest : public SandboxTest {
 protected:
  void TearDown() override {
    FService.Stop();
    SetDispatcher(nullptr);
    FDispatcher.reset();
    ReleaseCLSettings();
    SandboxTest::TearDown();
  }

  // Starts the service on a free port with the configuration text.
  void Start(const std::string& config) {
    sb().WriteFile("service/service.conf", config);
    // A fresh output file per start, so an earlier start's line is never read.
    const std::string output = "service/stdout" + std::to_string(++FStarts) + ".txt";
    ASSERT_TRUE(FService.Start({VG_SERVICE_EXE, "--config", sb().Path("service/service.conf"), "--port", "0"},
                               sb().Path(output)));
    std::smatch m;
    std::string out;
    const std::regex listening("listening on http://127\\.0\\.0\\.1:([0-9]+)");
    ASSERT_TRUE(nettest::WaitFor([&] {
      out = sb().Exists(output) ? sb().ReadFile(output) : "";
      return std::regex_search(out, m, listening) || !FService.Running();
    }, 5000)) << out;
    ASSERT_TRUE(std::regex_search(out, m, listening)) << out;
    FBase = "http://127.0.0.1:" + m[1].str();
  }

  std::string Get(const std::string& path) {
    std::string body, error;
    EXPECT_TRUE(platform::HttpGetDirect(FBase + path, body, 5000, &error)) << path << ": " << error;
    return body;
  }

  nettest::ChildProcess FService;
  std::string FBase;
  int FStarts = 0;
  std::unique_ptr<TLoopDispatcher> FDispatcher;
};

}  // namespace

TEST_F(ServiceTest, UpdateAnswerDeliversSettingsThroughTheDownloader) {
  Start(kConfig);
  FDispatcher = std::make_unique<TLoopDispatcher>();
  SetDispatcher(FDispatcher.get());
  TSingleDownloader sd;
  std::string answer;
  int errors = 0;
  sd.OnDoneString = [&](TSingleDownloader*, const std::string& text) { answer = text; };
  sd.OnError = [&](TSingleDownloader*) { ++errors; };
  sd.URL = FBase + "/update?ACTION=Update&12345&PID=x";
  sd.GetString();
  ASSERT_TRUE(FDispatcher->PumpUntil([&] { return !sd.Busy(); }, 10000));
  ASSERT_EQ(errors, 0);
  const std::string self = FBase.substr(7);
  EXPECT_EQ(answer,
            "magicword=VG-TEST\r\n"
            "Result=1\r\n"
            "info=Version 2 is out\r\n"
            "page=http://" + self + "/page/download\r\n"
            "Extra=kept\r\n"
            "Banner.URL=http://" + self + "/page/banner\r\n"
            "Banner.Height=120\r\n"
            "__MODIFY__.NORMAL_IPS=192.0.2.10:8080|United States|US|-97|38;192.0.2.11:3128|Cote d'Ivoire|CI|-5|8\r\n"
            "__MODIFY__.SUPER_IPS=192.0.2.20:8080|Japan|JP|138|36\r\n"
            "__MODIFY__.SUPER_TOUCH=http://" + self + "/touch?ip={1}\r\n"
            "__MODIFY__.URL.CheckIP=http://" + self + "/checkip\r\n");
  TStringList lines;
  lines.SetText(answer);
  EXPECT_EQ(lines.Values("MAGICWORD"), "VG-TEST");
  EXPECT_EQ(lines.Values("__MODIFY__.SUPER_IPS"), "192.0.2.20:8080|Japan|JP|138|36");
  // The same answer under the redirect address, for the page "Update".
  EXPECT_EQ(Get("/redirect?ACTION=Update&00000"), answer);

  // A [settings] line of its own replaces the proxy section.
  FService.Stop();
  Start(std::string(kConfig) + "[settings]\nNORMAL_IPS = 203.0.113.1:80|Peru|PE|-75|-10\n");
  const std::string second = Get("/update");
  EXPECT_NE(second.find("__MODIFY__.NORMAL_IPS=203.0.113.1:80|Peru|PE|-75|-10\r\n"), std::string::npos);
  EXPECT_EQ(second.find("192.0.2.10"), std::string::npos);
}

TEST_F(ServiceTest, LocalInformationIsSevenLinesWithTheCallersAddress) {
  Start(kConfig);
  // The address the application builds from its settings.
  sb().WriteFile("app/const.dat", "[setting]\nURL.GetInfo=" + FBase + "/getinfo\nApp.MagicWord=vg-test\n");
  ReleaseCLSettings();
  const std::string url = ServiceEndpoints::LocalInfoURL();
  std::string body, error;
  ASSERT_TRUE(platform::HttpGetDirect(url, body, 5000, &error)) << error;
  EXPECT_EQ(body,
            "IP=127.0.0.1\r\nCOUNTRY_SHORT=FR\r\nCOUNTRY_LONG=France\r\nCITY=Paris\r\n"
            "REGION=Ile-de-France\r\n48.85\r\n2.35\r\n");
  TStringList lines;
  lines.SetText(body);
  ASSERT_EQ(lines.Count(), 7);
  EXPECT_EQ(lines.Values("IP"), "127.0.0.1");
  EXPECT_EQ(lines[5], "48.85");
  EXPECT_EQ(lines[6], "2.35");
  // Another magic word gets no answer.
  EXPECT_FALSE(platform::HttpGetDirect(FBase + "/getinfo?MagicWord=other", body, 5000));
  EXPECT_FALSE(platform::HttpGetDirect(FBase + "/getinfo", body, 5000));

  // A configured address replaces the caller's.
  FService.Stop();
  std::string config = kConfig;
  config.replace(config.find("country_short"), 0, "ip = 198.51.100.7\n");
  Start(config);
  EXPECT_EQ(Get("/getinfo?MagicWord=VG-TEST").substr(0, 16), "IP=198.51.100.7\r");
}

TEST_F(ServiceTest, FlagsTouchesCheckIpAndTheRequestLog) {
  const std::string png = std::string("\x89PNG\r\n\x1a\n", 8) + std::string(3000, '\x01');
  sb().WriteFile("service/flags/fr.png", png);
  Start(kConfig);
  FDispatcher = std::make_unique<TLoopDispatcher>();
  SetDispatcher(FDispatcher.get());

  // The flag as the main window fetches it: a file download of FlagPath + code + ".PNG".
  sb().WriteFile("app/const.dat", "[setting]\nURL.FlagPath=" + FBase + "/flags/\nSUPER_TOUCH=" + FBase +
                                      "/touch?ip={1}\n");
  ReleaseCLSettings();
  TSingleDownloader sd;
  int done = 0, errors = 0;
  sd.OnDoneFile = [&](TSingleDownloader*, const std::string&, int64_t size) {
    ++done;
    EXPECT_EQ(size, static_cast<int64_t>(png.size()));
  };
  sd.OnError = [&](TSingleDownloader*) { ++errors; };
  sd.BinaryData = true;
  sd.URL = ServiceEndpoints::FlagURL("FR");
  sd.FileName = sb().Path("user/FR.PNG");
  sd.GetFile();
  ASSERT_TRUE(FDispatcher->PumpUntil([&] { return !sd.Busy(); }, 10000));
  EXPECT_EQ(done, 1);
  EXPECT_EQ(sb().ReadFile("user/FR.PNG"), png);
  // Unknown flags and names that try to leave the folder are not found.
  sd.URL = ServiceEndpoints::FlagURL("ZZ");
  sd.GetFile();
  ASSERT_TRUE(FDispatcher->PumpUntil([&] { return !sd.Busy(); }, 10000));
  EXPECT_EQ(errors, 1);
  std::string body;
  EXPECT_FALSE(platform::HttpGetDirect(FBase + "/flags/..%2Fservice.conf", body, 5000));
  EXPECT_FALSE(platform::HttpGetDirect(FBase + "/flags/..%2Fflags%2Ffr.png", body, 5000));

  // Touches are recorded, in order.
  EXPECT_EQ(Get(ServiceEndpoints::TouchURL("192.0.2.20").substr(FBase.size())), "OK\r\n");
  EXPECT_EQ(Get("/touch?ip=192.0.2.21"), "OK\r\n");
  EXPECT_EQ(Get("/touches"), "192.0.2.20\r\n192.0.2.21\r\n");
  EXPECT_NE(sb().ReadFile("service/touches.log").find(" 127.0.0.1 192.0.2.21\n"), std::string::npos);

  // The check-IP page shows where the request came from.
  EXPECT_NE(Get("/checkip").find("<p id=\"ip\">127.0.0.1</p>"), std::string::npos);
  // Pages by name, and unknown addresses.
  EXPECT_NE(Get("/redirect?ACTION=home").find("Page: home"), std::string::npos);
  EXPECT_FALSE(platform::HttpGetDirect(FBase + "/nothing-here", body, 5000));

  // One log line per request: time, caller, method, address, status.
  const std::string log = sb().ReadFile("service/requests.log");
  EXPECT_TRUE(std::regex_search(log, std::regex(R"(\S+Z 127\.0\.0\.1 GET /flags/FR\.PNG 200 3008\n)"))) << log;
  EXPECT_TRUE(std::regex_search(log, std::regex(R"(GET /flags/ZZ\.PNG 404 )"))) << log;
  EXPECT_TRUE(std::regex_search(log, std::regex(R"(GET /checkip 200 )"))) << log;
}

TEST_F(ServiceTest, BadConfigurationEndsWithAMessage) {
  sb().WriteFile("service/bad.conf", "[service]\nport = 0\nmagicword\n");
  nettest::ChildProcess p;
  ASSERT_TRUE(p.Start({VG_SERVICE_EXE, "--config", sb().Path("service/bad.conf")}, sb().Path("service/bad.txt")));
  EXPECT_TRUE(nettest::WaitFor([&] { return !p.Running(); }, 5000));
  EXPECT_NE(sb().ReadFile("service/bad.txt").find("bad.conf:3: expected name = value"), std::string::npos);
  nettest::ChildProcess q;
  ASSERT_TRUE(q.Start({VG_SERVICE_EXE, "--config", sb().Path("service/missing.conf")}, sb().Path("service/m.txt")));
  EXPECT_TRUE(nettest::WaitFor([&] { return !q.Running(); }, 5000));
  EXPECT_NE(sb().ReadFile("service/m.txt").find("cannot read"), std::string::npos);
}
