#pragma once

// The harmonic kernels' loop, compiled by each kernel's file with its own
// instruction set; `form_anchors` forms a batch of anchors the way that
// instruction set does best.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>

#include "analysis/harmonic_kernels.h"

namespace toneprint::detail {

// harmonic_lanes values, one per lane, as the compiler's vector type (GCC's
// and Clang's vector extension): as wide an instruction as the file's
// instruction set has, or several.
// (Values of it are only ever local to the loop: passed or returned, a
// type wider than a file's instruction set would change how it is passed.)
using LaneValues = double __attribute__((vector_size(harmonic_lanes * sizeof(double))));

// The steps e^(i j angle), j = 16a + b, from e^(i 16a angle) (coarse) and
// e^(i b angle) (fine), a, b < phasor_step_width. `InstructionSet` is a tag
// of the file that compiles it, so that each file's build stays its own.
template <typename InstructionSet>
void combine_steps(const double* coarse_cosine, const double* coarse_sine,
                   const double* fine_cosine, const double* fine_sine, PhasorSteps& steps) {
  constexpr int width = phasor_step_width;
  for (int a = 0; a < width; ++a) {
    for (int b = 0; b < width; ++b) {
      steps.cosine[width * a + b] = coarse_cosine[a] * fine_cosine[b] - coarse_sine[a] * fine_sine[b];
      steps.sine[width * a + b] = coarse_sine[a] * fine_cosine[b] + coarse_cosine[a] * fine_sine[b];
    }
  }
}

// The anchors of anchor_batch consecutive blocks at most.
inline constexpr int anchor_batch = 16;
struct Anchors {
  alignas(64) double tone_cosine[anchor_batch];
  alignas(64) double tone_sine[anchor_batch];
  alignas(64) double window_cosine[anchor_batch];
  alignas(64) double window_sine[anchor_batch];
};

// Each kernel's file gives a `sincos(angles, sines, cosines)` that forms
// Width values at once (with SLEEF's vector functions, or the C library's
// one by one); the tables and the anchors are formed through it.

// The steps of omega and delta: for each, the coarse angles 16i × angle and
// the fine ones i × angle, then their products.
template <int Width, typename SinCos>
void prepare_phasors_with(double omega, double delta, HarmonicPhasors& phasors,
                          const SinCos& sincos) {
  static_assert(phasor_step_width % Width == 0);
  constexpr int width = phasor_step_width;
  phasors.omega = omega;
  phasors.delta = delta;
  for (const auto& [angle, steps] : {std::pair{omega, &phasors.tone}, {delta, &phasors.window}}) {
    double coarse_angle[width];
    double fine_angle[width];
    for (int i = 0; i < width; ++i) {
      coarse_angle[i] = static_cast<double>(width * i) * angle;
      fine_angle[i] = static_cast<double>(i) * angle;
    }
    double coarse_cosine[width];
    double coarse_sine[width];
    double fine_cosine[width];
    double fine_sine[width];
    for (int i = 0; i < width; i += Width) {
      sincos(coarse_angle + i, coarse_sine + i, coarse_cosine + i);
      sincos(fine_angle + i, fine_sine + i, fine_cosine + i);
    }
    combine_steps<SinCos>(coarse_cosine, coarse_sine, fine_cosine, fine_sine, *steps);
  }
}

// The anchors' former for add_terms_by_phasors: whole groups of Width (the
// entries past the batch are formed and not used).
template <int Width, typename SinCos>
auto anchors_through(const SinCos& sincos) {
  static_assert(anchor_batch % Width == 0);
  return [&sincos](std::int64_t block, int batch, const HarmonicPhasors& p, Anchors& a) {
    double tone_angle[anchor_batch];
    double window_angle[anchor_batch];
    const int count = (batch + Width - 1) / Width * Width;
    for (int b = 0; b < count; ++b) {
      const auto n0 = static_cast<double>((block + b) * phasor_block);
      tone_angle[b] = n0 * p.omega;
      window_angle[b] = n0 * p.delta;
    }
    for (int b = 0; b < count; b += Width) {
      sincos(tone_angle + b, a.tone_sine + b, a.tone_cosine + b);
      sincos(window_angle + b, a.window_sine + b, a.window_cosine + b);
    }
  };
}

// form_anchors(block, count, phasors, anchors) sets anchors[b] to the
// cosines and sines of n0 omega and n0 delta for n0 = (block + b) ×
// phasor_block, b < count.
template <typename FormAnchors>
inline void add_terms_by_phasors(const double* x, std::int64_t first, std::int64_t count,
                                 const HarmonicPhasors& p, double* sine_lanes,
                                 double* cosine_lanes, FormAnchors form_anchors) {
  if (count <= 0 || first < 0) return;
  double sines[harmonic_lanes];
  double cosines[harmonic_lanes];
  std::copy(sine_lanes, sine_lanes + harmonic_lanes, sines);
  std::copy(cosine_lanes, cosine_lanes + harmonic_lanes, cosines);
  const std::int64_t end = first + count;
  const std::int64_t last_block = (end - 1) / phasor_block;
  Anchors a;
  for (std::int64_t block = first / phasor_block; block <= last_block;) {
    const int batch = static_cast<int>(std::min<std::int64_t>(anchor_batch, last_block - block + 1));
    form_anchors(block, batch, p, a);
    for (int b = 0; b < batch; ++b, ++block) {
      const std::int64_t n0 = block * phasor_block;
      const double wc = a.window_cosine[b];
      const double ws = a.window_sine[b];
      // Sample n0 + j is x[offset + j].
      const std::int64_t offset = n0 - first;
      // The block's terms are summed against the steps e^(i j omega)
      // alone; the anchor turns the sums once, at the block's end.
      double block_cosines[harmonic_lanes] = {};
      double block_sines[harmonic_lanes] = {};
      const auto term = [&](std::int64_t j, int lane) {
        const double h = (1.0 - (wc * p.window.cosine[j] - ws * p.window.sine[j])) * 0.5;
        const double xh = x[offset + j] * h;
        block_cosines[lane] += xh * p.tone.cosine[j];
        block_sines[lane] += xh * p.tone.sine[j];
      };
      std::int64_t j = std::max(first, n0) - n0;
      const std::int64_t stop = std::min(end, n0 + phasor_block) - n0;
      for (; j < stop && j % harmonic_lanes != 0; ++j) term(j, static_cast<int>(j % harmonic_lanes));
      LaneValues lane_cosines = {};
      LaneValues lane_sines = {};
      for (; j + harmonic_lanes <= stop; j += harmonic_lanes) {
        LaneValues window_cosine;
        LaneValues window_sine;
        LaneValues tone_cosine;
        LaneValues tone_sine;
        LaneValues samples;
        std::memcpy(&window_cosine, p.window.cosine + j, sizeof(LaneValues));
        std::memcpy(&window_sine, p.window.sine + j, sizeof(LaneValues));
        std::memcpy(&tone_cosine, p.tone.cosine + j, sizeof(LaneValues));
        std::memcpy(&tone_sine, p.tone.sine + j, sizeof(LaneValues));
        std::memcpy(&samples, x + offset + j, sizeof(LaneValues));
        const LaneValues xh = samples * ((1.0 - (wc * window_cosine - ws * window_sine)) * 0.5);
        lane_cosines += xh * tone_cosine;
        lane_sines += xh * tone_sine;
      }
      for (int lane = 0; lane < harmonic_lanes; ++lane) {
        block_cosines[lane] += lane_cosines[lane];
        block_sines[lane] += lane_sines[lane];
      }
      for (; j < stop; ++j) term(j, static_cast<int>(j % harmonic_lanes));
      const double tc = a.tone_cosine[b];
      const double ts = a.tone_sine[b];
      for (int lane = 0; lane < harmonic_lanes; ++lane) {
        cosines[lane] += tc * block_cosines[lane] - ts * block_sines[lane];
        sines[lane] += ts * block_cosines[lane] + tc * block_sines[lane];
      }
    }
  }
  std::copy(sines, sines + harmonic_lanes, sine_lanes);
  std::copy(cosines, cosines + harmonic_lanes, cosine_lanes);
}

}  // namespace toneprint::detail
