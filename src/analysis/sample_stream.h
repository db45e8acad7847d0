#pragma once

// The tone loop's view of a recording: one sample at a time from a
// SampleSource read in blocks, with skips forward and back. A skip back can
// reach as far as the history asked for when the stream was made (the
// silence test looks that far ahead and then returns); the stream keeps no
// more than that, so its memory is bounded by the settings, not by the
// recording's length, and it grows only as samples arrive.

#include <cstdint>
#include <memory>

#include "readers/sample_source.h"

namespace toneprint {

class SampleStream {
 public:
  SampleStream(SampleSource& source, std::uint64_t history);

  // Reads the next sample. False at the end of the recording or when it
  // could not be read further (source().error() then says why).
  bool read(double& value) {
    if (next_ == filled_ && !refill()) return false;
    value = buffer_[next_++];
    return true;
  }

  // Moves forward by `samples` if at least one sample follows; otherwise
  // false, and the stream stands at the recording's end.
  bool skip_forward(std::uint64_t samples);

  // Moves back by `samples` unless that passes the first sample or the
  // history kept; false then, and nothing moves.
  bool skip_back(std::uint64_t samples);

  // Samples read or skipped since the first one.
  std::uint64_t position() const { return buffer_start_ + next_; }

  // Samples left after the read position, or RecordingFormat::unknown_frames
  // when the source cannot tell.
  std::uint64_t remaining() const;

  SampleSource& source() { return source_; }

 private:
  // Keeps the history before the read position, then reads the next block
  // after it. False when nothing more could be read.
  bool refill();

  SampleSource& source_;
  std::uint64_t history_;
  std::unique_ptr<double[]> buffer_;
  std::size_t capacity_ = 0;
  std::size_t filled_ = 0;
  std::size_t next_ = 0;
  // Position of buffer_[0] in the recording.
  std::uint64_t buffer_start_ = 0;
};

}  // namespace toneprint
