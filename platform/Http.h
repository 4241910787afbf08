// HTTP transport service, in two call shapes:
//  - HttpOpenRequest: one request of the downloader, in the shape of the
//    WinINet calls it was designed around (open, send, query a header, read
//    blocks). It follows the desktop's proxy (the per-connection proxy this
//    process applied last, see platform/ProxySettings.h). Windows: WinINet;
//    posix: libcurl.
//  - HttpGetDirect: a plain GET that bypasses every proxy, used by the
//    local-information request and the touch call.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace platform {

// GET of an http:// or https:// address over a direct connection (no system
// proxy). True with the body when the server answered 2xx; false on any
// failure, with a reason when error is given. Never blocks longer than
// timeoutMs in total. A body longer than kMaxDirectBodyBytes fails the call;
// from an https address a redirect to plain http is refused.
constexpr size_t kMaxDirectBodyBytes = size_t{4} << 20;
bool HttpGetDirect(const std::string& url, std::string& body, int timeoutMs = 30000,
                   std::string* error = nullptr);

// One request of the downloader. The request line is HTTP/1.0.
struct HttpRequestOptions {
  std::string host;  // name or address; "[...]" for an IPv6 literal
  int port = 80;
  bool secure = false;       // HTTPS: the certificate chain and the host
                             // name in the certificate are verified
  std::string object;        // "/path?query" as sent
  std::string verb = "GET";  // "GET" or "POST"
  std::string agent;         // User-Agent; empty: none is sent
  std::string referer;       // empty: none
  std::string acceptType = "*/*";
  std::string userName;  // credentials answered to a server's challenge
  std::string password;
  // Extra request header lines ("Name: value", separated by CR LF).
  std::string headers;
  // The request body, bytes as sent (POST only).
  std::string body;
  // Ask every cache on the way (proxies included) for a fresh copy.
  bool reload = false;
  // Follow the proxy this process applied to the desktop; false: direct.
  bool useSystemProxy = true;
  // "host:port" of an HTTP proxy to go through instead (a check of that
  // proxy); empty: as useSystemProxy says.
  std::string proxy;
  int connectTimeoutMs = 60000;
  // A response that delivers nothing for this long fails.
  int stallTimeoutMs = 60000;
};

class HttpConnection {
 public:
  virtual ~HttpConnection() = default;
  // Connects, sends the request and waits for the headers of the final
  // response (redirects are followed). False when no response arrived; the
  // reason goes to error.
  virtual bool Send(std::string* error) = 0;
  // Status code of the final response (0 before Send succeeded).
  virtual int StatusCode() const = 0;
  // Value of a header of the final response (first one of that name,
  // compared without regard to case); false when absent.
  virtual bool QueryHeader(const std::string& name, std::string& value) const = 0;
  // Reads up to size bytes of the body into buffer. Returns the number of
  // bytes (> 0), 0 at the regular end of the body, -1 when the body could not
  // be read to its end (connection lost, body shorter than announced,
  // cancelled); error says why.
  virtual long Read(char* buffer, size_t size, std::string* error) = 0;
  // Makes a running or later Send or Read fail at once. Safe to call from
  // another thread while the object is alive.
  virtual void Cancel() = 0;
};

// A request object for the options; nothing is sent before Send. Null when
// the options cannot form a request (empty host, unsupported characters).
std::unique_ptr<HttpConnection> HttpOpenRequest(const HttpRequestOptions& options,
                                                std::string* error = nullptr);

}  // namespace platform
