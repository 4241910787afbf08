#include "net/StringList.h"

#include "net/CLUtils.h"

namespace {

// Whether line starts with name followed by "=", letters compared without
// regard to case. No allocation: this runs for every lookup of a setting,
// a language text or a service answer field.
bool LineHasName(const std::string& line, const std::string& name) {
  return line.find('=') == name.size() &&
         SameText(std::string_view(line).substr(0, name.size()), name);
}

}  // namespace

void TStringList::Insert(int index, const std::string& line) {
  if (index < 0) index = 0;
  if (index > Count()) index = Count();
  FLines.insert(FLines.begin() + index, line);
}

void TStringList::Delete(int index) {
  if (index < 0 || index >= Count()) return;
  FLines.erase(FLines.begin() + index);
}

int TStringList::IndexOf(const std::string& text) const {
  for (int i = 0; i < Count(); ++i)
    if (SameText(FLines[static_cast<size_t>(i)], text)) return i;
  return -1;
}

int TStringList::IndexOfName(const std::string& name) const {
  for (int i = 0; i < Count(); ++i)
    if (LineHasName(FLines[static_cast<size_t>(i)], name)) return i;
  return -1;
}

std::string TStringList::Names(int index) const {
  if (index < 0 || index >= Count()) return std::string();
  const std::string& line = FLines[static_cast<size_t>(index)];
  size_t eq = line.find('=');
  return eq == std::string::npos ? std::string() : line.substr(0, eq);
}

std::string TStringList::ValueFromIndex(int index) const {
  if (index < 0 || index >= Count()) return std::string();
  const std::string& line = FLines[static_cast<size_t>(index)];
  size_t eq = line.find('=');
  return eq == std::string::npos ? std::string() : line.substr(eq + 1);
}

std::string TStringList::Values(const std::string& name) const {
  return ValueFromIndex(IndexOfName(name));
}

void TStringList::SetValue(const std::string& name, const std::string& value) {
  int i = IndexOfName(name);
  if (value.empty()) {
    if (i >= 0) Delete(i);
    return;
  }
  std::string line = name + "=" + value;
  if (i >= 0)
    FLines[static_cast<size_t>(i)] = std::move(line);
  else
    FLines.push_back(std::move(line));
}

std::string TStringList::Text() const {
  size_t total = 0;
  for (const std::string& l : FLines) total += l.size() + 2;
  std::string out;
  out.reserve(total);
  for (const std::string& l : FLines) {
    out += l;
    out += "\r\n";
  }
  return out;
}

void TStringList::SetText(const std::string& text) {
  FLines.clear();
  const size_t n = text.size();
  size_t start = 0;
  while (start < n) {
    size_t pos = start;
    while (pos < n && text[pos] != '\r' && text[pos] != '\n') ++pos;
    FLines.emplace_back(text, start, pos - start);
    // One line break: CR LF, a lone CR or a lone LF.
    if (pos < n) pos += (text[pos] == '\r' && pos + 1 < n && text[pos + 1] == '\n') ? 2 : 1;
    start = pos;
  }
}
