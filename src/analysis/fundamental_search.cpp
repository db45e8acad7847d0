#include "analysis/fundamental_search.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numeric>
#include <vector>

namespace toneprint {

BinSearchResult find_next_peak(std::span<const double> magnitudes, std::uint32_t start,
                               double threshold) {
  const std::size_t count = magnitudes.size();
  for (std::size_t i = start; i < count; ++i) {
    const double m = magnitudes[i];
    if (m >= threshold && (i == 0 || m >= magnitudes[i - 1]) &&
        (i == count - 1 || m >= magnitudes[i + 1])) {
      return {true, static_cast<std::uint32_t>(i)};
    }
  }
  return {};
}

BinSearchResult find_fundamental(std::span<const double> magnitudes, double threshold_factor,
                                 std::uint32_t max_peaks) {
  const std::size_t count = magnitudes.size();
  if (count == 0) return {};

  // Added one by one in bin order.
  const double sum = std::accumulate(magnitudes.begin(), magnitudes.end(), 0.0);
  const double threshold = sum / static_cast<double>(count) * threshold_factor;

  // Peaks are strictly increasing bins, so there can be no more of them than
  // bins: that bounds the storage whatever max_peaks says.
  std::vector<std::uint32_t> peaks;
  peaks.reserve(std::min<std::size_t>(max_peaks, count));
  std::uint32_t start = 1;
  while (peaks.size() < max_peaks) {
    const BinSearchResult peak = find_next_peak(magnitudes, start, threshold);
    if (!peak.found) break;
    peaks.push_back(peak.bin);
    start = peak.bin + 1;
  }
  if (peaks.empty()) return {};

  // Spacings between successive peaks, the first measured from bin 0.
  const std::size_t m = peaks.size();
  std::vector<std::uint32_t> spacings(m);
  spacings[0] = peaks[0];
  for (std::size_t j = 1; j < m; ++j) spacings[j] = peaks[j] - peaks[j - 1];

  // A spacing is supported by every spacing within one bin of it, and by one
  // about twice as long (the gap a missing harmonic leaves). The 0.501 bound
  // lets a difference of exactly 0.5 pass.
  std::vector<std::uint32_t> votes(m, 0);
  for (std::size_t j = 0; j < m; ++j) {
    for (std::size_t k = 0; k < m; ++k) {
      const std::int64_t difference =
          static_cast<std::int64_t>(spacings[j]) - static_cast<std::int64_t>(spacings[k]);
      if (std::llabs(difference) <= 1 ||
          std::fabs(static_cast<double>(spacings[j]) - static_cast<double>(spacings[k]) * 0.5) <=
              0.501) {
        ++votes[j];
      }
    }
  }

  // The first spacing with the most votes.
  std::size_t best = 0;
  for (std::size_t j = 1; j < m; ++j) {
    if (votes[j] > votes[best]) best = j;
  }

  // The strongest of bins b-1, b and b+1 that exist; the earliest on a tie.
  // b is at least 1 and below count, so b-1 always exists.
  const std::uint32_t b = spacings[best];
  std::uint32_t bin = b - 1;
  double strongest = -1.0;
  for (std::uint32_t candidate = b - 1; candidate <= b + 1 && candidate < count; ++candidate) {
    if (magnitudes[candidate] > strongest) {
      strongest = magnitudes[candidate];
      bin = candidate;
    }
  }
  return {true, bin};
}

}  // namespace toneprint
