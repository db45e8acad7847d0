#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <limits>
#include <numbers>
#include <random>
#include <vector>

#include "dsp/fftmisc.h"

namespace toneprint {
namespace {

using Complex = std::complex<double>;

struct Spectrum {
  std::vector<double> real;
  std::vector<double> imag;
  Complex operator[](std::size_t k) const { return {real[k], imag[k]}; }
};

Spectrum transform(const std::vector<double>& real, const std::vector<double>* imag,
                   bool inverse = false) {
  const auto n = static_cast<std::uint32_t>(real.size());
  Spectrum out{std::vector<double>(n), std::vector<double>(n)};
  fft_double(n, inverse ? 1 : 0, real.data(), imag == nullptr ? nullptr : imag->data(),
             out.real.data(), out.imag.data());
  return out;
}

Spectrum forward(const std::vector<double>& real) { return transform(real, nullptr); }

Spectrum inverse(const Spectrum& s) { return transform(s.real, &s.imag, true); }

void expect_spectrum(const Spectrum& actual, const std::vector<Complex>& expected) {
  ASSERT_EQ(actual.real.size(), expected.size());
  for (std::size_t k = 0; k < expected.size(); ++k) {
    EXPECT_NEAR(actual.real[k], expected[k].real(), 1e-12) << "bin " << k << " (real part)";
    EXPECT_NEAR(actual.imag[k], expected[k].imag(), 1e-12) << "bin " << k << " (imaginary part)";
  }
}

// Worked by hand with the kernel e^(+2 pi i k n / N).
struct HandCase {
  const char* name;
  std::vector<double> input;
  std::vector<Complex> spectrum;
};

void PrintTo(const HandCase& c, std::ostream* out) { *out << c.name; }

class FftByHand : public ::testing::TestWithParam<HandCase> {};

TEST_P(FftByHand, ForwardGivesTheWorkedSpectrumAndInverseTheInput) {
  const HandCase& c = GetParam();
  const Spectrum s = forward(c.input);
  expect_spectrum(s, c.spectrum);
  const Spectrum back = inverse(s);
  for (std::size_t n = 0; n < c.input.size(); ++n) {
    EXPECT_NEAR(back.real[n], c.input[n], 1e-15) << "sample " << n;
    EXPECT_NEAR(back.imag[n], 0.0, 1e-15) << "sample " << n;
  }
}

const double r = std::sqrt(0.5);
INSTANTIATE_TEST_SUITE_P(
    Fft, FftByHand,
    ::testing::Values(
        HandCase{"TwoPoints", {3, 5}, {{8, 0}, {-2, 0}}},
        HandCase{"DcOfFourPoints", {1, 1, 1, 1}, {{4, 0}, {0, 0}, {0, 0}, {0, 0}}},
        HandCase{
            "SineOfFourPointsIsPurelyImaginary", {0, 1, 0, -1}, {{0, 0}, {0, 2}, {0, 0}, {0, -2}}},
        HandCase{"NyquistOfFourPoints", {1, -1, 1, -1}, {{0, 0}, {0, 0}, {4, 0}, {0, 0}}},
        HandCase{"ImpulseAtOneTurnsForwardWithPositiveExponent",
                 {0, 1, 0, 0, 0, 0, 0, 0},
                 {{1, 0}, {r, r}, {0, 1}, {-r, r}, {-1, 0}, {-r, -r}, {0, -1}, {r, -r}}}),
    [](const ::testing::TestParamInfo<HandCase>& info) { return info.param.name; });

TEST(Fft, InverseOfAnImpulseAtDcIsFlat) {
  const Spectrum s = transform({4, 0, 0, 0}, nullptr, true);
  expect_spectrum(s, {{1, 0}, {1, 0}, {1, 0}, {1, 0}});
}

TEST(Fft, NullImaginaryInputMeansZeros) {
  const std::vector<double> real = {0.5, -1.25, 3.0, 7.5, -2.0, 0.0, 1.0, 4.0};
  const std::vector<double> zeros(real.size(), 0.0);
  const Spectrum with_null = transform(real, nullptr);
  const Spectrum with_zeros = transform(real, &zeros);
  EXPECT_EQ(with_null.real, with_zeros.real);
  EXPECT_EQ(with_null.imag, with_zeros.imag);
}

// A slow DFT in long double with the same kernel, as the reference.
std::vector<std::complex<long double>> slow_dft(const std::vector<double>& re,
                                                const std::vector<double>& im,
                                                const std::vector<std::size_t>& bins) {
  const std::size_t n = re.size();
  const long double two_pi = 6.283185307179586476925286766559L;
  std::vector<std::complex<long double>> twiddle(n);
  for (std::size_t m = 0; m < n; ++m) {
    const long double angle = two_pi * static_cast<long double>(m) / static_cast<long double>(n);
    twiddle[m] = {std::cos(angle), std::sin(angle)};
  }
  std::vector<std::complex<long double>> out;
  for (const std::size_t k : bins) {
    std::complex<long double> sum = 0;
    for (std::size_t j = 0; j < n; ++j) {
      sum += std::complex<long double>(re[j], im[j]) * twiddle[(k * j) % n];
    }
    out.push_back(sum);
  }
  return out;
}

// n complex values of full-scale noise, as real and imaginary parts.
std::pair<std::vector<double>, std::vector<double>> full_scale_noise(std::uint32_t n,
                                                                     std::mt19937& random) {
  std::uniform_real_distribution<double> value(-32768.0, 32767.0);
  std::vector<double> re(n), im(n);
  for (std::uint32_t i = 0; i < n; ++i) {
    re[i] = value(random);
    im[i] = value(random);
  }
  return {re, im};
}

// The twiddle factors come from the recurrence
// x[n] = 2 cos(delta) x[n-1] - x[n-2], which multiplies each rounding error
// by up to 1 / sin(delta), about B / (2 pi) for a block of B points, over up
// to N / 2 steps: the twiddles of the last stage are off by about
// N^2 / (4 pi) machine epsilons, which outweighs the log2(N) roundings of
// the butterflies from 256 points on. Errors are measured relative to
// sqrt(N) times the input's full scale, the size of a bin of a full-scale
// signal. (Seen: 1.2e-9 at 16384 points, 4.8e-11 at 4096, 5.9e-12 at 1024.)
TEST(Fft, MatchesASlowDftFromTwoToSixteenThousandPoints) {
  std::mt19937 random(12345);
  for (std::uint32_t n = 2; n <= 16384; n *= 2) {
    const auto [re, im] = full_scale_noise(n, random);
    std::vector<std::size_t> bins;
    if (n <= 2048) {
      for (std::size_t k = 0; k < n; ++k) bins.push_back(k);
    } else {
      for (std::size_t k = 0; k < n; k += n / 128) bins.push_back(k + (k / 7) % 5);
      bins.push_back(n - 1);
      bins.push_back(n / 2);
    }
    const Spectrum fast = transform(re, &im);
    const auto reference = slow_dft(re, im, bins);

    const double scale = std::sqrt(static_cast<double>(n)) * 32768.0;
    const double size = static_cast<double>(n);
    const double epsilons = size * size / (4 * std::numbers::pi) + 16 * std::log2(size);
    const double bound = epsilons * std::numeric_limits<double>::epsilon() * scale;
    double worst = 0.0;
    for (std::size_t b = 0; b < bins.size(); ++b) {
      const std::size_t k = bins[b];
      const double error =
          std::abs(std::complex<long double>(fast.real[k], fast.imag[k]) - reference[b]);
      worst = std::max(worst, error);
    }
    EXPECT_LE(worst, bound) << "N = " << n << ": worst error " << worst << ", relative "
                            << worst / scale;
    RecordProperty("worst_relative_error_N" + std::to_string(n), std::to_string(worst / scale));
  }
}

// The transform as its recipe states it: the twiddle recurrence run again
// from its seeds in every block of every stage.
Spectrum recurrence_in_every_block(const std::vector<double>& re, const std::vector<double>& im) {
  const auto n = static_cast<std::uint32_t>(re.size());
  Spectrum out{std::vector<double>(n), std::vector<double>(n)};
  const std::uint32_t bits = NumberOfBitsNeeded(n);
  for (std::uint32_t i = 0; i < n; ++i) {
    out.real[reverse_bits(i, bits)] = re[i];
    out.imag[reverse_bits(i, bits)] = im[i];
  }
  std::uint32_t half = 1;
  for (std::uint32_t block = 2; block <= n; block <<= 1) {
    const double delta = 6.283185307179586 / static_cast<double>(block);
    const double s2 = std::sin(-2.0 * delta), s1 = std::sin(-delta);
    const double c2 = std::cos(-2.0 * delta), c1 = std::cos(-delta);
    const double w = 2.0 * c1;
    for (std::uint32_t i = 0; i < n; i += block) {
      double r2 = c2, r1 = c1, q2 = s2, q1 = s1;
      for (std::uint32_t m = 0; m < half; ++m) {
        const double r0 = w * r1 - r2;
        r2 = r1;
        r1 = r0;
        const double q0 = w * q1 - q2;
        q2 = q1;
        q1 = q0;
        const std::uint32_t j = i + m, k = j + half;
        const double tr = r0 * out.real[k] - q0 * out.imag[k];
        const double ti = r0 * out.imag[k] + q0 * out.real[k];
        out.real[k] = out.real[j] - tr;
        out.imag[k] = out.imag[j] - ti;
        out.real[j] = out.real[j] + tr;
        out.imag[j] = out.imag[j] + ti;
      }
    }
    half = block;
  }
  return out;
}

TEST(Fft, SameValuesAsTheRecurrenceRunInEveryBlock) {
  // Forming the twiddles once per stage must not change a single bit.
  std::mt19937 random(99);
  for (std::uint32_t n = 2; n <= 16384; n *= 2) {
    const auto [re, im] = full_scale_noise(n, random);
    const Spectrum fast = transform(re, &im);
    const Spectrum recipe = recurrence_in_every_block(re, im);
    EXPECT_EQ(fast.real, recipe.real) << n << " points";
    EXPECT_EQ(fast.imag, recipe.imag) << n << " points";
  }
}

TEST(Fft, WritesNothingPastTheOutputArrays) {
  constexpr double guard = -12345.678;
  const std::vector<double> input = {1, 2, 3, 4, 5, 6, 7, 8};
  for (const int direction : {0, 1}) {
    std::vector<double> real(input.size() + 4, guard);
    std::vector<double> imag(input.size() + 4, guard);
    fft_double(8, direction, input.data(), input.data(), real.data(), imag.data());
    for (std::size_t i = input.size(); i < real.size(); ++i) {
      EXPECT_EQ(real[i], guard) << "real guard " << i << ", direction " << direction;
      EXPECT_EQ(imag[i], guard) << "imaginary guard " << i << ", direction " << direction;
    }
  }
}

TEST(FftMisc, Helpers) {
  EXPECT_FALSE(is_power_of_two(0));
  EXPECT_FALSE(is_power_of_two(1));
  EXPECT_TRUE(is_power_of_two(2));
  EXPECT_FALSE(is_power_of_two(12));
  EXPECT_TRUE(is_power_of_two(0x80000000u));
  EXPECT_EQ(NumberOfBitsNeeded(16384), 14u);
  EXPECT_EQ(NumberOfBitsNeeded(4096), 12u);
  EXPECT_EQ(reverse_bits(1, 3), 4u);
  EXPECT_EQ(reverse_bits(6, 3), 3u);
  EXPECT_EQ(index_to_frequency(8, 4), 0.5);
  EXPECT_EQ(index_to_frequency(8, 5), -0.375);
  EXPECT_EQ(index_to_frequency(8, 8), 0.0);
  EXPECT_EQ(index_to_frequency(8, 1), 0.125);
}

using FftDeathTest = ::testing::Test;

TEST_F(FftDeathTest, LengthsThatAreNotPowersOfTwoEndTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  double buffer[16] = {};
  for (const std::uint32_t n : {0u, 1u, 3u, 6u, 12u}) {
    // Null outputs too: the length is refused before any array is checked.
    EXPECT_EXIT(
        fft_double(n, 0, buffer, nullptr, nullptr, nullptr), ::testing::ExitedWithCode(1),
        "^Error in fft\\(\\):  NumSamples=" + std::to_string(n) + " is not power of two\n$");
  }
}

TEST_F(FftDeathTest, MissingArraysAreNamedInOrder) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  double buffer[4] = {};
  EXPECT_EXIT(fft_double(4, 0, nullptr, nullptr, nullptr, buffer), ::testing::ExitedWithCode(1),
              "^Error in fft_double\\(\\):  RealIn == NULL\n$");
  EXPECT_EXIT(fft_double(4, 0, buffer, nullptr, nullptr, buffer), ::testing::ExitedWithCode(1),
              "^Error in fft_double\\(\\):  RealOut == NULL\n$");
  EXPECT_EXIT(fft_double(4, 0, buffer, nullptr, buffer, nullptr), ::testing::ExitedWithCode(1),
              "^Error in fft_double\\(\\):  ImagOut == NULL\n$");
  EXPECT_EXIT(NumberOfBitsNeeded(1), ::testing::ExitedWithCode(1),
              "^>>> Error in fftmisc: argument 1 to NumberOfBitsNeeded is too small.\n$");
}

}  // namespace
}  // namespace toneprint
