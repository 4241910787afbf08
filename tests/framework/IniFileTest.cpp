#include <gtest/gtest.h>

#include <random>
#include <string>

#include "framework/CLIniFile.h"
#include "platform/Files.h"
#include "support/Sandbox.h"

namespace {

TEST(IniFileTest, ParsesTheFileFormat) {
  TCLMemIniFile ini;
  ini.SetText(
      "stray=before any section\r\n"
      "  ; a comment\n"
      "\t[ Setting ]  \r"
      "  Name  =  some value  \r\n"
      "Url=http://host/a?b=c&d=e\n"
      "no equals sign here\n"
      "=no name\n"
      "Empty=\n"
      "name=second line of the same name\n"
      "[Other]\n"
      "x=1\n"
      "[SETTING]\n"
      "later=in a repeated header\n");

  // Names and values are trimmed; the first "=" splits; case does not matter.
  EXPECT_EQ(ini.ReadString("setting", "NAME", "?"), "some value");
  EXPECT_EQ(ini.ReadString("setting", "url", "?"), "http://host/a?b=c&d=e");
  // Present with an empty value is present.
  ASSERT_NE(ini.Find("setting", "empty"), nullptr);
  EXPECT_EQ(*ini.Find("setting", "empty"), "");
  // Lines before a section, comments, lines without a name or "=" carry nothing.
  EXPECT_FALSE(ini.ValueExists("setting", "stray"));
  EXPECT_FALSE(ini.ValueExists("setting", "no equals sign here"));
  EXPECT_FALSE(ini.ValueExists("setting", ""));
  // A repeated header continues the first section of that name.
  EXPECT_EQ(ini.ReadString("Setting", "later", "?"), "in a repeated header");
  EXPECT_EQ(ini.SectionNames(), (std::vector<std::string>{"Setting", "Other"}));

  // Written form: one header per section, its lines in order, one empty line;
  // both lines of a repeated name are kept and the first still wins.
  EXPECT_EQ(ini.GetText(),
            "[Setting]\r\n"
            "Name=some value\r\n"
            "Url=http://host/a?b=c&d=e\r\n"
            "Empty=\r\n"
            "name=second line of the same name\r\n"
            "later=in a repeated header\r\n"
            "\r\n"
            "[Other]\r\n"
            "x=1\r\n"
            "\r\n");
}

TEST(IniFileTest, ChangesKeepOrderAndStayOneLine) {
  TCLMemIniFile ini;
  ini.SetText("[a]\nx=1\ny=2\nX=dup\nz=3\n");
  ini.WriteString("A", "Y", "two");  // replaces in place, keeps the stored name
  ini.WriteString("a", "w", "new");  // appended at the end of its section
  ini.WriteString("b", "k", "v");    // new section at the end
  EXPECT_EQ(ini.GetText(),
            "[a]\r\nx=1\r\ny=two\r\nX=dup\r\nz=3\r\nw=new\r\n\r\n[b]\r\nk=v\r\n\r\n");

  // Deleting a name removes all of its lines and the index follows.
  ini.DeleteKey("a", "x");
  EXPECT_FALSE(ini.ValueExists("a", "x"));
  EXPECT_EQ(ini.ReadString("a", "z", "?"), "3");
  EXPECT_EQ(ini.ReadString("a", "w", "?"), "new");
  ini.EraseSection("A");
  EXPECT_FALSE(ini.SectionExists("a"));
  EXPECT_EQ(ini.ReadString("b", "k", "?"), "v");

  // A line break inside a value or name would start a new line, even a new
  // section, on the next read: it is stored as a space.
  ini.WriteString("b", "inject", "one\r\n[evil]\nx=2");
  ini.WriteString("b", "na\nme", "v");
  TCLMemIniFile again;
  again.SetText(ini.GetText());
  EXPECT_FALSE(again.SectionExists("evil"));
  EXPECT_EQ(again.ReadString("b", "inject", "?"), "one  [evil] x=2");
  EXPECT_EQ(again.ReadString("b", "na me", "?"), "v");
  EXPECT_EQ(again.GetText(), ini.GetText());
}

TEST(IniFileTest, TypedReadsUseTheirDefaults) {
  TCLMemIniFile ini;
  ini.SetText("[s]\nhex=$1F\nhex2=0x10\nneg=-5\nword=true\nempty=\n");
  EXPECT_EQ(ini.ReadInteger("s", "hex", 0), 31);
  EXPECT_EQ(ini.ReadInteger("s", "hex2", 0), 16);
  EXPECT_EQ(ini.ReadInteger("s", "neg", 0), -5);
  EXPECT_EQ(ini.ReadInteger("s", "word", 7), 7);
  EXPECT_EQ(ini.ReadInteger("s", "empty", 7), 7);
  EXPECT_EQ(ini.ReadInteger("s", "missing", 7), 7);
  EXPECT_TRUE(ini.ReadBool("s", "missing", true));
  EXPECT_TRUE(ini.ReadBool("s", "word", true));
  EXPECT_FALSE(ini.ReadBool("s", "word", false));
  EXPECT_TRUE(ini.ReadBool("s", "neg", false));
}

TEST(IniFileTest, ManyNamesAreAllFoundWithoutRegardToCase) {
  // Enough names to make the hash indexes grow several times.
  TCLMemIniFile ini;
  for (int s = 0; s < 40; ++s)
    for (int i = 0; i < 500; ++i)
      ini.WriteString("Sec" + std::to_string(s), "Name.Key" + std::to_string(i),
                      std::to_string(s * 1000 + i));
  int wrong = 0;
  for (int s = 0; s < 40; ++s)
    for (int i = 0; i < 500; ++i) {
      const std::string* v = ini.Find("SEC" + std::to_string(s), "name.KEY" + std::to_string(i));
      if (!v || *v != std::to_string(s * 1000 + i)) ++wrong;
    }
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(ini.Find("sec0", "name.key500"), nullptr);
  EXPECT_EQ(ini.Find("sec40", "name.key1"), nullptr);
}

class IniFileDiskTest : public SandboxTest {};

TEST_F(IniFileDiskTest, WritesWholeFileAndReadsItBack) {
  const std::string path = sb().Path("data/test.ini");
  platform::ForceDirectories(sb().Path("data"));
  {
    TCLMemIniFile ini(path);  // missing file: empty document
    EXPECT_TRUE(ini.SectionNames().empty());
    ini.WriteString("setting", "A", "1");
    ini.WriteString("setting", "B", "text with spaces");
    std::string error;
    ASSERT_TRUE(ini.UpdateFile(&error)) << error;
  }
  EXPECT_EQ(sb().ReadFile("data/test.ini"), "[setting]\r\nA=1\r\nB=text with spaces\r\n\r\n");

  TCLMemIniFile ini(path);
  EXPECT_EQ(ini.ReadString("setting", "b", "?"), "text with spaces");
  ini.WriteString("setting", "A", "unsaved");
  ASSERT_TRUE(ini.Reload());  // drops the unsaved change
  EXPECT_EQ(ini.ReadString("setting", "a", "?"), "1");
}

TEST_F(IniFileDiskTest, FailedWriteSaysWhyAndKeepsTheOldFile) {
  // The target name is taken by a folder, so the rename cannot replace it.
  platform::ForceDirectories(sb().Path("data/taken.ini"));
  TCLMemIniFile ini(sb().Path("data/taken.ini"));
  ini.WriteString("s", "a", "1");
  std::string error;
  EXPECT_FALSE(ini.UpdateFile(&error));
  EXPECT_NE(error.find("taken.ini"), std::string::npos) << error;
  EXPECT_TRUE(platform::DirectoryExists(sb().Path("data/taken.ini")));

  // A folder that does not exist.
  TCLMemIniFile nowhere(sb().Path("missing/folder/x.ini"));
  nowhere.WriteString("s", "a", "1");
  EXPECT_FALSE(nowhere.UpdateFile(&error));
  EXPECT_FALSE(error.empty());
}

TEST_F(IniFileDiskTest, BinaryJunkParsesAndRewritesStably) {
  std::mt19937 rng(1234);
  std::string junk(256 * 1024, '\0');
  for (char& c : junk) c = static_cast<char>(rng() & 0xFF);
  // Some structure inside the junk, so that sections and values appear.
  junk.replace(1000, 20, "\n[setting]\nKey=Val\n");
  const std::string path = sb().Path("junk.ini");
  platform::WriteWholeFile(path, junk);

  TCLMemIniFile ini(path);
  EXPECT_EQ(ini.ReadString("setting", "key", "?"), "Val");
  // Whatever was understood is written and reads back the same.
  ASSERT_TRUE(ini.UpdateFile());
  TCLMemIniFile again(path);
  EXPECT_EQ(again.GetText(), ini.GetText());
}

}  // namespace
