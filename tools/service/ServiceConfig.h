// The service's configuration file: INI sections of name = value lines
// (comments start with ";" or "#"), and two sections of bare proxy records.
#pragma once

#include <string>
#include <utility>
#include <vector>

struct ServiceConfig {
  using Pairs = std::vector<std::pair<std::string, std::string>>;

  std::string listen = "127.0.0.1";
  int port = 8470;
  std::string magicWord;
  bool checkMagicWord = true;
  std::string flagsDir;     // absolute, or empty
  std::string logFile;      // absolute, or empty for standard output
  std::string touchesFile;  // absolute, or empty

  Pairs update;    // [update]: Result, info, page (and anything else)
  Pairs banner;    // [banner]: Banner.* lines
  Pairs settings;  // [settings]: delivered as __MODIFY__.<name>
  std::vector<std::string> normalProxies;  // [normal]: one record per line
  std::vector<std::string> superProxies;   // [super]
  Pairs localInfo;                         // [localinfo]
  Pairs pages;                             // [pages]: page name = HTML text

  // Value of a name in a section's pairs, "" when absent (case-insensitive).
  static std::string Get(const Pairs& pairs, const std::string& name);
};

// Reads the file; false with a message when it cannot be read or a line is
// not understood.
bool LoadServiceConfig(const std::string& path, ServiceConfig& config, std::string& error);
