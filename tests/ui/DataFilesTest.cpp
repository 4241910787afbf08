// The data files shipped beside the executable: the supplied settings, the
// two complete languages, the map page template, the flags generated from
// the ISO flag pictures and the product pictures.
#include <gtest/gtest.h>

#include "AppDialogsSupport.h"
#include "QtTestApp.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QImage>

#include <map>
#include <set>

#include "framework/CLIniFile.h"
#include "framework/CLSettings.h"
#include "framework/lang/CLMultiLangLan.h"
#include "net/CLUtils.h"
#include "support/Sandbox.h"
#include "ui/uChooseIPCountry.h"
#include "ui/uIPsTesting.h"
#include "ui/uSettings.h"

#ifndef VG_BINARY_DIR
#error "VG_BINARY_DIR must name the build tree"
#endif

using namespace appdlg;

namespace {

const char* const kLanguages[] = {"English.lan", "Deutsch.lan"};

// Keys the program reads by name, per section.
const std::map<std::string, std::vector<std::string>> kNamedKeys = {
    {"LibRes",
     {"btnOk.Caption", "btnCancel.Caption", "cbAutoCheckUpdate.Caption", "lblTimer.Caption",
      "lblSupport.Caption", "Update.Connecting", "Update.LastVersionAlready", "Update.NetError",
      "TfrmCLAboutForm.CopyRightLine1", "TfrmCLAboutForm.CopyRightLine2",
      "TfrmCLAboutForm.CopyRightLine3", "TfrmCLAboutForm.Caption", "TfrmCLUpdateForm.Caption",
      "TfrmCLSplashForm.Caption", "WebBrowser.InBrowser", "WebBrowser.NotOpened",
      "WebBrowser.NoEngine"}},
    {"AppRes",
     {"AppName", "MSGBox.FFPath", "MSGBox.FFRestart", "MSGBox.FFUninstalled", "MSGBox.CHKNET",
      "MSGBox_ACTIONFAST", "MSGBox.CloseNotify", "MSGBox.CloseNotifyNoTray", "FLSMsg.Hiding",
      "FLSMsg.Ready", "FLSMsg.Verifing", "MSGBox.NOPROXY", "MSGBox.SettingsNotSaved",
      "Caption.ChooseFirefoxPath", "Map.NoEngine"}},
    {"SkinRes",
     {"MSG_BTN_YES", "MSG_BTN_NO", "MSG_BTN_OK", "MSG_BTN_CANCEL", "MSG_BTN_ABORT", "MSG_BTN_RETRY",
      "MSG_BTN_IGNORE", "MSG_BTN_ALL", "MSG_BTN_NOTOALL", "MSG_BTN_YESTOALL", "MSG_BTN_HELP",
      "MSG_CAP_WARNING", "MSG_CAP_ERROR", "MSG_CAP_INFORMATION", "MSG_CAP_CONFIRM",
      "MSG_CAP_SHOWFLAG"}},
};

// Entries of one section of a language file, decoded.
std::map<std::string, std::string> Section(const std::string& file, const std::string& section) {
  TCLMultiLangLan lan;
  lan.LoadFromFile(file);
  TStringList sl;
  lan.GetSectionStrings(section, sl);
  std::map<std::string, std::string> entries;
  for (int i = 0; i < sl.Count(); ++i) entries[sl.Names(i)] = sl.ValueFromIndex(i);
  return entries;
}

// The section names of a language file, in the file's order.
std::vector<std::string> SectionNames(const std::string& file) {
  std::string bytes;
  platform::ReadWholeFile(file, bytes);
  TStringList lines;
  lines.SetText(DecodeLanguageFileBytes(bytes));
  std::vector<std::string> names;
  for (const std::string& line : lines.Lines())
    if (line.size() > 2 && line.front() == '[' && line.back() == ']')
      names.push_back(line.substr(1, line.size() - 2));
  return names;
}

std::string Built(const std::string& rel) { return std::string(VG_BINARY_DIR) + "/" + rel; }
std::string Source(const std::string& rel) { return std::string(VG_SOURCE_DIR) + "/" + rel; }

class DataFilesTest : public SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    TestApp();
    ReleaseCLSettings();
  }
  void TearDown() override {
    ReleaseCLSettings();
    SandboxTest::TearDown();
  }
};

}  // namespace

