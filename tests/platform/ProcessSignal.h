// Platform tests with a second process (a forked child from
// support/ChildProcess.h) step parent and child in turn through a pipe.
#pragma once

#include <poll.h>
#include <unistd.h>

#include "support/ChildProcess.h"
#include "support/EnvGuard.h"

namespace testutil {

// A one-way signal between processes: one byte through a pipe.
class Signal {
 public:
  Signal() {
    if (::pipe(FFds) != 0) FFds[0] = FFds[1] = -1;
  }
  ~Signal() {
    Close(FFds[0]);
    Close(FFds[1]);
  }
  void Notify() {
    char c = 1;
    (void)!::write(FFds[1], &c, 1);
  }
  // True when the byte arrived within the time.
  bool Wait(int timeoutMs = 10000) {
    pollfd p{FFds[0], POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0) return false;
    char c;
    return ::read(FFds[0], &c, 1) == 1;
  }

 private:
  static void Close(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
  int FFds[2];
};

}  // namespace testutil
