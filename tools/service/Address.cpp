#include "Address.h"

#include <arpa/inet.h>

#include <cstdlib>
#include <cstring>

#include "platform/AsciiText.h"

namespace svc {

namespace {

// "ADDRESS" or "ADDRESS/BITS"; bits counted over the 16-byte form.
bool ParseNetwork(const std::string& text, IP& ip, int& bits) {
  const size_t slash = text.find('/');
  if (!ParseIP(text.substr(0, slash), ip)) return false;
  const int full = ip.v4 ? 32 : 128;
  bits = full;
  if (slash != std::string::npos) {
    const std::string b = text.substr(slash + 1);
    if (b.empty() || b.size() > 3 || b.find_first_not_of("0123456789") != std::string::npos)
      return false;
    bits = std::atoi(b.c_str());
    if (bits > full) return false;
  }
  if (ip.v4) bits += 96;
  return true;
}

bool Match(const IP& ip, const IP& net, int bits) {
  if (ip.v4 != net.v4) return false;
  for (int i = 0; i < 16 && bits > 0; ++i, bits -= 8) {
    const unsigned char mask = bits >= 8 ? 0xff : static_cast<unsigned char>(0xff << (8 - bits));
    if ((ip.bytes[i] & mask) != (net.bytes[i] & mask)) return false;
  }
  return true;
}

}  // namespace

bool ParseIP(const std::string& text, IP& out) {
  if (text.empty() || text.size() > 45) return false;
  out = IP{};
  in_addr a4{};
  if (inet_pton(AF_INET, text.c_str(), &a4) == 1) {
    out.v4 = true;
    out.bytes[10] = out.bytes[11] = 0xff;
    std::memcpy(&out.bytes[12], &a4, 4);
    return true;
  }
  in6_addr a6{};
  if (inet_pton(AF_INET6, text.c_str(), &a6) == 1) {
    std::memcpy(out.bytes.data(), &a6, 16);
    static const unsigned char mapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    out.v4 = std::memcmp(out.bytes.data(), mapped, 12) == 0;
    return true;
  }
  return false;
}

std::string PlainAddress(const std::string& address) {
  IP ip;
  if (address.find(':') == std::string::npos || !ParseIP(address, ip) || !ip.v4) return address;
  char buf[INET_ADDRSTRLEN];
  if (!inet_ntop(AF_INET, &ip.bytes[12], buf, sizeof buf)) return address;
  return buf;
}

bool ValidAddressOrNetwork(const std::string& text) {
  IP ip;
  int bits = 0;
  return ParseNetwork(text, ip, bits);
}

bool InList(const std::string& address, const std::vector<std::string>& list) {
  IP ip;
  if (!ParseIP(address, ip)) return false;
  for (const std::string& entry : list) {
    IP net;
    int bits = 0;
    if (ParseNetwork(entry, net, bits) && Match(ip, net, bits)) return true;
  }
  return false;
}

bool IsUnroutable(const std::string& address) {
  static const std::vector<std::string> reserved = {
      "0.0.0.0/8",       "10.0.0.0/8",     "100.64.0.0/10", "127.0.0.0/8",    "169.254.0.0/16",
      "172.16.0.0/12",   "192.0.0.0/24",   "192.0.2.0/24",  "192.168.0.0/16", "198.18.0.0/15",
      "198.51.100.0/24", "203.0.113.0/24", "224.0.0.0/3",   "::/128",         "::1/128",
      "fc00::/7",        "fe80::/10",      "2001:db8::/32", "ff00::/8"};
  IP ip;
  return !ParseIP(address, ip) || InList(address, reserved);
}

Client ResolveClient(const std::string& peer, const std::string& forwardedFor,
                     const std::vector<std::string>& trusted) {
  Client c;
  c.address = PlainAddress(peer);
  if (trusted.empty() || !InList(peer, trusted)) return c;
  c.viaProxy = true;
  std::vector<std::string> hops;
  size_t start = 0;
  while (start <= forwardedFor.size()) {
    size_t comma = forwardedFor.find(',', start);
    if (comma == std::string::npos) comma = forwardedFor.size();
    hops.push_back(Trim(std::string_view(forwardedFor).substr(start, comma - start), " \t"));
    start = comma + 1;
  }
  for (auto it = hops.rbegin(); it != hops.rend(); ++it) {
    IP ip;
    if (!ParseIP(*it, ip)) break;  // a damaged entry: nothing before it is believed
    c.address = PlainAddress(*it);
    if (!InList(*it, trusted)) return c;
  }
  // No usable entry that is not a proxy: the requester is not known.
  c.known = false;
  return c;
}

bool IsAdmin(const Client& client, const std::vector<std::string>& admin) {
  return client.known && InList(client.address, admin);
}

}  // namespace svc
