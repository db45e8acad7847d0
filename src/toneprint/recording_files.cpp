#include <algorithm>
#include <cctype>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "toneprint/toneprint.h"

#if defined(TONEPRINT_HAVE_SNDFILE)
#include <sndfile.h>
#endif

namespace toneprint {
namespace {

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

}  // namespace

bool is_recording_name(const std::string& file_name) {
  // The reader's own WAVE; where libsndfile reads too, every major format
  // it reads (but raw samples, which need their format given) and the
  // other names of formats it reads under one name.
  static const std::vector<std::string> extensions = [] {
    std::vector<std::string> list = {"wav", "wave"};
#if defined(TONEPRINT_HAVE_SNDFILE)
    list.insert(list.end(), {"aif", "aifc", "oga", "opus"});
    int count = 0;
    sf_command(nullptr, SFC_GET_FORMAT_MAJOR_COUNT, &count, sizeof count);
    for (int i = 0; i < count; ++i) {
      SF_FORMAT_INFO info{};
      info.format = i;
      if (sf_command(nullptr, SFC_GET_FORMAT_MAJOR, &info, sizeof info) == 0 &&
          info.extension != nullptr && std::string(info.extension) != "raw") {
        list.push_back(lower(info.extension));
      }
    }
#endif
    return list;
  }();
  std::string extension = lower(std::filesystem::path(file_name).extension().string());
  if (extension.empty()) return false;
  extension.erase(0, 1);
  return std::find(extensions.begin(), extensions.end(), extension) != extensions.end();
}

std::vector<std::string> expand_folders(const std::vector<std::string>& names, bool recursive,
                                        std::vector<std::string>& errors) {
  namespace fs = std::filesystem;
  std::vector<std::string> recordings;
  for (const std::string& name : names) {
    std::error_code error;
    if (name == standard_input_name || !fs::is_directory(name, error)) {
      recordings.push_back(name);
      continue;
    }
    std::vector<std::string> found;
    const auto take = [&](const fs::directory_entry& entry) {
      std::error_code kind_error;
      if (entry.is_regular_file(kind_error) && is_recording_name(entry.path().string())) {
        found.push_back(entry.path().string());
      }
    };
    if (recursive) {
      fs::recursive_directory_iterator entries(name, error);
      for (; !error && entries != fs::recursive_directory_iterator(); entries.increment(error)) {
        take(*entries);
      }
    } else {
      fs::directory_iterator entries(name, error);
      for (; !error && entries != fs::directory_iterator(); entries.increment(error)) {
        take(*entries);
      }
    }
    if (error) {
      errors.push_back("cannot read the folder " + name + ": " + error.message());
      continue;
    }
    std::sort(found.begin(), found.end());
    recordings.insert(recordings.end(), found.begin(), found.end());
  }
  return recordings;
}

}  // namespace toneprint
