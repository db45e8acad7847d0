#include "app/console_input.h"

#include <gtest/gtest.h>

using namespace toneprint;

// Reads the typed text with `read`. Text that ends its last line is followed
// by one more line, which the reader must leave to the next one.
template <typename Read>
static auto read_typed(const std::string& typed, Read read) {
  const bool whole_lines = !typed.empty() && typed.back() == '\n';
  ScriptedConsole console(whole_lines ? typed + "next\n" : typed);
  const auto answer = read(console);
  char next[8];
  EXPECT_STREQ(read_input_line(console, next, sizeof next), whole_lines ? "next" : "")
      << testing::PrintToString(typed);
  return answer;
}

TEST(AskYesNo, FirstYOrNDecidesTheLineAndTheEndOfInputAnswersNo) {
  // clang-format off
  for (const auto& [typed, yes] : std::initializer_list<std::pair<std::string, bool>>{
           {"yes\n", true}, {" \tY\r\n", true}, {"maybe\n", true}, {"NO\r\n", false},
           {"any\n", false}, {"\nok\n\nyes\n", true}, {"ok\r\n\r\nN\n", false}, {"", false},
           {"ok\n\n   ", false}, {"  Y", true}}) {
    EXPECT_EQ(read_typed(typed, ask_yes_no), yes) << testing::PrintToString(typed);
  }
  // clang-format on
}

// A line without a number is 0; a blank line (blanks, tabs, carriage returns;
// not form feeds or vertical tabs) is the default when that is within the
// bounds; only the first 29 characters of a line are read.
TEST(ReadNumber, FirstLineWithinTheBoundsOrTheDefaultForABlankLineOrTheEndOfInput) {
  // clang-format off
  // typed, minimum, maximum, default, answer
  const std::tuple<std::string, double, double, double, double> cases[] = {
      {"\n", 1, 20, 5, 5}, {"\n", 5, 20, 5, 5}, {" \t  \r\n", 1, 20, 5, 5}, {"\n", 1, 5, 5, 5}, {"\n4\n", 1, 20, 30, 4},
      {"\f\n", 0, 20, 5, 0}, {"\v\n", 0, 20, 5, 0}, {"abc\n", 0, 50, 10, 0},
      {"12abc\n", 1, 20, 5, 12}, {"1e1\n", 1, 20, 5, 10}, {"   7\r\n", 1, 20, 5, 7},
      {"2.9\n", 1, 20, 5, 2.9}, {"0\n1\n", 1, 20, 5, 1}, {"21\n20\n", 1, 20, 5, 20},
      {"abc\n3\n", 1, 20, 5, 3}, {"60\n20\n", 50, 0, 10, 20}, {"nan\ninf\n1e999\n2\n", 1, 20, 5, 2},
      {std::string(29, ' ') + "7\n", 1, 20, 5, 5}, {std::string(28, ' ') + "7\n", 1, 20, 5, 7},
      {std::string(28, '0') + "12\n", 1, 20, 5, 1}, {"7", 1, 20, 5, 7}, {"60\n7", 1, 20, 5, 7},
      {"", 1, 20, 5, 5}, {"", 0, 20, 50, 50}, {"abc\n60\n ", 1, 20, 30, 30}, {"60", 1, 20, 5, 5},
      {std::string(40, '3'), 1, 20, 5, 5}};
  // clang-format on
  for (const auto& [typed, minimum, maximum, default_value, answer] : cases) {
    const auto read = [lo = minimum, hi = maximum, d = default_value](Console& c) {
      return read_number(c, lo, hi, d);
    };
    EXPECT_EQ(read_typed(typed, read), answer)
        << testing::PrintToString(typed) << " in " << minimum << ".." << maximum;
  }
}