TEST_F(DataFilesTest, EveryNamedKeyHasATextInBothLanguages) {
  for (const char* language : kLanguages) {
    const std::string file = Source(std::string("lang/") + language);
    ASSERT_TRUE(platform::FileExists(file)) << file;
    for (const auto& [section, keys] : kNamedKeys) {
      const auto entries = Section(file, section);
      for (const std::string& key : keys) {
        auto it = entries.find(key);
        EXPECT_TRUE(it != entries.end() && !Trim(it->second).empty())
            << language << ": [" << section << "] " << key;
      }
    }
    const auto info = Section(file, "Info");
    EXPECT_FALSE(info.count("Language") == 0 || info.at("Language").empty()) << language;
  }
  // The second language really is another one.
  EXPECT_NE(Section(Source("lang/Deutsch.lan"), "AppRes").at("FLSMsg.Ready"),
            Section(Source("lang/English.lan"), "AppRes").at("FLSMsg.Ready"));
}

// Both languages translate the same entries of every section.
TEST_F(DataFilesTest, BothLanguagesHaveTheSameSectionsAndEntries) {
  const std::vector<std::string> sections = SectionNames(Source("lang/English.lan"));
  EXPECT_EQ(sections, SectionNames(Source("lang/Deutsch.lan")));
  EXPECT_GE(sections.size(), 8u);
  for (const std::string& section : sections) {
    if (section == "Info") continue;
    const auto en = Section(Source("lang/English.lan"), section);
    const auto de = Section(Source("lang/Deutsch.lan"), section);
    for (const auto& [key, value] : en)
      EXPECT_TRUE(de.count(key) && !de.at(key).empty())
          << "Deutsch.lan: [" << section << "] " << key;
    for (const auto& [key, value] : de)
      EXPECT_TRUE(en.count(key)) << "English.lan lacks [" << section << "] " << key;
  }
}

// Every text of the dialogs' designs has an entry in both languages: the
// language-file writer collects the windows, and each collected entry must
// be worded (captions and lists non-empty) in every shipped language.
TEST_F(DataFilesTest, EveryWindowTextOfTheDialogsIsTranslated) {
  std::string error;
  ASSERT_TRUE(CLWriteLanguageFile(sb().Path("collected.lan"), "",
                                  {[] { return CreateForm<TfrmChooseIPCountry>(); },
                                   [] { return CreateForm<TfrmSettings>(); },
                                   [] { return CreateForm<TfrmTesting>(); }},
                                  error))
      << error;
  for (const char* section : {"TfrmChooseIPCountry", "TfrmSettings", "TfrmTesting"}) {
    const auto collected = Section(sb().Path("collected.lan"), section);
    ASSERT_FALSE(collected.empty()) << section;
    for (const char* language : kLanguages) {
      const auto shipped = Section(Source(std::string("lang/") + language), section);
      for (const auto& [entry, english] : collected) {
        // Hints may stay empty; every other text needs its wording.
        const bool isHint = entry.size() > 5 && entry.substr(entry.size() - 5) == ".Hint";
        if (isHint || english.empty()) continue;
        auto it = shipped.find(entry);
        EXPECT_TRUE(it != shipped.end() && !it->second.empty())
            << language << ": [" << section << "] " << entry;
      }
    }
  }
  // English carries the designs' own texts.
  const auto english = Section(Source("lang/English.lan"), "TfrmChooseIPCountry");
  EXPECT_EQ(english.at("cbbCountry.Items"), "- Auto Selected -");
  EXPECT_EQ(english.at("frmChooseIPCountry.Caption"), "Choose IP Country");
}

