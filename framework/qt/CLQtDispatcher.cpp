#include "framework/qt/CLQtDispatcher.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QPointer>
#include <QThread>

#include <chrono>

TCLQtDispatcher::TCLQtDispatcher() : FShared(std::make_shared<Shared>()) {
  if (!GetDispatcher()) SetDispatcher(this);
}

TCLQtDispatcher::~TCLQtDispatcher() {
  {
    std::lock_guard<std::mutex> g(FShared->lock);
    FShared->closed = true;
    FShared->changed.notify_all();
  }
  RetireDispatcher(this);
}

int TCLQtDispatcher::Queued() {
  std::lock_guard<std::mutex> g(FShared->lock);
  return FShared->queued;
}

bool TCLQtDispatcher::IsDispatchThread() const { return QThread::currentThread() == thread(); }

void TCLQtDispatcher::Post(std::function<void()> call) {
  // A queued call to an object that is gone is dropped by Qt.
  auto shared = FShared;
  {
    std::lock_guard<std::mutex> g(shared->lock);
    ++shared->queued;
    shared->changed.notify_all();
  }
  QMetaObject::invokeMethod(
      this,
      [shared, call = std::move(call)] {
        {
          std::lock_guard<std::mutex> g(shared->lock);
          --shared->queued;
        }
        call();
      },
      Qt::QueuedConnection);
}

bool TCLQtDispatcher::ProcessPending(int timeoutMs) {
  if (!IsDispatchThread()) return false;
  int before = 0;
  {
    std::unique_lock<std::mutex> g(FShared->lock);
    if (FShared->queued == 0 && timeoutMs > 0)
      FShared->changed.wait_for(g, std::chrono::milliseconds(timeoutMs),
                                [&] { return FShared->queued > 0 || FShared->closed; });
    before = FShared->queued;
  }
  QCoreApplication::processEvents(QEventLoop::AllEvents);
  std::lock_guard<std::mutex> g(FShared->lock);
  return FShared->queued < before;
}

bool TCLQtDispatcher::Send(std::function<void()> call) {
  if (IsDispatchThread()) {
    call();
    return true;
  }
  auto shared = FShared;
  auto done = std::make_shared<bool>(false);
  {
    std::lock_guard<std::mutex> g(shared->lock);
    if (shared->closed) return false;
    ++shared->queued;
    shared->changed.notify_all();
  }
  QMetaObject::invokeMethod(
      this,
      [shared, done, call = std::move(call)] {
        {
          std::lock_guard<std::mutex> g(shared->lock);
          --shared->queued;
        }
        call();
        std::lock_guard<std::mutex> g(shared->lock);
        *done = true;
        shared->changed.notify_all();
      },
      Qt::QueuedConnection);
  std::unique_lock<std::mutex> g(shared->lock);
  shared->changed.wait(g, [&] { return *done || shared->closed; });
  return *done;
}
