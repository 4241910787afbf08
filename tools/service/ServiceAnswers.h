// The texts the service answers with, built from the configuration.
#pragma once

#include <string>
#include <vector>

#include "Geo.h"
#include "platform/AsciiText.h"

#include "ServiceConfig.h"

// Replaces "{service}" by the service's own address (host:port as the
// caller reached it).
std::string ExpandService(const std::string& value, const std::string& self);

// The update answer: "magicword", "Result", "info", "page" and the other
// [update] lines, the "Banner." lines, then one "__MODIFY__." line per
// delivered setting ("NORMAL_IPS" and "SUPER_IPS" from the proxy sections
// unless [settings] names them itself; an empty list is left out). Lines end
// with CR LF.
// `normal` and `super` are the joined records of the live lists (the pool's,
// or the configuration file's when no pool is configured).
std::string UpdateAnswer(const ServiceConfig& config, const std::string& self,
                         const std::string& normal, const std::string& super);
// The records joined the way the lists travel: separated by ";".
std::string JoinRecords(const std::vector<std::string>& records);

// The local-information answer, exactly seven lines: IP, COUNTRY_SHORT,
// COUNTRY_LONG, CITY, REGION (name=value), then the bare latitude and the
// bare longitude. With a [localinfo] section its values answer (an empty
// "ip" there stands for the caller's address); otherwise the caller's address
// is placed by `geo`: an unknown place leaves the country, city and region
// empty and gives the position 0, 0.
std::string LocalInfoAnswer(const ServiceConfig& config, const std::string& callerIP,
                            const GeoInfo& geo);

// A small HTML page that shows the visitor's address.
std::string CheckIPPage(const std::string& callerIP);
