#include "platform/AsciiText.h"

namespace {

template <class T, T kBasis, T kPrime, bool kFold>
T Fnv1a(std::string_view s) {
  T h = kBasis;
  for (char c : s) {
    h ^= static_cast<unsigned char>(kFold ? LowerAscii(c) : c);
    h *= kPrime;
  }
  return h;
}

constexpr uint32_t kBasis32 = 2166136261u, kPrime32 = 16777619u;
constexpr uint64_t kBasis64 = 1469598103934665603ull, kPrime64 = 1099511628211ull;

unsigned char Folded(char c, LetterCase fold) {
  return static_cast<unsigned char>(fold == LetterCase::Upper ? UpperAscii(c) : LowerAscii(c));
}

bool SameTextAt(std::string_view s, size_t pos, std::string_view what) {
  for (size_t i = 0; i < what.size(); ++i)
    if (LowerAscii(s[pos + i]) != LowerAscii(what[i])) return false;
  return true;
}

}  // namespace

std::string LowerCase(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = LowerAscii(c);
  return out;
}

std::string UpperCase(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = UpperAscii(c);
  return out;
}

bool SameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && SameTextAt(a, 0, b);
}

bool StartsWithText(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && SameTextAt(s, 0, prefix);
}

bool EndsWithText(std::string_view s, std::string_view tail) {
  return s.size() >= tail.size() && SameTextAt(s, s.size() - tail.size(), tail);
}

int CompareText(std::string_view a, std::string_view b, LetterCase fold) {
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    const unsigned char x = Folded(a[i], fold), y = Folded(b[i], fold);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

std::string_view TrimView(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
  return s.substr(b, e - b);
}

std::string Trim(std::string_view s) { return std::string(TrimView(s)); }

std::string_view TrimView(std::string_view s, std::string_view blanks) {
  const size_t b = s.find_first_not_of(blanks);
  if (b == std::string_view::npos) return s.substr(s.size());
  return s.substr(b, s.find_last_not_of(blanks) - b + 1);
}

std::string Trim(std::string_view s, std::string_view blanks) {
  return std::string(TrimView(s, blanks));
}

std::vector<std::string_view> SplitView(std::string_view s, char separator) {
  std::vector<std::string_view> pieces;
  for (size_t pos = 0;;) {
    const size_t end = s.find(separator, pos);
    pieces.push_back(s.substr(pos, end == std::string_view::npos ? end : end - pos));
    if (end == std::string_view::npos) return pieces;
    pos = end + 1;
  }
}

std::string EscapeChars(std::string_view s, std::initializer_list<CharEscape> escapes) {
  std::string out;
  out.reserve(s.size());
  for (char c : s) {
    const char* text = nullptr;
    for (const CharEscape& e : escapes)
      if (e.c == c) text = e.text;
    if (text)
      out += text;
    else
      out += c;
  }
  return out;
}

std::string HtmlEscape(std::string_view s) {
  return EscapeChars(
      s, {{'&', "&amp;"}, {'<', "&lt;"}, {'>', "&gt;"}, {'"', "&quot;"}, {'\'', "&#39;"}});
}

void AppendHexByte(std::string& out, uint8_t byte, LetterCase letters) {
  out += HexDigit(byte >> 4, letters);
  out += HexDigit(byte, letters);
}

uint32_t HashText32(std::string_view s) { return Fnv1a<uint32_t, kBasis32, kPrime32, false>(s); }
uint64_t HashText64(std::string_view s) { return Fnv1a<uint64_t, kBasis64, kPrime64, false>(s); }
uint32_t HashSameText32(std::string_view s) { return Fnv1a<uint32_t, kBasis32, kPrime32, true>(s); }
uint64_t HashSameText64(std::string_view s) { return Fnv1a<uint64_t, kBasis64, kPrime64, true>(s); }

std::string HexText(uint64_t v, size_t minDigits) {
  char buf[16];
  size_t n = 0;
  do {
    buf[n++] = HexDigit(static_cast<unsigned>(v));
    v >>= 4;
  } while (v != 0);
  std::string out(minDigits > n ? minDigits - n : 0, '0');
  while (n > 0) out += buf[--n];
  return out;
}
