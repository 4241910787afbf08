#include "framework/windows/CLFrameworkWindows.h"

TCLFrameworkWindows& CLFrameworkWindows() {
  static TCLFrameworkWindows windows;
  return windows;
}
