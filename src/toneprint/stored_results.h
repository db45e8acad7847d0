#pragma once

// Results that toneprint-batch stored as JSON, read back so that a
// measurement made months ago can be compared without its audio. The file's
// format_version says which layout it has; only this one is read.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/comparison.h"

namespace toneprint {

// The layout of toneprint-batch's JSON, raised whenever a key that readers
// rely on changes. Files written before it was recorded have none (layout
// 1) and are not read.
inline constexpr int results_format_version = 2;

// The largest file of results read.
inline constexpr std::uint64_t max_results_file_bytes = 256ull << 20;

// The measured tones of every recording in the JSON `text`, appended to
// `tones`; why the text cannot be read (not JSON, not toneprint-batch's, a
// layout older or newer than this one, a tone without the keys it needs),
// or empty.
std::string read_stored_tones(std::string_view text, std::vector<ComparedTone>& tones);

// The same from the file at `path`, refused above max_results_file_bytes.
std::string read_stored_file(const std::string& path, std::vector<ComparedTone>& tones);

// Whether `path` names a file of stored results (it ends in ".json", in
// any case) rather than a recording or a folder.
bool is_results_file(std::string_view path);

}  // namespace toneprint
