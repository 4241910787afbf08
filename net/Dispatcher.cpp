#include "net/Dispatcher.h"

#include <chrono>
#include <map>

namespace {
// What GetDispatcher hands out: a gate that lives for the whole process and
// forwards to the dispatcher in place. A worker may hold the pointer while
// the application ends; the gate counts the calls in flight, and retiring a
// dispatcher waits for them, so no call reaches a destroyed dispatcher.
class TDispatcherGate : public IDispatcher {
 public:
  void Set(IDispatcher* target) {
    std::lock_guard<std::mutex> g(FLock);
    FTarget = target;
  }
  bool HasTarget() {
    std::lock_guard<std::mutex> g(FLock);
    return FTarget != nullptr;
  }
  void Retire(IDispatcher* target) {
    std::unique_lock<std::mutex> g(FLock);
    if (FTarget == target) FTarget = nullptr;
    // Calls that entered the retiring dispatcher leave it once it has shut
    // down (waiting senders are released by then).
    FIdle.wait(g, [&] { return FInFlight[target] == 0; });
    FInFlight.erase(target);
  }

  void Post(std::function<void()> call) override {
    With([&](IDispatcher* d) {
      d->Post(std::move(call));
      return true;
    });
  }
  bool Send(std::function<void()> call) override {
    return With([&](IDispatcher* d) { return d->Send(std::move(call)); });
  }
  bool IsDispatchThread() const override {
    return const_cast<TDispatcherGate*>(this)->With(
        [](IDispatcher* d) { return d->IsDispatchThread(); });
  }
  bool ProcessPending(int timeoutMs) override {
    return With([&](IDispatcher* d) { return d->ProcessPending(timeoutMs); });
  }

 private:
  template <typename F>
  bool With(F&& f) {
    IDispatcher* target;
    {
      std::lock_guard<std::mutex> g(FLock);
      target = FTarget;
      if (!target) return false;
      ++FInFlight[target];
    }
    bool result = false;
    try {
      result = f(target);
    } catch (...) {
      Leave(target);
      throw;
    }
    Leave(target);
    return result;
  }
  void Leave(IDispatcher* target) {
    std::lock_guard<std::mutex> g(FLock);
    --FInFlight[target];
    FIdle.notify_all();
  }

  std::mutex FLock;
  std::condition_variable FIdle;
  IDispatcher* FTarget = nullptr;
  std::map<IDispatcher*, int> FInFlight;
};

TDispatcherGate& Gate() {
  static TDispatcherGate* gate = new TDispatcherGate;  // never destroyed
  return *gate;
}
}  // namespace

IDispatcher* GetDispatcher() { return Gate().HasTarget() ? &Gate() : nullptr; }
void SetDispatcher(IDispatcher* dispatcher) { Gate().Set(dispatcher); }
void RetireDispatcher(IDispatcher* dispatcher) { Gate().Retire(dispatcher); }

TLoopDispatcher::TLoopDispatcher() : FOwner(std::this_thread::get_id()) {}

TLoopDispatcher::~TLoopDispatcher() {
  Shutdown();
  RetireDispatcher(this);
}

void TLoopDispatcher::Shutdown() {
  std::lock_guard<std::mutex> g(FLock);
  FShutdown = true;
  FQueue.clear();
  FChanged.notify_all();
}

int TLoopDispatcher::Queued() {
  std::lock_guard<std::mutex> g(FLock);
  return static_cast<int>(FQueue.size());
}

bool TLoopDispatcher::IsDispatchThread() const { return std::this_thread::get_id() == FOwner; }

void TLoopDispatcher::Post(std::function<void()> call) {
  std::lock_guard<std::mutex> g(FLock);
  if (FShutdown) return;
  FQueue.push_back({std::move(call), nullptr});
  FChanged.notify_all();
}

bool TLoopDispatcher::Send(std::function<void()> call) {
  if (IsDispatchThread()) {
    call();
    return true;
  }
  auto done = std::make_shared<bool>(false);
  std::unique_lock<std::mutex> g(FLock);
  if (FShutdown) return false;
  FQueue.push_back({std::move(call), done});
  FChanged.notify_all();
  FChanged.wait(g, [&] { return *done || FShutdown; });
  return *done;
}

bool TLoopDispatcher::ProcessPending(int timeoutMs) {
  if (!IsDispatchThread()) return false;
  return Pump(timeoutMs) > 0;
}

int TLoopDispatcher::Pump(int timeoutMs) {
  std::deque<Item> batch;
  {
    std::unique_lock<std::mutex> g(FLock);
    if (FQueue.empty() && timeoutMs > 0)
      FChanged.wait_for(g, std::chrono::milliseconds(timeoutMs),
                        [&] { return !FQueue.empty() || FShutdown; });
    batch.swap(FQueue);
  }
  for (Item& item : batch) {
    item.call();
    if (item.done) {
      std::lock_guard<std::mutex> g(FLock);
      *item.done = true;
      FChanged.notify_all();
    }
  }
  return static_cast<int>(batch.size());
}

bool TLoopDispatcher::PumpUntil(const std::function<bool()>& pred, int timeoutMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!pred()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    if (left.count() <= 0) return pred();
    Pump(static_cast<int>(std::min<long long>(left.count(), 20)));
  }
  return true;
}
