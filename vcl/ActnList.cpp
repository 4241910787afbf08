#include "vcl/ActnList.h"

#include <QAction>
#include <QMenu>
#include <QTimer>

#include <algorithm>

#include "vcl/Forms.h"

// --- actions ---------------------------------------------------------------------------

bool TBasicAction::Execute() {
  if (!OnExecute) return false;
  OnExecute(this);
  return true;
}

TAction::TAction(TCLComponent* AOwner) : TBasicAction(AOwner) {}

TAction::~TAction() {
  SetActionList(nullptr);
  const std::vector<IActionClient*> clients = FClients;
  FClients.clear();
  for (IActionClient* c : clients) c->ActionDestroyed(this);
}

const TCLPropTable& TAction::PropTable() const {
  using A = TAction;
  static const TCLPropTable table = TCLPropBuilder<A>(&TCLComponent::ComponentProps())
                                        .Text("Caption", "string", &A::Caption, &A::SetCaption)
                                        .Text("Category", "string", &A::Category, &A::SetCategory)
                                        .Plain("Checked", "Boolean", TCLTypeKind::Enumeration)
                                        .Plain("Enabled", "Boolean", TCLTypeKind::Enumeration)
                                        .Text("Hint", "string", &A::Hint, &A::SetHint)
                                        .Plain("ImageIndex", "TImageIndex")
                                        .Plain("ShortCut", "TShortCut")
                                        .Plain("Visible", "Boolean", TCLTypeKind::Enumeration)
                                        .Event("OnExecute")
                                        .Event("OnUpdate")
                                        .Build();
  return table;
}

void TAction::SetCaption(const std::string& v) {
  FCaption = v;
  Changed();
}
void TAction::SetHint(const std::string& v) {
  FHint = v;
  Changed();
}
void TAction::SetChecked(bool v) {
  FChecked = v;
  Changed();
}
void TAction::SetEnabled(bool v) {
  FEnabled = v;
  Changed();
}
void TAction::SetVisible(bool v) {
  FVisible = v;
  Changed();
}

void TAction::SetActionList(TActionManager* list) {
  if (FActionList == list) return;
  if (FActionList) std::erase(FActionList->FActions, this);
  FActionList = list;
  if (FActionList) FActionList->FActions.push_back(this);
}

void TAction::AddClient(IActionClient* c) {
  if (std::find(FClients.begin(), FClients.end(), c) == FClients.end()) FClients.push_back(c);
}
void TAction::RemoveClient(IActionClient* c) { std::erase(FClients, c); }

void TAction::Changed() {
  const std::vector<IActionClient*> clients = FClients;
  for (IActionClient* c : clients) c->ActionChanged(this);
}

TActionManager::~TActionManager() {
  const std::vector<TAction*> actions = FActions;
  for (TAction* a : actions) a->SetActionList(nullptr);
}

// --- menu items ------------------------------------------------------------------------

TMenuItem::TMenuItem(TCLComponent* AOwner)
    : TCLComponent(AOwner), FQAction(std::make_unique<QAction>()) {
  QObject::connect(FQAction.get(), &QAction::triggered, [this](bool) {
    // A check mark the user toggles stays as the item says until the
    // handler changes it.
    FQAction->setChecked(FChecked);
    Click();
  });
}

TMenuItem::~TMenuItem() {
  if (auto* a = dynamic_cast<TAction*>(FAction)) a->RemoveClient(this);
  for (TMenuItem* child : FItems) child->FParent = nullptr;
  if (FParent) FParent->Remove(this);
  if (FMenu) {
    FQAction->setMenu(static_cast<QMenu*>(nullptr));
    FMenu.reset();
  }
}

const TCLPropTable& TMenuItem::PropTable() const {
  using M = TMenuItem;
  static const TCLPropTable table =
      TCLPropBuilder<M>(&TCLComponent::ComponentProps())
          .Object<TBasicAction>("Action", "TBasicAction", &M::Action, &M::SetAction)
          .Text("Caption", "string", &M::Caption, &M::SetCaption)
          .Plain("Checked", "Boolean", TCLTypeKind::Enumeration)
          .Plain("Enabled", "Boolean", TCLTypeKind::Enumeration)
          .Text("Hint", "string", &M::Hint, &M::SetHint)
          .Plain("RadioItem", "Boolean", TCLTypeKind::Enumeration)
          .Plain("Visible", "Boolean", TCLTypeKind::Enumeration)
          .Event("OnClick")
          .Build();
  return table;
}

void TMenuItem::UpdateQtAction() {
  // Item captions keep "&" as the accelerator mark, as Qt menus do.
  FQAction->setSeparator(FCaption == "-");
  // A separator line shows no text of its own.
  FQAction->setText(FCaption == "-" ? QString() : QStr(FCaption));
  FQAction->setToolTip(QStr(FHint));
  FQAction->setStatusTip(QStr(FHint));
  FQAction->setCheckable(FChecked || FRadioItem);
  FQAction->setChecked(FChecked);
  FQAction->setEnabled(FEnabled);
  FQAction->setVisible(FVisible);
}

