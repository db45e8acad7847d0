#pragma once

// A recording's tones as a table of text cells, the same in every format
// that has one: tone, start_s, end_s, passes, passes_used, frequency_hz,
// note, cents, spread_cents, max_fundamental, h0 ... hN. passes_used counts
// the passes the means include (fewer than passes where the robust mode's
// consensus left some out). The frequency and amplitudes have the classic
// report's digits; a tone too short to measure has empty pitch cells, a
// harmonic above the Nyquist limit an empty cell.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "toneprint/toneprint.h"

namespace toneprint {

std::vector<std::string> tone_table_columns(std::uint32_t harmonic_count);

// The row of tone `index` (from 0) of the result, its harmonics up to
// `harmonic_count`, the notes for A4 = `a4` Hz.
std::vector<std::string> tone_table_row(const RecordingResult& result, std::size_t index,
                                        std::uint32_t harmonic_count, double a4);

// The partials analysis's cells, which the HTML report's tables put after
// spread_cents (at partials_table_at) when it was asked for: "B" (the
// inharmonicity and its standard error) and "vibrato" (its rate and
// extent), each empty where the tone has none.
inline constexpr std::size_t partials_table_at = 9;
std::vector<std::string> partials_table_columns();
std::vector<std::string> partials_table_cells(const ToneRecord& tone);

// The target's cells, which every table puts after cents (at
// target_table_at) when a target was asked for: expected_note (the note
// expected, or else the tuning's nearest), expected_hz (its target) and
// deviation_cents (the tone's deviation from it), each empty where the
// tone has none.
inline constexpr std::size_t target_table_at = 8;
std::vector<std::string> target_table_columns();
std::vector<std::string> target_table_cells(const ToneRecord& tone, const Tuning& tuning);

// The timbre descriptors' cells (tone_timbre in a recording of
// `sample_rate`, from the partials with `partials`), which the CSV puts
// after all others: harmonics_used, centroid_hz, centroid_harmonic,
// odd_even_db, t1, t2, t3, slope_db_per_octave, each empty where the tone
// has none.
std::vector<std::string> timbre_table_columns();
std::vector<std::string> timbre_table_cells(const ToneRecord& tone, std::uint32_t sample_rate,
                                            bool partials);
// The same cells of descriptors already computed, all empty for none.
std::vector<std::string> descriptor_cells(const std::optional<TimbreDescriptors>& descriptors);

}  // namespace toneprint
