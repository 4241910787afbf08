// The reference web service for the proxy, update and whole-program tests:
// the shared runner, started at construction (its output beside the
// configuration file), and the touches it recorded. Posix only.
#pragma once

#ifndef _WIN32

#include <string>

#include "platform/Http.h"
#include "support/NetTestServers.h"

namespace proxytest {

class TServiceProcess : public nettest::ServiceProcess {
 public:
  TServiceProcess(const std::string& exe, const std::string& configFile) {
    FStarted = Start(exe, configFile, configFile + ".out");
  }
  // Started, told where it listens, and still running.
  bool Running() { return FStarted && nettest::ServiceProcess::Running(); }
  // The touches the service recorded, one per line.
  std::string Touches() const {
    std::string body;
    platform::HttpGetDirect(URL("/touches"), body, 5000);
    return body;
  }

 private:
  bool FStarted = false;
};

}  // namespace proxytest

#endif  // _WIN32
