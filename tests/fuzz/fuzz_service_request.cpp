// The reference service's request handling: a query string for each
// endpoint, parsed by the HTTP library as the server parses it, with a
// forwarded-for header and a peer address, handled and logged.
//  - Every request gets an answer with one of the service's statuses.
//  - The update answer keeps its lines; the local-information answer is
//    seven lines whatever the query and header say.
//  - The address list of touches is refused to anyone but local
//    administration, whatever the forwarded-for header claims.
//  - The magic word never reaches the access log.
#include <httplib.h>

#include <memory>
#include <string>

#include "FuzzSupport.h"
#include "Service.h"
#include "ServiceHttp.h"

namespace {

const char* const kWord = "Secret-Word-7";

Service& TheService() {
  static std::unique_ptr<Service> service = [] {
    ServiceConfig c;
    c.magicWord = kWord;
    c.trustedProxies = {"10.0.0.1", "10.0.0.2"};
    c.admin = {"127.0.0.1"};
    c.geoipDat = "/usr/share/GeoIP/GeoIP.dat";
    c.update = {{"Result", "0"}, {"page", "http://{service}/page/download"}};
    c.settings = {{"SUPER_TOUCH", "http://{service}/touch?ip={1}"}};
    c.normalProxies = {"192.0.2.10:8080|United States|US|-97|38"};
    c.pages = {{"banner", "<p>{service}</p>"}};
    auto s = std::make_unique<Service>(c);
    std::string error;
    s->Open(error);
    return s;
  }();
  return *service;
}

int CountLines(const std::string& text) {
  int n = 0;
  for (size_t p = text.find("\r\n"); p != std::string::npos; p = text.find("\r\n", p + 2)) ++n;
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const char* const paths[] = {"/update",  "/update.php",   "/redirect", "/page/banner",
                                      "/getinfo", "/flags/US.PNG", "/touch",    "/touches",
                                      "/checkip", "/metrics",      "/elsewhere"};
  static const char* const peers[] = {"127.0.0.1", "10.0.0.1", "192.0.2.44", "::1", "10.0.0.2"};
  fuzz::Reader in(data, size);
  const std::string path = paths[in.Byte() % (sizeof paths / sizeof *paths)];
  const std::string peer = peers[in.Byte() % (sizeof peers / sizeof *peers)];
  const bool rightWord = in.Byte() & 1;
  const std::string forwarded = in.Piece(0);
  const std::string host = in.Piece(0);
  std::string query = in.Rest();
  if (rightWord) query += std::string(query.empty() ? "" : "&") + "MagicWord=" + kWord;

  httplib::Request q;
  q.method = "GET";
  q.path = path;
  q.target = path + (query.empty() ? "" : "?" + query);
  httplib::detail::parse_query_text(query, q.params);
  if (!forwarded.empty()) q.headers.emplace("X-Forwarded-For", forwarded);
  if (!host.empty()) q.headers.emplace("Host", host);
  q.remote_addr = peer;

  Service& service = TheService();
  const ServiceRequest req = FromHttplib(q);
  ServiceResponse res;
  service.Handle(req, res);
  FUZZ_CHECK(res.status == 200 || res.status == 403 || res.status == 404,
             "status " + std::to_string(res.status));

  if (path == "/touches") {
    // Only a peer that is itself an administrator, or a trusted proxy that
    // names one, is answered.
    const bool trustedPeer = peer == "10.0.0.1" || peer == "10.0.0.2";
    if (!trustedPeer && peer != "127.0.0.1")
      FUZZ_CHECK(res.status == 403, "touches shown to " + peer);
    if (trustedPeer && forwarded.find("127.0.0.1") == std::string::npos)
      FUZZ_CHECK(res.status == 403, "touches shown through a proxy for " + forwarded);
  }
  if (path == "/getinfo" && res.status == 200) {
    FUZZ_CHECK(CountLines(res.body) == 7,
               "local information of " + std::to_string(CountLines(res.body)) + " lines");
    FUZZ_CHECK(res.body.size() >= 3 && res.body.compare(0, 3, "IP=") == 0, "first line");
  }
  if (path == "/update" && res.status == 200) {
    // magicword, Result, info, page, the normal list and one setting (the
    // super list is empty, so it is left out).
    FUZZ_CHECK(CountLines(res.body) == 6,
               "update answer of " + std::to_string(CountLines(res.body)) + " lines");
    FUZZ_CHECK(res.body.back() == '\n', "answer end");
  }
  const std::string line = service.LogLine(req, res.status, res.body.size(), 0.5);
  FUZZ_CHECK(line.find('\n') == std::string::npos && line.find('\r') == std::string::npos,
             "log line break");
  if (rightWord && forwarded.find(kWord) == std::string::npos &&
      host.find(kWord) == std::string::npos && in.Left() == 0 &&
      query.find(kWord) == query.rfind(kWord))
    FUZZ_CHECK(line.find(kWord) == std::string::npos, "magic word logged: " + line);
  return 0;
}
