// The proxy pool and its checker, with the real program: the pool commands,
// real tinyproxies on loopback addresses of their own (one alive, one killed
// and started again, one that accepts connections and never answers), a
// service killed in the middle of a check round, and the requester's
// address behind trusted and untrusted peers.
#include <gtest/gtest.h>

#include <regex>

#include "ServiceSupport.h"
#include "support/Sandbox.h"

using servicetest::Answer;
using servicetest::HttpFrom;
using LoopProxy = nettest::TinyProxy;

namespace {

class PoolTest : public servicetest::PooledServiceTest {
 protected:
  // `extra` lines go to the end of the checker's section.
  void WriteConfig(const std::string& checker, const std::string& extra = "") {
    WriteServiceConfig("", "", checker + extra);
  }
};

}  // namespace

TEST_F(PoolTest, PoolCommandsAddImportListAndRemoveAllOrNothing) {
  WriteConfig("interval = 0\n");
  std::string out;
  // Operators add proxies: placed by GeoIP, by an operator's country, or given whole.
  ASSERT_EQ(Pool({"add", "8.8.8.8:3128"}, &out), 0) << out;
  EXPECT_NE(out.find("8.8.8.8:3128|United States|US|"), std::string::npos) << out;
  ASSERT_EQ(Pool({"add", "192.0.2.10:8080", "--country", "fr", "--super"}, &out), 0) << out;
  EXPECT_NE(out.find("192.0.2.10:8080|France|FR|2|46"), std::string::npos) << out;
  ASSERT_EQ(Pool({"add", "192.0.2.11:80|Japan|JP|138|36"}, &out), 0) << out;

  // Bad addresses are refused with a reason, and change nothing.
  EXPECT_EQ(Pool({"add", "300.1.1.1:80"}, &out), 1);
  EXPECT_NE(out.find("\"300.1.1.1\" is not an IPv4 address"), std::string::npos) << out;
  EXPECT_EQ(Pool({"add", "192.0.2.12:0"}, &out), 1);
  EXPECT_NE(out.find("is not a port"), std::string::npos) << out;
  EXPECT_EQ(Pool({"add", "proxy.example:80"}, &out), 1);
  EXPECT_EQ(Pool({"add", "192.0.2.12:80", "--country", "QQ"}, &out), 1);
  EXPECT_NE(out.find("\"QQ\" is not a known two-letter country code"), std::string::npos) << out;
  EXPECT_EQ(Pool({"add", "8.8.8.8:3128"}, &out), 1);
  EXPECT_NE(out.find("already in the pool"), std::string::npos) << out;

  // An import with bad lines names each of them and imports none of its good ones.
  sb().WriteFile("svc/bad.txt",
                 "# comment\n192.0.2.20:80\n192.0.2.21:port\n\n192.0.2.22:80|Peru|PE|-75\n"
                 "192.0.2.23:80|Peru|PE|-75|-10\n");
  EXPECT_EQ(Pool({"import", sb().Path("svc/bad.txt")}, &out), 1);
  EXPECT_NE(out.find("bad.txt:3: \"port\" is not a port"), std::string::npos) << out;
  EXPECT_NE(out.find("bad.txt:5: expected HOST:PORT"), std::string::npos) << out;
  EXPECT_NE(out.find("nothing imported"), std::string::npos) << out;
  // A line that clashes with the pool stops the whole import too.
  sb().WriteFile("svc/clash.txt", "192.0.2.30:80\n8.8.8.8:3128\n");
  EXPECT_EQ(Pool({"import", sb().Path("svc/clash.txt")}, &out), 1);
  EXPECT_NE(out.find("8.8.8.8:3128 is already in the pool; nothing imported"), std::string::npos)
      << out;
  ASSERT_EQ(Pool({"list"}, &out), 0);
  EXPECT_NE(out.find("3 proxies"), std::string::npos) << out;
  EXPECT_EQ(out.find("192.0.2.20"), std::string::npos) << out;
  EXPECT_EQ(out.find("192.0.2.30"), std::string::npos) << out;

  sb().WriteFile("svc/good.txt", "192.0.2.20:80\n192.0.2.23:80|Peru|PE|-75|-10\n");
  ASSERT_EQ(Pool({"import", sb().Path("svc/good.txt"), "--super"}, &out), 0) << out;
  EXPECT_NE(out.find("imported 2 proxies"), std::string::npos);

  // The running service delivers the pool's lists, and sees later changes.
  StartService();
  const std::string answer = Update();
  EXPECT_EQ(Line(answer, "__MODIFY__.NORMAL_IPS"),
            "8.8.8.8:3128|United States|US|-97|38;192.0.2.11:80|Japan|JP|138|36")
      << answer;
  EXPECT_EQ(Line(answer, "__MODIFY__.SUPER_IPS"),
            "192.0.2.10:8080|France|FR|2|46;192.0.2.20:80||||;192.0.2.23:80|Peru|PE|-75|-10")
      << answer;
  ASSERT_EQ(Pool({"remove", "8.8.8.8:3128"}, &out), 0) << out;
  EXPECT_EQ(Pool({"remove", "8.8.8.8:3128"}, &out), 1);
  EXPECT_NE(out.find("not in the pool"), std::string::npos) << out;
  EXPECT_TRUE(testsupport::WaitUntil(
      [&] { return Line(Update(), "__MODIFY__.NORMAL_IPS") == "192.0.2.11:80|Japan|JP|138|36"; },
      10000))
      << Update();
  // The proxies by country and state.
  EXPECT_NE(Metrics().find("veilgate_proxies{country=\"JP\",state=\"alive\"} 1\n"),
            std::string::npos);
}

