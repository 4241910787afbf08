// Waiting for a condition in a test: poll it, with a generous bound, never
// sleep a fixed time and hope. On a busy machine a bound is a safety net, not
// a measurement, so the callers pick bounds well above what a run needs.
#pragma once

#include <functional>
#include <string>

namespace testsupport {

// Polls cond every pollMs until it holds or timeoutMs passes; true when it
// held (it is asked once more at the deadline).
bool WaitUntil(const std::function<bool()>& cond, int timeoutMs = 10000, int pollMs = 10);

// A whole file ("" when missing): what most waits look at.
std::string ReadText(const std::string& path);

// Waits until the file holds text.
bool WaitForText(const std::string& path, const std::string& text, int timeoutMs = 10000);

}  // namespace testsupport
