#include "ServiceConfig.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <type_traits>

#include "Address.h"
#include "platform/AsciiText.h"

namespace {

// Blanks around names, values and list items.
const char* const kBlanks = " \t\r\n";

std::string Resolve(const std::string& base, const std::string& path) {
  if (path.empty() || path[0] == '/') return path;
  return base + path;
}

bool ParseLong(const std::string& v, long min, long max, long& out) {
  if (v.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const long n = std::strtol(v.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || n < min || n > max) return false;
  out = n;
  return true;
}

bool ParseSeconds(const std::string& v, double max, double& out) {
  if (v.empty()) return false;
  char* end = nullptr;
  const double d = std::strtod(v.c_str(), &end);
  if (*end != '\0' || !std::isfinite(d) || d < 0 || d > max) return false;
  out = d;
  return true;
}

bool ParseBool(const std::string& v, bool& out) {
  const std::string l = LowerCase(v);
  if (l == "1" || l == "true" || l == "yes" || l == "on")
    out = true;
  else if (l == "0" || l == "false" || l == "no" || l == "off")
    out = false;
  else
    return false;
  return true;
}

std::vector<std::string> SplitList(const std::string& v) {
  std::vector<std::string> out;
  std::string item;
  std::istringstream in(v);
  while (std::getline(in, item, ',')) {
    item = Trim(item, kBlanks);
    if (!item.empty()) out.push_back(item);
  }
  return out;
}

}  // namespace

std::string ServiceConfig::Get(const Pairs& pairs, const std::string& name) {
  for (auto& p : pairs)
    if (SameText(p.first, name)) return p.second;
  return "";
}

bool LoadServiceConfig(const std::string& path, ServiceConfig& config, std::string& error) {
  std::ifstream f(path, std::ios::binary);
  if (!f) {
    error = "cannot read " + path;
    return false;
  }
  const size_t slash = path.rfind('/');
  const std::string base = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  std::string section, line;
  int number = 0;
  auto fail = [&](const std::string& what) {
    error = path + ":" + std::to_string(number) + ": " + what;
    return false;
  };
  while (std::getline(f, line)) {
    ++number;
    const std::string t = Trim(line, kBlanks);
    if (t.empty() || t[0] == ';' || t[0] == '#') continue;
    if (t.front() == '[' && t.back() == ']') {
      section = LowerCase(Trim(t.substr(1, t.size() - 2), kBlanks));
      static const char* const known[] = {"service",  "geoip",     "checker", "update", "banner",
                                          "settings", "localinfo", "pages",   "normal", "super"};
      bool ok = false;
      for (const char* k : known) ok = ok || section == k;
      if (!ok) return fail("unknown section [" + section + "]");
      continue;
    }
    if (section == "normal" || section == "super") {
      if (config.firstListLine == 0) config.firstListLine = number;
      (section == "normal" ? config.normalProxies : config.superProxies).push_back(t);
      continue;
    }
    const size_t eq = t.find('=');
    if (eq == std::string::npos) return fail("expected name = value");
    const std::string name = Trim(t.substr(0, eq), kBlanks);
    const std::string value = Trim(t.substr(eq + 1), kBlanks);
    const std::string n = LowerCase(name);
    long num = 0;
    // A whole number from lo to hi into field; the message names the range
    // and what the number counts, where that helps.
    const auto whole = [&](long lo, long hi, auto& field, const std::string& unit = "") {
      if (!ParseLong(value, lo, hi, num))
        return fail(n + " must be a number from " + std::to_string(lo) + " to " +
                    std::to_string(hi) + unit);
      field = static_cast<std::remove_reference_t<decltype(field)>>(num);
      return true;
    };
    // Seconds from lo (as loText) to hi into field.
    const auto seconds = [&](double lo, const char* loText, long hi, double& field,
                             const std::string& unit = "") {
      if (!ParseSeconds(value, static_cast<double>(hi), field) || field < lo)
        return fail(n + " must be seconds from " + loText + " to " + std::to_string(hi) + unit);
      return true;
    };
    if (section == "service") {
      if (n == "listen") {
        if (value.empty()) return fail("listen needs an address");
        config.listen = value;
      } else if (n == "port") {
        if (!whole(0, 65535, config.port)) return false;
      } else if (n == "magicword") {
        config.magicWord = value;
      } else if (n == "check_magicword") {
        if (!ParseBool(value, config.checkMagicWord)) return fail("check_magicword must be 1 or 0");
      } else if (n == "flags") {
        config.flagsDir = Resolve(base, value);
      } else if (n == "log") {
        config.logFile = Resolve(base, value);
      } else if (n == "touches") {
        config.touchesFile = Resolve(base, value);
      } else if (n == "database") {
        const bool server =
            value.rfind("postgresql://", 0) == 0 || value.rfind("postgres://", 0) == 0;
        config.database = server ? value : Resolve(base, value);
      } else if (n == "threads") {
        if (!whole(1, 4096, config.threads)) return false;
      } else if (n == "trusted_proxies" || n == "admin") {
        std::vector<std::string> list = SplitList(value);
        for (auto& a : list)
          if (!svc::ValidAddressOrNetwork(a)) return fail("not an address or network: " + a);
        (n == "admin" ? config.admin : config.trustedProxies) = list;
      } else if (n == "tls_certificate") {
        config.tlsCert = Resolve(base, value);
      } else if (n == "tls_key") {
        config.tlsKey = Resolve(base, value);
      } else if (n == "public_url") {
        const bool https = value.rfind("https://", 0) == 0;
        if (!https && value.rfind("http://", 0) != 0)
          return fail("public_url must be an http:// or https:// address");
        std::string authority = value.substr(https ? 8 : 7);
        while (!authority.empty() && authority.back() == '/') authority.pop_back();
        if (authority.empty() || authority.find_first_of("/?#@ \\t\"'<>") != std::string::npos)
          return fail("public_url must be scheme://host[:port] with nothing after it");
        config.publicURL = (https ? "https://" : "http://") + authority;
        config.publicAuthority = authority;
      } else if (n == "request_deadline") {
        if (!seconds(0.1, "0.1", 3600, config.requestDeadline)) return false;
      } else if (n == "max_connections_per_address") {
        if (!whole(0, 100000, config.maxConnectionsPerAddress)) return false;
      } else if (n == "touch_rate") {
        if (!whole(0, 1000000, config.touchRate, " (touches per minute)")) return false;
      } else if (n == "touch_retention_days") {
        if (!whole(1, 36500, config.touchRetentionDays)) return false;
      } else if (n == "touches_max_bytes") {
        if (!whole(4096, 1L << 40, config.touchesMaxBytes)) return false;
      } else if (n == "max_header_bytes" || n == "max_body_bytes") {
        if (!whole(1024, 1L << 24,
                   n == "max_header_bytes" ? config.maxHeaderBytes : config.maxBodyBytes))
          return false;
      } else {
        return fail("unknown setting " + name);
      }
    } else if (section == "geoip") {
      if (n == "mmdb")
        config.mmdb = Resolve(base, value);
      else if (n == "country_database")
        config.geoipDat = Resolve(base, value);
      else if (n == "country_database_v6")
        config.geoipDat6 = Resolve(base, value);
      else
        return fail("unknown setting " + name);
    } else if (section == "checker") {
      if (n == "interval") {
        if (!seconds(0, "0", 86400 * 7, config.checkInterval, " (0 turns the checker off)"))
          return false;
      } else if (n == "failures") {
        if (!whole(1, 1000, config.checkFailures)) return false;
      } else if (n == "timeout") {
        if (!seconds(0.05, "0.05", 600, config.checkTimeout)) return false;
      } else if (n == "workers") {
        if (!whole(1, 512, config.checkWorkers)) return false;
      } else if (n == "url") {
        if (value.rfind("http://", 0) != 0 && value.rfind("https://", 0) != 0)
          return fail("url must be an http:// or https:// address");
        config.checkURL = value;
      } else if (n == "lease") {
        if (!seconds(1, "1", 3600, config.checkLease)) return false;
      } else if (n == "ca_file") {
        config.checkCAFile = Resolve(base, value);
      } else if (n == "self_blame") {
        if (!ParseLong(value, 0, 100, num))
          return fail("self_blame must be a percentage from 0 to 100 (0: never)");
        config.checkSelfBlame = static_cast<int>(num);
      } else if (n == "expect_proxy_address") {
        if (!ParseBool(value, config.checkNamesProxy))
          return fail("expect_proxy_address must be 1 or 0");
      } else {
        return fail("unknown setting " + name);
      }
    } else if (section == "update") {
      config.update.emplace_back(name, value);
    } else if (section == "banner") {
      config.banner.emplace_back(name, value);
    } else if (section == "settings") {
      config.settings.emplace_back(name, value);
    } else if (section == "localinfo") {
      config.localInfo.emplace_back(name, value);
    } else if (section == "pages") {
      config.pages.emplace_back(name, value);
    } else {
      return fail("line outside a known section");
    }
  }
  if (!config.flagsDir.empty() && config.flagsDir.back() != '/') config.flagsDir += '/';
  number = 0;
  if (config.tlsCert.empty() != config.tlsKey.empty()) {
    error = path + ": tls_certificate and tls_key go together";
    return false;
  }
  return true;
}
