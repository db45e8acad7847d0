#pragma once

// What a reader of a recording's results should be told even though the
// analysis succeeded: tones that got no measurement, tones whose passes
// disagree, passes that failed. The front-ends show these lines beside the
// results (toneprint-batch on standard error, the Python module as
// warnings), so that numbers that look confident are not taken as such.

#include <string>
#include <vector>

#include "analysis/recording_result.h"

namespace toneprint {

// Passes of one tone further apart than this (their standard deviation, in
// cents) rarely belong to one note.
inline constexpr double doubtful_spread_cents = 50.0;

// One line per kind of doubt, without a program's prefix or the
// recording's name; none for a recording that could not be read or whose
// tones are all measured cleanly.
std::vector<std::string> result_warnings(const RecordingResult& result);

}  // namespace toneprint
