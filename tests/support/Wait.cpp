#include "support/Wait.h"

#include <chrono>

#include "platform/Files.h"
#include "platform/System.h"

namespace testsupport {

bool WaitUntil(const std::function<bool()>& cond, int timeoutMs, int pollMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!cond()) {
    if (std::chrono::steady_clock::now() >= end) return cond();
    platform::SleepMs(pollMs);
  }
  return true;
}

std::string ReadText(const std::string& path) {
  std::string text;
  platform::ReadWholeFile(path, text);
  return text;
}

bool WaitForText(const std::string& path, const std::string& text, int timeoutMs) {
  return WaitUntil([&] { return ReadText(path).find(text) != std::string::npos; }, timeoutMs, 20);
}

}  // namespace testsupport
