// The reference service run as the real program for the service tests: a
// started service (port from its first output line), the pool commands run
// to their end, tinyproxy forward proxies on loopback addresses of their own,
// and a plain HTTP client that can send from any loopback address.
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

#include "net/NetTestServers.h"

namespace servicetest {

inline std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// Runs veilgate-service with the arguments to its end; exit code, and its
// standard output and error together in *output.
inline int RunService(const std::vector<std::string>& args, const std::string& outputFile,
                      std::string* output) {
  std::string cmd = Quote(VG_SERVICE_EXE);
  for (auto& a : args) cmd += " " + Quote(a);
  cmd += " > " + Quote(outputFile) + " 2>&1";
  const int status = std::system(cmd.c_str());
  if (output) *output = nettest::ReadText(outputFile);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The service as a child process.
class ServiceProcess {
 public:
  // Starts it with the configuration file and port 0; false with the output
  // when it does not say where it listens.
  bool Start(const std::string& config, const std::string& outputFile, std::string* output) {
    FOutput = outputFile;
    std::remove(outputFile.c_str());
    if (!FProcess.Start({VG_SERVICE_EXE, "--config", config, "--port", "0"}, outputFile)) return false;
    std::smatch m;
    std::string out;
    const std::regex listening("listening on (https?)://127\\.0\\.0\\.1:([0-9]+)");
    nettest::WaitFor([&] {
      out = nettest::ReadText(outputFile);
      return std::regex_search(out, m, listening) || !FProcess.Running();
    }, 10000);
    if (output) *output = out;
    if (!std::regex_search(out, m, listening)) return false;
    FPort = std::stoi(m[2].str());
    FScheme = m[1].str();
    return true;
  }
  void Stop() { FProcess.Stop(); }
  void Kill() {
    if (FProcess.Pid() > 0) ::kill(FProcess.Pid(), SIGKILL);
    FProcess.Stop();
  }
  bool Running() { return FProcess.Running(); }
  int Port() const { return FPort; }
  std::string Base() const { return FScheme + "://127.0.0.1:" + std::to_string(FPort); }
  std::string Output() const { return nettest::ReadText(FOutput); }

 private:
  nettest::ChildProcess FProcess;
  std::string FOutput, FScheme;
  int FPort = 0;
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

// tinyproxy listening on its own loopback address and leaving through it,
// so the service sees the proxy's address; the port stays the same across
// restarts. Pause() stops the process: connections are still accepted by
// the kernel, and never answered.
class LoopProxy {
 public:
  ~LoopProxy() { Stop(); }
  bool Start(const std::string& dir, const std::string& address, std::string* error) {
    const std::string exe = nettest::FindProgram("tinyproxy");
    if (exe.empty()) {
      *error = "tinyproxy is not installed (scripts/deps installs it)";
      return false;
    }
    FDir = dir;
    FAddress = address;
    ::mkdir(dir.c_str(), 0777);
    for (int attempt = 0; attempt < 5; ++attempt) {
      if (FPort == 0 || attempt > 0) FPort = nettest::FreePort();
      if (Launch()) return true;
    }
    *error = "tinyproxy did not start: " + Log();
    return false;
  }
  // Starts again on the same address and port.
  bool Restart() {
    Stop();
    for (int attempt = 0; attempt < 20; ++attempt) {
      if (Launch()) return true;
      nettest::WaitFor([] { return false; }, 200);
    }
    return false;
  }
  void Stop() {
    if (FProcess.Pid() > 0) ::kill(FProcess.Pid(), SIGCONT);
    FProcess.Stop();
  }
  void Pause() { ::kill(FProcess.Pid(), SIGSTOP); }
  std::string Address() const { return FAddress + ":" + std::to_string(FPort); }
  const std::string& Host() const { return FAddress; }
  std::string Log() const { return nettest::ReadText(FDir + "/tinyproxy.log"); }

 private:
  bool Launch() {
    std::ofstream f(FDir + "/tinyproxy.conf", std::ios::trunc);
    if (::geteuid() == 0) f << "User nobody\nGroup nogroup\n";
    f << "Port " << FPort << "\nListen " << FAddress << "\nBind " << FAddress
      << "\nTimeout 30\nLogLevel Info\nMaxClients 20\nAllow 127.0.0.0/8\n";
    f.close();
    std::remove((FDir + "/tinyproxy.log").c_str());
    if (!FProcess.Start({nettest::FindProgram("tinyproxy"), "-d", "-c", FDir + "/tinyproxy.conf"},
                        FDir + "/tinyproxy.log"))
      return false;
    const bool up = nettest::WaitFor([&] {
      return Log().find("Accepting connections") != std::string::npos || !FProcess.Running();
    }, 5000);
    if (up && FProcess.Running()) return true;
    FProcess.Stop();
    return false;
  }

  nettest::ChildProcess FProcess;
  std::string FDir, FAddress;
  int FPort = 0;
};

}  // namespace servicetest
