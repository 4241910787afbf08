#include "framework/qt/windows/CLFrameworkWindows.h"

#include "framework/qt/windows/CLAboutForm.h"
#include "framework/qt/windows/CLUpdateForm.h"

TCLFrameworkWindows CLDefaultFrameworkWindows() {
  TCLFrameworkWindows windows;
  windows.CreateUpdateWindow = [](TForm* AOwner) -> ICLUpdateWindow* {
    return TfrmCLUpdateForm::Create(AOwner);
  };
  windows.CreateAboutWindow = [](TForm* AOwner) -> ICLAboutWindow* {
    return TfrmCLAboutForm::Create(AOwner);
  };
  return windows;
}

TCLFrameworkWindows& CLFrameworkWindows() {
  static TCLFrameworkWindows windows = CLDefaultFrameworkWindows();
  return windows;
}
