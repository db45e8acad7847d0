#include "vamp/host_samples.h"

#include <algorithm>
#include <utility>

namespace toneprint {

SampleFeed::SampleFeed(RecordingFormat format, std::size_t capacity)
    : format_(std::move(format)), ring_(std::max<std::size_t>(capacity, 1)) {
  format_.frames = RecordingFormat::unknown_frames;
}

bool SampleFeed::write(std::span<const double> samples) {
  std::unique_lock lock(mutex_);
  while (!samples.empty()) {
    changed_.wait(lock, [this] { return stopped_ || held_ < ring_.size(); });
    if (stopped_) return false;
    const std::size_t tail = (head_ + held_) % ring_.size();
    const std::size_t count =
        std::min({samples.size(), ring_.size() - held_, ring_.size() - tail});
    std::copy_n(samples.begin(), count, ring_.begin() + static_cast<std::ptrdiff_t>(tail));
    held_ += count;
    samples = samples.subspan(count);
    changed_.notify_all();
  }
  return true;
}

void SampleFeed::close(bool drop) {
  const std::lock_guard lock(mutex_);
  closed_ = true;
  if (drop) held_ = 0;
  changed_.notify_all();
}

void SampleFeed::stop_reading() {
  const std::lock_guard lock(mutex_);
  stopped_ = true;
  changed_.notify_all();
}

std::size_t SampleFeed::read(std::span<double> out) {
  std::unique_lock lock(mutex_);
  std::size_t got = 0;
  while (got < out.size()) {
    changed_.wait(lock, [this] { return closed_ || held_ > 0; });
    if (held_ == 0) break;  // closed, and nothing left
    const std::size_t count =
        std::min({out.size() - got, held_, ring_.size() - head_});
    std::copy_n(ring_.begin() + static_cast<std::ptrdiff_t>(head_), count, out.begin() + got);
    head_ = (head_ + count) % ring_.size();
    held_ -= count;
    got += count;
    changed_.notify_all();
  }
  return got;
}

namespace {

class KeptSource final : public SampleSource {
 public:
  KeptSource(const KeptSamples& samples, RecordingFormat format)
      : samples_(samples), format_(std::move(format)) {
    format_.frames = samples.size();
  }
  std::size_t read(std::span<double> out) override {
    const std::size_t got = samples_.copy(position_, out);
    position_ += got;
    return got;
  }
  bool seek(std::uint64_t frame) override {
    if (frame > samples_.size()) return false;
    position_ = frame;
    return true;
  }
  const RecordingFormat& format() const override { return format_; }
  const std::string& error() const override { return error_; }

 private:
  const KeptSamples& samples_;
  RecordingFormat format_;
  std::string error_;
  std::uint64_t position_ = 0;
};

}  // namespace

KeptSamples::KeptSamples(std::uint64_t most) : most_(most) {}

bool KeptSamples::add(std::span<const double> values) {
  for (const double value : values) {
    if (size_ >= most_) return false;
    const auto within = static_cast<std::size_t>(size_ % piece);
    if (within == 0) pieces_.push_back(std::make_unique_for_overwrite<float[]>(piece));
    pieces_.back()[within] = static_cast<float>(value);
    ++size_;
  }
  return true;
}

std::size_t KeptSamples::copy(std::uint64_t first, std::span<double> out) const {
  std::size_t got = 0;
  while (got < out.size() && first + got < size_) {
    const std::uint64_t at = first + got;
    const float* from = pieces_[static_cast<std::size_t>(at / piece)].get();
    const auto within = static_cast<std::size_t>(at % piece);
    const auto count = static_cast<std::size_t>(
        std::min<std::uint64_t>({out.size() - got, piece - within, size_ - at}));
    std::copy_n(from + within, count, out.begin() + static_cast<std::ptrdiff_t>(got));
    got += count;
  }
  return got;
}

std::unique_ptr<SampleSource> KeptSamples::source(RecordingFormat format) const {
  return std::make_unique<KeptSource>(*this, std::move(format));
}

}  // namespace toneprint
