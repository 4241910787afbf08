// posix backend of the plain direct GET: libcurl with every proxy switched
// off (also the http_proxy / https_proxy / all_proxy environment variables).
#include "platform/Http.h"

#include <curl/curl.h>
#include <signal.h>

#include <cstdlib>
#include <mutex>

#include "platform/AsciiText.h"
#include "platform/HttpAddress.h"
#include "platform/posix/HttpCurl.h"

namespace platform {

namespace posix_http {

void EnsureCurlInitialised() {
  static std::once_flag once;
  std::call_once(once, [] {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    // A peer that closes a TLS connection while it is written to must give
    // an error, not end the process: OpenSSL writes with write(), which
    // raises SIGPIPE. Transfers run with CURLOPT_NOSIGNAL (worker threads),
    // so libcurl does not shield them itself.
    struct sigaction current {};
    if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
      signal(SIGPIPE, SIG_IGN);
  });
}

void UseTrustedAuthorities(CURL* curl) {
  if (const char* f = std::getenv("SSL_CERT_FILE"); f && *f)
    curl_easy_setopt(curl, CURLOPT_CAINFO, f);
  if (const char* d = std::getenv("SSL_CERT_DIR"); d && *d)
    curl_easy_setopt(curl, CURLOPT_CAPATH, d);
}

}  // namespace posix_http

namespace {

size_t AppendBody(char* data, size_t size, size_t count, void* user) {
  auto* body = static_cast<std::string*>(user);
  // A body longer than any answer of the service ends the transfer (a short
  // count fails it) rather than filling the memory.
  if (body->size() + size * count > kMaxDirectBodyBytes) return 0;
  body->append(data, size * count);
  return size * count;
}

void SetError(std::string* error, const std::string& text) {
  if (error) *error = text;
}

}  // namespace

bool HttpGetDirect(const std::string& url, std::string& body, int timeoutMs, std::string* error) {
  body.clear();
  if (!CheckDirectAddress(url, error)) return false;
  posix_http::EnsureCurlInitialised();
  CURL* curl = curl_easy_init();
  if (!curl) {
    SetError(error, "cannot create a transfer handle");
    return false;
  }
  if (timeoutMs <= 0) timeoutMs = 30000;
  char errbuf[CURL_ERROR_SIZE] = {0};
  // Unescaped, libcurl refuses the whole address.
  const std::string escaped = EscapeRequestBytes(url);
  curl_easy_setopt(curl, CURLOPT_URL, escaped.c_str());
  // An empty proxy string disables proxies completely, including the ones
  // libcurl would otherwise pick up from the environment.
  curl_easy_setopt(curl, CURLOPT_PROXY, "");
  curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS,
                   static_cast<long>(timeoutMs < 10000 ? timeoutMs : 10000));
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(timeoutMs));
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  // From https, redirects stay on https (as WinINet refuses the downgrade).
  const bool secure = url.size() >= 6 && SameText(url.substr(0, 6), "https:");
  curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, secure ? "https" : "http,https");
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &AppendBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errbuf);
  // Certificates are checked in full, host name included.
  posix_http::UseTrustedAuthorities(curl);
  const CURLcode rc = curl_easy_perform(curl);
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  curl_easy_cleanup(curl);
  if (rc != CURLE_OK) {
    // A word for the kind of failure first, so that callers can tell the
    // user why (the library's own text follows).
    std::string kind;
    switch (rc) {
      case CURLE_COULDNT_RESOLVE_HOST: kind = "name not resolved: "; break;
      case CURLE_COULDNT_CONNECT: kind = "connection refused: "; break;
      case CURLE_PEER_FAILED_VERIFICATION:
      case CURLE_SSL_CACERT_BADFILE:
      case CURLE_SSL_CONNECT_ERROR: kind = "certificate refused: "; break;
      case CURLE_OPERATION_TIMEDOUT: kind = "timed out: "; break;
      default: break;
    }
    SetError(error, kind + (errbuf[0] ? std::string(errbuf) : std::string(curl_easy_strerror(rc))));
    body.clear();
    return false;
  }
  if (status < 200 || status > 299) {
    SetError(error, "HTTP status " + std::to_string(status));
    body.clear();
    return false;
  }
  return true;
}

}  // namespace platform
