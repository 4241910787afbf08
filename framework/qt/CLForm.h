// The form component: dropped on a window, it hands the engine's skin data
// and language data to the window's components when the window has loaded,
// and can give the window the framework's standard form settings.
#pragma once

#include <string>

#include "framework/lang/CLMultiLangClasses.h"

class TCLForm : public TCLComponent {
 public:
  explicit TCLForm(TCLComponent* AOwner);
  std::string ClassName() const override { return "TCLForm"; }
  const TCLPropTable& PropTable() const override;

  bool RuntimeSetSkinData() const { return FRuntimeSetSkinData; }
  void SetRuntimeSetSkinData(bool v) { FRuntimeSetSkinData = v; }
  bool RuntimeSetLanguageData() const { return FRuntimeSetLanguageData; }
  void SetRuntimeSetLanguageData(bool v) { FRuntimeSetLanguageData = v; }
  bool RunTimeSetFormProperties() const { return FRunTimeSetFormProperties; }
  void SetRunTimeSetFormProperties(bool v) { FRunTimeSetFormProperties = v; }

  // Skin data, language data, form properties, as switched on.
  void Loaded() override;

  // Every empty skin-data property of the window's components receives the
  // engine's skin data.
  void ApplySkinData();
  // Every translator of the window without data receives the engine's
  // language data (it joins the data's clients; nothing is applied yet).
  void ApplyLanguageData();
  // Unscaled, no auto-scroll, no auto-size, centred on the main window.
  void ApplyFormProperties();

 private:
  bool FRuntimeSetSkinData = false;
  bool FRuntimeSetLanguageData = false;
  bool FRunTimeSetFormProperties = false;
};
