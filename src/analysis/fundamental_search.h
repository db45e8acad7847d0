#pragma once

// Picks the FFT bin of a tone's fundamental from one frame's magnitude
// spectrum. Rather than taking the strongest peak, it collects the first few
// peaks at or above a multiple of the mean magnitude, measures the spacings
// between successive peaks (for a harmonic tone they equal the fundamental's
// bin), lets the spacings vote for each other, takes the best-supported
// spacing as the fundamental's bin, and finally moves to the strongest of
// that bin and its two neighbours.

#include <cstdint>
#include <span>

namespace toneprint {

struct BinSearchResult {
  bool found = false;
  std::uint32_t bin = 0;  // 0 when not found
};

// The first peak at or after `start`: a bin at or above `threshold` and at
// least as high as each neighbour that exists. Equal neighbours both count,
// so every bin of a flat run above the threshold is a peak.
BinSearchResult find_next_peak(std::span<const double> magnitudes, std::uint32_t start,
                               double threshold);

// The fundamental's bin, with the threshold at threshold_factor times the
// mean of all the magnitudes and at most max_peaks peaks considered (bin 0 is
// never one). Not found when no bin reaches the threshold.
BinSearchResult find_fundamental(std::span<const double> magnitudes, double threshold_factor,
                                 std::uint32_t max_peaks);

}  // namespace toneprint
