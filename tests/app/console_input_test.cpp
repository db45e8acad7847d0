#include "app/console_input.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace toneprint {
namespace {

// The line the next reader would see.
std::string next_line(Console& console) {
  char line[64];
  return read_input_line(console, line, sizeof line);
}

TEST(AskYesNo, FirstYOrNLetterDecidesAndItsWholeLineIsConsumed) {
  const struct {
    const char* typed;
    bool answer;
  } cases[] = {
      {"yes\n", true},
      {"Yes\n", true},
      {"  y\n", true},
      {" \tY\n", true},
      {"no\n", false},
      {"NO\n", false},
      {"n\n", false},
      {"maybe\n", true},
      {"any\n", false},
      {"yes\r\n", true},
      {"NO\r\n", false},
      // Lines without either letter decide nothing.
      {"\nok\n\nyes\n", true},
      {"ok\r\n\r\nno\n", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(std::string(c.typed)));
    ScriptedConsole console(std::string(c.typed) + "next\n");
    EXPECT_EQ(ask_yes_no(console), c.answer);
    EXPECT_EQ(next_line(console), "next");
    EXPECT_EQ(console.output(), "") << "no message and no new prompt";
  }
}

TEST(AskYesNo, EndOfInputAnswersNo) {
  for (const char* typed : {"", "ok\n", "\n\n   "}) {
    SCOPED_TRACE(::testing::PrintToString(std::string(typed)));
    ScriptedConsole console(typed);
    EXPECT_FALSE(ask_yes_no(console));
  }
  ScriptedConsole decided_before_the_end("  Y");
  EXPECT_TRUE(ask_yes_no(decided_before_the_end));
}

struct NumberCase {
  std::string typed;  // followed by "next\n", which must be left for the next reader
  double minimum, maximum, default_value;
  double expected;
};

TEST(ReadNumber, ReturnsTheFirstLineWithinTheBoundsOrTheDefaultForABlankOne) {
  const NumberCase cases[] = {
      {"\n", 0, 50, 10, 10},
      {" \t  \t\n", 0, 50, 10, 10},
      {"\r\n", 0, 50, 10, 10},
      {"abc\n", 0, 50, 10, 0},    // no number converts to 0, within these bounds
      {"abc\n3\n", 1, 20, 5, 3},  // ... and is refused here
      {"12abc\n", 0, 50, 10, 12},
      {"1e1\n", 1, 100, 5, 10},
      {"   7\n", 1, 100, 5, 7},
      {"7\r\n", 1, 100, 5, 7},
      {"2.9\n", 1, 100, 5, 2.9},  // whole settings are truncated when stored
      {"50.5\n49.9\n", 0, 50, 10, 49.9},
      {"5\n0\n4.01\n", 1, 4.01, 2, 4.01},
      {"-1\n50\n", 0, 50, 10, 50},  // both bounds are accepted
      {"60\n20\n", 50, 0, 10, 20},  // bounds given the wrong way round
      {"\n4\n", 1, 20, 30, 4},      // default out of bounds: a blank line is 0
      {"nan\ninf\n1e999\n2\n", 1, 20, 5, 2},
      {std::string(29, ' ') + "5\n", 0, 50, 10, 10},  // only 29 characters are read
      {std::string(28, ' ') + "5\n", 0, 50, 10, 5},
      {std::string(28, '0') + "12\n", 0, 50, 10, 1},  // cut to "000...01"
  };
  for (const NumberCase& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.typed));
    ScriptedConsole console(c.typed + "next\n");
    EXPECT_EQ(read_number(console, c.minimum, c.maximum, c.default_value), c.expected);
    EXPECT_EQ(next_line(console), "next");
    EXPECT_EQ(console.output(), "");
  }
}

