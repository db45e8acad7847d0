#pragma once

// The tone loop's view of a recording: one sample at a time from a
// SampleSource read in blocks, with skips forward and back. The stream keeps
// the history asked for when it was made (the silence test looks that far
// ahead and then returns), up to 2^20 samples, so that a skip back within it
// costs nothing; a skip back further, or a long skip forward over a
// recording of known length, seeks in the source. Its memory is bounded by
// the settings, not by the recording's length, and grows only as samples
// arrive.

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "analysis/sample_source.h"

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

  // The samples read ahead and not yet taken, for a reader that takes
  // several at once; consume(n) takes the first n of them (n at most as
  // many as there are).
  std::span<const double> buffered() const {
    return {buffer_.get() + next_, filled_ - next_};
  }
  void consume(std::size_t n) { next_ += n; }

  // Moves forward by `samples` if at least one sample follows; otherwise
  // false, and the stream may stand anywhere up to the recording's end.
  bool skip_forward(std::uint64_t samples);

  // Moves back by `samples` unless that passes the first sample, or passes
  // the history kept in a source that cannot seek; false then, nothing
  // moves, and error() says why.
  bool skip_back(std::uint64_t samples);

  // Why the stream could not go back where it was asked to, or empty. A
  // reader that goes on regardless reads from the wrong place.
  const std::string& error() const { return error_; }

  // Samples read or skipped since the first one.
  std::uint64_t position() const { return buffer_start_ + next_; }

  // Samples left after the read position, or RecordingFormat::unknown_frames
  // when the source cannot tell.
  std::uint64_t remaining() const;

  SampleSource& source() { return source_; }

 private:
  // Reads the next block after the samples held, first dropping all but
  // the history when there is no room. False when nothing more could be
  // read.
  bool refill();

  // Starts again at sample `target` of the source, holding nothing.
  bool seek(std::uint64_t target);

  SampleSource& source_;
  std::uint64_t history_;
  std::unique_ptr<double[]> buffer_;
  std::size_t capacity_ = 0;
  std::size_t filled_ = 0;
  std::size_t next_ = 0;
  // Position of buffer_[0] in the recording.
  std::uint64_t buffer_start_ = 0;
  std::string error_;
};

}  // namespace toneprint
