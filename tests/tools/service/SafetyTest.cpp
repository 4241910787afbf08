// The operator's safety nets, with the real program: a checker that cannot
// reach its probe address blames itself instead of emptying the lists, the
// public address instead of the Host header, slow and idle connections that
// cannot take the request threads, bounded touches, the requester behind
// several forwarding headers, and what an operator watches (health, metrics,
// rotated logs).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>

#include <atomic>
#include <chrono>
#include <regex>
#include <thread>

#include "ServiceSupport.h"
#include "support/Sandbox.h"

using servicetest::Answer;
using servicetest::HttpFrom;
using LoopProxy = nettest::TinyProxy;

namespace {

class SafetyTest : public servicetest::PooledServiceTest {
 protected:
  void WriteConfig(const std::string& service, const std::string& checker,
                   const std::string& extra = "") {
    WriteServiceConfig(service, "page = http://{service}/page/download\n", checker + extra);
  }
};

// A client that opens a connection from `from` and sends a request's head
// one byte at a time, never finishing it.
class Trickler {
 public:
  bool Open(const std::string& from, int port) {
    FFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in src{}, dst{};
    src.sin_family = dst.sin_family = AF_INET;
    ::inet_pton(AF_INET, from.c_str(), &src.sin_addr);
    ::inet_pton(AF_INET, "127.0.0.1", &dst.sin_addr);
    dst.sin_port = htons(static_cast<uint16_t>(port));
    return FFd >= 0 && ::bind(FFd, reinterpret_cast<sockaddr*>(&src), sizeof src) == 0 &&
           ::connect(FFd, reinterpret_cast<sockaddr*>(&dst), sizeof dst) == 0;
  }
  ~Trickler() {
    if (FFd >= 0) ::close(FFd);
  }
  // Sends the next byte; false once the service closed the connection.
  bool Step() {
    static const std::string head = "GET /update HTTP/1.1\r\nHost: x\r\nX-Slow: ";
    const char c = FSent < head.size() ? head[FSent] : 'a';
    ++FSent;
    if (::send(FFd, &c, 1, MSG_NOSIGNAL | MSG_DONTWAIT) < 0 && errno != EAGAIN) return false;
    pollfd p{FFd, POLLIN, 0};
    if (::poll(&p, 1, 0) > 0) {
      char buf[256];
      if (::recv(FFd, buf, sizeof buf, MSG_DONTWAIT) <= 0) return false;
    }
    return true;
  }

 private:
  int FFd = -1;
  size_t FSent = 0;
};

}  // namespace

