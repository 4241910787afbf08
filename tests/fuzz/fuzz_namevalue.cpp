// The name=value list that carries service answers, the real-IP information
// and language data.
//  - Any text splits into lines without breaks; the text form of those lines
//    splits back into the same lines.
//  - Lookups answer the first line of a name, without regard to case.
//  - SetValue replaces, appends or removes exactly as described, and a set
//    value reads back.
#include <string>

#include "FuzzSupport.h"
#include "net/StringList.h"

namespace {

// The first line whose name (text before its first "=") equals name.
int FirstOfName(const TStringList& sl, const std::string& name) {
  for (int i = 0; i < sl.Count(); ++i) {
    const size_t eq = sl[i].find('=');
    if (eq != std::string::npos && fuzz::SameAscii(sl[i].substr(0, eq), name)) return i;
  }
  return -1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Reader in(data, size);
  const std::string text = in.Piece(0);

  TStringList sl;
  sl.SetText(text);
  for (const std::string& line : sl.Lines())
    FUZZ_CHECK(line.find_first_of("\r\n") == std::string::npos, "a line holds a line break");
  const std::string joined = sl.Text();
  TStringList back;
  back.SetText(joined);
  FUZZ_CHECK(back == sl, "text form does not split back into the same lines");
  FUZZ_CHECK(joined.empty() == sl.Empty(), "text form of an empty list");
  if (!joined.empty())
    FUZZ_CHECK(joined.size() >= 2 && joined.compare(joined.size() - 2, 2, "\r\n") == 0,
               "text form does not end with CR LF");

  // Lookups of every name the list holds, in two letter cases.
  for (int i = 0; i < sl.Count() && i < 64; ++i) {
    const std::string name = sl.Names(i);
    if (sl[i].find('=') == std::string::npos) {
      FUZZ_CHECK(name.empty() && sl.ValueFromIndex(i).empty(), "a line without '=' has a name");
      continue;
    }
    std::string upper = name;
    for (char& c : upper)
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    for (const std::string& n : {name, upper}) {
      const int want = FirstOfName(sl, n);
      FUZZ_CHECK(sl.IndexOfName(n) == want, "IndexOfName is not the first line of the name");
      FUZZ_CHECK(sl.Values(n) == sl.ValueFromIndex(want), "Values is not the first line's value");
    }
  }

  // Changes: name and value pieces from the rest of the input.
  int steps = 0;
  while (!in.Empty() && steps++ < 32) {
    const std::string name = in.Piece(0);
    const std::string value = in.Piece(0);
    // A name with "=" or a line break cannot be stored as a name; values
    // cannot hold line breaks in the text form.
    const bool plainName = name.find_first_of("=\r\n") == std::string::npos;
    const int before = sl.Count();
    const int first = FirstOfName(sl, name);
    sl.SetValue(name, value);
    if (!plainName) continue;
    if (value.empty()) {
      FUZZ_CHECK(sl.Count() == before - (first >= 0 ? 1 : 0),
                 "empty value removed the wrong lines");
    } else {
      FUZZ_CHECK(sl.Count() == before + (first >= 0 ? 0 : 1), "SetValue added the wrong lines");
      FUZZ_CHECK(sl.Values(name) == value, "set value does not read back");
      if (first >= 0) FUZZ_CHECK(sl.IndexOfName(name) == first, "SetValue moved the line");
    }
  }
  return 0;
}
