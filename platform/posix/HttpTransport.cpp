// posix backend of the downloader's transport: one libcurl easy handle driven
// through a multi handle, so that the caller pulls the body block by block
// (as with InternetReadFile) and another thread can cancel a blocked call.
//
// The body is handed over through a one-block buffer: while the caller has not
// taken the last block, the transfer is paused, so a large download never
// piles up in memory.
#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "platform/AsciiText.h"
#include "platform/Http.h"
#include "platform/HttpAddress.h"
#include "platform/ProxySettings.h"
#include "platform/posix/HttpCurl.h"

namespace platform {
namespace {

constexpr long kBlockSize = 16384;

std::string TrimSpaces(const std::string& s) { return std::string(TrimView(s, " \t\r\n")); }

// The proxy server for one scheme out of the per-connection server text:
// either "host:port" for every protocol or "http=host:port;https=host:port".
std::string ProxyForScheme(const std::string& server, bool secure) {
  if (server.find('=') == std::string::npos) return TrimSpaces(server);
  std::string wanted = secure ? "https" : "http";
  size_t pos = 0;
  while (pos <= server.size()) {
    size_t end = server.find_first_of("; ", pos);
    if (end == std::string::npos) end = server.size();
    std::string item = server.substr(pos, end - pos);
    size_t eq = item.find('=');
    if (eq != std::string::npos && SameText(item.substr(0, eq), wanted))
      return TrimSpaces(item.substr(eq + 1));
    pos = end + 1;
  }
  return std::string();
}

// WinINet's bypass list ("a;*.b;<local>") as libcurl's no-proxy list. The
// "<local>" and "<-loopback>" markers have no libcurl equivalent and are left
// out; "*.b" becomes ".b" (libcurl matches domain suffixes).
std::string NoProxyList(const std::string& bypass) {
  std::string out;
  size_t pos = 0;
  while (pos <= bypass.size()) {
    size_t end = bypass.find_first_of(";, ", pos);
    if (end == std::string::npos) end = bypass.size();
    std::string item = TrimSpaces(bypass.substr(pos, end - pos));
    pos = end + 1;
    if (item.empty() || item[0] == '<') continue;
    if (item.rfind("*.", 0) == 0) item.erase(0, 1);
    if (!out.empty()) out += ',';
    out += item;
  }
  return out;
}

class CurlConnection final : public HttpConnection {
 public:
  explicit CurlConnection(const HttpRequestOptions& options) : FOptions(options) {}

  ~CurlConnection() override {
    if (FMulti && FEasy) curl_multi_remove_handle(FMulti, FEasy);
    if (FEasy) curl_easy_cleanup(FEasy);
    if (FMulti) curl_multi_cleanup(FMulti);
    if (FHeaderList) curl_slist_free_all(FHeaderList);
  }

  bool Prepare(std::string* error);
  bool Send(std::string* error) override;
  int StatusCode() const override { return FFinalStatus; }
  bool QueryHeader(const std::string& name, std::string& value) const override;
  long Read(char* buffer, size_t size, std::string* error) override;
  void Cancel() override {
    FCancelled.store(true);
    if (FMulti) curl_multi_wakeup(FMulti);
  }

 private:
  static size_t OnHeader(char* data, size_t size, size_t count, void* user);
  static size_t OnBody(char* data, size_t size, size_t count, void* user);
  // One round of transfer work; waits up to pollMs for the network unless
  // what the caller waits for (the final headers, or a body block) is there.
  void Step(int pollMs, bool forHeaders);
  void Fail(std::string* error, const std::string& text) const {
    if (error) *error = text;
  }
  std::string TransferError() const {
    if (FErrorBuffer[0]) return FErrorBuffer;
    return curl_easy_strerror(FResult);
  }

