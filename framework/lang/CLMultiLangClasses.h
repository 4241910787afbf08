// The component model the translator walks, without any user-interface
// toolkit: objects with published properties, collections of such objects,
// and components (name, owner, owned components in creation order).
//
// A published property is a declaration in a per-class table: its name, the
// name of its declared type ("TCaption", "TStrings", "TComponentName", ...),
// its kind and, for the kinds the translator reads and writes, accessors.
// The window toolkit's classes (vcl/) declare their tables with the same
// builder; the translator sees exactly what is declared there.
#pragma once

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/NoCopy.h"
#include "net/StringList.h"

// Kinds of published properties.
enum class TCLTypeKind {
  LString,  // single-byte text
  WString,  // wide text
  Class,    // object-valued: string lists, collections and other objects
  Integer,
  Enumeration,  // Booleans among them
  Float,
  Set,
  Method,  // events
};

class TCLObject;
class TCLCollection;

// One published property. Accessors that the property lacks are empty.
struct TCLPropInfo {
  std::string Name;
  std::string TypeName;
  TCLTypeKind Kind = TCLTypeKind::Integer;
  // Whether the property has a reader and a writer. Only properties that
  // have both are collected into a language file.
  bool Reader = true;
  bool Writer = true;

  // Text properties.
  std::function<std::string(const TCLObject&)> GetText;
  std::function<void(TCLObject&, const std::string&)> SetText;
  // String-list properties (declared type "TStrings").
  std::function<TStringList(const TCLObject&)> GetStrings;
  std::function<void(TCLObject&, const TStringList&)> SetStrings;
  // Object-valued properties; a collection is an object that is a
  // TCLCollection.
  std::function<TCLObject*(const TCLObject&)> GetObject;
  std::function<void(TCLObject&, TCLObject*)> SetObject;

  bool IsText() const { return Kind == TCLTypeKind::LString || Kind == TCLTypeKind::WString; }
  bool IsStrings() const;  // declared type named "TStrings"
};

// The published properties of one class, in declaration order; a class's
// table starts as a copy of its parent's and adds (or redeclares) its own.
class TCLPropTable {
 public:
  TCLPropTable() = default;
  explicit TCLPropTable(const TCLPropTable* parent) {
    if (parent) FProps = parent->FProps;
  }
  const std::vector<TCLPropInfo>& Props() const { return FProps; }
  const TCLPropInfo* Find(const std::string& name) const;  // case-insensitive
  // Adds the property or replaces the one of the same name.
  void Declare(TCLPropInfo info);

 private:
  std::vector<TCLPropInfo> FProps;
};

// Base of every object with published properties.
class TCLObject {
 public:
  virtual ~TCLObject() = default;
  // The class name the model reports ("TButton", "TfrmMain", ...).
  virtual std::string ClassName() const = 0;
  virtual const TCLPropTable& PropTable() const;

  // The published properties, in declaration order.
  const std::vector<TCLPropInfo>& PublishedProps() const { return PropTable().Props(); }
  const TCLPropInfo* FindProp(const std::string& name) const { return PropTable().Find(name); }

  // Typed access by property name. Throw EPropertyError when the property
  // does not exist or lacks the accessor; a setter may throw its own error.
  std::string GetTextProp(const std::string& name) const;
  void SetTextProp(const std::string& name, const std::string& value);
  TStringList GetStringsProp(const std::string& name) const;
  void SetStringsProp(const std::string& name, const TStringList& value);
  TCLObject* GetObjectProp(const std::string& name) const;
  void SetObjectProp(const std::string& name, TCLObject* value);
};

class EPropertyError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// An item of a collection: an object with published properties.
class TCLCollectionItem : public TCLObject {
 public:
  std::string ClassName() const override { return "TCollectionItem"; }
};

// A collection: an ordered list of items, owned by the collection.
class TCLCollection : public TCLObject {
 public:
  std::string ClassName() const override { return "TCollection"; }
  int Count() const { return static_cast<int>(FItems.size()); }
  TCLCollectionItem* Items(int i) const { return FItems.at(static_cast<size_t>(i)).get(); }
  TCLCollectionItem* Add(std::unique_ptr<TCLCollectionItem> item);
  void Clear() { FItems.clear(); }

 private:
  std::vector<std::unique_ptr<TCLCollectionItem>> FItems;
};

// A component: a named object that an owner frees. The owner keeps its
// components in creation order and frees them, last first, when it is freed.
class TCLComponent : public TCLObject, private TNoCopy {
 public:
  explicit TCLComponent(TCLComponent* AOwner);
  ~TCLComponent() override;

  std::string ClassName() const override { return "TComponent"; }
  const TCLPropTable& PropTable() const override { return ComponentProps(); }
  // The properties every component publishes (Name, Tag); the start of
  // every component class's table.
  static const TCLPropTable& ComponentProps();

  const std::string& Name() const { return FName; }
  std::string NameText() const { return FName; }
  void SetName(const std::string& name);
  int Tag() const { return FTag; }
  void SetTag(int tag) { FTag = tag; }

  TCLComponent* Owner() const { return FOwner; }
  int ComponentCount() const { return static_cast<int>(FComponents.size()); }
  TCLComponent* Components(int i) const { return FComponents.at(static_cast<size_t>(i)); }
  // The owned component of that name (case-insensitive), or null.
  TCLComponent* FindComponent(const std::string& name) const;

  // Loading: a component is loading from its creation while its owner is
  // loading. The owner's EndLoading calls Loaded on every owned component in
  // creation order, then on itself.
  bool Loading() const { return FLoading; }
  void BeginLoading() { FLoading = true; }
  void EndLoading();
  virtual void Loaded() {}

  // Frees every owned component, last created first.
  void DestroyComponents();

