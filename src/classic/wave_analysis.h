#pragma once

// The interactive program's analysis of a WAVE file it has opened itself.

#include <cstdio>

#include "analysis/analysis_settings.h"
#include "analysis/evaluation.h"
#include "classic/text_output.h"
#include "riff/wave_file.h"

namespace toneprint {

// A mono 16-bit recording from its read position to its end: console lines
// to `console`, tone lines to `report`.
void analyse_tones(WaveFile& wave, const AnalysisSettings& settings, std::FILE* report,
                   TextOutput& console, Evaluation evaluation = Evaluation::fast);

}  // namespace toneprint
