#pragma once

// Tones built in a test from a recipe: a fundamental frequency and, for each
// harmonic, its peak amplitude and phase. Samples are rounded to 16-bit
// values, as a recording holds them.

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

// `count` samples of the tone at `sample_rate`, starting at sample `first`;
// partials at or above half the sample rate are left out.
std::vector<double> synthesise(const ToneRecipe& recipe, std::uint32_t sample_rate,
                               std::size_t count, std::size_t first = 0);

// A frequency error in cents.
double cents(double measured, double expected);

// An amplitude error in dB.
double decibels(double measured, double expected);

}  // namespace toneprint::test
