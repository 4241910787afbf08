// Translation data and the translator over a component model without any
// window toolkit: lookups, applying, collecting, exclusion and the client
// list.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "framework/lang/CLMultiLang.h"
#include "support/Sandbox.h"

namespace {

// A component whose properties are kept in a map; the class name is chosen
// per instance so that class-name rules can be exercised.
class TValues {
 public:
  std::string Get(const std::string& n) const {
    auto it = FValues.find(n);
    return it == FValues.end() ? std::string() : it->second;
  }
  void Set(const std::string& n, const std::string& v) { FValues[n] = v; }

 private:
  std::map<std::string, std::string> FValues;
};

template <class T>
TCLPropBuilder<T>& TextProp(TCLPropBuilder<T>& b, const std::string& name, const std::string& type,
                            TCLTypeKind kind = TCLTypeKind::LString) {
  return b.TextFn(
      name, type, [name](const T& t) { return t.V.Get(name); },
      [name](T& t, const std::string& v) { t.V.Set(name, v); }, kind);
}

class TTestForm : public TCLComponent {
 public:
  TTestForm(const std::string& cls, const std::string& name) : TCLComponent(nullptr), FClass(cls) {
    SetName(name);
  }
  std::string ClassName() const override { return FClass; }
  const TCLPropTable& PropTable() const override {
    static const TCLPropTable t = [] {
      TCLPropBuilder<TTestForm> b(&TCLComponent::ComponentProps());
      TextProp(b, "Caption", "TCaption");
      return b.Build();
    }();
    return t;
  }
  TValues V;

 private:
  std::string FClass;
};

// Caption, Hint, Text and an action link.
class TTestButton : public TCLComponent {
 public:
  TTestButton(TCLComponent* owner, const std::string& cls, const std::string& name)
      : TCLComponent(owner), FClass(cls) {
    SetName(name);
  }
  std::string ClassName() const override { return FClass; }
  const TCLPropTable& PropTable() const override {
    static const TCLPropTable t = [] {
      TCLPropBuilder<TTestButton> b(&TCLComponent::ComponentProps());
      TextProp(b, "Caption", "TCaption");
      TextProp(b, "Hint", "string");
      b.Plain("Width", "Integer");
      b.Object<TCLComponent>("Action", "TBasicAction", &TTestButton::GetAction,
                             &TTestButton::SetAction);
      return b.Build();
    }();
    return t;
  }
  TCLComponent* GetAction() const { return FAction; }
  void SetAction(TCLComponent* a) { FAction = a; }
  TValues V;

 private:
  std::string FClass;
  TCLComponent* FAction = nullptr;
};

// A string list, a wide text and a Text property.
class TTestMemo : public TCLComponent {
 public:
  TTestMemo(TCLComponent* owner, const std::string& name) : TCLComponent(owner) { SetName(name); }
  std::string ClassName() const override { return "TMemo"; }
  const TCLPropTable& PropTable() const override {
    static const TCLPropTable t = [] {
      TCLPropBuilder<TTestMemo> b(&TCLComponent::ComponentProps());
      b.StringsFn(
          "Lines", [](const TTestMemo& m) { return m.Lines; },
          [](TTestMemo& m, const TStringList& v) { m.Lines = v; });
      TextProp(b, "Text", "TCaption");
      TextProp(b, "Title", "WideString", TCLTypeKind::WString);
      return b.Build();
    }();
    return t;
  }
  TStringList Lines;
  TValues V;
};

class TTestItem : public TCLCollectionItem {
 public:
  const TCLPropTable& PropTable() const override {
    static const TCLPropTable t = [] {
      TCLPropBuilder<TTestItem> b(nullptr);
      TextProp(b, "Text", "string");
      TextProp(b, "Caption", "TCaption");
      b.Plain("Width", "Integer");
      return b.Build();
    }();
    return t;
  }
  TValues V;
};

// A collection property, a property without writer and one that fails.
class TTestGrid : public TCLComponent {
 public:
  TTestGrid(TCLComponent* owner, const std::string& name) : TCLComponent(owner) {
    SetName(name);
    for (int i = 0; i < 2; ++i) Columns.Add(std::make_unique<TTestItem>());
  }
  std::string ClassName() const override { return "TListView"; }
  const TCLPropTable& PropTable() const override {
    static const TCLPropTable t = [] {
      TCLPropBuilder<TTestGrid> b(&TCLComponent::ComponentProps());
      b.Collection<TCLCollection>("Columns", "TListColumns", &TTestGrid::GetColumns);
      b.TextFn(
          "Version", "string", [](const TTestGrid&) { return std::string("1.0"); }, nullptr);
      b.TextFn(
          "Broken", "string",
          [](const TTestGrid&) -> std::string { throw std::runtime_error("cannot read"); },
          [](TTestGrid&, const std::string&) {});
      TextProp(b, "Hint", "string");
      return b.Build();
    }();
    return t;
  }
  TCLCollection* GetColumns() const { return const_cast<TCLCollection*>(&Columns); }
  TTestItem* Item(int i) { return static_cast<TTestItem*>(Columns.Items(i)); }
  TCLCollection Columns;
  TValues V;
};

}  // namespace

