// posix backend of the system log: one datagram per line to the syslog
// socket, in the form the journal and syslog daemons parse
// ("<priority>identifier[pid]: text"), the journal keeps the identifier as
// SYSLOG_IDENTIFIER. Written here rather than through syslog(3) so that the
// socket can be pointed elsewhere in tests and the facility stays ours.
#include "platform/SystemLog.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <mutex>

namespace platform {
namespace {
std::mutex GLock;
std::string GPath = "/dev/log";
int GSocket = -1;

// user facility (1), debug priority (7).
constexpr int kPriority = 1 * 8 + 7;
}  // namespace

void SetSystemLogSocket(const std::string& path) {
  std::lock_guard<std::mutex> hold(GLock);
  GPath = path.empty() ? "/dev/log" : path;
}

void SystemLog(const std::string& line) {
  std::string text =
      "<" + std::to_string(kPriority) + ">veilgate[" + std::to_string(::getpid()) + "]: " + line;
  // One line a record: a line break inside would start a new one.
  for (char& c : text)
    if (c == '\n' || c == '\r') c = ' ';
  std::lock_guard<std::mutex> hold(GLock);
  if (GSocket < 0) {
    GSocket = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (GSocket < 0) return;
  }
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (GPath.size() >= sizeof(addr.sun_path)) return;
  std::memcpy(addr.sun_path, GPath.c_str(), GPath.size() + 1);
  // Non-blocking: a full or missing log loses the line instead of stalling
  // the thread that writes it.
  (void)::sendto(GSocket, text.data(), text.size(), MSG_NOSIGNAL,
                 reinterpret_cast<const sockaddr*>(&addr), sizeof(addr));
}

}  // namespace platform
