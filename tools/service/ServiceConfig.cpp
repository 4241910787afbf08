#include "ServiceConfig.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

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
    if (section == "service") {
      if (n == "listen") {
        if (value.empty()) return fail("listen needs an address");
        config.listen = value;
      } else if (n == "port") {
        if (!ParseLong(value, 0, 65535, num)) return fail("port must be a number from 0 to 65535");
        config.port = static_cast<int>(num);
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
        if (!ParseLong(value, 1, 4096, num)) return fail("threads must be a number from 1 to 4096");
        config.threads = static_cast<int>(num);
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
        if (!ParseSeconds(value, 3600, config.requestDeadline) || config.requestDeadline < 0.1)
          return fail("request_deadline must be seconds from 0.1 to 3600");
      } else if (n == "max_connections_per_address") {
        if (!ParseLong(value, 0, 100000, num))
          return fail("max_connections_per_address must be a number from 0 to 100000");
        config.maxConnectionsPerAddress = static_cast<int>(num);
      } else if (n == "touch_rate") {
        if (!ParseLong(value, 0, 1000000, num))
          return fail("touch_rate must be a number from 0 to 1000000 (touches per minute)");
        config.touchRate = static_cast<int>(num);
      } else if (n == "touch_retention_days") {
        if (!ParseLong(value, 1, 36500, num))
          return fail("touch_retention_days must be a number from 1 to 36500");
        config.touchRetentionDays = static_cast<int>(num);
      } else if (n == "touches_max_bytes") {
        if (!ParseLong(value, 4096, 1L << 40, num))
          return fail("touches_max_bytes must be a number from 4096 to 1099511627776");
        config.touchesMaxBytes = static_cast<size_t>(num);
      } else if (n == "max_header_bytes" || n == "max_body_bytes") {
        if (!ParseLong(value, 1024, 1L << 24, num))
          return fail(name + " must be a number from 1024 to 16777216");
        (n == "max_header_bytes" ? config.maxHeaderBytes : config.maxBodyBytes) =
            static_cast<size_t>(num);
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
        if (!ParseSeconds(value, 86400 * 7, config.checkInterval))
          return fail("interval must be seconds from 0 to 604800 (0 turns the checker off)");
      } else if (n == "failures") {
        if (!ParseLong(value, 1, 1000, num))
          return fail("failures must be a number from 1 to 1000");
        config.checkFailures = static_cast<int>(num);
      } else if (n == "timeout") {
        if (!ParseSeconds(value, 600, config.checkTimeout) || config.checkTimeout < 0.05)
          return fail("timeout must be seconds from 0.05 to 600");
      } else if (n == "workers") {
        if (!ParseLong(value, 1, 512, num)) return fail("workers must be a number from 1 to 512");
        config.checkWorkers = static_cast<int>(num);
      } else if (n == "url") {
        if (value.rfind("http://", 0) != 0 && value.rfind("https://", 0) != 0)
          return fail("url must be an http:// or https:// address");
        config.checkURL = value;
      } else if (n == "lease") {
        if (!ParseSeconds(value, 3600, config.checkLease) || config.checkLease < 1)
          return fail("lease must be seconds from 1 to 3600");
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
