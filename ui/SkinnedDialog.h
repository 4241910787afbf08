// The scaffold the application's dialogs share: a fixed-size window with the
// main window's font (for which their controls are placed), centred on the
// main window, framed in the engine's skin with a system menu, and the
// translation component that applies the language file to it. A dialog
// builds its controls in its own constructor and then calls AddTranslation.
#pragma once

#include "vcl/Forms.h"

class TCLEngine;
class TCLMultiLang;
class TspDynamicSkinForm;

class TSkinnedDialog : public TForm {
 public:
  TSkinnedDialog(TCLComponent* AOwner, const char* aName, const char* aCaption, int aClientWidth,
                 int aClientHeight);

  TspDynamicSkinForm* spDynamicSkinForm = nullptr;
  TCLMultiLang* CLMultiLang = nullptr;

 protected:
  // The application's engine; none in a window built for its texts only.
  TCLEngine* Engine() const { return FEngine; }
  // The translation component over the application's translation data
  // (which lives on the main window); created after the controls.
  void AddTranslation();

 private:
  TCLEngine* FEngine = nullptr;
};
