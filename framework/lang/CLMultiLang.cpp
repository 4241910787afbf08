#include "framework/lang/CLMultiLang.h"

#include <algorithm>

#include "net/CLUtils.h"

namespace {

// clang-format off
const char* const kDefaultExcludeProps[] = {
    "TWebBrowser:",          ":TComponentName",      ".SkinDataName",
    "TspResourceStrData:",   "TShockwaveFlash:",     "TspSkinNotebook:",
    "TEmbeddedWB:",          "TspCompressedStoredSkin:", "TspSkinMessage:",
    "TCLEngine:",            "TspSkinData:",         ".Text",
    "TIEDownload:",          ":TComponentName",      ".SkinDataName",
    ".EditSkinDataName",     ".LabelSkinDataName",   ".ButtonSkinDataName",
    ".BothSkinDataName",     ".MessageLabelSkinDataName", ".Category",
    ".CompressedFileName",   ".TrackBarSkinDataName", ".TabWidths",
    ".HeaderSkinDataName",   ".LVHeaderSkinDataName",
};

// clang-format on
// Lines joined with CR LF, without a break after the last one.
std::string JoinLines(const TStringList& sl) {
  std::string out;
  for (int i = 0; i < sl.Count(); ++i) {
    if (i) out += "\r\n";
    out += sl[i];
  }
  return out;
}

// The properties the translator looks at (text, string list, collection and
// other object), ordered by name.
std::vector<const TCLPropInfo*> SortedTextAndObjectProps(const TCLObject& o) {
  std::vector<const TCLPropInfo*> props;
  for (const TCLPropInfo& p : o.PublishedProps())
    if (p.IsText() || p.Kind == TCLTypeKind::Class) props.push_back(&p);
  std::stable_sort(props.begin(), props.end(), [](const TCLPropInfo* a, const TCLPropInfo* b) {
    return CompareText(a->Name, b->Name) < 0;
  });
  return props;
}

std::vector<const TCLPropInfo*> SortedTextProps(const TCLObject& o) {
  std::vector<const TCLPropInfo*> props;
  for (const TCLPropInfo* p : SortedTextAndObjectProps(o))
    if (p->IsText()) props.push_back(p);
  return props;
}

std::string ItemEntry(const std::string& prop, int i, const std::string& itemProp) {
  return prop + "[" + std::to_string(i) + "]." + itemProp;
}

// Calls fn(item, itemProp, entry) for each text property of each item of
// the collection that property p of o holds; entry is its name in a
// language file ("Items[2].Caption").
template <class Fn>
void ForEachItemText(TCLObject& o, const TCLPropInfo* p, Fn fn) {
  auto* collection = dynamic_cast<TCLCollection*>(p->GetObject(o));
  if (!collection) return;
  for (int i = 0; i < collection->Count(); ++i) {
    TCLCollectionItem* item = collection->Items(i);
    for (const TCLPropInfo* ip : SortedTextProps(*item))
      fn(*item, *ip, ItemEntry(p->Name, i, ip->Name));
  }
}

}  // namespace

// --- TCLMultiLangData ----------------------------------------------------------------

TCLMultiLangData::TCLMultiLangData(TCLComponent* AOwner)
    : TCLComponent(AOwner), FExcludeProps(DefaultExcludeProps()) {}

TCLMultiLangData::~TCLMultiLangData() {
  for (TCLMultiLang* client : FClients) client->FLanguageData = nullptr;
  FClients.clear();
}

TStringList TCLMultiLangData::DefaultExcludeProps() {
  TStringList sl;
  for (const char* e : kDefaultExcludeProps) sl.Add(e);
  return sl;
}

const TCLPropTable& TCLMultiLangData::PropTable() const {
  using D = TCLMultiLangData;
  static const TCLPropTable table =
      TCLPropBuilder<D>(&TCLComponent::ComponentProps())
          .Plain("ExcludeEmptyProp", "Boolean", TCLTypeKind::Enumeration)
          .Strings("ExcludeProps", &D::ExcludeProps, &D::SetExcludeProps)
          .Plain("ExcludeNumberEndProps", "Boolean", TCLTypeKind::Enumeration)
          .Plain("AutoApply", "Boolean", TCLTypeKind::Enumeration)
          .Plain("ExcludeWithAction", "Boolean", TCLTypeKind::Enumeration)
          .Text("CurrentLanguage", "string", &D::CurrentLanguageConst, nullptr)
          .Text("CurrentLanguageTranslator", "string", &D::CurrentLanguageTranslatorConst, nullptr)
          .Text("CurrentVersion", "string", &D::CurrentVersionConst, nullptr)
          .Strings("CurrentData", &D::CurrentData, &D::SetCurrentData)
          .Strings("DefaultData", &D::DefaultData, &D::SetDefaultData)
          .Build();
  return table;
}

