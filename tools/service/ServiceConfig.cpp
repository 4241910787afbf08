#include "ServiceConfig.h"

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return "";
  size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string Resolve(const std::string& base, const std::string& path) {
  if (path.empty() || path[0] == '/') return path;
  return base + path;
}

}  // namespace

std::string ServiceConfig::Get(const Pairs& pairs, const std::string& name) {
  for (auto& p : pairs)
    if (Lower(p.first) == Lower(name)) return p.second;
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
  while (std::getline(f, line)) {
    ++number;
    const std::string t = Trim(line);
    if (t.empty() || t[0] == ';' || t[0] == '#') continue;
    if (t.front() == '[' && t.back() == ']') {
      section = Lower(Trim(t.substr(1, t.size() - 2)));
      continue;
    }
    if (section == "normal" || section == "super") {
      (section == "normal" ? config.normalProxies : config.superProxies).push_back(t);
      continue;
    }
    const size_t eq = t.find('=');
    if (eq == std::string::npos) {
      error = path + ":" + std::to_string(number) + ": expected name = value";
      return false;
    }
    const std::string name = Trim(t.substr(0, eq));
    const std::string value = Trim(t.substr(eq + 1));
    if (section == "service") {
      const std::string n = Lower(name);
      if (n == "listen") config.listen = value;
      else if (n == "port") config.port = std::atoi(value.c_str());
      else if (n == "magicword") config.magicWord = value;
      else if (n == "check_magicword") config.checkMagicWord = value != "0" && Lower(value) != "false";
      else if (n == "flags") config.flagsDir = Resolve(base, value);
      else if (n == "log") config.logFile = Resolve(base, value);
      else if (n == "touches") config.touchesFile = Resolve(base, value);
      else {
        error = path + ":" + std::to_string(number) + ": unknown setting " + name;
        return false;
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
      error = path + ":" + std::to_string(number) + ": line outside a known section";
      return false;
    }
  }
  if (!config.flagsDir.empty() && config.flagsDir.back() != '/') config.flagsDir += '/';
  return true;
}
