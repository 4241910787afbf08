// The texts the service answers with, built from the configuration.
#pragma once

#include <string>

#include "ServiceConfig.h"

// Replaces "{service}" by the service's own address (host:port as the
// caller reached it).
std::string ExpandService(const std::string& value, const std::string& self);

// The update answer: "magicword", "Result", "info", "page" and the other
// [update] lines, the "Banner." lines, then one "__MODIFY__." line per
// delivered setting ("NORMAL_IPS" and "SUPER_IPS" from the proxy sections
// unless [settings] names them itself). Lines end with CR LF.
std::string UpdateAnswer(const ServiceConfig& config, const std::string& self);

// The local-information answer, exactly seven lines: IP, COUNTRY_SHORT,
// COUNTRY_LONG, CITY, REGION (name=value), then the bare latitude and the
// bare longitude. The IP is the configured one or else the caller's.
std::string LocalInfoAnswer(const ServiceConfig& config, const std::string& callerIP);

// A small HTML page that shows the visitor's address.
std::string CheckIPPage(const std::string& callerIP);

// Text safe inside HTML.
std::string HtmlEscape(const std::string& text);