bool TCLMultiLangData::GetProp(const std::string& strForm, const std::string& strComp,
                               const std::string& strProp, std::string& strValue) {
#ifdef _WIN32
  bool found = FLangCurrentData.GetProp(strForm, strComp, strProp, strValue);
  if (!found) found = FLangDefaultData.GetProp(strForm, strComp, strProp, strValue);
#else
  // A text that names a Windows thing carries a variant for this desktop
  // under the same name followed by ".Linux"; the language's own texts come
  // before the default language's.
  const std::string local = strProp + ".Linux";
  bool found = FLangCurrentData.GetProp(strForm, strComp, local, strValue) ||
               FLangCurrentData.GetProp(strForm, strComp, strProp, strValue) ||
               FLangDefaultData.GetProp(strForm, strComp, local, strValue) ||
               FLangDefaultData.GetProp(strForm, strComp, strProp, strValue);
#endif
  if (found && !(SameText(strForm, "AppRes") && SameText(strProp, "AppName")))
    strValue = StringReplaceAll(strValue, "{AppName}", FAppName, true);
  return found;
}

void TCLMultiLangData::SetProp(const std::string& strForm, const std::string& strComp,
                               const std::string& strProp, const std::string& strValue) {
  FLangCurrentData.SetProp(strForm, strComp, strProp, strValue);
}

void TCLMultiLangData::GetSectionStrings(const std::string& strSection, TStringList& sl) {
  TStringList current, fallback;
  FLangCurrentData.GetSectionStrings(strSection, current);
  FLangDefaultData.GetSectionStrings(strSection, fallback);
  sl.BeginUpdate();
  for (const TStringList* source : {&current, &fallback})
    for (int i = 0; i < source->Count(); ++i) {
      const std::string name = source->Names(i);
      if (sl.IndexOfName(name) < 0) sl.SetValue(name, source->ValueFromIndex(i));
    }
  sl.EndUpdate();
}

void TCLMultiLangData::ClearForm(const std::string& strForm) {
  FLangCurrentData.ClearForm(strForm);
}

void TCLMultiLangData::UpdateData() { FLangCurrentData.UpdateData(); }

void TCLMultiLangData::LoadCurrentFromFile(const std::string& fn) {
  FAppName.clear();
  FLangCurrentData.LoadFromFile(fn);
  GetAppName();
  ApplyClients();
}

void TCLMultiLangData::LoadDefaultFromFile(const std::string& fn) {
  FAppName.clear();
  FLangDefaultData.LoadFromFile(fn);
  GetAppName();
}

void TCLMultiLangData::SaveCurrentToFile(const std::string& fn) { FLangCurrentData.SaveToFile(fn); }

void TCLMultiLangData::ClearCurrentAll() { FLangCurrentData.ClearAll(); }

void TCLMultiLangData::ClearCurrentAllForm() { FLangCurrentData.ClearAllForm(); }

void TCLMultiLangData::CurrentToDefault() { FLangCurrentData.AssignTo(&FLangDefaultData); }

void TCLMultiLangData::DefaultToCurrent() { FLangDefaultData.AssignTo(&FLangCurrentData); }

void TCLMultiLangData::AddClient(TCLMultiLang* pClient) {
  if (!pClient) return;
  if (std::find(FClients.begin(), FClients.end(), pClient) == FClients.end())
    FClients.push_back(pClient);
}

void TCLMultiLangData::RemoveClient(TCLMultiLang* pClient) {
  auto it = std::find(FClients.begin(), FClients.end(), pClient);
  if (it != FClients.end()) FClients.erase(it);
}

// A handler run while applying may attach or detach translators; the walk
// goes over a copy and skips those that left in the meantime.
void TCLMultiLangData::ApplyClients() {
  const std::vector<TCLMultiLang*> clients = FClients;
  for (TCLMultiLang* c : clients)
    if (std::find(FClients.begin(), FClients.end(), c) != FClients.end()) c->ApplyData();
}

void TCLMultiLangData::UpdateClients() {
  const std::vector<TCLMultiLang*> clients = FClients;
  for (TCLMultiLang* c : clients)
    if (std::find(FClients.begin(), FClients.end(), c) != FClients.end()) c->UpdateData();
}

