#pragma once

// The radix-2 complex FFT and its small helpers.
//
// fft_double transforms a sequence held in separate real and imaginary
// arrays of doubles. Sign convention: the forward kernel has a POSITIVE
// exponent,
//     X[k] = sum_n x[n] * e^(+2*pi*i*k*n/N),
// with no scaling; the inverse uses e^(-2*pi*i*k*n/N) and divides by N, so a
// forward transform followed by an inverse one gives the input back. A
// component cos(w*n + theta) therefore shows the angle -theta at its bin.
//
// Nothing is allocated and no state is kept: calls on disjoint arrays may
// run at the same time. Misuse (a length that is not a power of two of at
// least 2, a missing array) is fatal: a message on the standard error stream
// and exit status 1.

#include <cstdint>

namespace toneprint {

// Transforms NumSamples values (a power of two, at least 2). RealIn is
// required; a null ImagIn stands for an all-zero imaginary input. RealOut
// and ImagOut receive the result, owned by the caller, and must not overlap
// the inputs. A nonzero Inverse selects the inverse transform.
void fft_double(std::uint32_t NumSamples, int Inverse, const double* RealIn, const double* ImagIn,
                double* RealOut, double* ImagOut);

// fft_double's twiddle factors for one stage, in order: e^(-i delta t) for
// t = 1, 2, ..., each formed by the recurrence x[n] = 2 cos(delta) x[n-1] -
// x[n-2] from the angles -2 delta and -delta (delta = 2 pi / block, or
// -2 pi / block for the inverse). Another transform that forms its twiddles
// with it gets fft_double's values to the last bit.
class TwiddleRecurrence {
 public:
  explicit TwiddleRecurrence(double delta);
  // The next factor's real and imaginary parts.
  void next(double& real, double& imag) {
    real = w_ * r1_ - r2_;
    r2_ = r1_;
    r1_ = real;
    imag = w_ * q1_ - q2_;
    q2_ = q1_;
    q1_ = imag;
  }

 private:
  double w_;
  double r2_, r1_;  // the last two real parts
  double q2_, q1_;  // the last two imaginary parts
};

// True when n is 2, 4, 8, ...: at least 2 and a single bit set.
bool is_power_of_two(std::uint32_t n);

// Position of the lowest set bit (the base-2 logarithm of a power of two).
// Fatal below 2.
std::uint32_t NumberOfBitsNeeded(std::uint32_t PowerOfTwo);

// The lowest `bit_count` bits of `index` in reverse order.
std::uint32_t reverse_bits(std::uint32_t index, std::uint32_t bit_count);

// The frequency of a transform bin as a fraction of the sample rate, in
// (-0.5, 0.5]: index / N up to N/2, -(N - index) / N above, 0.0 for an index
// outside the transform.
double index_to_frequency(std::uint32_t NumSamples, std::uint32_t index);

// Fatal when `array` is null; `name` says which array it was.
void require_pointer(const void* array, const char* name);

}  // namespace toneprint
