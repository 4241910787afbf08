// A Windows program as any other on the user's machine: it fetches one
// address through WinINet with the system's preconfigured proxy, the
// setting Veilgate switches while it hides. Prints the HTTP status, then
// the body. Exit status 0 when an answer came, 1 when none did, 2 on a bad
// command line. Used by scripts/test-windows-app.
#include <windows.h>
#include <wininet.h>

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: wininet-fetch URL\n");
    return 2;
  }
  HINTERNET net =
      InternetOpenW(L"wininet-fetch", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  if (!net) {
    std::fprintf(stderr, "InternetOpen failed: %lu\n", GetLastError());
    return 1;
  }
  const DWORD flags =
      INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE;
  HINTERNET req = InternetOpenUrlW(net, argv[1], nullptr, 0, flags, 0);
  if (!req) {
    std::fprintf(stderr, "no answer: %lu\n", GetLastError());
    InternetCloseHandle(net);
    return 1;
  }
  DWORD status = 0;
  DWORD size = sizeof(status);
  HttpQueryInfoW(req, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr);
  std::string body;
  char buf[4096];
  DWORD got = 0;
  while (InternetReadFile(req, buf, sizeof(buf), &got) && got > 0) body.append(buf, got);
  std::printf("%lu\n%s\n", status, body.c_str());
  InternetCloseHandle(req);
  InternetCloseHandle(net);
  return 0;
}
