#include "framework/CLQtDispatcher.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThread>

TCLQtDispatcher::TCLQtDispatcher() : FShared(std::make_shared<Shared>()) {
  if (!GetDispatcher()) SetDispatcher(this);
}

TCLQtDispatcher::~TCLQtDispatcher() {
  if (GetDispatcher() == this) SetDispatcher(nullptr);
  std::lock_guard<std::mutex> g(FShared->lock);
  FShared->closed = true;
  FShared->changed.notify_all();
}

bool TCLQtDispatcher::IsDispatchThread() const { return QThread::currentThread() == thread(); }

void TCLQtDispatcher::Post(std::function<void()> call) {
  // A queued call to an object that is gone is dropped by Qt.
  QMetaObject::invokeMethod(this, [call = std::move(call)] { call(); }, Qt::QueuedConnection);
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
  }
  QMetaObject::invokeMethod(
      this,
      [shared, done, call = std::move(call)] {
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
