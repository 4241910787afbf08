// The translator on real windows of the component layer: captions from a
// language file, "{AppName}", collecting a language file, the exclusion
// rules on the real component classes, and the language-file writer.
#include <gtest/gtest.h>

#include "QtTestApp.h"
#include "EngineHostWindow.h"
#include "vcl/Controls.h"
#include "ui/uSettings.h"

#include <QTabWidget>

#include "framework/CLSettings.h"
#include "framework/qt/CLForm.h"
#include "support/Sandbox.h"
#include "vcl/ActnList.h"
#include "vcl/ShockwaveFlash.h"
#include "vcl/WebHosts.h"
#include "vcl/spMessage.h"

namespace {

class TranslationUiTest : public UiSandboxTest {};

// A window with the four kinds the collected file must show.
class TfrmCollect : public TForm {
 public:
  TfrmCollect() {
    SetName("frmCollect");
    SetCaption("Collect");
    auto* go = new TButton(this);
    go->SetName("btnGo");
    go->SetCaption("&Go");
    auto* info = new TLabel(this);
    info->SetName("lblInfo");
    info->SetCaption("Info");
    auto* notes = new TMemo(this);
    notes->SetName("mmoNotes");
    TStringList lines;
    lines.Add("one");
    lines.Add("two");
    notes->SetLines(lines);
    auto* remember = new TCheckBox(this);
    remember->SetName("CheckBox1");
    remember->SetCaption("Remember");
    Data = new TCLMultiLangData(this);
    Lang = new TCLMultiLang(this);
    Lang->SetLanguageData(Data);
  }
  std::string ClassName() const override { return "TfrmCollect"; }
  TCLMultiLangData* Data;
  TCLMultiLang* Lang;
};

}  // namespace

TEST_F(TranslationUiTest, SettingsWindowTakesItsCaptionsFromALanguageFile) {
  sb().WriteFile("de.lan",
                 "[AppRes]\r\nAppName=Veilgate\r\n"
                 "[TfrmSettings]\r\n"
                 "frmSettings.Caption=Einstellungen\r\n"
                 "btnCancel.Caption=&Abbrechen\r\n"
                 "cbAutoRun.Caption={APPNAME} bei der Anmeldung starten\r\n"
                 "tsGeneral.Caption=Allgemein\r\n"
                 "lblBrowser.Caption=Browser <SP>w\xC3\xA4hlen\r\n");
  TCLMultiLangData data(nullptr);
  TfrmSettings w;
  w.CLMultiLang->SetLanguageData(&data);
  w.AfterConstruction();
  data.LoadCurrentFromFile(sb().Path("de.lan"));

  EXPECT_EQ(w.windowTitle(), "Einstellungen");
  EXPECT_EQ(w.btnCancel->text(), "&Abbrechen");
  EXPECT_EQ(w.btnOK->text(), "&OK");  // no entry: the design's caption stays
  EXPECT_EQ(w.cbAutoRun->text(), "Veilgate bei der Anmeldung starten");
  EXPECT_EQ(w.pcSetting->tabText(0), "Allgemein");
  EXPECT_EQ(w.pcSetting->tabText(1), "Browser");
  EXPECT_EQ(w.lblBrowser->Caption(), "Browser  w\xC3\xA4hlen");
  EXPECT_EQ(w.lblBrowser->text(), QString::fromUtf8("Browser  w\xC3\xA4hlen"));
}

TEST_F(TranslationUiTest, CollectedFileForButtonLabelMemoAndDigitName) {
  TfrmCollect w;
  w.AfterConstruction();
  w.Data->UpdateClients();
  w.Data->SaveCurrentToFile(sb().Path("out.lan"));
  EXPECT_EQ(sb().ReadFile("out.lan"),
            "[TfrmCollect]\r\n"
            "btnGo.Caption=&Go\r\n"
            "btnGo.Hint=\r\n"
            "CheckBox1.Caption=Remember\r\n"
            "CheckBox1.Hint=\r\n"
            "frmCollect.Caption=Collect\r\n"
            "frmCollect.Hint=\r\n"
            "lblInfo.Caption=Info\r\n"
            "lblInfo.Hint=\r\n"
            "mmoNotes.Hint=\r\n"
            "mmoNotes.Lines=one<BR>two\r\n"
            "\r\n");

  // Without empty texts and without names ending in a digit.
  w.Data->ClearCurrentAll();
  w.Data->SetExcludeEmptyProp(true);
  w.Data->SetExcludeNumberEndProps(true);
  w.Data->UpdateClients();
  w.Data->SaveCurrentToFile(sb().Path("out.lan"));
  EXPECT_EQ(sb().ReadFile("out.lan"),
            "[TfrmCollect]\r\n"
            "btnGo.Caption=&Go\r\n"
            "frmCollect.Caption=Collect\r\n"
            "lblInfo.Caption=Info\r\n"
            "mmoNotes.Lines=one<BR>two\r\n"
            "\r\n");

  // The collected file read back gives the same texts.
  TfrmCollect again;
  again.AfterConstruction();
  again.Data->LoadCurrentFromFile(sb().Path("out.lan"));
  auto* memo = dynamic_cast<TMemo*>(again.FindComponent("mmoNotes"));
  ASSERT_NE(memo, nullptr);
  EXPECT_EQ(memo->toPlainText(), "one\ntwo");
}