TEST_F(SafetyTest, ACheckerThatCannotReachItsProbeAddressChangesNoProxy) {
  // Two working proxies, but the public address the probes fetch is a port
  // nobody listens on (a wrong public_url, a firewall): every probe fails.
  LoopProxy one, two;
  std::string error;
  ASSERT_TRUE(one.Start(sb().Path("p2"), &error, "127.0.0.2")) << error;
  ASSERT_TRUE(two.Start(sb().Path("p3"), &error, "127.0.0.3")) << error;
  WriteConfig("public_url = http://127.0.0.1:1\n", "interval = 0.1\nfailures = 1\ntimeout = 2\n");
  std::string out;
  ASSERT_EQ(Pool({"add", one.Server(), "--country", "US"}, &out), 0) << out;
  ASSERT_EQ(Pool({"add", two.Server(), "--country", "DE", "--super"}, &out), 0) << out;
  StartService();
  ASSERT_TRUE(
      testsupport::WaitUntil([&] { return Metric("veilgate_check_rounds_blamed_total") >= 3; },
                             30000))
      << Metrics();
  // The probes did go through the proxies, to the configured address.
  EXPECT_NE(one.Log().find("127.0.0.1:1/checkip"), std::string::npos) << one.Log();
  EXPECT_EQ(Metric("veilgate_check_last_good_round_timestamp_seconds"), 0);
  ASSERT_EQ(Pool({"list"}, &out), 0);
  EXPECT_TRUE(std::regex_search(out, std::regex(one.Server() + " +normal US .* alive +0 "))) << out;
  EXPECT_TRUE(std::regex_search(out, std::regex(two.Server() + " +super +DE .* alive +0 "))) << out;
  const std::string answer = Get("/update").body;
  EXPECT_EQ(Line(answer, "__MODIFY__.NORMAL_IPS").rfind(one.Server() + "|", 0), 0u) << answer;
  EXPECT_EQ(Line(answer, "__MODIFY__.SUPER_IPS").rfind(two.Server() + "|", 0), 0u) << answer;
  // The operator reads why.
  EXPECT_NE(FService.Output().find("no proxy was changed"), std::string::npos) << FService.Output();

  // With the blame turned off the same rounds take both proxies off; the
  // answer still carries the last lists that had a proxy in them.
  FService.Stop();
  WriteConfig("public_url = http://127.0.0.1:1\n",
              "interval = 0.1\nfailures = 3\ntimeout = 2\nself_blame = 0\n");
  StartService();
  const std::string before = Get("/update").body;  // before the third round
  ASSERT_EQ(Line(before, "__MODIFY__.NORMAL_IPS").rfind(one.Server() + "|", 0), 0u) << before;
  ASSERT_TRUE(testsupport::WaitUntil(
      [&] {
        Pool({"list"}, &out);
        return std::regex_search(out, std::regex(one.Server() + " .* dead ")) &&
               std::regex_search(out, std::regex(two.Server() + " .* dead "));
      },
      30000))
      << out;
  const std::string kept = Get("/update").body;
  EXPECT_EQ(Line(kept, "__MODIFY__.NORMAL_IPS").rfind(one.Server() + "|", 0), 0u) << kept;
  EXPECT_EQ(Line(kept, "__MODIFY__.SUPER_IPS").rfind(two.Server() + "|", 0), 0u) << kept;

  // Started with every proxy dead, the service sends no list at all rather
  // than an empty one.
  FService.Stop();
  WriteConfig("public_url = http://127.0.0.1:1\n", "interval = 0\n");
  StartService();
  const std::string fresh = Get("/update").body;
  EXPECT_EQ(Line(fresh, "__MODIFY__.NORMAL_IPS"), "<absent>") << fresh;
  EXPECT_EQ(Line(fresh, "__MODIFY__.SUPER_IPS"), "<absent>") << fresh;
}

TEST_F(SafetyTest, ProbesOverTlsAndThePublicAddressInTheAnswers) {
  nettest::Certificates certs;
  std::string error;
  ASSERT_TRUE(nettest::MakeCertificates(sb().Path("certs"), certs, &error)) << error;
  LoopProxy proxy;
  ASSERT_TRUE(proxy.Start(sb().Path("p2"), &error, "127.0.0.2")) << error;
  // A service that speaks only TLS probes itself over TLS through the proxy
  // (a tunnel), verifying its certificate with the configured authority.
  const std::string tls =
      "tls_certificate = " + certs.localCertFile + "\ntls_key = " + certs.localKeyFile + "\n";
  WriteConfig(tls, "interval = 0.1\nfailures = 1\ntimeout = 3\nself_blame = 0\nca_file = " +
                       certs.caFile + "\n");
  std::string out;
  ASSERT_EQ(Pool({"add", proxy.Server(), "--country", "US"}, &out), 0) << out;
  ASSERT_EQ(Pool({"add", "127.0.0.9:1", "--country", "FR"}, &out), 0) << out;
  StartService();
  ASSERT_TRUE(testsupport::WaitUntil(
      [&] {
        Pool({"list"}, &out);
        return std::regex_search(out, std::regex(proxy.Server() + " .* alive +0 +[0-9]+ms")) &&
               std::regex_search(out, std::regex("127\\.0\\.0\\.9:1 .* dead "));
      },
      30000))
      << out << proxy.Log();
  EXPECT_NE(proxy.Log().find("CONNECT"), std::string::npos) << proxy.Log();

  // Another authority: the proxy fails its probes on the certificate.
  FService.Stop();
  WriteConfig(tls, "interval = 0.1\nfailures = 1\ntimeout = 3\nself_blame = 0\nca_file = " +
                       certs.otherCaFile + "\n");
  StartService();
  ASSERT_TRUE(testsupport::WaitUntil(
      [&] {
        Pool({"list"}, &out);
        return std::regex_search(out, std::regex(proxy.Server() + " .* dead .*https"));
      },
      30000))
      << out;

  // Behind a reverse proxy the Host header names the upstream: the public
  // address goes into the answers instead.
  FService.Stop();
  WriteConfig("public_url = https://vpn.example.com/\n", "interval = 0\n");
  StartService();
  const Answer a = Get("/update", "127.0.0.1", "X-Forwarded-Host: ignored\r\n");
  EXPECT_EQ(Line(a.body, "page"), "http://vpn.example.com/page/download") << a.body;
  EXPECT_EQ(a.body.find("127.0.0.1"), std::string::npos) << a.body;
}

