// The splash window: a borderless window in the shape of a picture, shown
// while the main window is being created. The picture is the partner's
// "oem.splash.png" next to the executable, else "res\images\splash.png";
// the window is centred by the picture's size. It closes itself when there
// is no picture and when it loses activation; the start-up routine closes it
// as soon as the main window is shown, and the engine's SplashClose after a
// hidden start.
#pragma once

#include <string>

#include "vcl/Forms.h"

class TspPngForm;

class TfrmCLSplashForm : public TForm {
  Q_OBJECT
 public:
  explicit TfrmCLSplashForm(TCLComponent* AOwner = nullptr);
  std::string ClassName() const override { return "TfrmCLSplashForm"; }

  TspPngForm* PngForm() const { return spPngForm; }
  // The file shown, empty when none was found or it did not load.
  const std::string& PictureFile() const { return FPictureFile; }

  // Creates the splash for the start-up routine (install with
  // CLSplashFactory() = TfrmCLSplashForm::CreateSplash).
  static QWidget* CreateSplash();
  // The picture file a splash shows: the first of the candidates that
  // exists, empty when none does.
  static std::string PictureFileToShow();
  // The texts drawn into the shipped picture: the product name and its
  // line in the language the settings choose.
  struct SplashTexts {
    std::string Title, Line;
  };
  static SplashTexts TextsToShow();

 protected:
  void FormCreate() override;

 private:
  void FormDeactivate();
  void PostClose();

  TspPngForm* spPngForm = nullptr;
  std::string FPictureFile;
};
