// Real servers on loopback for the network tests: a scriptable HTTP server
// (plain or TLS) that can misbehave on purpose, a child-process runner, the
// tinyproxy forward proxy and throw-away certificates. Every server binds
// 127.0.0.1 on an ephemeral port and every wait is bounded.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace nettest {

struct Request {
  std::string method, target, version;  // request line
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  std::string Header(const std::string& name) const;  // first, case-insensitive; "" when absent
  bool HasHeader(const std::string& name) const;
};

// One accepted connection, handed to the handler.
class Connection {
 public:
  virtual ~Connection() = default;
  virtual bool Write(const std::string& bytes) = 0;
  // Blocks until the server stops (a server that never answers).
  virtual void Hang() = 0;
};

// A response of status, headers and body with a correct Content-Length.
std::string Response(int status, const std::string& body,
                     const std::string& extraHeaders = "Content-Type: text/plain\r\n");

class TestHttpServer {
 public:
  using Handler = std::function<void(const Request&, Connection&)>;
  // certFile/keyFile non-empty: serve TLS with that certificate.
  explicit TestHttpServer(Handler handler, const std::string& certFile = "",
                          const std::string& keyFile = "");
  ~TestHttpServer();
  int Port() const { return FPort; }
  std::string Base() const;  // "http(s)://127.0.0.1:port"
  std::vector<Request> Requests() const;
  int RequestCount() const;
  // Connections accepted so far, and those whose handler has returned.
  int Accepted() const { return FAccepted.load(); }
  int Finished() const { return FFinished.load(); }
  void Stop();

 private:
  void AcceptLoop();
  void Serve(int fd);

  Handler FHandler;
  int FListen = -1;
  int FPort = 0;
  void* FSslCtx = nullptr;
  std::thread FAcceptThread;
  mutable std::mutex FLock;
  std::condition_variable FStopped;
  bool FStopping = false;
  std::vector<std::thread> FWorkers;
  std::vector<int> FOpenFds;
  std::vector<Request> FRequests;
  std::atomic<int> FAccepted{0};
  std::atomic<int> FFinished{0};
  friend class ConnectionImpl;
};

// A child process with stdout and stderr sent to a file.
class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess() { Stop(); }
  bool Start(const std::vector<std::string>& argv, const std::string& outputFile);
  bool Running();
  // SIGTERM, up to 3 s, then SIGKILL; reaps the child.
  void Stop();
  pid_t Pid() const { return FPid; }

 private:
  pid_t FPid = -1;
};

// Reads a whole file ("" when missing).
std::string ReadText(const std::string& path);
// Polls until pred() holds or timeoutMs passes.
bool WaitFor(const std::function<bool()>& pred, int timeoutMs);
// A port that was free a moment ago (for programs that cannot report theirs).
int FreePort();
// The executable's full path, or "" when not installed.
std::string FindProgram(const std::string& name);

// tinyproxy in the foreground on a loopback port, with its configuration
// and log inside dir.
class TinyProxy {
 public:
  // False with a reason when tinyproxy is missing or does not start.
  bool Start(const std::string& dir, std::string* error);
  void Stop() { FProcess.Stop(); }
  int Port() const { return FPort; }
  std::string Server() const { return "127.0.0.1:" + std::to_string(FPort); }
  std::string Log() const { return ReadText(FLogFile); }

 private:
  ChildProcess FProcess;
  int FPort = 0;
  std::string FLogFile;
};

// A certificate authority and a server certificate it issued to the host name
// "wrong-name.example" (never the address it is used on), plus a second,
// unrelated authority, and a certificate of the same authority issued to
// 127.0.0.1. Made with the openssl program inside dir.
struct Certificates {
  std::string caFile, otherCaFile, certFile, keyFile, localCertFile, localKeyFile;
};
bool MakeCertificates(const std::string& dir, Certificates& out, std::string* error);

// Peak resident memory of this process in kB (VmHWM), and the current one.
long PeakRssKb();
long CurrentRssKb();

// A socket listening on 127.0.0.1 at an ephemeral port (backlog 16); the
// port goes to *port. -1 when it cannot be made.
int ListenLoopback(int* port);
// Resets the peak to the current value where the kernel allows it.
void ResetPeakRss();

}  // namespace nettest
