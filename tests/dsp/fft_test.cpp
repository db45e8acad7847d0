#include <complex>

#include "dsp/fft_plan.h"
#include "dsp/fftmisc.h"
#include "support/test_support.h"

using namespace toneprint;

using Values = std::vector<double>;

// n values of full-scale noise.
static Values noise(std::uint32_t n) {
  static std::mt19937 random(12345);
  std::uniform_real_distribution<double> value(-32768.0, 32767.0);
  Values values(n);
  for (double& v : values) v = value(random);
  return values;
}

// The transform of re + i im, into outputs with guard values past their
// ends that it must leave alone.
static std::pair<Values, Values> transform(const Values& re, const Values& im, int inverse = 0) {
  const auto n = static_cast<std::uint32_t>(re.size());
  Values real(n + 2, -1.5), imag(n + 2, -1.5);
  fft_double(n, inverse, re.data(), im.data(), real.data(), imag.data());
  EXPECT_TRUE(real[n] + real[n + 1] + imag[n] + imag[n + 1] == -6.0) << "written past, " << n;
  return {{real.begin(), real.end() - 2}, {imag.begin(), imag.end() - 2}};
}

// Against a slow DFT in long double, forward and inverse (the inverse has
// the negative exponent and divides by N). The twiddles come from the
// recurrence x[n] = 2 cos(d) x[n-1] - x[n-2], whose rounding errors grow to
// about N^2 / (4 pi) machine epsilons in the last stage; the bound adds
// 16 log2(N) for the butterflies. Errors are relative to sqrt(N) times full
// scale, the size of a full-scale signal's bin. And against the method as
// it is stated, with the recurrence run again from its seeds in every block
// of every stage: the twiddles formed once per stage change not one bit.
TEST(Fft, MatchesASlowDftAndTheRecurrenceInEveryBlockFromTwoToSixteenThousandPoints) {
  for (std::uint32_t n = 2; n <= 16384; n *= 2) {
    const Values re = noise(n), im = noise(n);
    const double size = n;
    const double bound = (size * size / (4 * std::numbers::pi) + 16 * std::log2(size)) *
                         std::numeric_limits<double>::epsilon() * std::sqrt(size) * 32768.0;
    for (const int inverse : {0, 1}) {
      const auto [real, imag] = transform(re, im, inverse);
      for (std::uint32_t k = 0; k < n; k += n <= 2048 ? 1 : n / 128 + (k / 7) % 5) {
        std::complex<long double> sum = 0;
        for (std::uint32_t j = 0; j < n; ++j) {
          const long double angle = (inverse ? -2 : 2) * std::numbers::pi_v<long double> *
                                    static_cast<long double>((std::uint64_t{k} * j) % n) / n;
          sum += std::complex<long double>(re[j], im[j]) * std::polar(1.0L, angle);
        }
        const std::complex<long double> expected =
            inverse ? sum / static_cast<long double>(n) : sum;
        EXPECT_LE(std::abs(std::complex<long double>(real[k], imag[k]) - expected),
                  inverse ? bound / size : bound)
            << n << " points, bin " << k << (inverse ? ", inverse" : "");
      }
    }
    Values real(n), imag(n);
    for (std::uint32_t i = 0; i < n; ++i) {
      real[reverse_bits(i, NumberOfBitsNeeded(n))] = re[i];
      imag[reverse_bits(i, NumberOfBitsNeeded(n))] = im[i];
    }
    for (std::uint32_t block = 2, half = 1; block <= n; half = block, block <<= 1) {
      const double delta = 6.283185307179586 / block, w = 2.0 * std::cos(-delta);
      for (std::uint32_t i = 0; i < n; i += block) {
        double r2 = std::cos(-2.0 * delta), r1 = std::cos(-delta);
        double q2 = std::sin(-2.0 * delta), q1 = std::sin(-delta);
        for (std::uint32_t j = i, k = i + half; j < i + half; ++j, ++k) {
          const double r0 = w * r1 - r2, q0 = w * q1 - q2;
          r2 = r1, r1 = r0, q2 = q1, q1 = q0;
          const double tr = r0 * real[k] - q0 * imag[k], ti = r0 * imag[k] + q0 * real[k];
          real[k] = real[j] - tr, imag[k] = imag[j] - ti;
          real[j] = real[j] + tr, imag[j] = imag[j] + ti;
        }
      }
    }
    EXPECT_EQ(transform(re, im), std::make_pair(real, imag))
        << n << " points, the method as stated";
  }
}

