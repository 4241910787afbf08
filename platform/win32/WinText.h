// Text at the Windows boundary: the Qt-free code keeps UTF-8, the wide
// Win32 calls take UTF-16. Shared by the win32 backend files only.
#pragma once

#include "platform/NoCopy.h"

#include <windows.h>

#include <string>

// <windows.h> maps these names to their A/W variants with macros; the
// platform layer has functions of the same names.
#undef RegDeleteValue
#undef RegCreateKey
#undef RegDeleteKey

namespace platform::win32 {

// UTF-8 to UTF-16. Invalid UTF-8 sequences become U+FFFD.
inline std::wstring Wide(const std::string& text) {
  if (text.empty()) return std::wstring();
  int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

// UTF-16 (count units, or up to the terminator when count is negative) to UTF-8.
inline std::string Utf8(const wchar_t* text, int count = -1) {
  if (!text) return std::string();
  if (count < 0) count = static_cast<int>(wcslen(text));
  if (count == 0) return std::string();
  int n = WideCharToMultiByte(CP_UTF8, 0, text, count, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return std::string();
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, count, out.data(), n, nullptr, nullptr);
  return out;
}
inline std::string Utf8(const std::wstring& text) {
  return Utf8(text.c_str(), static_cast<int>(text.size()));
}

// The system's message for an error code, without the trailing line break.
inline std::string ErrorText(DWORD code) {
  wchar_t* buffer = nullptr;
  DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                               FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::string text;
  if (n && buffer) text = Utf8(buffer, static_cast<int>(n));
  if (buffer) LocalFree(buffer);
  while (!text.empty() &&
         (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.'))
    text.pop_back();
  if (text.empty()) text = "error " + std::to_string(code);
  return text;
}

// Closes a kernel handle when it goes out of scope.
class Handle : private TNoCopy {
 public:
  explicit Handle(HANDLE h = nullptr) : FHandle(h) {}
  ~Handle() { Reset(); }
  HANDLE get() const { return FHandle; }
  bool valid() const { return FHandle && FHandle != INVALID_HANDLE_VALUE; }
  void Reset(HANDLE h = nullptr) {
    if (valid()) CloseHandle(FHandle);
    FHandle = h;
  }

 private:
  HANDLE FHandle;
};

}  // namespace platform::win32
