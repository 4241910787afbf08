#include "net/CLDebugLog.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>

#include "platform/SystemLog.h"

namespace CLDebugLog {
namespace {
struct State {
  std::mutex lock;
  bool active = false;
  bool autoStart = false;
  int nextId = 1;
  std::map<int, Sink> sinks;
};
State& S() {
  static State s;
  return s;
}
}  // namespace

void SetActive(bool active) {
  std::lock_guard<std::mutex> g(S().lock);
  S().active = active;
}
bool Active() {
  std::lock_guard<std::mutex> g(S().lock);
  return S().active;
}
void SetAutoStart(bool autoStart) {
  std::lock_guard<std::mutex> g(S().lock);
  S().autoStart = autoStart;
}
bool AutoStart() {
  std::lock_guard<std::mutex> g(S().lock);
  return S().autoStart;
}

void Write(const std::string& tag, const std::string& line) {
  std::map<int, Sink> sinks;
  {
    std::lock_guard<std::mutex> g(S().lock);
    if (!S().active) return;
    sinks = S().sinks;
  }
  std::string text = tag.empty() ? line : "[" + tag + "] " + line;
  // Every line also goes where the system's own tools read a program's
  // trace (a debug viewer on Windows, the journal on Linux).
  platform::SystemLog(text);
  if (!sinks.empty()) {
    for (auto& [id, sink] : sinks) sink(tag, line);
    return;
  }
  text += "\n";
  if (const char* path = std::getenv("VEILGATE_DEBUG_LOG"); path && *path) {
    if (FILE* f = std::fopen(path, "ab")) {
      std::fwrite(text.data(), 1, text.size(), f);
      std::fclose(f);
      return;
    }
  }
  std::fwrite(text.data(), 1, text.size(), stderr);
}

int AddSink(Sink sink) {
  std::lock_guard<std::mutex> g(S().lock);
  int id = S().nextId++;
  S().sinks[id] = std::move(sink);
  return id;
}
void RemoveSink(int id) {
  std::lock_guard<std::mutex> g(S().lock);
  S().sinks.erase(id);
}

}  // namespace CLDebugLog
