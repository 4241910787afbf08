// Text, number, URL and path rules of the utility functions (no files).
#include <gtest/gtest.h>

#include <cctype>
#include <clocale>
#include <cmath>

#include "net/CLUtils.h"

namespace {

using V = std::vector<std::string>;

V Split(const std::string& s, char d) {
  TStringList l;
  SplitString(s, d, &l);
  return l.Lines();
}

TEST(SplitString, KeepsEmptyPiecesAndTheLastPiece) {
  EXPECT_EQ(Split("a;;b", ';'), (V{"a", "", "b"}));
  EXPECT_EQ(Split("a;", ';'), (V{"a", ""}));
  EXPECT_EQ(Split(";", ';'), (V{"", ""}));
  EXPECT_EQ(Split("abc", ';'), (V{"abc"}));
  EXPECT_EQ(Split("", ';'), V{});
  // Pieces are appended to what the list already holds.
  TStringList l(V{"keep"});
  SplitString("x|y", '|', &l);
  EXPECT_EQ(l.Lines(), (V{"keep", "x", "y"}));
  SplitString("x", '|', nullptr);  // no list: nothing happens
}

TEST(FormatPlaceholders, ReplacesEveryOccurrenceInArgumentOrder) {
  EXPECT_EQ(FormatPlaceholders("a{1}b{1}", {"X"}), "aXbX");
  EXPECT_EQ(FormatPlaceholders("{1}-{2}", {"X"}), "X-{2}");
  EXPECT_EQ(FormatPlaceholders("no marks", {"X"}), "no marks");
  // Each replacement works on the result of the one before.
  EXPECT_EQ(FormatPlaceholders("{1}", {"{2}", "Y"}), "Y");
  // "{1}" is not found inside "{10}".
  V ten{"a", "b", "c", "d", "e", "f", "g", "h", "i", "J"};
  EXPECT_EQ(FormatPlaceholders("{10}{1}", ten), "Ja");
}

// Letter case and trimming: tests/platform/AsciiTextTest.cpp.
TEST(StringReplaceAll, ReplacesWithoutOverlapAndOptionallyWithoutCase) {
  EXPECT_EQ(StringReplaceAll("a%1b%1", "%1", "X"), "aXbX");
  EXPECT_EQ(StringReplaceAll("aBcbc", "BC", "-", true), "a--");
  EXPECT_EQ(StringReplaceAll("aBcbc", "BC", "-"), "aBcbc");
  EXPECT_EQ(StringReplaceAll("aaa", "aa", "b"), "ba");  // no overlap, no rescan
  EXPECT_EQ(StringReplaceAll("abc", "", "x"), "abc");
}

TEST(StrToIntDefault, ReadsDecimalAndHexWithin32Bits) {
  // clang-format off
  struct Case { const char* text; int32_t expected; } cases[] = {
      {"0", 0}, {"42", 42}, {"-42", -42}, {"+7", 7}, {"  12", 12},
      {"2147483647", 2147483647}, {"-2147483648", INT32_MIN},
      {"$ff", 255}, {"0x1A", 26}, {"0X1a", 26}, {"-$10", -16},
      {"$FFFFFFFF", -1}, {"0x80000000", INT32_MIN},
      // Unreadable or out of range: the default.
      {"", -9}, {" ", -9}, {"-", -9}, {"$", -9}, {"0x", -9}, {"12 ", -9}, {"1.5", -9},
      {"12a", -9}, {"2147483648", -9}, {"-2147483649", -9}, {"$100000000", -9},
      {"99999999999999999999999", -9}, {"0x-1", -9}, {"--1", -9}, {"abc", -9},
  };
  // clang-format on
  for (const Case& c : cases) EXPECT_EQ(StrToIntDefault(c.text, -9), c.expected) << c.text;
}

TEST(FloatText, ConvertsWithTheGivenSeparatorOnly) {
  double v = -1;
  EXPECT_TRUE(TryStrToFloat("1.5", '.', v));
  EXPECT_DOUBLE_EQ(v, 1.5);
  EXPECT_TRUE(TryStrToFloat("-1,25", ',', v));
  EXPECT_DOUBLE_EQ(v, -1.25);
  EXPECT_TRUE(TryStrToFloat(" 2.5E3 ", '.', v));
  EXPECT_DOUBLE_EQ(v, 2500);
  EXPECT_TRUE(TryStrToFloat(",5", ',', v));
  EXPECT_DOUBLE_EQ(v, 0.5);
  EXPECT_TRUE(TryStrToFloat("2.", '.', v));
  EXPECT_DOUBLE_EQ(v, 2);
  EXPECT_TRUE(TryStrToFloat("1e-400", '.', v));  // underflow reads as zero
  EXPECT_EQ(v, 0);
  v = 7;
  for (const char* bad : {"1,5", "", "-", ".", "1.2.3", "1e", "1e+", "x1", "1e999", "nan", "1 2"})
    EXPECT_FALSE(TryStrToFloat(bad, '.', v)) << bad;
  EXPECT_EQ(v, 7);  // untouched on failure

  EXPECT_EQ(FloatToStr(1.5, ','), "1,5");
  EXPECT_EQ(FloatToStr(-0.25, '.'), "-0.25");
  EXPECT_EQ(FloatToStr(100, '.'), "100");
  EXPECT_EQ(FloatToStr(0.0, '.'), "0");
  EXPECT_EQ(FloatToStr(-0.0, '.'), "0");
  EXPECT_EQ(FloatToStr(0.1, '.'), "0.1");  // 15 digits hide the binary noise
  EXPECT_EQ(FloatToStr(1.0 / 3, '.'), "0.333333333333333");
  EXPECT_EQ(FloatToStr(123456789012345.0, '.'), "123456789012345");
  EXPECT_EQ(FloatToStr(1e15, '.'), "1E15");
  EXPECT_EQ(FloatToStr(0.00001, '.'), "0.00001");
  EXPECT_EQ(FloatToStr(1.5e-7, ','), "1,5E-7");

  // What one writes the other reads back, whatever the process locale.
  const char* old = std::setlocale(LC_NUMERIC, nullptr);
  std::string saved = old ? old : "C";
  std::setlocale(LC_NUMERIC, "de_DE.UTF-8");  // may not exist; harmless then
  for (double x : {3.14159, -2.5e-9, 6.02e23, 12345.678, 1e-5, 47.6062095}) {
    for (char sep : {'.', ','}) {
      double back = 0;
      ASSERT_TRUE(TryStrToFloat(FloatToStr(x, sep), sep, back)) << x;
      EXPECT_NEAR(back, x, std::fabs(x) * 1e-14) << FloatToStr(x, sep);
    }
  }
  std::setlocale(LC_NUMERIC, saved.c_str());
}

TEST(NumberText, AddressesRectanglesAndHex) {
  EXPECT_EQ(IPToInteger("1.2.3.4"), 16909060u);
  EXPECT_EQ(IPToInteger("1.2.3"), 0u);
  EXPECT_EQ(IPToInteger("1.2.3.4.5"), 0u);
  EXPECT_EQ(IPToInteger("1.2.3.300"), 16909100u);  // 300 cut to 44
  EXPECT_EQ(IPToInteger("255.255.255.255 trailing words"), 0xFFFFFFFFu);
  EXPECT_EQ(IPToInteger("1.x.3.4"), 0x01000304u);  // unreadable part is 0
  EXPECT_EQ(IPToInteger(""), 0u);

  TRect r{1, -2, 300, 4000};
  EXPECT_EQ(RectToText(r), "1,-2,300,4000");
  TRect back;
  TextToRect(RectToText(r), back);
  EXPECT_EQ(back, r);
  TRect keep{9, 9, 9, 9};
  TextToRect("1,2,3", keep);
  EXPECT_EQ(keep, (TRect{9, 9, 9, 9}));
  TextToRect("1,2,3,4,5", keep);
  EXPECT_EQ(keep, (TRect{9, 9, 9, 9}));
  TextToRect("5,x,,8", keep);
  EXPECT_EQ(keep, (TRect{5, 0, 0, 8}));

  EXPECT_EQ(CharsToHex("abc", 3), "616263");
  EXPECT_EQ(CharsToHex("abc", 2), "6162");
  EXPECT_EQ(CharsToHex("ab", 10), "6162");
  // Low byte of each UTF-16 unit: U+00E9 -> E9, U+20AC -> AC, U+1F600 -> 3D 00.
  EXPECT_EQ(CharsToHex("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", 4), "E9AC3D00");
  EXPECT_EQ(IntToHexPadded(0x1234, 8), "0000000000001234");
  EXPECT_EQ(IntToHexPadded(0xABCDEF01, 4), "ABCDEF01");
  EXPECT_EQ(IntToHexPadded(0x12345, 2), "12345");
  EXPECT_EQ(IntToHexPadded(0, 1), "00");
}

TEST(Utf16View, ConvertsBothWaysAndKeepsStrayBytes) {
  const std::string text = "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
  EXPECT_EQ(Utf8ToUtf16(text), (std::u16string{u'A', 0xE9, 0x20AC, 0xD83D, 0xDE00}));
  EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(text)), text);
  EXPECT_EQ(TextToLowBytes(text), std::string("A\xE9\xAC\x3D\x00", 5));
  // Invalid UTF-8 (lone continuation, truncated, overlong) keeps its bytes.
  EXPECT_EQ(TextToLowBytes("\x80x\xE2\x82"), "\x80x\xE2\x82");
  EXPECT_EQ(TextToLowBytes("\xC0\xAF"), "\xC0\xAF");
  EXPECT_EQ(Utf16ToUtf8(u"\xD800x"), "\xEF\xBF\xBDx");
}

