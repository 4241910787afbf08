// Language file: parsing, lookups, escapes, lazy parse/regeneration, canonical
// order, and reading/writing files in the encodings a translator may use.
#include <gtest/gtest.h>

#include <string>

#include "framework/lang/CLMultiLangLan.h"
#include "platform/Files.h"
#include "support/Sandbox.h"

namespace {

const std::string CRLF = "\r\n";

std::string Get(TCLMultiLangLan& lan, const std::string& form, const std::string& comp,
                const std::string& prop) {
  std::string v = "<unset>";
  lan.GetProp(form, comp, prop, v);
  return v;
}

bool Contains(const std::string& hay, const std::string& needle) {
  return hay.find(needle) != std::string::npos;
}

// UTF-16 bytes of an ASCII text, with the given byte-order mark.
std::string Utf16(const std::string& ascii, bool bigEndian) {
  std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (char c : ascii) {
    if (bigEndian)
      out += '\0', out += c;
    else
      out += c, out += '\0';
  }
  return out;
}

}  // namespace

TEST(LanParse, TrimsCommentsSectionsAndEntries) {
  TCLMultiLangLan lan;
  lan.LoadFromString(
      "Orphan=before any section\n"
      "  [ TfrmMain ]  \n"
      "; a comment=not an entry\n"
      "\n"
      "\t btnOK.Caption   =   OK button \t\n"
      "lblEmpty.Caption=\n"
      "just a line without equals\n"
      "dup=first\n"
      "DUP=second\n"
      "[tfrmmain]\n"
      "other=in the second section of that name\n"
      "[Info]\n"
      "Language=English\n");

  // Entry name and value are trimmed; every part of the key is case-free.
  EXPECT_EQ(Get(lan, "tfrmMAIN", "BTNok", "caption"), "OK button");
  // An empty value counts as present.
  std::string v = "old";
  EXPECT_TRUE(lan.GetProp("TfrmMain", "lblEmpty", "Caption", v));
  EXPECT_EQ(v, "");
  // Duplicates: the first entry and the first section win.
  EXPECT_EQ(Get(lan, "TfrmMain", "", "dup"), "first");
  v = "kept";
  EXPECT_FALSE(lan.GetProp("TfrmMain", "", "other", v));
  EXPECT_EQ(v, "kept");
  // Comments, text before the first section and missing keys are not found.
  EXPECT_FALSE(lan.GetProp("TfrmMain", "", "; a comment", v));
  EXPECT_FALSE(lan.GetProp("", "", "Orphan", v));
  EXPECT_FALSE(lan.GetProp("Missing", "", "Language", v));
  EXPECT_EQ(v, "kept");
  EXPECT_EQ(Get(lan, "INFO", "", "language"), "English");
  EXPECT_FALSE(lan.ToApply());
  EXPECT_FALSE(lan.Modified());

  // A change regenerates the text form: entries without spaces around "=",
  // both sections of one name kept, the nameless line and comment gone.
  lan.SetProp("Info", "", "Version", "1.0");
  EXPECT_EQ(lan.ToString(),
            "[TfrmMain]" + CRLF + "btnOK.Caption=OK button" + CRLF + "lblEmpty.Caption=" + CRLF +
                "dup=first" + CRLF + "DUP=second" + CRLF + CRLF + "[tfrmmain]" + CRLF +
                "other=in the second section of that name" + CRLF + CRLF + "[Info]" + CRLF +
                "Language=English" + CRLF + "Version=1.0" + CRLF + CRLF);
}

TEST(LanParse, MixedLineEndingsAndNulBytes) {
  TCLMultiLangLan lan;
  std::string text = "[A]\r\none=1\rtwo=2\nthree=3\r\n\r\rfour=4";
  text += std::string("\n\0\0five=5\0\n", 11);
  text += std::string("six=a\0b\n", 8);
  lan.LoadFromString(text);
  EXPECT_EQ(Get(lan, "A", "", "one"), "1");
  EXPECT_EQ(Get(lan, "A", "", "two"), "2");
  EXPECT_EQ(Get(lan, "A", "", "three"), "3");
  EXPECT_EQ(Get(lan, "A", "", "four"), "4");
  // NUL bytes at the ends of a line are trimmed like other control bytes;
  // one inside a value is kept as it is.
  EXPECT_EQ(Get(lan, "A", "", "five"), "5");
  EXPECT_EQ(Get(lan, "A", "", "six"), std::string("a\0b", 3));
}

