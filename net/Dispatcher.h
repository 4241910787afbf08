// Hands work from worker threads to the user-interface thread. Post queues a
// call; Send queues it and waits until it has run (or until the dispatcher
// shuts down, in which case the call is dropped and Send returns false, so a
// worker never hangs on an application that is ending). The Qt application
// installs a dispatcher that runs calls from its event loop; tests install a
// TLoopDispatcher and pump it.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class IDispatcher {
 public:
  virtual ~IDispatcher() = default;
  virtual void Post(std::function<void()> call) = 0;
  virtual bool Send(std::function<void()> call) = 0;
  // True on the thread that runs the calls.
  virtual bool IsDispatchThread() const = 0;
  // Runs the calls (and, in the application, the other pending events) that
  // are waiting, on the dispatch thread only; waits up to timeoutMs for one
  // to arrive when none is waiting. Returns whether a call ran. Callers that
  // must wait on the dispatch thread for a worker (the downloader's
  // WaitThread) loop on it. Off the dispatch thread it does nothing.
  virtual bool ProcessPending(int timeoutMs) = 0;
};

// The process's dispatcher; null while none is set. The pointer stays valid
// for the life of the process: once the dispatcher behind it is gone, Post
// drops calls and Send returns false.
IDispatcher* GetDispatcher();
void SetDispatcher(IDispatcher* dispatcher);
// Called by a dispatcher that is going away, after it has released its
// waiting senders: stops handing it out and waits until no call is inside it.
void RetireDispatcher(IDispatcher* dispatcher);

// A queue pumped by the thread that created it.
class TLoopDispatcher : public IDispatcher {
 public:
  TLoopDispatcher();
  ~TLoopDispatcher() override;  // shuts down: waiting senders return false

  void Post(std::function<void()> call) override;
  bool Send(std::function<void()> call) override;
  bool IsDispatchThread() const override;
  bool ProcessPending(int timeoutMs) override;

  // Runs the queued calls; waits up to timeoutMs for the first one.
  // Returns how many ran.
  int Pump(int timeoutMs = 0);
  // Pumps until pred() holds or timeoutMs passes; returns pred().
  bool PumpUntil(const std::function<bool()>& pred, int timeoutMs);
  void Shutdown();
  // How many calls wait in the queue (a waiting Send's among them).
  int Queued();

 private:
  struct Item {
    std::function<void()> call;
    std::shared_ptr<bool> done;  // set for Send
  };
  std::mutex FLock;
  std::condition_variable FChanged;
  std::deque<Item> FQueue;
  bool FShutdown = false;
  std::thread::id FOwner;
};
