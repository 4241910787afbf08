#include "platform/PrivateProfile.h"

#include "platform/AsciiText.h"
#include "platform/Files.h"

namespace platform {

namespace {

struct Line {
  std::string body;  // without the line break
  std::string brk;   // "\r\n", "\n", "\r" or "" for a last line without one
};

std::vector<Line> SplitLines(const std::string& text) {
  std::vector<Line> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string::npos) {
      lines.push_back({text.substr(pos), ""});
      break;
    }
    size_t brkLen = (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ? 2 : 1;
    lines.push_back({text.substr(pos, end - pos), text.substr(end, brkLen)});
    pos = end + brkLen;
  }
  return lines;
}

// Keys and section names are trimmed of spaces and tabs only.
std::string TrimBlanks(const std::string& s) { return std::string(TrimView(s, " \t")); }

const std::string kBom = "\xEF\xBB\xBF";

// The section name of a header line ("[name]"), or false.
bool SectionName(const std::string& body, std::string& name) {
  std::string t = TrimBlanks(body);
  if (t.size() < 2 || t[0] != '[') return false;
  size_t close = t.find(']');
  if (close == std::string::npos) return false;
  name = TrimBlanks(t.substr(1, close - 1));
  return true;
}

// The key name of a "key=value" line, or false (comments and lines without
// "=" have none).
bool KeyName(const std::string& body, std::string& name) {
  std::string t = TrimBlanks(body);
  if (t.empty() || t[0] == ';' || t[0] == '#') return false;
  size_t eq = body.find('=');
  if (eq == std::string::npos) return false;
  name = TrimBlanks(body.substr(0, eq));
  return !name.empty();
}

// The header line of the first section of that name and the end of its
// lines (the next header or the end of the file); header is npos when the
// section is missing.
void FindSection(const std::vector<Line>& lines, const std::string& section, size_t& header,
                 size_t& sectionEnd) {
  header = std::string::npos;
  sectionEnd = lines.size();
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string name;
    if (!SectionName(lines[i].body, name)) continue;
    if (header != std::string::npos) {
      sectionEnd = i;
      return;
    }
    if (SameText(name, TrimBlanks(section))) header = i;
  }
}

}  // namespace

std::string WriteProfileValuesToText(const std::string& text, const std::string& section,
                                     const ProfileValues& values) {
  bool bom = text.compare(0, kBom.size(), kBom) == 0;
  std::vector<Line> lines = SplitLines(bom ? text.substr(kBom.size()) : text);
  const std::string brk = text.find("\r\n") != std::string::npos ? "\r\n" : "\n";

  size_t header, sectionEnd;
  FindSection(lines, section, header, sectionEnd);
  if (header == std::string::npos) {
    if (!lines.empty() && lines.back().brk.empty()) lines.back().brk = brk;
    lines.push_back({"[" + section + "]", brk});
    header = lines.size() - 1;
    sectionEnd = lines.size();
  }

  std::vector<Line> added;
  for (const auto& [key, value] : values) {
    bool found = false;
    for (size_t i = header + 1; i < sectionEnd; ++i) {
      std::string name;
      if (!KeyName(lines[i].body, name) || !SameText(name, TrimBlanks(key))) continue;
      lines[i].body = lines[i].body.substr(0, lines[i].body.find('=') + 1) + value;
      found = true;
      break;
    }
    if (!found) {
      // A key given twice in values is written once, with the later value.
      bool merged = false;
      for (Line& l : added) {
        std::string name;
        if (KeyName(l.body, name) && SameText(name, TrimBlanks(key))) {
          l.body = key + "=" + value;
          merged = true;
        }
      }
      if (!merged) added.push_back({key + "=" + value, brk});
    }
  }
  if (!added.empty()) {
    size_t at = sectionEnd;
    while (at > header + 1 && TrimBlanks(lines[at - 1].body).empty()) --at;
    if (lines[at - 1].brk.empty()) lines[at - 1].brk = brk;
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), added.begin(), added.end());
  }

  std::string out = bom ? kBom : std::string();
  for (const Line& l : lines) out += l.body + l.brk;
  return out;
}

bool ReadProfileSection(const std::string& text, const std::string& section,
                        ProfileValues& values) {
  values.clear();
  bool bom = text.compare(0, kBom.size(), kBom) == 0;
  std::vector<Line> lines = SplitLines(bom ? text.substr(kBom.size()) : text);
  size_t header = 0, sectionEnd = 0;
  FindSection(lines, section, header, sectionEnd);
  if (header == std::string::npos) return false;
  for (size_t i = header + 1; i < sectionEnd; ++i) {
    std::string name;
    if (!KeyName(lines[i].body, name)) continue;
    bool seen = false;
    for (const auto& v : values) seen = seen || SameText(v.first, name);
    if (!seen) values.emplace_back(name, lines[i].body.substr(lines[i].body.find('=') + 1));
  }
  return true;
}

std::string ReplaceProfileSectionInText(const std::string& text, const std::string& section,
                                        const ProfileValues* values) {
  if (values) {
    // Keys that are not wanted go first (and second lines of a key); then
    // the wanted ones are written as the private-profile writer writes them.
    bool bom = text.compare(0, kBom.size(), kBom) == 0;
    std::vector<Line> lines = SplitLines(bom ? text.substr(kBom.size()) : text);
    size_t header = 0, sectionEnd = 0;
    FindSection(lines, section, header, sectionEnd);
    if (header == std::string::npos) return WriteProfileValuesToText(text, section, *values);
    std::vector<Line> out;
    std::vector<std::string> seen;
    for (size_t i = 0; i < lines.size(); ++i) {
      std::string name;
      if (i > header && i < sectionEnd && KeyName(lines[i].body, name)) {
        bool wanted = false;
        for (const auto& v : *values) wanted = wanted || SameText(v.first, name);
        bool firstOfKey = true;
        for (const std::string& n : seen) firstOfKey = firstOfKey && !SameText(n, name);
        seen.push_back(name);
        if (!wanted || !firstOfKey) continue;
      }
      out.push_back(lines[i]);
    }
    std::string rest = bom ? kBom : std::string();
    for (const Line& l : out) rest += l.body + l.brk;
    return WriteProfileValuesToText(rest, section, *values);
  }
  bool bom = text.compare(0, kBom.size(), kBom) == 0;
  std::vector<Line> lines = SplitLines(bom ? text.substr(kBom.size()) : text);
  size_t header = 0, sectionEnd = 0;
  FindSection(lines, section, header, sectionEnd);
  if (header == std::string::npos) return text;
  // The blank lines that separated the section from the next one go with it.
  lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(header),
              lines.begin() + static_cast<std::ptrdiff_t>(sectionEnd));
  if (header > 0 && header == lines.size()) {
    while (header > 0 && TrimBlanks(lines[header - 1].body).empty()) {
      lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(header - 1));
      --header;
    }
  }
  std::string out = bom ? kBom : std::string();
  for (const Line& l : lines) out += l.body + l.brk;
  return out;
}

bool WriteProfileValues(const std::string& file, const std::string& section,
                        const ProfileValues& values, std::string* error) {
  std::string text;
  if (FileExists(file) && !ReadWholeFile(file, text, error)) return false;
  return WriteFileAtomic(file, WriteProfileValuesToText(text, section, values), error);
}

}  // namespace platform
