// Language file speed: loading a 10,000-entry file and sorting it into
// canonical order (what the engine does on start-up and before every save),
// and looking texts up in it. Target: load + sort under 50 ms.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "framework/lang/CLMultiLangLan.h"
#include "platform/Files.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// 200 window sections of 50 entries each plus the reserved sections, with
// sections and entries in scrambled order.
std::string MakeFile(int windows, int perWindow) {
  std::mt19937 rng(12345);
  std::vector<int> order(static_cast<size_t>(windows));
  for (int i = 0; i < windows; ++i) order[static_cast<size_t>(i)] = i;
  std::shuffle(order.begin(), order.end(), rng);

  std::string text;
  text.reserve(static_cast<size_t>(windows) * static_cast<size_t>(perWindow) * 48);
  text +=
      "[AppRes]\r\nAppName=Veilgate\r\nMSGBox.CHKNET=Please check your network<BR>connection\r\n\r\n";
  for (int w : order) {
    text += "[TfrmWindow" + std::to_string(w) + "]\r\n";
    std::vector<int> entries(static_cast<size_t>(perWindow));
    for (int e = 0; e < perWindow; ++e) entries[static_cast<size_t>(e)] = e;
    std::shuffle(entries.begin(), entries.end(), rng);
    for (int e : entries)
      text += "  Component" + std::to_string(e) + ".Caption = Text of component " +
              std::to_string(e) + " in window " + std::to_string(w) + "\r\n";
    text += "\r\n";
  }
  text += "[Info]\r\nLanguage=English\r\nTranslator=Bench\r\n";
  return text;
}

}  // namespace

int main() {
  const int windows = 200, perWindow = 50, runs = 9;
  const std::string dir = (std::filesystem::temp_directory_path() /
                           ("vg-bench-lang-" + std::to_string(std::random_device{}())))
                              .string();
  std::filesystem::create_directories(dir);
  const std::string fn = dir + "/Bench.lan";
  if (!platform::WriteWholeFile(fn, MakeFile(windows, perWindow))) {
    std::fprintf(stderr, "cannot write %s\n", fn.c_str());
    return 1;
  }

  std::vector<double> loadSort, lookups;
  size_t found = 0;
  for (int r = 0; r < runs; ++r) {
    TCLMultiLangLan lan;
    const auto t0 = Clock::now();
    lan.LoadFromFile(fn);
    lan.SortData();
    const auto t1 = Clock::now();
    loadSort.push_back(Ms(t1 - t0));

    std::string value;
    const auto t2 = Clock::now();
    for (int w = 0; w < windows; ++w) {
      const std::string form = "tfrmwindow" + std::to_string(w);
      for (int e = 0; e < perWindow; ++e)
        found += lan.GetProp(form, "component" + std::to_string(e), "CAPTION", value) ? 1 : 0;
    }
    lookups.push_back(Ms(Clock::now() - t2));
  }
  std::filesystem::remove_all(dir);

  const size_t expected = static_cast<size_t>(runs) * windows * perWindow;
  if (found != expected) {
    std::fprintf(stderr, "lookups found %zu of %zu entries\n", found, expected);
    return 1;
  }
  const double ms = Median(loadSort);
  std::printf(
      "bench_lang: %d entries, LoadFromFile + SortData median of %d runs: %.2f ms "
      "(target < 50 ms)\n",
      windows * perWindow, runs, ms);
  std::printf("bench_lang: %d GetProp lookups: %.2f ms (%.3f us each)\n", windows * perWindow,
              Median(lookups), Median(lookups) * 1000.0 / (windows * perWindow));
  return ms < 50.0 ? 0 : 2;
}
