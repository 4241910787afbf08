// The reader of requests between instances: bytes that arrive on a main
// window's socket.
//  - DecodeInstanceFrame accepts only whole, well-formed frames, and what it
//    accepts encodes back to the very same bytes.
//  - The same bytes written to a live endpoint's socket reach the handler
//    only when they begin with a valid frame (the endpoint reads the header
//    and the data it announces, nothing more), and then unchanged, with an
//    eight-byte reply; anything else gets no reply and the endpoint keeps
//    answering afterwards.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>

#include "FuzzSupport.h"
#include "platform/Instance.h"

namespace {

std::unique_ptr<platform::InstanceEndpoint> gEndpoint;
int gCalls = 0;
platform::InstanceMessage gLast;

// Connects to the endpoint, writes the bytes, closes the writing side and
// lets the endpoint answer. Returns the reply bytes.
std::string Deliver(const std::string& bytes) {
  const std::string path = gEndpoint->window().id;
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path.c_str(), path.size());
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  FUZZ_CHECK(fd >= 0, "socket");
  FUZZ_CHECK(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0, "connect");
  // Small inputs fit the socket buffer, so writing before the endpoint
  // reads cannot block.
  size_t off = 0;
  while (off < bytes.size()) {
    const ssize_t n = ::send(fd, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
    if (n <= 0) break;
    off += static_cast<size_t>(n);
  }
  ::shutdown(fd, SHUT_WR);
  gEndpoint->ProcessPending();
  std::string reply;
  char buf[16];
  ssize_t n;
  while ((n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT)) > 0)
    reply.append(buf, static_cast<size_t>(n));
  ::close(fd);
  return reply;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::EnterSandbox();
  gEndpoint = platform::CreateInstanceEndpoint("TfrmFuzz", [](const platform::InstanceMessage& m) {
    ++gCalls;
    gLast = m;
    return static_cast<int64_t>(0x1122334455667788LL);
  });
  if (!gEndpoint) fuzz::Fail(__FILE__, __LINE__, "endpoint", "cannot create the endpoint");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);

  platform::InstanceMessage m;
  const bool ok = platform::DecodeInstanceFrame(bytes, m);
  if (ok) {
    FUZZ_CHECK(platform::EncodeInstanceFrame(m) == bytes, "accepted frame encodes differently");
    FUZZ_CHECK(m.isCopyData || m.data.empty(), "plain message carries data");
  }

  if (size > 64 * 1024) return 0;  // keep the socket write non-blocking
  // The endpoint reads one request per connection: the header, then as many
  // bytes as the header announces. Whatever follows is never read.
  bool okOnSocket = false;
  if (size >= 40) {
    const uint64_t announced =
        static_cast<uint64_t>(data[36]) | static_cast<uint64_t>(data[37]) << 8 |
        static_cast<uint64_t>(data[38]) << 16 | static_cast<uint64_t>(data[39]) << 24;
    if (40 + announced <= size) {
      okOnSocket = platform::DecodeInstanceFrame(bytes.substr(0, 40 + announced), m);
      if (okOnSocket) FUZZ_CHECK(!ok || 40 + announced == size, "decoder accepted trailing bytes");
    }
  }
  FUZZ_CHECK(!ok || okOnSocket, "a whole valid frame is not a valid request");
  const int before = gCalls;
  const std::string reply = Deliver(bytes);
  FUZZ_CHECK(gCalls == before + (okOnSocket ? 1 : 0),
             "handler calls do not match the request's validity");
  if (okOnSocket) {
    FUZZ_CHECK(reply.size() == 8, "no eight-byte reply to a valid frame");
    FUZZ_CHECK(gLast.msg == m.msg && gLast.wParam == m.wParam && gLast.lParam == m.lParam &&
                   gLast.isCopyData == m.isCopyData && gLast.dwData == m.dwData &&
                   gLast.data == m.data,
               "the handler saw another message");
  } else {
    FUZZ_CHECK(reply.empty(), "an invalid frame got a reply");
  }
  return 0;
}
