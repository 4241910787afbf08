#include "support/Wait.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>

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

bool ReturnsWithin(const std::function<void()>& call, int timeoutMs,
                   const std::function<void()>& unblock, const std::string& what) {
  auto done = std::async(std::launch::async, call);
  const auto bound = std::chrono::milliseconds(timeoutMs);
  if (done.wait_for(bound) == std::future_status::ready) {
    done.get();
    return true;
  }
  if (unblock) unblock();
  if (done.wait_for(bound) != std::future_status::ready) {
    std::fprintf(stderr, "%s never returned, even when offered a way out\n", what.c_str());
    std::fflush(stderr);
    std::_Exit(1);
  }
  done.get();
  return false;
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
