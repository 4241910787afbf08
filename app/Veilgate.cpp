// Program body: runs the framework's start-up routine with the main window,
// then ends the process.
#include <clocale>

#include "framework/CLMain.h"
#include "ui/uMain.h"

int main(int argc, char** argv) {
  // The user's locale for text; numbers are converted by our own routines
  // with the locale's separator, so the C library keeps "." for them.
  std::setlocale(LC_ALL, "");
  std::setlocale(LC_NUMERIC, "C");
  QWidget* frmMain = nullptr;
  CLMainRun(argc, argv, TFormClass{"TfrmMain", [] { return new TfrmMain; }}, frmMain);
  return 0;
}
