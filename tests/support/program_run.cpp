#include "support/program_run.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/wait.h>
#endif

namespace toneprint::test {
namespace {

std::string read_file(const std::string& path, std::ios::openmode mode) {
  std::ifstream in(path, mode);
  std::ostringstream contents;
  contents << in.rdbuf();
  return contents.str();
}

}  // namespace

ProgramRun run_program_file(const std::string& program, const std::string& arguments,
                            const std::string& input, const std::string& output) {
  ProgramRun run;
#if defined(_WIN32)
  // The program is started directly, with its standard handles on the two
  // files, so that no command interpreter's quoting rules come into play.
  SECURITY_ATTRIBUTES inherit = {sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  HANDLE in = CreateFileA(input.c_str(), GENERIC_READ, share, &inherit, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
  HANDLE out = CreateFileA(output.c_str(), GENERIC_WRITE, share, &inherit, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (in != INVALID_HANDLE_VALUE && out != INVALID_HANDLE_VALUE) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in;
    startup.hStdOutput = out;
    startup.hStdError = out;
    PROCESS_INFORMATION process = {};
    std::string command = "\"" + program + "\" " + arguments;
    if (CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                       &startup, &process)) {
      WaitForSingleObject(process.hProcess, INFINITE);
      DWORD code = 0;
      if (GetExitCodeProcess(process.hProcess, &code)) run.status = static_cast<int>(code);
      CloseHandle(process.hThread);
      CloseHandle(process.hProcess);
    }
  }
  if (in != INVALID_HANDLE_VALUE) CloseHandle(in);
  if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
#else
  const std::string command =
      "\"" + program + "\" " + arguments + " < \"" + input + "\" > \"" + output + "\" 2>&1";
  const int raw = std::system(command.c_str());
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
#endif
  run.console = read_text(output);
  return run;
}

std::string read_text(const std::string& path) { return read_file(path, std::ios::in); }

std::string read_bytes(const std::string& path) {
  return read_file(path, std::ios::in | std::ios::binary);
}

}  // namespace toneprint::test
