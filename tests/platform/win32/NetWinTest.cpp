// WinINet under the transport interface: a small HTTP server on loopback
// (Winsock, in this test) answers with and without Content-Length, short
// bodies and as a forward proxy; the URL cache walk runs over entries this
// test commits to the real cache.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

#include "WinTestSupport.h"
#include "framework/CLSettings.h"
#include "platform/Http.h"
#include "platform/ProxySettings.h"
#include "platform/UrlCache.h"
#include "switch/uVGUtils.h"
// After the platform headers, whose constants share names with its macros.
#include <wininet.h>
#undef HttpOpenRequest

namespace {

// Answers every connection with the reply for its request line, recording
// the request lines it saw.
class LoopbackServer {
 public:
  using Reply = std::function<std::string(const std::string& requestLine, const std::string& body)>;
  explicit LoopbackServer(Reply reply) : FReply(std::move(reply)) {
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    FSocket = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(FSocket, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    int len = sizeof addr;
    getsockname(FSocket, reinterpret_cast<sockaddr*>(&addr), &len);
    FPort = ntohs(addr.sin_port);
    listen(FSocket, 16);
    FThread = std::thread([this] { Run(); });
  }
  ~LoopbackServer() {
    FStop = true;
    closesocket(FSocket);
    FThread.join();
    WSACleanup();
  }
  int Port() const { return FPort; }
  std::vector<std::string> Requests() {
    std::lock_guard<std::mutex> lock(FLock);
    return FRequests;
  }

 private:
  void Run() {
    while (!FStop) {
      SOCKET c = accept(FSocket, nullptr, nullptr);
      if (c == INVALID_SOCKET) return;
      std::string in;
      char buf[4096];
      size_t headerEnd = std::string::npos;
      while ((headerEnd = in.find("\r\n\r\n")) == std::string::npos) {
        int n = recv(c, buf, sizeof buf, 0);
        if (n <= 0) break;
        in.append(buf, n);
      }
      std::string body;
      if (headerEnd != std::string::npos) {
        size_t lengthAt = in.find("Content-Length: ");
        size_t want = lengthAt == std::string::npos ? 0 : std::stoul(in.substr(lengthAt + 16));
        body = in.substr(headerEnd + 4);
        while (body.size() < want) {
          int n = recv(c, buf, sizeof buf, 0);
          if (n <= 0) break;
          body.append(buf, n);
        }
      }
      const std::string line = in.substr(0, in.find("\r\n"));
      {
        std::lock_guard<std::mutex> lock(FLock);
        FRequests.push_back(in.substr(0, headerEnd));
      }
      const std::string out = FReply(line, body);
      send(c, out.data(), static_cast<int>(out.size()), 0);
      shutdown(c, SD_SEND);
      while (recv(c, buf, sizeof buf, 0) > 0) {
      }
      closesocket(c);
    }
  }
  Reply FReply;
  SOCKET FSocket;
  int FPort = 0;
  std::atomic<bool> FStop{false};
  std::thread FThread;
  std::mutex FLock;
  std::vector<std::string> FRequests;
};

std::string Answer(const std::string& line, const std::string& body) {
  if (line.find(" /sized ") != std::string::npos)
    return "HTTP/1.0 200 OK\r\nContent-Length: 11\r\n\r\nhello world";
  if (line.find(" /unsized ") != std::string::npos)
    return "HTTP/1.0 200 OK\r\nX-Test: yes\r\n\r\nno length here";
  if (line.find(" /short ") != std::string::npos)
    return "HTTP/1.0 200 OK\r\nContent-Length: 1000\r\n\r\n" + std::string(900, 's');
  if (line.rfind("POST ", 0) == 0)
    return "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
  if (line.find("http://veilgate.invalid") != std::string::npos)  // asked as a proxy
    return "HTTP/1.0 200 OK\r\nContent-Length: 7\r\n\r\nproxied";
  return "HTTP/1.0 404 Not Found\r\nContent-Length: 4\r\n\r\nnope";
}

std::string ReadAll(platform::HttpConnection& c, long& last) {
  std::string body;
  char buf[16384];
  std::string error;
  while ((last = c.Read(buf, sizeof buf, &error)) > 0) body.append(buf, last);
  return body;
}

class NetWinTest : public SandboxTest {
 protected:
  void TearDown() override {
    ReleaseCLSettings();
    SandboxTest::TearDown();
  }
};

TEST_F(NetWinTest, DownloaderTransportKeepsTheContentLengthRules) {
  LoopbackServer server(Answer);
  platform::HttpRequestOptions o;
  o.host = "127.0.0.1";
  o.port = server.Port();
  o.useSystemProxy = false;
  o.agent = "Veilgate test";

  o.object = "/sized";
  auto c = platform::HttpOpenRequest(o);
  ASSERT_TRUE(c);
  std::string error, value;
  ASSERT_TRUE(c->Send(&error)) << error;
  EXPECT_EQ(c->StatusCode(), 200);
  ASSERT_TRUE(c->QueryHeader("content-length", value));
  EXPECT_EQ(value, "11");
  long last = 0;
  EXPECT_EQ(ReadAll(*c, last), "hello world");
  EXPECT_EQ(last, 0);
  const std::string first = server.Requests().at(0);
  EXPECT_EQ(first.rfind("GET /sized HTTP/1.0\r\n", 0), 0u) << first;
  EXPECT_NE(first.find("User-Agent: Veilgate test"), std::string::npos) << first;

  o.object = "/unsized";
  c = platform::HttpOpenRequest(o);
  ASSERT_TRUE(c->Send(&error)) << error;
  EXPECT_FALSE(c->QueryHeader("Content-Length", value));
  ASSERT_TRUE(c->QueryHeader("X-Test", value));
  EXPECT_EQ(value, "yes");
  EXPECT_EQ(ReadAll(*c, last), "no length here");
  EXPECT_EQ(last, 0);

  // A body shorter than announced ends in an error after the bytes that came.
  o.object = "/short";
  c = platform::HttpOpenRequest(o);
  ASSERT_TRUE(c->Send(&error)) << error;
  EXPECT_EQ(ReadAll(*c, last).size(), 900u);
  EXPECT_EQ(last, -1);

  o.object = "/echo";
  o.verb = "POST";
  o.body = std::string("a=1&b=\xFF\0", 8);
  o.headers = "Content-Type: application/x-www-form-urlencoded";
  c = platform::HttpOpenRequest(o);
  ASSERT_TRUE(c->Send(&error)) << error;
  EXPECT_EQ(ReadAll(*c, last), o.body);

  o.verb = "GET";
  o.object = "/missing";
  c = platform::HttpOpenRequest(o);
  ASSERT_TRUE(c->Send(&error)) << error;
  EXPECT_EQ(c->StatusCode(), 404);

  // Requests that cannot be formed, and a port where nobody listens.
  o.host = "bad host";
  EXPECT_FALSE(platform::HttpOpenRequest(o, &error));
  o.host = "127.0.0.1";
  o.port = 0;
  EXPECT_FALSE(platform::HttpOpenRequest(o, &error));
}

TEST_F(NetWinTest, PreconfiguredRequestsFollowTheSystemProxyAndDirectOnesDoNot) {
  LoopbackServer proxy(Answer);
  sb().WriteFile("app/const.dat", "[setting]\r\nSWITCH.IE=1\r\n");
  SetIEProxy("127.0.0.1:" + std::to_string(proxy.Port()));

  platform::HttpRequestOptions o;
  o.host = "veilgate.invalid";
  o.port = 80;
  o.object = "/page";
  auto c = platform::HttpOpenRequest(o);
  std::string error;
  ASSERT_TRUE(c->Send(&error)) << error;
  long last = 0;
  EXPECT_EQ(ReadAll(*c, last), "proxied");
  ASSERT_FALSE(proxy.Requests().empty());
  // The absolute address of a proxied request (WinINet names the port).
  const std::string asked = proxy.Requests().back();
  EXPECT_TRUE(asked.rfind("GET http://veilgate.invalid/page HTTP/1.0\r\n", 0) == 0 ||
              asked.rfind("GET http://veilgate.invalid:80/page HTTP/1.0\r\n", 0) == 0)
      << asked;

  // The direct GET goes to the server itself, whatever the system proxy is.
  LoopbackServer direct(Answer);
  std::string body;
  ASSERT_TRUE(
      platform::HttpGetDirect("http://127.0.0.1:" + std::to_string(direct.Port()) + "/sized", body,
                              10000, &error))
      << error;
  EXPECT_EQ(body, "hello world");
  EXPECT_EQ(direct.Requests().size(), 1u);
  EXPECT_FALSE(
      platform::HttpGetDirect("http://127.0.0.1:" + std::to_string(direct.Port()) + "/missing",
                              body, 10000, &error));
  EXPECT_NE(error.find("404"), std::string::npos) << error;
  EXPECT_FALSE(platform::HttpGetDirect("ftp://127.0.0.1/", body, 1000, &error));
  SetIEProxy("");
}

// Puts an entry of the given type into the user's URL cache.
bool Commit(const std::wstring& url, DWORD type) {
  wchar_t file[MAX_PATH];
  if (!CreateUrlCacheEntryW(url.c_str(), 4, L"txt", file, 0)) return false;
  HANDLE h = CreateFileW(file, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  WriteFile(h, "data", 4, &written, nullptr);
  CloseHandle(h);
  FILETIME never = {};
  return CommitUrlCacheEntryW(url.c_str(), file, never, never, type, nullptr, 0, nullptr,
                              nullptr) != FALSE;
}

bool InCache(const std::wstring& url) {
  DWORD size = 0;
  GetUrlCacheEntryInfoW(url.c_str(), nullptr, &size);
  return GetLastError() == ERROR_INSUFFICIENT_BUFFER;
}

TEST_F(NetWinTest, CacheClearingDeletesCookiesHistoryAndNormalEntriesOnly) {
  const std::wstring base =
      L"http://veilgate.test/" + std::to_wstring(GetCurrentProcessId()) + L"/";
  const std::wstring urls[] = {base + L"normal", base + L"cookie", base + L"sticky"};
  ASSERT_TRUE(Commit(urls[0], NORMAL_CACHE_ENTRY));
  ASSERT_TRUE(Commit(urls[1], COOKIE_CACHE_ENTRY));
  ASSERT_TRUE(Commit(urls[2], STICKY_CACHE_ENTRY));

  // The walk through the system's provider: a size query, then a fresh
  // buffer of that size for each entry. It sees the entries with the types
  // the cache keeps for them (Wine adds the normal bit to every entry).
  platform::UrlCacheProvider& cache = platform::SystemUrlCache();
  uint32_t size = 0;
  EXPECT_EQ(cache.FindFirst(nullptr, size), nullptr);
  ASSERT_GT(size, 0u);
  std::vector<char> buf(size);
  cache.SetStructSize(buf.data(), size, size);
  platform::UrlCacheEnum e = cache.FindFirst(buf.data(), size);
  ASSERT_NE(e, nullptr);
  std::map<std::string, uint32_t> types;
  for (;;) {
    const std::string url = cache.SourceUrl(buf.data());
    if (url.find("veilgate.test") != std::string::npos) types[url] = cache.EntryType(buf.data());
    size = 0;
    if (cache.FindNext(e, nullptr, size) || size == 0) break;
    buf.assign(size, 0);
    cache.SetStructSize(buf.data(), size, size);
    if (!cache.FindNext(e, buf.data(), size)) break;
  }
  EXPECT_TRUE(cache.FindClose(e));
  ASSERT_EQ(types.size(), 3u);
  EXPECT_TRUE(types.begin()->second & COOKIE_CACHE_ENTRY) << types.begin()->first;

  ClearIECookies();
  const uint32_t cleared = NORMAL_CACHE_ENTRY | COOKIE_CACHE_ENTRY | URLHISTORY_CACHE_ENTRY;
  for (const std::wstring& url : urls) {
    const std::string narrow(url.begin(), url.end());
    ASSERT_TRUE(types.count(narrow)) << narrow;
    EXPECT_EQ(InCache(url), (types[narrow] & cleared) == 0) << narrow << " " << types[narrow];
    DeleteUrlCacheEntryW(url.c_str());
  }
}

}  // namespace