TEST_F(TranslationUiTest, DefaultExclusionsKeepSkinBrowserMovieAndEngineOut) {
  TForm w;
  w.SetName("frmMain");
  w.SetCaption("Main");
  auto* browser = new TWebBrowser(&w);
  browser->SetName("wbMap");
  browser->SetLocationURL("about:blank");
  browser->SetHint("map");
  auto* movie = new TShockwaveFlash(&w);
  movie->SetName("swfPopup");
  movie->SetMovie("res\\veilip.dat");
  auto* stored = new TspCompressedStoredSkin(&w);
  stored->SetName("spStored");
  stored->SetCompressedFileName("Blue.skn");
  auto* skin = new TspSkinData(&w);
  skin->SetName("spSkinData");
  auto* strings = new TspResourceStrData(&w);
  strings->SetName("spResourceStrData");
  auto* message = new TspSkinMessage(&w);
  message->SetName("spSkinMessage");
  auto* act = new TAction(&w);
  act->SetName("actVeilIP");
  act->SetCaption("&Veil IP");
  act->SetCategory("File");
  auto* edit = new TEdit(&w);
  edit->SetName("edtName");
  edit->SetText("typed text");
  auto* engine = new TCLEngine(&w);
  engine->SetName("CLEngine");
  auto* data = new TCLMultiLangData(&w);
  data->SetName("CLMultiLangData");
  auto* lang = new TCLMultiLang(&w);
  lang->SetName("CLMultiLang");
  lang->SetLanguageData(data);
  w.AfterConstruction();
  lang->UpdateData();

  EXPECT_EQ(data->LangCurrentData().ToString(),
            "[TForm]\r\n"
            "frmMain.Caption=Main\r\n"
            "frmMain.Hint=\r\n"
            "actVeilIP.Caption=&Veil IP\r\n"
            "actVeilIP.Hint=\r\n"
            "edtName.Hint=\r\n"
            "\r\n");
}

TEST_F(TranslationUiTest, SixExclusionFormsOnRealComponents) {
  TForm w;
  w.SetName("frmX");
  auto* ok = new TButton(&w);
  ok->SetName("btnOK");
  ok->SetCaption("&OK");
  ok->SetHint("Confirm");
  auto* note = new TLabel(&w);
  note->SetName("lblNote");
  note->SetCaption("Note");
  note->SetHint("A note");
  auto* box = new TCheckBox(&w);
  box->SetName("cbBox");
  box->SetCaption("Box");
  box->SetHint("A box");
  auto* menu = new TMenuItem(&w);
  menu->SetName("miFile");
  menu->SetCaption("&File");
  menu->SetHint("File menu");
  auto* data = new TCLMultiLangData(&w);
  auto* lang = new TCLMultiLang(&w);
  lang->SetLanguageData(data);
  w.AfterConstruction();

  auto collect = [&](std::initializer_list<const char*> patterns) {
    TStringList sl;
    for (const char* p : patterns) sl.Add(p);
    data->SetExcludeProps(sl);
    data->ClearCurrentAll();
    lang->UpdateData();
    TStringList section;
    data->GetSectionStrings("TForm", section);
    return section;
  };
  auto has = [](const TStringList& sl, const char* name) { return sl.IndexOfName(name) >= 0; };

  TStringList s = collect({"TButton:"});
  EXPECT_FALSE(has(s, "btnOK.Caption"));
  EXPECT_FALSE(has(s, "btnOK.Hint"));
  EXPECT_TRUE(has(s, "cbBox.Caption"));
  s = collect({"TLabel:.Hint"});
  EXPECT_TRUE(has(s, "lblNote.Caption"));
  EXPECT_FALSE(has(s, "lblNote.Hint"));
  EXPECT_TRUE(has(s, "btnOK.Hint"));
  s = collect({":TCaption"});
  EXPECT_FALSE(has(s, "btnOK.Caption"));
  EXPECT_FALSE(has(s, "lblNote.Caption"));
  EXPECT_TRUE(has(s, "miFile.Caption"));  // a menu item's caption is a plain string
  EXPECT_TRUE(has(s, "btnOK.Hint"));
  s = collect({"cbBox."});
  EXPECT_FALSE(has(s, "cbBox.Caption"));
  EXPECT_FALSE(has(s, "cbBox.Hint"));
  EXPECT_TRUE(has(s, "btnOK.Caption"));
  s = collect({"btnOK..Hint"});
  EXPECT_TRUE(has(s, "btnOK.Caption"));
  EXPECT_FALSE(has(s, "btnOK.Hint"));
  EXPECT_TRUE(has(s, "lblNote.Hint"));
  s = collect({".Hint"});
  EXPECT_TRUE(has(s, "miFile.Caption"));
  EXPECT_FALSE(has(s, "miFile.Hint"));
  EXPECT_FALSE(has(s, "btnOK.Hint"));
  EXPECT_FALSE(has(s, "lblNote.Hint"));
}

