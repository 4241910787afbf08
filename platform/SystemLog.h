// The system's own log, where each system's tools read a program's trace:
// on Windows the debugger output (OutputDebugStringW, shown by any debug
// viewer), on Linux the syslog socket, which the journal reads
// (journalctl -t veilgate). Lines go there besides the debug log's file.
#pragma once

#include <string>

namespace platform {

// Writes one line under the identifier "veilgate". Never blocks for long
// and never fails the caller: a system without a log loses the line.
void SystemLog(const std::string& line);

// posix: the socket lines go to ("/dev/log" unless set; empty restores it),
// so a test can read them. Windows ignores it.
void SetSystemLogSocket(const std::string& path);

}  // namespace platform
