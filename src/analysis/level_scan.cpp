#include "analysis/level_scan.h"

#include <algorithm>
#include <cmath>

namespace toneprint {

RecordingLevels scan_levels(SampleSource& source, LevelEnvelope* envelope) {
  // The blocks' peaks in 0.1 dB steps from 100 dB below one sample unit;
  // a block of silence counts in the lowest.
  constexpr double steps_per_db = 10.0;
  constexpr double lowest_db = -100.0;
  std::vector<std::uint64_t> histogram(3000, 0);
  const auto add_block = [&](double peak) {
    const double db = peak > 0.0 ? 20.0 * std::log10(peak) : lowest_db;
    const double step = std::floor((db - lowest_db) * steps_per_db);
    histogram[static_cast<std::size_t>(
        std::clamp(step, 0.0, static_cast<double>(histogram.size() - 1)))]++;
  };

  RecordingLevels levels;
  const std::uint64_t block = std::max<std::uint32_t>(1, source.format().sample_rate / 100);
  std::vector<double> buffer(65536);
  double block_peak = 0.0;
  std::uint64_t in_block = 0;
  std::uint64_t blocks = 0;
  for (std::size_t got; (got = source.read(buffer)) > 0;) {
    const std::span<const double> samples(buffer.data(), got);
    if (envelope != nullptr) envelope->add(samples);
    for (const double sample : samples) {
      const double magnitude = std::fabs(sample);
      levels.peak = std::max(levels.peak, magnitude);
      block_peak = std::max(block_peak, magnitude);
      if (++in_block == block) {
        add_block(block_peak);
        ++blocks;
        block_peak = 0.0;
        in_block = 0;
      }
    }
    levels.samples += got;
  }
  if (in_block > 0) {
    add_block(block_peak);
    ++blocks;
  }
  // The 5th percentile, by nearest rank: the step that holds the block
  // ranked ceil(5 % of the blocks) from the quietest.
  const std::uint64_t rank = (blocks + 19) / 20;
  std::uint64_t counted = 0;
  for (std::size_t step = 0; rank > 0 && step < histogram.size(); ++step) {
    counted += histogram[step];
    if (counted >= rank) {
      levels.noise_floor =
          step == 0 ? 0.0
                    : std::pow(10.0, (lowest_db + static_cast<double>(step) / steps_per_db) / 20.0);
      break;
    }
  }
  return levels;
}

std::size_t LevelTap::read(std::span<double> out) {
  const std::size_t got = source_.read(out);
  const std::uint64_t end = position_ + got;
  if (end > added_) {
    envelope_.add(out.subspan(static_cast<std::size_t>(added_ - position_),
                              static_cast<std::size_t>(end - added_)));
    added_ = end;
  }
  position_ = end;
  return got;
}

bool LevelTap::seek(std::uint64_t frame) {
  if (frame > added_ || !source_.seek(frame)) return false;
  position_ = frame;
  return true;
}

}  // namespace toneprint
