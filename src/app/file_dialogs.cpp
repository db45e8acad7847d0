#include "app/file_dialogs.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "app/console_input.h"

#if defined(_WIN32)
#include <io.h>
#else
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace toneprint {
namespace {

// A line of a typed path: the longest path and its line break.
constexpr std::uint32_t path_line_size = FileDialogs::max_path + 1;

// What a chooser may print before it counts as misbehaving: far more than
// any path.
constexpr std::size_t max_command_output = std::size_t{64} * 1024;

const char* home_folder() {
#if defined(_WIN32)
  const char* home = std::getenv("USERPROFILE");
#else
  const char* home = std::getenv("HOME");
#endif
  return home != nullptr && *home != '\0' ? home : nullptr;
}

bool file_exists(const std::string& path) {
  std::error_code error;
  return std::filesystem::exists(file_path(path), error) && !error;
}

std::string with_default_extension(const std::string& path, const DialogRequest& request) {
  if (*request.default_extension == '\0' || has_extension(path)) return path;
  return path + "." + request.default_extension;
}

// The console, noting whether its input has ended.
class EndNotingConsole final : public Console {
 public:
  explicit EndNotingConsole(Console& console) : console_(console) {}

  void write(std::string_view text) override { console_.write(text); }
  int read_char() override {
    const int c = console_.read_char();
    if (c == end_of_input) ended = true;
    return c;
  }

  bool ended = false;

 private:
  Console& console_;
};

// Whether a save dialog's choice may be written: when the request wants it and
// the file exists, only after the console's question is answered yes.
bool replace_allowed(Console& console, const DialogRequest& request, const std::string& path) {
  if ((request.flags & dialog_overwrite_prompt) == 0 || !file_exists(path)) return true;
  console.print("\n%s exists. Replace it? (yes / no) ", path.c_str());
  return ask_yes_no(console);
}

// Text inside an AppleScript string literal.
std::string applescript_quoted(const std::string& text) {
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return quoted + "\"";
}

}  // namespace

std::string normalise_typed_path(const std::string& typed, const char* home) {
  const char* const blanks = " \t\r\n";
  const std::size_t first = typed.find_first_not_of(blanks);
  if (first == std::string::npos) return {};
  std::string path = typed.substr(first, typed.find_last_not_of(blanks) - first + 1);
  if (path.size() >= 2 && (path.front() == '"' || path.front() == '\'') &&
      path.back() == path.front()) {
    path = path.substr(1, path.size() - 2);
  }
  if (home != nullptr && path.rfind("~/", 0) == 0) path = std::string(home) + path.substr(1);
  return path;
}

// ------------------------------------------------------------- the console

bool ConsoleFileDialogs::read_path(std::string& path) {
  char line[path_line_size];
  if (!read_line_or_end(console_, line, sizeof line)) return false;
  path = normalise_typed_path(line, home_folder());
  return true;
}

bool ConsoleFileDialogs::open_file(const DialogRequest& request, std::string& path) {
  for (;;) {
    console_.write(request.title);
    console_.write(" (path of a .wav file): ");
    std::string typed;
    if (!read_path(typed) || typed.empty()) return false;
    if ((request.flags & dialog_file_must_exist) == 0 || file_exists(typed)) {
      path = typed;
      return true;
    }
    console_.print("\nNo such file: %s\n", typed.c_str());
  }
}

bool ConsoleFileDialogs::save_file(const DialogRequest& request, std::string& path) {
  for (;;) {
    console_.print("%s [%s]: ", request.title, path.c_str());
    std::string typed;
    if (!read_path(typed)) return false;
    const std::string chosen = with_default_extension(typed.empty() ? path : typed, request);
    // A no asks for the name again, which the end of the input cancels.
    if (!replace_allowed(console_, request, chosen)) continue;
    path = chosen;
    return true;
  }
}

void ConsoleFileDialogs::message_box(const char* text, const char* /*caption*/) {
  console_.print("\nError: %s\n", text);
}

// ------------------------------------------------------ graphical choosers

std::vector<std::string> ChooserFileDialogs::dialog_command(const DialogRequest& request, bool save,
                                                            const std::string& path) const {
  switch (chooser_) {
    case Chooser::zenity: {
      std::vector<std::string> command = {"zenity", "--file-selection",
                                          std::string("--title=") + request.title};
      if (save) {
        command.push_back("--save");
        command.push_back("--confirm-overwrite");
      }
      if (!path.empty()) command.push_back("--filename=" + path);
      for (const auto& [description, pattern] : request.filters) {
        command.push_back(std::string("--file-filter=") + description + " | " + pattern);
      }
      return command;
    }
    case Chooser::kdialog: {
      std::string filters;
      for (const auto& [description, pattern] : request.filters) {
        if (!filters.empty()) filters += '\n';
        filters += std::string(pattern) + "|" + description;
      }
      return {"kdialog",
              "--title",
              request.title,
              save ? "--getsavefilename" : "--getopenfilename",
              path.empty() ? "." : path,
              filters};
    }
    case Chooser::osascript: {
      std::string script = save ? "POSIX path of (choose file name with prompt "
                                : "POSIX path of (choose file with prompt ";
      script += applescript_quoted(request.title);
      if (save && !path.empty()) script += " default name " + applescript_quoted(path);
      script += ")";
      return {"osascript", "-e", script};
    }
  }
  return {};
}

std::vector<std::string> ChooserFileDialogs::message_command(const char* text,
                                                             const char* caption) const {
  switch (chooser_) {
    case Chooser::zenity:
      return {"zenity", "--warning", "--no-markup", std::string("--title=") + caption,
              std::string("--text=") + text};
    case Chooser::kdialog: return {"kdialog", "--title", caption, "--sorry", text};
    case Chooser::osascript:
      return {"osascript", "-e",
              "display alert " + applescript_quoted(caption) + " message " +
                  applescript_quoted(text) + " as warning"};
  }
  return {};
}

bool ChooserFileDialogs::choose(const DialogRequest& request, bool save, std::string& path) {
  CommandResult result = runner_(dialog_command(request, save, path));
  if (result.status != 0) return false;  // cancelled, or the chooser failed
  std::string chosen = result.output;
  while (!chosen.empty() && (chosen.back() == '\n' || chosen.back() == '\r')) chosen.pop_back();
  if (chosen.empty() || chosen.size() > max_path) return false;
  path = chosen;
  return true;
}

bool ChooserFileDialogs::open_file(const DialogRequest& request, std::string& path) {
  return choose(request, false, path);
}

// The chooser itself confirms replacing the name chosen in it. The default
// extension, added afterwards, can name another existing file: that one is
// asked about on the console, and a no shows the dialog again, proposing the
// same name, as the console's save dialog asks for the name again. The end of
// the input cancels, as it does there.
bool ChooserFileDialogs::save_file(const DialogRequest& request, std::string& path) {
  for (;;) {
    std::string typed = path;
    if (!choose(request, true, typed)) return false;
    const std::string chosen = with_default_extension(typed, request);
    EndNotingConsole console(console_);
    if (chosen == typed || replace_allowed(console, request, chosen)) {
      path = chosen;
      return true;
    }
    if (console.ended) return false;
  }
}

void ChooserFileDialogs::message_box(const char* text, const char* caption) {
  runner_(message_command(text, caption));
}

CommandResult run_command(const std::vector<std::string>& arguments) {
  CommandResult result;
#if defined(_WIN32)
  (void)arguments;
#else
  if (arguments.empty()) return result;
  int pipe_ends[2];
  if (pipe(pipe_ends) != 0) return result;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe_ends[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, pipe_ends[0]);
  posix_spawn_file_actions_addclose(&actions, pipe_ends[1]);

  // posix_spawnp takes the arguments as non-constant strings it does not
  // change.
  std::vector<char*> argv(arguments.size() + 1, nullptr);
  std::transform(arguments.begin(), arguments.end(), argv.begin(),
                 [](const std::string& argument) { return const_cast<char*>(argument.c_str()); });

  pid_t child = 0;
  const int spawned = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipe_ends[1]);
  if (spawned == 0) {
    char buffer[4096];
    for (;;) {
      const ssize_t got = read(pipe_ends[0], buffer, sizeof buffer);
      if (got <= 0) break;
      if (result.output.size() < max_command_output) {
        result.output.append(buffer, static_cast<std::size_t>(got));
      }
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  close(pipe_ends[0]);
#endif
  return result;
}

// --------------------------------------------------------------- choosing

DialogEnvironment DialogEnvironment::current() {
  DialogEnvironment environment;
#if !defined(_WIN32)
  environment.input_is_terminal = isatty(STDIN_FILENO) != 0;
  const auto set = [](const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
  };
  environment.graphical_session = set("DISPLAY") || set("WAYLAND_DISPLAY");
#endif
#if defined(__APPLE__)
  environment.is_macos = true;
#endif
  environment.installed = [](const char* program) {
#if defined(_WIN32)
    (void)program;
    return false;
#else
    const char* path = std::getenv("PATH");
    if (path == nullptr) return false;
    const std::string folders = path;
    std::size_t start = 0;
    while (start <= folders.size()) {
      std::size_t end = folders.find(':', start);
      if (end == std::string::npos) end = folders.size();
      const std::string folder = end > start ? folders.substr(start, end - start) : ".";
      if (access((folder + "/" + program).c_str(), X_OK) == 0) return true;
      start = end + 1;
    }
    return false;
#endif
  };
  return environment;
}

std::optional<Chooser> graphical_chooser(const DialogEnvironment& environment) {
  if (!environment.input_is_terminal) return std::nullopt;
  if (environment.is_macos) {
    if (environment.installed("osascript")) return Chooser::osascript;
    return std::nullopt;
  }
  if (!environment.graphical_session) return std::nullopt;
  if (environment.installed("zenity")) return Chooser::zenity;
  if (environment.installed("kdialog")) return Chooser::kdialog;
  return std::nullopt;
}

std::unique_ptr<FileDialogs> platform_file_dialogs(Console& console) {
#if defined(_WIN32)
  if (_isatty(_fileno(stdin)) != 0) return make_windows_file_dialogs();
  return std::make_unique<ConsoleFileDialogs>(console);
#else
  if (const std::optional<Chooser> chooser = graphical_chooser(DialogEnvironment::current())) {
    return std::make_unique<ChooserFileDialogs>(*chooser, run_command, console);
  }
  return std::make_unique<ConsoleFileDialogs>(console);
#endif
}

}  // namespace toneprint
