#pragma once

// fft_double's forward transform, planned once for a size and run many
// times: the same operations on the same values, so the same results to the
// last bit, in less time. The twiddles of each stage come from fft_double's
// recurrence, run once when the plan is made instead of once per transform;
// two stages at a time go over the values in one pass; and the bit-reversed
// order is kept as indices, so that a caller can write its input straight
// into it.
//
// One plan serves any number of transforms, from one thread at a time.

#include <cstdint>
#include <vector>

#include "dsp/fft_stages.h"

namespace toneprint {

class FftPlan {
 public:
  // A plan of `size` points, a power of two of at least 2 (see
  // is_power_of_two); any other size gives an empty plan, whose size() is 0
  // and which transforms nothing.
  explicit FftPlan(std::uint32_t size);

  std::uint32_t size() const { return size_; }

  // fft_double(size(), 0, real_in, imag_in, real_out, imag_out): a null
  // imag_in stands for zeros; the outputs, of size() values each, must not
  // overlap the inputs.
  void forward(const double* real_in, const double* imag_in, double* real_out,
               double* imag_out) const;

  // The same transform in place, of an input that the caller has put in
  // bit-reversed order: value n at position reversed(n).
  void forward_reordered(double* real, double* imag) const;

  // The position of value n in bit-reversed order (n < size()).
  std::uint32_t reversed(std::uint32_t n) const { return reversed_[n]; }

  // out[reversed(n)] = value(n) for every n < size(): an input put in the
  // order forward_reordered takes, in tiles of 8 × 8 values whose reads
  // and writes each touch 8 runs of 8, which keeps them in the cache.
  template <typename Value>
  void write_reordered(const Value& value, double* out) const {
    const std::uint32_t n = size_;
    if (n < 64) {
      for (std::uint32_t i = 0; i < n; ++i) out[reversed_[i]] = value(i);
      return;
    }
    // n = 2^bits: an index is hi (3 bits), middle (bits - 6), lo (3 bits);
    // reversed, lo's reverse comes first, middle's in the middle and hi's
    // last, and the table gives each part's.
    std::uint32_t lo_part[8];
    std::uint32_t hi_part[8];
    for (std::uint32_t k = 0; k < 8; ++k) {
      lo_part[k] = reversed_[k];
      hi_part[k] = reversed_[k << tile_shift_];
    }
    for (std::uint32_t base = 0; base < n >> 3; base += 8) {
      const std::uint32_t reversed_base = reversed_[base];
      for (std::uint32_t lo = 0; lo < 8; ++lo) {
        for (std::uint32_t hi = 0; hi < 8; ++hi) {
          out[reversed_base + lo_part[lo] + hi_part[hi]] = value(hi << tile_shift_ | base | lo);
        }
      }
    }
  }

  // forward_reordered of the real values value(n), written into order by
  // write_reordered, with imaginary parts of zero: the first two stages are
  // done as the values are written, on the same values with the same
  // operations, so the result is the same to the last bit.
  template <typename Value>
  void forward_real(const Value& value, double* re, double* im) const {
    const std::uint32_t n = size_;
    if (n < 64) {
      write_reordered(value, re);
      for (std::uint32_t i = 0; i < n; ++i) im[i] = 0.0;
      forward_reordered(re, im);
      return;
    }
    // Output slot s of a tile's run of eight holds the value whose hi part
    // is reverse(s); zero stands for every imaginary part.
    constexpr std::uint32_t hi_of_slot[8] = {0, 4, 2, 6, 1, 5, 3, 7};
    const double zero = 0.0;
    for (std::uint32_t base = 0; base < n >> 3; base += 8) {
      const std::uint32_t reversed_base = reversed_[base];
      for (std::uint32_t lo = 0; lo < 8; ++lo) {
        const std::uint32_t at = reversed_base + reversed_[lo];
        double x[8];
        for (std::uint32_t slot = 0; slot < 8; ++slot) {
          x[slot] = value(hi_of_slot[slot] << tile_shift_ | base | lo);
        }
        for (std::uint32_t quad = 0; quad < 8; quad += 4) {
          detail::fft_first_two_stages<FftPlan>(
              twiddle_real_.data(), twiddle_imag_.data(), x[quad], zero, x[quad + 1], zero,
              x[quad + 2], zero, x[quad + 3], zero, re + at + quad, im + at + quad);
        }
      }
    }
    stages_from(8, re, im);
  }

 private:
  // The stages from that of blocks of first_block points on.
  void stages_from(std::uint32_t first_block, double* re, double* im) const;

  std::uint32_t size_ = 0;
  std::uint32_t tile_shift_ = 0;  // log2(size) - 3
  std::vector<std::uint32_t> reversed_;  // bit-reversed index of each value
  // For the stages of blocks of 2, 4, ... size() points in turn, each
  // stage's block / 2 twiddles.
  std::vector<double> twiddle_real_;
  std::vector<double> twiddle_imag_;
};

}  // namespace toneprint