TEST_F(PoolTest, CheckerTakesDeadProxiesOffTheListsAndBringsThemBack) {
  LoopProxy alive, killed, silent, spare;
  std::string error;
  ASSERT_TRUE(alive.Start(sb().Path("p2"), &error, "127.0.0.2")) << error;
  ASSERT_TRUE(killed.Start(sb().Path("p3"), &error, "127.0.0.3")) << error;
  ASSERT_TRUE(silent.Start(sb().Path("p4"), &error, "127.0.0.4")) << error;
  ASSERT_TRUE(spare.Start(sb().Path("p5"), &error, "127.0.0.5")) << error;
  silent.Pause();
  WriteConfig("interval = 0.2\nfailures = 2\ntimeout = 1\nworkers = 4\n");
  std::string out;
  ASSERT_EQ(Pool({"add", alive.Server(), "--country", "US"}, &out), 0) << out;
  ASSERT_EQ(Pool({"add", killed.Server(), "--country", "DE"}, &out), 0) << out;
  ASSERT_EQ(Pool({"add", silent.Server(), "--country", "JP", "--super"}, &out), 0) << out;
  ASSERT_EQ(Pool({"add", spare.Server(), "--country", "JP", "--super"}, &out), 0) << out;
  StartService();

  auto listed = [&](const LoopProxy& p) {
    return Update().find(p.Server() + "|") != std::string::npos;
  };
  // The proxy that never answers leaves the lists; the others stay.
  ASSERT_TRUE(testsupport::WaitUntil([&] { return !listed(silent); }, 30000)) << Update();
  EXPECT_TRUE(testsupport::WaitUntil([&] { return listed(alive) && listed(killed); }, 30000))
      << Update();
  EXPECT_EQ(Line(Update(), "__MODIFY__.SUPER_IPS").rfind(spare.Server() + "|Japan|JP|", 0), 0u)
      << Update();
  // The checks went through the proxies to the service's own /checkip.
  EXPECT_NE(alive.Log().find("checkip"), std::string::npos) << alive.Log();
  ASSERT_EQ(Pool({"list"}, &out), 0);
  // A paused proxy accepts and never answers; should it refuse instead, its
  // own log says what became of it.
  EXPECT_TRUE(std::regex_search(out, std::regex(silent.Server() +
                                                R"( +super +JP Japan +dead .*no answer in time)")))
      << out << "\nthe paused proxy's log:\n"
      << silent.Log();

  // Killed in the middle of the run: it leaves; started again: it returns.
  killed.Stop();
  ASSERT_TRUE(testsupport::WaitUntil([&] { return !listed(killed); }, 30000)) << Update();
  ASSERT_TRUE(killed.Restart());
  EXPECT_TRUE(testsupport::WaitUntil([&] { return listed(killed); }, 30000)) << Update();
  EXPECT_TRUE(testsupport::WaitUntil([&] { return listed(alive); }, 30000)) << Update();
  EXPECT_FALSE(listed(silent));

  const std::string metrics = Metrics();
  EXPECT_TRUE(
      std::regex_search(metrics, std::regex(R"(veilgate_checks_total\{result="pass"\} [1-9])")))
      << metrics;
  EXPECT_TRUE(
      std::regex_search(metrics, std::regex(R"(veilgate_checks_total\{result="fail"\} [1-9])")))
      << metrics;
  EXPECT_NE(metrics.find("veilgate_proxies{country=\"JP\",state=\"dead\"} 1"), std::string::npos)
      << metrics;
  EXPECT_TRUE(
      std::regex_search(metrics, std::regex(R"(veilgate_check_latency_seconds_count [1-9])")))
      << metrics;
  EXPECT_TRUE(std::regex_search(
      metrics, std::regex(R"(veilgate_requests_total\{endpoint="update",status="200"\} [1-9])")))
      << metrics;
}

