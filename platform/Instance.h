// Messages between instances of the program: registered messages sent to a
// main window found by its class name, with an integer reply, and copy-data.
// Windows: RegisterWindowMessageW, FindWindowExW, SendMessageW, WM_COPYDATA.
// posix: one Unix-domain socket per main window in the user's runtime folder,
// named after the window class; a send is a request and a reply with a
// timeout, and no reply counts as 0.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform {

constexpr uint32_t WM_COPYDATA_MSG = 74;

// A main window of some process, as found by FindInstanceWindows.
struct InstanceWindow {
  std::string id;  // socket path on posix, window handle as text on Windows
};

// RegisterWindowMessageW: the same name gives the same number in every
// process (case-insensitive); numbers are in 0xC000..0xFFFF.
uint32_t RegisterMessage(const std::string& name);

// Every top-level window of that class, in a stable order.
std::vector<InstanceWindow> FindInstanceWindows(const std::string& className);

// SendMessageW with wParam/lParam numbers. Returns the reply; a failed or
// unanswered send gives 0.
int64_t SendInstanceMessage(const InstanceWindow& window, uint32_t msg, int64_t wParam,
                            int64_t lParam, int timeoutMs = 5000);
// WM_COPYDATA with dwData and the bytes of lpData (cbData = bytes.size()).
int64_t SendCopyData(const InstanceWindow& window, uint64_t dwData, const std::string& bytes,
                     int timeoutMs = 5000);

// One message as the receiving window sees it.
struct InstanceMessage {
  uint32_t msg = 0;
  int64_t wParam = 0;
  int64_t lParam = 0;
  bool isCopyData = false;  // msg == WM_COPYDATA_MSG with data below
  uint64_t dwData = 0;
  std::string data;  // lpData bytes for copy-data
};
using InstanceHandler = std::function<int64_t(const InstanceMessage&)>;

// The receiving side of one main window. On posix it listens on a socket;
// the owner watches fd() for readability (e.g. with a socket notifier) and
// calls ProcessPending(), which answers every waiting request on the
// caller's thread through the handler.
class InstanceEndpoint {
 public:
  virtual ~InstanceEndpoint() = default;
  virtual int fd() const = 0;  // -1 where not applicable
  virtual void ProcessPending() = 0;
  virtual InstanceWindow window() const = 0;
  // Names the real window this endpoint stands for (a native window handle),
  // so that the foreground forcing of another process acts on that window.
  // Used on Windows; elsewhere the handle is ignored.
  virtual void SetNativeWindow(uintptr_t handle) {}
};
// Creates and publishes the endpoint of a window of that class. Null when it
// cannot be created. Destroying it withdraws the window.
std::unique_ptr<InstanceEndpoint> CreateInstanceEndpoint(const std::string& className,
                                                         InstanceHandler handler);

// Restores the found window when minimised, shows it and makes it the
// foreground window; true when it is the foreground window afterwards.
// Windows: the window named by SetNativeWindow (else the endpoint's own),
// with AttachThreadInput and, when that is not enough, a zero foreground
// lock timeout for the moment of the switch. posix answers false: there only
// the window's own process can raise it, so callers ask the window instead.
bool ForceInstanceForeground(const InstanceWindow& window);

// Wire format of one request on posix, exposed for tests and fuzzing.
std::string EncodeInstanceFrame(const InstanceMessage& message);
// Decodes one whole frame; false for anything malformed or oversized.
bool DecodeInstanceFrame(const std::string& bytes, InstanceMessage& message);

}  // namespace platform
