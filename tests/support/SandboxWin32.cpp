#ifdef _WIN32

#include "support/SandboxWin32.h"

#include <windows.h>

#include <vector>

namespace {

struct Root {
  HKEY predefined;
  const wchar_t* scratch;
  const char* scratchText;
};
const Root kRoots[] = {
    {HKEY_CURRENT_USER, L"HKCU", "HKCU"},
    {HKEY_LOCAL_MACHINE, L"HKLM", "HKLM"},
    {HKEY_CLASSES_ROOT, L"HKCR", "HKCR"},
};
constexpr size_t kRootCount = sizeof kRoots / sizeof kRoots[0];

// Keys a fresh Windows user has, which system components open without
// creating them (WinINet writes the per-connection options below these).
const wchar_t* const kUserSkeleton[] = {
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections",
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Run",
};
const wchar_t* const kMachineSkeleton[] = {
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings",
};

std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

void CreateSkeleton(HKEY base, const wchar_t* const* keys, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    HKEY k = nullptr;
    if (RegCreateKeyExW(base, keys[i], 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr) ==
        ERROR_SUCCESS)
      RegCloseKey(k);
  }
}

}  // namespace

struct RegistryJail::Impl {
  std::string path;  // below the current HKEY_CURRENT_USER at creation
  HKEY keys[kRootCount] = {};
  std::string real[kRootCount];
  Impl* outer = nullptr;
};

namespace {
RegistryJail::Impl* gCurrent = nullptr;
int gCounter = 0;
}  // namespace

RegistryJail::RegistryJail() : FImpl(std::make_unique<Impl>()) {
  Impl& d = *FImpl;
  d.outer = gCurrent;
  d.path = "Software\\Veilgate Test Sandboxes\\" + std::to_string(GetCurrentProcessId()) + "-" +
           std::to_string(++gCounter);
  const std::string base =
      (d.outer ? d.outer->real[0] : std::string("HKEY_CURRENT_USER")) + "\\" + d.path + "\\";
  for (size_t i = 0; i < kRootCount; ++i) {
    std::wstring sub = Wide(d.path) + L"\\" + kRoots[i].scratch;
    RegCreateKeyExW(HKEY_CURRENT_USER, sub.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                    KEY_ALL_ACCESS, nullptr, &d.keys[i], nullptr);
    d.real[i] = base + kRoots[i].scratchText;
  }
  CreateSkeleton(d.keys[0], kUserSkeleton, sizeof kUserSkeleton / sizeof kUserSkeleton[0]);
  CreateSkeleton(d.keys[1], kMachineSkeleton, sizeof kMachineSkeleton / sizeof kMachineSkeleton[0]);
  for (size_t i = 0; i < kRootCount; ++i)
    if (d.keys[i]) RegOverridePredefKey(kRoots[i].predefined, d.keys[i]);
  gCurrent = &d;
}

RegistryJail::~RegistryJail() {
  Impl& d = *FImpl;
  for (size_t i = 0; i < kRootCount; ++i)
    RegOverridePredefKey(kRoots[i].predefined, d.outer ? d.outer->keys[i] : nullptr);
  gCurrent = d.outer;
  for (HKEY k : d.keys)
    if (k) RegCloseKey(k);
  RegDeleteTreeW(HKEY_CURRENT_USER, Wide(d.path).c_str());
  RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Veilgate Test Sandboxes");  // when empty
}

std::string RegistryJail::RealKey(RegRoot root) const {
  switch (root) {
    case RegRoot::CurrentUser: return FImpl->real[0];
    case RegRoot::LocalMachine: return FImpl->real[1];
    case RegRoot::ClassesRoot: return FImpl->real[2];
    default: return std::string();
  }
}

#endif  // _WIN32
