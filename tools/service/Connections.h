// The service's connections, accepted here rather than inside the HTTP
// library so that no peer can take the request threads from the others:
//   - one peer address holds at most `perAddress` open connections (trusted
//     reverse proxies, which carry everybody's requests, are exempt);
//     connections beyond that are closed at once;
//   - a connection has `deadline` seconds for each request, from its first
//     byte (or the end of the previous answer) to the end of its answer;
//     then it is cut. A read timeout alone lets a client that sends one byte
//     every few seconds keep a thread for ever.
// Each admitted connection is handed to `serve` on one of the request
// threads.
#pragma once

#include <atomic>
#include <cstdint>
#include <condition_variable>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

class Metrics;

class ConnectionGate {
 public:
  struct Settings {
    int threads = 64;
    int perAddress = 16;  // 0: no cap
    double deadlineSeconds = 20;
    std::vector<std::string> exempt;  // addresses and networks without a cap
  };
  ConnectionGate(Settings settings, Metrics& metrics, std::function<void(int fd)> serve);
  ~ConnectionGate();

  // Accepts on the listening socket until Stop(); returns when every
  // connection is done.
  void Run(int listenFd);
  // Ends Run (from another thread): no new connections; connections waiting
  // between requests are closed, answers under way finish.
  void Stop();
  // Called on the request thread when an answer has gone out: the deadline
  // starts again for the next request of the connection.
  void AnswerDone();
  // Called on the request thread when a request's head has been read.
  void RequestStarted();

 private:
  using Clock = std::chrono::steady_clock;
  // Written by its request thread without the lock (every request), read
  // by the watchdog.
  struct Entry {
    int watchFd = -1;                  // a duplicate of the socket, so the number stays ours
    std::atomic<int64_t> deadline{0};  // steady clock, nanoseconds
    std::atomic<bool> busy{false};     // a request is being answered
    bool cut = false;                  // under the lock
  };
  int64_t DeadlineFromNow() const;
  void Serve(int fd, const std::string& peer);
  void Watch();

  Settings FSettings;
  Metrics& FMetrics;
  std::function<void(int)> FServe;
  std::mutex FLock;
  std::condition_variable FChanged;
  std::unordered_map<std::string, int> FPerPeer;
  std::map<uint64_t, Entry> FEntries;
  uint64_t FNextId = 0;
  std::atomic<bool> FStopping{false};
  int FWake[2] = {-1, -1};
  std::thread FWatchdog;
  std::unique_ptr<class ConnectionThreads> FThreads;
};