TEST(URLParams, AddURLParamJoinsWithTheRightSeparator) {
  EXPECT_EQ(AddURLParam("a?b=1", "c=2"), "a?b=1&c=2");
  EXPECT_EQ(AddURLParam("a?", "c=2"), "a?c=2");
  EXPECT_EQ(AddURLParam("a", "c=2"), "a?c=2");
  EXPECT_EQ(AddURLParam("a?b=1&", "c=2"), "a?b=1&c=2");
  EXPECT_EQ(AddURLParam("", "c=2"), "c=2");
}

TEST(URLParams, ParseURLQueryCutsSplitsAndDecodes) {
  TStringList raw(V{"first"});
  ParseURLQuery("http://h/p?a=1&b=x%20y&&c", &raw, false);
  EXPECT_EQ(raw.Lines(), (V{"first", "a=1", "b=x%20y", "", "c"}));

  TStringList noQuery;
  ParseURLQuery("wcme:page=help&x=1", &noQuery, false);  // cut after ":"
  EXPECT_EQ(noQuery.Lines(), (V{"page=help", "x=1"}));

  TStringList l(V{"keep=1", "drop=2"});
  ParseURLQuery("?Name=J%C3%BCrgen+M&keep=new&drop=&bad=%G0&A=1&a=2", &l, true);
  EXPECT_EQ(l.Values("keep"), "new");
  EXPECT_EQ(l.IndexOfName("drop"), -1);  // empty value removes the name
  EXPECT_EQ(l.IndexOfName("bad"), -1);   // undecodable value skipped
  EXPECT_EQ(l.Values("name"), "J\xC3\xBCrgen M");
  EXPECT_EQ(l.Values("a"), "2");  // a later piece replaces
  EXPECT_EQ(l.Count(), 3);
}