  HttpRequestOptions FOptions;
  std::string FBodyBytes;  // the POST body; libcurl reads it in place
  CURL* FEasy = nullptr;
  CURLM* FMulti = nullptr;
  curl_slist* FHeaderList = nullptr;
  char FErrorBuffer[CURL_ERROR_SIZE] = {0};
  std::atomic<bool> FCancelled{false};
  bool FStarted = false;
  bool FDone = false;  // the transfer has ended
  CURLcode FResult = CURLE_OK;
  bool FHeadersFinal = false;  // the headers of the final response are in
  // Headers of the response block being received and of the final one.
  int FBlockStatus = 0;
  std::vector<std::pair<std::string, std::string>> FBlockHeaders;
  int FFinalStatus = 0;
  std::vector<std::pair<std::string, std::string>> FFinalHeaders;
  // One block of body bytes not yet taken by Read.
  std::string FPending;
  size_t FPendingPos = 0;
  bool FPaused = false;
};

bool CurlConnection::Prepare(std::string* error) {
  posix_http::EnsureCurlInitialised();
  if (!CheckRequestAddress(FOptions.host, FOptions.port, error)) return false;
  FEasy = curl_easy_init();
  FMulti = curl_multi_init();
  if (!FEasy || !FMulti) {
    Fail(error, "cannot create a transfer handle");
    return false;
  }
  const std::string url = std::string(FOptions.secure ? "https://" : "http://") + FOptions.host +
                          ":" + std::to_string(FOptions.port) + RequestObject(FOptions.object);
  CURL* e = FEasy;
  curl_easy_setopt(e, CURLOPT_ERRORBUFFER, FErrorBuffer);
  if (curl_easy_setopt(e, CURLOPT_URL, url.c_str()) != CURLE_OK) {
    Fail(error, "malformed address: " + url);
    return false;
  }
  curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
  // A request made over https never goes on over plain http: a redirect
  // there is refused (as WinINet does), or the answer could be anybody's.
  curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, FOptions.secure ? "https" : "http,https");
  curl_easy_setopt(e, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0));
  curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(e, CURLOPT_MAXREDIRS, 10L);
  curl_easy_setopt(e, CURLOPT_BUFFERSIZE, kBlockSize);
  curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(FOptions.connectTimeoutMs));
  const long stallSeconds = std::max(1, FOptions.stallTimeoutMs / 1000);
  curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME, stallSeconds);

  // Certificates: the chain must lead to a trusted authority and the
  // certificate must name the host of the address. Without the name check
  // anyone holding any trusted certificate could answer for the service
  // (and push settings with the update answer).
  curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 2L);
  posix_http::UseTrustedAuthorities(e);

  // Proxy: the one this process applied to the desktop, else none. Explicit
  // values also keep the http_proxy / no_proxy environment out.
  PerConnectionProxy proxy = FOptions.useSystemProxy ? AppliedProxy() : PerConnectionProxy{};
  if (!FOptions.proxy.empty()) proxy = PerConnectionProxy{true, FOptions.proxy, ""};
  std::string proxyServer = proxy.useProxy ? ProxyForScheme(proxy.server, FOptions.secure) : "";
  if (!proxyServer.empty()) {
    const std::string proxyUrl = "http://" + proxyServer;
    curl_easy_setopt(e, CURLOPT_PROXY, proxyUrl.c_str());
    const std::string noProxy = NoProxyList(proxy.bypass);
    curl_easy_setopt(e, CURLOPT_NOPROXY, noProxy.c_str());
    curl_easy_setopt(e, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
  } else {
    curl_easy_setopt(e, CURLOPT_PROXY, "");
    curl_easy_setopt(e, CURLOPT_NOPROXY, "*");
  }

  if (!FOptions.agent.empty()) curl_easy_setopt(e, CURLOPT_USERAGENT, FOptions.agent.c_str());
  if (!FOptions.referer.empty()) curl_easy_setopt(e, CURLOPT_REFERER, FOptions.referer.c_str());
  if (!FOptions.userName.empty() || !FOptions.password.empty()) {
    curl_easy_setopt(e, CURLOPT_USERNAME, FOptions.userName.c_str());
    curl_easy_setopt(e, CURLOPT_PASSWORD, FOptions.password.c_str());
    // Credentials answer the server's challenge; nothing is sent before it.
    curl_easy_setopt(e, CURLOPT_HTTPAUTH, CURLAUTH_ANY);
  }

  auto addHeader = [this](const std::string& line) {
    FHeaderList = curl_slist_append(FHeaderList, line.c_str());
  };
  addHeader("Accept: " + (FOptions.acceptType.empty() ? std::string("*") : FOptions.acceptType));
  if (FOptions.reload) {
    addHeader("Pragma: no-cache");
    addHeader("Cache-Control: no-cache");
  } else {
    addHeader("Pragma:");
  }
  addHeader("Expect:");
  // Extra header text, one header per line; a line without a name is taken
  // as the value of Content-Type.
  size_t pos = 0;
  const std::string& extra = FOptions.headers;
  while (pos < extra.size()) {
    size_t end = extra.find_first_of("\r\n", pos);
    if (end == std::string::npos) end = extra.size();
    std::string line = TrimSpaces(extra.substr(pos, end - pos));
    pos = end + 1;
    if (line.empty()) continue;
    if (line.find(':') == std::string::npos) line = "Content-Type: " + line;
    addHeader(line);
  }
  curl_easy_setopt(e, CURLOPT_HTTPHEADER, FHeaderList);

  if (FOptions.verb == "POST") {
    FBodyBytes = FOptions.body;
    curl_easy_setopt(e, CURLOPT_POST, 1L);
    curl_easy_setopt(e, CURLOPT_POSTFIELDS, FBodyBytes.data());
    curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(FBodyBytes.size()));
  } else if (FOptions.verb != "GET") {
    curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, FOptions.verb.c_str());
  }

  curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &CurlConnection::OnHeader);
  curl_easy_setopt(e, CURLOPT_HEADERDATA, this);
  curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &CurlConnection::OnBody);
  curl_easy_setopt(e, CURLOPT_WRITEDATA, this);
  return true;
}

