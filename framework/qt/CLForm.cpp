#include "framework/qt/CLForm.h"

#include "framework/lang/CLMultiLang.h"
#include "framework/qt/CLEngine.h"
#include "net/CLUtils.h"
#include "vcl/Forms.h"
#include "vcl/spSkinData.h"

TCLForm::TCLForm(TCLComponent* AOwner) : TCLComponent(AOwner) {}

const TCLPropTable& TCLForm::PropTable() const {
  static const TCLPropTable table =
      TCLPropBuilder<TCLForm>(&TCLComponent::ComponentProps())
          .Plain("RuntimeSetSkinData", "Boolean", TCLTypeKind::Enumeration)
          .Plain("RuntimeSetLanguageData", "Boolean", TCLTypeKind::Enumeration)
          .Plain("RunTimeSetFormProperties", "Boolean", TCLTypeKind::Enumeration)
          .Build();
  return table;
}

void TCLForm::Loaded() {
  if (CLDesigning()) return;
  if (FRuntimeSetSkinData) ApplySkinData();
  if (FRuntimeSetLanguageData) ApplyLanguageData();
  if (FRunTimeSetFormProperties) ApplyFormProperties();
}

void TCLForm::ApplySkinData() {
  TCLEngine* engine = GetCLEngine();
  TCLComponent* owner = Owner();
  if (!engine || !engine->SkinData() || !owner) return;
  for (int i = 0; i < owner->ComponentCount(); ++i) {
    TCLComponent* c = owner->Components(i);
    for (const TCLPropInfo& p : c->PublishedProps()) {
      if (p.Kind != TCLTypeKind::Class || !SameText(p.TypeName, "TspSkinData")) continue;
      if (!p.GetObject || !p.SetObject || p.GetObject(*c)) continue;
      p.SetObject(*c, engine->SkinData());
    }
  }
}

void TCLForm::ApplyLanguageData() {
  TCLEngine* engine = GetCLEngine();
  TCLComponent* owner = Owner();
  if (!engine || !engine->LanguageData() || !owner) return;
  for (int i = 0; i < owner->ComponentCount(); ++i) {
    TCLComponent* c = owner->Components(i);
    if (c->ClassName() != "TCLMultiLang") continue;
    auto* translator = dynamic_cast<TCLMultiLang*>(c);
    if (translator && !translator->LanguageData())
      translator->SetLanguageData(engine->LanguageData());
  }
}

void TCLForm::ApplyFormProperties() {
  auto* form = dynamic_cast<TForm*>(Owner());
  if (!form) return;
  form->SetScaled(false);
  form->SetAutoScroll(false);
  form->SetFormAutoSize(false);
  form->SetPosition(TPosition::poMainFormCenter);
}
