// The reference web service, run as the real program on a loopback port and
// asked by the application's own network code.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <regex>

#include "framework/CLSettings.h"
#include "net/Dispatcher.h"
#include "support/NetTestServers.h"
#include "framework/ServiceEndpoints.h"
#include "net/SingleDownloader.h"
#include "net/StringList.h"
#include "platform/Files.h"
#include "platform/Http.h"
#include "support/Sandbox.h"
#include "ServiceSupport.h"

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
    ASSERT_TRUE(FService.Start({VG_SERVICE_EXE, "--config", sb().Path("service/service.conf"),
                                "--port", "0"},
                               sb().Path(output)));
    std::smatch m;
    std::string out;
    const std::regex listening("listening on http://127\\.0\\.0\\.1:([0-9]+)");
    ASSERT_TRUE(testsupport::WaitUntil(
        [&] {
          out = sb().Exists(output) ? sb().ReadFile(output) : "";
          return std::regex_search(out, m, listening) || !FService.Running();
        },
        5000))
        << out;
    ASSERT_TRUE(std::regex_search(out, m, listening)) << out;
    FBase = "http://127.0.0.1:" + m[1].str();
  }

  std::string Get(const std::string& path) {
    std::string body, error;
    EXPECT_TRUE(platform::HttpGetDirect(FBase + path, body, 5000, &error)) << path << ": " << error;
    return body;
  }

  testsupport::ChildProcess FService;
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
  // clang-format off
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
  // clang-format on
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
  EXPECT_NE(second.find("__MODIFY__.NORMAL_IPS=203.0.113.1:80|Peru|PE|-75|-10\r\n"),
            std::string::npos);
  EXPECT_EQ(second.find("192.0.2.10"), std::string::npos);
}

TEST_F(ServiceTest, LocalInformationIsSevenLinesWithTheCallersAddress) {
  Start(kConfig);
  // The address the application builds from its settings.
  sb().WriteFile("app/const.dat",
                 "[setting]\nURL.GetInfo=" + FBase + "/getinfo\nApp.MagicWord=vg-test\n");
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
  // The magic word never reaches the request log, right or wrong, however written.
  EXPECT_FALSE(platform::HttpGetDirect(FBase + "/getinfo?x=1&magic%57ord=Guess-1", body, 5000));
  // The line is written once the answer has gone out.
  std::string log;
  EXPECT_TRUE(testsupport::WaitUntil(
      [&] {
        log = sb().ReadFile("service/requests.log");
        return log.find("path=/getinfo query=\"x=1&magic%57ord=-\" status=403") !=
               std::string::npos;
      },
      10000))
      << log;
  for (const char* word : {"vg-test", "VG-TEST", "other", "Guess-1"})
    EXPECT_EQ(log.find(word), std::string::npos) << log;
}

TEST_F(ServiceTest, FlagsTouchesCheckIpAndTheRequestLog) {
  const std::string png = std::string("\x89PNG\r\n\x1a\n", 8) + std::string(3000, '\x01');
  sb().WriteFile("service/flags/fr.png", png);
  Start(kConfig);
  FDispatcher = std::make_unique<TLoopDispatcher>();
  SetDispatcher(FDispatcher.get());

  // The flag as the main window fetches it: a file download of FlagPath + code + ".PNG".
  sb().WriteFile("app/const.dat", "[setting]\nURL.FlagPath=" + FBase +
                                      "/flags/\nSUPER_TOUCH=" + FBase + "/touch?ip={1}\n");
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
  EXPECT_NE(sb().ReadFile("service/touches.log").find(" 127.0.0.1 192.0.2.21\n"),
            std::string::npos);

  // The check-IP page shows where the request came from.
  EXPECT_NE(Get("/checkip").find("<p id=\"ip\">127.0.0.1</p>"), std::string::npos);
  // Pages by name, and unknown addresses.
  EXPECT_NE(Get("/redirect?ACTION=home").find("Page: home"), std::string::npos);
  EXPECT_FALSE(platform::HttpGetDirect(FBase + "/nothing-here", body, 5000));

  // One log line per request: time, peer, requester, method, address, status, size, time taken.
  // Each line is written once its answer has gone out.
  std::string log;
  EXPECT_TRUE(testsupport::WaitUntil(
      [&] {
        log = sb().ReadFile("service/requests.log");
        return log.find("path=/nothing-here status=404") != std::string::npos &&
               log.find("path=/checkip status=200") != std::string::npos;
      },
      10000))
      << log;
  EXPECT_TRUE(std::regex_search(
      log,
      std::regex(
          R"(time=\S+Z peer=127\.0\.0\.1 client=127\.0\.0\.1 method=GET path=/flags/FR\.PNG status=200 bytes=3008 ms=[0-9.]+\n)")))
      << log;
  EXPECT_TRUE(std::regex_search(log, std::regex(R"(path=/flags/ZZ\.PNG status=404 )"))) << log;
  EXPECT_TRUE(std::regex_search(log, std::regex(R"(path=/checkip status=200 )"))) << log;
}