TEST_F(DataFilesTest, SuppliedSettingsPointAtTheReferenceService) {
  TCLMemIniFile ini(Source("res/const.dat"));
  auto value = [&](const std::string& name) { return ini.ReadString("setting", name, "\x01"); };
  EXPECT_EQ(value("App.MagicWord"), "VG-DEMO");
  // No address of the service is supplied: the administrator's file (read
  // after this one) could not set it otherwise. They all follow from
  // "URL.Service", the reference service on loopback by default.
  for (const char* url :
       {"URL.Service", "URL.Update", "URL.Redirect", "URL.GetInfo", "URL.FlagPath", "URL.CheckIP"})
    EXPECT_EQ(value(url), "\x01") << url << "=" << value(url);
  EXPECT_EQ(std::string(kDefaultServiceAddress), "http://127.0.0.1:8470");
  // Every setting the program reads with a default of its own is supplied.
  for (const char* name : {"App.Name",         "App.Ver",
                           "App.GUID",         "App.ID",
                           "Language",         "Skin",
                           "Path.Languages",   "Path.Skins",
                           "Update.BeginAuto", "Update.AutoCheck",
                           "SWITCH.IE",        "SWITCH.FF",
                           "SWITCH.OPERA",     "SWITCH.WEBRTC",
                           "ChangeIP",         "ChangeIPTime",
                           "ClearCookie",      "AutoRun",
                           "AlwaysOnTop",      "TestIPfromLocal",
                           "TARGET_COUNTRY",   "URL.LocalFlagPath",
                           "URL.MapMask",      "FLS.Width",
                           "FLS.Height",       "FLS.Background",
                           "FLS.Logo"})
    EXPECT_NE(value(name), "\x01") << name;
  EXPECT_EQ(value("ChangeIPTime"), "10");
  EXPECT_EQ(value("SWITCH.WEBRTC"), "1") << "WebRTC is kept to the proxy unless the user says no";
  // The popup's pictures and the local flags are where the settings say.
  for (const char* name : {"FLS.Background", "FLS.Logo"})
    EXPECT_FALSE(QImage(QString::fromStdString(Built(SlashToBackslash(value(name))))).isNull())
        << name;
  EXPECT_TRUE(platform::FileExists(JoinPath(Built(""), value("URL.LocalFlagPath") + "US.PNG")));
  // The build placed the file beside the executable.
  EXPECT_EQ(SourceFile("res/const.dat"), [] {
    std::string s;
    platform::ReadWholeFile(Built("const.dat"), s);
    return s;
  }());
}

TEST_F(DataFilesTest, EveryCountryOfTheServiceListsHasAFlag) {
  // The codes of the reference service's demo lists.
  std::set<std::string> codes{"UN"};
  TStringList conf;
  conf.SetText(SourceFile("tools/service/demo.conf"));
  std::string section;
  for (const std::string& line : conf.Lines()) {
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      section = line;
      continue;
    }
    if (section != "[normal]" && section != "[super]") continue;
    TStringList fields;
    SplitString(line, '|', &fields);
    ASSERT_GE(fields.Count(), 3) << line;
    codes.insert(UpperCase(Trim(fields[2])));
  }
  ASSERT_GT(codes.size(), 2u);
  for (const std::string& code : codes) {
    const QImage flag(QString::fromStdString(Built("res/flag_short/" + code + ".PNG")));
    EXPECT_FALSE(flag.isNull()) << code;
    EXPECT_EQ(flag.size(), QSize(48, 48)) << code;
  }
  // Every ISO country, all of the same size.
  const QDir dir(QString::fromStdString(Built("res/flag_short")));
  const QStringList files = dir.entryList({"*.PNG"}, QDir::Files);
  EXPECT_GE(files.size(), 240);
  for (const char* code : {"DE", "FR", "GB", "BR", "CN", "ZA", "AU", "CA", "IN", "RU"})
    EXPECT_TRUE(files.contains(QString(code) + ".PNG")) << code;
  for (const QString& f : files) {
    EXPECT_EQ(f.size(), 6) << f.toStdString();
    EXPECT_EQ(QImage(dir.filePath(f)).size(), QSize(48, 48)) << f.toStdString();
  }
}

TEST_F(DataFilesTest, MapTemplateRendersWithTheSixPlaceholdersReplaced) {
  const std::string tpl = SourceFile("res/map.tpl");
  ASSERT_FALSE(tpl.empty());
  for (const char* ph : {"{1}", "{2}", "{3}", "{4}", "{5}", "{6}"})
    EXPECT_NE(tpl.find(ph), std::string::npos) << ph;
  const std::string page = FormatPlaceholders(tpl, {"-97.5", "38.25", "447", "375",
                                                    "http://tiles.test/{z}/{x}/{y}.png", "3"});
  for (const char* ph : {"{1}", "{2}", "{3}", "{4}", "{5}", "{6}", "{7}", "{0}"})
    EXPECT_EQ(page.find(ph), std::string::npos) << ph;
  EXPECT_NE(page.find("data-longitude=\"-97.5\" data-latitude=\"38.25\""), std::string::npos);
  EXPECT_NE(page.find("width: 447px; height: 375px;"), std::string::npos);
  EXPECT_NE(page.find("data-mask=\"http://tiles.test/{z}/{x}/{y}.png\" data-zoom=\"3\""),
            std::string::npos);
  // Offline: the world outline is in the page and nothing is fetched from
  // elsewhere unless a tile mask is given.
  EXPECT_NE(page.find("<path id=\"land\" class=\"land\" d=\"M"), std::string::npos);
  EXPECT_EQ(page.find("src=\"http"), std::string::npos);
  EXPECT_EQ(page.find("<link"), std::string::npos);
  EXPECT_EQ(page.rfind("</html>"), page.size() - 9);  // "</html>\r\n"
  // The build placed it beside the executable.
  std::string built;
  platform::ReadWholeFile(Built("res/map.tpl"), built);
  EXPECT_EQ(built, tpl);
}

