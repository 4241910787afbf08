// win32 backend of the browser queries: Firefox's top-level windows have the
// class "MozillaUIWindowClass".
#include "platform/Browser.h"

#include <windows.h>

namespace platform {

bool FirefoxRunning(const std::string&) {
  return FindWindowW(L"MozillaUIWindowClass", nullptr) != nullptr;
}

}  // namespace platform
