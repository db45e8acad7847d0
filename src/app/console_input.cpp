#include "app/console_input.h"

#include <cstdlib>
#include <utility>

namespace toneprint {
namespace {

// The number reader's line buffer: 29 characters of a line and the NUL.
constexpr std::uint32_t number_line_size = 30;

// Every loop below reads one character per turn and stops at the end of the
// input, so none outlasts its input.

// discard_input_line, telling whether the line feed came (false: the input
// ended first).
bool skip_rest_of_line(Console& console) {
  for (;;) {
    const int c = console.read_char();
    if (c == Console::end_of_input) return false;
    if (c == '\n') return true;
  }
}

// read_input_line, telling whether the whole line up to its line feed was read
// (false: the input ended first, and buffer holds what came before the end).
bool read_line(Console& console, char* buffer, std::uint32_t size) {
  if (size == 0) return true;
  std::uint32_t length = 0;
  while (length < size - 1) {
    const int c = console.read_char();
    if (c == Console::end_of_input) {
      buffer[length] = '\0';
      return false;
    }
    if (c == '\n') {
      buffer[length] = '\0';  // the line break is read but not kept
      return true;
    }
    buffer[length++] = static_cast<char>(c);
  }
  // The line and its line break did not fit: drop the rest of the line.
  buffer[length] = '\0';
  return skip_rest_of_line(console);
}

}  // namespace

bool ask_yes_no(Console& console) {
  for (;;) {
    const int c = console.read_char();
    if (c == Console::end_of_input) return false;
    if (c == 'y' || c == 'Y' || c == 'n' || c == 'N') {
      skip_rest_of_line(console);
      return c == 'y' || c == 'Y';
    }
  }
}

double read_number(Console& console, double minimum, double maximum, double default_value) {
  if (minimum > maximum) std::swap(minimum, maximum);
  const bool default_offered = minimum <= default_value && default_value <= maximum;
  char line[number_line_size];
  for (;;) {
    // A last line without its line feed still counts; once nothing more
    // comes, the default is the answer.
    const bool complete = read_line(console, line, number_line_size);
    if (!complete && line[0] == '\0') return default_value;
    if (default_offered && is_blank(line)) return default_value;
    // strtod stops at the first character that cannot continue the number, a
    // carriage return included, and gives 0 when there is no number at all.
    // Not-a-number fails both comparisons and is refused.
    const double value = std::strtod(line, nullptr);
    if (minimum <= value && value <= maximum) return value;
    if (!complete) return default_value;
  }
}

char* read_input_line(Console& console, char* buffer, std::uint32_t size) {
  read_line(console, buffer, size);
  return buffer;
}

bool read_line_or_end(Console& console, char* buffer, std::uint32_t size) {
  if (size == 0) return true;
  return read_line(console, buffer, size) || buffer[0] != '\0';
}

bool is_blank(const char* text) {
  for (; *text != '\0'; ++text) {
    const char c = *text;
    if (c != ' ' && c != '\t' && c != '\n' && c != '\r') return false;
  }
  return true;
}

void discard_input_line(Console& console) { skip_rest_of_line(console); }

}  // namespace toneprint
