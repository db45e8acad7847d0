#pragma once

// Reading a recording's level: a first reading for its peak and noise floor,
// and a tap that keeps the level of the samples as the analysis reads them.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "analysis/level_envelope.h"
#include "analysis/sample_source.h"

namespace toneprint {

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
