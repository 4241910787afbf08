#include "framework/lang/CLMultiLangLan.h"

#include <algorithm>
#include <array>

#include "platform/AsciiText.h"
#include "platform/Files.h"
#include "platform/Locale.h"

namespace {

// The sections that survive ClearAllForm, in the order SortData puts them.
constexpr std::array<std::string_view, 5> kReservedSections = {"Info", "BasicRes", "SkinRes",
                                                               "LibRes", "AppRes"};

bool IsReserved(std::string_view name) {
  for (std::string_view r : kReservedSections)
    if (SameText(name, r)) return true;
  return false;
}

// Replaces every occurrence of an ASCII marker, matched without regard to
// letter case, by the replacement text.
std::string ReplaceNoCase(std::string_view s, std::string_view marker, std::string_view with) {
  std::string out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    if (s[i] == '<' && i + marker.size() <= s.size() &&
        SameText(s.substr(i, marker.size()), marker)) {
      out.append(with);
      i += marker.size();
    } else {
      out.push_back(s[i++]);
    }
  }
  return out;
}

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// UTF-16 bytes (without the byte-order mark) to UTF-8. An odd last byte is
// dropped; a surrogate without its partner becomes U+FFFD.
std::string Utf16ToUtf8(std::string_view bytes, bool bigEndian) {
  const size_t units = bytes.size() / 2;
  auto unit = [&](size_t i) -> uint32_t {
    const auto hi = static_cast<unsigned char>(bytes[2 * i + (bigEndian ? 0 : 1)]);
    const auto lo = static_cast<unsigned char>(bytes[2 * i + (bigEndian ? 1 : 0)]);
    return (static_cast<uint32_t>(hi) << 8) | lo;
  };
  std::string out;
  out.reserve(units + units / 2);
  for (size_t i = 0; i < units; ++i) {
    const uint32_t u = unit(i);
    if (u >= 0xD800 && u <= 0xDBFF) {
      if (i + 1 < units) {
        const uint32_t next = unit(i + 1);
        if (next >= 0xDC00 && next <= 0xDFFF) {
          AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (next - 0xDC00));
          ++i;
          continue;
        }
      }
      AppendUtf8(out, 0xFFFD);
    } else if (u >= 0xDC00 && u <= 0xDFFF) {
      AppendUtf8(out, 0xFFFD);
    } else {
      AppendUtf8(out, u);
    }
  }
  return out;
}

bool IsAscii(std::string_view s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

// The bytes written for a language file. The system ANSI code page is used
// whenever it holds every character of the text; a text it cannot hold is
// written as UTF-8 with a byte-order mark instead, which the reader detects,
// so that no translated text is replaced by "?" on saving.
std::string EncodeLanguageFileBytes(const std::string& text) {
  if (IsAscii(text)) return text;
  std::string ansi = platform::Utf8ToAnsi(text);
  if (platform::AnsiToUtf8(ansi) == text) return ansi;
  return "\xEF\xBB\xBF" + text;
}

}  // namespace

std::string DecodeLanguageFileBytes(const std::string& bytes) {
  std::string_view b(bytes);
  if (b.size() >= 3 && b.substr(0, 3) == "\xEF\xBB\xBF") return std::string(b.substr(3));
  if (b.size() >= 2 && b.substr(0, 2) == "\xFF\xFE") return Utf16ToUtf8(b.substr(2), false);
  if (b.size() >= 2 && b.substr(0, 2) == "\xFE\xFF") return Utf16ToUtf8(b.substr(2), true);
  if (IsAscii(b)) return bytes;
  return platform::AnsiToUtf8(bytes);
}

// --- case-insensitive index ---------------------------------------------------

size_t TCLMultiLangLan::TNoCaseHash::operator()(std::string_view s) const noexcept {
  return static_cast<size_t>(HashSameText64(s));
}

bool TCLMultiLangLan::TNoCaseEqual::operator()(std::string_view a,
                                               std::string_view b) const noexcept {
  return SameText(a, b);
}

