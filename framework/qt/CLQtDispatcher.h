// The application's dispatcher: runs calls handed over by worker threads on
// the Qt event loop of the user-interface thread. Installed by the start-up
// routine for the life of the message loop; calls posted after it is gone
// are dropped and waiting senders are released.
#pragma once

#include <QObject>

#include <condition_variable>
#include <mutex>

#include "net/Dispatcher.h"

class TCLQtDispatcher : public QObject, public IDispatcher {
  Q_OBJECT
 public:
  TCLQtDispatcher();
  ~TCLQtDispatcher() override;

  void Post(std::function<void()> call) override;
  bool Send(std::function<void()> call) override;
  bool IsDispatchThread() const override;
  // Processes the application's pending events; waits up to timeoutMs for a
  // handed-over call when none is queued.
  bool ProcessPending(int timeoutMs) override;
  // How many handed-over calls have not run yet (a waiting Send's among them).
  int Queued();

 private:
  struct Shared {
    std::mutex lock;
    std::condition_variable changed;
    bool closed = false;
    int queued = 0;  // handed-over calls not yet run
  };
  std::shared_ptr<Shared> FShared;
};
