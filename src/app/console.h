#pragma once

// The console as the dialogue and the run see it: text written to standard
// output and characters read from standard input. The seam lets tests run
// the dialogue and the whole program flow without a terminal.

#include <string>
#include <string_view>

#include "classic/text_output.h"

namespace toneprint {

class Console : public TextOutput {
 public:
  static constexpr int end_of_input = -1;

  // Reads the next character of the input, or end_of_input. The output is
  // flushed first, so that a prompt is visible before the wait.
  virtual int read_char() = 0;
};

// The process's standard output and standard input.
class StdioConsole final : public Console {
 public:
  void write(std::string_view text) override;
  int read_char() override;
};

// A console for tests: the output collects in a string and the input is
// read from a given text.
class ScriptedConsole final : public Console {
 public:
  explicit ScriptedConsole(std::string input = {}) : input_(std::move(input)) {}

  void write(std::string_view text) override { output_ += text; }
  int read_char() override;

  const std::string& output() const { return output_; }

 private:
  std::string input_;
  std::size_t next_ = 0;
  std::string output_;
};

}  // namespace toneprint
