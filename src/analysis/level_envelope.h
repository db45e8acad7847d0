#pragma once

// A recording's level over time, kept as the peak magnitude of each block of
// samples. The blocks double in length whenever they would exceed their
// limit, so that a recording of any length costs a bounded few thousand
// values.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "analysis/sample_source.h"

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

// A whole recording's level: its loudest sample and its noise floor (the
// 5th percentile of the peaks of its 10 ms blocks, to 0.1 dB), in sample
// units.
struct RecordingLevels {
  double peak = 0.0;
  double noise_floor = 0.0;
  std::uint64_t samples = 0;
};

// Reads the source to its end for its levels, adding every sample to
// `envelope` when there is one.
RecordingLevels scan_levels(SampleSource& source, LevelEnvelope* envelope);

// Passes a source's samples on and adds each to an envelope once, in order.
// Seeks back pass through to the source, and samples read again are not
// added again; a seek past the furthest sample read is refused, so that
// whoever reads through the tap reads the samples up to it instead.
class LevelTap final : public SampleSource {
 public:
  LevelTap(SampleSource& source, LevelEnvelope& envelope) : source_(source), envelope_(envelope) {}

  std::size_t read(std::span<double> out) override;
  bool seek(std::uint64_t frame) override;
  const RecordingFormat& format() const override { return source_.format(); }
  const std::string& error() const override { return source_.error(); }

 private:
  SampleSource& source_;
  LevelEnvelope& envelope_;
  std::uint64_t position_ = 0;
  std::uint64_t added_ = 0;  // samples added to the envelope: all before it
};

}  // namespace toneprint
