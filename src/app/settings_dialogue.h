#pragma once

// The question-and-answer dialogue on the console that lets the user change
// the analysis settings before the analysis starts.

#include <cstdint>

#include "analysis/analysis_settings.h"
#include "app/console.h"

namespace toneprint {

// Fills settings with the defaults for a recording of sample_rate samples per
// second, then asks whether to change them. A yes opens the basic group of
// settings, followed by a second question that opens the advanced group. Each
// setting is asked for with its minimum, maximum and default shown (the bounds
// of setting_bounds); a blank answer keeps the default and an answer out of
// bounds is refused silently until an accepted one comes. The sample rate is
// never asked for, and nothing is printed after the last answer.
void configure_settings(Console& console, AnalysisSettings& settings, std::uint32_t sample_rate);

// A setting as the dialogue asks for it: the FFT size as its menu choice,
// 1 (the first of fft_sizes) to 4; every other as the record holds it.
double dialogue_value(const AnalysisSettings& settings, Setting setting);

}  // namespace toneprint
