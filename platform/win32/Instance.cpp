// win32 backend of the messages between instances. Each endpoint is a
// hidden top-level window of a window class registered under the class name
// (for example "TfrmMain"), so that other processes find it with
// FindWindowExW and reach it with SendMessageTimeoutW (a hung or vanished
// window answers 0 instead of blocking) and WM_COPYDATA. The handler runs on
// the thread that created the endpoint, whenever that thread pumps its
// messages (ProcessPending, or any message loop of that thread).
#include "platform/Instance.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <set>

#include "platform/System.h"
#include "platform/win32/WinText.h"

namespace platform {

namespace {

using win32::Wide;

constexpr size_t kMaxData = 1u << 20;  // copy-data larger than 1 MiB is refused
constexpr const wchar_t* kMainWindowProp = L"VeilgateMainWindow";

std::string HandleText(HWND hwnd) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "0x%llx",
                static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(hwnd)));
  return buf;
}

HWND HandleFromText(const std::string& id) {
  if (id.size() < 3 || id.compare(0, 2, "0x") != 0) return nullptr;
  char* end = nullptr;
  unsigned long long v = std::strtoull(id.c_str() + 2, &end, 16);
  if (!end || *end != '\0' || v == 0) return nullptr;
  return reinterpret_cast<HWND>(static_cast<uintptr_t>(v));
}

bool IsRegisteredMessage(UINT msg) { return msg >= 0xC000 && msg <= 0xFFFF; }

LRESULT CALLBACK EndpointProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

