// Windows backend of the system log: the debugger output, which a debugger
// or a debug viewer shows as the program writes it.
#include "platform/SystemLog.h"

#include <windows.h>

#include "platform/win32/WinText.h"

namespace platform {

void SetSystemLogSocket(const std::string&) {}

void SystemLog(const std::string& line) {
  const std::wstring text = win32::Wide("veilgate: " + line + "\n");
  ::OutputDebugStringW(text.c_str());
}

}  // namespace platform
