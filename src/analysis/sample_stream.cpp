#include "analysis/sample_stream.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace toneprint {
namespace {

// Samples asked of the source at a time.
constexpr std::size_t block_samples = 16384;

// The most samples kept for skips back (8 MiB of them); a skip back further
// than that seeks in the source instead.
constexpr std::uint64_t most_history = std::uint64_t{1} << 20;

}  // namespace

SampleStream::SampleStream(SampleSource& source, std::uint64_t history)
    : source_(source), history_(std::min(history, most_history)) {}

std::uint64_t SampleStream::remaining() const {
  const std::uint64_t frames = source_.format().frames;
  if (frames == RecordingFormat::unknown_frames) return frames;
  return frames > position() ? frames - position() : 0;
}

bool SampleStream::refill() {
  if (capacity_ - filled_ < block_samples) {
    // No room after the samples held: only the history before the read
    // position stays. With room for twice the history, a move comes at most
    // once per history's length of samples read.
    const auto keep = static_cast<std::size_t>(std::min<std::uint64_t>(history_, next_));
    const std::size_t drop = next_ - keep;
    const std::size_t wanted = 2 * keep + block_samples;
    if (wanted > capacity_) {
      auto grown = std::make_unique<double[]>(wanted);
      std::copy(buffer_.get() + drop, buffer_.get() + next_, grown.get());
      buffer_ = std::move(grown);
      capacity_ = wanted;
    } else {
      std::memmove(buffer_.get(), buffer_.get() + drop, keep * sizeof(double));
    }
    buffer_start_ += drop;
    next_ = filled_ = keep;
  }
  filled_ += source_.read(std::span<double>(buffer_.get() + filled_, block_samples));
  return filled_ > next_;
}

bool SampleStream::seek(std::uint64_t target) {
  if (!source_.seek(target)) return false;
  buffer_start_ = target;
  next_ = filled_ = 0;
  return true;
}

bool SampleStream::skip_forward(std::uint64_t samples) {
  const std::uint64_t held = filled_ - next_;
  if (samples >= held && source_.format().frames != RecordingFormat::unknown_frames) {
    // A known length tells at once whether a sample follows the skip; a
    // source that cannot seek is read through.
    if (remaining() <= samples) return false;
    if (seek(position() + samples)) return refill();
  }
  while (samples > 0) {
    if (next_ == filled_ && !refill()) return false;
    const auto step = static_cast<std::size_t>(std::min<std::uint64_t>(samples, filled_ - next_));
    next_ += step;
    samples -= step;
  }
  return next_ < filled_ || refill();
}

bool SampleStream::skip_back(std::uint64_t samples) {
  if (samples <= next_) {
    next_ -= static_cast<std::size_t>(samples);
    return true;
  }
  if (samples > position()) {
    error_ = "cannot go back " + std::to_string(samples) + " samples from sample " +
             std::to_string(position()) + ", before the first";
    return false;
  }
  if (seek(position() - samples)) return true;
  error_ = "cannot go back to sample " + std::to_string(position() - samples) +
           " to read it again: the recording cannot seek, and the samples kept (at most " +
           std::to_string(history_) + ") do not reach back so far";
  return false;
}

}  // namespace toneprint