TEST_F(PoolTest, KilledDuringACheckRoundItRestartsWithEveryCommittedChange) {
  LoopProxy alive, silent;
  std::string error;
  ASSERT_TRUE(alive.Start(sb().Path("p2"), &error, "127.0.0.2")) << error;
  ASSERT_TRUE(silent.Start(sb().Path("p4"), &error, "127.0.0.4")) << error;
  silent.Pause();
  // One probe at a time, the silent proxy last and slow: the round is still
  // under way after the first proxy passed.
  WriteConfig("interval = 0.1\nfailures = 1\ntimeout = 5\nworkers = 1\n");
  std::string out;
  ASSERT_EQ(Pool({"add", "127.0.0.9:1", "--country", "FR"}, &out), 0) << out;
  ASSERT_EQ(Pool({"add", alive.Server(), "--country", "US"}, &out), 0) << out;
  ASSERT_EQ(Pool({"add", silent.Server(), "--country", "JP"}, &out), 0) << out;
  StartService();
  ASSERT_TRUE(testsupport::WaitUntil(
      [&] {
        return std::regex_search(Metrics(),
                                 std::regex(R"(veilgate_checks_total\{result="pass"\} [1-9])"));
      },
      30000))
      << Metrics();
  // A change made by the operator while the service runs.
  ASSERT_EQ(Pool({"add", "192.0.2.50:80", "--country", "PE"}, &out), 0) << out;
  FService.Kill();

  // Every committed change is there: the checks made so far and the addition.
  ASSERT_EQ(Pool({"list"}, &out), 0) << out;
  EXPECT_NE(out.find("4 proxies"), std::string::npos) << out;
  EXPECT_TRUE(std::regex_search(
      out,
      std::regex("127\\.0\\.0\\.9:1 +normal FR France +dead +[1-9][0-9]* .*Connection refused")))
      << out;
  EXPECT_TRUE(std::regex_search(out, std::regex(alive.Server() +
                                                " +normal US United States +alive +0 +[0-9]+ms")))
      << out;
  EXPECT_TRUE(
      std::regex_search(out, std::regex("192\\.0\\.2\\.50:80 +normal PE Peru +alive +0 +- +never")))
      << out;

  // The service starts again on the same pool and answers from it (no
  // checks now, so the answer shows the pool as it was left).
  WriteConfig("interval = 0\n");
  StartService();
  const std::string answer = Update();
  EXPECT_EQ(answer.find("127.0.0.9:1|"), std::string::npos) << answer;
  EXPECT_NE(answer.find(alive.Server() + "|United States|US|-97|38"), std::string::npos) << answer;
  EXPECT_NE(answer.find("192.0.2.50:80|Peru|PE|"), std::string::npos) << answer;
  // A graceful stop closes the pool: its write-ahead log is folded back.
  FService.Stop();
  EXPECT_FALSE(sb().Exists("svc/pool.db-wal"));
}

TEST_F(PoolTest, RequesterAddressBehindTrustedAndUntrustedPeers) {
  // Without [localinfo] the answer places the requester with Debian's
  // country database.
  WriteConfig(
      "interval = 0\n",
      "[service]\ntrusted_proxies = 127.0.0.1\nadmin = 127.0.0.6, ::1\ntouches = touches.log\n");
  StartService();
  const int port = FService.Port();
  // A forged header from an untrusted peer is ignored; loopback is nowhere.
  Answer a = HttpFrom("127.0.0.5", port, "/getinfo?MagicWord=w", "X-Forwarded-For: 8.8.8.8\r\n");
  ASSERT_EQ(a.status, 200) << a.head;
  EXPECT_EQ(a.body,
            "IP=127.0.0.5\r\nCOUNTRY_SHORT=\r\nCOUNTRY_LONG=\r\nCITY=\r\nREGION=\r\n0\r\n0\r\n");
  // Through the trusted reverse proxy: the address it saw, placed.
  a = HttpFrom("127.0.0.1", port, "/getinfo?MagicWord=w", "X-Forwarded-For: 8.8.8.8\r\n");
  EXPECT_EQ(
      a.body,
      "IP=8.8.8.8\r\nCOUNTRY_SHORT=US\r\nCOUNTRY_LONG=United States\r\nCITY=\r\nREGION=\r\n38\r\n-97\r\n");
  // What a client wrote itself stands before what the proxy appended.
  a = HttpFrom("127.0.0.1", port, "/getinfo?MagicWord=w",
               "X-Forwarded-For: 203.0.113.9, 8.8.8.8\r\n");
  EXPECT_EQ(a.body.substr(0, 13), "IP=8.8.8.8\r\nC");
  EXPECT_EQ(HttpFrom("127.0.0.1", port, "/checkip", "X-Forwarded-For: 8.8.8.8\r\n")
                    .body.find("<p id=\"ip\">8.8.8.8</p>") != std::string::npos,
            true);

  // The touched addresses are for local administration only.
  EXPECT_EQ(HttpFrom("127.0.0.5", port, "/touch?ip=192.0.2.77").status, 200);
  EXPECT_EQ(HttpFrom("127.0.0.5", port, "/touches").status, 403);
  EXPECT_EQ(HttpFrom("127.0.0.5", port, "/touches", "X-Forwarded-For: 127.0.0.6\r\n").status, 403);
  // Forged through the proxy: the proxy appends the real requester.
  EXPECT_EQ(
      HttpFrom("127.0.0.1", port, "/touches", "X-Forwarded-For: 127.0.0.6, 203.0.113.9\r\n").status,
      403);
  EXPECT_EQ(HttpFrom("127.0.0.1", port, "/touches").status, 403);
  a = HttpFrom("127.0.0.6", port, "/touches");
  EXPECT_EQ(a.status, 200);
  EXPECT_EQ(a.body, "192.0.2.77\r\n");
  EXPECT_NE(sb().ReadFile("svc/touches.log").find(" 127.0.0.5 192.0.2.77\n"), std::string::npos);

  // The access log names peer and requester, never the magic word.
  std::string log;
  EXPECT_TRUE(testsupport::WaitUntil(
      [&] {
        log = sb().ReadFile("svc/requests.log");
        return log.find("path=/touches status=200") != std::string::npos &&
               log.find("client=8.8.8.8 method=GET path=/getinfo") != std::string::npos;
      },
      10000))
      << log;
  EXPECT_TRUE(std::regex_search(
      log,
      std::regex(
          R"(time=\S+Z peer=127\.0\.0\.1 client=8\.8\.8\.8 method=GET path=/getinfo query="MagicWord=-" status=200 bytes=\d+ ms=[0-9.]+\n)")))
      << log;
  EXPECT_EQ(log.find("MagicWord=w"), std::string::npos) << log;
}

