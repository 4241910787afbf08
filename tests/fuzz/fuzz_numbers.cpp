// StrToIntDefault, IPToInteger and TextToRect against plain reference
// readings of their rules:
//  - StrToIntDefault: blanks, an optional sign, then decimal digits within
//    the 32-bit signed range, or hexadecimal after "$" or "0x" within 32
//    bits (two's complement, so $FFFFFFFF is -1); anything else gives the
//    default.
//  - IPToInteger: the text before the first space, exactly four "." parts,
//    each part's number cut to 8 bits.
//  - TextToRect: exactly four "," parts, else the rectangle stays; and
//    RectToText reads back through TextToRect.
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "net/CLUtils.h"

namespace {

bool RefStrToInt(const std::string& s, int32_t& out) {
  size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  bool neg = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) neg = s[i++] == '-';
  int base = 10;
  if (i < s.size() && s[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= s.size()) return false;
  // Digits only, leading zeros skipped, at most 10 significant digits.
  std::string digits = s.substr(i);
  for (char c : digits) {
    const bool ok =
        base == 10 ? (c >= '0' && c <= '9')
                   : ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'));
    if (!ok) return false;
  }
  size_t z = digits.find_first_not_of('0');
  digits = z == std::string::npos ? "0" : digits.substr(z);
  if (digits.size() > 10) return false;
  const unsigned long long v = std::stoull(digits, nullptr, base);
  if (base == 16) {
    if (v > 0xFFFFFFFFull) return false;
    uint32_t u = static_cast<uint32_t>(v);
    if (neg) u = 0u - u;
    std::memcpy(&out, &u, sizeof out);
    return true;
  }
  const long long signedValue = neg ? -static_cast<long long>(v) : static_cast<long long>(v);
  if (signedValue < INT32_MIN || signedValue > INT32_MAX) return false;
  out = static_cast<int32_t>(signedValue);
  return true;
}

std::vector<std::string> Split(const std::string& s, char d) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t p = s.find(d, start);
    parts.push_back(s.substr(start, p == std::string::npos ? std::string::npos : p - start));
    if (p == std::string::npos) return parts;
    start = p + 1;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string s(reinterpret_cast<const char*>(data), size);

  for (int32_t def : {0, -7, INT32_MIN}) {
    int32_t want = def;
    RefStrToInt(s, want);
    FUZZ_CHECK(StrToIntDefault(s, def) == want,
               "StrToIntDefault(\"" + s + "\") = " + std::to_string(StrToIntDefault(s, def)) +
                   ", expected " + std::to_string(want));
  }

  uint32_t ip = 0;
  const std::vector<std::string> parts = Split(s.substr(0, s.find(' ')), '.');
  if (parts.size() == 4)
    for (const std::string& p : parts)
      ip = (ip << 8) | (static_cast<uint32_t>(StrToIntDefault(p, 0)) & 0xFF);
  FUZZ_CHECK(IPToInteger(s) == ip, "IPToInteger(\"" + s + "\")");

  const TRect before{11, 22, 33, 44};
  TRect r = before;
  TextToRect(s, r);
  const std::vector<std::string> pieces = Split(s, ',');
  if (s.empty() || pieces.size() != 4) {
    FUZZ_CHECK(r == before, "TextToRect changed the rectangle without four parts");
  } else {
    FUZZ_CHECK(r.Left == StrToIntDefault(pieces[0], 0) && r.Top == StrToIntDefault(pieces[1], 0) &&
                   r.Right == StrToIntDefault(pieces[2], 0) &&
                   r.Bottom == StrToIntDefault(pieces[3], 0),
               "TextToRect parts");
    TRect back{};
    TextToRect(RectToText(r), back);
    FUZZ_CHECK(back == r, "RectToText does not read back");
  }
  return 0;
}
