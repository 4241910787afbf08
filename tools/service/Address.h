// Addresses of the peers the service talks to: parsing, networks written as
// ADDRESS/BITS, the requester's real address behind trusted reverse proxies.
#pragma once

#include <array>
#include <string>
#include <vector>

namespace svc {

// An IPv4 or IPv6 address as 16 bytes (IPv4 mapped into ::ffff:0:0/96).
struct IP {
  std::array<unsigned char, 16> bytes{};
  bool v4 = false;
};

bool ParseIP(const std::string& text, IP& out);
// An IPv4 address written inside IPv6 ("::ffff:192.0.2.1", as a dual-stack
// socket reports IPv4 peers) in its usual dotted form; other text unchanged.
std::string PlainAddress(const std::string& address);
// "192.0.2.0/24", "2001:db8::/32" or a single address.
bool ValidAddressOrNetwork(const std::string& text);
// True when the address lies in one of the addresses or networks.
bool InList(const std::string& address, const std::vector<std::string>& list);
// Loopback, private, link-local, shared, documentation and other addresses
// that no GeoIP database places anywhere.
bool IsUnroutable(const std::string& address);

// The requester's real address. The TCP peer, unless the peer is a trusted
// reverse proxy: then the "X-Forwarded-For" list is read from its end (each
// proxy appends the address it saw), skipping trusted proxies, and the first
// other address is the requester. Entries a client wrote itself stand at
// the front of the list and are never reached while a trusted proxy appended
// after them. "via_proxy" is set when the answer came from the header;
// "known" is false when a trusted proxy sent no usable header.
struct Client {
  std::string address;
  bool viaProxy = false;
  bool known = true;
};
Client ResolveClient(const std::string& peer, const std::string& forwardedFor,
                     const std::vector<std::string>& trusted);

// A local administrator: the requester is one of the admin addresses, and a
// request relayed by a trusted proxy counts only when the proxy named the
// requester.
bool IsAdmin(const Client& client, const std::vector<std::string>& admin);

}  // namespace svc
