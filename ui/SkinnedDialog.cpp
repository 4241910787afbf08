#include "ui/SkinnedDialog.h"

#include "framework/lang/CLMultiLang.h"
#include "framework/qt/CLEngine.h"
#include "ui/uDesignFont.h"
#include "vcl/spSkinData.h"
#include "vcl/spSkinForm.h"

TSkinnedDialog::TSkinnedDialog(TCLComponent* AOwner, const char* aName, const char* aCaption,
                               int aClientWidth, int aClientHeight)
    : TForm(AOwner), FEngine(CLDesigning() ? nullptr : GetCLEngine()) {
  SetName(aName);
  SetCaption(aCaption);
  SetBorderStyle(TFormBorderStyle::bsSingle);
  SetPosition(TPosition::poMainFormCenter);
  SetClientSize(aClientWidth, aClientHeight);
  setFont(DesignFont());

  spDynamicSkinForm = new TspDynamicSkinForm(this);
  spDynamicSkinForm->SetName("spDynamicSkinForm");
  spDynamicSkinForm->SetBorderIcons(biSystemMenu);
  spDynamicSkinForm->SetSizeable(false);
  if (FEngine) spDynamicSkinForm->SetSkinData(FEngine->SkinData());
}

void TSkinnedDialog::AddTranslation() {
  CLMultiLang = new TCLMultiLang(this);
  CLMultiLang->SetName("CLMultiLang");
  if (FEngine && FEngine->LanguageData()) CLMultiLang->SetLanguageData(FEngine->LanguageData());
}
