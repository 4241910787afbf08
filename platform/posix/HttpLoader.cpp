// posix HTTP services of platform/Http.h as the program sees them: the
// transport lives in the module libvghttp.so (libcurl and its TLS stack),
// loaded on the first request. A program whose module is missing keeps
// running: every request fails with the reason.
#include <utility>

#include "platform/Http.h"
#include "platform/ProxySettings.h"
#include "platform/posix/HttpModule.h"
#include "platform/posix/Modules.h"

namespace platform {

namespace {

const posix::THttpModuleHost kHost{&AppliedProxy};

const posix::THttpModule* Transport(std::string* error) {
  std::string why;
  auto entry = reinterpret_cast<posix::THttpModuleEntry>(
      posix::ModuleEntry(posix::kHttpModuleName, posix::kHttpModuleEntry, &why));
  const posix::THttpModule* services = entry ? entry(posix::kHttpModuleAbi, &kHost) : nullptr;
  if (entry && !services) why = "the HTTP transport module is of another version of the program";
  if (!services && error) *error = "no HTTP transport: " + why;
  return services;
}

}  // namespace

bool HttpGetDirect(const std::string& url, std::string& body, int timeoutMs, std::string* error) {
  body.clear();
  const posix::THttpModule* transport = Transport(error);
  return transport && transport->getDirect(url, body, timeoutMs, error);
}

std::unique_ptr<HttpConnection> HttpOpenRequest(const HttpRequestOptions& options,
                                                std::string* error) {
  const posix::THttpModule* transport = Transport(error);
  if (!transport) return nullptr;
  return transport->openRequest(options, error);
}

}  // namespace platform
