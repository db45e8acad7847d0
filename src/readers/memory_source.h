#pragma once

// Samples a caller already holds in memory (a plugin host's blocks, an
// array), read as a recording: interleaved frames of one or more channels,
// brought to the 16-bit scale by a factor (unsigned integers offset by their
// midpoint first), one channel or their mean.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <type_traits>
#include <utility>

#include "readers/channel_check.h"
#include "analysis/sample_source.h"

namespace toneprint {

template <typename Sample>
class MemorySource final : public SampleSource {
 public:
  // `samples` holds whole frames of format.channels values each and must
  // outlive the source; each value times `scale` is a sample on the 16-bit
  // scale. format.frames is set from the samples.
  MemorySource(std::span<const Sample> samples, RecordingFormat format, ChannelChoice choice,
               double scale)
      : samples_(samples), format_(std::move(format)), choice_(choice), scale_(scale) {
    error_ = channel_problem(choice_, format_.channels);
    format_.frames = error_.empty() ? samples_.size() / format_.channels : 0;
  }

  std::size_t read(std::span<double> out) override {
    const std::size_t channels = format_.channels;
    const std::size_t count =
        std::min<std::uint64_t>(out.size(), format_.frames - position_);
    const Sample* frame = samples_.data() + position_ * channels;
    const bool mix = choice_.channel == 0 && channels > 1;
    const std::size_t offset = choice_.channel == 0 ? 0 : choice_.channel - 1;
    for (std::size_t i = 0; i < count; ++i, frame += channels) {
      // The channels' mean as the file readers form it: the scaled values
      // summed in channel order, then divided.
      double value = 0.0;
      if (mix) {
        for (std::size_t c = 0; c < channels; ++c) value += scaled(frame[c]);
        value /= static_cast<double>(channels);
      } else {
        value = scaled(frame[offset]);
      }
      out[i] = std::isfinite(value) ? value : 0.0;
    }
    position_ += count;
    return count;
  }

  bool seek(std::uint64_t frame) override {
    if (frame > format_.frames) return false;
    position_ = frame;
    return true;
  }

  const RecordingFormat& format() const override { return format_; }
  const std::string& error() const override { return error_; }

 private:
  // Unsigned samples are offset by their midpoint first, as 8-bit WAVE
  // samples are, so that their middle is silence.
  double scaled(Sample value) const {
    if constexpr (std::is_unsigned_v<Sample>) {
      constexpr auto midpoint =
          static_cast<double>(Sample{1} << (std::numeric_limits<Sample>::digits - 1));
      return (static_cast<double>(value) - midpoint) * scale_;
    } else {
      return static_cast<double>(value) * scale_;
    }
  }

  std::span<const Sample> samples_;
  RecordingFormat format_;
  ChannelChoice choice_;
  double scale_;
  std::uint64_t position_ = 0;
  std::string error_;
};

}  // namespace toneprint
