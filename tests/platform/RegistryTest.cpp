// These tests check the posix registry emulation and its backing files; the
// real registry is tested in tests/platform/win32.
#ifndef _WIN32

#include "platform/Registry.h"

#include <gtest/gtest.h>

#include "platform/Files.h"
#include "support/Sandbox.h"
#include "ProcessSignal.h"

using platform::RegRoot;

namespace {

const RegRoot kHKCU = RegRoot::CurrentUser;
using V = std::vector<std::string>;

std::string BackingText(RegRoot root) {
  std::string text;
  platform::ReadWholeFile(platform::RegBackingFile(root), text);
  return text;
}

// A value of the current user's key as read back; "<absent>" when it is
// missing or has the other type.
std::string StringAt(const std::string& key, const std::string& name) {
  std::string value;
  return platform::RegReadString(kHKCU, key, name, value) ? value : "<absent>";
}
std::string DwordAt(const std::string& key, const std::string& name) {
  uint32_t value = 0;
  return platform::RegReadDword(kHKCU, key, name, value) ? std::to_string(value) : "<absent>";
}

class RegistryTest : public SandboxTest {};

TEST_F(RegistryTest, ValuesRoundTripAndTypesStayApart) {
  ASSERT_TRUE(platform::RegWriteString(kHKCU, "Software\\Veilgate", "Path", "C:\\a \"b\"\\"));
  ASSERT_TRUE(platform::RegWriteDword(kHKCU, "Software\\Veilgate", "Count", 0xDEADBEEF));
  ASSERT_TRUE(platform::RegWriteString(kHKCU, "Software\\Veilgate", "", "default text"));
  ASSERT_TRUE(platform::RegWriteString(kHKCU, "Software\\Veilgate", "Lines", "one\ntwo\r\n"));

  std::string s;
  uint32_t n = 0;
  EXPECT_EQ(StringAt("Software\\Veilgate", "Path"), "C:\\a \"b\"\\");
  EXPECT_EQ(DwordAt("Software\\Veilgate", "Count"), std::to_string(0xDEADBEEFu));
  EXPECT_EQ(StringAt("Software\\Veilgate", ""), "default text");
  EXPECT_EQ(StringAt("Software\\Veilgate", "Lines"), "one\ntwo\r\n");

  // A number is not text and text is not a number; missing things are missing.
  EXPECT_FALSE(platform::RegReadString(kHKCU, "Software\\Veilgate", "Count", s));
  EXPECT_FALSE(platform::RegReadDword(kHKCU, "Software\\Veilgate", "Path", n));
  EXPECT_FALSE(platform::RegReadString(kHKCU, "Software\\Veilgate", "Nope", s));
  EXPECT_FALSE(platform::RegReadString(kHKCU, "Software\\Other", "Path", s));

  // Overwriting changes the type.
  ASSERT_TRUE(platform::RegWriteDword(kHKCU, "Software\\Veilgate", "Path", 7));
  EXPECT_EQ(DwordAt("Software\\Veilgate", "Path"), std::to_string(7u));

  // Other roots are other files.
  EXPECT_FALSE(platform::RegReadDword(RegRoot::Users, "Software\\Veilgate", "Path", n));
  EXPECT_NE(platform::RegBackingFile(kHKCU), platform::RegBackingFile(RegRoot::Users));
}

TEST_F(RegistryTest, BackingFileIsRegedit4Text) {
  ASSERT_TRUE(platform::RegWriteString(kHKCU, "Software\\Veilgate", "Path", "C:\\x\"y"));
  ASSERT_TRUE(platform::RegWriteDword(kHKCU, "Software\\Veilgate", "Count", 10));
  ASSERT_TRUE(platform::RegWriteString(kHKCU, "Software\\Veilgate", "", "dflt"));

  EXPECT_EQ(platform::RegBackingFile(kHKCU),
            sb().Path("data/veilgate/registry/HKEY_CURRENT_USER.reg"));
  std::string text = BackingText(kHKCU);
  EXPECT_EQ(text.rfind("REGEDIT4\n", 0), 0u) << text;
  EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software]\n"), std::string::npos) << text;
  EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software\\Veilgate]\n"
                      "\"Path\"=\"C:\\\\x\\\"y\"\n"
                      "\"Count\"=dword:0000000a\n"
                      "@=\"dflt\"\n"),
            std::string::npos)
      << text;
  // A line break inside a value cannot split the entry.
  ASSERT_TRUE(platform::RegWriteString(kHKCU, "Software\\Veilgate", "Multi", "a\n[HKEY_USERS]"));
  text = BackingText(kHKCU);
  EXPECT_EQ(text.find("\n[HKEY_USERS]"), std::string::npos) << text;
  // No temporary files are left beside the registry files.
  V files = platform::ListFiles(sb().Path("data/veilgate/registry"), "*");
  for (const std::string& f : files) EXPECT_TRUE(f.find("tmp") == std::string::npos) << f;
}

