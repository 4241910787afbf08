#include "net/CLDebugLog.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>

#include "platform/AsciiText.h"
#include "platform/Files.h"
#include "platform/SystemLog.h"

namespace CLDebugLog {
namespace {
struct State {
  std::mutex lock;  // guards the sinks
  std::atomic<bool> active{false};
  std::atomic<bool> autoStart{false};
  int nextId = 1;
  std::map<int, Sink> sinks;
};
State& S() {
  static State s;
  return s;
}
}  // namespace

void SetActive(bool active) { S().active = active; }
bool Active() { return S().active; }
void SetAutoStart(bool autoStart) { S().autoStart = autoStart; }
bool AutoStart() { return S().autoStart; }

namespace {

bool IsNamePart(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// Replaces the value after each "name=" that starts a name ("App.PID=" and
// "&PID=" do, "APPID=" does not).
std::string HideValues(const std::string& line, const std::string& name) {
  std::string out;
  size_t i = 0;
  while (i < line.size()) {
    const bool starts = i == 0 || !IsNamePart(line[i - 1]);
    if (starts && line.size() - i > name.size() &&
        SameText(std::string_view(line).substr(i, name.size()), name)) {
      out.append(line, i, name.size());
      i += name.size();
      size_t end = i;
      while (end < line.size() && line[end] != '&' && line[end] != '#' && line[end] != '"' &&
             static_cast<unsigned char>(line[end]) >= 0x20)
        ++end;
      if (end > i) out += '-';
      i = end;
      continue;
    }
    out += line[i++];
  }
  return out;
}

}  // namespace

std::string SafeLine(const std::string& line) {
  const std::string hidden = HideValues(HideValues(line, "MagicWord="), "PID=");
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(hidden.size());
  for (unsigned char c : hidden) {
    if (c >= 0x20 && c != 0x7F) {
      out += static_cast<char>(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

void Write(const std::string& tag, const std::string& rawLine) {
  std::map<int, Sink> sinks;
  {
    std::lock_guard<std::mutex> g(S().lock);
    if (!S().active) return;
    sinks = S().sinks;
  }
  const std::string line = SafeLine(rawLine);
  std::string text = tag.empty() ? line : "[" + tag + "] " + line;
  // Every line also goes where the system's own tools read a program's
  // trace (a debug viewer on Windows, the journal on Linux).
  platform::SystemLog(text);
  if (!sinks.empty()) {
    for (auto& [id, sink] : sinks) sink(tag, line);
    return;
  }
  text += "\n";
  // The user's own file, made private and never written through a link.
  if (const char* path = std::getenv("VEILGATE_DEBUG_LOG"); path && *path) {
    if (platform::AppendToFile(path, text)) return;
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
