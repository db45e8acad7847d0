#include "analysis/fundamental_search.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

namespace toneprint {
namespace {

// A spectrum of `count` bins, zero except where given.
std::vector<double> spectrum(std::size_t count, const std::map<std::size_t, double>& bins) {
  std::vector<double> magnitudes(count, 0.0);
  for (const auto& [bin, value] : bins) magnitudes[bin] = value;
  return magnitudes;
}

// With peaks of 100 among 200 zero bins, a factor of 1 puts the threshold
// far below them, so every listed peak counts and nothing else does.
BinSearchResult search(const std::map<std::size_t, double>& bins, std::uint32_t max_peaks = 5,
                       std::size_t count = 200) {
  return find_fundamental(spectrum(count, bins), 1.0, max_peaks);
}

TEST(FindNextPeak, FlatRunsAndEdgesCount) {
  const std::vector<double> m = {5, 5, 1, 3, 3, 3, 0, 4};
  EXPECT_EQ(find_next_peak(m, 0, 2.0).bin, 0u);  // bin 0 with an equal neighbour
  EXPECT_EQ(find_next_peak(m, 1, 2.0).bin, 1u);
  EXPECT_EQ(find_next_peak(m, 2, 2.0).bin, 3u);  // every bin of the flat run
  EXPECT_EQ(find_next_peak(m, 4, 2.0).bin, 4u);
  EXPECT_EQ(find_next_peak(m, 6, 2.0).bin, 7u);  // the last bin
  EXPECT_FALSE(find_next_peak(m, 6, 4.5).found);
  EXPECT_FALSE(find_next_peak(m, 8, 0.0).found);
}

TEST(FindFundamental, SpacingsOfAToneNearBinTwentyAndAHalf) {
  // Spacings 20, 21, 20, 21, 20 all support each other; the first wins.
  const BinSearchResult r = search({{20, 100}, {41, 100}, {61, 100}, {82, 100}, {102, 100}});
  EXPECT_TRUE(r.found);
  EXPECT_EQ(r.bin, 20u);
}

TEST(FindFundamental, SettlesOnTheStrongestNeighbourOfTheBestSpacing) {
  // Spacings 19, 22, 20, 21, 20 with 3, 2, 4, 4, 4 votes: the best spacing
  // is 20, and of bins 19, 20 and 21 only 19 holds anything.
  EXPECT_EQ(search({{19, 100}, {41, 100}, {61, 100}, {82, 100}, {102, 100}}).bin, 19u);
}

TEST(FindFundamental, MissingHarmonicSupportsTheShorterSpacing) {
  // 100, 200, 400: spacings 100, 100, 200 with 3, 3 and 1 votes.
  EXPECT_EQ(search({{99, 30}, {100, 100}, {101, 60}, {200, 100}, {400, 100}}, 5, 500).bin, 100u);
}

TEST(FindFundamental, HalfSpacingTestAcceptsExactlyOneHalfOff) {
  // Spacings 10, 21, 21: |10 - 21/2| = 0.5 passes, so 10 gets 3 votes.
  EXPECT_EQ(search({{10, 100}, {31, 100}, {52, 100}}).bin, 10u);
  // Spacings 10, 22, 22: |10 - 11| = 1 fails, and 22 wins with 2 votes.
  // Bins 21, 22 and 23 are all empty: the first of them is taken.
  EXPECT_EQ(search({{10, 100}, {32, 100}, {54, 100}}).bin, 21u);
}

TEST(FindFundamental, TiesGoToTheFirstSpacing) {
  // Spacings 30 and 47, one vote each.
  EXPECT_EQ(search({{30, 100}, {77, 100}}).bin, 30u);
  EXPECT_EQ(search({{29, 50}, {30, 100}, {77, 100}}).bin, 30u);
}

TEST(FindFundamental, OnePeakIsItsOwnSpacing) {
  EXPECT_EQ(search({{57, 100}}).bin, 57u);
  // Best spacing count-1: bin count is outside and skipped.
  EXPECT_EQ(search({{198, 60}, {199, 100}}).bin, 199u);
}

TEST(FindFundamental, SpacingOfOneCanSettleOnBinZero) {
  const BinSearchResult r = find_fundamental(spectrum(50, {{0, 5}, {1, 5}, {2, 5}}), 1.0, 5);
  EXPECT_TRUE(r.found);
  EXPECT_EQ(r.bin, 0u);
}

TEST(FindFundamental, AllZeroSpectrumGivesBinZero) {
  const BinSearchResult r = find_fundamental(std::vector<double>(4096, 0.0), 40.0, 5);
  EXPECT_TRUE(r.found);
  EXPECT_EQ(r.bin, 0u);
}

TEST(FindFundamental, OnlyBinsAtTheThresholdArePeaks) {
  // 100 bins with a mean of 1: at a factor of 40, 39 is not a peak and 61 is;
  // at 61 exactly, 61 still is; above, nothing is found.
  std::vector<double> m(100, 0.0);
  m[10] = 39;
  m[60] = 61;
  EXPECT_EQ(find_fundamental(m, 40.0, 5).bin, 60u);
  EXPECT_TRUE(find_fundamental(m, 61.0, 5).found);
  EXPECT_FALSE(find_fundamental(m, 61.5, 5).found);
  EXPECT_FALSE(find_fundamental(m, 1.0, 0).found);
  EXPECT_FALSE(find_fundamental({}, 1.0, 5).found);
}

TEST(FindFundamental, StopsAtTheLargestNumberOfPeaks) {
  // 10, 20, 30, then a run spaced by 7. Three peaks see only spacing 10;
  // with eight, five spacings of 7 outvote three of 10, and the first of the
  // empty bins 6, 7 and 8 is taken.
  const std::map<std::size_t, double> bins = {{10, 100}, {20, 100}, {30, 100}, {37, 100},
                                              {44, 100}, {51, 100}, {58, 100}, {65, 100}};
  EXPECT_EQ(search(bins, 3).bin, 10u);
  EXPECT_EQ(search(bins, 8).bin, 6u);
  // An enormous limit is bounded by the spectrum, not taken as a size.
  EXPECT_EQ(search(bins, 0xFFFFFFFFu).bin, 6u);
}

}  // namespace
}  // namespace toneprint