size_t CurlConnection::OnHeader(char* data, size_t size, size_t count, void* user) {
  auto* self = static_cast<CurlConnection*>(user);
  const size_t n = size * count;
  std::string line(data, n);
  if (line.rfind("HTTP/", 0) == 0) {
    // Status line: a new response block begins.
    self->FBlockHeaders.clear();
    self->FBlockStatus = 0;
    size_t sp = line.find(' ');
    if (sp != std::string::npos) self->FBlockStatus = std::atoi(line.c_str() + sp + 1);
    return n;
  }
  const std::string trimmed = TrimSpaces(line);
  if (trimmed.empty()) {
    // End of a block. It is the final response unless libcurl goes on with
    // another request (interim answer, redirect, authentication challenge).
    const int s = self->FBlockStatus;
    bool hasLocation = false;
    for (auto& h : self->FBlockHeaders)
      if (SameText(h.first, "Location")) hasLocation = true;
    bool interim =
        (s >= 100 && s < 200) ||
        (hasLocation && (s == 301 || s == 302 || s == 303 || s == 307 || s == 308)) ||
        (s == 401 && (!self->FOptions.userName.empty() || !self->FOptions.password.empty()));
    self->FFinalStatus = s;
    self->FFinalHeaders = self->FBlockHeaders;
    if (!interim) self->FHeadersFinal = true;
    return n;
  }
  size_t colon = trimmed.find(':');
  if (colon != std::string::npos)
    self->FBlockHeaders.emplace_back(TrimSpaces(trimmed.substr(0, colon)),
                                     TrimSpaces(trimmed.substr(colon + 1)));
  return n;
}

size_t CurlConnection::OnBody(char* data, size_t size, size_t count, void* user) {
  auto* self = static_cast<CurlConnection*>(user);
  const size_t n = size * count;
  self->FHeadersFinal = true;
  if (self->FPendingPos < self->FPending.size()) {
    // The caller has not taken the last block yet: hold the transfer.
    self->FPaused = true;
    return CURL_WRITEFUNC_PAUSE;
  }
  self->FPending.assign(data, n);
  self->FPendingPos = 0;
  return n;
}

void CurlConnection::Step(int pollMs, bool forHeaders) {
  int running = 0;
  curl_multi_perform(FMulti, &running);
  int left = 0;
  while (CURLMsg* msg = curl_multi_info_read(FMulti, &left)) {
    if (msg->msg == CURLMSG_DONE && msg->easy_handle == FEasy) {
      FDone = true;
      FResult = msg->data.result;
    }
  }
  if (FDone || FCancelled.load()) return;
  if (forHeaders ? FHeadersFinal : FPendingPos < FPending.size()) return;
  curl_multi_poll(FMulti, nullptr, 0, pollMs, nullptr);
}

bool CurlConnection::Send(std::string* error) {
  if (FStarted) {
    Fail(error, "request already sent");
    return false;
  }
  FStarted = true;
  if (FCancelled.load()) {
    Fail(error, "cancelled");
    return false;
  }
  if (curl_multi_add_handle(FMulti, FEasy) != CURLM_OK) {
    Fail(error, "cannot start the transfer");
    return false;
  }
  while (!FHeadersFinal && !FDone) {
    if (FCancelled.load()) {
      Fail(error, "cancelled");
      return false;
    }
    Step(200, true);
  }
  if (FCancelled.load()) {
    Fail(error, "cancelled");
    return false;
  }
  if (!FHeadersFinal) {
    // Ended before any usable response.
    if (FResult != CURLE_OK || FFinalStatus == 0) {
      Fail(error, FResult != CURLE_OK ? TransferError() : "no response");
      return false;
    }
    FHeadersFinal = true;
  }
  return true;
}

bool CurlConnection::QueryHeader(const std::string& name, std::string& value) const {
  for (auto& h : FFinalHeaders) {
    if (SameText(h.first, name)) {
      value = h.second;
      return true;
    }
  }
  return false;
}

long CurlConnection::Read(char* buffer, size_t size, std::string* error) {
  if (!FStarted || !FHeadersFinal) {
    Fail(error, "request not sent");
    return -1;
  }
  for (;;) {
    if (FCancelled.load()) {
      Fail(error, "cancelled");
      return -1;
    }
    if (FPendingPos < FPending.size()) {
      const size_t n = std::min(size, FPending.size() - FPendingPos);
      std::memcpy(buffer, FPending.data() + FPendingPos, n);
      FPendingPos += n;
      return static_cast<long>(n);
    }
    if (FPaused) {
      // Resuming hands the held block to OnBody at once.
      FPaused = false;
      curl_easy_pause(FEasy, CURLPAUSE_CONT);
      continue;
    }
    if (FDone) {
      if (FResult == CURLE_OK) return 0;
      Fail(error, TransferError());
      return -1;
    }
    Step(200, false);
  }
}

}  // namespace

std::unique_ptr<HttpConnection> HttpOpenRequest(const HttpRequestOptions& options,
                                                std::string* error) {
  auto connection = std::make_unique<CurlConnection>(options);
  if (!connection->Prepare(error)) return nullptr;
  return connection;
}

}  // namespace platform
