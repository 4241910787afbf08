// URL coding and query parsing.
//  - URLDecode(URLEncode(x)) gives x back for every byte string, and the
//    encoded form holds only the safe set, "+" and "%XX".
//  - URLDecode accepts exactly the texts whose every "%" starts "%%" or a
//    two-digit hexadecimal escape.
//  - ParseURLQuery with decoding stores only decodable values, one line per
//    name; without decoding it keeps every piece.
#include <string>

#include "FuzzSupport.h"
#include "net/CLUtils.h"

namespace {

bool IsHex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// Reference reading of the decoder's acceptance rule.
bool Decodable(const std::string& s) {
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '%') continue;
    if (i + 1 < s.size() && s[i + 1] == '%') {
      ++i;
      continue;
    }
    if (i + 2 >= s.size() || !IsHex(s[i + 1]) || !IsHex(s[i + 2])) return false;
    i += 2;
  }
  return true;
}

bool SafeEncoded(const std::string& e) {
  for (size_t i = 0; i < e.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(e[i]);
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) continue;
    if (std::string("!$'()*-.@_+").find(static_cast<char>(c)) != std::string::npos) continue;
    if (c == '%' && i + 2 < e.size() && IsHex(e[i + 1]) && IsHex(e[i + 2])) {
      i += 2;
      continue;
    }
    return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string s(reinterpret_cast<const char*>(data), size);

  const std::string enc = URLEncode(s);
  FUZZ_CHECK(SafeEncoded(enc), "encoded text holds an unsafe byte");
  std::string dec;
  FUZZ_CHECK(URLDecode(enc, dec), "encoded text does not decode");
  FUZZ_CHECK(dec == s, "decode(encode(x)) differs from x");

  std::string out = "unchanged";
  const bool ok = URLDecode(s, out);
  FUZZ_CHECK(ok == Decodable(s), "decoder acceptance differs from the escape rule");
  if (!ok) FUZZ_CHECK(out == "unchanged", "a failed decode changed its output");
  if (ok) FUZZ_CHECK(out.size() <= s.size(), "decoded text is longer than its input");

  // Query parsing, both ways.
  TStringList raw;
  ParseURLQuery(s, &raw, false);
  TStringList decoded;
  ParseURLQuery(s, &decoded, true);
  FUZZ_CHECK(decoded.Count() <= raw.Count(), "decoding added pieces");
  for (int i = 0; i < decoded.Count(); ++i) {
    const std::string name = decoded.Names(i);
    if (decoded[i].find('=') == std::string::npos) continue;
    FUZZ_CHECK(decoded.IndexOfName(name) == i, "two lines of one name after decoding");
    FUZZ_CHECK(!decoded.ValueFromIndex(i).empty(), "an empty value was stored");
  }
  // A list that already holds lines keeps them in front.
  TStringList withLine;
  withLine.Add("keep");
  ParseURLQuery(s, &withLine, false);
  FUZZ_CHECK(withLine[0] == "keep" && withLine.Count() == raw.Count() + 1,
             "parsing without decoding disturbed the list");
  ParseURLQuery(s, nullptr, true);
  return 0;
}
