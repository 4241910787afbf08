#include "framework/CLIniFile.h"

#include <cstring>

#include "net/CLUtils.h"
#include "platform/Files.h"
#include "platform/Locale.h"

namespace clini {

void NameIndex::Add(uint32_t pos, uint32_t hash) {
  if ((FCount + 1) * 2 > FSlots.size()) Grow();
  const size_t mask = FSlots.size() - 1;
  size_t i = hash & mask;
  while (FSlots[i].Pos != kEmpty) i = (i + 1) & mask;
  FSlots[i].Pos = pos;
  FSlots[i].Hash = hash;
  ++FCount;
}

void NameIndex::Grow() {
  std::vector<Slot> old;
  old.swap(FSlots);
  FSlots.assign(old.empty() ? 16 : old.size() * 2, Slot{});
  const size_t mask = FSlots.size() - 1;
  for (const Slot& s : old) {
    if (s.Pos == kEmpty) continue;
    size_t i = s.Hash & mask;
    while (FSlots[i].Pos != kEmpty) i = (i + 1) & mask;
    FSlots[i] = s;
  }
}

}  // namespace clini

// --- sections -----------------------------------------------------------------

const TCLIniEntry* TCLIniSection::Find(std::string_view name, uint32_t hash) const {
  int64_t pos =
      Index.Find(name, hash, [this](uint32_t p) -> std::string_view { return Entries[p].Name; });
  return pos < 0 ? nullptr : &Entries[static_cast<size_t>(pos)];
}

TCLIniEntry* TCLIniSection::Find(std::string_view name, uint32_t hash) {
  return const_cast<TCLIniEntry*>(static_cast<const TCLIniSection*>(this)->Find(name, hash));
}

void TCLIniSection::Add(std::string name, std::string value, uint32_t hash) {
  bool first = Find(name, hash) == nullptr;
  Entries.push_back(TCLIniEntry{std::move(name), std::move(value), hash});
  if (first) Index.Add(static_cast<uint32_t>(Entries.size() - 1), hash);
}

void TCLIniSection::Reindex() {
  Index.Clear();
  for (size_t i = 0; i < Entries.size(); ++i)
    if (!Find(Entries[i].Name, Entries[i].Hash))
      Index.Add(static_cast<uint32_t>(i), Entries[i].Hash);
}

// --- document -------------------------------------------------------------------

namespace {

// A line break inside a name or value would split the line on the next read.
std::string OneLine(std::string_view s) {
  std::string r(s);
  for (char& c : r)
    if (c == '\r' || c == '\n') c = ' ';
  return r;
}

}  // namespace

TCLMemIniFile::TCLMemIniFile(std::string fileName, bool ownFileOnly)
    : FFileName(std::move(fileName)), FOwnFileOnly(ownFileOnly) {
  if (!FFileName.empty()) Reload();
}

const TCLIniSection* TCLMemIniFile::FindSection(std::string_view name) const {
  int64_t pos =
      FSectionIndex.Find(name, HashSameText32(name),
                         [this](uint32_t p) -> std::string_view { return FSections[p]->Name; });
  return pos < 0 ? nullptr : FSections[static_cast<size_t>(pos)].get();
}

TCLIniSection* TCLMemIniFile::FindSection(std::string_view name) {
  return const_cast<TCLIniSection*>(static_cast<const TCLMemIniFile*>(this)->FindSection(name));
}

TCLIniSection* TCLMemIniFile::AddSection(std::string name) {
  auto sec = std::make_unique<TCLIniSection>();
  sec->Hash = HashSameText32(name);
  sec->Name = std::move(name);
  FSections.push_back(std::move(sec));
  FSectionIndex.Add(static_cast<uint32_t>(FSections.size() - 1), FSections.back()->Hash);
  return FSections.back().get();
}

void TCLMemIniFile::ReindexSections() {
  FSectionIndex.Clear();
  for (size_t i = 0; i < FSections.size(); ++i)
    FSectionIndex.Add(static_cast<uint32_t>(i), FSections[i]->Hash);
}

const std::string* TCLMemIniFile::Find(std::string_view section, std::string_view name) const {
  const TCLIniSection* sec = FindSection(section);
  if (!sec) return nullptr;
  const TCLIniEntry* e = sec->Find(name, HashSameText32(name));
  return e ? &e->Value : nullptr;
}

bool TCLMemIniFile::SectionExists(std::string_view section) const {
  return FindSection(section) != nullptr;
}

bool TCLMemIniFile::ValueExists(std::string_view section, std::string_view name) const {
  return Find(section, name) != nullptr;
}

std::string TCLMemIniFile::ReadString(std::string_view section, std::string_view name,
                                      const std::string& def) const {
  const std::string* v = Find(section, name);
  return v ? *v : def;
}

int32_t TCLMemIniFile::ReadInteger(std::string_view section, std::string_view name,
                                   int32_t def) const {
  const std::string* v = Find(section, name);
  return v ? StrToIntDefault(*v, def) : def;
}

