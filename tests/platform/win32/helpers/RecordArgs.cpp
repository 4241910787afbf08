// A stand-in for a program the application starts (Firefox among them): it
// writes its command line exactly as it received it (GetCommandLineW, as
// UTF-8) and its working folder to "args.txt" beside itself, then ends.
#include <windows.h>

#include <string>

static std::string Utf8(const wchar_t* text) {
  int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(n > 1 ? n - 1 : 0, '\0');
  if (n > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
  return out;
}

int main() {
  wchar_t exe[MAX_PATH * 4];
  DWORD n = GetModuleFileNameW(nullptr, exe, MAX_PATH * 4);
  std::wstring file(exe, n);
  file = file.substr(0, file.find_last_of(L'\\') + 1) + L"args.txt";
  wchar_t cwd[MAX_PATH * 4];
  GetCurrentDirectoryW(MAX_PATH * 4, cwd);
  std::string text = "cmdline=" + Utf8(GetCommandLineW()) + "\ncwd=" + Utf8(cwd) + "\n";
  // Appended, so that several starts leave several records.
  HANDLE h = CreateFileW(file.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(h);
  return 0;
}
