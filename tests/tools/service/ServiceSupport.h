// The reference service run as the real program for the service tests: a
// started service (port from its first output line), the pool commands run
// to their end, and a plain HTTP client that can send from any loopback
// address.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "support/NetTestServers.h"
#include "support/Sandbox.h"

namespace servicetest {

// Runs veilgate-service with the arguments to its end; exit code, and its
// standard output and error together in *output.
inline int RunService(const std::vector<std::string>& args, const std::string& outputFile,
                      std::string* output) {
  std::vector<std::string> argv{VG_SERVICE_EXE};
  argv.insert(argv.end(), args.begin(), args.end());
  std::remove(outputFile.c_str());
  testsupport::ChildProcess service;
  const int code = service.Start(argv, outputFile) ? service.Wait(120000) : -1;
  if (output) *output = testsupport::ReadText(outputFile);
  return code;
}

// The service as a child process: the shared runner with this build's
// service.
class ServiceProcess : public nettest::ServiceProcess {
 public:
  bool Start(const std::string& config, const std::string& outputFile, std::string* output) {
    return nettest::ServiceProcess::Start(VG_SERVICE_EXE, config, outputFile, output);
  }
};

struct Answer {
  int status = 0;  // 0: no answer
  std::string head, body;
};

// One request over a fresh connection from the loopback address `from` to
// 127.0.0.1:port; `extra` are whole header lines ending in CR LF.
inline Answer HttpFrom(const std::string& from, int port, const std::string& target,
                       const std::string& extra = "", const std::string& method = "GET",
                       const std::string& body = "") {
  Answer a;
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return a;
  timeval tv{10, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  sockaddr_in src{}, dst{};
  src.sin_family = dst.sin_family = AF_INET;
  ::inet_pton(AF_INET, from.c_str(), &src.sin_addr);
  ::inet_pton(AF_INET, "127.0.0.1", &dst.sin_addr);
  dst.sin_port = htons(static_cast<uint16_t>(port));
  if (::bind(fd, reinterpret_cast<sockaddr*>(&src), sizeof src) != 0 ||
      ::connect(fd, reinterpret_cast<sockaddr*>(&dst), sizeof dst) != 0) {
    ::close(fd);
    return a;
  }
  std::string req = method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                    "\r\nConnection: close\r\n" + extra;
  if (!body.empty()) req += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  req += "\r\n" + body;
  size_t sent = 0;
  while (sent < req.size()) {
    const ssize_t n = ::send(fd, req.data() + sent, req.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) break;
    sent += static_cast<size_t>(n);
  }
  std::string all;
  char buf[8192];
  ssize_t n;
  while ((n = ::recv(fd, buf, sizeof buf, 0)) > 0) all.append(buf, static_cast<size_t>(n));
  ::close(fd);
  const size_t end = all.find("\r\n\r\n");
  if (all.compare(0, 5, "HTTP/") != 0 || end == std::string::npos) return a;
  a.status = std::atoi(all.c_str() + 9);
  a.head = all.substr(0, end);
  a.body = all.substr(end + 4);
  return a;
}

// A test of the service with a pool: its configuration in the sandbox, the
// pool commands, one service started at a time, and requests to it.
class PooledServiceTest : public SandboxTest {
 protected:
  void TearDown() override {
    FService.Stop();
    SandboxTest::TearDown();
  }

  std::string Conf() { return sb().Path("svc/service.conf"); }

  // A configuration with a pool; `service`, `update` and `checker` lines go
  // into their sections.
  void WriteServiceConfig(const std::string& service, const std::string& update,
                          const std::string& checker) {
    sb().WriteFile("svc/service.conf",
                   "[service]\nlisten = 127.0.0.1\nport = 0\nmagicword = W\ndatabase = pool.db\n"
                   "log = requests.log\n" +
                       service + "[update]\nResult = 0\n" + update + "[checker]\n" + checker);
  }

  int Pool(const std::vector<std::string>& args, std::string* out = nullptr) {
    std::vector<std::string> all = {"--config", Conf(), "pool"};
    all.insert(all.end(), args.begin(), args.end());
    return RunService(all, sb().Path("svc/cmd.txt"), out);
  }

  void StartService() {
    std::string out;
    ASSERT_TRUE(
        FService.Start(Conf(), sb().Path("svc/out" + std::to_string(++FStarts) + ".txt"), &out))
        << out;
  }

  Answer Get(const std::string& target, const std::string& from = "127.0.0.1",
             const std::string& extra = "") {
    return HttpFrom(from, FService.Port(), target, extra);
  }
  std::string Update() { return Get("/update").body; }
  std::string Metrics() { return Get("/metrics").body; }
  // The number after a metric's name (and labels), -1 when absent.
  double Metric(const std::string& name) {
    const std::string text = Metrics();
    const size_t p = text.find("\n" + name + " ");
    return p == std::string::npos ? -1 : std::stod(text.substr(p + name.size() + 2));
  }

  // The value of one update-answer line.
  static std::string Line(const std::string& answer, const std::string& name) {
    const size_t p = answer.find(name + "=");
    if (p == std::string::npos) return "<absent>";
    const size_t start = p + name.size() + 1;
    return answer.substr(start, answer.find("\r\n", start) - start);
  }

  ServiceProcess FService;
  int FStarts = 0;
};

}  // namespace servicetest
