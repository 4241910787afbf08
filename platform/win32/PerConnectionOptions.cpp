#include "platform/win32/PerConnectionOptions.h"

namespace platform {

namespace {

PerConnectionOption TextOption(uint32_t option, const std::string& text) {
  PerConnectionOption o;
  o.option = option;
  o.hasText = !text.empty();
  o.text = text;
  return o;
}

}  // namespace

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
