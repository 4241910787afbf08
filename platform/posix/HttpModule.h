// The boundary between the posix HTTP transport (the module libvghttp.so,
// built on libcurl) and the program that loads it on its first request
// (platform/posix/HttpLoader.cpp). Both sides are built from the same tree
// with the same compiler, so C++ types cross the boundary.
#pragma once

#include <memory>
#include <string>

#include "platform/Http.h"
#include "platform/ProxySettings.h"

namespace platform::posix {

// Version of this boundary; the module and the program must agree.
inline constexpr int kHttpModuleAbi = 2;

// What the module asks of the program.
struct THttpModuleHost {
  // The per-connection proxy this process applied last (AppliedProxy).
  PerConnectionProxy (*appliedProxy)();
};

// The module's services: HttpGetDirect and HttpOpenRequest of platform/Http.h.
struct THttpModule {
  bool (*getDirect)(const std::string& url, std::string& body, int timeoutMs, std::string* error);
  std::unique_ptr<HttpConnection> (*openRequest)(const HttpRequestOptions& options,
                                                 std::string* error);
};

// The module's entry point, named kHttpModuleEntry: the services, or null
// when the module was built for another version of this boundary. Sets up
// the transport library on its first call.
inline constexpr const char* kHttpModuleName = "vghttp";
inline constexpr const char* kHttpModuleEntry = "vg_http_module";
using THttpModuleEntry = const THttpModule* (*)(int abi, const THttpModuleHost* host);

}  // namespace platform::posix
