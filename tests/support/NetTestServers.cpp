#ifndef _WIN32
#include "support/NetTestServers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>

#include "platform/System.h"

namespace nettest {

using testsupport::FindProgram;
using testsupport::ReadText;
using testsupport::WaitUntil;

namespace {

bool IEq(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return "";
  size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

}  // namespace

std::string Request::Header(const std::string& name) const {
  for (auto& h : headers)
    if (IEq(h.first, name)) return h.second;
  return "";
}

bool Request::HasHeader(const std::string& name) const {
  for (auto& h : headers)
    if (IEq(h.first, name)) return true;
  return false;
}

std::string Response(int status, const std::string& body, const std::string& extraHeaders) {
  std::string reason = status == 200 ? "OK" : status == 404 ? "Not Found" : "Status";
  return "HTTP/1.0 " + std::to_string(status) + " " + reason + "\r\n" + extraHeaders +
         "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

// --- server ----------------------------------------------------------------------------

class ConnectionImpl : public Connection {
 public:
  ConnectionImpl(TestHttpServer& server, int fd, SSL* ssl) : FServer(server), FFd(fd), FSsl(ssl) {}
  bool Write(const std::string& bytes) override {
    size_t off = 0;
    while (off < bytes.size()) {
      ssize_t n;
      if (FSsl)
        n = SSL_write(FSsl, bytes.data() + off, static_cast<int>(bytes.size() - off));
      else
        n = ::send(FFd, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
      if (n <= 0) return false;
      off += static_cast<size_t>(n);
    }
    return true;
  }
  void Hang() override {
    std::unique_lock<std::mutex> g(FServer.FLock);
    FServer.FStopped.wait(g, [&] { return FServer.FStopping; });
  }
  long Read(char* buf, size_t size) {
    if (FSsl) return SSL_read(FSsl, buf, static_cast<int>(size));
    return ::recv(FFd, buf, size, 0);
  }

 private:
  TestHttpServer& FServer;
  int FFd;
  SSL* FSsl;
};

TestHttpServer::TestHttpServer(Handler handler, const std::string& certFile,
                               const std::string& keyFile)
    : FHandler(std::move(handler)) {
  // A client that hangs up must not end the test process (TLS writes use write()).
  ::signal(SIGPIPE, SIG_IGN);
  if (!certFile.empty()) {
    SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
    if (ctx && SSL_CTX_use_certificate_chain_file(ctx, certFile.c_str()) == 1 &&
        SSL_CTX_use_PrivateKey_file(ctx, keyFile.c_str(), SSL_FILETYPE_PEM) == 1) {
      FSslCtx = ctx;
    } else if (ctx) {
      SSL_CTX_free(ctx);
    }
  }
  FListen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  if (::bind(FListen, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
      ::listen(FListen, 64) == 0) {
    socklen_t len = sizeof addr;
    ::getsockname(FListen, reinterpret_cast<sockaddr*>(&addr), &len);
    FPort = ntohs(addr.sin_port);
  }
  FAcceptThread = std::thread([this] { AcceptLoop(); });
}

TestHttpServer::~TestHttpServer() {
  Stop();
  if (FSslCtx) SSL_CTX_free(static_cast<SSL_CTX*>(FSslCtx));
}

std::string TestHttpServer::Base() const {
  return std::string(FSslCtx ? "https" : "http") + "://127.0.0.1:" + std::to_string(FPort);
}

std::vector<Request> TestHttpServer::Requests() const {
  std::lock_guard<std::mutex> g(FLock);
  return FRequests;
}

int TestHttpServer::RequestCount() const {
  std::lock_guard<std::mutex> g(FLock);
  return static_cast<int>(FRequests.size());
}

void TestHttpServer::Stop() {
  std::vector<std::thread> workers;
  {
    std::lock_guard<std::mutex> g(FLock);
    if (FStopping && !FAcceptThread.joinable() && FWorkers.empty()) return;
    FStopping = true;
    FStopped.notify_all();
    for (int fd : FOpenFds) ::shutdown(fd, SHUT_RDWR);
  }
  if (FAcceptThread.joinable()) FAcceptThread.join();
  {
    std::lock_guard<std::mutex> g(FLock);
    workers.swap(FWorkers);
  }
  for (auto& t : workers) t.join();
  if (FListen >= 0) ::close(FListen);
  FListen = -1;
}

void TestHttpServer::AcceptLoop() {
  for (;;) {
    {
      std::lock_guard<std::mutex> g(FLock);
      if (FStopping) return;
    }
    pollfd p{FListen, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    int fd = ::accept4(FListen, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    FAccepted.fetch_add(1);
    std::lock_guard<std::mutex> g(FLock);
    if (FStopping) {
      ::close(fd);
      return;
    }
    FOpenFds.push_back(fd);
    FWorkers.emplace_back([this, fd] { Serve(fd); });
  }
}

void TestHttpServer::Serve(int fd) {
  timeval tv{10, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  SSL* ssl = nullptr;
  bool ok = true;
  if (FSslCtx) {
    ssl = SSL_new(static_cast<SSL_CTX*>(FSslCtx));
    SSL_set_fd(ssl, fd);
    ok = SSL_accept(ssl) == 1;
  }
  ConnectionImpl conn(*this, fd, ssl);
  if (ok) {
    std::string data;
    char buf[65536];
    size_t headerEnd = std::string::npos;
    while ((headerEnd = data.find("\r\n\r\n")) == std::string::npos) {
      long n = conn.Read(buf, sizeof buf);
      if (n <= 0) break;
      data.append(buf, static_cast<size_t>(n));
    }
    if (headerEnd != std::string::npos) {
      Request req;
      std::istringstream lines(data.substr(0, headerEnd));
      std::string line;
      std::getline(lines, line);
      std::istringstream first(Trim(line));
      first >> req.method >> req.target >> req.version;
      while (std::getline(lines, line)) {
        line = Trim(line);
        size_t c = line.find(':');
        if (c != std::string::npos)
          req.headers.emplace_back(Trim(line.substr(0, c)), Trim(line.substr(c + 1)));
      }
      req.body = data.substr(headerEnd + 4);
      size_t want =
          static_cast<size_t>(std::strtoull(req.Header("Content-Length").c_str(), nullptr, 10));
      while (req.body.size() < want) {
        long n = conn.Read(buf, sizeof buf);
        if (n <= 0) break;
        req.body.append(buf, static_cast<size_t>(n));
      }
      {
        std::lock_guard<std::mutex> g(FLock);
        FRequests.push_back(req);
      }
      FHandler(req, conn);
    }
  }
  if (ssl) {
    SSL_shutdown(ssl);
    SSL_free(ssl);
  }
  {
    std::lock_guard<std::mutex> g(FLock);
    for (auto it = FOpenFds.begin(); it != FOpenFds.end(); ++it)
      if (*it == fd) {
        FOpenFds.erase(it);
        break;
      }
  }
  ::shutdown(fd, SHUT_WR);
  ::close(fd);
  FFinished.fetch_add(1);
}

// --- processes -----------------------------------------------------------------------------

int FreePort() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    port = ntohs(addr.sin_port);
  }
  ::close(fd);
  return port;
}

bool CanConnect(int port) {
  const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  const bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  ::close(s);
  return ok;
}

// --- tinyproxy ---------------------------------------------------------------------------------

bool TinyProxy::Start(const std::string& dir, std::string* error, const std::string& address) {
  if (FindProgram("tinyproxy").empty()) {
    if (error) *error = "tinyproxy is not installed (scripts/deps installs it)";
    return false;
  }
  FDir = dir;
  FAddress = address;
  FLogFile = dir + "/tinyproxy.log";
  ::mkdir(dir.c_str(), 0777);
  for (int attempt = 0; attempt < 5; ++attempt) {
    FPort = FreePort();
    if (Launch()) return true;
  }
  if (error) *error = "tinyproxy did not start: " + Log();
  return false;
}

bool TinyProxy::Restart() {
  Stop();
  // The port may linger a moment after the old process.
  for (int attempt = 0; attempt < 20; ++attempt) {
    if (Launch()) return true;
    platform::SleepMs(200);
  }
  return false;
}

void TinyProxy::Stop() {
  if (FProcess.Pid() > 0) ::kill(FProcess.Pid(), SIGCONT);
  FProcess.Stop();
}

void TinyProxy::Pause() {
  if (FProcess.Pid() > 0) ::kill(FProcess.Pid(), SIGSTOP);
}

bool TinyProxy::Launch() {
  const std::string conf = FDir + "/tinyproxy.conf";
  std::ofstream f(conf, std::ios::trunc);
  // As root tinyproxy insists on dropping to an unprivileged account.
  if (::geteuid() == 0) f << "User nobody\nGroup nogroup\n";
  f << "Port " << FPort << "\nListen " << FAddress << "\nBind " << FAddress
    << "\nTimeout 30\nLogLevel Info\nMaxClients 50\nAllow 127.0.0.0/8\n";
  f.close();
  std::remove(FLogFile.c_str());
  if (!FProcess.Start({FindProgram("tinyproxy"), "-d", "-c", conf}, FLogFile)) return false;
  const bool up = WaitUntil(
      [&] {
        return Log().find("Accepting connections") != std::string::npos || !FProcess.Running();
      },
      5000);
  if (up && FProcess.Running()) return true;
  FProcess.Stop();
  return false;
}

// --- the reference service ---------------------------------------------------------------------

bool ServiceProcess::Start(const std::string& exe, const std::string& config,
                           const std::string& outputFile, std::string* output) {
  FOutput = outputFile;
  std::remove(outputFile.c_str());
  if (!FProcess.Start({exe, "--config", config, "--port", "0"}, outputFile)) return false;
  // "listening on http://127.0.0.1:<port>"
  std::smatch m;
  std::string out;
  const std::regex listening("listening on (https?)://127\\.0\\.0\\.1:([0-9]+)");
  WaitUntil(
      [&] {
        out = ReadText(outputFile);
        return std::regex_search(out, m, listening) || !FProcess.Running();
      },
      10000);
  if (output) *output = out;
  if (!std::regex_search(out, m, listening)) return false;
  FPort = std::stoi(m[2].str());
  FScheme = m[1].str();
  return true;
}

// --- a listener that never answers -------------------------------------------------------------

SilentListener::~SilentListener() {
  if (FFd >= 0) ::close(FFd);
}

bool SilentListener::HasCaller(int timeoutMs) const {
  pollfd p{FFd, POLLIN, 0};
  return ::poll(&p, 1, timeoutMs) > 0;
}

// --- certificates -------------------------------------------------------------------------------

bool MakeCertificates(const std::string& dir, Certificates& out, std::string* error) {
  if (FindProgram("openssl").empty()) {
    if (error) *error = "the openssl program is not installed (scripts/deps installs it)";
    return false;
  }
  ::mkdir(dir.c_str(), 0777);
  const std::string d = "'" + dir + "'";
  const std::string ext = dir + "/san.ext";
  std::ofstream(ext) << "subjectAltName=DNS:wrong-name.example\n"
                        "basicConstraints=CA:FALSE\n";
  std::ofstream(dir + "/local.ext") << "subjectAltName=IP:127.0.0.1\nbasicConstraints=CA:FALSE\n";
  const std::string key = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
  // clang-format off
  std::string cmd =
      "cd " + d + " && "
      "openssl req -x509 " + key + " -keyout ca.key -out ca.pem -days 2 -subj '/CN=Veilgate Test CA' && "
      "openssl req -x509 " + key + " -keyout other.key -out other.pem -days 2 -subj '/CN=Other CA' && "
      "openssl req " + key + " -keyout server.key -out server.csr -subj '/CN=wrong-name.example' && "
      "openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 "
      "-extfile san.ext -out server.pem && "
      "openssl req " + key + " -keyout local.key -out local.csr -subj '/CN=127.0.0.1' && "
      "openssl x509 -req -in local.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 "
      "-extfile local.ext -out local.pem";
  // clang-format on
  cmd = "(" + cmd + ") > " + d + "/openssl.log 2>&1";
  if (std::system(cmd.c_str()) != 0) {
    if (error) *error = "openssl failed: " + ReadText(dir + "/openssl.log");
    return false;
  }
  out.caFile = dir + "/ca.pem";
  out.otherCaFile = dir + "/other.pem";
  out.certFile = dir + "/server.pem";
  out.keyFile = dir + "/server.key";
  out.localCertFile = dir + "/local.pem";
  out.localKeyFile = dir + "/local.key";
  return true;
}

// --- memory ------------------------------------------------------------------------------------------

namespace {
long StatusField(const char* name) {
  std::ifstream f("/proc/self/status");
  std::string line;
  const size_t n = std::strlen(name);
  while (std::getline(f, line))
    if (line.compare(0, n, name) == 0) return std::strtol(line.c_str() + n + 1, nullptr, 10);
  return -1;
}
}  // namespace

long PeakRssKb() { return StatusField("VmHWM"); }
long CurrentRssKb() { return StatusField("VmRSS"); }

int ListenLoopback(int* port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 16) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    ::close(fd);
    return -1;
  }
  *port = ntohs(a.sin_port);
  return fd;
}
void ResetPeakRss() { std::ofstream("/proc/self/clear_refs") << "5"; }

}  // namespace nettest

#endif  // _WIN32
