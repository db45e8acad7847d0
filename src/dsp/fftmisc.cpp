#include "dsp/fftmisc.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace toneprint {
namespace {

constexpr double two_pi = 6.283185307179586;

}  // namespace

bool is_power_of_two(std::uint32_t n) { return n >= 2 && (n & (n - 1)) == 0; }

std::uint32_t NumberOfBitsNeeded(std::uint32_t PowerOfTwo) {
  if (PowerOfTwo < 2) {
    std::fprintf(stderr, ">>> Error in fftmisc: argument %d to NumberOfBitsNeeded is too small.\n",
                 static_cast<int>(PowerOfTwo));
    std::exit(1);
  }
  std::uint32_t bits = 0;
  while ((PowerOfTwo & (1u << bits)) == 0) ++bits;
  return bits;
}

std::uint32_t reverse_bits(std::uint32_t index, std::uint32_t bit_count) {
  std::uint32_t reversed = 0;
  for (std::uint32_t i = 0; i < bit_count; ++i) {
    reversed = (reversed << 1) | (index & 1);
    index >>= 1;
  }
  return reversed;
}

double index_to_frequency(std::uint32_t NumSamples, std::uint32_t index) {
  if (index >= NumSamples) return 0.0;
  if (index <= NumSamples / 2) {
    return static_cast<double>(index) / static_cast<double>(NumSamples);
  }
  return -static_cast<double>(NumSamples - index) / static_cast<double>(NumSamples);
}

void require_pointer(const void* array, const char* name) {
  if (array == nullptr) {
    std::fprintf(stderr, "Error in fft_double():  %s == NULL\n", name);
    std::exit(1);
  }
}

void fft_double(std::uint32_t NumSamples, int Inverse, const double* RealIn, const double* ImagIn,
                double* RealOut, double* ImagOut) {
  if (!is_power_of_two(NumSamples)) {
    std::fprintf(stderr, "Error in fft():  NumSamples=%u is not power of two\n", NumSamples);
    std::exit(1);
  }
  double angle_numerator = two_pi;
  if (Inverse != 0) angle_numerator = -angle_numerator;

  require_pointer(RealIn, "RealIn");
  require_pointer(RealOut, "RealOut");
  require_pointer(ImagOut, "ImagOut");

  const std::uint32_t bit_count = NumberOfBitsNeeded(NumSamples);

  // Bit-reversed copy of the input into the outputs.
  for (std::uint32_t i = 0; i < NumSamples; ++i) {
    const std::uint32_t j = reverse_bits(i, bit_count);
    RealOut[j] = RealIn[i];
    ImagOut[j] = ImagIn == nullptr ? 0.0 : ImagIn[i];
  }

  // Butterfly stages. The twiddle factors come from the recurrence
  // x[n] = 2 cos(delta) x[n-1] - x[n-2], seeded per block with the angles
  // -2 delta and -delta, so that four library calls per stage suffice.
  std::uint32_t half = 1;
  for (std::uint32_t block = 2; block <= NumSamples; block <<= 1) {
    const double delta = angle_numerator / static_cast<double>(block);
    const double s2 = std::sin(-2.0 * delta);
    const double s1 = std::sin(-delta);
    const double c2 = std::cos(-2.0 * delta);
    const double c1 = std::cos(-delta);
    const double w = 2.0 * c1;

    for (std::uint32_t i = 0; i < NumSamples; i += block) {
      double r2 = c2;
      double r1 = c1;
      double q2 = s2;
      double q1 = s1;
      for (std::uint32_t n = 0; n < half; ++n) {
        const double r0 = w * r1 - r2;
        r2 = r1;
        r1 = r0;
        const double q0 = w * q1 - q2;
        q2 = q1;
        q1 = q0;

        const std::uint32_t j = i + n;
        const std::uint32_t k = j + half;
        const double tr = r0 * RealOut[k] - q0 * ImagOut[k];
        const double ti = r0 * ImagOut[k] + q0 * RealOut[k];
        RealOut[k] = RealOut[j] - tr;
        ImagOut[k] = ImagOut[j] - ti;
        RealOut[j] = RealOut[j] + tr;
        ImagOut[j] = ImagOut[j] + ti;
      }
    }
    half = block;
  }

  if (Inverse != 0) {
    const double d = static_cast<double>(NumSamples);
    for (std::uint32_t i = 0; i < NumSamples; ++i) {
      RealOut[i] /= d;
      ImagOut[i] /= d;
    }
  }
}

}  // namespace toneprint
