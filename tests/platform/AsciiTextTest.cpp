// Letter case, blanks and hexadecimal digits of ASCII: every byte value is
// tried, because a rule that consults the C locale or misplaces a range
// boundary ("@", "[", "`", "{" sit right beside the letters) differs only on
// a few bytes.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/AsciiText.h"

namespace {

using namespace std::string_literals;

TEST(AsciiText, CaseMappingChangesOnlyTheAsciiLetters) {
  for (int i = 0; i < 256; ++i) {
    const char c = static_cast<char>(i);
    const bool upper = i >= 'A' && i <= 'Z', lower = i >= 'a' && i <= 'z';
    const bool digit = i >= '0' && i <= '9';
    EXPECT_EQ(LowerAscii(c), upper ? static_cast<char>(i + 32) : c) << i;
    EXPECT_EQ(UpperAscii(c), lower ? static_cast<char>(i - 32) : c) << i;
    EXPECT_EQ(IsAsciiLetter(c), upper || lower) << i;
    EXPECT_EQ(IsAsciiDigit(c), digit) << i;
    EXPECT_EQ(IsAsciiAlnum(c), upper || lower || digit) << i;
  }
  EXPECT_EQ(LowerCase(""), "");
  EXPECT_EQ(UpperCase(""), "");
  EXPECT_EQ(UpperCase("aZ\xC3\xA9-1_@[`{"), "AZ\xC3\xA9-1_@[`{");
  EXPECT_EQ(LowerCase("AbC \xC3\x89\xC9"), "abc \xC3\x89\xC9");  // UTF-8 and Latin-1 kept
  // Text is taken by its length, not up to a NUL.
  EXPECT_EQ(LowerCase("A\0B"s), "a\0b"s);
}

TEST(AsciiText, SameTextIgnoresOnlyTheCaseOfAsciiLetters) {
  EXPECT_TRUE(SameText("", ""));
  EXPECT_FALSE(SameText("", "a"));
  EXPECT_TRUE(SameText("Content-Length", "content-LENGTH"));
  EXPECT_FALSE(SameText("Hello", "Hell"));
  EXPECT_FALSE(SameText("\xC3\xA9", "\xC3\x89"));  // é and É in UTF-8
  EXPECT_FALSE(SameText("\xE9", "\xC9"));          // é and É in Latin-1
  // Bytes 32 apart that are not letters.
  EXPECT_FALSE(SameText("@", "`"));
  EXPECT_FALSE(SameText("[", "{"));
  EXPECT_FALSE(SameText("a\0b"s, "a\0c"s));

  EXPECT_TRUE(StartsWithText("HTTP://x", "http:"));
  EXPECT_TRUE(StartsWithText("x", ""));
  EXPECT_TRUE(StartsWithText("", ""));
  EXPECT_FALSE(StartsWithText("ht", "http"));
  EXPECT_FALSE(StartsWithText("xhttp", "http"));
  EXPECT_TRUE(EndsWithText("flag.PNG", ".png"));
  EXPECT_TRUE(EndsWithText(".png", ".PNG"));
  EXPECT_FALSE(EndsWithText("png", ".png"));
  EXPECT_FALSE(EndsWithText("a.png.txt", ".png"));
}

TEST(AsciiText, CompareTextOrdersFoldedBytesAsUnsigned) {
  EXPECT_EQ(CompareText("", ""), 0);
  EXPECT_EQ(CompareText("ab", "AB"), 0);
  EXPECT_EQ(CompareText("abc", "ABD"), -1);
  EXPECT_EQ(CompareText("b", "A"), 1);
  EXPECT_EQ(CompareText("", " "), -1);
  EXPECT_EQ(CompareText("ab", "abc"), -1);
  EXPECT_EQ(CompareText("abc", "ab"), 1);
  // Bytes above 0x7F sort after every ASCII byte, whatever char's sign.
  EXPECT_EQ(CompareText("\xC3\xA9", "z"), 1);
  // The fold decides where "_" stands beside the letters.
  EXPECT_EQ(CompareText("A", "_"), -1);
  EXPECT_EQ(CompareText("A", "_", LetterCase::Lower), 1);
  EXPECT_EQ(CompareText("a", "_", LetterCase::Upper), -1);

  // A consistent order: swapping the sides swaps the sign.
  const std::vector<std::string> texts = {"", "a", "A", "_", "ab", "aB_", "Z", "\xC9", "0"};
  for (LetterCase fold : {LetterCase::Upper, LetterCase::Lower})
    for (const std::string& a : texts)
      for (const std::string& b : texts)
        EXPECT_EQ(CompareText(a, b, fold), -CompareText(b, a, fold)) << a << " / " << b;
}

TEST(AsciiText, TrimRemovesBlanksAtBothEndsOnly) {
  EXPECT_EQ(Trim(""), "");
  EXPECT_EQ(Trim(" \t\r\n"), "");
  EXPECT_EQ(Trim(" \t\r\n x y \x01"), "x y");
  EXPECT_EQ(Trim("\0a\0"s), "a");           // NUL is a control byte
  EXPECT_EQ(Trim("\xC2\xA0"), "\xC2\xA0");  // bytes above the space are no blanks
  EXPECT_EQ(Trim("\x7F"), "\x7F");

  // Only the listed bytes go.
  EXPECT_EQ(Trim("\r\n a \r\n", " \t"), "\r\n a \r\n");
  EXPECT_EQ(Trim(" \t a b \t ", " \t"), "a b");
  EXPECT_EQ(Trim("  ", " \t"), "");
  EXPECT_EQ(Trim("abc", ""), "abc");

  // The view lies inside the text it was given.
  const std::string text = "  middle  ";
  const std::string_view view = TrimView(text);
  EXPECT_EQ(view, "middle");
  EXPECT_EQ(view.data(), text.data() + 2);
  EXPECT_EQ(TrimView(text, " ").data(), text.data() + 2);
}

TEST(AsciiText, SplittingKeepsEveryPieceEmptyOnesIncluded) {
  using Pieces = std::vector<std::string_view>;
  struct Case {
    const char* in;
    Pieces pieces;
  };
  const Case cases[] = {
      {"", {""}},
      {"a", {"a"}},
      {"a:b", {"a", "b"}},
      {"a::b", {"a", "", "b"}},
      {":a:", {"", "a", ""}},
      {"/usr/bin:/bin", {"/usr/bin", "/bin"}},
  };
  for (const Case& c : cases) EXPECT_EQ(SplitView(c.in, ':'), c.pieces) << c.in;
}

TEST(AsciiText, EscapingReplacesOnlyTheListedCharacters) {
  struct Case {
    std::string in, html;
  };
  const Case cases[] = {
      {"plain text 123", "plain text 123"},
      {"<b a=\"1\">&'</b>", "&lt;b a=&quot;1&quot;&gt;&amp;&#39;&lt;/b&gt;"},
      // Already escaped text is escaped again: the page shows what was given.
      {"&amp;", "&amp;amp;"},
      {"\0<\xC3\xA9"s, "\0&lt;\xC3\xA9"s},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(HtmlEscape(c.in), c.html) << c.in;
  // Every byte that is not listed passes unchanged; a NUL can be listed.
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  const std::string escaped = EscapeChars(all, {{'\0', "\\0"}, {'\\', "\\\\"}});
  EXPECT_EQ(escaped.size(), all.size() + 2);
  EXPECT_EQ(escaped.substr(0, 3), "\\0\x01");
  EXPECT_EQ(EscapeChars("a\\b", {{'\\', "\\\\"}}), "a\\\\b");
}

TEST(AsciiText, HexDigitsReadBackWhatIsWritten) {
  int valid = 0;
  for (int i = 0; i < 256; ++i) {
    const int v = HexDigitValue(static_cast<char>(i));
    EXPECT_EQ(IsHexDigit(static_cast<char>(i)), v >= 0);
    if (v >= 0) ++valid;
  }
  EXPECT_EQ(valid, 22);  // 0-9, a-f, A-F
  EXPECT_EQ(HexDigitValue('0'), 0);
  EXPECT_EQ(HexDigitValue('9'), 9);
  EXPECT_EQ(HexDigitValue('a'), 10);
  EXPECT_EQ(HexDigitValue('F'), 15);
  for (char c : {'g', 'G', '/', ':', '@', '`', ' ', '\0', '\xB0'})
    EXPECT_EQ(HexDigitValue(c), -1) << static_cast<int>(static_cast<unsigned char>(c));

  for (int b = 0; b < 256; ++b) {
    for (LetterCase letters : {LetterCase::Upper, LetterCase::Lower}) {
      std::string out = "%";
      AppendHexByte(out, static_cast<uint8_t>(b), letters);
      ASSERT_EQ(out.size(), 3u);
      EXPECT_EQ(HexDigitValue(out[1]) * 16 + HexDigitValue(out[2]), b) << out;
      EXPECT_EQ(out, letters == LetterCase::Upper ? UpperCase(out) : LowerCase(out));
    }
  }

  EXPECT_EQ(HexText(0), "0");
  EXPECT_EQ(HexText(0, 0), "0");
  EXPECT_EQ(HexText(0, 8), "00000000");
  EXPECT_EQ(HexText(0x1234, 8), "00001234");
  EXPECT_EQ(HexText(0xABCDEF01, 4), "ABCDEF01");  // never cut short
  EXPECT_EQ(HexText(UINT64_MAX), "FFFFFFFFFFFFFFFF");
}

TEST(AsciiText, HashesStayTheSameAcrossBuilds) {
  // Published FNV-1a test values.
  EXPECT_EQ(HashText32(""), 0x811C9DC5u);
  EXPECT_EQ(HashText32("a"), 0xE40C292Cu);
  EXPECT_EQ(HashText32("foobar"), 0xBF9CF968u);
  // The 64-bit form names lock files and kernel objects: these are the
  // values those names have always carried.
  EXPECT_EQ(HashText64(""), 0x14650FB0739D0383u);
  EXPECT_EQ(HashText64("a"), 0x44BD8AD473CD9906u);
  EXPECT_EQ(HashText64("Global\\Veilgate"), 0xF1EF88543A120E2Bu);

  // Texts SameText finds equal hash alike, in both widths; the plain forms
  // keep case apart.
  EXPECT_EQ(HashSameText32("Content-LENGTH"), HashText32("content-length"));
  EXPECT_EQ(HashSameText64("Content-LENGTH"), HashText64("content-length"));
  EXPECT_NE(HashText32("A"), HashText32("a"));
  EXPECT_NE(HashText64("A"), HashText64("a"));
  EXPECT_NE(HashSameText32("\xC9"), HashSameText32("\xE9"));
  EXPECT_NE(HashSameText32("@"), HashSameText32("`"));
  // Every byte counts, a NUL too.
  EXPECT_NE(HashText64("ab"), HashText64("ab\0"s));
}

}  // namespace
