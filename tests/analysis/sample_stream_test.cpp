#include "analysis/sample_stream.h"

#include "support/test_support.h"

using namespace toneprint;

namespace {

// The samples 0, 1, 2, ... count - 1, each its own position; seeking or not.
class Positions final : public SampleSource {
 public:
  Positions(std::uint64_t count, bool seekable) : seekable_(seekable) { format_.frames = count; }
  std::size_t read(std::span<double> out) override {
    std::size_t n = 0;
    for (; n < out.size() && next_ < format_.frames; ++n) out[n] = static_cast<double>(next_++);
    return n;
  }
  bool seek(std::uint64_t frame) override {
    if (!seekable_ || frame > format_.frames) return false;
    next_ = frame;
    return true;
  }
  const RecordingFormat& format() const override { return format_; }
  const std::string& error() const override { return error_; }

 private:
  bool seekable_;
  std::uint64_t next_ = 0;
  RecordingFormat format_;
  std::string error_;
};

}  // namespace

// Back within what is held (the history, at most 2^20 samples, and what was
// read since it was kept); further only by seeking. Forward only when a
// sample follows.
TEST(SampleStream, SkipsWithinItsHistoryOrBySeeking) {
  constexpr std::uint64_t count = 3'000'000, most = 1 << 20;
  const struct {
    bool seekable;
    std::uint64_t history, read, back, forward;
    bool moved;
    double next;  // the sample read after the skip
  } cases[] = {
      {false, 10, 100, 10, 0, true, 90},
      {false, 10, 100, 0, count - 101, true, count - 1},
      {false, 10, 100, 0, count - 100, false, 100},  // a known length: nothing moves
      {true, 10, 100, 0, count - 100, false, 100},
      {true, 10, 100, 0, count - 101, true, count - 1},
      {false, 2 * most, 2'500'000, most, 0, true, 2'500'000 - most},
      {false, 2 * most, 2'500'000, 2'400'000, 0, false, 2'500'000},
      {true, 2 * most, 2'500'000, 2'400'000, 0, true, 100'000},
      {true, 2 * most, 2'500'000, 2'500'000, 0, true, 0},
      {true, 2 * most, 2'500'000, 2'500'001, 0, false, 2'500'000},
  };
  for (const auto& c : cases) {
    Positions source(count, c.seekable);
    SampleStream stream(source, c.history);
    double value = -1;
    for (std::uint64_t i = 0; i < c.read; ++i) stream.read(value);
    const bool moved = c.back > 0 ? stream.skip_back(c.back) : stream.skip_forward(c.forward);
    EXPECT_EQ(moved, c.moved) << c.read << " back " << c.back << " forward " << c.forward;
    value = -1;
    stream.read(value);
    EXPECT_EQ(value, c.next) << c.read << " back " << c.back << " forward " << c.forward;
  }
}
