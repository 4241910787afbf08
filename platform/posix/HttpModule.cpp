// Entry point of the HTTP transport module (see platform/posix/HttpModule.h):
// the libcurl units of the posix backend behind a table of services.
#include "platform/posix/HttpModule.h"

#include <openssl/crypto.h>

#include "platform/posix/HttpCurl.h"

namespace platform {

namespace {
const posix::THttpModuleHost* GHost = nullptr;
}  // namespace

// The transport follows the proxy the program applied; the program keeps it.
PerConnectionProxy AppliedProxy() { return GHost ? GHost->appliedProxy() : PerConnectionProxy{}; }

}  // namespace platform

extern "C" __attribute__((visibility("default"))) const platform::posix::THttpModule*
vg_http_module(int abi, const platform::posix::THttpModuleHost* host) {
  using namespace platform;
  if (abi != posix::kHttpModuleAbi || !host || !host->appliedProxy) return nullptr;
  static const posix::THttpModule services = [host] {
    GHost = host;
    // The TLS library keeps its state to the very end of the process: its
    // own clean-up at exit would pull that state from under a transfer that
    // a worker thread still runs while the process ends.
    OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr);
    posix_http::EnsureCurlInitialised();
    return posix::THttpModule{&HttpGetDirect, &HttpOpenRequest};
  }();
  return &services;
}
