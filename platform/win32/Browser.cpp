// win32 backend of the browser queries: Firefox's top-level windows have the
// class "MozillaUIWindowClass".
#include "platform/Browser.h"

#include <windows.h>

#include "platform/Files.h"

namespace platform {

bool FirefoxRunning(const std::string&) {
  return FindWindowW(L"MozillaUIWindowClass", nullptr) != nullptr;
}

std::string FirefoxProfilesFolder() {
  const std::string appData = DefaultShellFolder("AppData");
  return appData.empty() ? std::string() : appData + "\\Mozilla\\Firefox";
}

std::string LegacyOperaPrefsFile() { return std::string(); }

}  // namespace platform
