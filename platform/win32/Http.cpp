// win32 backend of the HTTP transport: WinINet.
//  - HttpOpenRequest: InternetOpenW with INTERNET_OPEN_TYPE_PRECONFIG (the
//    user's proxy settings, among them the per-connection proxy the system
//    switch applied), InternetConnectW, HttpOpenRequestW with "HTTP/1.0" and
//    the downloader's flags, HttpSendRequestW, HttpQueryInfoW and
//    InternetReadFile. Cancel closes the handles, which makes a blocked call
//    return at once.
//  - HttpGetDirect: InternetOpenW with INTERNET_OPEN_TYPE_DIRECT and
//    InternetOpenUrlW, under a watchdog that closes the handles when the
//    total time is up.
#include "platform/Http.h"

#include <windows.h>
#include <wininet.h>
// <wininet.h> maps the name to HttpOpenRequestW; the transport has a
// function of that name.
#undef HttpOpenRequest

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "platform/AsciiText.h"
#include "platform/HttpAddress.h"
#include "platform/win32/WinText.h"

namespace platform {
namespace {

using win32::Utf8;
using win32::Wide;

void SetError(std::string* error, const std::string& text) {
  if (error) *error = text;
}

// WinINet's own error codes (12000 and up) have their texts in wininet.dll.
std::string InetErrorText(DWORD code) {
  if (code >= INTERNET_ERROR_BASE && code <= INTERNET_ERROR_LAST) {
    wchar_t buf[512];
    DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS,
                             GetModuleHandleW(L"wininet.dll"), code, 0, buf, 512, nullptr);
    std::string text = n ? Utf8(buf, static_cast<int>(n)) : std::string();
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == '.'))
      text.pop_back();
    return text.empty() ? "WinINet error " + std::to_string(code)
                        : text + " (WinINet error " + std::to_string(code) + ")";
  }
  return win32::ErrorText(code);
}

void SetTimeouts(HINTERNET h, int connectMs, int dataMs) {
  DWORD connect = static_cast<DWORD>(std::max(1, connectMs));
  DWORD data = static_cast<DWORD>(std::max(1, dataMs));
  InternetSetOptionW(h, INTERNET_OPTION_CONNECT_TIMEOUT, &connect, sizeof connect);
  InternetSetOptionW(h, INTERNET_OPTION_SEND_TIMEOUT, &data, sizeof data);
  InternetSetOptionW(h, INTERNET_OPTION_RECEIVE_TIMEOUT, &data, sizeof data);
  InternetSetOptionW(h, INTERNET_OPTION_DATA_SEND_TIMEOUT, &data, sizeof data);
  InternetSetOptionW(h, INTERNET_OPTION_DATA_RECEIVE_TIMEOUT, &data, sizeof data);
}

// A response header: HTTP_QUERY_CONTENT_LENGTH for the length, else a
// header looked up by name (HTTP_QUERY_CUSTOM).
bool QueryResponseHeader(HINTERNET request, const std::string& name, std::string& value) {
  if (!request) return false;
  const bool isLength = SameText(name, "Content-Length");
  std::wstring wname = Wide(name);
  std::wstring buf(std::max<size_t>(wname.size() + 1, 512), L'\0');
  for (int attempt = 0; attempt < 4; ++attempt) {
    if (!isLength) std::copy(wname.begin(), wname.end(), buf.begin()), buf[wname.size()] = 0;
    DWORD bytes = static_cast<DWORD>(buf.size() * sizeof(wchar_t));
    DWORD index = 0;
    if (HttpQueryInfoW(request, isLength ? HTTP_QUERY_CONTENT_LENGTH : HTTP_QUERY_CUSTOM,
                       buf.data(), &bytes, &index)) {
      value = Utf8(buf.c_str(), static_cast<int>(bytes / sizeof(wchar_t)));
      return true;
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return false;
    buf.assign(bytes / sizeof(wchar_t) + 2, L'\0');
  }
  return false;
}

int StatusOf(HINTERNET request) {
  DWORD status = 0, size = sizeof status, index = 0;
  if (!HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                      &index))
    return 0;
  return static_cast<int>(status);
}

class WinInetConnection final : public HttpConnection {
 public:
  explicit WinInetConnection(const HttpRequestOptions& options) : FOptions(options) {}
  ~WinInetConnection() override { CloseAll(); }

  bool Send(std::string* error) override;
  int StatusCode() const override { return FStatus; }
  bool QueryHeader(const std::string& name, std::string& value) const override {
    return QueryResponseHeader(Request(), name, value);
  }
  long Read(char* buffer, size_t size, std::string* error) override;
  void Cancel() override {
    FCancelled.store(true);
    CloseAll();
  }

