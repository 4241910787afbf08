// A main window for the UI tests that need the application's engine as the
// real main window carries it: the host of AppDialogsSupport.h with its skin
// (built-in default skin), a skinned frame and the window's own translator.
// Boxes are shown for real (no recorder). The application's own dialogs are
// opened over it.
#pragma once

#include "AppDialogsSupport.h"
#include "QtTestApp.h"
#include "vcl/Controls.h"
#include "vcl/spSkinForm.h"

class TfrmEngineHost : public appdlg::TfrmHost {
 public:
  TfrmEngineHost() : appdlg::TfrmHost(true) {
    SetName("frmEngineHost");
    SetCaption("Host");
    SetBorderStyle(TFormBorderStyle::bsSingle);
    SetClientSize(320, 200);
    CLEngine->SetMessageBoxes(nullptr);
    spDynamicSkinForm = new TspDynamicSkinForm(this);
    spDynamicSkinForm->SetName("spDynamicSkinForm");
    spDynamicSkinForm->SetBorderIcons(biSystemMenu | biMinimize);
    spDynamicSkinForm->SetSkinData(spSkinData);
    CLEngine->SetSkinForm(spDynamicSkinForm);
    CLMultiLang = new TCLMultiLang(this);
    CLMultiLang->SetName("CLMultiLang");
    CLMultiLang->SetLanguageData(CLMultiLangData);
  }
  std::string ClassName() const override { return "TfrmEngineHost"; }

  TspDynamicSkinForm* spDynamicSkinForm = nullptr;
  TCLMultiLang* CLMultiLang = nullptr;
};
