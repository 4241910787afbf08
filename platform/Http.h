// HTTP transport service. The downloader's transport (WinINet on Windows,
// libcurl on posix) is declared here by the network layer; this part is the
// plain GET that bypasses every proxy, used by the local-information request
// and the touch call.
#pragma once

#include <string>

namespace platform {

// GET of an http:// or https:// address over a direct connection (no system
// proxy). True with the body when the server answered 2xx; false on any
// failure, with a reason when error is given. Never blocks longer than
// timeoutMs in total.
bool HttpGetDirect(const std::string& url, std::string& body, int timeoutMs = 30000,
                   std::string* error = nullptr);

}  // namespace platform
