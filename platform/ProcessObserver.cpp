// The launch observer shared by both process backends.
#include "platform/Process.h"

#include <mutex>

namespace platform {
namespace {
std::mutex& ObserverLock() {
  static std::mutex lock;
  return lock;
}
ProcessStartObserver& Observer() {
  static ProcessStartObserver observer;
  return observer;
}
}  // namespace

void SetProcessStartObserver(ProcessStartObserver observer) {
  std::lock_guard<std::mutex> hold(ObserverLock());
  Observer() = std::move(observer);
}

void NotifyProcessStarted(const std::string& commandLine) {
  ProcessStartObserver observer;
  {
    std::lock_guard<std::mutex> hold(ObserverLock());
    observer = Observer();
  }
  if (observer) observer(commandLine);
}

}  // namespace platform
