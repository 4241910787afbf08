// The service's configuration file: INI sections of name = value lines
// (comments start with ";" or "#"), and two sections of bare proxy records.
// Every value is checked when the file is read; an error names the file and
// the line.
#pragma once

#include <string>
#include <utility>
#include <vector>

struct ServiceConfig {
  using Pairs = std::vector<std::pair<std::string, std::string>>;

  // [service]
  std::string listen = "127.0.0.1";
  int port = 8470;
  std::string magicWord;
  bool checkMagicWord = true;
  std::string flagsDir;     // absolute, or empty
  std::string logFile;      // absolute, or empty for standard output
  std::string touchesFile;  // absolute, or empty
  std::string
      database;  // the proxy pool: a SQLite file or postgresql://...; empty: the lists of this file
  int threads = 64;                         // request threads; each kept-alive connection holds one
  std::vector<std::string> trustedProxies;  // peers whose X-Forwarded-For is believed
  std::vector<std::string> admin = {"127.0.0.1", "::1"};  // who may read /touches
  std::string tlsCert, tlsKey;                            // both set: the service speaks HTTPS
  size_t maxHeaderBytes = 16384;                          // all request headers together
  size_t maxBodyBytes = 65536;
  // The address clients reach the service at ("https://vpn.example.com");
  // "{service}" stands for its host[:port]. Empty: the Host header, else the
  // listen address (the demo).
  std::string publicURL;
  std::string publicAuthority;  // host[:port] of publicURL
  double requestDeadline = 20;  // seconds a connection may take for one request and its answer
  int maxConnectionsPerAddress =
      16;                       // open connections of one peer (trusted proxies exempt); 0: any
  int touchRate = 30;           // touches of one requester per minute; 0: any
  int touchRetentionDays = 30;  // older touches are deleted from the pool
  size_t touchesMaxBytes = 16u << 20;  // the touches file is renamed to FILE.1 at this size

  // [geoip]
  std::string mmdb;  // a MaxMind-format database; preferred when set
  std::string geoipDat = "/usr/share/GeoIP/GeoIP.dat";
  std::string geoipDat6 = "/usr/share/GeoIP/GeoIPv6.dat";

  // [checker]
  double checkInterval = 300;  // seconds between rounds; 0: no checker
  int checkFailures = 3;       // failures in a row that take a proxy off the lists
  double checkTimeout = 10;    // seconds per probe
  int checkWorkers = 16;       // probes at once
  // Fetched through each proxy (http:// or https://). Empty: public_url's
  // /checkip, else the listen address's (the demo, with proxies on loopback).
  std::string checkURL;
  std::string checkCAFile;  // authorities for https probes; empty: the system's
  int checkSelfBlame =
      90;  // percent of failed probes at which a round blames the checker; 0: never
  bool checkNamesProxy = true;  // the answer must contain the proxy's address
  double checkLease = 30;  // seconds the checker's lease lasts unless renewed (one instance checks)

  Pairs update;                            // [update]: Result, info, page (and anything else)
  Pairs banner;                            // [banner]: Banner.* lines
  Pairs settings;                          // [settings]: delivered as __MODIFY__.<name>
  std::vector<std::string> normalProxies;  // [normal]: one record per line
  std::vector<std::string> superProxies;   // [super]
  int firstListLine = 0;                   // line of the first list record, for messages
  Pairs localInfo;                         // [localinfo]
  Pairs pages;                             // [pages]: page name = HTML text

  // Value of a name in a section's pairs, "" when absent (case-insensitive).
  static std::string Get(const Pairs& pairs, const std::string& name);
};

// Reads the file; false with a message ("FILE:LINE: what") when it cannot be
// read or a line is not understood.
bool LoadServiceConfig(const std::string& path, ServiceConfig& config, std::string& error);
