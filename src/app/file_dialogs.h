#pragma once

// The file dialogs as each platform can show them.
//
// Windows has its common dialogs. Where the platform has no dialogs of its
// own, a graphical chooser (zenity
// or kdialog in a graphical session, osascript on macOS) is used when one can
// be shown: the session is graphical, standard input is a terminal and the
// tool is installed. Otherwise the dialogs are console stand-ins: prompts on
// standard output, answers typed on standard input. Scripted runs, with
// their input from a pipe or a file, always get the stand-ins.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/console.h"
#include "app/file_selection.h"

namespace toneprint {

// The dialogs on the console.
//
// Open: "Select the recorded sample (path of a .wav file): ", one line; an
// empty line or the end of the input cancels; a path naming no file gets
// "\nNo such file: %s\n" and the question again.
// Save: "Enter a filename for the output [%s]: " with the proposed name; an
// empty line takes it, the end of the input cancels, a name without an
// extension gets the default one, and an existing file is only replaced
// after "\n%s exists. Replace it? (yes / no) " is answered yes.
// Message box: "\nError: %s\n".
//
// Typed paths lose surrounding blanks and one pair of surrounding quotes
// (terminals add them to a file dropped on them); "~/" at the start stands
// for the home folder.
class ConsoleFileDialogs final : public FileDialogs {
 public:
  explicit ConsoleFileDialogs(Console& console) : console_(console) {}

  bool open_file(const DialogRequest& request, std::string& path) override;
  bool save_file(const DialogRequest& request, std::string& path) override;
  void message_box(const char* text, const char* caption) override;

 private:
  // Reads a path line; false at the end of the input.
  bool read_path(std::string& path);

  Console& console_;
};

// Which graphical chooser shows the dialogs.
enum class Chooser { zenity, kdialog, osascript };

// Runs a program with these arguments (the first is the program, looked up
// on PATH) and gives its exit status and what it printed; a program that
// cannot be started gives a status other than 0.
struct CommandResult {
  int status = -1;
  std::string output;
};
using CommandRunner = std::function<CommandResult(const std::vector<std::string>& arguments)>;

// Runs the command with standard input and standard error left to the
// terminal and standard output captured.
CommandResult run_command(const std::vector<std::string>& arguments);

// The dialogs of a graphical chooser, run as a separate program.
//
// Save: the chooser confirms replacing the name chosen in it; when the
// default extension is then added and names an existing file, the console
// asks "\n%s exists. Replace it? (yes / no) " as ConsoleFileDialogs does, and
// a no shows the dialog again.
class ChooserFileDialogs final : public FileDialogs {
 public:
  ChooserFileDialogs(Chooser chooser, CommandRunner runner, Console& console)
      : chooser_(chooser), runner_(std::move(runner)), console_(console) {}

  bool open_file(const DialogRequest& request, std::string& path) override;
  bool save_file(const DialogRequest& request, std::string& path) override;
  void message_box(const char* text, const char* caption) override;

  // The command line that shows a dialog or a message.
  std::vector<std::string> dialog_command(const DialogRequest& request, bool save,
                                          const std::string& path) const;
  std::vector<std::string> message_command(const char* text, const char* caption) const;

 private:
  bool choose(const DialogRequest& request, bool save, std::string& path);

  Chooser chooser_;
  CommandRunner runner_;
  Console& console_;
};

// What decides between a graphical chooser and the console.
struct DialogEnvironment {
  bool input_is_terminal = false;
  bool graphical_session = false;  // a display to show windows on
  bool is_macos = false;
  // Whether a program is on PATH.
  std::function<bool(const char* program)> installed;

  // This process's environment.
  static DialogEnvironment current();
};

// The chooser to use, or none (the console stand-ins).
std::optional<Chooser> graphical_chooser(const DialogEnvironment& environment);

// The dialogs for this run: on Windows the platform's own, unless standard
// input is redirected (a pipe or a file), which gets the console stand-ins
// so that scripted runs work the same everywhere.
std::unique_ptr<FileDialogs> platform_file_dialogs(Console& console);

#if defined(_WIN32)
// GetOpenFileNameA, GetSaveFileNameA and MessageBoxA.
std::unique_ptr<FileDialogs> make_windows_file_dialogs();
#endif

// A typed path with surrounding blanks, one pair of surrounding quotes and a
// leading "~/" (the home folder `home`, when known) taken care of.
std::string normalise_typed_path(const std::string& typed, const char* home);

}  // namespace toneprint