TEST(LanEscapes, DecodeAndEncodeBothDirections) {
  TCLMultiLangLan lan;
  lan.LoadFromString(
      "[F]\n"
      "two=line one<BR>line two\n"
      "lower=a<br>b<Br>c\n"
      "sp=<SP>lead and trail<sp>\n"
      "mixed=<sp><bR><Sp>\n");
  EXPECT_EQ(Get(lan, "F", "", "two"), "line one\r\nline two");
  EXPECT_EQ(Get(lan, "F", "", "lower"), "a\r\nb\r\nc");
  EXPECT_EQ(Get(lan, "F", "", "sp"), " lead and trail ");
  EXPECT_EQ(Get(lan, "F", "", "mixed"), " \r\n ");

  // Writing: CR LF, lone CR and lone LF each become one <BR>.
  EXPECT_EQ(TCLMultiLangLan::EncodeValue("a\r\nb\rc\nd\n\re\r\r\nf"),
            "a<BR>b<BR>c<BR>d<BR><BR>e<BR><BR>f");
  // Inner spaces stay; spaces at the ends, which reading trims, are escaped.
  EXPECT_EQ(TCLMultiLangLan::EncodeValue("  a b "), "<SP><SP>a b<SP>");
  EXPECT_EQ(TCLMultiLangLan::EncodeValue("   "), "<SP><SP><SP>");
  EXPECT_EQ(TCLMultiLangLan::EncodeValue(""), "");

  // A lone LF is stored as <BR> and reads back as CR LF; leading spaces and
  // line breaks survive a copy that parses the text form again.
  lan.SetProp("TfrmMain", "lblInfo", "Caption", "  first\nsecond\r\nthird ");
  EXPECT_TRUE(Contains(lan.ToString(), "lblInfo.Caption=<SP><SP>first<BR>second<BR>third<SP>"));
  EXPECT_EQ(Get(lan, "TfrmMain", "lblInfo", "Caption"), "  first\r\nsecond\r\nthird ");
  TCLMultiLangLan copy;
  lan.AssignTo(&copy);
  EXPECT_EQ(Get(copy, "TfrmMain", "lblInfo", "Caption"), "  first\r\nsecond\r\nthird ");
}

TEST(LanFlags, LazyParseAndRegeneration) {
  TCLMultiLangLan lan;
  EXPECT_TRUE(lan.ToApply());
  EXPECT_FALSE(lan.Modified());

  // SetData: the text form is replaced at once, parsed on the next use.
  TStringList sl;
  sl.Add("[TfrmA]");
  sl.Add("x=1");
  sl.Add("[TfrmB]");
  sl.Add("y=2");
  lan.SetData(sl);
  EXPECT_TRUE(lan.ToApply());
  EXPECT_EQ(lan.Data(), sl);
  EXPECT_EQ(Get(lan, "TfrmA", "", "x"), "1");
  EXPECT_FALSE(lan.ToApply());

  // ClearForm changes the parsed form only; the text form keeps the section
  // until it is regenerated.
  lan.ClearForm("tfrma");
  EXPECT_TRUE(lan.Modified());
  EXPECT_EQ(Get(lan, "TfrmA", "", "x"), "<unset>");
  EXPECT_TRUE(Contains(lan.ToString(), "[TfrmA]"));
  TCLMultiLangLan copy;
  lan.AssignTo(&copy);  // copies the text form as it stands
  EXPECT_EQ(Get(copy, "TfrmA", "", "x"), "1");
  lan.UpdateData();
  EXPECT_FALSE(lan.Modified());
  EXPECT_EQ(lan.ToString(), "[TfrmB]" + CRLF + "y=2" + CRLF + CRLF);

  // SetProp after ClearForm regenerates both changes.
  lan.ClearForm("TfrmB");
  lan.SetProp("TfrmC", "c", "Caption", "z");
  EXPECT_EQ(lan.ToString(), "[TfrmC]" + CRLF + "c.Caption=z" + CRLF + CRLF);
  // ClearForm after SetProp: the text still shows what SetProp produced.
  lan.SetProp("TfrmD", "", "d", "4");
  lan.ClearForm("TfrmC");
  EXPECT_EQ(lan.ToString(), "[TfrmC]" + CRLF + "c.Caption=z" + CRLF + CRLF + "[TfrmD]" + CRLF +
                                "d=4" + CRLF + CRLF);

  // Both flags set: the newer text wins over the unregenerated change.
  TStringList fresh;
  fresh.Add("[New]");
  fresh.Add("n=5");
  lan.SetData(fresh);
  EXPECT_TRUE(lan.ToApply());
  EXPECT_TRUE(lan.Modified());
  lan.UpdateData();
  EXPECT_EQ(lan.Data(), fresh);
  EXPECT_EQ(Get(lan, "New", "", "n"), "5");
  EXPECT_EQ(Get(lan, "TfrmD", "", "d"), "<unset>");
  EXPECT_FALSE(lan.ToApply());
  EXPECT_FALSE(lan.Modified());

  lan.ClearAll();
  EXPECT_EQ(lan.ToString(), "");
  EXPECT_EQ(Get(lan, "New", "", "n"), "<unset>");
}