const TCLMultiLangLan::TLanLine* TCLMultiLangLan::TLanSection::Find(std::string_view name) const {
  auto it = Index.find(name);
  return it == Index.end() ? nullptr : &Lines[it->second];
}

void TCLMultiLangLan::TLanSection::SetEntry(std::string_view name, std::string_view encodedValue) {
  std::string text;
  text.reserve(name.size() + 1 + encodedValue.size());
  text.append(name).append("=").append(encodedValue);
  auto it = Index.find(name);
  if (it != Index.end()) {
    Lines[it->second].Text = std::move(text);
    Lines[it->second].Eq = name.size();
  } else {
    Lines.push_back(TLanLine{std::move(text), name.size()});
    Index.emplace(std::string(name), Lines.size() - 1);
  }
}

void TCLMultiLangLan::TIniDoc::Clear() {
  Sections.clear();
  Index.clear();
}

TCLMultiLangLan::TLanSection* TCLMultiLangLan::TIniDoc::Find(std::string_view name) {
  auto it = Index.find(name);
  return it == Index.end() ? nullptr : &Sections[it->second];
}

TCLMultiLangLan::TLanSection& TCLMultiLangLan::TIniDoc::FindOrAdd(std::string_view name) {
  if (TLanSection* s = Find(name)) return *s;
  Sections.push_back(TLanSection{std::string(name), {}, {}});
  Index.emplace(std::string(name), Sections.size() - 1);
  return Sections.back();
}

void TCLMultiLangLan::TIniDoc::RebuildIndex() {
  Index.clear();
  for (size_t i = 0; i < Sections.size(); ++i) Index.emplace(Sections[i].Name, i);
}

// --- value escapes ------------------------------------------------------------

std::string TCLMultiLangLan::DecodeValue(std::string_view value) {
  if (value.find('<') == std::string_view::npos) return std::string(value);
  std::string withBreaks = ReplaceNoCase(value, "<BR>", "\r\n");
  return ReplaceNoCase(withBreaks, "<SP>", " ");
}

std::string TCLMultiLangLan::EncodeValue(std::string_view value) {
  // Spaces at either end would be trimmed away when the line is read back,
  // so those (and only those) are kept as "<SP>".
  size_t lead = 0;
  while (lead < value.size() && value[lead] == ' ') ++lead;
  size_t trail = 0;
  while (trail < value.size() - lead && value[value.size() - 1 - trail] == ' ') ++trail;

  std::string out;
  out.reserve(value.size() + 4 * (lead + trail) + 8);
  for (size_t i = 0; i < lead; ++i) out.append("<SP>");
  const size_t end = value.size() - trail;
  for (size_t i = lead; i < end; ++i) {
    const char c = value[i];
    if (c == '\r') {
      out.append("<BR>");
      if (i + 1 < end && value[i + 1] == '\n') ++i;  // CR LF is one break
    } else if (c == '\n') {
      out.append("<BR>");
    } else {
      out.push_back(c);
    }
  }
  for (size_t i = 0; i < trail; ++i) out.append("<SP>");
  return out;
}

// --- the two forms ------------------------------------------------------------

TCLMultiLangLan::TCLMultiLangLan() = default;

void TCLMultiLangLan::Parse() {
  FIniData.Clear();
  TLanSection* cur = nullptr;
  for (const std::string& raw : FData.Lines()) {
    std::string_view line = TrimView(raw);
    if (line.empty() || line.front() == ';') continue;
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
      // A repeated header makes a second section; the index keeps the first.
      std::string_view name = TrimView(line.substr(1, line.size() - 2));
      FIniData.Sections.push_back(TLanSection{std::string(name), {}, {}});
      FIniData.Index.emplace(std::string(name), FIniData.Sections.size() - 1);
      cur = &FIniData.Sections.back();
      continue;
    }
    if (!cur) continue;  // text before the first section
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) {
      cur->Lines.push_back(TLanLine{std::string(line), std::string::npos});
      continue;
    }
    std::string_view name = TrimView(line.substr(0, eq));
    std::string_view value = TrimView(line.substr(eq + 1));
    std::string text;
    text.reserve(name.size() + 1 + value.size());
    text.append(name).append("=").append(value);
    cur->Lines.push_back(TLanLine{std::move(text), name.size()});
    cur->Index.emplace(std::string(name), cur->Lines.size() - 1);  // first one wins
  }
}