 private:
  HINTERNET Request() const {
    std::lock_guard<std::mutex> lock(FLock);
    return FRequest;
  }
  // Stores a new handle unless the request was cancelled meanwhile.
  // Keeps a handle the named call opened, so that Cancel can close it; false
  // with the reason when the call failed or the request was cancelled
  // meanwhile (the handle is then closed).
  bool Hold(HINTERNET& slot, HINTERNET h, const char* call, std::string* error) {
    if (!h) {
      const DWORD err = GetLastError();
      SetError(error, FCancelled.load() ? std::string("cancelled")
                                        : std::string(call) + " failed: " + InetErrorText(err));
      return false;
    }
    std::lock_guard<std::mutex> lock(FLock);
    if (FCancelled.load()) {
      InternetCloseHandle(h);
      SetError(error, "cancelled");
      return false;
    }
    slot = h;
    return true;
  }
  void CloseAll() {
    std::lock_guard<std::mutex> lock(FLock);
    // Request, connection and session, in this order.
    for (HINTERNET* h : {&FRequest, &FConnect, &FInternet}) {
      if (*h) InternetCloseHandle(*h);
      *h = nullptr;
    }
  }

  HttpRequestOptions FOptions;
  mutable std::mutex FLock;
  HINTERNET FInternet = nullptr;
  HINTERNET FConnect = nullptr;
  HINTERNET FRequest = nullptr;
  std::atomic<bool> FCancelled{false};
  bool FSent = false;
  int FStatus = 0;
  long long FContentLength = -1;
  long long FReceived = 0;
};

bool WinInetConnection::Send(std::string* error) {
  if (FSent) {
    SetError(error, "request already sent");
    return false;
  }
  FSent = true;
  if (FCancelled.load()) {
    SetError(error, "cancelled");
    return false;
  }
  const std::wstring agent = Wide(FOptions.agent);
  // A named proxy is used for every address, loopback included ("<-loopback>"
  // takes back WinINet's own exception for it).
  const std::wstring proxy = Wide(FOptions.proxy);
  const DWORD access = !proxy.empty()            ? INTERNET_OPEN_TYPE_PROXY
                       : FOptions.useSystemProxy ? INTERNET_OPEN_TYPE_PRECONFIG
                                                 : INTERNET_OPEN_TYPE_DIRECT;
  HINTERNET inet = InternetOpenW(agent.empty() ? nullptr : agent.c_str(), access,
                                 proxy.empty() ? nullptr : proxy.c_str(),
                                 proxy.empty() ? nullptr : L"<-loopback>", 0);
  if (!Hold(FInternet, inet, "InternetOpen", error)) return false;
  SetTimeouts(inet, FOptions.connectTimeoutMs, FOptions.stallTimeoutMs);

  std::string host = FOptions.host;
  if (host.size() > 2 && host.front() == '[') host = host.substr(1, host.size() - 2);
  const std::wstring whost = Wide(host);
  const std::wstring user = Wide(FOptions.userName);
  const std::wstring password = Wide(FOptions.password);
  const bool credentials = !FOptions.userName.empty() || !FOptions.password.empty();
  HINTERNET connect =
      InternetConnectW(inet, whost.c_str(), static_cast<INTERNET_PORT>(FOptions.port),
                       credentials ? user.c_str() : nullptr,
                       credentials ? password.c_str() : nullptr, INTERNET_SERVICE_HTTP, 0, 0);
  if (!Hold(FConnect, connect, "InternetConnect", error)) return false;

  // HTTPS: secure, with WinINet's full certificate check (chain and host
  // name: a certificate for another name would let anyone holding one answer
  // for the service); HTTP: a fresh copy unless the cache may answer.
  const DWORD flags =
      FOptions.secure ? INTERNET_FLAG_SECURE : (FOptions.reload ? INTERNET_FLAG_RELOAD : 0);
  const std::wstring verb = Wide(FOptions.verb.empty() ? std::string("GET") : FOptions.verb);
  const std::wstring object = Wide(RequestObject(FOptions.object));
  const std::wstring referer = Wide(FOptions.referer);
  const std::wstring accept =
      Wide(FOptions.acceptType.empty() ? std::string("*") : FOptions.acceptType);
  LPCWSTR acceptTypes[] = {accept.c_str(), nullptr};
  HINTERNET request =
      HttpOpenRequestW(connect, verb.c_str(), object.c_str(), L"HTTP/1.0",
                       referer.empty() ? nullptr : referer.c_str(), acceptTypes, flags, 0);
  if (!Hold(FRequest, request, "HttpOpenRequest", error)) return false;

  // Extra header lines; a line without a name is the Content-Type value.
  std::string headers;
  size_t pos = 0;
  while (pos < FOptions.headers.size()) {
    size_t end = FOptions.headers.find_first_of("\r\n", pos);
    if (end == std::string::npos) end = FOptions.headers.size();
    std::string line = FOptions.headers.substr(pos, end - pos);
    pos = end + 1;
    size_t b = line.find_first_not_of(" \t");
    if (b == std::string::npos) continue;
    line = line.substr(b);
    if (line.find(':') == std::string::npos) line = "Content-Type: " + line;
    headers += line + "\r\n";
  }
  const std::wstring wheaders = Wide(headers);
  const bool post = FOptions.verb == "POST";
  const std::string& body = FOptions.body;
  if (!HttpSendRequestW(request, wheaders.empty() ? nullptr : wheaders.c_str(),
                        static_cast<DWORD>(wheaders.size()),
                        post && !body.empty() ? const_cast<char*>(body.data()) : nullptr,
                        post ? static_cast<DWORD>(body.size()) : 0)) {
    DWORD err = GetLastError();
    SetError(error,
             FCancelled.load() ? "cancelled" : "HttpSendRequest failed: " + InetErrorText(err));
    return false;
  }
  if (FCancelled.load()) {
    SetError(error, "cancelled");
    return false;
  }
  FStatus = StatusOf(request);
  if (FStatus == 0) {
    SetError(error, "no response");
    return false;
  }
  std::string length;
  if (QueryResponseHeader(request, "Content-Length", length)) {
    char* end = nullptr;
    long long n = std::strtoll(length.c_str(), &end, 10);
    if (end != length.c_str() && n >= 0) FContentLength = n;
  }
  return true;
}