TEST(LanSort, CanonicalOrder) {
  TCLMultiLangLan lan;
  lan.LoadFromString(
      "[TfrmZeta]\nb=2\nA=1\n"
      "[appres]\nZ=z\nAppName=Veilgate\n"
      "[Info]\nVersion=3\nLanguage=English\nTranslator=Me\n"
      "[TfrmEmpty]\n"
      "[tfrmAlpha]\nkey=old\nx=1\nKEY=new\nnameless line\n"
      "[LibRes]\nq=1\n"
      "[ResString]\nr=1\n"
      "[SkinRes]\nMSG_BTN_OK=OK\n");
  lan.SortData();
  EXPECT_FALSE(lan.Modified());
  // Reserved sections first in their fixed order, under their own names;
  // window sections sorted without regard to case; Info keeps its order;
  // the empty section is gone; of "key=old"/"KEY=new" the later in sorted
  // order wins, whatever their order in the file.
  EXPECT_EQ(lan.ToString(), "[Info]" + CRLF + "Version=3" + CRLF + "Language=English" + CRLF +
                                "Translator=Me" + CRLF + CRLF + "[SkinRes]" + CRLF +
                                "MSG_BTN_OK=OK" + CRLF + CRLF + "[LibRes]" + CRLF + "q=1" + CRLF +
                                CRLF + "[AppRes]" + CRLF + "AppName=Veilgate" + CRLF + "Z=z" +
                                CRLF + CRLF + "[ResString]" + CRLF + "r=1" + CRLF + CRLF +
                                "[tfrmAlpha]" + CRLF + "key=old" + CRLF + "x=1" + CRLF + CRLF +
                                "[TfrmZeta]" + CRLF + "A=1" + CRLF + "b=2" + CRLF + CRLF);
  EXPECT_EQ(Get(lan, "TfrmAlpha", "", "KEY"), "old");

  // Sorting is stable: a second sort changes nothing.
  const std::string once = lan.ToString();
  lan.SortData();
  EXPECT_EQ(lan.ToString(), once);

  // A reserved name that sorts last is placed without trouble.
  TCLMultiLangLan last;
  last.LoadFromString("[TfrmA]\na=1\n[SkinRes]\ns=1\n");
  last.SortData();
  EXPECT_EQ(last.ToString(),
            "[SkinRes]" + CRLF + "s=1" + CRLF + CRLF + "[TfrmA]" + CRLF + "a=1" + CRLF + CRLF);
}

TEST(LanSections, GetSectionStringsAndClearAllForm) {
  TCLMultiLangLan lan;
  lan.LoadFromString(
      "[Info]\nLanguage=English\n[BasicRes]\nb=1\n[SkinRes]\ns=1\n[LIBRES]\nl=1\n"
      "[AppRes]\nAppName=Veilgate\nMultiline=a<br>b\nEmpty=\nkeep=from file\n"
      "keep=duplicate\nnameless\n"
      "[ResString]\nr=1\n[TfrmMain]\nm=1\n");

  TStringList sl;
  sl.Add("Empty=was here");
  sl.Add("keep=before");
  sl.Add("unrelated=stays");
  lan.GetSectionStrings("appres", sl);
  EXPECT_EQ(sl.Values("unrelated"), "stays");
  EXPECT_EQ(sl.Values("keep"), "from file");  // replaced in place, first entry wins
  EXPECT_EQ(sl.IndexOfName("keep"), 0);       // "Empty" removed before it
  EXPECT_EQ(sl.IndexOfName("Empty"), -1);
  EXPECT_EQ(sl.Values("AppName"), "Veilgate");
  EXPECT_EQ(sl.Values("Multiline"), "a\r\nb");
  EXPECT_EQ(sl.Count(), 4);
  TStringList before = sl;
  lan.GetSectionStrings("NoSuchSection", sl);
  EXPECT_EQ(sl, before);

  lan.ClearAllForm();
  EXPECT_FALSE(lan.Modified());
  const std::string text = lan.ToString();
  EXPECT_FALSE(Contains(text, "ResString"));
  EXPECT_FALSE(Contains(text, "TfrmMain"));
  for (const char* kept : {"[Info]", "[BasicRes]", "[SkinRes]", "[LIBRES]", "[AppRes]"})
    EXPECT_TRUE(Contains(text, kept)) << kept;
  EXPECT_EQ(Get(lan, "LibRes", "", "l"), "1");
}