TEST_F(PoolTest, APoolOfAnEarlierProgramIsMigratedAndANewerOneRefused) {
  // A pool file as the first program wrote it: its two tables, no schema
  // version, a proxy and a touch.
  WriteConfig("interval = 0\n");
  const std::string db = sb().Path("svc/pool.db");
  const std::string python =
      "python3 -c \"import sqlite3, sys; c = sqlite3.connect(sys.argv[1]); c.executescript(sys.argv[2]); "
      "c.commit()\" '" +
      db + "' ";
  ASSERT_EQ(std::system(
                (python +
                 "\"CREATE TABLE proxies (id INTEGER PRIMARY KEY, host TEXT NOT NULL,"
                 " port INTEGER NOT NULL, super INTEGER NOT NULL DEFAULT 0, code TEXT NOT NULL"
                 " DEFAULT '', name TEXT NOT NULL DEFAULT '', latitude TEXT NOT NULL DEFAULT '',"
                 " longitude TEXT NOT NULL DEFAULT '', placed_by_operator INTEGER NOT NULL"
                 " DEFAULT 0, alive INTEGER NOT NULL DEFAULT 1, failures INTEGER NOT NULL"
                 " DEFAULT 0, checked_at INTEGER NOT NULL DEFAULT 0, latency_ms INTEGER NOT"
                 " NULL DEFAULT -1, last_error TEXT NOT NULL DEFAULT '', added_at INTEGER NOT"
                 " NULL DEFAULT 0, UNIQUE(host, port)); CREATE TABLE touches (id INTEGER"
                 " PRIMARY KEY, at INTEGER NOT NULL, peer TEXT NOT NULL, ip TEXT NOT NULL);"
                 " INSERT INTO proxies (host, port, code, name, latitude, longitude) VALUES"
                 " ('192.0.2.5', 80, 'PE', 'Peru', '-10', '-75');"
                 " INSERT INTO touches (at, peer, ip) VALUES (1, '127.0.0.1', '192.0.2.99');\"")
                    .c_str()),
            0);
  StartService();
  EXPECT_NE(Update().find("192.0.2.5:80|Peru|PE|-75|-10"), std::string::npos) << Update();
  EXPECT_EQ(HttpFrom("127.0.0.1", FService.Port(), "/touches").body, "192.0.2.99\r\n");
  // The touch of 1970 is past any retention: the next touch clears it.
  EXPECT_EQ(HttpFrom("127.0.0.1", FService.Port(), "/touch?ip=192.0.2.100").status, 200);
  EXPECT_EQ(HttpFrom("127.0.0.1", FService.Port(), "/touches").body, "192.0.2.100\r\n");
  FService.Stop();

  // A file a later program made is left alone, with a message.
  ASSERT_EQ(std::system((python + "'PRAGMA user_version = 99'").c_str()), 0);
  std::string out;
  EXPECT_EQ(Pool({"list"}, &out), 1);
  EXPECT_NE(out.find("the pool has schema version 99, newer than this program's 2"),
            std::string::npos)
      << out;
}
