#include "ServiceAnswers.h"

#include "platform/AsciiText.h"

namespace {

const char* const CRLF = "\r\n";

// Line breaks would split one value into several answer lines.
std::string OneLine(std::string v) {
  for (char& c : v)
    if (c == '\r' || c == '\n') c = ' ';
  return v;
}

}  // namespace

std::string JoinRecords(const std::vector<std::string>& records) {
  std::string out;
  for (auto& r : records) {
    if (!out.empty()) out += ';';
    out += r;
  }
  return out;
}

std::string ExpandService(const std::string& value, const std::string& self) {
  static const std::string key = "{service}";
  std::string out = value;
  for (size_t p = out.find(key); p != std::string::npos; p = out.find(key, p + self.size()))
    out.replace(p, key.size(), self);
  return out;
}

std::string UpdateAnswer(const ServiceConfig& config, const std::string& self,
                         const std::string& normal, const std::string& super) {
  std::string a;
  auto line = [&](const std::string& name, const std::string& value) {
    a += OneLine(name) + "=" + OneLine(ExpandService(value, self)) + CRLF;
  };
  line("magicword", config.magicWord);
  std::string result = ServiceConfig::Get(config.update, "Result");
  line("Result", result.empty() ? "0" : result);
  line("info", ServiceConfig::Get(config.update, "info"));
  line("page", ServiceConfig::Get(config.update, "page"));
  for (auto& [name, value] : config.update)
    if (!SameText(name, "Result") && !SameText(name, "info") && !SameText(name, "page"))
      line(name, value);
  for (auto& [name, value] : config.banner)
    line(StartsWithText(name, "Banner.") ? name : "Banner." + name, value);
  bool ownNormal = false, ownSuper = false;
  for (auto& [name, value] : config.settings) {
    if (SameText(name, "NORMAL_IPS")) ownNormal = true;
    if (SameText(name, "SUPER_IPS")) ownSuper = true;
  }
  // The lists are records of the pool or of the operator's file: no
  // "{service}" inside, and no line breaks. An empty list is never sent: it
  // would clear the setting on every client, which keeps its own instead.
  if (!ownNormal && !normal.empty()) a.append("__MODIFY__.NORMAL_IPS=").append(normal).append(CRLF);
  if (!ownSuper && !super.empty()) a.append("__MODIFY__.SUPER_IPS=").append(super).append(CRLF);
  for (auto& [name, value] : config.settings) line("__MODIFY__." + name, value);
  return a;
}

std::string LocalInfoAnswer(const ServiceConfig& config, const std::string& callerIP,
                            const GeoInfo& geo) {
  std::string a;
  if (config.localInfo.empty()) {
    a += "IP=" + OneLine(callerIP) + CRLF;
    a += "COUNTRY_SHORT=" + OneLine(geo.code) + CRLF;
    a += "COUNTRY_LONG=" + OneLine(geo.name) + CRLF;
    a += "CITY=" + OneLine(geo.city) + CRLF;
    a += "REGION=" + OneLine(geo.region) + CRLF;
    a += (geo.latitude.empty() ? std::string("0") : OneLine(geo.latitude)) + CRLF;
    a += (geo.longitude.empty() ? std::string("0") : OneLine(geo.longitude)) + CRLF;
    return a;
  }
  const auto& li = config.localInfo;
  std::string ip = ServiceConfig::Get(li, "ip");
  if (ip.empty()) ip = callerIP;
  a += "IP=" + OneLine(ip) + CRLF;
  a += "COUNTRY_SHORT=" + OneLine(ServiceConfig::Get(li, "country_short")) + CRLF;
  a += "COUNTRY_LONG=" + OneLine(ServiceConfig::Get(li, "country_long")) + CRLF;
  a += "CITY=" + OneLine(ServiceConfig::Get(li, "city")) + CRLF;
  a += "REGION=" + OneLine(ServiceConfig::Get(li, "region")) + CRLF;
  a += OneLine(ServiceConfig::Get(li, "latitude")) + CRLF;
  a += OneLine(ServiceConfig::Get(li, "longitude")) + CRLF;
  return a;
}

std::string CheckIPPage(const std::string& callerIP) {
  const std::string ip = HtmlEscape(callerIP);
  return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Your IP address</title></head>\n"
         "<body><h1>Your IP address</h1>\n<p id=\"ip\">" +
         ip + "</p>\n</body></html>\n";
}
