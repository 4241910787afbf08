// Shared pieces of the proxy manager tests: a fixture that supplies settings
// through "const.dat" of the sandbox, a settings layer that hands values over
// byte for byte, and replayable generators.
#pragma once

#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "framework/CLSettings.h"
#include "support/ExactSettings.h"
#include "proxy/uProxyManager.h"
#include "support/Sandbox.h"

// A generator that answers from a script and records every draw's range.
class TScriptedRandom : public IProxyRandom {
 public:
  explicit TScriptedRandom(std::function<int(int n)> script) : FScript(std::move(script)) {}
  void Randomize() override { ++Reseeds; }
  int Random(int n) override {
    Ranges.push_back(n);
    return n <= 0 ? 0 : FScript(n);
  }
  int Reseeds = 0;
  std::vector<int> Ranges;

 private:
  std::function<int(int n)> FScript;
};

// A fixed pseudo-random sequence: two generators with one seed give the same
// draws.
inline std::shared_ptr<TScriptedRandom> SeededRandom(uint32_t seed) {
  auto engine = std::make_shared<std::mt19937>(seed);
  return std::make_shared<TScriptedRandom>(
      [engine](int n) { return static_cast<int>((*engine)() % static_cast<uint32_t>(n)); });
}

class ProxyTest : public SandboxTest {
 protected:
  void TearDown() override {
    ReleaseCLSettings();
    SandboxTest::TearDown();
  }
  // Writes the supplied settings file with these values; the store is
  // reopened so that it reads them.
  void SupplySettings(const std::map<std::string, std::string>& values) {
    ReleaseCLSettings();
    std::string text = "[setting]\r\n";
    for (const auto& [name, value] : values) text += name + "=" + value + "\r\n";
    sb().WriteFile("app/const.dat", text);
  }
};

// A record text.
inline std::string Rec(const std::string& ipPort, const std::string& country,
                       const std::string& code, const std::string& longi = "0",
                       const std::string& lati = "0") {
  return ipPort + "|" + country + "|" + code + "|" + longi + "|" + lati;
}

inline std::string Join(const std::vector<std::string>& records) {
  std::string out;
  for (size_t i = 0; i < records.size(); ++i) out += (i ? ";" : "") + records[i];
  return out;
}
