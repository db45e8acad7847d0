#include "analysis/level_scan.h"

#include <algorithm>

#include "readers/memory_source.h"
#include "support/test_support.h"

using namespace toneprint;
namespace test = toneprint::test;

namespace {

// The largest magnitude of samples[first, last).
double brute_peak(const std::vector<double>& samples, std::uint64_t first, std::uint64_t last) {
  double peak = 0.0;
  for (std::uint64_t i = first; i < std::min<std::uint64_t>(last, samples.size()); ++i) {
    peak = std::max(peak, std::fabs(samples[i]));
  }
  return peak;
}

}  // namespace

// Fed in pieces of random sizes, the envelope's blocks hold the peaks of
// exactly their samples, never more blocks than allowed, whatever the
// lengths; its peak over a range is that of the blocks the range touches.
TEST(LevelEnvelope, KeepsEachBlocksPeakWithinItsLimitOfBlocks) {
  const struct {
    std::size_t max_blocks;
    std::uint64_t first_block;
    std::size_t samples;
    std::uint64_t block;  // the block length at the end
  } cases[] = {
      {8, 4, 0, 4},      {8, 4, 31, 4},   {8, 4, 32, 4}, {8, 4, 33, 8},
      {8, 4, 1000, 128}, {7, 1, 100, 16}, {2, 1, 5, 4},  {8192, 64, 200000, 64},
  };
  std::mt19937 random(7);
  std::uniform_real_distribution<double> value(-32768.0, 32767.0);
  for (const auto& c : cases) {
    std::vector<double> samples(c.samples);
    for (double& s : samples) s = value(random);
    LevelEnvelope envelope(c.max_blocks, c.first_block);
    for (std::size_t at = 0; at < samples.size();) {
      const std::size_t piece = std::min<std::size_t>(random() % 50, samples.size() - at);
      envelope.add(std::span<const double>(samples.data() + at, piece));
      at += piece;
    }
    const std::uint64_t block = envelope.block_samples();
    EXPECT_EQ(block, c.block) << c.samples;
    EXPECT_EQ(envelope.samples(), c.samples);
    ASSERT_EQ(envelope.peaks().size(), (c.samples + block - 1) / block) << c.samples;
    EXPECT_LE(envelope.peaks().size(), c.max_blocks + c.max_blocks % 2);
    for (std::size_t b = 0; b < envelope.peaks().size(); ++b) {
      EXPECT_EQ(envelope.peaks()[b], brute_peak(samples, b * block, (b + 1) * block)) << b;
    }
    for (int trial = 0; trial < 20 && !samples.empty(); ++trial) {
      const std::uint64_t first = random() % samples.size();
      const std::uint64_t last = first + 1 + random() % (samples.size() - first);
      EXPECT_EQ(envelope.peak(first, last),
                brute_peak(samples, first / block * block, (last + block - 1) / block * block));
    }
    EXPECT_EQ(envelope.peak(5, 5), 0.0);
    EXPECT_EQ(envelope.peak(c.samples, c.samples + 10), 0.0);
  }
}

// Read, back, read again, then a seek past what was read (refused, so the
// reader reads on instead): the envelope still holds each sample once, in
// order, and every read gives the source's own samples.
TEST(LevelTap, PassesSeeksBackOnAndAddsEachSampleOnceInOrder) {
  std::vector<double> samples(100);
  for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = -static_cast<double>(100 - i);
  RecordingFormat format;
  format.sample_rate = 8000;
  format.channels = 1;
  MemorySource<double> source(samples, format, ChannelChoice::mix(), 1.0);
  LevelEnvelope envelope(4, 10);
  LevelTap tap(source, envelope);
  std::vector<double> buffer(30);
  ASSERT_EQ(tap.read(buffer), 30u);
  ASSERT_TRUE(tap.seek(10));
  ASSERT_EQ(tap.read(buffer), 30u);
  EXPECT_EQ(buffer.front(), -90.0);
  EXPECT_EQ(envelope.samples(), 40u);
  EXPECT_FALSE(tap.seek(50));
  ASSERT_EQ(tap.read(buffer), 30u);
  EXPECT_EQ(buffer.front(), -60.0);
  while (tap.read(buffer) > 0) {
  }
  EXPECT_EQ(envelope.samples(), 100u);
  EXPECT_EQ(tap.format().sample_rate, 8000u);
  EXPECT_EQ(envelope.peak(0, 1), 100.0);    // the first block of 40: 100 down to 61
  EXPECT_EQ(envelope.peak(40, 41), 60.0);   // the second, 60 down to 21
  EXPECT_EQ(envelope.peak(99, 100), 20.0);  // the last, of 20 down to 1
}

// The loudest sample, and the noise floor: the peak of the block ranked 5 %
// from the quietest of the 10 ms blocks.
TEST(ScanLevels, FindsTheLoudestSampleAndTheNoiseFloor) {
  const struct {
    std::vector<std::pair<double, std::size_t>> blocks;  // peak, count
    std::size_t piece;
    double peak, floor;
  } cases[] = {
      {{{0.0, 10}, {20000.0, 90}}, 65536, 20000.0, 0.0},  // 10 % silent
      {{{100.0, 10}, {20000.0, 90}}, 1, 20000.0, 100.0},  // 10 % at 100
      {{{100.0, 4}, {300.0, 96}}, 7, 300.0, 300.0},       // 4 %: not the 5th percentile
      {{{100.0, 5}, {300.0, 95}}, 3, 300.0, 100.0},       // blocks 0 to 4 are the lowest 5 %
      {{{-32768.0, 1}}, 10, 32768.0, 32768.0},           {{}, 10, 0.0, 0.0},
  };
  for (const auto& c : cases) {
    std::vector<double> samples;
    for (const auto& [peak, count] : c.blocks) {
      for (std::size_t b = 0; b < count; ++b) {
        for (int i = 0; i < 10; ++i) samples.push_back(i == 3 ? peak : peak * 0.25);
      }
    }
    test::VectorSource source(samples, 1000, c.piece);  // 10 samples a 10 ms block
    LevelEnvelope envelope;
    const RecordingLevels levels = scan_levels(source, &envelope);
    EXPECT_EQ(levels.samples, samples.size());
    EXPECT_EQ(envelope.samples(), samples.size());
    EXPECT_EQ(levels.peak, c.peak);
    EXPECT_NEAR(levels.noise_floor, c.floor, c.floor * 0.012) << c.peak << " " << c.floor;
  }
}
