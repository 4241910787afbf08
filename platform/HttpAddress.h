// Address checks and escaping shared by both HTTP transports, done before a
// request reaches the system's network library.
#pragma once

#include <string>

namespace platform {

// Whether a downloader request can be formed from host and port: the host is
// a DNS name (letters, digits, ".", "-", "_"; bytes of 0x80 and above are
// left to the resolver for internationalised names), an IPv4 address or a
// bracketed IPv6 address, and the port is 1 to 65535. False with the reason
// in error (when given) otherwise.
bool CheckRequestAddress(const std::string& host, int port, std::string* error);

// Whether url is an http:// or https:// address (the only ones the direct
// GET fetches); false with the reason in error otherwise.
bool CheckDirectAddress(const std::string& url, std::string* error);

// The text as it may go into a request line: controls, space, DEL and bytes
// of 0x80 and above percent-encoded (upper-case digits), everything else as
// written.
std::string EscapeRequestBytes(const std::string& text);

// The object of a request line: escaped as above, always starting with "/".
std::string RequestObject(const std::string& object);

}  // namespace platform
