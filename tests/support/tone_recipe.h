#pragma once

// Tones built in a test from a recipe: a fundamental frequency and, for each
// harmonic, its peak amplitude and phase. Computed in long double, with each
// cycle count reduced to its fraction before the cosine.

#include <cstdint>
#include <string>
#include <vector>

namespace toneprint::test {

struct Partial {
  int harmonic;      // 1 is the fundamental
  double amplitude;  // peak amplitude in sample units
  double phase;      // radians, of a cosine
};

struct ToneRecipe {
  double fundamental;  // Hz
  std::vector<Partial> partials;
};

enum class Rounding { to_16_bit, none };

// `count` samples of the tone at `sample_rate`, starting at sample `first`,
// rounded to 16-bit values unless asked otherwise; partials above half the
// sample rate are left out.
std::vector<double> synthesise(const ToneRecipe& recipe, std::uint32_t sample_rate,
                               std::size_t count, std::size_t first = 0,
                               Rounding rounding = Rounding::to_16_bit);

// A frequency error in cents.
double cents(double measured, double expected);

// An amplitude error in dB.
double decibels(double measured, double expected);

}  // namespace toneprint::test
