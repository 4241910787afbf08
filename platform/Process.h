// Process service: launching programs, opening addresses, autorun entries.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace platform {

// Starts a program from a Windows-style command line (the program path, in
// double quotes when it has spaces, then its parameters); the working folder
// is used when not empty. hidden starts it without a window where that
// means something. When wait is set, waits up to timeoutMs (-1: no limit).
// False when the program could not be started.
bool StartProcess(const std::string& commandLine, const std::string& workDir, bool hidden,
                  bool wait, int timeoutMs);
// Called by StartProcess with the command line of every program it has
// started, on the starting thread, before it waits. Two programs started a
// moment apart may run in either order; this is the order the program chose.
// Tests record launches through it; an empty function removes the observer.
using ProcessStartObserver = std::function<void(const std::string& commandLine)>;
void SetProcessStartObserver(ProcessStartObserver observer);
// Reports a started program to the observer (used by both backends).
void NotifyProcessStarted(const std::string& commandLine);
// The full path of a program found on the search path (posix: an
// executable file of that name in a folder of PATH); empty when there is
// none. Windows programs are found through the registry instead: empty.
std::string FindProgramOnPath(const std::string& name);
// Splits a command line by the Windows rules (CommandLineToArgvW).
std::vector<std::string> SplitCommandLine(const std::string& commandLine);

// The program's own arguments as UTF-8, the program name first. Windows:
// the wide command line (GetCommandLineW) split by CommandLineToArgvW, as
// argv holds the ANSI code page's rendering; posix: argv as it is.
std::vector<std::string> ProgramArguments(int argc, char** argv);

// Asks the desktop to open a document or address (ShellExecuteW "open";
// xdg-open on posix). False when that could not be started.
bool ShellOpen(const std::string& target);

// Writes (enable) or removes the autorun entry called name that runs command
// when the user logs in. Windows: the Run key; posix: an XDG autostart
// "<name>.desktop" file. Failures are swallowed.
void SetAutoRunEntry(bool enable, const std::string& name, const std::string& command);
// The command of the autorun entry, empty when there is none.
std::string GetAutoRunEntry(const std::string& name);

}  // namespace platform
