// Settings given to the store as they are, without a file: for tests and
// fuzz targets of the code that reads settings.
#pragma once

#include <map>
#include <string>

#include "framework/CLSettings.h"

// Settings handed to the store as they are, bypassing the file format (so
// that values with NUL characters or line breaks reach the manager whole).
class TExactSettings : public ICLSettingsLayers {
 public:
  TExactSettings() { RegisterSettingsEngine(this); }
  ~TExactSettings() override { UnregisterSettingsEngine(this); }
  std::map<std::string, std::string> Values;
  bool FindOverride(const std::string& name, std::string& value) const override {
    auto it = Values.find(name);
    if (it == Values.end()) return false;
    value = it->second;
    return true;
  }
  bool FindDefault(const std::string&, std::string&) const override { return false; }
};
