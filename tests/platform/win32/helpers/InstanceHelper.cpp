// A running instance for the Windows instance tests, in a process of its
// own: it takes the single-instance mutex, shows a real main window and
// answers the registered messages on an instance window of the class, as the
// engine's window hook does:
//   win32_instance_helper CLASS APPID MUTEX LOGFILE [busy|hang]
// "CL GetAppID" answers APPID, "CL IfBusy" 1 in busy mode, "CL BringtoFront"
// 0 (no tray icon), "CL CloseApp" ends the message loop, WM_COPYDATA writes
// "param:" and the UTF-16 text as UTF-8 to LOGFILE. In hang mode the thread
// never pumps its messages. LOGFILE gets "ready" once everything is up,
// "mutex exists" when another holder had the mutex, and "closed" at the end.
#include <windows.h>

#include <string>

#include "platform/Files.h"
#include "platform/Instance.h"
#include "platform/Mutex.h"
#include "platform/Process.h"

namespace {

std::string gLog;

void Log(const std::string& line) {
  std::string text;
  platform::ReadWholeFile(gLog, text);
  platform::WriteFileAtomic(gLog, text + line + "\n");
}

std::string Utf16ToUtf8(const std::string& bytes) {
  std::wstring wide(bytes.size() / 2, L'\0');
  memcpy(wide.data(), bytes.data(), wide.size() * 2);
  int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                              nullptr, nullptr);
  std::string out(n > 0 ? n : 0, '\0');
  if (n > 0)
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n,
                        nullptr, nullptr);
  return out;
}

LRESULT CALLBACK MainProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_CLOSE) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args = platform::ProgramArguments(argc, argv);
  if (args.size() < 5) return 64;
  const std::string cls = args[1];
  const int64_t appId = std::stoll(args[2]);
  const std::string mode = args.size() > 5 ? args[5] : "";
  gLog = args[4];

  if (platform::CreateNamedMutex(args[3]) == platform::MutexResult::AlreadyExists) {
    Log("mutex exists");
    return 3;
  }

  WNDCLASSW wc = {};
  wc.lpfnWndProc = MainProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"VeilgateTestMainWindow";
  RegisterClassW(&wc);
  HWND main =
      CreateWindowExW(0, wc.lpszClassName, L"Veilgate test main window", WS_OVERLAPPEDWINDOW, 50,
                      50, 320, 200, nullptr, nullptr, wc.hInstance, nullptr);
  ShowWindow(main, SW_SHOWMINNOACTIVE);

  const uint32_t getId = platform::RegisterMessage("CL GetAppID");
  const uint32_t ifBusy = platform::RegisterMessage("CL IfBusy");
  const uint32_t toFront = platform::RegisterMessage("CL BringtoFront");
  const uint32_t closeApp = platform::RegisterMessage("CL CloseApp");
  auto endpoint = platform::CreateInstanceEndpoint(cls, [&](const platform::InstanceMessage& m) {
    if (m.isCopyData) {
      Log("param:" + Utf16ToUtf8(m.data));
      return int64_t{0};
    }
    if (m.msg == getId) return appId;
    if (m.msg == ifBusy) return int64_t{mode == "busy" ? 1 : 0};
    if (m.msg == toFront) return int64_t{0};
    if (m.msg == closeApp) {
      PostQuitMessage(0);
      return int64_t{0};
    }
    return int64_t{0};
  });
  if (!endpoint) return 2;
  endpoint->SetNativeWindow(reinterpret_cast<uintptr_t>(main));
  Log("ready");
  if (mode == "hang") {
    Sleep(30000);
    return 0;
  }
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  endpoint.reset();
  DestroyWindow(main);
  Log("closed");
  return 0;
}
