#pragma once

// Where the analysis writes its console lines: the run's standard output,
// or a string in tests.

#include <string_view>

#if defined(__GNUC__) || defined(__clang__)
#define TONEPRINT_PRINTF_FORMAT(format_index, first_arg) \
  __attribute__((format(printf, format_index, first_arg)))
#else
#define TONEPRINT_PRINTF_FORMAT(format_index, first_arg)
#endif

namespace toneprint {

class TextOutput {
 public:
  virtual ~TextOutput() = default;

  // Writes text exactly as given.
  virtual void write(std::string_view text) = 0;

  // printf-style formatting, then write().
  void print(const char* format, ...) TONEPRINT_PRINTF_FORMAT(2, 3);
};

}  // namespace toneprint
