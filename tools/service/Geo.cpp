#include "Geo.h"

#include <GeoIP.h>
#include <maxminddb.h>

#include <cstdio>
#include <cstring>

#include "Address.h"
#include "ServiceConfig.h"
#include "platform/AsciiText.h"

namespace {

// libGeoIP's names are ISO 8859-1.
std::string Latin1ToUtf8(const char* s) {
  std::string out;
  for (; s && *s; ++s) {
    const unsigned char c = static_cast<unsigned char>(*s);
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>(0xc0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3f));
    }
  }
  return out;
}

std::string MmdbText(MMDB_entry_s* entry, const char* const* path) {
  MMDB_entry_data_s data{};
  if (MMDB_aget_value(entry, &data, path) != MMDB_SUCCESS || !data.has_data ||
      data.type != MMDB_DATA_TYPE_UTF8_STRING)
    return "";
  return std::string(data.utf8_string, data.data_size);
}

bool MmdbDouble(MMDB_entry_s* entry, const char* const* path, double& out) {
  MMDB_entry_data_s data{};
  if (MMDB_aget_value(entry, &data, path) != MMDB_SUCCESS || !data.has_data) return false;
  if (data.type == MMDB_DATA_TYPE_DOUBLE)
    out = data.double_value;
  else if (data.type == MMDB_DATA_TYPE_FLOAT)
    out = data.float_value;
  else
    return false;
  return true;
}

}  // namespace

struct GeoLocator::Impl {
  MMDB_s mmdb{};
  bool haveMmdb = false;
  std::string mmdbPath;
  GeoIP* v4 = nullptr;
  GeoIP* v6 = nullptr;
  std::string datPath;

  ~Impl() {
    if (haveMmdb) MMDB_close(&mmdb);
    if (v4) GeoIP_delete(v4);
    if (v6) GeoIP_delete(v6);
  }
};

GeoLocator::GeoLocator() : FImpl(std::make_unique<Impl>()) {}
GeoLocator::~GeoLocator() = default;

bool GeoLocator::Open(const ServiceConfig& config, std::string& error) {
  if (!config.mmdb.empty()) {
    const int rc = MMDB_open(config.mmdb.c_str(), MMDB_MODE_MMAP, &FImpl->mmdb);
    if (rc != MMDB_SUCCESS) {
      error = "cannot open the GeoIP database " + config.mmdb + ": " + MMDB_strerror(rc);
      return false;
    }
    FImpl->haveMmdb = true;
    FImpl->mmdbPath = config.mmdb;
    return true;
  }
  // Quiet: libGeoIP prints to standard error when a file is missing.
  auto open = [](const std::string& path) -> GeoIP* {
    if (path.empty()) return nullptr;
    if (FILE* f = std::fopen(path.c_str(), "rb"))
      std::fclose(f);
    else
      return nullptr;
    GeoIP* gi = GeoIP_open(path.c_str(), GEOIP_MEMORY_CACHE | GEOIP_SILENCE);
    if (gi) GeoIP_set_charset(gi, GEOIP_CHARSET_UTF8);
    return gi;
  };
  FImpl->v4 = open(config.geoipDat);
  FImpl->v6 = open(config.geoipDat6);
  FImpl->datPath = config.geoipDat;
  return true;
}

std::string GeoLocator::Source() const {
  if (FImpl->haveMmdb) return FImpl->mmdbPath;
  if (FImpl->v4 || FImpl->v6) return FImpl->datPath + " (countries)";
  return "none (every address is unknown)";
}

GeoInfo GeoLocator::Lookup(const std::string& text) const {
  GeoInfo g;
  // The country databases hold IPv4 addresses in dotted form only.
  const std::string address = svc::PlainAddress(text);
  svc::IP ip;
  if (!svc::ParseIP(address, ip) || svc::IsUnroutable(address)) return g;
  double lat = 0, lon = 0;
  bool havePosition = false;
  if (FImpl->haveMmdb) {
    int gaiError = 0, mmdbError = 0;
    MMDB_lookup_result_s r =
        MMDB_lookup_string(&FImpl->mmdb, address.c_str(), &gaiError, &mmdbError);
    if (gaiError != 0 || mmdbError != MMDB_SUCCESS || !r.found_entry) return g;
    static const char* const code[] = {"country", "iso_code", nullptr};
    static const char* const name[] = {"country", "names", "en", nullptr};
    static const char* const city[] = {"city", "names", "en", nullptr};
    static const char* const region[] = {"subdivisions", "0", "names", "en", nullptr};
    static const char* const latitude[] = {"location", "latitude", nullptr};
    static const char* const longitude[] = {"location", "longitude", nullptr};
    g.code = MmdbText(&r.entry, code);
    g.name = MmdbText(&r.entry, name);
    g.city = MmdbText(&r.entry, city);
    g.region = MmdbText(&r.entry, region);
    havePosition = MmdbDouble(&r.entry, latitude, lat) && MmdbDouble(&r.entry, longitude, lon);
  } else {
    GeoIPLookup gl{};
    int id = 0;
    if (ip.v4 && FImpl->v4)
      id = GeoIP_id_by_addr_gl(FImpl->v4, address.c_str(), &gl);
    else if (!ip.v4 && FImpl->v6)
      id = GeoIP_id_by_addr_v6_gl(FImpl->v6, address.c_str(), &gl);
    if (id <= 0) return g;
    const char* c = GeoIP_code_by_id(id);
    g.code = c ? c : "";
    g.name = Latin1ToUtf8(GeoIP_name_by_id(id));
  }
  // Codes of no country ("A1" anonymous proxy, "EU", "AP", "--").
  if (g.code.size() != 2 || g.code == "--" || !IsAsciiLetter(g.code[0]) ||
      IsAsciiDigit(g.code[1]) || g.code == "EU" || g.code == "AP")
    return GeoInfo{};
  if (g.name.empty()) g.name = CountryName(g.code);
  if (!havePosition) havePosition = CountryCentre(g.code, lat, lon);
  if (havePosition) {
    g.latitude = Degrees(lat);
    g.longitude = Degrees(lon);
  }
  g.found = true;
  return g;
}

std::string CountryName(const std::string& code) {
  if (code.size() != 2) return "";
  const int id = GeoIP_id_by_code(UpperCase(code).c_str());
  if (id <= 0) return "";
  return Latin1ToUtf8(GeoIP_name_by_id(id));
}

std::string Degrees(double value) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.4f", value);
  std::string s = buf;
  while (!s.empty() && s.back() == '0') s.pop_back();
  if (!s.empty() && s.back() == '.') s.pop_back();
  if (s == "-0") s = "0";
  return s;
}