TEST(URLCoding, EncodesTheSafeSetAndRoundTripsEveryByte) {
  EXPECT_EQ(URLEncode("Az09!$'()*-.@_"), "Az09!$'()*-.@_");
  EXPECT_EQ(URLEncode("a b&c=d/e~"), "a+b%26c%3Dd%2Fe%7E");
  EXPECT_EQ(URLEncode("\xC3\xA9"), "%C3%A9");  // UTF-8 byte by byte
  EXPECT_EQ(URLEncode("%+"), "%25%2B");

  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  const std::string enc = URLEncode(all);
  int kept = 0;
  for (size_t i = 0; i < enc.size(); ++i) {
    char c = enc[i];
    if (c == '%') {
      ASSERT_LT(i + 2, enc.size());
      EXPECT_TRUE(isxdigit(static_cast<unsigned char>(enc[i + 1])) && !islower(enc[i + 1]) &&
                  !islower(enc[i + 2]))
          << enc.substr(i, 3);
      i += 2;
    } else {
      ++kept;
    }
  }
  EXPECT_EQ(kept, 26 + 26 + 10 + 10 + 1);  // the safe set and "+" for space
  std::string dec;
  ASSERT_TRUE(URLDecode(enc, dec));
  EXPECT_EQ(dec, all);
  for (int b = 0; b < 256; ++b) {
    std::string one(1, static_cast<char>(b)), back;
    ASSERT_TRUE(URLDecode(URLEncode(one), back)) << b;
    EXPECT_EQ(back, one) << b;
  }
}

TEST(URLCoding, DecodeAcceptsPlusDoublePercentAndRejectsBadEscapes) {
  std::string out = "unchanged";
  EXPECT_TRUE(URLDecode("a+b%41%4a%%", out));
  EXPECT_EQ(out, "a bAJ%");
  EXPECT_TRUE(URLDecode("", out));
  EXPECT_EQ(out, "");
  out = "unchanged";
  for (const char* bad : {"%", "a%4", "%G1", "%1G", "%-1", "% 1"})
    EXPECT_FALSE(URLDecode(bad, out)) << bad;
  EXPECT_EQ(out, "unchanged");
}

