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

// Runs call on a thread of its own and waits up to timeoutMs for it to
// return: true when it did. A call that does not is offered unblock (which
// should make it return, e.g. by opening the other end of a pipe) and then
// waited for as long again; one that still runs cannot be left behind, so
// the test program ends with a message naming what.
bool ReturnsWithin(const std::function<void()>& call, int timeoutMs,
                   const std::function<void()>& unblock = nullptr,
                   const std::string& what = "a call");

// A whole file ("" when missing): what most waits look at.
std::string ReadText(const std::string& path);

// Waits until the file holds text.
bool WaitForText(const std::string& path, const std::string& text, int timeoutMs = 10000);

}  // namespace testsupport
