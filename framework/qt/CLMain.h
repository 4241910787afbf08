// The start-up routine: turns a process start into a running main window or
// an early, silent end; enforces one instance per installation and hands a
// start over to the running instance.
#pragma once

#include <QWidget>

#include <functional>
#include <string>
#include <vector>

// The main window class: its class name (the name other instances look for)
// and how to create it.
struct TFormClass {
  std::string ClassName;
  std::function<QWidget*()> Create;
};

// Runs the application. Reference receives the created main window. Check
// may veto the start. Returns when the message loop has ended (or at once on
// an early end); the caller ends the process afterwards.
void CLMainRun(int argc, char** argv, const TFormClass& InstanceClass, QWidget*& Reference,
               const std::function<bool()>& Check = {});

// The process-wide debug decision made during start-up.
bool& CLDebugMode();
// Set once the application was asked to terminate ("CL CloseApp"); the
// message loop is then not entered at all.
bool& CLTerminateRequested();
// Cleared by a main window that asks not to be shown at start.
bool& CLShowMainForm();
// The splash window of the start-up, empty when none is shown. A splash
// factory is installed by the framework's windows; without one no splash
// appears.
QWidget*& CLSplashForm();
std::function<QWidget*()>& CLSplashFactory();
// Closes and frees the splash window, if one is shown.
void CLCloseSplash();
// Run once the start is known to go on (after the single-instance check),
// before any window is built: starts on worker threads what the first
// windows will need (PreloadPictures, the font database). Tasks on the
// application's thread pool end before the application object goes.
// Empty: nothing is started.
std::function<void()>& CLPreloadHook();

// Whether a parameter is the switch of that letter: "-" or "/" followed by
// exactly that letter, in either case.
bool IsSwitch(const std::string& param, char letter);
bool FindSwitch(const std::vector<std::string>& params, char letter);

// Window operations of the utility set.
bool ForceForegroundWindow(QWidget* Wnd);
void SetStayOnTop(QWidget* Wnd, bool OnTop);
