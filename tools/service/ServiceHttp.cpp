#include "ServiceHttp.h"

ServiceRequest FromHttplib(const httplib::Request& q) {
  ServiceRequest r;
  r.method = q.method;
  r.path = q.path;
  const size_t mark = q.target.find('?');
  if (mark != std::string::npos) r.query = q.target.substr(mark + 1);
  for (auto& [name, value] : q.params) r.params.emplace(name, value);
  r.host = q.get_header_value("Host");
  // Several header lines make one list, in the order they came: each proxy
  // appends to the end, so a line the client wrote itself stays in front.
  const size_t lines = q.get_header_value_count("X-Forwarded-For");
  for (size_t i = 0; i < lines; ++i) {
    if (i > 0) r.forwardedFor += ", ";
    r.forwardedFor += q.get_header_value("X-Forwarded-For", i);
  }
  r.peer = q.remote_addr;
  for (auto& [name, value] : q.headers) r.headerBytes += name.size() + value.size() + 4;
  return r;
}
