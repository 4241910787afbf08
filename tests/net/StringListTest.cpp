#include "net/StringList.h"

#include <gtest/gtest.h>

namespace {

std::vector<std::string> LinesOf(const std::string& text) {
  TStringList l;
  l.SetText(text);
  return l.Lines();
}

using V = std::vector<std::string>;

TEST(StringList, SetTextSplitsAtEveryKindOfLineBreak) {
  EXPECT_EQ(LinesOf("a\r\nb\nc\rd"), (V{"a", "b", "c", "d"}));
  // A final break adds no empty line; a last line without one is kept.
  EXPECT_EQ(LinesOf("a\r\nb\r\n"), (V{"a", "b"}));
  EXPECT_EQ(LinesOf("a\r\nb"), (V{"a", "b"}));
  // Empty lines in between survive, whatever the break.
  EXPECT_EQ(LinesOf("a\r\n\r\nb"), (V{"a", "", "b"}));
  EXPECT_EQ(LinesOf("a\n\rb"), (V{"a", "", "b"}));  // LF then a lone CR
  EXPECT_EQ(LinesOf("a\r\r\nb"), (V{"a", "", "b"}));
  EXPECT_EQ(LinesOf("\r\n"), (V{""}));
  EXPECT_EQ(LinesOf(""), V{});
  // Setting the text replaces the old lines.
  TStringList l(V{"old"});
  l.SetText("new");
  EXPECT_EQ(l.Lines(), V{"new"});
}

TEST(StringList, TextEndsEveryLineWithCrLf) {
  EXPECT_EQ(TStringList().Text(), "");
  EXPECT_EQ(TStringList(V{""}).Text(), "\r\n");
  EXPECT_EQ(TStringList(V{"a", "", "b=1"}).Text(), "a\r\n\r\nb=1\r\n");
  // Text and SetText are inverse for lines without breaks.
  TStringList a(V{"x=1", "", "y", " z "});
  TStringList b;
  b.SetText(a.Text());
  EXPECT_EQ(a, b);
}

TEST(StringList, NamesCompareWithoutCaseAndTheFirstLineWins) {
  TStringList l(V{"plain", "Key=one", "KEY=two", "url=http://h/?a=b", "=anonymous"});
  EXPECT_EQ(l.IndexOfName("key"), 1);
  EXPECT_EQ(l.Values("kEy"), "one");
  EXPECT_EQ(l.Values("URL"), "http://h/?a=b");  // value keeps its own "="
  EXPECT_EQ(l.Values("plain"), "");             // a line without "=" has no name
  EXPECT_EQ(l.IndexOfName("plain"), -1);
  EXPECT_EQ(l.IndexOfName("ke"), -1);  // no prefix matches
  EXPECT_EQ(l.Values("missing"), "");
  EXPECT_EQ(l.Names(0), "");
  EXPECT_EQ(l.Names(2), "KEY");
  EXPECT_EQ(l.ValueFromIndex(2), "two");
  EXPECT_EQ(l.Names(4), "");
  EXPECT_EQ(l.IndexOfName(""), 4);
  EXPECT_EQ(l.Names(99), "");
  EXPECT_EQ(l.ValueFromIndex(-1), "");
}

TEST(StringList, SetValueReplacesAppendsAndRemovesOnlyTheFirstLine) {
  TStringList l(V{"a=1", "B=2", "b=3"});
  l.SetValue("b", "x");
  EXPECT_EQ(l.Lines(), (V{"a=1", "b=x", "b=3"}));
  l.SetValue("c", "4");
  EXPECT_EQ(l.Lines(), (V{"a=1", "b=x", "b=3", "c=4"}));
  l.SetValue("B", "");
  EXPECT_EQ(l.Lines(), (V{"a=1", "b=3", "c=4"}));
  EXPECT_EQ(l.Values("b"), "3");  // the next line of that name now wins
  l.SetValue("none", "");         // removing a missing name changes nothing
  EXPECT_EQ(l.Count(), 3);
}

TEST(StringList, LineEditingAndCaseInsensitiveSearch) {
  TStringList l;
  l.Add("one");
  l.Insert(0, "zero");
  l.Insert(99, "last");  // out of range inserts clamp to the ends
  l.Insert(-5, "first");
  EXPECT_EQ(l.Lines(), (V{"first", "zero", "one", "last"}));
  EXPECT_EQ(l.IndexOf("ONE"), 2);
  EXPECT_EQ(l.IndexOf("on"), -1);
  l.Delete(0);
  l.Delete(42);  // ignored
  EXPECT_EQ(l.Lines(), (V{"zero", "one", "last"}));
}

}  // namespace
