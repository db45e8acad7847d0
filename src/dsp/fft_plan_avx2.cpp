// FftPlan's stages with AVX2: four values per instruction. Only called
// where the processor has AVX2.

#include "dsp/fft_stages.h"

namespace toneprint::detail {

struct Avx2 {};

void fft_stages_avx2(std::uint32_t n, std::uint32_t first_block, const double* twiddle_real,
                     const double* twiddle_imag, double* re, double* im) {
  fft_stages<Avx2>(n, first_block, twiddle_real, twiddle_imag, re, im);
}

}  // namespace toneprint::detail
