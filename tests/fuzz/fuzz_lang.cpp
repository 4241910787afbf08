// Language files: raw file bytes in any encoding (UTF-8, UTF-16 LE and BE
// byte-order marks, else the ANSI code page), parsed, looked up, changed,
// sorted and written.
//  - Decoding never fails and always gives valid UTF-8 for UTF-16 input.
//  - The canonical (sorted) text is a fixed point: loading it and sorting
//    again gives the same text.
//  - A text set with SetProp reads back with its line breaks as CR LF,
//    both from memory and after a trip through the file text, whenever the
//    format can carry it (no "<" escapes of its own, not blank at the ends).
#include <string>

#include "FuzzSupport.h"
#include "framework/lang/CLMultiLangLan.h"

namespace {

bool ValidUtf8(const std::string& s) {
  size_t i = 0;
  while (i < s.size()) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (len == 0 || i + len > s.size()) return false;
    for (size_t k = 1; k < len; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += len;
  }
  return true;
}

// Whether the file format carries the text unchanged (up to line breaks).
bool Carried(const std::string& v) {
  if (v.find('<') != std::string::npos) return false;
  size_t b = 0, e = v.size();
  while (b < e && v[b] == ' ') ++b;
  while (e > b && v[e - 1] == ' ') --e;
  if (b == e) return true;
  auto ok = [](char c) { return c == '\r' || c == '\n' || static_cast<unsigned char>(c) > ' '; };
  return ok(v[b]) && ok(v[e - 1]);
}

// A name the file format keeps: no break, "=", brackets or blanks at the ends.
std::string CleanName(const std::string& raw, const char* fallback) {
  std::string n;
  for (char c : raw)
    if (static_cast<unsigned char>(c) > ' ' && c != '=' && c != '[' && c != ']' && c != ';') n += c;
  return n.empty() ? fallback : n.substr(0, 32);
}

}  // namespace

VG_FUZZ_IN_SANDBOX()

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Reader in(data, size);
  const std::string form = CleanName(in.Piece(0), "TfrmMain");
  const std::string comp = CleanName(in.Piece(0), "btnOK");
  const std::string text = in.Piece(0);
  const std::string file = in.Rest();

  const std::string decoded = DecodeLanguageFileBytes(file);
  if (file.size() >= 2 &&
      (file.compare(0, 2, "\xFF\xFE") == 0 || file.compare(0, 2, "\xFE\xFF") == 0))
    FUZZ_CHECK(ValidUtf8(decoded), "UTF-16 file decoded to invalid UTF-8");

  TCLMultiLangLan lan;
  lan.LoadFromString(decoded);
  std::string v;
  (void)lan.GetProp(form, comp, "Caption", v);
  (void)lan.GetProp("Info", "", "Language", v);
  TStringList sl;
  lan.GetSectionStrings("AppRes", sl);
  lan.GetSectionStrings(form, sl);

  // Canonical order is a fixed point.
  TCLMultiLangLan sorted;
  sorted.LoadFromString(decoded);
  sorted.SortData();
  const std::string once = sorted.ToString();
  TCLMultiLangLan again;
  again.LoadFromString(once);
  again.SortData();
  FUZZ_CHECK(again.ToString() == once, "sorted text is not stable");

  // A text set and read back.
  lan.SetProp(form, comp, "Caption", text);
  std::string got;
  FUZZ_CHECK(lan.GetProp(form, comp, "Caption", got), "set text not found");
  if (text.find('<') == std::string::npos)
    FUZZ_CHECK(got == fuzz::NormaliseBreaks(text), "set text reads back changed");
  const bool carried = Carried(text);
  TCLMultiLangLan copy;
  lan.AssignTo(&copy);
  std::string fromText;
  FUZZ_CHECK(copy.GetProp(form, comp, "Caption", fromText), "set text lost in the text form");
  if (carried) FUZZ_CHECK(fromText == got, "set text changed through the text form");

  // Only the reserved sections survive ClearAllForm.
  lan.ClearForm(comp);
  lan.ClearAllForm();
  const bool reserved = fuzz::SameAscii(form, "Info") || fuzz::SameAscii(form, "AppRes") ||
                        fuzz::SameAscii(form, "LibRes") || fuzz::SameAscii(form, "SkinRes") ||
                        fuzz::SameAscii(form, "BasicRes");
  if (!reserved)
    FUZZ_CHECK(!lan.GetProp(form, comp, "Caption", v), "window section survived ClearAllForm");
  (void)lan.ToString();

  // Saving and loading through a real file in the sandbox, now and then.
  if (size > 0 && (data[0] & 0x1F) == 0) {
    const std::string path = fuzz::SandboxRoot() + "/tmp/fuzz.lan";
    TCLMultiLangLan one;
    one.SetProp(form, comp, "Caption", text);
    one.SaveToFile(path);
    TCLMultiLangLan loaded;
    loaded.LoadFromFile(path);
    std::string fromFile;
    FUZZ_CHECK(loaded.GetProp(form, comp, "Caption", fromFile), "saved text lost");
    if (carried)
      FUZZ_CHECK(fromFile == fuzz::NormaliseBreaks(text), "saved text reads back changed");
  }
  return 0;
}
