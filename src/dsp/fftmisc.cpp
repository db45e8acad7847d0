#include "dsp/fftmisc.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace toneprint {
namespace {

constexpr double two_pi = 6.283185307179586;

}  // namespace

TwiddleRecurrence::TwiddleRecurrence(double delta)
    : w_(2.0 * std::cos(-delta)),
      r2_(std::cos(-2.0 * delta)),
      r1_(std::cos(-delta)),
      q2_(std::sin(-2.0 * delta)),
      q1_(std::sin(-delta)) {}

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

  // The indices have log2(NumSamples) bits, the top one NumSamples / 2.
  const std::uint32_t top_bit = NumSamples >> 1;

  // Bit-reversed copy of the input into the outputs: RealOut[reverse(i)] =
  // RealIn[i] for every i, done in the order of the outputs (reversing the
  // bits twice gives the index back), so that the writes go in order.
  // r runs through reverse_bits(j, log2 N) for j = 0, 1, 2, ...: adding
  // 1 to j is adding 1 to r from its top bit down, carrying to the right.
  std::uint32_t r = 0;
  for (std::uint32_t j = 0; j < NumSamples; ++j) {
    RealOut[j] = RealIn[r];
    ImagOut[j] = ImagIn == nullptr ? 0.0 : ImagIn[r];
    std::uint32_t bit = top_bit;
    while (bit != 0 && (r & bit) != 0) {
      r ^= bit;
      bit >>= 1;
    }
    r |= bit;
  }

  // Butterfly stages. The twiddle factors come from the recurrence
  // x[n] = 2 cos(delta) x[n-1] - x[n-2], seeded with the angles -2 delta and
  // -delta, so that four library calls per stage suffice. The recurrence
  // starts from the same seeds in every block of a stage, so every block
  // gets the same twiddle values: they are formed once per stage, a run of
  // them at a time, and applied to all the blocks. The butterflies of a
  // stage are independent of each other, so the results are exactly those
  // of running the recurrence again in each block.
  constexpr std::uint32_t twiddle_run = 256;
  double twiddle_real[twiddle_run];
  double twiddle_imag[twiddle_run];
  std::uint32_t half = 1;
  for (std::uint32_t block = 2; block <= NumSamples; block <<= 1) {
    TwiddleRecurrence twiddles(angle_numerator / static_cast<double>(block));
    for (std::uint32_t first = 0; first < half; first += twiddle_run) {
      const std::uint32_t count = std::min(twiddle_run, half - first);
      for (std::uint32_t t = 0; t < count; ++t) twiddles.next(twiddle_real[t], twiddle_imag[t]);
      for (std::uint32_t i = 0; i < NumSamples; i += block) {
        double* const real_j = RealOut + i + first;
        double* const imag_j = ImagOut + i + first;
        double* const real_k = real_j + half;
        double* const imag_k = imag_j + half;
        for (std::uint32_t t = 0; t < count; ++t) {
          const double tr = twiddle_real[t] * real_k[t] - twiddle_imag[t] * imag_k[t];
          const double ti = twiddle_real[t] * imag_k[t] + twiddle_imag[t] * real_k[t];
          real_k[t] = real_j[t] - tr;
          imag_k[t] = imag_j[t] - ti;
          real_j[t] = real_j[t] + tr;
          imag_j[t] = imag_j[t] + ti;
        }
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
