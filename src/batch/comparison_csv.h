#pragma once

// toneprint-batch compare's tables: the differences in long form, and the
// tones that went into them.

#include <cstdio>
#include <vector>

#include "toneprint/toneprint.h"

namespace toneprint {

// note,set,harmonic,level_db,difference_db,relative_to,spread_db,tones: a
// row per note (matched, then unmatched), set that has it, and harmonic
// number. Harmonic 1's level is in dB of full scale, the others' in dB of
// the fundamental.
void write_comparison_csv(const Comparison& comparison, std::FILE* out);

// set,file,tone,note,matched_by,frequency_hz,deviation_cents,fundamental_dbfs
// and the descriptors' columns: a row per tone of each set.
void write_compared_tones_csv(const std::vector<ComparisonSet>& sets, std::FILE* out);

}  // namespace toneprint