TEST(MultiLangDataTest, DefaultExclusionListHas26EntriesInOrder) {
  TCLMultiLangData data(nullptr);
  const TStringList& ex = data.ExcludePropsList();
  ASSERT_EQ(ex.Count(), 26);
  EXPECT_EQ(ex[0], "TWebBrowser:");
  EXPECT_EQ(ex[1], ":TComponentName");
  EXPECT_EQ(ex[10], "TspSkinData:");
  EXPECT_EQ(ex[11], ".Text");
  EXPECT_EQ(ex[13], ":TComponentName");
  EXPECT_EQ(ex[14], ".SkinDataName");
  EXPECT_EQ(ex[20], ".Category");
  EXPECT_EQ(ex[25], ".LVHeaderSkinDataName");
  EXPECT_TRUE(data.AutoApply());
  EXPECT_FALSE(data.ExcludeEmptyProp());
  EXPECT_FALSE(data.ExcludeNumberEndProps());
  EXPECT_FALSE(data.ExcludeWithAction());
}

TEST(MultiLangDataTest, LookupFallsBackToDefaultAndFillsTheProductName) {
  TCLMultiLangData data(nullptr);
  data.LangDefaultData().LoadFromString(
      "[Info]\nLanguage=Base\n[AppRes]\nAppName=Fallback\n[TfrmX]\nbtn.Caption=Default {APPNAME}\n");
  data.LangCurrentData().LoadFromString(
      "[Info]\nLanguage=Current\nTranslator=T. Ranslator\nVersion=2\n"
      "[AppRes]\nAppName=Veil {AppName}\nMsg=Welcome to {appname} and {AppName}!\n"
      "[SkinRes]\nMSG_X={AppName}\n");
  EXPECT_EQ(data.GetAppName(), "Veil {AppName}");  // the product name itself is not filled
  std::string v = "untouched";
  EXPECT_TRUE(data.GetProp("appres", "", "MSG", v));
  EXPECT_EQ(v, "Welcome to Veil {AppName} and Veil {AppName}!");
  EXPECT_TRUE(data.GetProp("TfrmX", "btn", "Caption", v));
  EXPECT_EQ(v, "Default Veil {AppName}");  // from the default language
  v = "kept";
  EXPECT_FALSE(data.GetProp("TfrmX", "btn", "Hint", v));
  EXPECT_EQ(v, "kept");
  EXPECT_EQ(data.CurrentLanguage(), "Current");
  EXPECT_EQ(data.CurrentLanguageTranslator(), "T. Ranslator");
  EXPECT_EQ(data.CurrentVersion(), "2");

  // Section texts are handed out without the placeholder filled.
  TStringList sl;
  data.GetSectionStrings("SkinRes", sl);
  EXPECT_EQ(sl.Values("MSG_X"), "{AppName}");

  // Clearing the current language: lookups go to the default language, the
  // cached product name stays.
  data.ClearCurrentAll();
  EXPECT_EQ(data.AppName(), "Veil {AppName}");
  EXPECT_EQ(data.CurrentLanguage(), "Base");
  EXPECT_TRUE(data.GetProp("AppRes", "", "AppName", v));
  EXPECT_EQ(v, "Fallback");
}

