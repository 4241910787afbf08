// posix backend of the messages between instances. Each main window listens
// on a Unix-domain stream socket "<runtime>/veilgate-instances/<class>.<pid>.<n>.sock".
// A send connects, writes one request frame and waits for an 8-byte reply;
// the receiver answers every waiting request when its owner calls
// ProcessPending. A failed or unanswered send gives 0, as SendMessageW does.
// Only this user's instances talk: the folder and the sockets are the
// user's alone (0700, 0600), a socket file of another owner is neither
// searched nor called, and both ends check the other's user id.
#include "platform/Instance.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

#include "platform/AsciiText.h"
#include "platform/posix/RuntimeFolder.h"

namespace platform {

namespace {

constexpr uint32_t kMagic = 0x4D494756;  // "VGIM" little-endian
constexpr uint16_t kVersion = 1;
constexpr size_t kHeaderSize = 4 + 2 + 2 + 4 + 8 + 8 + 8 + 4;
constexpr uint32_t kMaxData = 1u << 20;  // copy-data larger than 1 MiB is refused
constexpr uint16_t kFlagCopyData = 1;
// How long a receiver waits for the rest of a request once it has accepted it.
constexpr int kReceiveTimeoutMs = 1000;
constexpr const char* kFolderName = "veilgate-instances";
constexpr int kMaxBatch = 64;

using Clock = std::chrono::steady_clock;

void PutU16(std::string& out, uint16_t v) {
  for (int i = 0; i < 2; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}
void PutU32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}
void PutU64(std::string& out, uint64_t v) {
  for (int i = 0; i < 8; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}
uint64_t GetLE(const std::string& in, size_t pos, int bytes) {
  uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(in[pos + i]);
  return v;
}

// The class name as it appears in socket names: letters, digits, "_" and
// "-" kept; anything else (among them the "." separator) becomes "_", with
// a hash of the real name added so that different names stay apart.
std::string SafeClassName(const std::string& className) {
  std::string safe;
  bool changed = false;
  for (char c : className) {
    const bool ok = IsAsciiAlnum(c) || c == '_' || c == '-';
    safe += ok ? c : '_';
    if (!ok) changed = true;
  }
  if (safe.size() > 40) {
    safe.resize(40);
    changed = true;
  }
  if (safe.empty()) changed = true;
  if (changed) {
    char hex[12];
    std::snprintf(hex, sizeof hex, "_%08x", HashText32(className));
    safe += hex;
  }
  return safe;
}

bool MakeAddress(const std::string& path, sockaddr_un& addr) {
  std::memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path) return false;
  std::memcpy(addr.sun_path, path.c_str(), path.size());
  return true;
}

int MillisLeft(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

bool WaitFor(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    pollfd p{fd, events, 0};
    int rc = ::poll(&p, 1, MillisLeft(deadline));
    if (rc > 0) return true;
    if (rc == 0) return false;
    if (errno != EINTR) return false;
  }
}

bool SendAll(int fd, const char* data, size_t size, Clock::time_point deadline) {
  while (size > 0) {
    ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
    if (n > 0) {
      data += n;
      size -= static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!WaitFor(fd, POLLOUT, deadline)) return false;
      continue;
    }
    return false;
  }
  return true;
}

bool ReceiveAll(int fd, char* data, size_t size, Clock::time_point deadline) {
  while (size > 0) {
    ssize_t n = ::recv(fd, data, size, 0);
    if (n > 0) {
      data += n;
      size -= static_cast<size_t>(n);
      continue;
    }
    if (n == 0) return false;  // the other side closed early
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      if (!WaitFor(fd, POLLIN, deadline)) return false;
      continue;
    }
    return false;
  }
  return true;
}

// Whether the process at the other end of a connected socket runs as this
// user (the kernel's record of it, not anything the peer says).
bool PeerIsThisUser(int fd) {
  ucred cred{};
  socklen_t len = sizeof cred;
  return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0 && len == sizeof cred &&
         cred.uid == ::getuid();
}