void TCLMultiLangLan::Regenerate() const {
  std::vector<std::string> lines;
  size_t count = 0;
  for (const TLanSection& s : FIniData.Sections) count += s.Lines.size() + 2;
  lines.reserve(count);
  for (const TLanSection& s : FIniData.Sections) {
    lines.push_back("[" + s.Name + "]");
    for (const TLanLine& l : s.Lines)
      if (l.HasName()) lines.push_back(l.Text);
    lines.emplace_back();
  }
  FData = TStringList(std::move(lines));
  FbTextStale = false;
}

void TCLMultiLangLan::SyncText() const {
  if (FbTextStale) Regenerate();
}

void TCLMultiLangLan::ApplyData() {
  if (!FbToApply) return;
  Parse();
  FbToApply = false;
  FbModified = false;
}

void TCLMultiLangLan::UpdateData() {
  if (!FbModified) return;
  if (FbToApply) {
    // A text given after the change wins over the change.
    ApplyData();
    return;
  }
  Regenerate();
  FbModified = false;
  FbToApply = false;
}

// --- loading and saving ---------------------------------------------------------

void TCLMultiLangLan::LoadFromString(const std::string& str) {
  std::string_view text(str);
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  TStringList lines;
  lines.SetText(std::string(text));
  FData = std::move(lines);
  FbTextStale = false;
  FbToApply = true;
  ApplyData();
}

void TCLMultiLangLan::LoadFromFile(const std::string& fn) {
  std::string bytes, error;
  if (!platform::ReadWholeFile(fn, bytes, &error))
    throw EFileError("Cannot read the language file \"" + fn + "\": " + error);
  LoadFromString(DecodeLanguageFileBytes(bytes));
}

void TCLMultiLangLan::SetData(const TStringList& Value) {
  FData = Value;
  FbTextStale = false;
  FbToApply = true;
}

const TStringList& TCLMultiLangLan::Data() const {
  SyncText();
  return FData;
}

std::string TCLMultiLangLan::ToString() const {
  SyncText();
  return FData.Text();
}

void TCLMultiLangLan::SaveToFile(const std::string& fn) {
  SortData();
  std::string error;
  if (!platform::WriteFileAtomic(fn, EncodeLanguageFileBytes(ToString()), &error))
    throw EFileError("Cannot write the language file \"" + fn + "\": " + error);
}

void TCLMultiLangLan::AssignTo(TCLPersistent* Dest) const {
  auto* dest = dynamic_cast<TCLMultiLangLan*>(Dest);
  if (!dest) return;
  SyncText();
  if (dest != this) dest->FData = FData;
  dest->FbTextStale = false;
  dest->FbToApply = true;
  dest->ApplyData();
}

// --- lookups and changes ----------------------------------------------------------

std::string TCLMultiLangLan::EntryName(const std::string& strComp, const std::string& strProp) {
  if (strComp.empty()) return strProp;
  std::string name;
  name.reserve(strComp.size() + 1 + strProp.size());
  name.append(strComp).append(".").append(strProp);
  return name;
}

void TCLMultiLangLan::ClearAll() {
  FIniData.Clear();
  FData.Clear();
  FbTextStale = false;
  FbToApply = false;
  FbModified = false;
}

