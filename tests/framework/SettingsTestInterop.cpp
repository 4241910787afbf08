// The settings files are plain INI files that other tools read and write:
// Python's configparser stands in for them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <string>

#include "SettingsTestHelpers.h"

namespace {

const char* const kDumpScript = R"PY(
import configparser, sys
cp = configparser.ConfigParser(interpolation=None, delimiters=('=',),
                               comment_prefixes=(';',), strict=False)
cp.optionxform = str
with open(sys.argv[1], encoding='utf-8') as f:
    cp.read_file(f)
with open(sys.argv[2], 'w', encoding='utf-8', newline='') as out:
    for section in cp.sections():
        for key, value in cp.items(section):
            out.write(section + '\x1f' + key + '\x1f' + value + '\n')
)PY";

const char* const kWriteScript = R"PY(
import configparser, sys
cp = configparser.ConfigParser(interpolation=None)
cp.optionxform = str
cp['setting'] = {'App.Name': 'Written by Python', 'Percent': '100% sure',
                 'Url': 'http://127.0.0.1:8080/a?b=c', 'Unicode': 'Gr\u00fc\u00dfe',
                 'Empty': '', 'Mixed.Case': 'Yes'}
cp['ShowAgain'] = {'12': '0'}
with open(sys.argv[1], 'w', encoding='utf-8') as f:
    cp.write(f)
)PY";

class SettingsInteropTest : public SettingsStoreTest {
 protected:
  void SetUp() override {
    SettingsStoreTest::SetUp();
    if (std::system("python3 -c 'import configparser' >/dev/null 2>&1") != 0)
      GTEST_SKIP() << "python3 is not available";
    Put(sb().Path("dump.py"), kDumpScript);
    Put(sb().Path("write.py"), kWriteScript);
  }
  // Runs a script; false when python reports an error.
  bool Python(const std::string& script, const std::string& args) {
    std::string cmd =
        "python3 '" + sb().Path(script) + "' " + args + " 2>'" + sb().Path("python.err") + "'";
    bool ok = std::system(cmd.c_str()) == 0;
    if (!ok) ADD_FAILURE() << Slurp(sb().Path("python.err"));
    return ok;
  }
  // What configparser sees in a file: "section|name|value" lines.
  std::set<std::string> PythonView(const std::string& file) {
    std::set<std::string> lines;
    if (!Python("dump.py", "'" + file + "' '" + sb().Path("dump.txt") + "'")) return lines;
    std::string text = Slurp(sb().Path("dump.txt"));
    size_t pos = 0;
    while (pos < text.size()) {
      size_t nl = text.find('\n', pos);
      std::string line = text.substr(pos, nl - pos);
      for (char& c : line)
        if (c == '\x1f') c = '|';
      lines.insert(line);
      pos = nl == std::string::npos ? text.size() : nl + 1;
    }
    return lines;
  }
  // What the store's file format sees in a file, in the same form.
  static std::set<std::string> OwnView(const std::string& file) {
    std::set<std::string> lines;
    TCLMemIniFile ini(file);
    for (const std::string& section : ini.SectionNames())
      for (const auto& [name, value] : ini.SectionValues(section))
        lines.insert(section + "|" + name + "|" + value);
    return lines;
  }
};

TEST_F(SettingsInteropTest, ConfigparserReadsWhatTheStoreWrites) {
  TCLSettings s;
  s.SetSettingstring("App.Name", "Veilgate");
  s.SetSettingstring("Percent", "50% off %(name)s");
  s.SetSettingstring("Equals", "a=b=c");
  s.SetSettingstring("Semicolon", "x ; not a comment");
  s.SetSettingstring("Hash", "#not a comment either");
  s.SetSettingstring("Empty", "");
  s.SetSettingstring("Unicode", "Grüße");
  s.SetSettingstring("Padded", "   trimmed   ");
  s.SetSettingRect("Window", TRect{1, 2, 3, 4});
  s.SetMessageShowAgainFlag(7, false);
  s.SetMessageShowAgainResult(7, 6);

  const std::set<std::string> py = PythonView(s.SettingFilePath());
  EXPECT_EQ(py, OwnView(s.SettingFilePath()));
  for (const char* expected :
       {"setting|App.Name|Veilgate", "setting|Percent|50% off %(name)s", "setting|Equals|a=b=c",
        "setting|Semicolon|x ; not a comment", "setting|Hash|#not a comment either",
        "setting|Empty|", "setting|Unicode|Grüße", "setting|Padded|trimmed",
        "setting|Window|1,2,3,4", "setting|RunTimes|1", "ShowAgain|7|0",
        "ShowAgainModuleResult|7|6"})
    EXPECT_EQ(py.count(expected), 1u) << expected;
}

TEST_F(SettingsInteropTest, StoreReadsWhatConfigparserWrites) {
  // Python writes both the supplied file and the user file ("key = value").
  platform::ForceDirectories(AllUsersFolder());
  ASSERT_TRUE(Python("write.py", "'" + sb().AppDir() + "const.dat'"));
  ASSERT_TRUE(Python("write.py", "'" + AllUsersFolder() + "setting.dat'"));
  Put(AllUsersFolder() + "setting.dat",
      Slurp(AllUsersFolder() + "setting.dat") + "[setting]\nLateOnly = still read\n");

  TCLSettings s;
  EXPECT_EQ(s.GetSettingString("app.name"), "Written by Python");
  EXPECT_EQ(s.GetSettingString("Percent"), "100% sure");
  EXPECT_EQ(s.GetSettingString("Url"), "http://127.0.0.1:8080/a?b=c");
  EXPECT_EQ(s.GetSettingString("Unicode"), "Grüße");
  EXPECT_TRUE(s.GetSettingExists("Empty"));
  EXPECT_FALSE(s.GetSettingBool("MIXED.CASE"));  // a word, not a number
  EXPECT_FALSE(s.GetMessageShowAgainFlag(12));
  EXPECT_EQ(s.GetSettingString("LateOnly"), "still read");

  // After the store rewrote the file, Python still reads the same values.
  const std::set<std::string> py = PythonView(s.SettingFilePath());
  EXPECT_EQ(py.count("setting|App.Name|Written by Python"), 1u);
  EXPECT_EQ(py.count("setting|Unicode|Grüße"), 1u);
  EXPECT_EQ(py.count("setting|RunTimes|1"), 1u);
  EXPECT_EQ(py.count("ShowAgain|12|0"), 1u);
  EXPECT_EQ(py, OwnView(s.SettingFilePath()));
}

}  // namespace