void TCLMultiLangData::ClearClients() {
  const std::vector<TCLMultiLang*> clients = FClients;
  for (TCLMultiLang* c : clients)
    if (std::find(FClients.begin(), FClients.end(), c) != FClients.end()) c->ClearData();
}

std::string TCLMultiLangData::GetAppName() {
  std::string value;
  GetProp("AppRes", "", "AppName", value);
  FAppName = value;
  return FAppName;
}

std::string TCLMultiLangData::InfoText(const std::string& name) {
  std::string value;
  GetProp("Info", "", name, value);
  return value;
}

std::string TCLMultiLangData::CurrentLanguage() { return InfoText("Language"); }
std::string TCLMultiLangData::CurrentLanguageTranslator() { return InfoText("Translator"); }
std::string TCLMultiLangData::CurrentVersion() { return InfoText("Version"); }

// Lookups fill the cached parse of the language, which is why they are not
// const; the published read-only properties read through these.
std::string TCLMultiLangData::CurrentLanguageConst() const {
  return const_cast<TCLMultiLangData*>(this)->CurrentLanguage();
}
std::string TCLMultiLangData::CurrentLanguageTranslatorConst() const {
  return const_cast<TCLMultiLangData*>(this)->CurrentLanguageTranslator();
}
std::string TCLMultiLangData::CurrentVersionConst() const {
  return const_cast<TCLMultiLangData*>(this)->CurrentVersion();
}

TStringList TCLMultiLangData::CurrentData() const { return FLangCurrentData.Data(); }
void TCLMultiLangData::SetCurrentData(const TStringList& v) { FLangCurrentData.SetData(v); }
TStringList TCLMultiLangData::DefaultData() const { return FLangDefaultData.Data(); }
void TCLMultiLangData::SetDefaultData(const TStringList& v) { FLangDefaultData.SetData(v); }

// --- TCLMultiLang ---------------------------------------------------------------------

TCLMultiLang::TCLMultiLang(TCLComponent* AOwner) : TCLComponent(AOwner) {}

TCLMultiLang::~TCLMultiLang() {
  if (FLanguageData) FLanguageData->RemoveClient(this);
}

const TCLPropTable& TCLMultiLang::PropTable() const {
  using M = TCLMultiLang;
  static const TCLPropTable table =
      TCLPropBuilder<M>(&TCLComponent::ComponentProps())
          .Event("OnChangeLanguage")
          .Object<TCLMultiLangData>("LanguageData", "TCLMultiLangData", &M::LanguageData,
                                    &M::SetLanguageData)
          .Build();
  return table;
}

void TCLMultiLang::Loaded() {
  if (!FLanguageData) return;
  FLanguageData->AddClient(this);
  if (FLanguageData->AutoApply()) ApplyData();
}

void TCLMultiLang::SetLanguageData(TCLMultiLangData* Value) {
  if (FLanguageData == Value) return;
  if (FLanguageData) FLanguageData->RemoveClient(this);
  FLanguageData = Value;
  if (FLanguageData) FLanguageData->AddClient(this);
}

void TCLMultiLang::Notification(TCLComponent* AComponent) {
  // Data on the same window going away first.
  if (AComponent == FLanguageData) FLanguageData = nullptr;
}

std::string TCLMultiLang::SectionName() const { return Owner() ? Owner()->ClassName() : ""; }

std::vector<TCLComponent*> TCLMultiLang::Targets() const {
  std::vector<TCLComponent*> out;
  TCLComponent* owner = Owner();
  if (!owner) return out;
  out.push_back(owner);
  for (int i = 0; i < owner->ComponentCount(); ++i) {
    TCLComponent* c = owner->Components(i);
    if (c->Name().empty()) continue;
    if (dynamic_cast<TCLMultiLang*>(c) || dynamic_cast<TCLMultiLangData*>(c)) continue;
    out.push_back(c);
  }
  return out;
}

void TCLMultiLang::ApplyData() {
  if (!FLanguageData) return;
  for (TCLComponent* c : Targets()) ApplyProp(c, "");
  if (OnChangeLanguage) OnChangeLanguage(this);
}