TEST(LanAssign, OnlyToAnotherLanguageFile) {
  TCLMultiLangLan src;
  src.LoadFromString("[AppRes]\nAppName=Veilgate\n");
  TCLMultiLangLan dest;
  dest.LoadFromString("[Other]\no=1\n");
  src.AssignTo(&dest);
  EXPECT_FALSE(dest.ToApply());  // parsed at once
  EXPECT_EQ(Get(dest, "AppRes", "", "AppName"), "Veilgate");
  EXPECT_EQ(Get(dest, "Other", "", "o"), "<unset>");

  // Other destinations are left alone.
  TCLPersistent other;
  src.AssignTo(&other);
  src.AssignTo(nullptr);
  TCLPersistent* asBase = &src;
  asBase->AssignTo(&dest);  // dispatches to the language file's own copy
  EXPECT_EQ(Get(dest, "AppRes", "", "AppName"), "Veilgate");
  other.AssignTo(&dest);
  EXPECT_EQ(Get(dest, "AppRes", "", "AppName"), "Veilgate");
}

class LanFileTest : public SandboxTest {};

TEST_F(LanFileTest, SaveAndLoadRoundTripKeepsEveryText) {
  TCLMultiLangLan lan;
  lan.SetProp("TfrmMain", "frmMain", "Caption", "Veilgate");
  lan.SetProp("TfrmMain", "lblInfo", "Caption", " indented\nsecond line ");
  lan.SetProp("AppRes", "", "AppName", "Veilgate");
  lan.SetProp("AppRes", "", "Greeting", "Grüße, 你好, \xF0\x9F\x98\x80");
  lan.SetProp("Info", "", "Language", "Deutsch");
  const std::string fn = sb().Path("lang/Test.lan");
  ASSERT_TRUE(platform::ForceDirectories(sb().Path("lang")));
  lan.SaveToFile(fn);
  EXPECT_FALSE(lan.Modified());

  // Sorted, CR LF line ends, ended by CR LF.
  std::string bytes = sb().ReadFile("lang/Test.lan");
  ASSERT_GE(bytes.size(), 2u);
  EXPECT_EQ(bytes.substr(bytes.size() - 2), CRLF);
  EXPECT_LT(bytes.find("[Info]"), bytes.find("[AppRes]"));
  EXPECT_LT(bytes.find("[AppRes]"), bytes.find("[TfrmMain]"));

  TCLMultiLangLan back;
  back.LoadFromFile(fn);
  EXPECT_EQ(Get(back, "TfrmMain", "lblInfo", "Caption"), " indented\r\nsecond line ");
  EXPECT_EQ(Get(back, "AppRes", "", "Greeting"), "Grüße, 你好, \xF0\x9F\x98\x80");
  EXPECT_EQ(Get(back, "Info", "", "Language"), "Deutsch");
  EXPECT_EQ(back.ToString(), lan.ToString());

  // An ASCII-only file is written as plain bytes without a byte-order mark.
  TCLMultiLangLan plain;
  plain.LoadFromString("[AppRes]\nAppName=Veilgate\n");
  plain.SaveToFile(fn);
  EXPECT_EQ(sb().ReadFile("lang/Test.lan"), "[AppRes]" + CRLF + "AppName=Veilgate" + CRLF + CRLF);
}

TEST_F(LanFileTest, ClearFormReachesTheSavedFile) {
  TCLMultiLangLan lan;
  lan.LoadFromString("[TfrmA]\na=1\n[TfrmB]\nb=2\n");
  lan.ClearForm("TfrmA");
  EXPECT_TRUE(Contains(lan.ToString(), "[TfrmA]"));
  lan.SaveToFile(sb().Path("out.lan"));
  EXPECT_EQ(sb().ReadFile("out.lan"), "[TfrmB]" + CRLF + "b=2" + CRLF + CRLF);
}