// Whether the file is a socket of this user's.
bool IsOwnSocket(const struct stat& st) { return S_ISSOCK(st.st_mode) && st.st_uid == ::getuid(); }

// Connects a non-blocking socket to the path, a socket file of this user
// whose listener runs as this user. errOut gets errno on failure (EPERM for
// somebody else's socket).
int ConnectTo(const std::string& path, int& errOut) {
  sockaddr_un addr;
  if (!MakeAddress(path, addr)) {
    errOut = ENAMETOOLONG;
    return -1;
  }
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) {
    errOut = errno;
    return -1;
  }
  if (!IsOwnSocket(st)) {
    errOut = EPERM;
    return -1;
  }
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    errOut = errno;
    return -1;
  }
  int rc;
  do {
    rc = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    errOut = errno;
    ::close(fd);
    return -1;
  }
  if (!PeerIsThisUser(fd)) {
    errOut = EPERM;
    ::close(fd);
    return -1;
  }
  return fd;
}

// Endpoints of this process, so that a send from the thread that owns the
// endpoint reaches its handler directly instead of waiting on itself.
struct LocalEndpoint {
  InstanceHandler handler;
  std::thread::id owner;
};
// Never destroyed: an endpoint may be withdrawn while the process's static
// objects are being destroyed (a window held by a static object, or torn
// down at exit), after this file's own static objects would be gone.
struct LocalRegistry {
  std::mutex mutex;
  std::map<std::string, LocalEndpoint> endpoints;
};
LocalRegistry& Local() {
  static LocalRegistry* const registry = new LocalRegistry;
  return *registry;
}
std::atomic<unsigned> gCounter{0};

int64_t Deliver(const InstanceWindow& window, const InstanceMessage& message, int timeoutMs) {
  if (window.id.empty()) return 0;
  {
    InstanceHandler local;
    {
      std::lock_guard<std::mutex> lock(Local().mutex);
      auto it = Local().endpoints.find(window.id);
      if (it != Local().endpoints.end() && it->second.owner == std::this_thread::get_id())
        local = it->second.handler;
    }
    if (local) return local(message);
  }
  if (message.data.size() > kMaxData) return 0;
  if (timeoutMs < 0) timeoutMs = 0;
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  int err = 0;
  int fd = ConnectTo(window.id, err);
  if (fd < 0) return 0;
  std::string frame = EncodeInstanceFrame(message);
  int64_t reply = 0;
  char buf[8];
  if (SendAll(fd, frame.data(), frame.size(), deadline) &&
      ReceiveAll(fd, buf, sizeof buf, deadline)) {
    reply = static_cast<int64_t>(GetLE(std::string(buf, sizeof buf), 0, 8));
  }
  ::close(fd);
  return reply;
}

class SocketEndpoint : public InstanceEndpoint {
 public:
  SocketEndpoint(int fd, std::string path, InstanceHandler handler, dev_t dev, ino_t ino)
      : FFd(fd), FPath(std::move(path)), FHandler(std::move(handler)), FDev(dev), FIno(ino) {}

  ~SocketEndpoint() override {
    {
      std::lock_guard<std::mutex> lock(Local().mutex);
      Local().endpoints.erase(FPath);
    }
    // Only remove the socket file if it is still the one this endpoint made.
    struct stat st {};
    if (::lstat(FPath.c_str(), &st) == 0 && st.st_dev == FDev && st.st_ino == FIno)
      ::unlink(FPath.c_str());
    ::close(FFd);
  }

  int fd() const override { return FFd; }

  InstanceWindow window() const override { return InstanceWindow{FPath}; }

