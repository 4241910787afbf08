// The IP information popup: a borderless window that the main window places
// in its top panel. It hosts the movie player, sends it one short text
// command per operation and turns the two commands the movie sends back
// into actions of the application.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "vcl/Forms.h"
#include "vcl/ShockwaveFlash.h"

class TCLForm;
class TCLMultiLang;

class TfrmFlashForm : public TForm {
  Q_OBJECT
 public:
  explicit TfrmFlashForm(TCLComponent* AOwner = nullptr);
  // FormDestroy: the player goes with the window.
  ~TfrmFlashForm() override;
  std::string ClassName() const override { return "TfrmFlashForm"; }

  // The picture files the popup shows from its creation (background and
  // logo, as the settings name them), for decoding ahead.
  static std::vector<std::string> StartPictureFiles();

  // Each sends exactly one command to the movie and returns.
  void SetBackground(const std::string& aBGFileName);
  void SetLogo(const std::string& aLogoFileName);
  void SetIPInfo(const std::string& aPosition, const std::string& aDisplay,
                 const std::string& aFlagURL, const std::string& aIP,
                 const std::string& aCountryName, const std::string& aCity,
                 const std::string& aAlpha, const std::string& aScale);
  void SetIPInfoA(const std::string& aPosition, const std::string& aAlpha,
                  const std::string& aScale);
  void SetTextInfo(const std::string& aInfoText, int32_t aColor);
  void SetTextInfo2(const std::string& aInfoText, int32_t aColor);
  void Fade(const std::string& Obj, bool FadeIn, int FadeMax);
  void TurnTarget();
  void TurnLocal();

  // The movie's FSCommand event and the filter installed as the player's
  // window procedure.
  void FlashFSCommand(TShockwaveFlash* Sender, const std::string& command, const std::string& args);
  void FlashWndProc(TMessage& Message);
  // Card titles and the idle card's text from the language file.
  void ApplyLanguageTexts();

  TShockwaveFlash* FlashPlayer = nullptr;
  TCLMultiLang* CLMultiLang = nullptr;
  TCLForm* CLForm = nullptr;

 protected:
  void FormCreate() override;

 private:
  void Send(const std::string& aCommand);
  TWndMethod FFlashMes;
};

// The one popup of the application while it exists.
extern TfrmFlashForm* frmFlashForm;