TEST(MultiLangDataTest, SectionStringsNeverReplaceWhatTheListHolds) {
  TCLMultiLangData data(nullptr);
  data.LangCurrentData().LoadFromString("[SkinRes]\nMSG_BTN_YES=&Ja\nMSG_NEW=Neu\nMSG_EMPTY=\n");
  data.LangDefaultData().LoadFromString("[SkinRes]\nMSG_NEW=New\nMSG_DEF=Default\n");
  TStringList table;
  table.Add("MSG_BTN_YES=&Yes");
  data.GetSectionStrings("SkinRes", table);
  EXPECT_EQ(table.Values("MSG_BTN_YES"), "&Yes");
  EXPECT_EQ(table.Values("MSG_NEW"), "Neu");
  EXPECT_EQ(table.Values("MSG_DEF"), "Default");
  EXPECT_EQ(table.IndexOfName("MSG_EMPTY"), -1);
  EXPECT_EQ(table.Count(), 3);
  // A missing section changes nothing.
  data.GetSectionStrings("NoSuchSection", table);
  EXPECT_EQ(table.Count(), 3);
}

TEST(MultiLangTest, ApplyingSetsTextsListsAndItemsAndIgnoresExclusion) {
  TTestForm form("TfrmSettings", "frmSettings");
  form.V.Set("Caption", "Settings");
  auto* ok = new TTestButton(&form, "TButton", "btnOK");
  ok->V.Set("Caption", "&OK");
  auto* cancel = new TTestButton(&form, "TButton", "btnCancel");
  cancel->V.Set("Caption", "&Cancel");
  auto* memo = new TTestMemo(&form, "mmoLog");
  memo->Lines.Add("design");
  auto* grid = new TTestGrid(&form, "lvList");
  auto* browser = new TTestButton(&form, "TWebBrowser", "wbMap");
  auto* data = new TCLMultiLangData(&form);
  auto* lang = new TCLMultiLang(&form);
  lang->SetLanguageData(data);
  int changes = 0;
  lang->OnChangeLanguage = [&](TCLMultiLang* sender) {
    EXPECT_EQ(sender, lang);
    ++changes;
  };

  data->LangCurrentData().LoadFromString(
      "[AppRes]\nAppName=Veilgate\n"
      "[TfrmSettings]\n"
      "frmSettings.Caption={AppName} Settings\n"
      "btnCancel.Caption=&Abbrechen\n"
      "btnCancel.Name=Renamed\n"
      "mmoLog.Lines=first<BR>second\n"
      "mmoLog.Text=Excluded but applied\n"
      "mmoLog.Title=Wide\n"
      "lvList.Columns[1].Caption=Second column\n"
      "lvList.Columns[0].Text=First text\n"
      "lvList.Version=2.0\n"
      "wbMap.Caption=Browser caption\n");
  data->GetAppName();
  lang->ApplyData();

  EXPECT_EQ(changes, 1);
  EXPECT_EQ(form.V.Get("Caption"), "Veilgate Settings");
  EXPECT_EQ(ok->V.Get("Caption"), "&OK");  // no entry: the design text stays
  EXPECT_EQ(cancel->V.Get("Caption"), "&Abbrechen");
  EXPECT_EQ(cancel->Name(), "btnCancel");  // TComponentName is never applied
  // The string list is replaced whole; ".Text" is excluded from collecting
  // but applied all the same.
  EXPECT_EQ(memo->V.Get("Text"), "Excluded but applied");
  ASSERT_EQ(memo->Lines.Count(), 2);
  EXPECT_EQ(memo->Lines[1], "second");
  EXPECT_EQ(memo->V.Get("Title"), "Wide");
  EXPECT_EQ(grid->Item(0)->V.Get("Text"), "First text");
  EXPECT_EQ(grid->Item(1)->V.Get("Caption"), "Second column");
  EXPECT_EQ(grid->Item(1)->V.Get("Text"), "");
  // Exclusion is for collecting only: the browser's caption is applied.
  EXPECT_EQ(browser->V.Get("Caption"), "Browser caption");

  // A property that rejects its text raises the error to the caller.
  class TRejecting : public TCLComponent {
   public:
    explicit TRejecting(TCLComponent* o) : TCLComponent(o) { SetName("rej"); }
    std::string ClassName() const override { return "TRejecting"; }
    const TCLPropTable& PropTable() const override {
      static const TCLPropTable t =
          TCLPropBuilder<TRejecting>(&TCLComponent::ComponentProps())
              .TextFn(
                  "Caption", "TCaption", [](const TRejecting&) { return std::string(); },
                  [](TRejecting&, const std::string&) { throw std::invalid_argument("rejected"); })
              .Build();
      return t;
    }
  };
  new TRejecting(&form);
  data->LangCurrentData().LoadFromString("[TfrmSettings]\nrej.Caption=x\n");
  EXPECT_THROW(lang->ApplyData(), std::invalid_argument);
}

