#include "analysis/level_envelope.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace toneprint {

LevelEnvelope::LevelEnvelope(std::size_t max_blocks, std::uint64_t first_block)
    : max_blocks_(std::max<std::size_t>(max_blocks + max_blocks % 2, 2)),
      block_(std::max<std::uint64_t>(first_block, 1)) {}

void LevelEnvelope::add(std::span<const double> samples) {
  // A block's samples at a time: a division per sample costs more than the
  // rest of the work.
  while (!samples.empty()) {
    if (samples_ / block_ == max_blocks_) {
      // Full: pairs of blocks become one of twice the length.
      for (std::size_t i = 0; i < max_blocks_ / 2; ++i) {
        peaks_[i] = std::max(peaks_[2 * i], peaks_[2 * i + 1]);
      }
      peaks_.resize(max_blocks_ / 2);
      block_ *= 2;
    }
    const auto slot = static_cast<std::size_t>(samples_ / block_);
    if (slot == peaks_.size()) peaks_.push_back(0.0);
    const std::uint64_t room = (slot + 1) * block_ - samples_;
    const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(room, samples.size()));
    const std::span<const double> run = samples.first(count);
    peaks_[slot] = std::accumulate(run.begin(), run.end(), peaks_[slot],
                                   [](double peak, double sample) {
                                     return std::max(peak, std::fabs(sample));
                                   });
    samples_ += count;
    samples = samples.subspan(count);
  }
}

double LevelEnvelope::peak(std::uint64_t first, std::uint64_t last) const {
  if (first >= last || first >= samples_) return 0.0;
  const auto from = static_cast<std::size_t>(first / block_);
  const auto to =
      static_cast<std::size_t>(std::min((last - 1) / block_ + 1, std::uint64_t{peaks_.size()}));
  return *std::max_element(peaks_.begin() + static_cast<std::ptrdiff_t>(from),
                           peaks_.begin() + static_cast<std::ptrdiff_t>(to));
}

}  // namespace toneprint