  void ProcessPending() override {
    // A bounded batch, so that a flood of requests cannot hold the owner's
    // thread; whatever is left keeps the socket readable for the next call.
    for (int handled = 0; handled < kMaxBatch; ++handled) {
      int conn = ::accept4(FFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (conn < 0) {
        if (errno == EINTR || errno == ECONNABORTED) continue;
        return;  // EAGAIN: nothing more waiting
      }
      Answer(conn);
      ::close(conn);
    }
  }

 private:
  void Answer(int conn) {
    // Another user's process is not answered, whatever reached the socket.
    if (!PeerIsThisUser(conn)) return;
    auto deadline = Clock::now() + std::chrono::milliseconds(kReceiveTimeoutMs);
    std::string frame(kHeaderSize, '\0');
    if (!ReceiveAll(conn, frame.data(), kHeaderSize, deadline)) return;  // e.g. a probe
    uint64_t dataLen = GetLE(frame, kHeaderSize - 4, 4);
    if (dataLen > kMaxData) return;
    frame.resize(kHeaderSize + dataLen);
    if (dataLen > 0 && !ReceiveAll(conn, frame.data() + kHeaderSize, dataLen, deadline)) return;
    InstanceMessage message;
    if (!DecodeInstanceFrame(frame, message)) return;
    int64_t result = FHandler ? FHandler(message) : 0;
    std::string reply;
    PutU64(reply, static_cast<uint64_t>(result));
    SendAll(conn, reply.data(), reply.size(), Clock::now() + std::chrono::milliseconds(200));
  }

  int FFd;
  std::string FPath;
  InstanceHandler FHandler;
  dev_t FDev;
  ino_t FIno;
};

}  // namespace

uint32_t RegisterMessage(const std::string& name) {
  return 0xC000u + HashSameText32(name) % 0x4000u;
}

std::vector<InstanceWindow> FindInstanceWindows(const std::string& className) {
  std::vector<std::string> names;
  std::string folder = posix::RuntimeSubfolder(kFolderName);
  if (folder.empty()) return {};
  std::string prefix = SafeClassName(className) + ".";
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return {};
  while (struct dirent* e = ::readdir(dir)) {
    std::string name = e->d_name;
    if (name.size() <= prefix.size() + 5 || name.compare(0, prefix.size(), prefix) != 0) continue;
    if (name.compare(name.size() - 5, 5, ".sock") != 0) continue;
    // The rest is "<pid>.<n>": only digits and one dot.
    std::string rest = name.substr(prefix.size(), name.size() - prefix.size() - 5);
    size_t dot = rest.find('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 >= rest.size() ||
        rest.find_first_not_of("0123456789.") != std::string::npos ||
        rest.find('.', dot + 1) != std::string::npos)
      continue;
    names.push_back(name);
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end());
  std::vector<InstanceWindow> result;
  for (const std::string& name : names) {
    std::string path = folder + "/" + name;
    struct stat st {};
    // Somebody else's socket is neither called nor removed.
    if (::lstat(path.c_str(), &st) != 0 || !IsOwnSocket(st)) continue;
    bool local;
    {
      std::lock_guard<std::mutex> lock(Local().mutex);
      local = Local().endpoints.count(path) != 0;
    }
    if (local) {
      result.push_back(InstanceWindow{path});
      continue;
    }
    int err = 0;
    int fd = ConnectTo(path, err);
    if (fd >= 0) {
      ::close(fd);
      result.push_back(InstanceWindow{path});
    } else if (err == ECONNREFUSED) {
      ::unlink(path.c_str());  // nobody listens: left behind by an ended process
    } else if (err == EAGAIN) {
      result.push_back(InstanceWindow{path});  // alive but busy
    }
  }
  return result;
}

int64_t SendInstanceMessage(const InstanceWindow& window, uint32_t msg, int64_t wParam,
                            int64_t lParam, int timeoutMs) {
  InstanceMessage m;
  m.msg = msg;
  m.wParam = wParam;
  m.lParam = lParam;
  return Deliver(window, m, timeoutMs);
}

int64_t SendCopyData(const InstanceWindow& window, uint64_t dwData, const std::string& bytes,
                     int timeoutMs) {
  InstanceMessage m;
  m.msg = WM_COPYDATA_MSG;
  m.isCopyData = true;
  m.dwData = dwData;
  m.data = bytes;
  return Deliver(window, m, timeoutMs);
}