class WindowEndpoint : public InstanceEndpoint {
 public:
  WindowEndpoint(InstanceHandler handler) : FHandler(std::move(handler)) {}
  ~WindowEndpoint() override {
    if (FHwnd) {
      RemovePropW(FHwnd, kMainWindowProp);
      SetWindowLongPtrW(FHwnd, GWLP_USERDATA, 0);
      DestroyWindow(FHwnd);
    }
  }
  bool Create(const std::wstring& className) {
    FHwnd = CreateWindowExW(WS_EX_TOOLWINDOW, className.c_str(), L"", WS_POPUP, 0, 0, 0, 0, nullptr,
                            nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!FHwnd) return false;
    SetWindowLongPtrW(FHwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    return true;
  }

  int fd() const override { return -1; }
  InstanceWindow window() const override { return InstanceWindow{HandleText(FHwnd)}; }
  void SetNativeWindow(uintptr_t handle) override {
    if (handle)
      SetPropW(FHwnd, kMainWindowProp, reinterpret_cast<HANDLE>(handle));
    else
      RemovePropW(FHwnd, kMainWindowProp);
  }
  void ProcessPending() override {
    // Sent messages from other threads and processes are delivered inside
    // PeekMessageW; posted ones for this window are dispatched here.
    MSG msg;
    while (PeekMessageW(&msg, FHwnd, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }

  LRESULT Handle(UINT msg, WPARAM wParam, LPARAM lParam) {
    InstanceMessage m;
    m.msg = msg;
    if (msg == WM_COPYDATA) {
      const auto* cds = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
      if (!cds) return 0;
      if (cds->cbData > kMaxData || (cds->cbData && !cds->lpData)) return 0;
      m.isCopyData = true;
      m.dwData = static_cast<uint64_t>(cds->dwData);
      m.data.assign(static_cast<const char*>(cds->lpData), cds->cbData);
    } else {
      m.wParam = static_cast<int64_t>(wParam);
      m.lParam = static_cast<int64_t>(lParam);
    }
    return FHandler ? static_cast<LRESULT>(FHandler(m)) : 0;
  }

 private:
  InstanceHandler FHandler;
  HWND FHwnd = nullptr;
};

LRESULT CALLBACK EndpointProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* endpoint = reinterpret_cast<WindowEndpoint*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (endpoint && (msg == WM_COPYDATA || IsRegisteredMessage(msg)))
    return endpoint->Handle(msg, wParam, lParam);
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

bool RegisterEndpointClass(const std::wstring& className) {
  static std::mutex lock;
  static std::set<std::wstring> registered;
  std::lock_guard<std::mutex> guard(lock);
  if (registered.count(className)) return true;
  WNDCLASSEXW wc;
  ZeroMemory(&wc, sizeof wc);
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = EndpointProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = className.c_str();
  if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;
  registered.insert(className);
  return true;
}

bool SendWithTimeout(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, int timeoutMs,
                     int64_t& reply) {
  if (!hwnd || !IsWindow(hwnd)) return false;
  DWORD_PTR result = 0;
  UINT timeout = timeoutMs < 0 ? 0 : static_cast<UINT>(timeoutMs);
  if (!SendMessageTimeoutW(hwnd, msg, wParam, lParam, SMTO_NORMAL | SMTO_ABORTIFHUNG, timeout,
                           &result))
    return false;
  reply = static_cast<int64_t>(static_cast<LRESULT>(result));
  return true;
}

}  // namespace

uint32_t RegisterMessage(const std::string& name) {
  return RegisterWindowMessageW(Wide(name).c_str());
}

std::vector<InstanceWindow> FindInstanceWindows(const std::string& className) {
  std::vector<InstanceWindow> result;
  if (className.empty()) return result;
  std::wstring cls = Wide(className);
  HWND after = nullptr;
  // Bounded, in case windows keep appearing while the walk goes on.
  for (int i = 0; i < 4096; ++i) {
    HWND hwnd = FindWindowExW(nullptr, after, cls.c_str(), nullptr);
    if (!hwnd) break;
    result.push_back(InstanceWindow{HandleText(hwnd)});
    after = hwnd;
  }
  return result;
}

int64_t SendInstanceMessage(const InstanceWindow& window, uint32_t msg, int64_t wParam,
                            int64_t lParam, int timeoutMs) {
  int64_t reply = 0;
  if (!SendWithTimeout(HandleFromText(window.id), msg, static_cast<WPARAM>(wParam),
                       static_cast<LPARAM>(lParam), timeoutMs, reply))
    return 0;
  return reply;
}

int64_t SendCopyData(const InstanceWindow& window, uint64_t dwData, const std::string& bytes,
                     int timeoutMs) {
  if (bytes.size() > kMaxData) return 0;
  COPYDATASTRUCT cds;
  cds.dwData = static_cast<ULONG_PTR>(dwData);
  cds.cbData = static_cast<DWORD>(bytes.size());
  cds.lpData = const_cast<char*>(bytes.data());
  int64_t reply = 0;
  if (!SendWithTimeout(HandleFromText(window.id), WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds),
                       timeoutMs, reply))
    return 0;
  return reply;
}

std::unique_ptr<InstanceEndpoint> CreateInstanceEndpoint(const std::string& className,
                                                         InstanceHandler handler) {
  if (className.empty()) return nullptr;
  std::wstring cls = Wide(className);
  if (!RegisterEndpointClass(cls)) return nullptr;
  auto endpoint = std::make_unique<WindowEndpoint>(std::move(handler));
  if (!endpoint->Create(cls)) return nullptr;
  return endpoint;
}

bool ForceInstanceForeground(const InstanceWindow& window) {
  HWND endpoint = HandleFromText(window.id);
  if (!endpoint || !IsWindow(endpoint)) return false;
  HWND wnd = static_cast<HWND>(GetPropW(endpoint, kMainWindowProp));
  if (!wnd || !IsWindow(wnd)) wnd = endpoint;

  if (IsIconic(wnd)) ShowWindow(wnd, SW_RESTORE);
  ShowWindow(wnd, SW_SHOW);
  if (GetForegroundWindow() == wnd) return true;

  const VersionInfo v = GetVersionInfo();
  const bool modern = (v.platformId == VER_PLATFORM_WIN32_NT && v.major > 4) ||
                      (v.platformId == VER_PLATFORM_WIN32_WINDOWS &&
                       (v.major > 4 || (v.major == 4 && v.minor > 0)));
  if (!modern) {
    BringWindowToTop(wnd);
    SetForegroundWindow(wnd);
    return GetForegroundWindow() == wnd;
  }
  bool done = false;
  const DWORD foregroundThread = GetWindowThreadProcessId(GetForegroundWindow(), nullptr);
  const DWORD windowThread = GetWindowThreadProcessId(wnd, nullptr);
  if (foregroundThread && AttachThreadInput(foregroundThread, windowThread, TRUE)) {
    BringWindowToTop(wnd);
    SetForegroundWindow(wnd);
    AttachThreadInput(foregroundThread, windowThread, FALSE);
    done = GetForegroundWindow() == wnd;
  }
  if (!done) {
    // The foreground lock timeout keeps another process from taking the
    // foreground; it is set to 0 only for the moment of the switch.
    DWORD timeout = 0;
    SystemParametersInfoW(SPI_GETFOREGROUNDLOCKTIMEOUT, 0, &timeout, 0);
    SystemParametersInfoW(SPI_SETFOREGROUNDLOCKTIMEOUT, 0, nullptr, SPIF_SENDCHANGE);
    BringWindowToTop(wnd);
    SetForegroundWindow(wnd);
    SystemParametersInfoW(SPI_SETFOREGROUNDLOCKTIMEOUT, 0,
                          reinterpret_cast<PVOID>(static_cast<uintptr_t>(timeout)),
                          SPIF_SENDCHANGE);
  }
  return GetForegroundWindow() == wnd;
}

}  // namespace platform