bool TCLMemIniFile::ReadBool(std::string_view section, std::string_view name, bool def) const {
  return ReadInteger(section, name, def ? 1 : 0) != 0;
}

std::vector<std::string> TCLMemIniFile::SectionNames() const {
  std::vector<std::string> names;
  names.reserve(FSections.size());
  for (const auto& s : FSections) names.push_back(s->Name);
  return names;
}

std::vector<std::pair<std::string, std::string>> TCLMemIniFile::SectionValues(
    std::string_view section) const {
  std::vector<std::pair<std::string, std::string>> r;
  if (const TCLIniSection* sec = FindSection(section)) {
    r.reserve(sec->Entries.size());
    for (const auto& e : sec->Entries) r.emplace_back(e.Name, e.Value);
  }
  return r;
}

void TCLMemIniFile::WriteString(std::string_view section, std::string_view name,
                                std::string_view value) {
  std::string secName = OneLine(section);
  std::string valName = OneLine(name);
  TCLIniSection* sec = FindSection(secName);
  if (!sec) sec = AddSection(std::move(secName));
  uint32_t hash = HashSameText32(valName);
  if (TCLIniEntry* e = sec->Find(valName, hash))
    e->Value = OneLine(value);
  else
    sec->Add(std::move(valName), OneLine(value), hash);
}

void TCLMemIniFile::WriteInteger(std::string_view section, std::string_view name, int32_t value) {
  WriteString(section, name, std::to_string(value));
}

void TCLMemIniFile::WriteBool(std::string_view section, std::string_view name, bool value) {
  WriteString(section, name, value ? "1" : "0");
}

void TCLMemIniFile::DeleteKey(std::string_view section, std::string_view name) {
  TCLIniSection* sec = FindSection(section);
  if (!sec || !sec->Find(name, HashSameText32(name))) return;
  std::vector<TCLIniEntry> kept;
  kept.reserve(sec->Entries.size());
  for (auto& e : sec->Entries)
    if (!SameText(e.Name, name)) kept.push_back(std::move(e));
  sec->Entries.swap(kept);
  sec->Reindex();
}

void TCLMemIniFile::EraseSection(std::string_view section) {
  std::vector<std::unique_ptr<TCLIniSection>> kept;
  kept.reserve(FSections.size());
  bool changed = false;
  for (auto& s : FSections) {
    if (SameText(s->Name, section))
      changed = true;
    else
      kept.push_back(std::move(s));
  }
  FSections.swap(kept);
  if (changed) ReindexSections();
}

void TCLMemIniFile::Clear() {
  FSections.clear();
  FSectionIndex.Clear();
}

void TCLMemIniFile::SetText(std::string_view text) {
  Clear();
  TCLIniSection* current = nullptr;
  size_t pos = 0;
  const size_t n = text.size();
  while (pos < n) {
    // One line: up to CR LF, CR or LF.
    size_t end = pos;
    while (end < n && text[end] != '\r' && text[end] != '\n') ++end;
    std::string_view line = TrimView(text.substr(pos, end - pos));
    if (end < n && text[end] == '\r' && end + 1 < n && text[end + 1] == '\n')
      pos = end + 2;
    else
      pos = end + 1;

    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[' && line.back() == ']' && line.size() >= 2) {
      std::string_view name = TrimView(line.substr(1, line.size() - 2));
      // A second header of a known section continues that section.
      current = FindSection(name);
      if (!current) current = AddSection(std::string(name));
      continue;
    }
    if (!current) continue;  // text before the first section
    size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;  // no name=value line
    std::string_view name = TrimView(line.substr(0, eq));
    if (name.empty()) continue;
    std::string_view value = TrimView(line.substr(eq + 1));
    current->Add(std::string(name), std::string(value), HashSameText32(name));
  }
}

std::string TCLMemIniFile::GetText() const {
  size_t size = 0;
  for (const auto& s : FSections) {
    size += s->Name.size() + 6;
    for (const auto& e : s->Entries) size += e.Name.size() + e.Value.size() + 3;
  }
  std::string out;
  out.reserve(size);
  for (const auto& s : FSections) {
    out += '[';
    out += s->Name;
    out += "]\r\n";
    for (const auto& e : s->Entries) {
      out += e.Name;
      out += '=';
      out += e.Value;
      out += "\r\n";
    }
    out += "\r\n";
  }
  return out;
}

bool TCLMemIniFile::Reload(std::string* error) {
  Clear();
  if (FFileName.empty()) return true;
  std::string bytes;
  if (!(FOwnFileOnly ? platform::ReadOwnFile(FFileName, bytes, error)
                     : platform::ReadWholeFile(FFileName, bytes, error)))
    return false;
  SetText(platform::AnsiToUtf8(bytes));
  return true;
}

bool TCLMemIniFile::UpdateFile(std::string* error) const {
  if (FFileName.empty()) {
    if (error) *error = "The settings document has no file name";
    return false;
  }
  return platform::WriteFileAtomic(FFileName, platform::Utf8ToAnsi(GetText()), error);
}
