#pragma once

// A recording's level over time, kept as the peak magnitude of each block of
// samples. The blocks double in length whenever they would exceed their
// limit, so that a recording of any length costs a bounded few thousand
// values.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace toneprint {

class LevelEnvelope {
 public:
  // At most `max_blocks` blocks (at least 2, and even), of `first_block` samples at
  // first (at least 1).
  explicit LevelEnvelope(std::size_t max_blocks = 8192, std::uint64_t first_block = 64);

  void add(std::span<const double> samples);

  std::uint64_t samples() const { return samples_; }
  std::uint64_t block_samples() const { return block_; }
  // The peak magnitude of each block; the last one may be partly filled.
  const std::vector<double>& peaks() const { return peaks_; }

  // The largest magnitude of the blocks that share a sample with
  // [first, last); 0 when none does.
  double peak(std::uint64_t first, std::uint64_t last) const;

 private:
  std::size_t max_blocks_;
  std::uint64_t block_;
  std::uint64_t samples_ = 0;
  std::vector<double> peaks_;
};

}  // namespace toneprint
