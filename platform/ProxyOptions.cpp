// Backend-independent parts of the per-connection proxy service: the option
// list Windows receives and the notes left for the debug log.
#include <mutex>

#include "platform/ProxySettings.h"

namespace platform {
namespace {
std::mutex GNoticeLock;
std::vector<std::string> GNotices;

PerConnectionOption TextOption(uint32_t option, const std::string& text) {
  PerConnectionOption o;
  o.option = option;
  o.hasText = !text.empty();
  o.text = text;
  return o;
}
}  // namespace

std::vector<std::string> TakeProxyNotices() {
  std::lock_guard<std::mutex> g(GNoticeLock);
  std::vector<std::string> notices;
  notices.swap(GNotices);
  return notices;
}

void AddProxyNotice(const std::string& notice) {
  std::lock_guard<std::mutex> g(GNoticeLock);
  GNotices.push_back(notice);
}

PerConnectionOptionList BuildPerConnectionOptionList(const PerConnectionProxy& options) {
  PerConnectionOptionList list;
  PerConnectionOption flags;
  flags.option = INTERNET_PER_CONN_FLAGS;
  flags.number = options.useProxy ? PROXY_TYPE_PROXY : PROXY_TYPE_DIRECT;
  list.options.push_back(flags);
  list.options.push_back(TextOption(INTERNET_PER_CONN_PROXY_BYPASS, options.bypass));
  list.options.push_back(TextOption(INTERNET_PER_CONN_PROXY_SERVER, options.server));
  return list;
}

}  // namespace platform