TEST_F(DataFilesTest, ProductPicturesAreThere) {
  const std::map<std::string, QSize> pictures = {{"splash", QSize(420, 240)},
                                                 {"about", QSize(373, 65)},
                                                 {"update", QSize(373, 65)},
                                                 {"popup_bg", QSize(534, 180)},
                                                 {"logo", QSize(0, 0)}};
  for (const auto& [name, size] : pictures) {
    const QImage img(QString::fromStdString(Built("res/images/" + name + ".png")));
    ASSERT_FALSE(img.isNull()) << name;
    if (!size.isEmpty()) {
      EXPECT_EQ(img.size(), size) << name;
    }
  }
  // The splash picture is shaped: its corners are transparent.
  const QImage splash(QString::fromStdString(Built("res/images/splash.png")));
  EXPECT_EQ(qAlpha(splash.pixel(0, 0)), 0);
  EXPECT_EQ(qAlpha(splash.pixel(splash.width() / 2, splash.height() / 2)), 255);
}

// Every product picture comes from a vector source and has a variant of
// twice the size for screens of twice the pixel density, drawn from the
// same source rather than enlarged: it holds detail the plain one cannot.
TEST_F(DataFilesTest, ProductPicturesHaveSharpVariantsOfTwiceTheSize) {
  for (const char* name : {"splash", "about", "update", "popup_bg", "logo"}) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(QFile::exists(QString::fromStdString(Source("res/art/") + name + ".svg")));
    const QImage one(QString::fromStdString(Built("res/images/") + name + ".png"));
    const QImage two(QString::fromStdString(Built("res/images/") + name + "@2x.png"));
    ASSERT_FALSE(one.isNull());
    ASSERT_FALSE(two.isNull());
    EXPECT_EQ(two.size(), one.size() * 2);
    // An enlarged picture has the same colour in each 2 x 2 block; a
    // picture drawn at that size does not, wherever an edge runs.
    const QImage grown = one.scaled(two.size()).convertToFormat(QImage::Format_ARGB32);
    EXPECT_NE(two.convertToFormat(QImage::Format_ARGB32), grown);
  }
}

// The skins draw with pictures of their own: every picture a skin names is
// compiled into the program (at both densities), and none is one of Qt's
// private resources, which any Qt update may remove.
TEST_F(DataFilesTest, SkinsNameOnlyTheirOwnPictures) {
  const QRegularExpression url(R"(url\(([^)]*)\))");
  for (const char* skin : {"Default", "Daylight", "Midnight"}) {
    SCOPED_TRACE(skin);
    const QString sheet = QString::fromStdString(SourceFile(std::string("skins/") + skin + ".qss"));
    EXPECT_FALSE(sheet.contains("qt-project.org"));
    int named = 0;
    for (auto it = url.globalMatch(sheet); it.hasNext();) {
      const QString file = it.next().captured(1).trimmed();
      SCOPED_TRACE(file.toStdString());
      ++named;
      EXPECT_TRUE(file.startsWith(":/skins/images/"));
      EXPECT_FALSE(QImage(file).isNull());
      QString dense = file;
      dense.insert(dense.lastIndexOf('.'), "@2x");
      EXPECT_EQ(QImage(dense).size(), QImage(file).size() * 2);
    }
    // Both spin-box arrows at least.
    EXPECT_GE(named, 2);
  }
  // Midnight marks a ticked box with a tick, not with a colour alone.
  const QString midnight = QString::fromStdString(SourceFile("skins/Midnight.qss"));
  const QRegularExpression checked(R"(QCheckBox::indicator:checked\s*\{[^}]*image:\s*url)");
  EXPECT_TRUE(checked.match(midnight).hasMatch());
}