TEST_F(RegistryTest, NamesIgnoreCaseAndKeepFirstSpelling) {
  ASSERT_TRUE(platform::RegWriteString(kHKCU, "Software\\MyApp", "Value", "1"));
  ASSERT_TRUE(platform::RegWriteString(kHKCU, "SOFTWARE\\myapp\\", "VALUE", "2"));
  ASSERT_TRUE(platform::RegWriteString(kHKCU, "\\software\\MYAPP\\Sub", "x", "3"));

  EXPECT_EQ(StringAt("sOfTwArE\\MyApP", "vAlUe"), "2");
  EXPECT_TRUE(platform::RegKeyExists(kHKCU, "software\\myapp\\sub"));
  EXPECT_EQ(platform::RegEnumValueNames(kHKCU, "Software\\MyApp"), V{"Value"});
  EXPECT_EQ(platform::RegEnumSubKeys(kHKCU, "Software"), V{"MyApp"});
  EXPECT_EQ(platform::RegEnumSubKeys(kHKCU, "software\\MYAPP"), V{"Sub"});

  std::string text = BackingText(kHKCU);
  EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software\\MyApp\\Sub]"), std::string::npos) << text;
  EXPECT_EQ(text.find("SOFTWARE"), std::string::npos) << text;
  EXPECT_EQ(text.find("\"VALUE\""), std::string::npos) << text;
}

TEST_F(RegistryTest, KeysAndValuesAreCreatedEnumeratedAndDeleted) {
  EXPECT_FALSE(platform::RegKeyExists(kHKCU, "A"));
  ASSERT_TRUE(platform::RegCreateKey(kHKCU, "A\\B\\C"));
  EXPECT_TRUE(platform::RegKeyExists(kHKCU, "A"));
  EXPECT_TRUE(platform::RegKeyExists(kHKCU, "A\\B\\C"));
  ASSERT_TRUE(platform::RegWriteString(kHKCU, "A\\Z", "v1", "x"));
  ASSERT_TRUE(platform::RegWriteString(kHKCU, "A\\Z", "v2", "y"));
  ASSERT_TRUE(platform::RegWriteString(kHKCU, "A\\B\\C", "deep", "z"));
  ASSERT_TRUE(platform::RegWriteString(kHKCU, "AB", "sibling", "keep"));
  EXPECT_EQ(platform::RegEnumSubKeys(kHKCU, "A"), (V{"B", "Z"}));
  EXPECT_EQ(platform::RegEnumValueNames(kHKCU, "A\\Z"), (V{"v1", "v2"}));
  EXPECT_TRUE(platform::RegEnumValueNames(kHKCU, "Missing").empty());

  EXPECT_TRUE(platform::RegDeleteValue(kHKCU, "A\\Z", "V1"));
  EXPECT_FALSE(platform::RegDeleteValue(kHKCU, "A\\Z", "v1"));
  EXPECT_FALSE(platform::RegDeleteValue(kHKCU, "Missing", "v1"));
  EXPECT_EQ(platform::RegEnumValueNames(kHKCU, "A\\Z"), V{"v2"});

  // Deleting a key takes its subkeys, but not a key that merely shares the prefix.
  EXPECT_TRUE(platform::RegDeleteKey(kHKCU, "a\\b"));
  EXPECT_FALSE(platform::RegKeyExists(kHKCU, "A\\B\\C"));
  std::string s;
  EXPECT_FALSE(platform::RegReadString(kHKCU, "A\\B\\C", "deep", s));
  EXPECT_TRUE(platform::RegKeyExists(kHKCU, "A\\Z"));
  EXPECT_FALSE(platform::RegDeleteKey(kHKCU, "A\\B"));
  EXPECT_TRUE(platform::RegDeleteKey(kHKCU, "A"));
  EXPECT_EQ(StringAt("AB", "sibling"), "keep");
  EXPECT_FALSE(platform::RegDeleteKey(kHKCU, ""));  // the root itself stays
}