TEST(Paths, JoinPathWindowsRules) {
  const auto W = PathStyle::Windows;
  // clang-format off
  struct Case { const char* base; const char* rel; const char* expected; } cases[] = {
      {"C:\\app\\", "res\\map.tpl", "C:\\app\\res\\map.tpl"},
      {"C:\\app", "res/flag/x.PNG", "C:\\app\\res\\flag\\x.PNG"},
      {"C:\\app\\", "\\root\\f", "C:\\root\\f"},       // rooted: after the drive
      {"C:\\app\\", "/root/f", "C:\\root\\f"},
      {"C:\\app", "\\", "C:\\app\\\\"},                // one "\" is not rooted
      {"C:\\app\\", "D:\\x", "D:\\x"},                  // absolute Rel alone
      {"C:\\app\\", "http://h/x", "http:\\\\h\\x"},
      {"\\\\server\\share", "x\\y", "x\\y"},            // network base: Rel alone
      {"app\\dir", "x", "x"},                           // relative base
      {"", "x/y", "x\\y"},
      {"C:", "x", "C:\\x"},
      {"C:\\app\\", "", "C:\\app\\"},
      {"ab:c", "x", "x"},                               // ":" not second
  };
  // clang-format on
  for (const Case& c : cases)
    EXPECT_EQ(JoinPath(c.base, c.rel, W), c.expected) << c.base << " + " << c.rel;
}

TEST(Paths, JoinPathPosixRules) {
  const auto P = PathStyle::Posix;
  // clang-format off
  struct Case { const char* base; const char* rel; const char* expected; } cases[] = {
      {"/opt/app/", "res\\map.tpl", "/opt/app/res/map.tpl"},
      {"/opt/app", "res/flag_short\\DE.PNG", "/opt/app/res/flag_short/DE.PNG"},
      {"/opt/app/", "/etc/x", "/etc/x"},            // rooted Rel alone
      {"/opt/app/", "\\etc\\x", "/etc/x"},
      {"/opt/app/", "/", "/"},
      {"/opt/app/", "C:\\x", "C:/x"},               // drive or scheme: Rel alone
      {"/", "x", "/x"},
      {"rel/dir", "x", "x"},                        // relative base
      {"", "x", "x"},
      {"/opt/app", "", "/opt/app/"},
  };
  // clang-format on
  for (const Case& c : cases)
    EXPECT_EQ(JoinPath(c.base, c.rel, P), c.expected) << c.base << " + " << c.rel;

  EXPECT_EQ(IncludeBackslash("C:/a/b", PathStyle::Windows), "C:\\a\\b\\");
  EXPECT_EQ(IncludeBackslash("C:\\a\\", PathStyle::Windows), "C:\\a\\");
  EXPECT_EQ(IncludeBackslash("a\\b", PathStyle::Posix), "a/b/");
  EXPECT_EQ(IncludeBackslash("", PathStyle::Posix), "");
  EXPECT_EQ(IncludeBackslash("", PathStyle::Windows), "");
}

#ifndef _WIN32
TEST(Paths, NativeFolderAndNameParts) {
  ASSERT_EQ(NativePathStyle(), PathStyle::Posix);
  EXPECT_EQ(SlashToBackslash("a\\b/c"), "a/b/c");
  EXPECT_EQ(IncludeBackslash("a\\b"), "a/b/");
  EXPECT_EQ(JoinPath("/x/", "y\\z"), "/x/y/z");
  EXPECT_EQ(ExtractFileDir("/opt/app/tool"), "/opt/app");
  EXPECT_EQ(ExtractFileDir("/tool"), "/");
  EXPECT_EQ(ExtractFileDir("tool"), "");
  EXPECT_EQ(ExtractFileName("/opt/app/tool.exe"), "tool.exe");
  EXPECT_EQ(ExtractFileName("tool"), "tool");
  EXPECT_EQ(FileNameNoExt("/opt/app.d/English.lan"), "English");
  EXPECT_EQ(FileNameNoExt("/opt/app.d/a.b.skn"), "a.b");
  EXPECT_EQ(FileNameNoExt("/opt/app.d/noext"), "noext");
  EXPECT_EQ(PathFromFile("/opt/app/const.dat", "lang\\English.lan"), "/opt/app/lang/English.lan");
  EXPECT_EQ(PathFromFile("/const.dat", "x"), "/x");
}
#endif

}  // namespace