  // Called when the component is taken out of its owner's list or when a
  // component it refers to goes away; components that keep references to
  // other components clear them here.
  virtual void Notification(TCLComponent* AComponent) {}

 protected:
  // Lets toolkit classes mirror the name (for example into an object name).
  virtual void NameChanged() {}

 private:
  void RemoveComponent(TCLComponent* c);

  std::string FName;
  int FTag = 0;
  TCLComponent* FOwner = nullptr;
  std::vector<TCLComponent*> FComponents;
  bool FLoading = false;
  bool FDestroying = false;
};

// Declares published properties with member functions of class T.
template <class T>
class TCLPropBuilder {
 public:
  explicit TCLPropBuilder(const TCLPropTable* parent) : FTable(parent) {}

  TCLPropBuilder& Text(const std::string& name, const std::string& typeName,
                       std::string (T::*get)() const, void (T::*set)(const std::string&),
                       TCLTypeKind kind = TCLTypeKind::LString) {
    TCLPropInfo p = Info(name, typeName, kind, get != nullptr, set != nullptr);
    if (get) p.GetText = [get](const TCLObject& o) { return (Cast(o).*get)(); };
    if (set) p.SetText = [set](TCLObject& o, const std::string& v) { (Cast(o).*set)(v); };
    FTable.Declare(std::move(p));
    return *this;
  }
  TCLPropBuilder& WideText(const std::string& name, const std::string& typeName,
                           std::string (T::*get)() const, void (T::*set)(const std::string&)) {
    return Text(name, typeName, get, set, TCLTypeKind::WString);
  }
  TCLPropBuilder& Strings(const std::string& name, TStringList (T::*get)() const,
                          void (T::*set)(const TStringList&)) {
    TCLPropInfo p = Info(name, "TStrings", TCLTypeKind::Class, get != nullptr, set != nullptr);
    if (get) p.GetStrings = [get](const TCLObject& o) { return (Cast(o).*get)(); };
    if (set) p.SetStrings = [set](TCLObject& o, const TStringList& v) { (Cast(o).*set)(v); };
    FTable.Declare(std::move(p));
    return *this;
  }
  // An object-valued property whose value is an object of class V.
  template <class V>
  TCLPropBuilder& Object(const std::string& name, const std::string& typeName, V* (T::*get)() const,
                         void (T::*set)(V*)) {
    TCLPropInfo p = Info(name, typeName, TCLTypeKind::Class, get != nullptr, set != nullptr);
    if (get) p.GetObject = [get](const TCLObject& o) -> TCLObject* { return (Cast(o).*get)(); };
    if (set)
      p.SetObject = [set](TCLObject& o, TCLObject* v) {
        V* typed = v ? dynamic_cast<V*>(v) : nullptr;
        if (v && !typed) throw EPropertyError("Invalid property value");
        (Cast(o).*set)(typed);
      };
    FTable.Declare(std::move(p));
    return *this;
  }
  // A collection property: read-only access to the collection object, which
  // is assigned in place (it counts as having a writer, as an assignable
  // collection does).
  template <class V>
  TCLPropBuilder& Collection(const std::string& name, const std::string& typeName,
                             V* (T::*get)() const) {
    TCLPropInfo p = Info(name, typeName, TCLTypeKind::Class, true, true);
    p.GetObject = [get](const TCLObject& o) -> TCLObject* { return (Cast(o).*get)(); };
    FTable.Declare(std::move(p));
    return *this;
  }
  // The same with free functions (lambdas) over T.
  TCLPropBuilder& TextFn(const std::string& name, const std::string& typeName,
                         std::function<std::string(const T&)> get,
                         std::function<void(T&, const std::string&)> set,
                         TCLTypeKind kind = TCLTypeKind::LString) {
    TCLPropInfo p = Info(name, typeName, kind, static_cast<bool>(get), static_cast<bool>(set));
    if (get) p.GetText = [get](const TCLObject& o) { return get(Cast(o)); };
    if (set) p.SetText = [set](TCLObject& o, const std::string& v) { set(Cast(o), v); };
    FTable.Declare(std::move(p));
    return *this;
  }
  TCLPropBuilder& StringsFn(const std::string& name, std::function<TStringList(const T&)> get,
                            std::function<void(T&, const TStringList&)> set) {
    TCLPropInfo p =
        Info(name, "TStrings", TCLTypeKind::Class, static_cast<bool>(get), static_cast<bool>(set));
    if (get) p.GetStrings = [get](const TCLObject& o) { return get(Cast(o)); };
    if (set) p.SetStrings = [set](TCLObject& o, const TStringList& v) { set(Cast(o), v); };
    FTable.Declare(std::move(p));
    return *this;
  }
  // A property the translator never reads: numbers, Booleans, events.
  TCLPropBuilder& Plain(const std::string& name, const std::string& typeName,
                        TCLTypeKind kind = TCLTypeKind::Integer) {
    FTable.Declare(Info(name, typeName, kind, true, true));
    return *this;
  }
  TCLPropBuilder& Event(const std::string& name, const std::string& typeName = "TNotifyEvent") {
    return Plain(name, typeName, TCLTypeKind::Method);
  }
  TCLPropTable Build() { return std::move(FTable); }

 private:
  static T& Cast(TCLObject& o) { return dynamic_cast<T&>(o); }
  static const T& Cast(const TCLObject& o) { return dynamic_cast<const T&>(o); }
  static TCLPropInfo Info(const std::string& name, const std::string& typeName, TCLTypeKind kind,
                          bool reader, bool writer) {
    TCLPropInfo p;
    p.Name = name;
    p.TypeName = typeName;
    p.Kind = kind;
    p.Reader = reader;
    p.Writer = writer;
    return p;
  }
  TCLPropTable FTable;
};
