// How a dropped path is written for the server's command line: the shell
// must read it back as one literal word, and blank-only paths must keep the
// text the settings files written so far hold.
#include "window/drop_path.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/text.h"
#include "support/test_support.h"

namespace {

struct EscapeCase {
  const char* name;
  std::string path;
  std::string escaped;
};
void PrintTo(const EscapeCase& c, std::ostream* os) { *os << c.name; }

class EscapeTable : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(EscapeTable, GivesTheExpectedText) {
  EXPECT_EQ(droppath::Escape(GetParam().path), GetParam().escaped);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, EscapeTable,
    ::testing::Values(EscapeCase{"Empty", "", ""}, EscapeCase{"Plain", "/home/ann/Games", "/home/ann/Games"},
                      EscapeCase{"HarmlessPunctuation", "/a-b_c.d,e:f@g+h^i", "/a-b_c.d,e:f@g+h^i"},
                      EscapeCase{"Utf8", "/m\xC3\xBAsica/\xE6\x97\xA5\xE6\x9C\xAC",
                                 "/m\xC3\xBAsica/\xE6\x97\xA5\xE6\x9C\xAC"},
                      EscapeCase{"OneBlank", "/My Games", "/My\\ Games"},
                      EscapeCase{"BlanksEverywhere", " /a  b/ ", "\\ /a\\ \\ b/\\ "},
                      EscapeCase{"LineFeed", "/a\nb", "/a'\n'b"},
                      EscapeCase{"OnlyLineFeeds", "\n\n", "'\n''\n'"},
                      EscapeCase{"LineFeedBesideBlank", "/a \nb", "/a\\ '\n'b"},
                      EscapeCase{"Substitution", "/x/a$(touch pwned)b", "/x/a\\$\\(touch\\ pwned\\)b"},
                      EscapeCase{"BackslashAlreadyThere", "/a\\ b", "/a\\\\\\ b"}),
    [](const auto& info) { return std::string(info.param.name); });

// Every character the POSIX shell treats specially gets one backslash, alone
// and amid other text.
TEST(DropPathEscape, EverySpecialCharacterGetsOneBackslash) {
  const std::string special = " \t\\'\"$&;|<>()*?[]#~=%{}!`";
  for (char c : special) {
    SCOPED_TRACE(std::string("character code ") + std::to_string(static_cast<int>(c)));
    EXPECT_EQ(droppath::Escape(std::string(1, c)), std::string("\\") + c);
    EXPECT_EQ(droppath::Escape(std::string("a") + c + "b"), std::string("a\\") + c + "b");
  }
}

// Paths whose only special character is the blank are written exactly as a
// backslash before each blank, nothing else, so saved settings keep their
// meaning.
TEST(DropPathEscape, BlankOnlyPathsGetExactlyBackslashBlank) {
  for (const std::string path : {"/My Games", "a b c", "  ", "/x/ y /z ", "/Disc 1/Track 02"}) {
    EXPECT_EQ(droppath::Escape(path), ReplaceAll(path, " ", "\\ ")) << path;
  }
}

// Runs the command with the system shell, in the current folder, and gives
// what it printed.
std::string RunShell(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return "<popen failed>";
  char buffer[512];
  std::size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  pclose(pipe);
  return out;
}

class DropPathShell : public ::testing::Test {
 protected:
  void SetUp() override {
    oldCwd_ = std::filesystem::current_path();
    std::filesystem::current_path(cwd_.path());
  }
  void TearDown() override { std::filesystem::current_path(oldCwd_); }

  testsupport::TempDir cwd_;
  std::filesystem::path oldCwd_;
};

// Put unquoted into a command line, the escaped text reaches the program as
// one argument holding the literal path, and runs nothing.
TEST_F(DropPathShell, ShellReadsTheLiteralPathBack) {
  const std::string names[] = {
      "a$(touch pwned)b",
      "x`touch pwned`y",
      "semi;touch pwned",
      "and&&touch pwned",
      "pipe|touch pwned",
      "<in>out",
      "(sub shell)",
      "glob*?[ab]",
      "#hash",
      "~",
      "~root/x",
      "a=b",
      "%percent",
      "{a,b}",
      "!bang",
      "back\\slash\\",
      "it's",
      "say \"hi\"",
      "tab\there",
      "new\nline",
      "trailing\n",
      "\n",
      "  two  blanks  ",
      "$HOME${IFS}$1",
      "-n",
      "-",
      "\xC3\xA9t\xC3\xA9 d\xE2\x80\x99hiver",
  };
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    const std::string escaped = droppath::Escape(name);
    EXPECT_EQ(RunShell("printf '%s\\n' " + escaped), name + "\n");
    // One argument, not several that print the same lines.
    EXPECT_EQ(RunShell("printf '[%s]' " + escaped), "[" + name + "]");
  }
  EXPECT_FALSE(std::filesystem::exists(cwd_.path() / "pwned"));
  EXPECT_TRUE(std::filesystem::is_empty(cwd_.path()));
}

}  // namespace