TEST_F(LanFileTest, ByteOrderMarks) {
  // UTF-8 with BOM.
  sb().WriteFile("u8.lan",
                 "\xEF\xBB\xBF[AppRes]\r\nText=Gr\xC3\xBC\xC3\x9F"
                 "e\r\n");
  TCLMultiLangLan lan;
  lan.LoadFromFile(sb().Path("u8.lan"));
  EXPECT_EQ(Get(lan, "AppRes", "", "Text"), "Grüße");

  // UTF-16 LE and BE, the same content.
  for (bool be : {false, true}) {
    sb().WriteFile("u16.lan", Utf16("[Info]\r\nLanguage=English\nVersion=2\r", be));
    TCLMultiLangLan l16;
    l16.LoadFromFile(sb().Path("u16.lan"));
    EXPECT_EQ(Get(l16, "Info", "", "Language"), "English") << be;
    EXPECT_EQ(Get(l16, "Info", "", "Version"), "2") << be;
  }

  // Non-ASCII UTF-16: a BMP letter, a surrogate pair, an unpaired high and an
  // unpaired low surrogate, and an odd trailing byte.
  std::string le = Utf16("[A]\nt=", false);
  le += std::string("\xFC\x00", 2);               // ü
  le += std::string("\x3D\xD8\x00\xDE", 4);       // U+1F600
  le += std::string("\x00\xD8", 2) + "x" + '\0';  // unpaired high, then "x"
  le += std::string("\x00\xDC", 2);               // unpaired low
  le += "\x41";                                   // odd byte, dropped
  sb().WriteFile("bad16.lan", le);
  TCLMultiLangLan bad;
  ASSERT_NO_THROW(bad.LoadFromFile(sb().Path("bad16.lan")));
  EXPECT_EQ(Get(bad, "A", "", "t"), "ü\xF0\x9F\x98\x80\xEF\xBF\xBDx\xEF\xBF\xBD");

  std::string be = Utf16("[A]\nt=", true) + std::string("\x00\xFC", 2) + "\x01";
  sb().WriteFile("be16.lan", be);
  TCLMultiLangLan lbe;
  lbe.LoadFromFile(sb().Path("be16.lan"));
  EXPECT_EQ(Get(lbe, "A", "", "t"), "ü");

  // A high surrogate as the very last unit has no partner to read.
  sb().WriteFile("end16.lan", Utf16("[A]\nt=x", false) + std::string("\x3D\xD8", 2));
  TCLMultiLangLan end;
  end.LoadFromFile(sb().Path("end16.lan"));
  EXPECT_EQ(Get(end, "A", "", "t"), "x\xEF\xBF\xBD");

  // Only a byte-order mark, or a single byte after one: empty, no crash.
  for (const std::string& tiny :
       {std::string("\xFF\xFE"), std::string("\xFE\xFF\x00", 3), std::string("\xEF\xBB\xBF")}) {
    sb().WriteFile("tiny.lan", tiny);
    TCLMultiLangLan t;
    t.LoadFromFile(sb().Path("tiny.lan"));
    EXPECT_EQ(t.Data().Count(), 0);
  }
}

TEST_F(LanFileTest, ReadAndWriteFailuresKeepContent) {
  TCLMultiLangLan lan;
  lan.LoadFromString("[AppRes]\nAppName=Veilgate\n");
  const std::string before = lan.ToString();
  try {
    lan.LoadFromFile(sb().Path("missing.lan"));
    FAIL() << "no error for a missing file";
  } catch (const EFileError& e) {
    EXPECT_TRUE(Contains(e.what(), "missing.lan")) << e.what();
  }
  EXPECT_EQ(lan.ToString(), before);
  EXPECT_EQ(Get(lan, "AppRes", "", "AppName"), "Veilgate");

  // A folder cannot be loaded as a file either.
  EXPECT_THROW(lan.LoadFromFile(sb().Root()), EFileError);
  EXPECT_EQ(Get(lan, "AppRes", "", "AppName"), "Veilgate");

  // Writing into a folder that does not exist fails with an error, and the
  // instance has already been sorted.
  lan.SetProp("TfrmX", "", "x", "1");
  lan.SetProp("Info", "", "Language", "English");
  EXPECT_THROW(lan.SaveToFile(sb().Path("no/such/folder/x.lan")), EFileError);
  EXPECT_EQ(lan.ToString().rfind("[Info]", 0), 0u);

  // A failed save leaves the existing file untouched.
  sb().WriteFile("keep.lan", "[AppRes]\r\nAppName=Old\r\n");
  EXPECT_THROW(lan.SaveToFile(sb().Path("keep.lan/sub.lan")), EFileError);
  EXPECT_EQ(sb().ReadFile("keep.lan"), "[AppRes]\r\nAppName=Old\r\n");
}