TEST_F(RegistryTest, CorruptFileReadsWhatCanBeParsed) {
  std::string path = platform::RegBackingFile(kHKCU);
  ASSERT_TRUE(platform::ForceDirectories(path.substr(0, path.rfind('/'))));
  std::string junk =
      "garbage first line\r\n"
      "\"orphan\"=\"before any key\"\r\n"
      "[HKEY_CURRENT_USER\\Good]\r\n"
      "\"ok\"=\"yes\"\r\n"
      "\"unterminated=\"no\r\n"
      "\"badnum\"=dword:xyz\r\n"
      "\"toolong\"=dword:123456789\r\n"
      "\"bin\"=hex:01,02,\\\r\n"
      "  03\r\n"
      "\"num\"=dword:0000002A\r\n"
      "[HKEY_LOCAL_MACHINE\\Elsewhere]\r\n"
      "\"foreign\"=\"x\"\r\n"
      "[HKEY_CURRENT_USER\\Broken\r\n"
      "\"lost\"=\"x\"\r\n";
  junk += std::string("\0\xff\xfe[\"", 5);
  ASSERT_TRUE(platform::WriteWholeFile(path, junk));

  std::string s;
  uint32_t n = 0;
  EXPECT_EQ(StringAt("Good", "ok"), "yes");
  EXPECT_EQ(DwordAt("Good", "num"), std::to_string(42u));
  EXPECT_FALSE(platform::RegReadString(kHKCU, "Good", "unterminated", s));
  EXPECT_FALSE(platform::RegReadDword(kHKCU, "Good", "badnum", n));
  EXPECT_FALSE(platform::RegReadDword(kHKCU, "Good", "toolong", n));
  EXPECT_FALSE(platform::RegKeyExists(kHKCU, "Elsewhere"));

  // Writing keeps what was readable, including values of other types.
  ASSERT_TRUE(platform::RegWriteString(kHKCU, "Good", "new", "1"));
  EXPECT_EQ(StringAt("Good", "ok"), "yes");
  EXPECT_EQ(platform::RegEnumValueNames(kHKCU, "Good"), (V{"ok", "bin", "num", "new"}));
  EXPECT_NE(BackingText(kHKCU).find("\"bin\"=hex:01,02,03\n"), std::string::npos);

  // Entirely binary content reads as empty and can be overwritten.
  ASSERT_TRUE(platform::WriteWholeFile(path, std::string("\x00\x01\x02[[[\"\"\"=", 10)));
  EXPECT_TRUE(platform::RegEnumSubKeys(kHKCU, "").empty());
  EXPECT_TRUE(platform::RegWriteDword(kHKCU, "K", "v", 1));
  EXPECT_TRUE(platform::RegReadDword(kHKCU, "K", "v", n));
}

TEST_F(RegistryTest, ConcurrentProcessesDoNotLoseWrites) {
  constexpr int kChildren = 4;
  constexpr int kWrites = 40;
  std::vector<pid_t> pids;
  for (int c = 0; c < kChildren; ++c) {
    pids.push_back(testsupport::ForkChild([c] {
      for (int i = 0; i < kWrites; ++i) {
        if (!platform::RegWriteDword(RegRoot::CurrentUser, "Software\\Race",
                                     "c" + std::to_string(c) + "_" + std::to_string(i),
                                     static_cast<uint32_t>(c * 1000 + i)))
          return 1;
      }
      return 0;
    }));
  }
  for (pid_t pid : pids) EXPECT_EQ(testsupport::WaitChild(pid), 0);

  EXPECT_EQ(platform::RegEnumValueNames(kHKCU, "Software\\Race").size(),
            static_cast<size_t>(kChildren * kWrites));
  for (int c = 0; c < kChildren; ++c) {
    for (int i = 0; i < kWrites; ++i) {
      uint32_t n = 0;
      ASSERT_TRUE(platform::RegReadDword(kHKCU, "Software\\Race",
                                         "c" + std::to_string(c) + "_" + std::to_string(i), n));
      EXPECT_EQ(n, static_cast<uint32_t>(c * 1000 + i));
    }
  }
}

TEST_F(RegistryTest, ChangesByAnotherProcessAreSeen) {
  ASSERT_TRUE(platform::RegWriteString(kHKCU, "K", "v", "before"));
  std::string s;
  ASSERT_TRUE(platform::RegReadString(kHKCU, "K", "v", s));
  pid_t pid = testsupport::ForkChild(
      [] { return platform::RegWriteString(RegRoot::CurrentUser, "K", "v", "after!") ? 0 : 1; });
  ASSERT_EQ(testsupport::WaitChild(pid), 0);
  ASSERT_TRUE(platform::RegReadString(kHKCU, "K", "v", s));
  EXPECT_EQ(s, "after!");
}

}  // namespace

#endif  // _WIN32
