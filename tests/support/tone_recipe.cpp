#include "support/tone_recipe.h"

#include <algorithm>
#include <cmath>

namespace toneprint::test {

std::vector<double> synthesise(const ToneRecipe& recipe, std::uint32_t sample_rate,
                               std::size_t count, std::size_t first, Rounding rounding) {
  const long double two_pi = 6.283185307179586476925286766559L;
  std::vector<double> samples(count);
  for (std::size_t i = 0; i < count; ++i) {
    const long double n = static_cast<long double>(first + i);
    long double value = 0;
    for (const Partial& p : recipe.partials) {
      const long double f = recipe.fundamental * p.harmonic;
      if (2 * f > sample_rate) continue;
      // The phase is reduced to whole turns first, so that long tones lose
      // no precision in the sine.
      const long double turns = std::fmod(f * n / sample_rate, 1.0L);
      value += p.amplitude * std::cos(two_pi * turns + p.phase);
    }
    samples[i] = rounding == Rounding::none
                     ? static_cast<double>(value)
                     : std::clamp(std::round(static_cast<double>(value)), -32768.0, 32767.0);
  }
  return samples;
}

double cents(double measured, double expected) { return 1200.0 * std::log2(measured / expected); }

double decibels(double measured, double expected) { return 20.0 * std::log10(measured / expected); }

}  // namespace toneprint::test
