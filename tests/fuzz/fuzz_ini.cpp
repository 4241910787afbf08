// The in-memory INI file of the settings store.
//  1. Any text parses; writing the parsed document and parsing that again
//     gives the same document (the written form is a fixed point).
//  2. A run of changes driven by the input (write, delete a name, erase a
//     section, reparse) keeps the hash indexes in step with the lines: every
//     lookup equals a plain first-match scan of the written text.
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "framework/CLIniFile.h"

namespace {

struct Entry {
  std::string name, value;
};
struct Section {
  std::string name;
  std::vector<Entry> entries;
};

// The document as the written text shows it, read line by line.
std::vector<Section> ScanWritten(const std::string& text) {
  std::vector<Section> secs;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find("\r\n", pos);
    FUZZ_CHECK(end != std::string::npos, "written text does not end its lines with CR LF");
    std::string line = text.substr(pos, end - pos);
    pos = end + 2;
    if (line.empty()) continue;
    if (line.front() == '[' && line.back() == ']') {
      secs.push_back(Section{line.substr(1, line.size() - 2), {}});
      continue;
    }
    FUZZ_CHECK(!secs.empty(), "value line before the first section: " + line);
    size_t eq = line.find('=');
    FUZZ_CHECK(eq != std::string::npos, "written line without '=': " + line);
    secs.back().entries.push_back(Entry{line.substr(0, eq), line.substr(eq + 1)});
  }
  return secs;
}

const std::string* ScanFind(const std::vector<Section>& secs, const std::string& sec,
                            const std::string& name) {
  for (const Section& s : secs) {
    if (!fuzz::SameAscii(s.name, sec)) continue;
    for (const Entry& e : s.entries)
      if (fuzz::SameAscii(e.name, name)) return &e.value;
    return nullptr;  // the first section of that name answers
  }
  return nullptr;
}

// Names the change runs use: a handful, in several letter cases, so that
// collisions, case folding and repeated names all occur.
const char* const kSections[] = {"setting", "SETTING", "ShowAgain", "x", "", "Flag"};
const char* const kNames[] = {"a", "A", "b", "RunTimes", "runtimes", "", "k.1", "Language"};

void CheckLookups(const TCLMemIniFile& ini) {
  const std::string text = ini.GetText();
  const std::vector<Section> secs = ScanWritten(text);
  for (const char* s : kSections)
    for (const char* n : kNames) {
      const std::string* got = ini.Find(s, n);
      const std::string* want = ScanFind(secs, s, n);
      FUZZ_CHECK((got == nullptr) == (want == nullptr),
                 std::string("lookup presence differs for [") + s + "] " + n);
      if (got) FUZZ_CHECK(*got == *want, std::string("lookup value differs for ") + n);
    }
  // Every section the text shows is found under its own name.
  for (const Section& s : secs) FUZZ_CHECK(ini.SectionExists(s.name), "section lost: " + s.name);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Reader in(data, size);
  const uint8_t mode = in.Byte();

  if ((mode & 1) == 0) {
    // 1. Parse, write, parse, write.
    TCLMemIniFile ini;
    ini.SetText(in.Rest());
    const std::string once = ini.GetText();
    TCLMemIniFile again;
    again.SetText(once);
    FUZZ_CHECK(again.GetText() == once, "written form is not stable");
    CheckLookups(ini);
    // Typed reads never fail.
    for (const auto& name : ini.SectionNames())
      for (const auto& [n, v] : ini.SectionValues(name)) {
        (void)ini.ReadInteger(name, n, 7);
        (void)ini.ReadBool(name, n, true);
      }
    return 0;
  }

  // 2. Changes.
  TCLMemIniFile ini;
  ini.SetText(in.Piece(0));
  int steps = 0;
  while (!in.Empty() && steps++ < 64) {
    const uint8_t op = in.Byte();
    const char* sec = kSections[(op >> 2) % (sizeof kSections / sizeof *kSections)];
    const char* name = kNames[in.Byte() % (sizeof kNames / sizeof *kNames)];
    switch (op & 3) {
      case 0: {
        const std::string value = in.Piece(0);
        ini.WriteString(sec, name, value);
        const std::string* got = ini.Find(sec, name);
        FUZZ_CHECK(got != nullptr, "written value not found");
        // Line breaks become spaces; nothing else changes in memory.
        std::string want = value;
        for (char& c : want)
          if (c == '\r' || c == '\n') c = ' ';
        FUZZ_CHECK(*got == want, "written value reads back changed");
        break;
      }
      case 1:
        ini.DeleteKey(sec, name);
        FUZZ_CHECK(ini.Find(sec, name) == nullptr, "deleted name still found");
        break;
      case 2:
        ini.EraseSection(sec);
        FUZZ_CHECK(!ini.SectionExists(sec), "erased section still found");
        break;
      case 3: {
        // Through the written form and back: what survives is what the
        // format can hold, and a second round changes nothing.
        const std::string text = ini.GetText();
        ini.SetText(text);
        const std::string second = ini.GetText();
        TCLMemIniFile check;
        check.SetText(second);
        FUZZ_CHECK(check.GetText() == second, "reparsed text is not stable");
        break;
      }
    }
    CheckLookups(ini);
  }
  return 0;
}