TEST(MultiLangTest, ExclusionPatternsOfAllSixForms) {
  TTestForm form("TfrmX", "frmX");
  auto* data = new TCLMultiLangData(&form);
  auto* lang = new TCLMultiLang(&form);
  lang->SetLanguageData(data);
  TStringList patterns;
  for (const char* p :
       {"TSkinnedButton:", "TLabel:.Hint", ":TSecret", "lblNote.", "btnGo..Caption", ".Category"})
    patterns.Add(p);
  data->SetExcludeProps(patterns);

  // class name ":" — every property of that exact class
  EXPECT_TRUE(lang->IsExcludedProp("btnA", "tskinnedbutton", "Caption", "TCaption"));
  EXPECT_FALSE(lang->IsExcludedProp("btnA", "TSkinnedButtonEx", "Caption", "TCaption"));
  // class name ":." property — that property on that class only
  EXPECT_TRUE(lang->IsExcludedProp("lblA", "TLabel", "hint", "string"));
  EXPECT_FALSE(lang->IsExcludedProp("lblA", "TLabel", "Caption", "TCaption"));
  EXPECT_FALSE(lang->IsExcludedProp("btnA", "TButton", "Hint", "string"));
  // ":" type name — every property of that declared type
  EXPECT_TRUE(lang->IsExcludedProp("x", "TAny", "Anything", "TSecret"));
  EXPECT_FALSE(lang->IsExcludedProp("x", "TAny", "TSecret", "string"));
  // component name "." — every property of that component
  EXPECT_TRUE(lang->IsExcludedProp("LBLNOTE", "TLabel", "Caption", "TCaption"));
  EXPECT_FALSE(lang->IsExcludedProp("lblNote2", "TLabel", "Caption", "TCaption"));
  // component name ".." property — that property of that component
  EXPECT_TRUE(lang->IsExcludedProp("btnGo", "TButton", "Caption", "TCaption"));
  EXPECT_FALSE(lang->IsExcludedProp("btnGo", "TButton", "Hint", "string"));
  EXPECT_FALSE(lang->IsExcludedProp("btnStop", "TButton", "Caption", "TCaption"));
  // "." property — that property everywhere
  EXPECT_TRUE(lang->IsExcludedProp("actA", "TAction", "Category", "string"));
  EXPECT_FALSE(lang->IsExcludedProp("actA", "TAction", "Caption", "string"));

  // Names ending in a digit, only with the switch on.
  EXPECT_FALSE(lang->IsExcludedProp("VeilIP1", "TMenuItem", "Caption", "string"));
  data->SetExcludeNumberEndProps(true);
  EXPECT_TRUE(lang->IsExcludedProp("VeilIP1", "TMenuItem", "Caption", "string"));
  EXPECT_FALSE(lang->IsExcludedProp("VeilIP", "TMenuItem", "Caption", "string"));
}

class MultiLangCollectTest : public SandboxTest {};

TEST_F(MultiLangCollectTest, CollectingWritesTheExpectedLanguageFile) {
  TTestForm form("TfrmCollect", "frmCollect");
  form.V.Set("Caption", "Collect");
  auto* go = new TTestButton(&form, "TButton", "btnGo");
  go->V.Set("Caption", "&Go");
  auto* info = new TTestButton(&form, "TLabel", "lblInfo");
  info->V.Set("Caption", "Info: {AppName}");
  auto* memo = new TTestMemo(&form, "mmoNotes");
  memo->Lines.Add("one");
  memo->Lines.Add("two");
  memo->V.Set("Text", "one two");  // ".Text" is excluded by default
  auto* edit = new TTestButton(&form, "TEdit", "Edit1");
  edit->V.Set("Caption", "x");
  new TTestButton(&form, "TWebBrowser", "wbMap");  // every property excluded
  new TTestButton(&form, "TButton", "");           // unnamed: skipped
  auto* grid = new TTestGrid(&form, "lvList");
  grid->Item(0)->V.Set("Text", "Name");  // item properties escape ".Text"
  auto* data = new TCLMultiLangData(&form);
  auto* lang = new TCLMultiLang(&form);
  lang->SetLanguageData(data);

  data->UpdateClients();
  const std::string file = sb().Path("out.lan");
  data->SaveCurrentToFile(file);
  EXPECT_EQ(sb().ReadFile("out.lan"),
            "[TfrmCollect]\r\n"
            "btnGo.Caption=&Go\r\n"
            "btnGo.Hint=\r\n"
            "Edit1.Caption=x\r\n"
            "Edit1.Hint=\r\n"
            "frmCollect.Caption=Collect\r\n"
            "lblInfo.Caption=Info: {AppName}\r\n"
            "lblInfo.Hint=\r\n"
            "lvList.Columns[0].Caption=\r\n"
            "lvList.Columns[0].Text=Name\r\n"
            "lvList.Columns[1].Caption=\r\n"
            "lvList.Columns[1].Text=\r\n"
            "lvList.Hint=\r\n"
            "mmoNotes.Lines=one<BR>two\r\n"
            "mmoNotes.Title=\r\n"
            "\r\n");

  // Clearing the clients takes the window's section out again.
  data->ClearClients();
  data->SaveCurrentToFile(file);
  EXPECT_EQ(sb().ReadFile("out.lan"), "");
}