TEST_F(ServiceTest, BadConfigurationEndsWithAMessageNamingTheLine) {
  const std::pair<const char*, const char*> cases[] = {
      {"[service]\nport = 0\nmagicword\n", "bad.conf:3: expected name = value"},
      {"[service]\nport = 80a\n", "bad.conf:2: port must be a number from 0 to 65535"},
      {"; x\n[checker]\ninterval = soon\n", "bad.conf:3: interval must be seconds"},
      {"[checker]\nfailures = 0\n", "bad.conf:2: failures must be a number from 1 to 1000"},
      {"[service]\ntrusted_proxies = 127.0.0.1, proxy.example\n",
       "bad.conf:2: not an address or network: proxy.example"},
      {"[servce]\nport = 1\n", "bad.conf:1: unknown section [servce]"},
      {"[service]\ndatabase = p.db\n[normal]\n192.0.2.1:80|Peru|PE|-75|-10\n",
       "line 4: [normal] and [super] are not read when a pool database is configured"},
      {"[service]\ntls_certificate = missing.pem\ntls_key = missing.key\nport = 0\n",
       "cannot use the certificate"},
  };
  for (auto& [text, message] : cases) {
    sb().WriteFile("service/bad.conf", text);
    testsupport::ChildProcess p;
    ASSERT_TRUE(p.Start({VG_SERVICE_EXE, "--config", sb().Path("service/bad.conf")},
                        sb().Path("service/bad.txt")));
    EXPECT_TRUE(testsupport::WaitUntil([&] { return !p.Running(); }, 10000)) << text;
    EXPECT_NE(sb().ReadFile("service/bad.txt").find(message), std::string::npos)
        << text << "\n"
        << sb().ReadFile("service/bad.txt");
  }
  testsupport::ChildProcess q;
  ASSERT_TRUE(q.Start({VG_SERVICE_EXE, "--config", sb().Path("service/missing.conf")},
                      sb().Path("service/m.txt")));
  EXPECT_TRUE(testsupport::WaitUntil([&] { return !q.Running(); }, 5000));
  EXPECT_NE(sb().ReadFile("service/m.txt").find("cannot read"), std::string::npos);
}

// The service's own boundaries; suites named "Security..." also carry the
// label "security".
class SecurityService : public ServiceTest {};

TEST_F(SecurityService, ServesHttpsWithTheConfiguredCertificate) {
  nettest::Certificates certs;
  std::string error;
  ASSERT_TRUE(nettest::MakeCertificates(sb().Path("certs"), certs, &error)) << error;
  std::string config = kConfig;
  config.replace(config.find("[update]"), 0,
                 "tls_certificate = " + certs.localCertFile + "\ntls_key = " + certs.localKeyFile +
                     "\n");
  sb().WriteFile("service/tls.conf", config);
  ASSERT_TRUE(
      FService.Start({VG_SERVICE_EXE, "--config", sb().Path("service/tls.conf"), "--port", "0"},
                     sb().Path("service/tls.txt")));
  std::smatch m;
  std::string out;
  ASSERT_TRUE(testsupport::WaitUntil(
      [&] {
        out = sb().ReadFile("service/tls.txt");
        return std::regex_search(out, m,
                                 std::regex("listening on https://127\\.0\\.0\\.1:([0-9]+)"));
      },
      10000))
      << out;
  const std::string base = "https://127.0.0.1:" + m[1].str();
  // Verified against the test authority, host name included.
  const std::string curl = "curl -sS --max-time 10 --cacert '" + certs.caFile + "' ";
  ASSERT_EQ(std::system((curl + base + "/update -o '" + sb().Path("service/answer.txt") + "' 2>'" +
                         sb().Path("service/curl.txt") + "'")
                            .c_str()),
            0)
      << sb().ReadFile("service/curl.txt");
  EXPECT_NE(sb().ReadFile("service/answer.txt").find("magicword=VG-TEST\r\n"), std::string::npos);
  // Another authority is not trusted; plain HTTP gets no answer.
  EXPECT_NE(std::system(("curl -sS --max-time 10 --cacert '" + certs.otherCaFile + "' " + base +
                         "/update >/dev/null 2>&1")
                            .c_str()),
            0);
  std::string body;
  EXPECT_FALSE(platform::HttpGetDirect("http://127.0.0.1:" + m[1].str() + "/update", body, 5000));
}

