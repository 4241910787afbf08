// The address checks both HTTP transports make before a request reaches the
// system's network library, and the escaping of the request line.
#include <gtest/gtest.h>

#include <string>

#include "platform/HttpAddress.h"

namespace {

using platform::CheckDirectAddress;
using platform::CheckRequestAddress;

TEST(HttpAddress, RequestsTakeNamesAddressesAndPortsTheNetworkCanUse) {
  for (const char* host : {"example.com", "my_host-1.lan", "127.0.0.1", "[::1]", "[2001:db8::1]",
                           "[::ffff:127.0.0.1]", "b\303\274cher.example"}) {
    std::string error = "untouched";
    EXPECT_TRUE(CheckRequestAddress(host, 80, &error)) << host;
    EXPECT_EQ(error, "untouched") << host;
  }
  EXPECT_TRUE(CheckRequestAddress("h", 1, nullptr));
  EXPECT_TRUE(CheckRequestAddress("h", 65535, nullptr));
}

TEST(HttpAddress, RequestsThatCannotBeFormedAreRefusedWithTheReason) {
  std::string error;
  EXPECT_FALSE(CheckRequestAddress("", 80, &error));
  EXPECT_EQ(error, "no host name");
  EXPECT_FALSE(CheckRequestAddress("bad host", 80, &error));
  EXPECT_EQ(error, "invalid host name: bad host");
  // Anything that would change the address's meaning or the request line.
  for (const char* host : {"a/b", "a:80", "user@a", "a?b", "a#b", "a\r\nHost: b", "a\tb", "::1",
                           "[::1", "[]", "[zz::1]", "[::1]:80", "[::1]x"}) {
    EXPECT_FALSE(CheckRequestAddress(host, 80, &error)) << host;
    EXPECT_EQ(error, std::string("invalid host name: ") + host);
  }
  for (int port : {0, -1, 65536}) {
    EXPECT_FALSE(CheckRequestAddress("example.com", port, &error)) << port;
    EXPECT_EQ(error, "invalid port: " + std::to_string(port));
  }
  // The host is named first when both are wrong; no error text is needed.
  EXPECT_FALSE(CheckRequestAddress("", 0, &error));
  EXPECT_EQ(error, "no host name");
  EXPECT_FALSE(CheckRequestAddress("", 0, nullptr));
}

TEST(HttpAddress, DirectRequestsTakeOnlyWebAddresses) {
  std::string error;
  EXPECT_TRUE(CheckDirectAddress("http://127.0.0.1:8080/x", &error));
  EXPECT_TRUE(CheckDirectAddress("https://example.com", &error));
  for (const char* url :
       {"", "ftp://example.com/", "file:///etc/passwd", "http:/x", "//x/y", " http://x"}) {
    EXPECT_FALSE(CheckDirectAddress(url, &error)) << url;
    EXPECT_EQ(error, std::string("not an http:// or https:// address: ") + url);
  }
  EXPECT_FALSE(CheckDirectAddress("mailto:a@b", nullptr));
}

TEST(HttpAddress, RequestLinesCarryNoBlankControlOrNonAsciiByte) {
  EXPECT_EQ(platform::EscapeRequestBytes(""), "");
  EXPECT_EQ(platform::EscapeRequestBytes("/a b?c=\x01\x7F\xC3\xA9"), "/a%20b?c=%01%7F%C3%A9");
  // What is already escaped, and the signs of a query, go as written.
  EXPECT_EQ(platform::EscapeRequestBytes("/p%20q?a=1&b=%2F#f"), "/p%20q?a=1&b=%2F#f");
  std::string every;
  for (int b = 0; b < 256; ++b) every += static_cast<char>(b);
  for (char c : platform::EscapeRequestBytes(every))
    EXPECT_TRUE(c > 0x20 && c < 0x7F) << static_cast<int>(static_cast<unsigned char>(c));

  EXPECT_EQ(platform::RequestObject(""), "/");
  EXPECT_EQ(platform::RequestObject("index.html"), "/index.html");
  EXPECT_EQ(platform::RequestObject("/a b"), "/a%20b");
  EXPECT_EQ(platform::RequestObject(" x"), "/%20x");
}

}  // namespace
