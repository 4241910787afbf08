#include "ui/uFlashForm.h"

#include "framework/CLServiceSettings.h"
#include "framework/CLSettings.h"
#include "framework/lang/CLMultiLang.h"
#include "framework/qt/CLEngine.h"
#include "framework/qt/CLForm.h"
#include "net/CLUtils.h"
#include "platform/Files.h"
#include "switch/uVGUtils.h"

TfrmFlashForm* frmFlashForm = nullptr;

TfrmFlashForm::TfrmFlashForm(TCLComponent* AOwner) : TForm(AOwner) {
  frmFlashForm = this;
  SetName("frmFlashForm");
  SetCaption("frmFlashForm");
  SetBorderStyle(TFormBorderStyle::bsNone);
  SetClientSize(534, 180);
  // The window's texts come from the application-wide translation data,
  // handed over by the form component when loading ends.
  CLMultiLang = new TCLMultiLang(this);
  CLMultiLang->SetName("CLMultiLang");
  CLForm = new TCLForm(this);
  CLForm->SetName("CLForm");
  CLForm->SetRuntimeSetLanguageData(true);
  CLMultiLang->OnChangeLanguage = [this](TCLMultiLang*) { ApplyLanguageTexts(); };
}

// The movie's card titles and the text of a card not in use, in the
// window's language; a text the language lacks leaves the movie's own.
void TfrmFlashForm::ApplyLanguageTexts() {
  if (!FlashPlayer || !CLMultiLang) return;
  auto text = [this](const char* name) {
    std::string value;
    CLMultiLang->GetProp("AppRes", "", name, value);
    return value;
  };
  FlashPlayer->SetVariable("Local_title", text("FLSMsg.LocalTitle"));
  FlashPlayer->SetVariable("Target_title", text("FLSMsg.TargetTitle"));
  FlashPlayer->SetVariable("idle_text", text("FLSMsg.NotHiding"));
}

TfrmFlashForm::~TfrmFlashForm() {
  if (frmFlashForm == this) frmFlashForm = nullptr;
  // FormDestroy
  delete FlashPlayer;
  FlashPlayer = nullptr;
}

void TfrmFlashForm::FormCreate() {
  // Built for its texts only (the language-file writer): no player.
  if (CLDesigning()) return TForm::FormCreate();
  // The player, owned by the window, in the window.
  FlashPlayer = new TShockwaveFlash(this);
  FlashPlayer->SetName("FlashPlayer");
  // Its window procedure is kept and replaced by the filter.
  FFlashMes = FlashPlayer->WindowProc;
  FlashPlayer->OnFSCommand = [this](TShockwaveFlash* s, const std::string& c,
                                    const std::string& a) { FlashFSCommand(s, c, a); };
  FlashPlayer->WindowProc = [this](TMessage& m) { FlashWndProc(m); };
  // The movie next to the executable; a missing file is reported and
  // the window goes on.
  FlashPlayer->SetMovie(GetAppPath() + SlashToBackslash("res\\veilip.dat"));
  if (!platform::FileExists(FlashPlayer->Movie()))
    ShowPlainMessage(FlashPlayer->Movie() + " File Error!");
  // The movie plays once, without its context menu, at high quality.
  FlashPlayer->SetMenu(false);
  FlashPlayer->SetLoop(false);
  FlashPlayer->SetQuality(1);
  // Its own size, at the window's top left corner, within sane bounds
  // whatever the settings say.
  TCLSettings* settings = GetCLSettings();
  FlashPlayer->SetBounds(0, 0, ClampPopupSize(settings->GetSettingInteger("FLS.Width")),
                         ClampPopupSize(settings->GetSettingInteger("FLS.Height")));
  FlashPlayer->show();
  // The start-up commands.
  const std::vector<std::string> pictures = StartPictureFiles();
  SetBackground(pictures[0]);
  SetLogo(pictures[1]);
  SetIPInfo("Local", "", "", "", "", "", "0", "100");
  SetIPInfo("Target", "", "", "", "", "", "0", "100");
  SetTextInfo("Verifing from " + settings->GetSettingString("APP.Name") + " server ...", 4474009);
  SetTextInfo2("", 0);
  ApplyLanguageTexts();
  TForm::FormCreate();
}

std::vector<std::string> TfrmFlashForm::StartPictureFiles() {
  TCLSettings* settings = GetCLSettings();
  return {JoinPath(GetAppPath(), settings->GetSettingString("FLS.Background")),
          JoinPath(GetAppPath(), settings->GetSettingString("FLS.Logo"))};
}

void TfrmFlashForm::Send(const std::string& aCommand) {
  if (FlashPlayer) FlashPlayer->SetVariable("callbackvar", aCommand);
}

void TfrmFlashForm::SetBackground(const std::string& aBGFileName) {
  Send("Background," + aBGFileName);
}

void TfrmFlashForm::SetLogo(const std::string& aLogoFileName) { Send("Logo," + aLogoFileName); }

void TfrmFlashForm::SetIPInfo(const std::string& aPosition, const std::string& aDisplay,
                              const std::string& aFlagURL, const std::string& aIP,
                              const std::string& aCountryName, const std::string& aCity,
                              const std::string& aAlpha, const std::string& aScale) {
  // Only the country name is cleaned of the field separator.
  Send(aPosition + "," + aDisplay + "," + aFlagURL + "," + aIP + "," +
       StringReplaceAll(aCountryName, ",", " ") + "," + aCity + "," + aAlpha + "," + aScale);
}

void TfrmFlashForm::SetIPInfoA(const std::string& aPosition, const std::string& aAlpha,
                               const std::string& aScale) {
  Send(aPosition + "A," + aAlpha + "," + aScale);
}

void TfrmFlashForm::SetTextInfo(const std::string& aInfoText, int32_t aColor) {
  Send("Info_Text," + aInfoText + "," + std::to_string(aColor));
}

void TfrmFlashForm::SetTextInfo2(const std::string& aInfoText, int32_t aColor) {
  Send("Info_Text2," + aInfoText + "," + std::to_string(aColor));
}

void TfrmFlashForm::Fade(const std::string& Obj, bool FadeIn, int FadeMax) {
  Send("Fade," + Obj + "," + (FadeIn ? "in" : "out") + "," + std::to_string(FadeMax));
}

void TfrmFlashForm::TurnTarget() { Send("Turn,Target"); }

void TfrmFlashForm::TurnLocal() { Send("Turn,Local"); }

void TfrmFlashForm::FlashFSCommand(TShockwaveFlash*, const std::string& command,
                                   const std::string& args) {
  if (!SameText(command, "CMD")) return;
  TCLEngine* engine = GetCLEngine();
  if (!engine) return;
  if (SameText(args, "CHECKIPINFO"))
    engine->ShowPageByURL(GetCLSettings()->GetSettingString("URL.CheckIP"));
  else if (SameText(args, "HOMEPAGE"))
    engine->ShowPage("home");
}

// A right-button-down never reaches the player: it receives a
// right-button-up with the same parameters instead, so its context menu
// does not open.
void TfrmFlashForm::FlashWndProc(TMessage& Message) {
  if (Message.Msg == WM_RBUTTONDOWN_MSG) {
    TMessage up{WM_RBUTTONUP_MSG, Message.WParam, Message.LParam, 0};
    if (FFlashMes) FFlashMes(up);
    Message.Result = up.Result;
    return;
  }
  if (FFlashMes) FFlashMes(Message);
}
