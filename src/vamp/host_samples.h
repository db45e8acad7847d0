#pragma once

// The ways the plugin hands a host's samples to the analysis, which reads
// them through a SampleSource. SampleFeed passes them to an analysis running
// on another thread through a bounded buffer, so that memory does not grow
// with the recording; KeptSamples keeps them all, for the robust mode, which
// reads the recording twice.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "toneprint/toneprint.h"

namespace toneprint {

// Samples written by one thread and read by another, as a recording of
// unknown length that ends when the writer closes it. The writer waits
// while the buffer is full, the reader while it is empty.
class SampleFeed final : public SampleSource {
 public:
  SampleFeed(RecordingFormat format, std::size_t capacity);

  // Hands the samples over, waiting for room. False once the reader has
  // stopped: the samples are no longer wanted and are dropped.
  bool write(std::span<const double> samples);
  // No more samples follow: the reader gets those written, then the end;
  // with `drop`, the end at once.
  void close(bool drop = false);
  // The reader takes no more samples (it finished or gave up); a writer
  // waiting for room stops waiting.
  void stop_reading();

  // Waits until out is full or the feed is closed.
  std::size_t read(std::span<double> out) override;
  const RecordingFormat& format() const override { return format_; }
  const std::string& error() const override { return error_; }

 private:
  RecordingFormat format_;
  std::string error_;  // always empty: a feed stops only where it is closed
  std::vector<double> ring_;
  std::size_t head_ = 0;  // the oldest sample held
  std::size_t held_ = 0;
  bool closed_ = false;
  bool stopped_ = false;
  std::mutex mutex_;
  std::condition_variable changed_;
};

// Every sample, as a float, in pieces of a fixed size (no copy as it grows,
// no single huge block), up to a bound.
class KeptSamples {
 public:
  explicit KeptSamples(std::uint64_t most);

  // False, keeping nothing more, when the bound is reached.
  bool add(std::span<const double> values);
  std::uint64_t size() const { return size_; }
  // Copies those from `first` on into `out`, as many as fit; returns how
  // many.
  std::size_t copy(std::uint64_t first, std::span<double> out) const;

  // A source reading them from the first, which can seek; it must not
  // outlive this.
  std::unique_ptr<SampleSource> source(RecordingFormat format) const;

 private:
  static constexpr std::size_t piece = std::size_t{1} << 20;
  std::uint64_t most_;
  std::uint64_t size_ = 0;
  std::vector<std::unique_ptr<float[]>> pieces_;
};

// A source that someone else owns, for a caller that takes ownership of
// what it reads.
class BorrowedSource final : public SampleSource {
 public:
  explicit BorrowedSource(SampleSource& source) : source_(source) {}
  std::size_t read(std::span<double> out) override { return source_.read(out); }
  bool seek(std::uint64_t frame) override { return source_.seek(frame); }
  const RecordingFormat& format() const override { return source_.format(); }
  const std::string& error() const override { return source_.error(); }

 private:
  SampleSource& source_;
};

}  // namespace toneprint
