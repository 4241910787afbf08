#include "framework/lang/CLMultiLangClasses.h"

#include <algorithm>

#include "net/CLUtils.h"

bool TCLPropInfo::IsStrings() const { return SameText(TypeName, "TStrings"); }

const TCLPropInfo* TCLPropTable::Find(const std::string& name) const {
  for (const TCLPropInfo& p : FProps)
    if (SameText(p.Name, name)) return &p;
  return nullptr;
}

void TCLPropTable::Declare(TCLPropInfo info) {
  for (TCLPropInfo& p : FProps)
    if (SameText(p.Name, info.Name)) {
      p = std::move(info);
      return;
    }
  FProps.push_back(std::move(info));
}

// --- TCLObject ---------------------------------------------------------------------

const TCLPropTable& TCLObject::PropTable() const {
  static const TCLPropTable empty;
  return empty;
}

namespace {
const TCLPropInfo& Need(const TCLObject& o, const std::string& name) {
  const TCLPropInfo* p = o.FindProp(name);
  if (!p) throw EPropertyError("Property " + name + " does not exist in " + o.ClassName());
  return *p;
}
[[noreturn]] void NoAccess(const TCLObject& o, const std::string& name, const char* what) {
  throw EPropertyError(std::string("Property ") + name + " of " + o.ClassName() + " " + what);
}
}  // namespace

std::string TCLObject::GetTextProp(const std::string& name) const {
  const TCLPropInfo& p = Need(*this, name);
  if (!p.GetText) NoAccess(*this, name, "cannot be read as text");
  return p.GetText(*this);
}

void TCLObject::SetTextProp(const std::string& name, const std::string& value) {
  const TCLPropInfo& p = Need(*this, name);
  if (!p.SetText) NoAccess(*this, name, "cannot be written as text");
  p.SetText(*this, value);
}

TStringList TCLObject::GetStringsProp(const std::string& name) const {
  const TCLPropInfo& p = Need(*this, name);
  if (!p.GetStrings) NoAccess(*this, name, "is not a readable string list");
  return p.GetStrings(*this);
}

void TCLObject::SetStringsProp(const std::string& name, const TStringList& value) {
  const TCLPropInfo& p = Need(*this, name);
  if (!p.SetStrings) NoAccess(*this, name, "is not a writable string list");
  p.SetStrings(*this, value);
}

TCLObject* TCLObject::GetObjectProp(const std::string& name) const {
  const TCLPropInfo& p = Need(*this, name);
  if (!p.GetObject) NoAccess(*this, name, "is not a readable object");
  return p.GetObject(*this);
}

void TCLObject::SetObjectProp(const std::string& name, TCLObject* value) {
  const TCLPropInfo& p = Need(*this, name);
  if (!p.SetObject) NoAccess(*this, name, "is not a writable object");
  p.SetObject(*this, value);
}

// --- TCLCollection -------------------------------------------------------------------

TCLCollectionItem* TCLCollection::Add(std::unique_ptr<TCLCollectionItem> item) {
  FItems.push_back(std::move(item));
  return FItems.back().get();
}

// --- TCLComponent --------------------------------------------------------------------

TCLComponent::TCLComponent(TCLComponent* AOwner) : FOwner(AOwner) {
  if (FOwner) {
    FOwner->FComponents.push_back(this);
    // Created while the owner is being built: loading until it finishes.
    FLoading = FOwner->FLoading;
  }
}

TCLComponent::~TCLComponent() {
  FDestroying = true;
  DestroyComponents();
  if (FOwner) FOwner->RemoveComponent(this);
}

const TCLPropTable& TCLComponent::ComponentProps() {
  static const TCLPropTable table =
      TCLPropBuilder<TCLComponent>(nullptr)
          .Text("Name", "TComponentName", &TCLComponent::NameText, &TCLComponent::SetName)
          .Plain("Tag", "Integer")
          .Build();
  return table;
}

void TCLComponent::SetName(const std::string& name) {
  FName = name;
  NameChanged();
}

TCLComponent* TCLComponent::FindComponent(const std::string& name) const {
  if (name.empty()) return nullptr;
  for (TCLComponent* c : FComponents)
    if (SameText(c->FName, name)) return c;
  return nullptr;
}

void TCLComponent::EndLoading() {
  // Components created by a Loaded handler join the list while it runs;
  // they were not loaded from the design and are left alone.
  const std::vector<TCLComponent*> loaded = FComponents;
  for (TCLComponent* c : loaded) {
    if (std::find(FComponents.begin(), FComponents.end(), c) == FComponents.end()) continue;
    if (!c->FLoading) continue;
    c->FLoading = false;
    c->Loaded();
  }
  FLoading = false;
  Loaded();
}

void TCLComponent::DestroyComponents() {
  // Freeing one component may free others with it (a toolkit parent takes
  // its children along); each removes itself from the list, so the list is
  // read afresh every round.
  while (!FComponents.empty()) {
    TCLComponent* c = FComponents.back();
    FComponents.pop_back();
    c->FOwner = nullptr;
    for (TCLComponent* other : FComponents) other->Notification(c);
    delete c;
  }
}

void TCLComponent::RemoveComponent(TCLComponent* c) {
  auto it = std::find(FComponents.begin(), FComponents.end(), c);
  if (it == FComponents.end()) return;
  FComponents.erase(it);
  c->FOwner = nullptr;
  if (!FDestroying)
    for (TCLComponent* other : FComponents) other->Notification(c);
  Notification(c);
}
