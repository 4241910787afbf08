// Real servers on loopback for the tests (posix): a scriptable HTTP server
// (plain or TLS) that can misbehave on purpose, the tinyproxy forward proxy,
// the reference web service, a listener that never answers and throw-away
// certificates. Every server binds a loopback address on an ephemeral port
// and every wait is bounded. Built once as a library for every test program
// that needs one.
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

#include "support/ChildProcess.h"
#include "support/Wait.h"

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

// A socket listening on 127.0.0.1 at an ephemeral port (backlog 16); the
// port goes to *port. -1 when it cannot be made.
int ListenLoopback(int* port);
// A port that was free a moment ago (for programs that cannot report theirs).
int FreePort();
// Whether something accepts connections on 127.0.0.1:port.
bool CanConnect(int port);

// tinyproxy in the foreground on a loopback address of its own (127.0.0.N,
// so that a server sees each proxy's address, as with real proxies) and
// leaving through it; its configuration and log inside dir.
class TinyProxy {
 public:
  ~TinyProxy() { Stop(); }
  // False with a reason when tinyproxy is missing or does not start.
  bool Start(const std::string& dir, std::string* error, const std::string& address = "127.0.0.1");
  // Starts again on the same address and port.
  bool Restart();
  void Stop();
  // Stops the process: the kernel still accepts connections, nothing answers.
  void Pause();
  bool Running() { return FProcess.Running(); }
  int Port() const { return FPort; }
  const std::string& Host() const { return FAddress; }
  std::string Server() const { return FAddress + ":" + std::to_string(FPort); }
  std::string Log() const { return testsupport::ReadText(FLogFile); }

 private:
  bool Launch();

  testsupport::ChildProcess FProcess;
  std::string FDir, FAddress, FLogFile;
  int FPort = 0;
};

// The reference web service as a child process, started with a configuration
// file and port 0; where it listens comes from its output.
class ServiceProcess {
 public:
  // False, with the output so far in *output, when it does not say where it
  // listens.
  bool Start(const std::string& exe, const std::string& config, const std::string& outputFile,
             std::string* output = nullptr);
  void Stop() { FProcess.Stop(); }
  void Kill() { FProcess.Kill(); }
  bool Running() { return FProcess.Running(); }
  pid_t Pid() const { return FProcess.Pid(); }
  int Port() const { return FPort; }
  std::string Base() const { return FScheme + "://127.0.0.1:" + std::to_string(FPort); }
  std::string URL(const std::string& path) const { return Base() + path; }
  std::string Output() const { return testsupport::ReadText(FOutput); }

 private:
  testsupport::ChildProcess FProcess;
  std::string FOutput, FScheme = "http";
  int FPort = 0;
};

// A loopback socket that listens and never accepts: a client connects (the
// kernel completes the handshake) and then waits for an answer that never
// comes.
class SilentListener {
 public:
  SilentListener() { FFd = ListenLoopback(&FPort); }
  ~SilentListener();
  int Port() const { return FPort; }
  // True when a client has connected (a connection waits to be accepted).
  bool HasCaller(int timeoutMs) const;

 private:
  int FFd = -1;
  int FPort = 0;
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

// Resets the peak to the current value where the kernel allows it.
void ResetPeakRss();

}  // namespace nettest
