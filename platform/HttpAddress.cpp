#include "platform/HttpAddress.h"

#include "platform/AsciiText.h"

namespace platform {

namespace {

bool ValidHost(const std::string& host) {
  if (host.empty()) return false;
  if (host.front() == '[') {
    if (host.size() < 3 || host.back() != ']') return false;
    for (size_t i = 1; i + 1 < host.size(); ++i) {
      const char c = host[i];
      if (!IsHexDigit(c) && c != ':' && c != '.') return false;
    }
    return true;
  }
  for (char c : host) {
    if (static_cast<unsigned char>(c) >= 0x80) continue;
    if (IsAsciiAlnum(c) || c == '.' || c == '-' || c == '_') continue;
    return false;
  }
  return true;
}

void SetError(std::string* error, const std::string& text) {
  if (error) *error = text;
}

}  // namespace

bool CheckRequestAddress(const std::string& host, int port, std::string* error) {
  if (!ValidHost(host)) {
    SetError(error, host.empty() ? "no host name" : "invalid host name: " + host);
    return false;
  }
  if (port <= 0 || port > 65535) {
    SetError(error, "invalid port: " + std::to_string(port));
    return false;
  }
  return true;
}

bool CheckDirectAddress(const std::string& url, std::string* error) {
  if (url.rfind("http://", 0) == 0 || url.rfind("https://", 0) == 0) return true;
  SetError(error, "not an http:// or https:// address: " + url);
  return false;
}

std::string EscapeRequestBytes(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    const auto byte = static_cast<uint8_t>(c);
    if (byte <= 0x20 || byte >= 0x7F) {
      out += '%';
      AppendHexByte(out, byte);
    } else {
      out += c;
    }
  }
  return out;
}

std::string RequestObject(const std::string& object) {
  std::string out = EscapeRequestBytes(object);
  if (out.empty() || out[0] != '/') out.insert(0, "/");
  return out;
}

}  // namespace platform
