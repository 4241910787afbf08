// In-memory INI file: holds a whole file as sections of name=value lines.
// The file is read once when opened and written back, whole, only when asked.
//
// Format: every line is trimmed; empty lines and lines beginning with ";" are
// skipped; "[name]" starts a section; any other line inside a section is split
// at its first "=" into a trimmed name and a trimmed value (lines without "="
// and lines before the first section carry no value and are dropped).
// Section and value names compare without regard to ASCII letter case.
// Writing produces, for each section, "[name]", its name=value lines in order
// and one empty line; lines end with CR LF. On disk the text is in the system
// ANSI code page; in memory it is UTF-8.
//
// Lookups go through open-addressing hash indexes over the stored names, so a
// lookup allocates nothing.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/AsciiText.h"

namespace clini {

// Positions of named items, found by name. The items live elsewhere; the
// index keeps each item's position and hash (HashSameText32 of its name).
class NameIndex {
 public:
  static constexpr uint32_t kEmpty = 0xFFFFFFFFu;

  // Position of the item with that name, or -1. nameOf(pos) gives an item's name.
  template <class NameOf>
  int64_t Find(std::string_view name, uint32_t hash, const NameOf& nameOf) const {
    if (FSlots.empty()) return -1;
    const size_t mask = FSlots.size() - 1;
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
      const Slot& s = FSlots[i];
      if (s.Pos == kEmpty) return -1;
      if (s.Hash == hash && SameText(nameOf(s.Pos), name)) return s.Pos;
    }
  }
  // Adds an item; the caller makes sure the name is not indexed yet.
  void Add(uint32_t pos, uint32_t hash);
  void Clear() {
    FSlots.clear();
    FCount = 0;
  }

 private:
  struct Slot {
    uint32_t Pos = kEmpty;
    uint32_t Hash = 0;
  };
  void Grow();
  std::vector<Slot> FSlots;
  size_t FCount = 0;
};

}  // namespace clini

struct TCLIniEntry {
  std::string Name;
  std::string Value;
  uint32_t Hash = 0;
};

struct TCLIniSection {
  std::string Name;
  uint32_t Hash = 0;
  // Value lines in file order. Two lines of one name are both kept (and both
  // written back); lookups and changes use the first.
  std::vector<TCLIniEntry> Entries;
  clini::NameIndex Index;  // first entry of each name

  const TCLIniEntry* Find(std::string_view name, uint32_t hash) const;
  TCLIniEntry* Find(std::string_view name, uint32_t hash);
  void Add(std::string name, std::string value, uint32_t hash);
  void Reindex();
};

class TCLMemIniFile {
 public:
  // Opens the file and reads it at once; a missing or unreadable file gives
  // an empty document. An empty file name gives an empty document that is
  // never read from disk. With ownFileOnly the file is read only when it is
  // a regular file of this user's own, not through a link (the user's
  // settings, in a folder another user might have written to).
  explicit TCLMemIniFile(std::string fileName = "", bool ownFileOnly = false);

  const std::string& FileName() const { return FFileName; }
  void SetFileName(const std::string& fileName) { FFileName = fileName; }

  // --- reading -----------------------------------------------------------
  // The value of name in section, or nullptr when the section has no line of
  // that name. The pointer stays valid until the next change.
  const std::string* Find(std::string_view section, std::string_view name) const;
  bool SectionExists(std::string_view section) const;
  bool ValueExists(std::string_view section, std::string_view name) const;
  std::string ReadString(std::string_view section, std::string_view name,
                         const std::string& def) const;
  // The value read as an integer (decimal, or hexadecimal after "$" or
  // "0x"); def when absent or not a number.
  int32_t ReadInteger(std::string_view section, std::string_view name, int32_t def) const;
  // ReadInteger(section, name, def ? 1 : 0) != 0.
  bool ReadBool(std::string_view section, std::string_view name, bool def) const;
  std::vector<std::string> SectionNames() const;
  // The lines of a section as (name, value) pairs, in order; empty when missing.
  std::vector<std::pair<std::string, std::string>> SectionValues(std::string_view section) const;

  // --- changing (memory only) ---------------------------------------------
  // Replaces the value of the first line of name, or appends a line (and the
  // section when missing). Line breaks in the name or value would split the
  // line on the next read, so each CR and LF is stored as a space.
  void WriteString(std::string_view section, std::string_view name, std::string_view value);
  void WriteInteger(std::string_view section, std::string_view name, int32_t value);
  void WriteBool(std::string_view section, std::string_view name, bool value);
  // Removes every line of that name from the section.
  void DeleteKey(std::string_view section, std::string_view name);
  // Removes the section (every section of that name).
  void EraseSection(std::string_view section);
  void Clear();

  // --- text form (UTF-8) -----------------------------------------------------
  // Replaces the whole content with the parsed text.
  void SetText(std::string_view text);
  // The whole content in the written form.
  std::string GetText() const;

  // --- disk ------------------------------------------------------------------
  // Re-reads the file, dropping unsaved changes. A missing or unreadable file
  // gives an empty document; the result says whether the file was read.
  bool Reload(std::string* error = nullptr);
  // Writes the whole document to the file: to a temporary file in the same
  // folder, then renamed over the old one, so that a crash leaves either the
  // old or the new file. On failure the old file is intact, the document is
  // unchanged and error says why.
  bool UpdateFile(std::string* error = nullptr) const;

 private:
  const TCLIniSection* FindSection(std::string_view name) const;
  TCLIniSection* FindSection(std::string_view name);
  TCLIniSection* AddSection(std::string name);
  void ReindexSections();

  std::string FFileName;
  bool FOwnFileOnly = false;
  std::vector<std::unique_ptr<TCLIniSection>> FSections;
  clini::NameIndex FSectionIndex;
};
