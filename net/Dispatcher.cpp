#include "net/Dispatcher.h"

#include <atomic>
#include <chrono>

namespace {
std::atomic<IDispatcher*> GDispatcher{nullptr};
}

IDispatcher* GetDispatcher() { return GDispatcher.load(); }
void SetDispatcher(IDispatcher* dispatcher) { GDispatcher.store(dispatcher); }

TLoopDispatcher::TLoopDispatcher() : FOwner(std::this_thread::get_id()) {}

TLoopDispatcher::~TLoopDispatcher() {
  Shutdown();
  if (GetDispatcher() == this) SetDispatcher(nullptr);
}

void TLoopDispatcher::Shutdown() {
  std::lock_guard<std::mutex> g(FLock);
  FShutdown = true;
  FQueue.clear();
  FChanged.notify_all();
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
