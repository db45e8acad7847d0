#pragma once

// A comparison of sets of tones as one self-contained HTML page, in the
// report's style: per matched note the sets' harmonic levels overlaid with
// each set's difference from the reference (the first set), the fundamental's
// absolute level among them; across notes, per set, the first few
// harmonics' levels against note with their trend lines; the tuning
// deviation and the descriptors against note; a summary table per set; and
// the notes that were not matched. Inline SVG and one style sheet; no
// script, nothing fetched.

#include <string>

#include "toneprint/toneprint.h"

namespace toneprint {

// The page; `generator` names the program and version.
std::string comparison_page(const Comparison& comparison, const std::string& generator);

}  // namespace toneprint