TEST_F(MultiLangCollectTest, CollectingSkipsEmptyTextsDigitNamesAndActionLinks) {
  TTestForm form("TfrmMain", "frmMain");
  auto* action = new TTestButton(&form, "TAction", "actVeilIP");
  action->V.Set("Caption", "&Veil IP");
  auto* hide = new TTestButton(&form, "TButton", "btnHide");
  hide->V.Set("Caption", "&Veil IP");
  hide->SetAction(action);
  auto* sep = new TTestButton(&form, "TMenuItem", "N1");
  sep->V.Set("Caption", "-");
  auto* tray = new TTestButton(&form, "TMenuItem", "VeilIP1");
  tray->V.Set("Caption", "&Veil IP");
  auto* memo = new TTestMemo(&form, "mmoLog");
  memo->V.Set("Title", "-");  // a wide text "-" is kept
  auto* data = new TCLMultiLangData(&form);
  auto* lang = new TCLMultiLang(&form);
  lang->SetLanguageData(data);
  data->SetExcludeEmptyProp(true);
  data->SetExcludeWithAction(true);
  data->SetExcludeNumberEndProps(true);
  lang->UpdateData();
  std::string all = data->LangCurrentData().ToString();
  EXPECT_EQ(all,
            "[TfrmMain]\r\n"
            "actVeilIP.Caption=&Veil IP\r\n"
            "mmoLog.Title=-\r\n"
            "\r\n");

  // Without the switches the same window gives every text, the separator
  // caption included.
  data->ClearCurrentAll();
  data->SetExcludeEmptyProp(false);
  data->SetExcludeWithAction(false);
  data->SetExcludeNumberEndProps(false);
  lang->UpdateData();
  std::string v;
  EXPECT_TRUE(data->GetProp("TfrmMain", "btnHide", "Caption", v));
  EXPECT_TRUE(data->GetProp("TfrmMain", "N1", "Caption", v));
  EXPECT_EQ(v, "-");
  EXPECT_TRUE(data->GetProp("TfrmMain", "VeilIP1", "Caption", v));
  EXPECT_TRUE(data->GetProp("TfrmMain", "mmoLog", "Lines", v));  // empty list, stored
  EXPECT_EQ(v, "");
}

TEST_F(MultiLangCollectTest, CollectingLeavesOutUnreadableAndReadOnlyProperties) {
  TTestForm form("TfrmGrid", "frmGrid");
  auto* grid = new TTestGrid(&form, "lvList");
  grid->V.Set("Hint", "after the broken one");
  auto* data = new TCLMultiLangData(&form);
  auto* lang = new TCLMultiLang(&form);
  lang->SetLanguageData(data);
  EXPECT_NO_THROW(lang->UpdateData());
  std::string v;
  EXPECT_FALSE(data->GetProp("TfrmGrid", "lvList", "Broken", v));
  EXPECT_FALSE(data->GetProp("TfrmGrid", "lvList", "Version", v));  // no writer
  EXPECT_TRUE(data->GetProp("TfrmGrid", "lvList", "Hint", v));
  EXPECT_EQ(v, "after the broken one");
}

