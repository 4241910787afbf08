// The service for many users: two instances share a pool on a real
// PostgreSQL server (a private cluster made for the test), nginx balances
// clients over them, wrk loads them, and one instance is killed under load.
#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>

#include <fstream>
#include <regex>
#include <thread>

#include "../ServiceSupport.h"
#include "support/Sandbox.h"

using servicetest::HttpFrom;
using servicetest::RunService;
using servicetest::ServiceProcess;
using LoopProxy = nettest::TinyProxy;

namespace {

std::string Shell(const std::string& command, int* code = nullptr) {
  std::string out;
  FILE* p = ::popen(command.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  const int status = ::pclose(p);
  if (code) *code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return out;
}

// A PostgreSQL cluster of its own, in a folder outside the sandbox (the
// server may run as another user, who must reach it).
class PrivatePostgres {
 public:
  bool Start(std::string* error) {
    char dir[] = "/tmp/vg-scale-pg.XXXXXX";
    if (!::mkdtemp(dir)) return false;
    FDir = dir;
    int code = 0;
    const std::string out =
        Shell(std::string(VG_SOURCE_DIR) + "/scripts/private-postgres start " + FDir + " 2>&1",
              &code);
    FURL = out.substr(0, out.find('\n'));
    if (code != 0 || FURL.rfind("postgresql://", 0) != 0) {
      *error = out;
      return false;
    }
    return true;
  }
  ~PrivatePostgres() {
    if (FDir.empty()) return;
    Stop();
    Shell("rm -rf '" + FDir + "'");
  }
  void Stop() {
    Shell(std::string(VG_SOURCE_DIR) + "/scripts/private-postgres stop " + FDir + " 2>&1");
  }
  const std::string& URL() const { return FURL; }

 private:
  std::string FDir, FURL;
};

// nginx balancing over the instances, retrying a request on the other one
// when an instance does not answer.
class Balancer {
 public:
  bool Start(const std::string& dir, const std::vector<int>& ports, std::string* error) {
    FDir = dir;
    FPort = nettest::FreePort();
    std::string servers;
    for (int p : ports)
      servers += "    server 127.0.0.1:" + std::to_string(p) + " max_fails=1 fail_timeout=2s;\n";
    const std::string conf =
        "worker_processes 1;\npid " + dir + "/nginx.pid;\nerror_log " + dir +
        "/error.log;\ndaemon off;\nevents { worker_connections 1024; }\nhttp {\n"
        "  access_log off;\n  client_body_temp_path " +
        dir + "/tmp;\n  proxy_temp_path " + dir + "/tmp;\n  fastcgi_temp_path " + dir +
        "/tmp;\n  uwsgi_temp_path " + dir + "/tmp;\n  scgi_temp_path " + dir +
        "/tmp;\n"
        "  upstream veilgate {\n" +
        servers +
        "    keepalive 32;\n  }\n"
        "  server {\n    listen 127.0.0.1:" +
        std::to_string(FPort) +
        ";\n"
        "    location / {\n      proxy_pass http://veilgate;\n      proxy_http_version 1.1;\n"
        "      proxy_set_header Connection \"\";\n"
        "      proxy_set_header X-Forwarded-For $proxy_add_x_forwarded_for;\n"
        "      proxy_connect_timeout 1s;\n"
        "      proxy_next_upstream error timeout http_502 http_503;\n"
        "    }\n  }\n}\n";
    std::ofstream(dir + "/nginx.conf") << conf;
    const std::string nginx = Shell("command -v nginx || echo /usr/sbin/nginx");
    if (!FProcess.Start({nginx.substr(0, nginx.find('\n')), "-c", dir + "/nginx.conf", "-p", dir},
                        dir + "/nginx.out")) {
      *error = "nginx does not start";
      return false;
    }
    const bool up = testsupport::WaitUntil(
        [&] { return HttpFrom("127.0.0.1", FPort, "/healthz").status == 200; }, 10000);
    if (!up) *error = testsupport::ReadText(dir + "/error.log");
    return up;
  }
  int Port() const { return FPort; }

 private:
  testsupport::ChildProcess FProcess;
  std::string FDir;
  int FPort = 0;
};

class ScaleTest : public SandboxTest {
 protected:
  std::string WriteConfig(const std::string& name, const std::string& url) {
    sb().WriteFile("svc/" + name + ".conf",
                   "[service]\nlisten = 127.0.0.1\nport = 0\nmagicword = W\ndatabase = " + url +
                       "\nlog = " + name +
                       ".log\ntrusted_proxies = 127.0.0.1\nadmin = 127.0.0.7\n"
                       "[update]\nResult = 0\n"
                       "[checker]\ninterval = 0.5\nfailures = 1\ntimeout = 2\nlease = 3\n");
    return sb().Path("svc/" + name + ".conf");
  }
  static std::string Line(const std::string& answer, const std::string& name) {
    const size_t p = answer.find(name + "=");
    if (p == std::string::npos) return "<absent>";
    const size_t start = p + name.size() + 1;
    return answer.substr(start, answer.find("\r\n", start) - start);
  }
  static bool Leader(const ServiceProcess& s) {
    return HttpFrom("127.0.0.7", s.Port(), "/metrics").body.find("\nveilgate_checker_leader 1\n") !=
           std::string::npos;
  }
};

}  // namespace

TEST_F(ScaleTest, TwoInstancesOnPostgresBehindNginxSurviveTheLossOfOne) {
  PrivatePostgres pg;
  std::string error;
  ASSERT_TRUE(pg.Start(&error)) << error;
  LoopProxy one, two;
  ASSERT_TRUE(one.Start(sb().Path("p2"), &error, "127.0.0.2")) << error;
  ASSERT_TRUE(two.Start(sb().Path("p3"), &error, "127.0.0.3")) << error;
  const std::string confA = WriteConfig("a", pg.URL()), confB = WriteConfig("b", pg.URL());
  std::string out;
  for (const std::string& address : {one.Server(), two.Server(), std::string("127.0.0.9:1")})
    ASSERT_EQ(RunService({"--config", confA, "pool", "add", address, "--country", "US"},
                         sb().Path("svc/cmd.txt"), &out),
              0)
        << out;

  ServiceProcess a, b;
  ASSERT_TRUE(a.Start(confA, sb().Path("svc/a.out"), &out)) << out;
  ASSERT_TRUE(b.Start(confB, sb().Path("svc/b.out"), &out)) << out;
  // Exactly one instance checks; the dead proxy leaves both instances' lists.
  auto normal = [&](const ServiceProcess& s) {
    return Line(HttpFrom("127.0.0.1", s.Port(), "/update").body, "__MODIFY__.NORMAL_IPS");
  };
  ASSERT_TRUE(testsupport::WaitUntil(
      [&] {
        return normal(a).find("127.0.0.9:1|") == std::string::npos &&
               normal(b).find("127.0.0.9:1|") == std::string::npos;
      },
      20000))
      << normal(a) << "\n"
      << normal(b);
  EXPECT_NE(Leader(a), Leader(b));

  // A change made through one instance's pool command reaches both.
  ASSERT_EQ(RunService({"--config", confB, "pool", "add", "192.0.2.60:80", "--country", "PE"},
                       sb().Path("svc/cmd.txt"), &out),
            0)
      << out;
  EXPECT_TRUE(testsupport::WaitUntil(
      [&] {
        return normal(a).find("192.0.2.60:80|") != std::string::npos &&
               normal(b).find("192.0.2.60:80|") != std::string::npos;
      },
      10000));
  EXPECT_EQ(normal(a), normal(b));

  // nginx in front; wrk through it; the checking instance is killed under load.
  Balancer nginx;
  sb().WriteFile("nginx/tmp/.keep", "");
  ASSERT_TRUE(nginx.Start(sb().Path("nginx"), {a.Port(), b.Port()}, &error)) << error;
  const std::string wrkOut = sb().Path("svc/wrk.txt");
  std::thread load([&] {
    Shell("wrk -t2 -c20 -d6s http://127.0.0.1:" + std::to_string(nginx.Port()) + "/update >'" +
          wrkOut + "' 2>&1");
  });
  std::this_thread::sleep_for(std::chrono::seconds(2));
  ServiceProcess& leader = Leader(a) ? a : b;
  ServiceProcess& survivor = Leader(a) ? b : a;
  ::kill(leader.Pid(), SIGKILL);
  // The survivor takes the checker over once the lease (3 s) has expired.
  EXPECT_TRUE(testsupport::WaitUntil([&] { return Leader(survivor); }, 15000));
  load.join();
  const std::string wrk = testsupport::ReadText(wrkOut);
  std::smatch m;
  ASSERT_TRUE(std::regex_search(wrk, m, std::regex(R"(([0-9]+) requests in)"))) << wrk;
  EXPECT_GT(std::stol(m[1].str()), 100) << wrk;
  // No error beyond the requests that were in flight on the killed instance
  // (20 connections); nginx retries the others on the survivor.
  long errors = 0;
  if (std::regex_search(wrk, m, std::regex(R"(Non-2xx or 3xx responses: ([0-9]+))")))
    errors += std::stol(m[1].str());
  if (std::regex_search(
          wrk, m,
          std::regex(
              R"(Socket errors: connect ([0-9]+), read ([0-9]+), write ([0-9]+), timeout ([0-9]+))")))
    for (int i = 1; i <= 4; ++i) errors += std::stol(m[i].str());
  EXPECT_LE(errors, 20) << wrk;

  // The survivor goes on checking: a proxy that stops leaves its lists.
  two.Stop();
  EXPECT_TRUE(testsupport::WaitUntil(
      [&] { return normal(survivor).find(two.Server() + "|") == std::string::npos; }, 20000))
      << normal(survivor);
  EXPECT_NE(normal(survivor).find(one.Server() + "|"), std::string::npos);
  EXPECT_EQ(HttpFrom("127.0.0.1", nginx.Port(), "/update").status, 200);

  // The database server goes away: the answers go on from the lists in
  // memory, and the health check tells the balancer and the monitor.
  const std::string last = normal(survivor);
  pg.Stop();
  EXPECT_EQ(HttpFrom("127.0.0.1", survivor.Port(), "/healthz").status, 503);
  EXPECT_EQ(normal(survivor), last);
  EXPECT_EQ(HttpFrom("127.0.0.1", survivor.Port(), "/touch?ip=192.0.2.1").status, 503);
}
