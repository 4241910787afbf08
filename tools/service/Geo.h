// Where an address lies: a MaxMind-format database (.mmdb, through
// libmaxminddb) when one is configured, else the country databases of the
// "geoip-database" package (through libGeoIP), whose countries are placed at
// their middle point. Lookups are safe from any thread.
#pragma once

#include "platform/NoCopy.h"

#include <memory>
#include <mutex>
#include <string>

struct ServiceConfig;

struct GeoInfo {
  bool found = false;
  std::string code;  // two letters, upper case
  std::string name, city, region;
  std::string latitude, longitude;  // decimal degrees as text
};

class GeoLocator : private TNoCopy {
 public:
  GeoLocator();
  ~GeoLocator();

  // Opens the configured databases. A configured .mmdb that cannot be opened
  // is an error; missing country databases only leave every address unknown.
  bool Open(const ServiceConfig& config, std::string& error);
  // Unknown, private and loopback addresses give found = false.
  GeoInfo Lookup(const std::string& address) const;
  // What answers lookups, for the start-up message.
  std::string Source() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> FImpl;
};

// The English name of a country code ("" when unknown).
std::string CountryName(const std::string& code);
// The middle point of a country; false for an unknown code.
bool CountryCentre(const std::string& code, double& latitude, double& longitude);
// Degrees as the answers write them: no trailing zeros ("38", "-96.8").
std::string Degrees(double value);
