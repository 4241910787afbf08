// The debug log: tagged lines for a viewer, written only while it is active.
// Start-up switches it on or off and sets whether it starts by itself; the
// settings store, the downloader and the cookie clearing write trace lines.
// Lines go to every attached sink; with none attached they go to the file
// named by VEILGATE_DEBUG_LOG, else to standard error. Every line also goes
// to the system's log (platform/SystemLog.h).
#pragma once

#include <functional>
#include <string>

namespace CLDebugLog {

using Sink = std::function<void(const std::string& tag, const std::string& line)>;

void SetActive(bool active);
bool Active();
void SetAutoStart(bool autoStart);
bool AutoStart();
// Writes one line under a tag; nothing happens while the log is off. The
// line is first made safe (SafeLine).
void Write(const std::string& tag, const std::string& line);
// The line as it is logged: the values of "MagicWord=" and "PID=" (in an
// address or an answer; the product id may carry the magic word) become
// "-", and control characters are written as escapes ("\n", "\x1B"), so
// text from the network can neither reveal the word nor forge lines.
std::string SafeLine(const std::string& line);
inline void Write(const std::string& line) { Write("", line); }
// Attaches a sink; returns an id for RemoveSink.
int AddSink(Sink sink);
void RemoveSink(int id);

}  // namespace CLDebugLog
