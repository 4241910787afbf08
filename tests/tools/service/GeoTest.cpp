// The requester placed with a MaxMind-format database: a small City
// database written here in the format's own layout (search tree, data
// section, metadata), read by the real program through libmaxminddb.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "ServiceSupport.h"
#include "support/Sandbox.h"

using servicetest::HttpFrom;
using servicetest::RunService;
using servicetest::ServiceProcess;

namespace {

// Encoders of the database's data section.
std::string Ctrl(int type, size_t size) {
  if (type <= 7) return std::string(1, static_cast<char>((type << 5) | static_cast<int>(size)));
  return std::string(1, static_cast<char>(size)) + std::string(1, static_cast<char>(type - 7));
}
std::string Text(const std::string& s) { return Ctrl(2, s.size()) + s; }
std::string Map(size_t n) { return Ctrl(7, n); }
std::string Array(size_t n) { return Ctrl(11, n); }
std::string BigEndian(uint64_t v, int bytes) {
  std::string out;
  for (int i = bytes - 1; i >= 0; --i) out += static_cast<char>((v >> (8 * i)) & 0xff);
  return out;
}
std::string U16(uint16_t v) { return Ctrl(5, 2) + BigEndian(v, 2); }
std::string U32(uint32_t v) { return Ctrl(6, 4) + BigEndian(v, 4); }
std::string U64(uint64_t v) { return Ctrl(9, 8) + BigEndian(v, 8); }
std::string Double(double d) {
  uint64_t bits = 0;
  std::memcpy(&bits, &d, 8);
  return Ctrl(3, 8) + BigEndian(bits, 8);
}

// An IPv4 database with one network, 81.2.69.0/24, in London.
std::string CityDatabase() {
  const uint32_t network = (81u << 24) | (2u << 16) | (69u << 8);
  const int depth = 24;
  const uint32_t nodes = depth;
  std::string tree;
  for (int i = 0; i < depth; ++i) {
    const int bit = (network >> (31 - i)) & 1;
    const uint32_t onPath =
        i + 1 < depth ? static_cast<uint32_t>(i + 1) : nodes + 16;  // data at offset 0
    const uint32_t left = bit == 0 ? onPath : nodes, right = bit == 1 ? onPath : nodes;
    tree += BigEndian(left, 3) + BigEndian(right, 3);
  }
  const std::string data =
      Map(4) + Text("city") + Map(1) + Text("names") + Map(1) + Text("en") + Text("London") +
      Text("country") + Map(2) + Text("iso_code") + Text("GB") + Text("names") + Map(1) +
      Text("en") + Text("United Kingdom") + Text("location") + Map(2) + Text("latitude") +
      Double(51.5142) + Text("longitude") + Double(-0.0931) + Text("subdivisions") + Array(1) +
      Map(1) + Text("names") + Map(1) + Text("en") + Text("England");
  const std::string meta = std::string("\xAB\xCD\xEF", 3) + "MaxMind.com" + Map(9) +
                           Text("binary_format_major_version") + U16(2) +
                           Text("binary_format_minor_version") + Ctrl(5, 0) + Text("build_epoch") +
                           U64(1700000000) + Text("database_type") + Text("Test-City") +
                           Text("description") + Map(1) + Text("en") + Text("test") +
                           Text("ip_version") + U16(4) + Text("languages") + Array(1) + Text("en") +
                           Text("node_count") + U32(nodes) + Text("record_size") + U16(24);
  return tree + std::string(16, '\0') + data + meta;
}

class GeoTest : public SandboxTest {
 protected:
  void TearDown() override {
    FService.Stop();
    SandboxTest::TearDown();
  }
  ServiceProcess FService;
};

}  // namespace

TEST_F(GeoTest, CityDatabaseGivesCountryCityRegionAndPosition) {
  sb().WriteFile("svc/city.mmdb", CityDatabase());
  sb().WriteFile(
      "svc/service.conf",
      "[service]\nlisten = 127.0.0.1\nport = 0\nmagicword = W\ntrusted_proxies = 127.0.0.1\n"
      "database = pool.db\n[geoip]\nmmdb = city.mmdb\n[checker]\ninterval = 0\n");
  // The operator's proxies are placed with the same database.
  std::string out;
  ASSERT_EQ(RunService({"--config", sb().Path("svc/service.conf"), "pool", "add",
                        "81.2.69.160:3128"},
                       sb().Path("svc/cmd.txt"), &out),
            0)
      << out;
  EXPECT_NE(out.find("81.2.69.160:3128|United Kingdom|GB|-0.0931|51.5142"), std::string::npos)
      << out;

  ASSERT_TRUE(FService.Start(sb().Path("svc/service.conf"), sb().Path("svc/out.txt"), &out)) << out;
  EXPECT_NE(out.find("GeoIP: " + sb().Path("svc/city.mmdb")), std::string::npos) << out;
  const int port = FService.Port();
  EXPECT_EQ(
      HttpFrom("127.0.0.1", port, "/getinfo?MagicWord=W", "X-Forwarded-For: 81.2.69.142\r\n").body,
      "IP=81.2.69.142\r\nCOUNTRY_SHORT=GB\r\nCOUNTRY_LONG=United Kingdom\r\nCITY=London\r\n"
      "REGION=England\r\n51.5142\r\n-0.0931\r\n");
  // An address the database does not know is an unknown place.
  EXPECT_EQ(
      HttpFrom("127.0.0.1", port, "/getinfo?MagicWord=W", "X-Forwarded-For: 8.8.8.8\r\n").body,
      "IP=8.8.8.8\r\nCOUNTRY_SHORT=\r\nCOUNTRY_LONG=\r\nCITY=\r\nREGION=\r\n0\r\n0\r\n");
  FService.Stop();

  // A configured database that cannot be read stops the start with a reason.
  sb().WriteFile("svc/city.mmdb", "not a database");
  EXPECT_EQ(RunService({"--config", sb().Path("svc/service.conf"), "--port", "0"},
                       sb().Path("svc/bad.txt"), &out),
            1);
  EXPECT_NE(out.find("cannot open the GeoIP database " + sb().Path("svc/city.mmdb")),
            std::string::npos)
      << out;
}