TEST(FftDeathTest, MisuseEndsTheProcessWithAMessage) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  double b[16] = {};
  const auto exits = ::testing::ExitedWithCode(1);
  // The length is refused before any array is looked at.
  EXPECT_EXIT(fft_double(1, 0, b, b, nullptr, b), exits,
              "^Error in fft\\(\\):  NumSamples=1 is not power of two\n$");
  EXPECT_EXIT(fft_double(12, 0, b, b, b, b), exits,
              "^Error in fft\\(\\):  NumSamples=12 is not power of two\n$");
  EXPECT_EXIT(fft_double(4, 0, nullptr, b, b, b), exits,
              "^Error in fft_double\\(\\):  RealIn == NULL\n$");
  EXPECT_EXIT(fft_double(4, 0, b, b, nullptr, b), exits,
              "^Error in fft_double\\(\\):  RealOut == NULL\n$");
  EXPECT_EXIT(fft_double(4, 0, b, b, b, nullptr), exits,
              "^Error in fft_double\\(\\):  ImagOut == NULL\n$");
  EXPECT_EQ(NumberOfBitsNeeded(3), 0u) << "the lowest set bit";
  EXPECT_EXIT(NumberOfBitsNeeded(1), exits,
              "^>>> Error in fftmisc: argument 1 to NumberOfBitsNeeded is too small.\n$");
}

// The planned FFT is fft_double's forward transform to the last bit, from
// an input in natural order (a null imaginary part standing for zeros), put
// in its bit-reversed order in place, or (a real one) given value by value.
TEST(FftPlan, GivesTheRecipesTransformToTheLastBitFromTwoToSixteenThousandPoints) {
  for (std::uint32_t n = 2; n <= 16384; n *= 2) {
    const FftPlan plan(n);
    ASSERT_EQ(plan.size(), n);
    const Values re = noise(n), im = noise(n);
    for (const bool real_input : {false, true}) {
      const double* imag_in = real_input ? nullptr : im.data();
      Values expected_real(n), expected_imag(n), real(n), imag(n);
      fft_double(n, 0, re.data(), imag_in, expected_real.data(), expected_imag.data());
      plan.forward(re.data(), imag_in, real.data(), imag.data());
      EXPECT_EQ(real, expected_real) << n << (real_input ? ", real input" : "");
      EXPECT_EQ(imag, expected_imag) << n << (real_input ? ", real input" : "");
      Values real_in_place(n), imag_in_place(n, 0.0);
      for (std::uint32_t i = 0; i < n; ++i) {
        EXPECT_EQ(plan.reversed(i), reverse_bits(i, NumberOfBitsNeeded(n)));
        real_in_place[plan.reversed(i)] = re[i];
        if (!real_input) imag_in_place[plan.reversed(i)] = im[i];
      }
      plan.forward_reordered(real_in_place.data(), imag_in_place.data());
      EXPECT_EQ(real_in_place, expected_real) << n << ", in place";
      EXPECT_EQ(imag_in_place, expected_imag) << n << ", in place";
      if (real_input) {
        Values real_of_values(n, -1.5), imag_of_values(n, -1.5);
        plan.forward_real([&re](std::uint32_t i) { return re[i]; }, real_of_values.data(),
                          imag_of_values.data());
        EXPECT_EQ(real_of_values, expected_real) << n << ", of real values";
        EXPECT_EQ(imag_of_values, expected_imag) << n << ", of real values";
      }
    }
  }
  for (const std::uint32_t size : {0u, 1u, 3u, 12u, 4097u}) {
    EXPECT_EQ(FftPlan(size).size(), 0u) << size << " points make no plan";
  }
}
