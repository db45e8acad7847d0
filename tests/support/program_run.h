#pragma once

// Runs the real toneprint program, as a user would from a shell, with typed
// answers piped in and the console captured.

#include <string>

namespace toneprint::test {

struct ProgramRun {
  int status = -1;      // the exit status
  std::string console;  // standard output and standard error, as text
};

// Runs `program` with `arguments` (already quoted for the shell), standard
// input taken from the file `input` and the console written to the file
// `output`.
ProgramRun run_program_file(const std::string& program, const std::string& arguments,
                            const std::string& input, const std::string& output);

// A file's contents as text: on Windows, line ends written by a text-mode
// stream (CR LF) come back as "\n".
std::string read_text(const std::string& path);

// A file's bytes exactly.
std::string read_bytes(const std::string& path);

}  // namespace toneprint::test
