#include "analysis/sample_stream.h"

#include <algorithm>
#include <cstring>

namespace toneprint {
namespace {

// Samples asked of the source at a time.
constexpr std::size_t block_samples = 16384;

}  // namespace

SampleStream::SampleStream(SampleSource& source, std::uint64_t history)
    : source_(source), history_(history) {}

std::uint64_t SampleStream::remaining() const {
  const std::uint64_t frames = source_.format().frames;
  if (frames == RecordingFormat::unknown_frames) return frames;
  return frames > position() ? frames - position() : 0;
}

bool SampleStream::refill() {
  const auto keep = static_cast<std::size_t>(std::min<std::uint64_t>(history_, next_));
  const std::size_t needed = keep + block_samples;
  if (needed > capacity_) {
    // Grown to exactly what is needed, never more: the history fills only as
    // fast as samples arrive.
    auto grown = std::make_unique<double[]>(needed);
    std::copy(buffer_.get() + (next_ - keep), buffer_.get() + next_, grown.get());
    buffer_ = std::move(grown);
    capacity_ = needed;
  } else if (keep > 0) {
    std::memmove(buffer_.get(), buffer_.get() + (next_ - keep), keep * sizeof(double));
  }
  buffer_start_ += next_ - keep;
  next_ = keep;
  filled_ = keep + source_.read(std::span<double>(buffer_.get() + keep, block_samples));
  return filled_ > next_;
}

bool SampleStream::skip_forward(std::uint64_t samples) {
  while (samples > 0) {
    if (next_ == filled_ && !refill()) return false;
    const auto step = static_cast<std::size_t>(std::min<std::uint64_t>(samples, filled_ - next_));
    next_ += step;
    samples -= step;
  }
  return next_ < filled_ || refill();
}

bool SampleStream::skip_back(std::uint64_t samples) {
  if (samples > next_) return false;
  next_ -= static_cast<std::size_t>(samples);
  return true;
}

}  // namespace toneprint
