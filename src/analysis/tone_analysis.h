#pragma once

// The tone loop: one pass through the recording from the read position to
// its end. It splits the recording into tones at stretches of silence, skips
// each tone's attack, cuts the rest into consecutive measurement passes,
// finds each pass's fundamental and measures its harmonics over a frame of
// whole cycles, prints one console line per pass and writes one report line
// per tone.

#include <cstdint>
#include <cstdio>

#include "analysis/analysis_settings.h"
#include "analysis/harmonic_measurement.h"
#include "analysis/text_output.h"
#include "riff/wave_file.h"

namespace toneprint {

// Analyses the recording from its read position to its end. Console lines
// go to `console`, tone lines to `report`. The harmonics are measured the
// fast way unless the straightforward reference is asked for.
void analyse_tones(WaveFile& wave, const AnalysisSettings& settings, std::FILE* report,
                   TextOutput& console, Evaluation evaluation = Evaluation::fast);

// Called right after a quiet sample inside a tone has been read: true when
// the next trunc(sample_rate * silence_seconds) samples are quiet too, or the
// recording ends first (a break between tones; the quiet samples stay
// consumed). Otherwise the read position returns to just after the quiet
// sample and the result is false.
bool silence_follows(WaveFile& wave, const AnalysisSettings& settings);

// trunc(sample_rate * seconds): a duration as a sample count, held to the
// 32-bit range (0 for a duration that is negative or not a number).
std::uint32_t duration_samples(std::uint32_t sample_rate, double seconds);

}  // namespace toneprint