TEST_F(SecurityService, RequestHeadersAndBodiesAreBounded) {
  Start(kConfig);
  const int port = std::stoi(FBase.substr(FBase.rfind(':') + 1));
  // Many headers that are each short enough still add up.
  std::string headers;
  for (int i = 0; i < 40; ++i)
    headers += "X-Filler-" + std::to_string(i) + ": " + std::string(600, 'a') + "\r\n";
  EXPECT_EQ(servicetest::HttpFrom("127.0.0.1", port, "/update", headers).status, 431);
  // Only GET is served: a body is refused without being read, and the connection ends.
  const servicetest::Answer post =
      servicetest::HttpFrom("127.0.0.1", port, "/update", "", "POST", std::string(100000, 'b'));
  EXPECT_EQ(post.status, 405);
  EXPECT_NE(post.head.find("Connection: close"), std::string::npos) << post.head;
  // Ordinary requests still work, and the refusals were counted.
  EXPECT_EQ(servicetest::HttpFrom("127.0.0.1", port, "/update").status, 200);
  const std::string metrics = Get("/metrics");
  EXPECT_NE(metrics.find("veilgate_requests_total{endpoint=\"update\",status=\"431\"} 1\n"),
            std::string::npos)
      << metrics;
  EXPECT_NE(metrics.find("veilgate_requests_total{endpoint=\"update\",status=\"405\"} 1\n"),
            std::string::npos)
      << metrics;
}

// The magic word travels as "PID" when the program has no product id: its
// value never reaches the request log under that name either.
TEST_F(SecurityService, TheMagicWordIsNotLoggedAsThePidEither) {
  Start(kConfig);
  Get("/update?PID=VG-TEST&Ver=2&pid=Secret-2");
  std::string log;
  EXPECT_TRUE(testsupport::WaitUntil(
      [&] {
        log = sb().ReadFile("service/requests.log");
        return log.find("query=\"PID=-&Ver=2&pid=-\"") != std::string::npos;
      },
      10000))
      << log;
  for (const char* word : {"VG-TEST", "Secret-2"}) EXPECT_EQ(log.find(word), std::string::npos);
}

// The request log and the touches log hold users' addresses: the operator's
// alone under any umask, never written through a link planted in their
// place; the shipped unit makes every file of the service private.
TEST_F(SecurityService, LogsOfUsersAddressesAreTheOperatorsAlone) {
  sb().WriteFile("victim.txt", "precious");
  ASSERT_TRUE(platform::ForceDirectories(sb().Path("service")));
  ASSERT_EQ(::symlink(sb().Path("victim.txt").c_str(), sb().Path("service/touches.log").c_str()),
            0);
  const mode_t old = ::umask(0);
  Start(kConfig);
  ::umask(old);
  Get("/touch?ip=192.0.2.20");
  EXPECT_EQ(sb().ReadFile("victim.txt"), "precious");
  ASSERT_TRUE(platform::DeleteFileAt(sb().Path("service/touches.log")));
  Get("/touch?ip=192.0.2.20");
  std::string log;
  ASSERT_TRUE(testsupport::WaitUntil(
      [&] {
        log = sb().Exists("service/requests.log") ? sb().ReadFile("service/requests.log") : "";
        return log.find("path=/touch ") != std::string::npos;
      },
      10000));
  for (const char* name : {"service/requests.log", "service/touches.log"}) {
    struct stat st {};
    ASSERT_EQ(::lstat(sb().Path(name).c_str(), &st), 0) << name;
    EXPECT_TRUE(S_ISREG(st.st_mode)) << name;
    EXPECT_EQ(st.st_mode & 07777, 0600u) << name;
  }
  EXPECT_NE(sb().ReadFile("service/touches.log").find("192.0.2.20"), std::string::npos);
  const std::string unit =
      testsupport::ReadText(std::string(VG_SOURCE_DIR) + "/tools/service/veilgate-service.service");
  EXPECT_TRUE(std::regex_search(unit, std::regex("\n\\[Service\\][^\\[]*\nUMask=0077\n")));
}
