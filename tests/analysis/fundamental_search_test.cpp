#include "analysis/fundamental_search.h"

#include <map>

#include "support/test_support.h"

using namespace toneprint;

// Spectra of `count` zero bins but for the peaks listed; with a factor of 1
// the threshold lies far below peaks of 30 and more, so each of them counts.
struct SearchCase {
  int bin;  // the bin found, or -1 for none
  double factor;
  std::uint32_t max_peaks, count;
  std::map<std::uint32_t, double> peaks;
};
constexpr double h = 100;
const std::map<std::uint32_t, double> tens_then_sevens = {{10, h}, {20, h}, {30, h}, {37, h},
                                                          {44, h}, {51, h}, {58, h}, {65, h}};
const SearchCase search_cases[] = {
    // spacings 20, 21, 20, 21, 20 all agree; the first wins
    {20, 1, 5, 200, {{20, h}, {41, h}, {61, h}, {82, h}, {102, h}}},
    // best 20 (of 19, 22, 20, 21, 20); of bins 19-21 only 19 holds anything
    {19, 1, 5, 200, {{19, h}, {41, h}, {61, h}, {82, h}, {102, h}}},
    // a missing harmonic: spacings 100, 100, 200
    {100, 1, 5, 500, {{99, 30}, {100, h}, {101, 60}, {200, h}, {400, h}}},
    // |10 - 21 / 2| = 0.5 supports spacing 10
    {10, 1, 5, 200, {{10, h}, {31, h}, {52, h}}},
    // |10 - 22 / 2| = 1 does not: 22 wins, and of empty 21-23 the first
    {21, 1, 5, 200, {{10, h}, {32, h}, {54, h}}},
    // spacings 12, 10, 10: two bins apart is no support, and of empty 9-11 the first
    {9, 1, 5, 200, {{12, h}, {22, h}, {32, h}}},
    // a tie goes to the first spacing
    {30, 1, 5, 200, {{29, 50}, {30, h}, {77, h}}},
    // bin 200, past the last, is no neighbour
    {199, 1, 5, 200, {{198, 60}, {199, h}}},
    // a spacing of 1 can settle on bin 0
    {0, 1, 5, 50, {{0, 5}, {1, 5}, {2, 5}}},
    // all zero: every bin is a peak
    {0, 40, 5, 4096, {}},
    // the threshold is 61 x the mean of 1: 39 is below it, 61 at it counts
    {60, 61, 5, 100, {{10, 39}, {60, 61}}},
    // above every bin
    {-1, 61.5, 5, 100, {{10, 39}, {60, 61}}},
    // no peak allowed
    {-1, 1, 0, 100, {{60, 61}}},
    // three peaks see only spacing 10
    {10, 1, 3, 200, tens_then_sevens},
    // all eight: five spacings of 7 outvote three of 10, even when the limit
    // is enormous (and bounded by the spectrum, not taken as a size)
    {6, 1, 0xFFFFFFFF, 200, tens_then_sevens},
};

TEST(FindFundamental, TakesTheBestSupportedSpacingAndItsStrongestNeighbour) {
  for (const SearchCase& c : search_cases) {
    std::vector<double> magnitudes(c.count, 0.0);
    for (const auto& [bin, value] : c.peaks) magnitudes[bin] = value;
    const BinSearchResult r = find_fundamental(magnitudes, c.factor, c.max_peaks);
    EXPECT_EQ(r.found ? static_cast<int>(r.bin) : -1, c.bin) << "row " << &c - search_cases;
  }
}
