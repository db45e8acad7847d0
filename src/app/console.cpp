#include "app/console.h"

#include <cstdio>

namespace toneprint {

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
