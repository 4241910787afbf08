// An ordered list of text lines that doubles as a name=value list: the name
// of a line is the text before its first "=", the value the rest. Names
// compare without regard to letter case and the first line of a name wins.
// Service answers, the real-IP information and language data travel in it.
#pragma once

#include <string>
#include <vector>

class TStringList {
 public:
  TStringList() = default;
  explicit TStringList(std::vector<std::string> lines) : FLines(std::move(lines)) {}

  int Count() const { return static_cast<int>(FLines.size()); }
  bool Empty() const { return FLines.empty(); }
  const std::string& operator[](int i) const { return FLines[static_cast<size_t>(i)]; }
  std::string& operator[](int i) { return FLines[static_cast<size_t>(i)]; }
  const std::vector<std::string>& Lines() const { return FLines; }

  void Add(const std::string& line) { FLines.push_back(line); }
  void Insert(int index, const std::string& line);
  void Delete(int index);
  void Clear() { FLines.clear(); }
  // Index of the first line equal to text (case-insensitive), or -1.
  int IndexOf(const std::string& text) const;

  // Name=value access.
  int IndexOfName(const std::string& name) const;     // first line of that name, or -1
  std::string Names(int index) const;                 // name of line index ("" without "=")
  std::string ValueFromIndex(int index) const;        // value of line index
  std::string Values(const std::string& name) const;  // value of the first line of name
  // Replaces the first line of name, appends "name=value", or removes that
  // line when value is empty.
  void SetValue(const std::string& name, const std::string& value);

  // Text form: lines joined with CR LF, each line ended with CR LF.
  std::string Text() const;
  // Replaces the lines with the text split at CR LF, CR or LF. A last line
  // without a line break is kept; a final line break adds no empty line.
  void SetText(const std::string& text);

  // Update bracket; kept for callers that bracket bulk changes.
  void BeginUpdate() { ++FUpdateCount; }
  void EndUpdate() {
    if (FUpdateCount > 0) --FUpdateCount;
  }

  bool operator==(const TStringList& other) const { return FLines == other.FLines; }

 private:
  std::vector<std::string> FLines;
  int FUpdateCount = 0;
};
