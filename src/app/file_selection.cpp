#include "app/file_selection.h"

#include <system_error>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace toneprint {
namespace {

#if defined(_WIN32)
constexpr const char* path_separators = "\\/:";
constexpr const char* report_mode = "wt";
#else
constexpr const char* path_separators = "/";
constexpr const char* report_mode = "w";  // text and binary are one here
#endif

// Start of the file name within a path.
std::size_t file_name_start(const std::string& path) {
  const std::size_t separator = path.find_last_of(path_separators);
  return separator == std::string::npos ? 0 : separator + 1;
}

// Position of the dot before the extension, or npos. A dot that starts the
// name (".profile") does not begin an extension.
std::size_t extension_dot(const std::string& path) {
  const std::size_t name = file_name_start(path);
  const std::size_t dot = path.find_last_of('.');
  return dot == std::string::npos || dot <= name ? std::string::npos : dot;
}

// True when both paths name one existing file, through links or not.
bool same_file(const std::string& a, const std::string& b) {
  std::error_code error;
  return std::filesystem::equivalent(file_path(a), file_path(b), error) && !error;
}

// Whether the report can be opened for writing, tried without emptying it:
// an existing file is opened for appending and left as it was; a missing one
// is created and removed again. The report is opened for writing only once
// the recording has been accepted, so a refused one leaves it untouched.
bool report_writable(const std::string& path) {
  std::error_code error;
  const bool existed =
      std::filesystem::exists(std::filesystem::symlink_status(file_path(path), error));
  std::FILE* const file = std::fopen(path.c_str(), "a");
  if (file == nullptr) return false;
  std::fclose(file);
  if (!existed) std::remove(path.c_str());
  return true;
}

}  // namespace

std::filesystem::path file_path(const std::string& name) {
#if defined(_WIN32)
  const int length = static_cast<int>(name.size());
  const int size = MultiByteToWideChar(CP_ACP, 0, name.data(), length, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_ACP, 0, name.data(), length, wide.data(), size);
  return wide;
#else
  return name;
#endif
}

std::string proposed_report_name(const std::string& recording_path) {
  const std::size_t name = file_name_start(recording_path);
  const std::size_t dot = extension_dot(recording_path);
  // A name that ends in its dot is proposed whole.
  if (dot == std::string::npos || dot + 1 == recording_path.size()) {
    return recording_path.substr(name);
  }
  return recording_path.substr(name, dot - name);
}

bool has_extension(const std::string& path) { return extension_dot(path) != std::string::npos; }

// The second pattern is a single "*", although its description says "*.*".
const DialogRequest recording_dialog = {"Select the recorded sample",
                                        {{"Wave Files (*.wav)", "*.wav"}, {"All Files (*.*)", "*"}},
                                        "",
                                        dialog_file_must_exist};
const DialogRequest report_dialog = {"Enter a filename for the output",
                                     {{"Text Files (*.txt)", "*.txt"}, {"All Files (*.*)", "*"}},
                                     "txt",
                                     dialog_overwrite_prompt | dialog_no_read_only_return};

bool select_files(WaveFile& wave, std::string& report, FileDialogs& dialogs) {
  // The path carries over from each attempt to the next, so a dialog shown
  // again proposes the path that failed.
  std::string path;
  for (;;) {
    if (!dialogs.open_file(recording_dialog, path)) return false;
    if (wave.open_read(path.c_str())) break;
    dialogs.message_box("The selected file could not be opened as a wave file.", "Error");
  }
  const std::string recording = path;

  path = proposed_report_name(recording);
  for (;;) {
    if (!dialogs.save_file(report_dialog, path)) return false;
    // Writing the report empties the file: the recording itself, under
    // whatever name, is refused.
    if (!same_file(path, recording) && report_writable(path)) {
      report = path;
      return true;
    }
    dialogs.message_box("The selected file could not be opened for output.", "Error");
  }
}

std::FILE* open_report(const std::string& path) { return std::fopen(path.c_str(), report_mode); }

}  // namespace toneprint
