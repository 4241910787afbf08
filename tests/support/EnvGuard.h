// Environment variables changed for one scope: every variable set or removed
// through the guard gets its old value (or its absence) back when the guard
// goes, in reverse order, so a test cannot leak its environment into the
// next one.
#pragma once

#include "platform/NoCopy.h"

#include <cstdlib>
#include <string>
#include <vector>

namespace testsupport {

class EnvGuard : private TNoCopy {
 public:
  EnvGuard() = default;
  // One variable at once: nullptr removes it.
  EnvGuard(const char* name, const char* value) { Set(name, value); }
  EnvGuard(const char* name, const std::string& value) { Set(name, value.c_str()); }
  ~EnvGuard() {
    for (auto it = FSaved.rbegin(); it != FSaved.rend(); ++it)
      Put(it->name, it->had ? it->value.c_str() : nullptr);
  }

  // Sets name to value; nullptr removes it.
  void Set(const char* name, const char* value) {
    const char* old = std::getenv(name);
    FSaved.push_back(Saved{name, old != nullptr, old ? old : ""});
    Put(name, value);
  }
  void Set(const char* name, const std::string& value) { Set(name, value.c_str()); }

 private:
  struct Saved {
    std::string name;
    bool had;
    std::string value;
  };
  static void Put(const std::string& name, const char* value) {
#ifdef _WIN32
    // An empty value removes the variable there.
    _putenv_s(name.c_str(), value ? value : "");
#else
    if (value)
      ::setenv(name.c_str(), value, 1);
    else
      ::unsetenv(name.c_str());
#endif
  }
  std::vector<Saved> FSaved;
};

}  // namespace testsupport
