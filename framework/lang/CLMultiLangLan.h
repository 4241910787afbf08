// One language file in memory. A language file is an INI-style text file
// (".lan") whose sections hold the texts of the application, the framework,
// the skin library and one section per window class.
//
// The content is kept in two forms:
//  - the text form FData: the file's lines as loaded, or as last regenerated;
//  - the parsed form FIniData: ordered sections, each an ordered list of
//    lines "name=value" (or nameless lines stored as they were read).
// FbToApply says the text form is newer and must be parsed before the next
// read or change; FbModified says the parsed form is newer and the text form
// must be regenerated. When both are set the text form wins.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "net/StringList.h"

// Base of objects that can copy their content into another object.
// AssignTo does nothing unless the destination is of a type the source knows.
class TCLPersistent {
 public:
  virtual ~TCLPersistent() = default;
  virtual void AssignTo(TCLPersistent* Dest) const {}
};

// A file could not be read or written. The message names the file and why.
class EFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TCLMultiLangLan : public TCLPersistent {
 public:
  TCLMultiLangLan();

  // Reads the whole file (BOM-detected UTF-8 / UTF-16 LE / UTF-16 BE, else the
  // system ANSI code page) and parses it at once. Throws EFileError when the
  // file cannot be read; the previous content is then kept.
  void LoadFromFile(const std::string& fn);
  // As LoadFromFile, from text that is already decoded (UTF-8).
  void LoadFromString(const std::string& str);
  // Replaces the text form with a copy of the list; parsed on next use.
  void SetData(const TStringList& Value);
  // The text form as it stands (not regenerated first).
  const TStringList& Data() const;
  // The text form, lines joined with CR LF; not regenerated first.
  std::string ToString() const;
  // Sorts into canonical order, then writes the text form in the system ANSI
  // code page with CR LF line ends, replacing the file atomically. Throws
  // EFileError when the file cannot be written.
  void SaveToFile(const std::string& fn);

  // Copies the text form into Dest when it is a TCLMultiLangLan and lets it
  // parse at once; any other destination is left alone.
  void AssignTo(TCLPersistent* Dest) const override;

  // Empties both forms.
  void ClearAll();

  // The decoded text of strComp.strProp (strProp alone when strComp is empty)
  // in section strForm. False and strValue untouched when there is none.
  bool GetProp(const std::string& strForm, const std::string& strComp, const std::string& strProp,
               std::string& strValue);
  // Sets that text (appending the section and the entry when missing) and
  // regenerates the text form.
  void SetProp(const std::string& strForm, const std::string& strComp, const std::string& strProp,
               const std::string& strValue);
  // Removes the first section of that name; the text form follows at the
  // next regeneration.
  void ClearForm(const std::string& strForm);
  // Removes every section but the five reserved ones and regenerates.
  void ClearAllForm();
  // Sets every entry of the section into sl (name=decoded value); an empty
  // value removes that name from sl. A missing section leaves sl unchanged.
  void GetSectionStrings(const std::string& strSection, TStringList& sl);
  // Canonical order: the reserved sections first (Info, BasicRes, SkinRes,
  // LibRes, AppRes), then the others sorted; lines sorted except in Info;
  // one line per name; empty sections dropped.
  void SortData();

  // Parses the text form when it is newer.
  void ApplyData();
  // Regenerates the text form when the parsed form is newer.
  void UpdateData();

  bool ToApply() const { return FbToApply; }
  bool Modified() const { return FbModified; }

  // Value escapes of the file format: "<BR>" is a line break, "<SP>" a space.
  static std::string DecodeValue(std::string_view value);
  static std::string EncodeValue(std::string_view value);

 private:
  // Case-insensitive (ASCII letters folded) hashing and equality that also
  // accept string_view keys, so lookups need no temporary strings.
  struct TNoCaseHash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const noexcept;
  };
  struct TNoCaseEqual {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const noexcept;
  };
  using TNameIndex = std::unordered_map<std::string, size_t, TNoCaseHash, TNoCaseEqual>;

  struct TLanLine {
    std::string Text;               // whole line: name=value, or as read
    size_t Eq = std::string::npos;  // position of the first "=", npos: no name
    bool HasName() const { return Eq != std::string::npos; }
    std::string_view Name() const { return std::string_view(Text).substr(0, Eq); }
    std::string_view Value() const { return std::string_view(Text).substr(Eq + 1); }
  };

  struct TLanSection {
    std::string Name;
    std::vector<TLanLine> Lines;
    TNameIndex Index;  // entry name -> first line of that name
    const TLanLine* Find(std::string_view name) const;
    // Replaces the first line of name or appends one.
    void SetEntry(std::string_view name, std::string_view encodedValue);
  };

  struct TIniDoc {
    std::vector<TLanSection> Sections;
    TNameIndex Index;  // section name -> first section of that name
    void Clear();
    TLanSection* Find(std::string_view name);
    TLanSection& FindOrAdd(std::string_view name);
    void RebuildIndex();
  };

  void Parse();
  // Rebuilds the text form from the parsed form.
  void Regenerate() const;
  // Brings the text form up to date after SetProp (see FbTextStale).
  void SyncText() const;
  static std::string EntryName(const std::string& strComp, const std::string& strProp);

  mutable TStringList FData;
  TIniDoc FIniData;
  bool FbToApply = true;
  bool FbModified = false;
  // SetProp leaves the text form to be rebuilt when it is next read (Data,
  // ToString, AssignTo, ClearForm, saving), so a run of SetProp calls costs
  // one rebuild instead of one per call. Readers always see the text form
  // as if it had been rebuilt at once.
  mutable bool FbTextStale = false;
};

// Byte-level decoding of a language file: a UTF-8, UTF-16 LE or UTF-16 BE
// byte-order mark selects that encoding, anything else is the system ANSI
// code page. The result is UTF-8. Malformed UTF-16 never fails: an odd last
// byte is dropped and unpaired surrogates become U+FFFD.
std::string DecodeLanguageFileBytes(const std::string& bytes);