void TMenuItem::SetCaption(const std::string& v) {
  FCaption = v;
  UpdateQtAction();
}
void TMenuItem::SetHint(const std::string& v) {
  FHint = v;
  UpdateQtAction();
}
void TMenuItem::SetChecked(bool v) {
  FChecked = v;
  UpdateQtAction();
}
void TMenuItem::SetRadioItem(bool v) {
  FRadioItem = v;
  UpdateQtAction();
}
void TMenuItem::SetEnabled(bool v) {
  FEnabled = v;
  UpdateQtAction();
}
void TMenuItem::SetVisible(bool v) {
  FVisible = v;
  UpdateQtAction();
}

void IActionClient::LinkAction(TBasicAction*& slot, TBasicAction* a) {
  if (slot == a) return;
  if (auto* old = dynamic_cast<TAction*>(slot)) old->RemoveClient(this);
  slot = a;
  if (auto* act = dynamic_cast<TAction*>(a)) {
    act->AddClient(this);
    ActionChanged(act);
  }
}

void TMenuItem::SetAction(TBasicAction* a) { LinkAction(FAction, a); }

void TMenuItem::ActionChanged(TAction* action) {
  FCaption = action->Caption();
  FHint = action->Hint();
  FChecked = action->Checked();
  FEnabled = action->Enabled();
  FVisible = action->Visible();
  UpdateQtAction();
}

void TMenuItem::ActionDestroyed(TAction* action) {
  if (FAction == action) FAction = nullptr;
}

void TMenuItem::Add(TMenuItem* item) {
  if (!item || item == this) return;
  if (item->FParent) item->FParent->Remove(item);
  EnsureMenu();
  FItems.push_back(item);
  item->FParent = this;
  FMenu->addAction(item->FQAction.get());
}

QMenu* TMenuItem::EnsureMenu() {
  if (!FMenu) {
    FMenu = std::make_unique<QMenu>();
    FQAction->setMenu(FMenu.get());
  }
  return FMenu.get();
}

void TMenuItem::Remove(TMenuItem* item) {
  auto it = std::find(FItems.begin(), FItems.end(), item);
  if (it == FItems.end()) return;
  FItems.erase(it);
  item->FParent = nullptr;
  if (FMenu) FMenu->removeAction(item->FQAction.get());
}

void TMenuItem::Click() {
  if (FAction && FAction->Execute()) return;
  if (OnClick) OnClick(this);
}

// --- popup menu --------------------------------------------------------------------------

TPopupMenu::TPopupMenu(TCLComponent* AOwner)
    : TCLComponent(AOwner), FItems(std::make_unique<TMenuItem>(nullptr)) {
  // The root's menu exists from the start so that it can be attached
  // (tray icon, system menu) before the first item is added.
  FItems->EnsureMenu();
}

TPopupMenu::~TPopupMenu() = default;

QMenu* TPopupMenu::QtMenu() const { return FItems->QtMenu(); }

void TPopupMenu::Popup(int x, int y) {
  if (QtMenu()) QtMenu()->popup(QPoint(x, y));
}

// --- timer ---------------------------------------------------------------------------------

TTimer::TTimer(TCLComponent* AOwner) : TCLComponent(AOwner), FTimer(std::make_unique<QTimer>()) {
  QObject::connect(FTimer.get(), &QTimer::timeout, [this] {
    if (FOnTimer) FOnTimer(this);
  });
}

TTimer::~TTimer() { FTimer->stop(); }

const TCLPropTable& TTimer::PropTable() const {
  static const TCLPropTable table = TCLPropBuilder<TTimer>(&TCLComponent::ComponentProps())
                                        .Plain("Enabled", "Boolean", TCLTypeKind::Enumeration)
                                        .Plain("Interval", "Cardinal")
                                        .Event("OnTimer")
                                        .Build();
  return table;
}

void TTimer::SetEnabled(bool v) {
  FEnabled = v;
  UpdateTimer();
}

void TTimer::SetInterval(int ms) {
  FInterval = ms < 0 ? 0 : ms;
  UpdateTimer();
}

void TTimer::SetOnTimer(std::function<void(TTimer*)> handler) {
  FOnTimer = std::move(handler);
  UpdateTimer();
}

bool TTimer::Running() const { return FTimer->isActive(); }

// Every change restarts the count from now, as a new timer would.
void TTimer::UpdateTimer() {
  FTimer->stop();
  if (FEnabled && FInterval > 0 && FOnTimer) FTimer->start(FInterval);
}