TEST(ReadNumber, EndOfInputGivesTheDefault) {
  const std::string unfinished_lines[] = {"",         "abc\n", "60\n",
                                          "\n\n99\n", "60",    std::string(40, '3')};
  for (const std::string& typed : unfinished_lines) {
    SCOPED_TRACE(::testing::PrintToString(typed));
    ScriptedConsole console(typed);
    EXPECT_EQ(read_number(console, 1, 20, 5), 5);
  }
}

TEST(ReadNumber, LastLineWithoutLineFeedCounts) {
  ScriptedConsole seven("7");
  EXPECT_EQ(read_number(seven, 1, 20, 5), 7);
  ScriptedConsole refused_then_seven("60\n7");
  EXPECT_EQ(read_number(refused_then_seven, 1, 20, 5), 7);
  // Without a default to offer, nothing at all still ends the wait.
  ScriptedConsole nothing("");
  EXPECT_EQ(read_number(nothing, 0, 20, 50), 50);
}

TEST(ReadInputLine, KeepsAtMostSizeMinusOneCharactersAndDropsTheRestOfTheLine) {
  const struct {
    const char* typed;
    std::uint32_t size;
    const char* line;
  } cases[] = {
      {"ab\nnext\n", 4, "ab"},    {"abc\nnext\n", 4, "abc"},  // exactly fills the buffer
      {"abcd\nnext\n", 4, "abc"}, {"abcdefgh\nnext\n", 4, "abc"}, {"\nnext\n", 4, ""},
      {"abc\nnext\n", 1, ""},     {"ab\r\nnext\n", 4, "ab\r"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(std::string(c.typed)) + " size " +
                 std::to_string(c.size));
    char buffer[8];
    std::memset(buffer, '#', sizeof buffer);
    ScriptedConsole console(c.typed);
    EXPECT_EQ(read_input_line(console, buffer, c.size), buffer);
    EXPECT_STREQ(buffer, c.line);
    EXPECT_EQ(std::string(buffer + c.size, sizeof buffer - c.size), std::string(8 - c.size, '#'))
        << "written past the buffer's size";
    EXPECT_EQ(next_line(console), "next");
  }
}

TEST(ReadInputLine, SizeZeroReadsNothingAndLeavesTheBufferAlone) {
  char buffer[4] = {'#', '#', '#', '#'};
  ScriptedConsole console("abc\n");
  EXPECT_EQ(read_input_line(console, buffer, 0), buffer);
  EXPECT_EQ(std::string(buffer, 4), "####");
  EXPECT_EQ(next_line(console), "abc");
}

TEST(ReadInputLine, EndOfInputReturnsWhatWasRead) {
  char buffer[8];
  ScriptedConsole unfinished("abc");
  EXPECT_STREQ(read_input_line(unfinished, buffer, sizeof buffer), "abc");
  ScriptedConsole long_unfinished("abcdefghijk");
  EXPECT_STREQ(read_input_line(long_unfinished, buffer, sizeof buffer), "abcdefg");
  ScriptedConsole empty("");
  EXPECT_STREQ(read_input_line(empty, buffer, sizeof buffer), "");
}

TEST(IsBlank, OnlyBlanksTabsLineFeedsAndCarriageReturns) {
  EXPECT_TRUE(is_blank(""));
  EXPECT_TRUE(is_blank(" \t\r\n \t"));
  EXPECT_FALSE(is_blank("  0  "));
  EXPECT_FALSE(is_blank("\t\r\n."));
  EXPECT_FALSE(is_blank("\f"));
  EXPECT_FALSE(is_blank("\v"));
}

TEST(DiscardInputLine, ConsumesUpToTheLineFeedOrTheEndOfInput) {
  ScriptedConsole console("rest of the line\r\nnext\n");
  discard_input_line(console);
  EXPECT_EQ(next_line(console), "next");
  EXPECT_EQ(console.output(), "");

  ScriptedConsole unfinished("no line feed");
  discard_input_line(unfinished);  // must return at the end of the input
  EXPECT_EQ(unfinished.read_char(), Console::end_of_input);
}

}  // namespace
}  // namespace toneprint