TEST_F(TranslationUiTest, ActionLinkedControlsFollowTheirAction) {
  TForm w;
  w.SetName("frmMain");
  auto* act = new TAction(&w);
  act->SetName("actVeilIP");
  act->SetCaption("&Veil IP");
  auto* btn = new TButton(&w);
  btn->SetName("btnHide");
  btn->SetAction(act);
  auto* tray = new TPopupMenu(&w);
  tray->SetName("pmTray");
  auto* item = new TMenuItem(&w);
  item->SetName("VeilIP1");
  item->SetAction(act);
  tray->Items()->Add(item);
  auto* data = new TCLMultiLangData(&w);
  auto* lang = new TCLMultiLang(&w);
  lang->SetLanguageData(data);
  int executed = 0;
  act->OnExecute = [&](TBasicAction*) { ++executed; };
  w.AfterConstruction();

  data->LangCurrentData().LoadFromString("[TForm]\nactVeilIP.Caption=&IP verbergen\n");
  lang->ApplyData();
  EXPECT_EQ(btn->text(), "&IP verbergen");
  EXPECT_EQ(item->QtAction()->text(), "&IP verbergen");
  btn->click();
  item->QtAction()->trigger();
  EXPECT_EQ(executed, 2);

  // Collecting with ExcludeWithAction leaves the linked controls out.
  data->ClearCurrentAll();
  data->SetExcludeWithAction(true);
  lang->UpdateData();
  std::string v;
  EXPECT_TRUE(data->GetProp("TForm", "actVeilIP", "Caption", v));
  EXPECT_FALSE(data->GetProp("TForm", "btnHide", "Caption", v));
  EXPECT_FALSE(data->GetProp("TForm", "VeilIP1", "Caption", v));

  // An action that goes leaves no dangling link behind.
  delete act;
  EXPECT_EQ(btn->Action(), nullptr);
  EXPECT_EQ(item->Action(), nullptr);
  item->QtAction()->trigger();
  EXPECT_EQ(executed, 2);
}

TEST_F(TranslationUiTest, LanguageFileWriterCollectsDesignTexts) {
  sb().WriteFile("app/lang/English.lan",
                 "[Info]\r\nLanguage=English\r\n[AppRes]\r\nAppName=Veilgate\r\n"
                 "MSGBox.CHKNET=Check the network\r\n[LibRes]\r\nbtnOk.Caption=&OK\r\n"
                 "[TfrmOld]\r\nbtnGone.Caption=stale\r\n"
                 "[TfrmSettings]\r\nbtnOK.Caption=&Translated already\r\n");
  std::string error;
  const bool ok = CLWriteLanguageFile(sb().Path("New.lan"), sb().Path("app/lang/English.lan"),
                                      {[] { return CreateForm<TfrmSettings>(); },
                                       [] { return CreateForm<TfrmEngineHost>(); }},
                                      error);
  ASSERT_TRUE(ok) << error;
  EXPECT_FALSE(CLDesigning());
  const std::string text = sb().ReadFile("New.lan");
  EXPECT_EQ(text.rfind("[Info]\r\nLanguage=English\r\n\r\n[LibRes]\r\nbtnOk.Caption=&OK\r\n\r\n"
                       "[AppRes]\r\n",
                       0),
            0u)
      << text;
  EXPECT_NE(text.find("MSGBox.CHKNET=Check the network\r\n"), std::string::npos);
  EXPECT_EQ(text.find("TfrmOld"), std::string::npos);
  // The window's design texts, not the base file's old translation.
  EXPECT_NE(text.find("[TfrmSettings]\r\nbtnCancel.Caption=&Cancel\r\n"), std::string::npos)
      << text;
  EXPECT_NE(text.find("btnOK.Caption=&OK\r\n"), std::string::npos);
  EXPECT_NE(text.find("tsBrowser.Caption=Browser\r\n"), std::string::npos);
  EXPECT_NE(text.find("cbAutoRun.Caption=Automatically run Veilgate when I log"),
            std::string::npos);
  // Skin data, the engine and the skinned frame are not translated.
  EXPECT_NE(text.find("[TfrmEngineHost]\r\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("spSkinData"), std::string::npos);
  EXPECT_EQ(text.find("CLEngine"), std::string::npos);
  EXPECT_EQ(text.find("spDynamicSkinForm"), std::string::npos);
  // Built in the designer's way: no instance window was published.
  EXPECT_TRUE(platform::FindInstanceWindows("TfrmSettings").empty());

  // A file that cannot be written is reported.
  EXPECT_FALSE(CLWriteLanguageFile(sb().Path("no/such/folder/x.lan"), "",
                                   {[] { return CreateForm<TfrmSettings>(); }}, error));
  EXPECT_FALSE(error.empty());
}
