// Text rules on plain bytes that every layer shares: letter case, blanks and
// hexadecimal digits of ASCII. They never consult the C locale (a process
// whose locale folds "\xC9" to "\xE9" must not fold bytes of UTF-8 text), and
// bytes of 0x80 and above always pass through unchanged.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

// Which case letters take: in comparisons, the case both sides are folded to;
// in hexadecimal text, the case of the digits "a" to "f".
enum class LetterCase { Upper, Lower };

// --- characters ---------------------------------------------------------------
constexpr bool IsAsciiUpper(char c) { return c >= 'A' && c <= 'Z'; }
constexpr bool IsAsciiLower(char c) { return c >= 'a' && c <= 'z'; }
constexpr bool IsAsciiLetter(char c) { return IsAsciiUpper(c) || IsAsciiLower(c); }
constexpr bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }
constexpr bool IsAsciiAlnum(char c) { return IsAsciiLetter(c) || IsAsciiDigit(c); }
constexpr char LowerAscii(char c) {
  return IsAsciiUpper(c) ? static_cast<char>(c + ('a' - 'A')) : c;
}
constexpr char UpperAscii(char c) {
  return IsAsciiLower(c) ? static_cast<char>(c - ('a' - 'A')) : c;
}

// --- letter case --------------------------------------------------------------
std::string LowerCase(std::string_view s);
std::string UpperCase(std::string_view s);
// Equality with ASCII letters compared without regard to case.
bool SameText(std::string_view a, std::string_view b);
bool StartsWithText(std::string_view s, std::string_view prefix);
bool EndsWithText(std::string_view s, std::string_view tail);
// Three-way comparison (-1, 0, 1) of the bytes as unsigned values, letters
// folded to one case first; a text sorts before its longer continuations.
// The fold matters for the six characters between "Z" and "a" ("[", "\",
// "]", "^", "_", "`"): folded to upper case they sort after the letters,
// folded to lower case before them.
int CompareText(std::string_view a, std::string_view b, LetterCase fold = LetterCase::Upper);

// --- blanks -------------------------------------------------------------------
// Removes every byte up to and including the space (controls, line breaks,
// tabs) at both ends.
std::string_view TrimView(std::string_view s);
std::string Trim(std::string_view s);
// Removes the bytes listed in blanks at both ends.
std::string_view TrimView(std::string_view s, std::string_view blanks);
std::string Trim(std::string_view s, std::string_view blanks);

// --- splitting ----------------------------------------------------------------
// The pieces of s between the separators, empty ones included ("a::b" gives
// "a", "", "b"; "" gives one empty piece). Views into s.
std::vector<std::string_view> SplitView(std::string_view s, char separator);

// --- escaping -----------------------------------------------------------------
// One character and the text that stands for it.
struct CharEscape {
  char c;
  const char* text;
};
// s with each character that has an entry in escapes replaced by its text.
std::string EscapeChars(std::string_view s, std::initializer_list<CharEscape> escapes);
// Text safe in HTML elements and quoted attributes: markup characters become
// references, so a value can never open an element or end an attribute.
std::string HtmlEscape(std::string_view s);

// --- hexadecimal --------------------------------------------------------------
// 0..15 for "0".."9", "a".."f" and "A".."F"; -1 for anything else.
constexpr int HexDigitValue(char c) {
  if (IsAsciiDigit(c)) return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
constexpr bool IsHexDigit(char c) { return HexDigitValue(c) >= 0; }
// The digit of the low four bits of v.
constexpr char HexDigit(unsigned v, LetterCase letters = LetterCase::Upper) {
  return (letters == LetterCase::Upper ? "0123456789ABCDEF" : "0123456789abcdef")[v & 0xF];
}
// Appends the byte as two digits.
void AppendHexByte(std::string& out, uint8_t byte, LetterCase letters = LetterCase::Upper);
// v in upper-case digits, without leading zeros but padded with zeros to at
// least minDigits ("0" for 0 and minDigits 1).
std::string HexText(uint64_t v, size_t minDigits = 1);

// --- hashes -------------------------------------------------------------------
// FNV-1a hashes of the bytes, stable across builds and platforms: lock files,
// kernel objects and sockets are named with them, and a running older build
// must find the same names. The 64-bit form starts from 1469598103934665603,
// the basis these names have always used (the published basis has one more
// digit). The SameText forms hash ASCII letters folded to lower case, so
// texts SameText finds equal hash alike.
uint32_t HashText32(std::string_view s);
uint64_t HashText64(std::string_view s);
uint32_t HashSameText32(std::string_view s);
uint64_t HashSameText64(std::string_view s);
