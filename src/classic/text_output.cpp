#include "classic/text_output.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace toneprint {

void TextOutput::print(const char* format, ...) {
  char small[256];
  std::va_list args;
  va_start(args, format);
  std::va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(small, sizeof small, format, args);
  va_end(args);
  if (length >= 0 && static_cast<std::size_t>(length) < sizeof small) {
    write(std::string_view(small, static_cast<std::size_t>(length)));
  } else if (length >= 0) {
    std::vector<char> large(static_cast<std::size_t>(length) + 1);
    std::vsnprintf(large.data(), large.size(), format, again);
    write(std::string_view(large.data(), static_cast<std::size_t>(length)));
  }
  va_end(again);
}

}  // namespace toneprint
