#include "dsp/fft_plan.h"

#include "dsp/fft_stages.h"
#include "dsp/fftmisc.h"

namespace toneprint {
namespace {

constexpr double two_pi = 6.283185307179586;

struct Baseline {};

using Stages = void (*)(std::uint32_t, std::uint32_t, const double*, const double*, double*,
                        double*);

// The widest build of the stages this processor runs; all give the same
// results, as none fuses a multiply and an add.
Stages fastest_stages() {
#if defined(TONEPRINT_FFT_AVX2)
  if (__builtin_cpu_supports("avx2")) return detail::fft_stages_avx2;
#endif
  return detail::fft_stages<Baseline>;
}

}  // namespace

FftPlan::FftPlan(std::uint32_t size) {
  if (!is_power_of_two(size)) return;
  size_ = size;
  const std::uint32_t bits = NumberOfBitsNeeded(size);
  tile_shift_ = bits >= 3 ? bits - 3 : 0;
  reversed_.resize(size);
  for (std::uint32_t i = 0; i < size; ++i) reversed_[i] = reverse_bits(i, bits);
  // fft_double's twiddles, the same in every block of a stage.
  for (std::uint32_t block = 2; block <= size; block <<= 1) {
    TwiddleRecurrence twiddles(two_pi / static_cast<double>(block));
    for (std::uint32_t t = 0; t < block / 2; ++t) {
      double real = 0.0;
      double imag = 0.0;
      twiddles.next(real, imag);
      twiddle_real_.push_back(real);
      twiddle_imag_.push_back(imag);
    }
  }
}

void FftPlan::forward(const double* real_in, const double* imag_in, double* real_out,
                      double* imag_out) const {
  write_reordered([real_in](std::uint32_t i) { return real_in[i]; }, real_out);
  write_reordered([imag_in](std::uint32_t i) { return imag_in == nullptr ? 0.0 : imag_in[i]; },
                  imag_out);
  forward_reordered(real_out, imag_out);
}

void FftPlan::forward_reordered(double* re, double* im) const { stages_from(2, re, im); }

void FftPlan::stages_from(std::uint32_t first_block, double* re, double* im) const {
  static const Stages stages = fastest_stages();
  if (size_ < first_block) return;
  // The stages of blocks of 2, 4, ... first_block / 2 have first_block / 2 - 1
  // twiddles.
  const std::uint32_t skipped = first_block / 2 - 1;
  stages(size_, first_block, twiddle_real_.data() + skipped, twiddle_imag_.data() + skipped, re,
         im);
}

}  // namespace toneprint