long WinInetConnection::Read(char* buffer, size_t size, std::string* error) {
  if (FCancelled.load()) {
    SetError(error, "cancelled");
    return -1;
  }
  HINTERNET request = Request();
  if (!FSent || !request || FStatus == 0) {
    SetError(error, "request not sent");
    return -1;
  }
  DWORD want = static_cast<DWORD>(std::min<size_t>(size, 1u << 20));
  DWORD got = 0;
  if (!InternetReadFile(request, buffer, want, &got)) {
    DWORD err = GetLastError();
    SetError(error, FCancelled.load() ? "cancelled" : InetErrorText(err));
    return -1;
  }
  if (FCancelled.load()) {
    SetError(error, "cancelled");
    return -1;
  }
  if (got == 0) {
    // WinINet ends a body cut short as if it were complete; the announced
    // length tells.
    if (FContentLength >= 0 && FReceived < FContentLength) {
      SetError(error, "connection closed after " + std::to_string(FReceived) + " of " +
                          std::to_string(FContentLength) + " bytes");
      return -1;
    }
    return 0;
  }
  FReceived += got;
  return static_cast<long>(got);
}

}  // namespace

std::unique_ptr<HttpConnection> HttpOpenRequest(const HttpRequestOptions& options,
                                                std::string* error) {
  if (!CheckRequestAddress(options.host, options.port, error)) return nullptr;
  return std::make_unique<WinInetConnection>(options);
}

bool HttpGetDirect(const std::string& url, std::string& body, int timeoutMs, std::string* error) {
  body.clear();
  if (!CheckDirectAddress(url, error)) return false;
  if (timeoutMs <= 0) timeoutMs = 30000;
  HINTERNET inet = InternetOpenW(nullptr, INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  if (!inet) {
    SetError(error, "InternetOpen failed: " + InetErrorText(GetLastError()));
    return false;
  }
  SetTimeouts(inet, std::min(timeoutMs, 10000), timeoutMs);

  // The watchdog closes the session when the total time is up; every call
  // blocked on it then returns with an error.
  std::mutex lock;
  std::condition_variable wake;
  bool finished = false;
  bool timedOut = false;
  std::thread watchdog([&] {
    std::unique_lock<std::mutex> guard(lock);
    if (!wake.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] { return finished; })) {
      timedOut = true;
      InternetCloseHandle(inet);
    }
  });

  bool ok = false;
  std::string reason;
  const DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_UI |
                      INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_PRAGMA_NOCACHE;
  HINTERNET page = InternetOpenUrlW(inet, Wide(url).c_str(), nullptr, 0, flags, 0);
  if (!page) {
    reason = InetErrorText(GetLastError());
  } else {
    int status = StatusOf(page);
    if (status < 200 || status > 299) {
      reason = "HTTP status " + std::to_string(status);
    } else {
      char buf[16384];
      for (;;) {
        DWORD got = 0;
        if (!InternetReadFile(page, buf, sizeof buf, &got)) {
          reason = InetErrorText(GetLastError());
          break;
        }
        if (got == 0) {
          ok = true;
          break;
        }
        if (body.size() + got > kMaxDirectBodyBytes) {
          reason = "the answer is longer than " + std::to_string(kMaxDirectBodyBytes) + " bytes";
          break;
        }
        body.append(buf, got);
      }
    }
  }
  {
    std::lock_guard<std::mutex> guard(lock);
    finished = true;
  }
  wake.notify_all();
  watchdog.join();
  if (page) InternetCloseHandle(page);
  if (!timedOut) InternetCloseHandle(inet);
  if (timedOut) {
    ok = false;
    reason = "timed out after " + std::to_string(timeoutMs) + " ms";
  }
  if (!ok) {
    body.clear();
    SetError(error, reason);
  }
  return ok;
}

}  // namespace platform
