// The text functions that the window's decisions stand on.
#include "platform/text.h"

#include <gtest/gtest.h>

#include "platform/exceptions.h"

namespace {

struct SplitCase {
  std::string text;
  std::vector<std::string> fields;
};

TEST(TextTest, SplitAtEveryBlank) {
  const SplitCase cases[] = {
      {"", {""}},
      {" ", {"", ""}},
      {"inet 10.0.0.5 netmask", {"inet", "10.0.0.5", "netmask"}},
      {"a  b", {"a", "", "b"}},
      {"a\tb c\nd e", {"a\tb", "c\nd", "e"}},
      {"one", {"one"}},
  };
  for (const auto& c : cases) EXPECT_EQ(Split(c.text, " ").items(), c.fields) << c.text;
}

TEST(TextTest, ReadPastTheEndRaises) {
  StringArray one = Split("nothing", " ");
  EXPECT_EQ(one[0], "nothing");
  EXPECT_THROW(one[1], OutOfBoundsException);
}

TEST(TextTest, RightCountsCharacters) {
  EXPECT_EQ(Right("orvande -automount", 10), "-automount");
  EXPECT_EQ(Right("short", 10), "short");
  EXPECT_EQ(Right("", 3), "");
  EXPECT_EQ(Right("/Mus\xC3\xA9"
                  "e/velmoor",
                  8),
            "/velmoor");
  EXPECT_EQ(Right("ab\xC3\xA9", 1), "\xC3\xA9");  // never half a character
}

TEST(TextTest, ReplaceOnceAndReplaceAll) {
  EXPECT_EQ(Replace("/a/velmoor/b/velmoor", "/velmoor", ""), "/a/b/velmoor");
  EXPECT_EQ(Replace("none", "/velmoor", ""), "none");
  EXPECT_EQ(ReplaceAll("a b  c", " ", "\\ "), "a\\ b\\ \\ c");
  EXPECT_EQ(ReplaceAll("aaa", "a", "aa"), "aaaaaa");  // what is put in is not searched again
  EXPECT_EQ(ReplaceAll("abc", "", "x"), "abc");
}

TEST(TextTest, ComparisonIsByteExact) {
  EXPECT_EQ(Compare("Start", "Start"), 0);
  EXPECT_NE(Compare("start", "Start"), 0);
  EXPECT_NE(Compare("Start ", "Start"), 0);
}

}  // namespace