void TCLMultiLang::ApplyProp(TCLObject* TCom, const std::string& strParentComp) {
  if (!FLanguageData || !TCom) return;
  const std::string section = SectionName();
  const auto* comp = dynamic_cast<TCLComponent*>(TCom);
  const std::string compName = comp ? comp->Name() : std::string();
  std::string value;
  for (const TCLPropInfo* p : SortedTextAndObjectProps(*TCom)) {
    if (p->IsStrings()) {
      if (!p->SetStrings) continue;
      if (FLanguageData->GetProp(section, compName, p->Name, value)) {
        TStringList lines;
        lines.SetText(value);
        p->SetStrings(*TCom, lines);
      }
    } else if (p->IsText()) {
      if (SameText(p->TypeName, "TComponentName") || !p->SetText) continue;
      if (FLanguageData->GetProp(section, compName, p->Name, value)) p->SetText(*TCom, value);
    } else if (p->GetObject) {
      ForEachItemText(*TCom, p,
                      [&](TCLCollectionItem& item, const TCLPropInfo& ip,
                          const std::string& entry) {
                        if (ip.SetText && FLanguageData->GetProp(section, compName, entry, value))
                          ip.SetText(item, value);
                      });
    }
  }
}

bool TCLMultiLang::IsExcludedProp(const std::string& strComp, const std::string& strClass,
                                  const std::string& strProp, const std::string& strType) const {
  if (!FLanguageData) return false;
  if (FLanguageData->ExcludeNumberEndProps() && !strComp.empty() && strComp.back() >= '0' &&
      strComp.back() <= '9')
    return true;
  const TStringList& patterns = FLanguageData->ExcludePropsList();
  const std::string candidates[] = {
      strClass + ":", strClass + ":." + strProp, ":" + strType,
      strComp + ".",  strComp + ".." + strProp,  "." + strProp,
  };
  for (const std::string& c : candidates)
    if (patterns.IndexOf(c) >= 0) return true;
  return false;
}

void TCLMultiLang::UpdateData() {
  if (!FLanguageData) return;
  for (TCLComponent* c : Targets()) UpdateProp(c);
}

void TCLMultiLang::UpdateProp(TCLComponent* TCom) {
  TCLMultiLangData* data = FLanguageData;
  const std::string section = SectionName();
  const std::string compName = TCom->Name();
  const std::string className = TCom->ClassName();

  if (data->ExcludeWithAction()) {
    const TCLPropInfo* action = TCom->FindProp("Action");
    if (action && SameText(action->TypeName, "TBasicAction") && action->GetObject) {
      try {
        if (action->GetObject(*TCom)) return;
      } catch (const std::exception&) {
      }
    }
  }

  const bool skipEmpty = data->ExcludeEmptyProp();
  for (const TCLPropInfo* p : SortedTextAndObjectProps(*TCom)) {
    try {
      if (!p->Reader || !p->Writer) continue;
      if (IsExcludedProp(compName, className, p->Name, p->TypeName)) continue;
      if (p->IsStrings()) {
        if (!p->GetStrings) continue;
        const TStringList lines = p->GetStrings(*TCom);
        if (skipEmpty && lines.Count() == 0) continue;
        data->SetProp(section, compName, p->Name, JoinLines(lines));
      } else if (p->IsText()) {
        if (SameText(p->TypeName, "TComponentName") || !p->GetText) continue;
        const std::string value = p->GetText(*TCom);
        if (skipEmpty && value.empty()) continue;
        if (skipEmpty && p->Kind == TCLTypeKind::LString && value == "-") continue;
        data->SetProp(section, compName, p->Name, value);
      } else if (p->GetObject) {
        ForEachItemText(*TCom, p,
                        [&](TCLCollectionItem& item, const TCLPropInfo& ip,
                            const std::string& entry) {
                          if (!ip.GetText) return;
                          const std::string value = ip.GetText(item);
                          if (!(skipEmpty && value.empty()))
                            data->SetProp(section, compName, entry, value);
                        });
      }
    } catch (const std::exception&) {
      // One property that cannot be read is left out; the others go on.
    }
  }
  data->UpdateData();
}

void TCLMultiLang::ClearData() {
  if (FLanguageData) FLanguageData->ClearForm(SectionName());
}

bool TCLMultiLang::GetProp(const std::string& strForm, const std::string& strComp,
                           const std::string& strProp, std::string& strValue) {
  return FLanguageData ? FLanguageData->GetProp(strForm, strComp, strProp, strValue) : false;
}

std::string TCLMultiLang::Language() {
  return FLanguageData ? FLanguageData->CurrentLanguage() : std::string();
}

std::string TCLMultiLang::GetResString(const std::string& strName) {
  std::string value = strName;
  if (FLanguageData) FLanguageData->GetProp("ResString", "", strName, value);
  return value;
}

void TCLMultiLang::GetSectionStrings(const std::string& strSection, TStringList& sl) {
  if (FLanguageData) FLanguageData->GetSectionStrings(strSection, sl);
}
