// win32 backend of the browser queries: Firefox's top-level windows have the
// class "MozillaUIWindowClass".
#include "platform/Browser.h"

#include <windows.h>

#include "platform/Files.h"
#include "platform/win32/WinText.h"

namespace platform {

bool FirefoxRunning(const std::string&) {
  return FindWindowW(L"MozillaUIWindowClass", nullptr) != nullptr;
}

std::string FirefoxProfilesFolder() {
  const std::string appData = DefaultShellFolder("AppData");
  return appData.empty() ? std::string() : appData + "\\Mozilla\\Firefox";
}

std::string LegacyOperaPrefsFile() { return std::string(); }

namespace {
std::string LocalAppData() {
  wchar_t buf[32768];
  DWORD n = GetEnvironmentVariableW(L"LOCALAPPDATA", buf, 32768);
  if (n > 0 && n < 32768) return win32::Utf8(buf);
  return std::string();
}

// Whether another process holds the file open without sharing it, as a
// running browser holds its lock file.
bool HeldOpen(const std::string& file) {
  HANDLE h = CreateFileW(win32::Wide(file).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    CloseHandle(h);
    return false;
  }
  return GetLastError() == ERROR_SHARING_VIOLATION;
}
}  // namespace

std::vector<ChromiumProfileLocation> ChromiumProfileLocations() {
  std::vector<ChromiumProfileLocation> result;
  const std::string local = LocalAppData();
  if (!local.empty()) {
    const struct {
      const char* browser;
      const char* folder;
    } kFamily[] = {{"Chromium", "Chromium"},
                   {"Google Chrome", "Google\\Chrome"},
                   {"Brave", "BraveSoftware\\Brave-Browser"},
                   {"Vivaldi", "Vivaldi"},
                   {"Microsoft Edge", "Microsoft\\Edge"}};
    for (const auto& b : kFamily) {
      const std::string data = local + "\\" + b.folder + "\\User Data";
      result.push_back({b.browser, data, data + "\\Default"});
    }
  }
  const std::string roaming = DefaultShellFolder("AppData");
  if (!roaming.empty()) {
    const std::string opera = roaming + "\\Opera Software\\Opera Stable";
    result.push_back({"Opera", opera, opera});
  }
  return result;
}

bool BrowserProfileInUse(const std::string& folder) {
  return HeldOpen(folder + "\\lockfile") || HeldOpen(folder + "\\parent.lock");
}

}  // namespace platform