TEST_F(SafetyTest, SlowAndIdleConnectionsCannotTakeTheRequestThreads) {
  // 200 connections from one loopback address trickle their requests a
  // byte at a time: the address's cap refuses most of them, the deadline
  // cuts the rest, and other clients are answered as usual.
  WriteConfig("threads = 64\nrequest_deadline = 2\nmax_connections_per_address = 16\n",
              "interval = 0\n");
  std::string out;
  ASSERT_EQ(Pool({"add", "192.0.2.10:8080", "--country", "US"}, &out), 0) << out;
  StartService();
  const int port = FService.Port();
  std::vector<std::unique_ptr<Trickler>> tricklers;
  for (int i = 0; i < 200; ++i) {
    tricklers.push_back(std::make_unique<Trickler>());
    ASSERT_TRUE(tricklers.back()->Open("127.0.0.2", port)) << i;
  }
  std::atomic<bool> stop{false};
  std::atomic<int> closed{0};
  std::thread feeder([&] {
    std::vector<bool> open(tricklers.size(), true);
    while (!stop) {
      for (size_t i = 0; i < tricklers.size(); ++i)
        if (open[i] && !tricklers[i]->Step()) {
          open[i] = false;
          ++closed;
        }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  });
  ASSERT_TRUE(testsupport::WaitUntil([&] { return closed >= 184; }, 10000)) << closed;
  // A hang guard, not a speed target: the answer comes while the tricklers trickle.
  for (int i = 0; i < 20; ++i) {
    const auto start = std::chrono::steady_clock::now();
    const Answer a = Get("/update");
    EXPECT_EQ(a.status, 200);
    EXPECT_NE(a.body.find("192.0.2.10:8080|"), std::string::npos);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  }
  // Within the cap, the deadline ends every trickler.
  EXPECT_TRUE(testsupport::WaitUntil([&] { return closed == 200; }, 15000)) << closed;
  stop = true;
  feeder.join();
  EXPECT_GE(Metric("veilgate_connections_refused_total"), 184);
  EXPECT_GE(Metric("veilgate_request_deadline_total"), 16);

  // With few threads and tricklers from as many addresses, the deadline
  // frees the threads: the service still answers.
  FService.Stop();
  WriteConfig("threads = 4\nrequest_deadline = 1\n", "interval = 0\n");
  StartService();
  tricklers.clear();
  for (int i = 0; i < 8; ++i) {
    tricklers.push_back(std::make_unique<Trickler>());
    ASSERT_TRUE(tricklers.back()->Open("127.0.1." + std::to_string(i + 1), FService.Port()));
    tricklers.back()->Step();
  }
  const Answer late = Get("/update");
  EXPECT_EQ(late.status, 200);
  EXPECT_NE(late.body.find("192.0.2.10:8080|"), std::string::npos);
}

TEST_F(SafetyTest, TouchesAreRateLimitedPerRequesterAndTheFileIsBounded) {
  WriteConfig("touch_rate = 3\ntouches = touches.log\ntouches_max_bytes = 4096\n",
              "interval = 0\n");
  StartService();
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(Get("/touch?ip=192.0.2." + std::to_string(i), "127.0.0.5").status, 200) << i;
  EXPECT_EQ(Get("/touch?ip=192.0.2.9", "127.0.0.5").status, 429);
  // Another requester has its own allowance.
  EXPECT_EQ(Get("/touch?ip=192.0.2.9", "127.0.0.6").status, 200);
  EXPECT_EQ(Get("/touches").body, "192.0.2.0\r\n192.0.2.1\r\n192.0.2.2\r\n192.0.2.9\r\n");

  // Many requesters: the file is renamed to FILE.1 when it reaches its
  // bound, so at most two bounds' worth stay on disk.
  for (int i = 1; i <= 120; ++i)
    ASSERT_EQ(Get("/touch?ip=198.51.100.7", "127.0.2." + std::to_string(i)).status, 200) << i;
  const std::string current = sb().ReadFile("svc/touches.log");
  const std::string older = sb().ReadFile("svc/touches.log.1");
  EXPECT_LE(current.size(), 4096u);
  EXPECT_LE(older.size(), 4096u);
  EXPECT_GT(older.size(), 2048u);
  EXPECT_NE(current.find(" 127.0.2.120 198.51.100.7\n"), std::string::npos) << current;
  EXPECT_NE(Metrics().find("veilgate_requests_total{endpoint=\"touch\",status=\"429\"} 1\n"),
            std::string::npos);
}

TEST_F(SafetyTest, TheRequesterBehindSeveralForwardingHeadersAndMappedAddresses) {
  WriteConfig("trusted_proxies = 127.0.0.1\nadmin = 127.0.0.6\n", "interval = 0\n");
  StartService();
  struct Case {
    const char* headers;
    const char* ip;  // the requester the answer names
  };
  const Case cases[] = {
      // A line the client wrote stands before the line the proxy added.
      {"X-Forwarded-For: 203.0.113.9\r\nX-Forwarded-For: 8.8.8.8\r\n", "8.8.8.8"},
      {"X-Forwarded-For: 127.0.0.6\r\nX-Forwarded-For: 8.8.4.4, 8.8.8.8\r\n", "8.8.8.8"},
      // An IPv4 address in IPv6 form (a dual-stack socket's peer) is placed.
      {"X-Forwarded-For: ::ffff:8.8.8.8\r\n", "8.8.8.8"},
  };
  for (const Case& c : cases) {
    const Answer a = Get("/getinfo?MagicWord=W", "127.0.0.1", c.headers);
    EXPECT_EQ(a.body, std::string("IP=") + c.ip +
                          "\r\nCOUNTRY_SHORT=US\r\nCOUNTRY_LONG=United States\r\nCITY=\r\n"
                          "REGION=\r\n38\r\n-97\r\n")
        << c.headers;
  }
  // The forged admin address in the client's own line does not open /touches.
  EXPECT_EQ(Get("/touches", "127.0.0.1",
                "X-Forwarded-For: 127.0.0.6\r\nX-Forwarded-For: 203.0.113.9\r\n")
                .status,
            403);
  EXPECT_EQ(Get("/touches", "127.0.0.1", "X-Forwarded-For: 127.0.0.6\r\n").status, 200);
}

TEST_F(SafetyTest, TheOperatorWatchesHealthMetricsAndRotatesTheLog) {
  LoopProxy proxy;
  std::string error;
  ASSERT_TRUE(proxy.Start(sb().Path("p2"), &error, "127.0.0.2")) << error;
  WriteConfig("", "interval = 0.1\nfailures = 1\ntimeout = 2\n");
  std::string out;
  ASSERT_EQ(Pool({"add", proxy.Server(), "--country", "US"}, &out), 0) << out;
  StartService();
  EXPECT_EQ(Get("/healthz").body, "ok\n");
  EXPECT_EQ(Get("/update").status, 200);
  // Metrics are for the admin addresses only.
  EXPECT_EQ(Get("/metrics", "127.0.0.5").status, 403);
  ASSERT_TRUE(testsupport::WaitUntil(
      [&] { return Metric("veilgate_check_last_good_round_timestamp_seconds") > 0; }, 30000))
      << Metrics();
  const std::string metrics = Metrics();
  for (const char* name :
       {"veilgate_request_duration_seconds_bucket{endpoint=\"update\",le=\"0.01\"} ",
        "veilgate_request_duration_seconds_count{endpoint=\"healthz\"} 1\n",
        "\nprocess_resident_memory_bytes ", "\nprocess_cpu_seconds_total ", "\nprocess_open_fds ",
        "\nprocess_start_time_seconds "})
    EXPECT_NE(metrics.find(name), std::string::npos) << name << "\n" << metrics;
  // The text is what Prometheus reads.
  if (std::system("command -v promtool >/dev/null 2>&1") == 0) {
    sb().WriteFile("svc/metrics.txt", metrics);
    EXPECT_EQ(std::system(("promtool check metrics <'" + sb().Path("svc/metrics.txt") + "' >'" +
                           sb().Path("svc/promtool.txt") + "' 2>&1")
                              .c_str()),
              0)
        << sb().ReadFile("svc/promtool.txt");
  }

  // The log is rotated: renamed, then SIGHUP; the service goes on writing
  // to a new file of the old name.
  ASSERT_TRUE(testsupport::WaitUntil(
      [&] { return sb().ReadFile("svc/requests.log").find("path=/healthz") != std::string::npos; },
      10000));
  ASSERT_EQ(std::rename(sb().Path("svc/requests.log").c_str(),
                        sb().Path("svc/requests.log.1").c_str()),
            0);
  // The answers' texts are read again with it; what takes a restart is named.
  WriteConfig("threads = 8\n", "interval = 0.1\nfailures = 1\ntimeout = 2\n",
              "[banner]\nBanner.Text = reloaded\n");
  ASSERT_EQ(::kill(FService.Pid(), SIGHUP), 0);
  EXPECT_TRUE(testsupport::WaitUntil(
      [&] { return Get("/update").body.find("Banner.Text=reloaded\r\n") != std::string::npos; },
      10000));
  EXPECT_TRUE(
      testsupport::WaitForText(sb().Path("svc/out1.txt"), "these take a restart: threads", 10000))
      << FService.Output();
  // A file that does not read changes nothing.
  sb().WriteFile("svc/service.conf", "[service]\nport = eighty\n");
  ASSERT_EQ(::kill(FService.Pid(), SIGHUP), 0);
  EXPECT_TRUE(testsupport::WaitForText(sb().Path("svc/out1.txt"), "not reloaded", 10000));
  EXPECT_NE(Get("/update").body.find("Banner.Text=reloaded\r\n"), std::string::npos);
  WriteConfig("", "interval = 0.1\nfailures = 1\ntimeout = 2\n");
  EXPECT_TRUE(testsupport::WaitUntil(
      [&] {
        Get("/page/rotated");
        return sb().Exists("svc/requests.log") &&
               sb().ReadFile("svc/requests.log").find("path=/page/rotated") != std::string::npos;
      },
      10000));
  EXPECT_TRUE(FService.Running());
  EXPECT_EQ(sb().ReadFile("svc/requests.log.1").find("path=/page/rotated"), std::string::npos);

  // Stopped between check rounds or in the middle of one, the service lets
  // the probes finish before it stops answering them: none is recorded as
  // the proxy's failure.
  FService.Stop();
  ASSERT_EQ(Pool({"list"}, &out), 0);
  EXPECT_TRUE(std::regex_search(out, std::regex(proxy.Server() + " .* alive +0 "))) << out;
}