std::unique_ptr<InstanceEndpoint> CreateInstanceEndpoint(const std::string& className,
                                                         InstanceHandler handler) {
  std::string folder = posix::RuntimeSubfolder(kFolderName);
  if (folder.empty()) return nullptr;
  const unsigned serial = ++gCounter;
  std::string path = folder + "/" + SafeClassName(className) + "." + std::to_string(::getpid()) +
                     "." + std::to_string(serial) + ".sock";
  sockaddr_un addr;
  if (!MakeAddress(path, addr)) return nullptr;
  // The socket is bound under a name the search skips and only renamed to
  // its findable name once it listens: a search that connected between bind
  // and listen would be refused and remove the file as a left-over, leaving
  // this window unreachable.
  const std::string hidden =
      folder + "/.bind." + std::to_string(::getpid()) + "." + std::to_string(serial) + ".sock";
  sockaddr_un hiddenAddr;
  if (!MakeAddress(hidden, hiddenAddr)) return nullptr;
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return nullptr;
  ::unlink(hidden.c_str());  // a left-over of an ended process with the same id
  // The socket file is the user's alone before anyone can connect to it.
  if (::bind(fd, reinterpret_cast<sockaddr*>(&hiddenAddr), sizeof hiddenAddr) != 0 ||
      ::chmod(hidden.c_str(), 0600) != 0 || ::listen(fd, 64) != 0 ||
      ::rename(hidden.c_str(), path.c_str()) != 0) {
    ::unlink(hidden.c_str());
    ::close(fd);
    return nullptr;
  }
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) {
    ::close(fd);
    return nullptr;
  }
  {
    std::lock_guard<std::mutex> lock(Local().mutex);
    Local().endpoints[path] = LocalEndpoint{handler, std::this_thread::get_id()};
  }
  return std::make_unique<SocketEndpoint>(fd, path, std::move(handler), st.st_dev, st.st_ino);
}

bool ForceInstanceForeground(const InstanceWindow&) { return false; }

std::string EncodeInstanceFrame(const InstanceMessage& message) {
  std::string out;
  out.reserve(kHeaderSize + message.data.size());
  PutU32(out, kMagic);
  PutU16(out, kVersion);
  PutU16(out, message.isCopyData ? kFlagCopyData : 0);
  PutU32(out, message.msg);
  PutU64(out, static_cast<uint64_t>(message.wParam));
  PutU64(out, static_cast<uint64_t>(message.lParam));
  PutU64(out, message.isCopyData ? message.dwData : 0);
  const std::string& data = message.isCopyData ? message.data : std::string();
  PutU32(out, static_cast<uint32_t>(data.size()));
  out += data;
  return out;
}

bool DecodeInstanceFrame(const std::string& bytes, InstanceMessage& message) {
  if (bytes.size() < kHeaderSize) return false;
  if (GetLE(bytes, 0, 4) != kMagic) return false;
  if (GetLE(bytes, 4, 2) != kVersion) return false;
  uint64_t flags = GetLE(bytes, 6, 2);
  if (flags & ~static_cast<uint64_t>(kFlagCopyData)) return false;
  bool isCopyData = (flags & kFlagCopyData) != 0;
  uint32_t msg = static_cast<uint32_t>(GetLE(bytes, 8, 4));
  uint64_t dwData = GetLE(bytes, 28, 8);
  uint64_t dataLen = GetLE(bytes, 36, 4);
  if (dataLen > kMaxData) return false;
  if (bytes.size() != kHeaderSize + dataLen) return false;
  // Copy-data always carries WM_COPYDATA; other messages carry no bytes.
  if (isCopyData && msg != WM_COPYDATA_MSG) return false;
  if (!isCopyData && (dataLen != 0 || dwData != 0)) return false;
  InstanceMessage m;
  m.msg = msg;
  m.wParam = static_cast<int64_t>(GetLE(bytes, 12, 8));
  m.lParam = static_cast<int64_t>(GetLE(bytes, 20, 8));
  m.isCopyData = isCopyData;
  m.dwData = dwData;
  m.data = bytes.substr(kHeaderSize);
  message = std::move(m);
  return true;
}

}  // namespace platform