bool TCLMultiLangLan::GetProp(const std::string& strForm, const std::string& strComp,
                              const std::string& strProp, std::string& strValue) {
  ApplyData();
  const TLanSection* section = FIniData.Find(strForm);
  if (!section) return false;
  const TLanLine* line =
      strComp.empty() ? section->Find(strProp) : section->Find(EntryName(strComp, strProp));
  if (!line) return false;
  strValue = DecodeValue(line->Value());
  return true;
}

void TCLMultiLangLan::SetProp(const std::string& strForm, const std::string& strComp,
                              const std::string& strProp, const std::string& strValue) {
  ApplyData();
  FIniData.FindOrAdd(strForm).SetEntry(EntryName(strComp, strProp), EncodeValue(strValue));
  // The text form is current for every reader from here on; it is rebuilt
  // when it is next read, so that many changes in a row cost one rebuild.
  FbModified = false;
  FbToApply = false;
  FbTextStale = true;
}

void TCLMultiLangLan::ClearForm(const std::string& strForm) {
  ApplyData();
  // The text form keeps showing the section until the next regeneration, so
  // it must hold every earlier change before this one is made.
  SyncText();
  auto it = FIniData.Index.find(std::string_view(strForm));
  if (it != FIniData.Index.end()) {
    FIniData.Sections.erase(FIniData.Sections.begin() + static_cast<std::ptrdiff_t>(it->second));
    FIniData.RebuildIndex();
  }
  FbModified = true;
}

void TCLMultiLangLan::ClearAllForm() {
  ApplyData();
  auto& secs = FIniData.Sections;
  secs.erase(std::remove_if(secs.begin(), secs.end(),
                            [](const TLanSection& s) { return !IsReserved(s.Name); }),
             secs.end());
  FIniData.RebuildIndex();
  FbModified = true;
  UpdateData();
}

void TCLMultiLangLan::GetSectionStrings(const std::string& strSection, TStringList& sl) {
  ApplyData();
  const TLanSection* section = FIniData.Find(strSection);
  if (!section) return;
  for (const TLanLine& l : section->Lines) {
    if (!l.HasName()) continue;
    const TLanLine* first = section->Find(l.Name());
    sl.SetValue(std::string(l.Name()), DecodeValue(first->Value()));
  }
}

void TCLMultiLangLan::SortData() {
  ApplyData();

  // The first section of every name, window sections sorted by name.
  std::vector<const TLanSection*> others;
  for (const auto& [name, index] : FIniData.Index)
    if (!IsReserved(name)) others.push_back(&FIniData.Sections[index]);
  std::sort(others.begin(), others.end(), [](const TLanSection* a, const TLanSection* b) {
    return CompareText(a->Name, b->Name, LetterCase::Lower) < 0;
  });

  std::vector<std::pair<std::string, const TLanSection*>> order;
  order.reserve(others.size() + kReservedSections.size());
  for (std::string_view r : kReservedSections) {
    auto it = FIniData.Index.find(r);
    if (it != FIniData.Index.end())
      order.emplace_back(std::string(r), &FIniData.Sections[it->second]);
  }
  for (const TLanSection* s : others) order.emplace_back(s->Name, s);

  TIniDoc sorted;
  sorted.Sections.reserve(order.size());
  for (const auto& [name, section] : order) {
    std::vector<const TLanLine*> lines;
    lines.reserve(section->Lines.size());
    for (const TLanLine& l : section->Lines)
      if (l.HasName()) lines.push_back(&l);
    if (lines.empty()) continue;
    if (!SameText(name, "Info"))
      std::stable_sort(lines.begin(), lines.end(), [](const TLanLine* a, const TLanLine* b) {
        return CompareText(a->Text, b->Text, LetterCase::Lower) < 0;
      });
    TLanSection& dest = sorted.FindOrAdd(name);
    dest.Lines.reserve(lines.size());
    dest.Index.reserve(lines.size());
    for (const TLanLine* l : lines) dest.SetEntry(l->Name(), l->Value());
  }

  FIniData = std::move(sorted);
  FbModified = true;
  UpdateData();
}
