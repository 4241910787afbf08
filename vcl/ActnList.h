// Actions, menus and the timer of the component layer.
//
// An action carries a caption, hint, check mark and enabled/visible state
// and an execute handler; buttons and menu items linked to it show its state
// and run it when clicked. Menu items are components of their window (so the
// translator sees them) arranged in a tree under a popup menu's root item.
#pragma once

#include <QObject>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/lang/CLMultiLangClasses.h"

class QAction;
class QMenu;
class QTimer;
class TAction;
class TBasicAction;

// Something that shows an action's state (a button, a menu item).
class IActionClient {
 public:
  virtual ~IActionClient() = default;
  virtual void ActionChanged(TAction* action) = 0;
  // The action is going away; the client forgets it.
  virtual void ActionDestroyed(TAction* action) = 0;

 protected:
  // Links the client to a (or to none): it leaves its old action's clients
  // (held in slot), joins the new one's and takes its state at once.
  void LinkAction(TBasicAction*& slot, TBasicAction* a);
};

class TActionManager;

class TBasicAction : public TCLComponent {
 public:
  explicit TBasicAction(TCLComponent* AOwner) : TCLComponent(AOwner) {}
  std::string ClassName() const override { return "TBasicAction"; }
  // Runs the execute handler; false when there is none.
  virtual bool Execute();
  std::function<void(TBasicAction*)> OnExecute;
};

class TAction : public TBasicAction {
 public:
  explicit TAction(TCLComponent* AOwner);
  ~TAction() override;
  std::string ClassName() const override { return "TAction"; }
  const TCLPropTable& PropTable() const override;

  std::string Caption() const { return FCaption; }
  void SetCaption(const std::string& v);
  std::string Hint() const { return FHint; }
  void SetHint(const std::string& v);
  std::string Category() const { return FCategory; }
  void SetCategory(const std::string& v) { FCategory = v; }
  bool Checked() const { return FChecked; }
  void SetChecked(bool v);
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool v);
  bool Visible() const { return FVisible; }
  void SetVisible(bool v);
  TActionManager* ActionList() const { return FActionList; }
  void SetActionList(TActionManager* list);

  void AddClient(IActionClient* c);
  void RemoveClient(IActionClient* c);

 private:
  void Changed();
  std::string FCaption, FHint, FCategory;
  bool FChecked = false, FEnabled = true, FVisible = true;
  TActionManager* FActionList = nullptr;
  std::vector<IActionClient*> FClients;
};

class TActionManager : public TCLComponent {
 public:
  explicit TActionManager(TCLComponent* AOwner) : TCLComponent(AOwner) {}
  ~TActionManager() override;
  std::string ClassName() const override { return "TActionManager"; }
  const std::vector<TAction*>& Actions() const { return FActions; }

 private:
  friend class TAction;
  std::vector<TAction*> FActions;
};

// --- menus --------------------------------------------------------------------------

class TMenuItem : public TCLComponent, public IActionClient {
 public:
  explicit TMenuItem(TCLComponent* AOwner);
  ~TMenuItem() override;
  std::string ClassName() const override { return "TMenuItem"; }
  const TCLPropTable& PropTable() const override;

  // "-" makes the item a separator line.
  std::string Caption() const { return FCaption; }
  void SetCaption(const std::string& v);
  std::string Hint() const { return FHint; }
  void SetHint(const std::string& v);
  bool Checked() const { return FChecked; }
  void SetChecked(bool v);
  bool RadioItem() const { return FRadioItem; }
  void SetRadioItem(bool v);
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool v);
  bool Visible() const { return FVisible; }
  void SetVisible(bool v);
  TBasicAction* Action() const { return FAction; }
  void SetAction(TBasicAction* a);

  // The tree: children in order.
  void Add(TMenuItem* item);
  void Remove(TMenuItem* item);
  int Count() const { return static_cast<int>(FItems.size()); }
  TMenuItem* Items(int i) const { return FItems.at(static_cast<size_t>(i)); }
  TMenuItem* Parent() const { return FParent; }

  // Runs the action or the click handler, as a click does.
  void Click();
  std::function<void(TMenuItem*)> OnClick;

  QAction* QtAction() const { return FQAction.get(); }
  // The submenu of this item (created with the first child).
  QMenu* QtMenu() const { return FMenu.get(); }
  QMenu* EnsureMenu();

  void ActionChanged(TAction* action) override;
  void ActionDestroyed(TAction* action) override;

 private:
  void UpdateQtAction();
  std::string FCaption, FHint;
  bool FChecked = false, FRadioItem = false, FEnabled = true, FVisible = true;
  TBasicAction* FAction = nullptr;
  std::unique_ptr<QAction> FQAction;
  std::unique_ptr<QMenu> FMenu;
  std::vector<TMenuItem*> FItems;
  TMenuItem* FParent = nullptr;
};

class TPopupMenu : public TCLComponent {
 public:
  explicit TPopupMenu(TCLComponent* AOwner);
  ~TPopupMenu() override;
  std::string ClassName() const override { return "TPopupMenu"; }
  // The root item; its children are the menu's lines.
  TMenuItem* Items() const { return FItems.get(); }
  QMenu* QtMenu() const;
  void Popup(int x, int y);

 private:
  std::unique_ptr<TMenuItem> FItems;
};

// --- timer -----------------------------------------------------------------------------

// A message-driven timer of the user-interface thread. It ticks while it is
// enabled, has a non-zero interval and a handler; ticks also arrive while a
// modal window or message box runs its own loop.
class TTimer : public TCLComponent {
 public:
  explicit TTimer(TCLComponent* AOwner);
  ~TTimer() override;
  std::string ClassName() const override { return "TTimer"; }
  const TCLPropTable& PropTable() const override;

  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool v);
  int Interval() const { return FInterval; }
  void SetInterval(int ms);
  void SetOnTimer(std::function<void(TTimer*)> handler);
  bool Running() const;

 private:
  void UpdateTimer();
  bool FEnabled = true;
  int FInterval = 1000;
  std::function<void(TTimer*)> FOnTimer;
  std::unique_ptr<QTimer> FTimer;
};
