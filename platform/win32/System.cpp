// win32 backend of the system description: GetVersionExW with the extended
// structure, and GetNativeSystemInfo / IsWow64Process looked up at run time
// (older systems lack them).
#include "platform/System.h"

#include <windows.h>

#include "platform/win32/WinText.h"

namespace platform {

namespace {

template <typename Fn>
Fn Lookup(const wchar_t* module, const char* name) {
  HMODULE h = GetModuleHandleW(module);
  return h ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(h, name))) : nullptr;
}

}  // namespace

VersionInfo GetVersionInfo() {
  VersionInfo info;
  info.systemName = "Windows";
  OSVERSIONINFOEXW ex;
  ZeroMemory(&ex, sizeof ex);
  ex.dwOSVersionInfoSize = sizeof ex;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&ex))) {
    info.extendedData = true;
  } else {
    ZeroMemory(&ex, sizeof ex);
    ex.dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);
    if (!GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&ex))) return info;
  }
#pragma GCC diagnostic pop
  info.platformId = ex.dwPlatformId;
  info.major = ex.dwMajorVersion;
  info.minor = ex.dwMinorVersion;
  info.build = ex.dwBuildNumber;
  info.csdVersion = win32::Utf8(ex.szCSDVersion);
  if (info.extendedData) {
    info.servicePackMajor = ex.wServicePackMajor;
    info.servicePackMinor = ex.wServicePackMinor;
    info.suiteMask = ex.wSuiteMask;
    info.productType = ex.wProductType;
  }
  info.release = std::to_string(info.major) + "." + std::to_string(info.minor) + "." +
                 std::to_string(info.build);

  using NativeInfoFn = void(WINAPI*)(LPSYSTEM_INFO);
  using IsWow64Fn = BOOL(WINAPI*)(HANDLE, PBOOL);
  SYSTEM_INFO si;
  ZeroMemory(&si, sizeof si);
  if (auto native = Lookup<NativeInfoFn>(L"kernel32.dll", "GetNativeSystemInfo"))
    native(&si);
  else
    GetSystemInfo(&si);
  info.processorArchitecture = si.wProcessorArchitecture;
  info.is64BitSystem = si.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64 ||
                       si.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_IA64 ||
                       si.wProcessorArchitecture == 12;  // ARM64
  BOOL wow = FALSE;
  if (auto isWow64 = Lookup<IsWow64Fn>(L"kernel32.dll", "IsWow64Process"))
    if (isWow64(GetCurrentProcess(), &wow)) info.isWow64 = wow != FALSE;
  info.serverR2 = GetSystemMetrics(SM_SERVERR2);
  return info;
}

bool CtrlAndShiftDown() {
  return (GetKeyState(VK_CONTROL) & 0x8000) && (GetKeyState(VK_SHIFT) & 0x8000);
}

void SleepMs(int milliseconds) {
  if (milliseconds > 0) Sleep(static_cast<DWORD>(milliseconds));
}

}  // namespace platform
