#pragma once

// Choosing the recording and the report file: the open dialog, then the save
// dialog, each tried at once by opening the chosen file, with a message and
// the same dialog again when that fails.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "riff/wave_file.h"

namespace toneprint {

// Flags of the platform's file dialogs.
inline constexpr std::uint32_t dialog_file_must_exist = 0x1000;
inline constexpr std::uint32_t dialog_overwrite_prompt = 0x0002;
inline constexpr std::uint32_t dialog_no_read_only_return = 0x8000;

// What a file dialog shows.
struct DialogRequest {
  const char* title;
  // Description and pattern of each entry of the file-type list.
  std::vector<std::pair<const char*, const char*>> filters;
  // Added, after a dot, to a name typed without an extension; "" for none.
  const char* default_extension;
  std::uint32_t flags;
};

// The three operations that file selection needs from the platform.
class FileDialogs {
 public:
  // The longest path a dialog returns, in characters.
  static constexpr std::size_t max_path = 1023;

  virtual ~FileDialogs() = default;

  // Show the modal open or save dialog, proposing `path`. True when the user
  // chose a file, whose path is then in `path`; false when the user
  // cancelled or the dialog failed.
  virtual bool open_file(const DialogRequest& request, std::string& path) = 0;
  virtual bool save_file(const DialogRequest& request, std::string& path) = 0;

  // A modal warning with a single OK button.
  virtual void message_box(const char* text, const char* caption) = 0;
};

// The open dialog for the recording and the save dialog for the report.
extern const DialogRequest recording_dialog;
extern const DialogRequest report_dialog;

// Has the user choose the recording, opened in `wave`, and the report file,
// whose path is stored in `report`: one that can be opened for writing,
// found out without changing it or leaving a new file behind. False when
// the user cancelled a dialog (the recording may then be open already). The
// report may not be the recording itself, under any name.
bool select_files(WaveFile& wave, std::string& report, FileDialogs& dialogs);

// Opens the chosen report for writing as a text stream, which empties it;
// null when it cannot be opened.
std::FILE* open_report(const std::string& path);

// A file named as the platform's file functions take it. On Windows these
// read a name in the ANSI code page (UTF-8 by the programs' manifest), which
// libstdc++ does not use for a path made from a narrow string.
std::filesystem::path file_path(const std::string& name);

// The report name proposed for a recording: its file name without the
// directory and without the last extension ("C:\rec\a.b.wav" gives "a.b"); a
// name without an extension, or ending in a dot, stays whole.
std::string proposed_report_name(const std::string& recording_path);

// Whether the file name at the end of `path` has an extension.
bool has_extension(const std::string& path);

}  // namespace toneprint
