// Settings store benchmark.
//  1. Lookup speed: 1,000 settings in each file layer and 100 in each engine
//     list; the median time of a lookup that misses all five layers (the
//     worst case every absent setting pays), and of hits for comparison.
//     Target: a miss well under one microsecond.
//  2. Batching: writes between BeginUpdate and EndUpdate must not touch the
//     file; the number of file writes is counted by watching the file's
//     content after every call.
// Runs in a temporary folder of its own (HOME, XDG folders, registry files,
// fake executable), which it removes at the end.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/Sandbox.h"
#include "framework/CLIniFile.h"
#include "framework/CLSettings.h"
#include "platform/Files.h"
#include "platform/Registry.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// The engine's lists, kept in an in-memory INI document (hash index, no
// allocation on lookup).
class BenchEngine : public ICLSettingsLayers {
 public:
  TCLMemIniFile Lists;
  bool FindOverride(const std::string& name, std::string& value) const override {
    if (const std::string* v = Lists.Find("override", name)) {
      value = *v;
      return true;
    }
    return false;
  }
  bool FindDefault(const std::string& name, std::string& value) const override {
    if (const std::string* v = Lists.Find("default", name)) {
      value = *v;
      return true;
    }
    return false;
  }
};

std::string MakeFile(const std::string& prefix, int count) {
  std::string text = "[setting]\r\n";
  for (int i = 0; i < count; ++i)
    text += prefix + ".Key" + std::to_string(i) + "=value number " + std::to_string(i) + "\r\n";
  return text;
}

volatile size_t gSink = 0;

// Median nanoseconds per call of fn over many samples.
template <class Fn>
double MedianNs(Fn fn) {
  const int samples = 2001, perSample = 1000;
  std::vector<double> ns;
  ns.reserve(samples);
  for (int s = 0; s < samples; ++s) {
    auto t0 = Clock::now();
    for (int i = 0; i < perSample; ++i) fn(i);
    auto t1 = Clock::now();
    ns.push_back(std::chrono::duration<double, std::nano>(t1 - t0).count() / perSample);
  }
  std::nth_element(ns.begin(), ns.begin() + samples / 2, ns.end());
  return ns[samples / 2];
}

std::string Slurp(const std::string& path) {
  std::string bytes;
  platform::ReadWholeFile(path, bytes);
  return bytes;
}

}  // namespace

int main() {
  // A private world: home, XDG folders, the executable's folder "app" and
  // the all-users folder, removed again at the end.
  Sandbox sandbox;
  const std::string root = sandbox.Root();

  platform::WriteWholeFile(root + "/app/const.dat", MakeFile("Const", 1000));
  platform::WriteWholeFile(root + "/app/oem.const.dat", MakeFile("Oem", 1000));
  BenchEngine engine;
  for (int i = 0; i < 100; ++i) {
    engine.Lists.WriteString("override", "Override.Key" + std::to_string(i), "o");
    engine.Lists.WriteString("default", "Default.Key" + std::to_string(i), "d");
  }
  RegisterSettingsEngine(&engine);

  int failures = 0;
  {
    TCLSettings store;
    const std::string userFile = store.SettingFilePath();
    platform::WriteWholeFile(userFile, MakeFile("User", 1000));
    store.SetNoCache(true);  // one re-read to pick up the user file
    store.GetSettingString("User.Key0");
    store.SetNoCache(false);

    // Names of realistic length; a few different ones so that no single
    // probe sequence is favoured.
    std::vector<std::string> missing, userHit, constHit;
    for (int i = 0; i < 16; ++i) {
      missing.push_back("Missing.Setting.Name" + std::to_string(i));
      userHit.push_back("User.Key" + std::to_string(i * 61));
      constHit.push_back("Const.Key" + std::to_string(i * 61));
    }
    if (!store.GetSettingExists(userHit[5]) || !store.GetSettingExists(constHit[5]) ||
        store.GetSettingExists(missing[0])) {
      std::printf("setup error: the layers do not hold the expected names\n");
      failures++;
    }

    auto lookups = [&](auto read) { return MedianNs([&](int i) { gSink = gSink + read(i); }); };
    double miss = lookups([&](int i) { return store.GetSettingString(missing[i & 15]).size(); });
    double missExists =
        lookups([&](int i) { return size_t(store.GetSettingExists(missing[i & 15])); });
    double missInt =
        lookups([&](int i) { return size_t(store.GetSettingInteger(missing[i & 15])); });
    double hitUser = lookups([&](int i) { return store.GetSettingString(userHit[i & 15]).size(); });
    double hitConst =
        lookups([&](int i) { return store.GetSettingString(constHit[i & 15]).size(); });
    std::printf("lookup, 1000 settings per file layer, 100 per engine list (median ns per call)\n");
    std::printf("  GetSettingString  miss (all five layers) : %8.1f ns\n", miss);
    std::printf("  GetSettingExists  miss                   : %8.1f ns\n", missExists);
    std::printf("  GetSettingInteger miss                   : %8.1f ns\n", missInt);
    std::printf("  GetSettingString  hit in user file       : %8.1f ns\n", hitUser);
    std::printf("  GetSettingString  hit in const.dat       : %8.1f ns\n", hitConst);
    if (miss >= 1000) {
      std::printf("  FAIL: a miss takes %.1f ns, the target is under 1000 ns\n", miss);
      failures++;
    }

    // Writes: every unbatched write reaches the file; a batch reaches it once.
    const int n = 50;
    int unbatchedWrites = 0;
    std::string last = Slurp(userFile);
    auto t0 = Clock::now();
    for (int i = 0; i < n; ++i) {
      store.SetSettingstring("Written.Plain" + std::to_string(i), "x");
      std::string now = Slurp(userFile);
      if (now != last) ++unbatchedWrites;
      last.swap(now);
    }
    auto t1 = Clock::now();
    int batchedWrites = 0;
    store.BeginUpdate();
    for (int i = 0; i < n; ++i) {
      store.SetSettingstring("Written.Batch" + std::to_string(i), "y");
      std::string now = Slurp(userFile);
      if (now != last) ++batchedWrites;
      last.swap(now);
    }
    const int beforeEnd = batchedWrites;
    store.EndUpdate();
    auto t2 = Clock::now();
    if (Slurp(userFile) != last) ++batchedWrites;
    const bool allThere = TCLMemIniFile(userFile).ValueExists("setting", "Written.Batch49");

    auto ms = [](Clock::duration d) {
      return std::chrono::duration<double, std::milli>(d).count();
    };
    std::printf("writes of %d settings (user file of about %lld bytes)\n", n,
                static_cast<long long>(platform::FileSize(userFile)));
    std::printf("  unbatched: %d file writes, %.2f ms per setting (write + rename + sync)\n",
                unbatchedWrites, ms(t1 - t0) / n);
    std::printf("  batched  : %d file writes before EndUpdate, %d in all, %.2f ms in all\n",
                beforeEnd, batchedWrites, ms(t2 - t1));
    if (unbatchedWrites != n || beforeEnd != 0 || batchedWrites != 1 || !allThere) {
      std::printf("  FAIL: expected %d unbatched writes and exactly one batched write\n", n);
      failures++;
    }
  }

  UnregisterSettingsEngine(&engine);
  return failures == 0 ? 0 : 1;
}
