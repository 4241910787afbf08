// win32 backend of the process service: CreateProcessW, ShellExecuteW and
// the Run key.
#include "platform/Process.h"

#include <windows.h>
#include <shellapi.h>

#include "platform/win32/WinText.h"
// After WinText.h, which lifts the registry macros of <windows.h>.
#include "platform/Files.h"
#include "platform/Registry.h"

namespace platform {

namespace {
using win32::Utf8;
using win32::Wide;

constexpr const char* kRunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
}  // namespace

std::vector<std::string> SplitCommandLine(const std::string& commandLine) {
  std::vector<std::string> args;
  // CommandLineToArgvW gives the program's own path for an empty text.
  if (commandLine.empty()) return args;
  int count = 0;
  LPWSTR* argv = CommandLineToArgvW(Wide(commandLine).c_str(), &count);
  if (!argv) return args;
  for (int i = 0; i < count; ++i) args.push_back(Utf8(argv[i]));
  LocalFree(argv);
  return args;
}

std::string FindProgramOnPath(const std::string&) { return std::string(); }

bool StartProcess(const std::string& commandLine, const std::string& workDir, bool hidden,
                  bool wait, int timeoutMs) {
  if (commandLine.find_first_not_of(" \t") == std::string::npos) return false;
  if (!workDir.empty() && !DirectoryExists(workDir)) return false;
  // CreateProcessW may write into the command line buffer.
  std::wstring line = Wide(commandLine);
  line.push_back(L'\0');
  std::wstring folder = Wide(workDir);
  STARTUPINFOW si;
  ZeroMemory(&si, sizeof si);
  si.cb = sizeof si;
  if (hidden) {
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_HIDE;
  }
  PROCESS_INFORMATION pi;
  ZeroMemory(&pi, sizeof pi);
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      workDir.empty() ? nullptr : folder.c_str(), &si, &pi))
    return false;
  NotifyProcessStarted(commandLine);
  if (wait)
    WaitForSingleObjectEx(pi.hProcess, timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs),
                          TRUE);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return true;
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  std::vector<std::string> args;
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide) {
    for (int i = 0; i < count; ++i) args.push_back(Utf8(wide[i]));
    LocalFree(wide);
    return args;
  }
  for (int i = 0; i < argc; ++i) args.emplace_back(argv[i] ? argv[i] : "");
  return args;
}

bool ShellOpen(const std::string& target) {
  if (target.empty()) return false;
  HINSTANCE rc =
      ShellExecuteW(nullptr, L"open", Wide(target).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
  return reinterpret_cast<INT_PTR>(rc) > 32;
}

void SetAutoRunEntry(bool enable, const std::string& name, const std::string& command) {
  if (enable)
    RegWriteString(RegRoot::CurrentUser, kRunKey, name, command);
  else
    RegDeleteValue(RegRoot::CurrentUser, kRunKey, name);
}

std::string GetAutoRunEntry(const std::string& name) {
  std::string command;
  if (!RegReadString(RegRoot::CurrentUser, kRunKey, name, command)) return std::string();
  return command;
}

}  // namespace platform
