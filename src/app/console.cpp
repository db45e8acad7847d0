#include "app/console.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace toneprint {

void Console::print(const char* format, ...) {
  char small[256];
  std::va_list args;
  va_start(args, format);
  std::va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(small, sizeof small, format, args);
  va_end(args);
  if (length < 0) {
    va_end(again);
    return;
  }
  if (static_cast<std::size_t>(length) < sizeof small) {
    va_end(again);
    write(std::string_view(small, static_cast<std::size_t>(length)));
    return;
  }
  std::vector<char> large(static_cast<std::size_t>(length) + 1);
  std::vsnprintf(large.data(), large.size(), format, again);
  va_end(again);
  write(std::string_view(large.data(), static_cast<std::size_t>(length)));
}

void StdioConsole::write(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
}

int StdioConsole::read_char() {
  std::fflush(stdout);
  const int c = std::getchar();
  return c == EOF ? end_of_input : c;
}

int ScriptedConsole::read_char() {
  if (next_ >= input_.size()) return end_of_input;
  return static_cast<unsigned char>(input_[next_++]);
}

}  // namespace toneprint
