// win32 backend of the named single-instance mutex: CreateMutexW, and
// GetLastError() == ERROR_ALREADY_EXISTS when another holder exists.
#include "platform/Mutex.h"

#include <windows.h>

#include <cstdio>
#include <mutex>
#include <vector>

#include "platform/AsciiText.h"
#include "platform/win32/WinText.h"

namespace platform {

namespace {

std::mutex gMutex;
std::vector<HANDLE> gHeld;

// Kernel object names are limited to MAX_PATH characters, may not hold "\"
// after the namespace prefix ("Global\", "Local\") and may not be empty
// after it ("Global\" alone is what an empty "App.GUID" gives). Such names are
// turned into a legal one: the prefix, the name's safe characters and a hash
// of the whole name, so that different names still name different mutexes.
std::wstring ObjectName(const std::string& name) {
  std::wstring wide = win32::Wide(name);
  size_t prefix = 0;
  for (const wchar_t* p : {L"Global\\", L"Local\\"}) {
    size_t n = wcslen(p);
    if (wide.size() >= n && _wcsnicmp(wide.c_str(), p, n) == 0) prefix = n;
  }
  std::wstring rest = wide.substr(prefix);
  if (!rest.empty() && rest.find(L'\\') == std::wstring::npos && wide.size() < MAX_PATH)
    return wide;
  const uint64_t hash = HashText64(name);
  std::wstring safe;
  for (wchar_t c : rest) {
    if (safe.size() >= 80) break;
    safe += c == L'\\' ? L'_' : c;
  }
  wchar_t hex[20];
  swprintf(hex, 20, L"-%016llx", static_cast<unsigned long long>(hash));
  return wide.substr(0, prefix) + safe + hex;
}

}  // namespace

MutexResult CreateNamedMutex(const std::string& name) {
  std::wstring object = ObjectName(name);
  HANDLE h = CreateMutexW(nullptr, FALSE, object.c_str());
  if (!h) return MutexResult::Failed;
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(h);
    return MutexResult::AlreadyExists;
  }
  std::lock_guard<std::mutex> lock(gMutex);
  gHeld.push_back(h);
  return MutexResult::Created;
}

void ReleaseNamedMutexes() {
  std::lock_guard<std::mutex> lock(gMutex);
  for (HANDLE h : gHeld) CloseHandle(h);
  gHeld.clear();
}

}  // namespace platform