TEST_F(MultiLangCollectTest, LoadingALanguageReappliesEveryClientInOrder) {
  sb().WriteFile("de.lan",
                 "[AppRes]\nAppName=Schleier\n[TfrmA]\nfrmA.Caption=A {AppName}\n"
                 "[TfrmB]\nfrmB.Caption=B\n");
  TCLMultiLangData data(nullptr);
  TTestForm a("TfrmA", "frmA"), b("TfrmB", "frmB");
  auto* la = new TCLMultiLang(&a);
  auto* lb = new TCLMultiLang(&b);
  std::vector<std::string> order;
  la->OnChangeLanguage = [&](TCLMultiLang*) { order.push_back("A"); };
  lb->OnChangeLanguage = [&](TCLMultiLang*) { order.push_back("B"); };
  lb->SetLanguageData(&data);
  la->SetLanguageData(&data);
  la->SetLanguageData(&data);  // no duplicate
  data.AddClient(lb);
  ASSERT_EQ(data.Clients().size(), 2u);

  data.LoadCurrentFromFile(sb().Path("de.lan"));
  EXPECT_EQ(order, (std::vector<std::string>{"B", "A"}));
  EXPECT_EQ(a.V.Get("Caption"), "A Schleier");
  EXPECT_EQ(b.V.Get("Caption"), "B");
  EXPECT_EQ(data.AppName(), "Schleier");

  // A file that cannot be read: the error reaches the caller, nothing is
  // re-applied and the previous language stays (the cached name is gone).
  order.clear();
  EXPECT_THROW(data.LoadCurrentFromFile(sb().Path("missing.lan")), EFileError);
  EXPECT_TRUE(order.empty());
  EXPECT_EQ(data.AppName(), "");
  std::string v;
  EXPECT_TRUE(data.GetProp("TfrmB", "frmB", "Caption", v));

  // Moving a translator to other data and destroying one leave the list.
  TCLMultiLangData other(nullptr);
  lb->SetLanguageData(&other);
  EXPECT_EQ(data.Clients().size(), 1u);
  EXPECT_EQ(other.Clients().size(), 1u);
  delete la;
  EXPECT_TRUE(data.Clients().empty());
}

TEST(MultiLangTest, TranslatorWithoutDataDoesNothing) {
  TTestForm form("TfrmX", "frmX");
  form.V.Set("Caption", "Design");
  auto* lang = new TCLMultiLang(&form);
  lang->ApplyData();
  lang->UpdateData();
  lang->ClearData();
  std::string v = "v";
  EXPECT_FALSE(lang->GetProp("TfrmX", "frmX", "Caption", v));
  EXPECT_EQ(lang->GetResString("Hello"), "Hello");
  EXPECT_EQ(lang->Language(), "");
  EXPECT_EQ(form.V.Get("Caption"), "Design");

  // Data that goes before its translators leaves them without data instead
  // of pointing at freed memory.
  auto data = std::make_unique<TCLMultiLangData>(nullptr);
  data->LangCurrentData().LoadFromString("[ResString]\nHello=Hallo\n[Info]\nLanguage=Deutsch\n");
  lang->SetLanguageData(data.get());
  EXPECT_EQ(lang->GetResString("Hello"), "Hallo");
  EXPECT_EQ(lang->GetResString("Other"), "Other");
  EXPECT_EQ(lang->Language(), "Deutsch");
  data.reset();
  EXPECT_EQ(lang->LanguageData(), nullptr);
  EXPECT_NO_THROW(lang->ApplyData());
}

TEST(ComponentTest, OwnerKeepsCreationOrderLoadsAndFreesLastFirst) {
  std::vector<std::string> events;
  class TProbe : public TCLComponent {
   public:
    TProbe(TCLComponent* o, const std::string& n, std::vector<std::string>& ev)
        : TCLComponent(o), FEvents(ev) {
      SetName(n);
    }
    ~TProbe() override { FEvents.push_back("free " + Name()); }
    void Loaded() override { FEvents.push_back("loaded " + Name()); }
    std::string ClassName() const override { return "TProbe"; }

   private:
    std::vector<std::string>& FEvents;
  };
  {
    TTestForm form("TfrmX", "frmX");
    form.BeginLoading();
    new TProbe(&form, "a", events);
    auto* b = new TProbe(&form, "b", events);
    new TProbe(&form, "c", events);
    EXPECT_TRUE(b->Loading());
    EXPECT_EQ(form.ComponentCount(), 3);
    EXPECT_EQ(form.Components(1), b);
    EXPECT_EQ(form.FindComponent("B"), b);
    form.EndLoading();
    EXPECT_FALSE(b->Loading());
    delete b;
    EXPECT_EQ(form.ComponentCount(), 2);
    EXPECT_EQ(form.FindComponent("b"), nullptr);
  }
  EXPECT_EQ(events, (std::vector<std::string>{"loaded a", "loaded b", "loaded c", "free b",
                                              "free c", "free a"}));
}
