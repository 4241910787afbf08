// The debug log's lines of one tag, collected while the capture lives; the
// log is switched on meanwhile and left as it was afterwards.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/NoCopy.h"
#include "net/CLDebugLog.h"

namespace testsupport {

class LogCapture : private TNoCopy {
 public:
  explicit LogCapture(std::string tag) : FTag(std::move(tag)) {
    FWasActive = CLDebugLog::Active();
    CLDebugLog::SetActive(true);
    FId = CLDebugLog::AddSink([this](const std::string& tag, const std::string& line) {
      if (tag != FTag) return;
      std::lock_guard<std::mutex> g(FLock);
      FLines.push_back(line);
    });
  }
  ~LogCapture() {
    CLDebugLog::RemoveSink(FId);
    CLDebugLog::SetActive(FWasActive);
  }

  std::vector<std::string> Lines() {
    std::lock_guard<std::mutex> g(FLock);
    return FLines;
  }
  // The lines since the last call.
  std::vector<std::string> Take() {
    std::lock_guard<std::mutex> g(FLock);
    std::vector<std::string> out(FLines.begin() + static_cast<long>(FTaken), FLines.end());
    FTaken = FLines.size();
    return out;
  }
  bool Has(const std::string& part) {
    for (const std::string& l : Lines())
      if (l.find(part) != std::string::npos) return true;
    return false;
  }
  void Clear() {
    std::lock_guard<std::mutex> g(FLock);
    FLines.clear();
    FTaken = 0;
  }

 private:
  std::string FTag;
  bool FWasActive = false;
  int FId = 0;
  std::mutex FLock;
  std::vector<std::string> FLines;
  size_t FTaken = 0;
};

}  // namespace testsupport
