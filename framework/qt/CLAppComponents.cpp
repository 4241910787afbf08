#include "framework/qt/CLAppComponents.h"

#include "framework/lang/CLMultiLang.h"
#include "framework/qt/CLEngine.h"
#include "vcl/Forms.h"
#include "vcl/spSkinData.h"

TCLAppComponents CreateAppComponents(TForm* aOwner, bool aSkinned) {
  TCLAppComponents c;
  if (aSkinned) {
    c.spCompressedStoredSkin = new TspCompressedStoredSkin(aOwner);
    c.spCompressedStoredSkin->SetName("spCompressedStoredSkin");
    c.spCompressedStoredSkin->LoadDefaultSkin();
    c.spResourceStrData = new TspResourceStrData(aOwner);
    c.spResourceStrData->SetName("spResourceStrData");
    c.spSkinData = new TspSkinData(aOwner);
    c.spSkinData->SetName("spSkinData");
    c.spSkinData->SetResourceStrData(c.spResourceStrData);
    c.spSkinData->SetCompressedStoredSkin(c.spCompressedStoredSkin);
    c.spSkinData->SetSkinnableForm(true);
  }
  c.CLMultiLangData = new TCLMultiLangData(aOwner);
  c.CLMultiLangData->SetName("CLMultiLangData");
  c.CLEngine = new TCLEngine(aOwner);
  c.CLEngine->SetName("CLEngine");
  if (c.spSkinData) c.CLEngine->SetSkinData(c.spSkinData);
  c.CLEngine->SetLanguageData(c.CLMultiLangData);
  return c;
}
