#include "analysis/vote_check.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "analysis/fundamental_search.h"
#include "analysis/pitch_detection.h"
#include "analysis/robust_settings.h"
#include "dsp/fftmisc.h"

namespace toneprint {
namespace {

// The level below the strongest peak under which a bin has no energy.
constexpr double no_energy_db = 50.0;
// The normalised difference under which the period estimate takes a dip.
constexpr double period_threshold = 0.15;
// How far a measured fundamental may lie from a multiple of the expected
// pitch for the octave guard to look at it, in cents: a semitone.
constexpr double octave_guard_cents = 100.0;
// How far below the shared harmonics' energy the lower pitch's own ones may
// lie and still show it, in dB.
constexpr double own_partials_db = 30.0;

double cents_between(double a, double b) { return 1200.0 * std::log2(a / b); }

// Whether `higher` lies within agreement_cents of 2, 4, 8 ... times `lower`.
bool is_octave_above(double higher, double lower) {
  const double octaves = std::log2(higher / lower);
  const double whole = std::round(octaves);
  return whole >= 1.0 && std::fabs(octaves - whole) * 1200.0 <= agreement_cents;
}

}  // namespace

double period_frequency(std::span<const double> samples, std::uint32_t sample_rate,
                        double threshold, std::size_t max_lag) {
  // A window of 25 ms (at most a third of the samples), compared with
  // itself at every lag up to twice its length (or max_lag): periods down
  // to 50 ms, 20 Hz.
  const std::size_t window =
      std::min<std::size_t>(samples.size() / 3, static_cast<std::size_t>(sample_rate) / 40);
  const std::size_t lags = max_lag >= 2 * window ? 2 * window : max_lag + 2;
  if (window < 4 || lags < 4 || sample_rate == 0) return 0.0;
  double running = 0.0;
  double previous = 1.0;  // the normalised difference at lag - 1
  double before = 1.0;    // and at lag - 2
  bool dipping = false;
  for (std::size_t lag = 1; lag < lags; ++lag) {
    // Four sums at once, which the processor can run side by side.
    double sums[4] = {0.0, 0.0, 0.0, 0.0};
    std::size_t j = 0;
    for (; j + 4 <= window; j += 4) {
      for (std::size_t k = 0; k < 4; ++k) {
        const double step = samples[j + k] - samples[j + k + lag];
        sums[k] += step * step;
      }
    }
    for (; j < window; ++j) {
      const double step = samples[j] - samples[j + lag];
      sums[0] += step * step;
    }
    const double d = (sums[0] + sums[1]) + (sums[2] + sums[3]);
    running += d;
    const double normalised = running > 0.0 ? d * static_cast<double>(lag) / running : 1.0;
    // The first dip below the threshold ends where the function turns up.
    if (dipping && normalised >= previous) {
      const double curve = before - 2.0 * previous + normalised;
      const double shift = curve > 0.0 ? 0.5 * (before - normalised) / curve : 0.0;
      return static_cast<double>(sample_rate) / (static_cast<double>(lag - 1) + shift);
    }
    if (lag >= 2 && normalised < threshold) dipping = true;
    before = previous;
    previous = normalised;
  }
  return 0.0;
}

std::optional<OctaveCheck> guard_octave(std::span<const double> frame,
                                        std::span<const double> magnitudes,
                                        std::uint32_t fft_size, std::uint32_t sample_rate,
                                        double measured, double expected) {
  if (!(measured > 0.0) || !(expected > 0.0) || sample_rate == 0 || fft_size < 4 ||
      magnitudes.size() != fft_size / 2) {
    return std::nullopt;
  }
  // The multiple q relating them, and whether the expected pitch is the
  // higher one.
  const double octaves = std::log2(expected / measured);
  int q = 0;
  for (const int multiple : {2, 3, 4}) {
    const double apart = std::fabs(std::fabs(octaves) - std::log2(multiple)) * 1200.0;
    if (apart <= octave_guard_cents) q = multiple;
  }
  if (q == 0) return std::nullopt;
  const bool up = octaves > 0.0;
  const double taken = up ? measured * q : measured / q;
  OctaveCheck check{measured, expected, measured, false, OctaveEvidence::none};

  // The comb of the lower pitch: its first harmonics up to 8 of the higher
  // one's, each the strongest bin within one of where it falls. Every q-th
  // belongs to the higher pitch too ("shared"); the rest only to the lower.
  const double bin_width = static_cast<double>(sample_rate) / fft_size;
  const double lower = up ? measured : taken;
  const std::size_t half = magnitudes.size();
  double shared = 0.0;
  double own = 0.0;
  bool resolved = lower >= 3.0 * bin_width;
  for (int m = 1; resolved && m <= 8 * q; ++m) {
    const auto centre = static_cast<std::size_t>(std::lround(m * lower / bin_width));
    if (centre + 1 >= half) break;
    const double peak =
        std::max({magnitudes[centre - 1], magnitudes[centre], magnitudes[centre + 1]});
    (m % q == 0 ? shared : own) += peak * peak;
  }
  const double strongest = *std::max_element(magnitudes.begin() + 1, magnitudes.end());
  bool spectrum = false;
  if (resolved && strongest > 0.0) {
    if (up) {
      const auto bin = static_cast<std::size_t>(std::lround(taken / bin_width));
      const double at_taken =
          bin + 1 < half ? std::max({magnitudes[bin - 1], magnitudes[bin], magnitudes[bin + 1]})
                         : 0.0;
      spectrum = shared >= own && at_taken >= strongest * std::pow(10.0, -no_energy_db / 20.0);
    } else {
      spectrum = own >= shared * std::pow(10.0, -own_partials_db / 10.0);
    }
  }
  const double period = period_frequency(frame, sample_rate, period_threshold);
  const bool repeats = period > 0.0 && std::fabs(cents_between(period, taken)) <= agreement_cents;
  if (spectrum || repeats) {
    check.taken = true;
    check.evidence = spectrum && repeats ? OctaveEvidence::spectrum_and_period
                     : spectrum          ? OctaveEvidence::spectrum
                                         : OctaveEvidence::period;
    check.frequency = taken;
  } else if (!resolved) {
    check.evidence = OctaveEvidence::unresolved;
  }
  return check;
}

void VoteChecker::transform(std::span<const double> block, std::uint32_t from,
                            std::uint32_t fft_size) {
  const std::size_t f = from == 0 ? 0 : 1;
  frame_.resize(fft_size);
  real_[f].resize(fft_size);
  imaginary_[f].resize(fft_size);
  apply_hann_window(block.data() + from, frame_.data(), fft_size);
  fft_double(fft_size, 0, frame_.data(), nullptr, real_[f].data(), imaginary_[f].data());
}

double VoteChecker::refined(std::uint32_t bin, std::uint32_t fft_hop, std::uint32_t fft_size,
                            std::uint32_t sample_rate) const {
  const double first = -phase_angle(imaginary_[0][bin], real_[0][bin]);
  const double second = -phase_angle(imaginary_[1][bin], real_[1][bin]);
  return phase_difference_frequency(bin, first, second, fft_hop, fft_size, sample_rate);
}

CheckedVote VoteChecker::check(std::span<const double> block, std::span<const double> magnitudes,
                               std::uint32_t fft_size, std::uint32_t fft_hop,
                               std::uint32_t sample_rate, std::uint32_t peak_threshold,
                               std::uint32_t peak_count, double voted) {
  const std::uint32_t half = fft_size / 2;
  if (magnitudes.size() != half || block.size() < std::size_t{fft_size} + fft_hop) {
    return {0.0, VoteOutcome::rejected};
  }
  const double strongest = *std::max_element(magnitudes.begin() + 1, magnitudes.end());
  const double energy_floor = strongest * std::pow(10.0, -no_energy_db / 20.0);
  const auto has_energy = [&](std::uint32_t bin) {
    return bin >= 1 && bin < half && magnitudes[bin] >= energy_floor;
  };

  const BinSearchResult vote =
      find_fundamental(magnitudes, static_cast<double>(peak_threshold), peak_count);
  // Only a period shorter than the vote's can disagree with it: the
  // estimate need not look at longer ones unless the vote falls.
  const double vote_lag = static_cast<double>(sample_rate) / voted;
  const auto shorter_lags = static_cast<std::size_t>(std::max(0.0, std::ceil(vote_lag)));
  const std::span<const double> pitch_frame = block.first(fft_size);
  double period = period_frequency(pitch_frame, sample_rate, period_threshold, shorter_lags);
  const bool period_disagrees = period > 0.0 && cents_between(period, voted) > agreement_cents &&
                                !is_octave_above(period, voted);
  const bool vote_has_energy = vote.found && has_energy(vote.bin);
  if (vote_has_energy && !period_disagrees) return {voted, VoteOutcome::kept};
  if (period == 0.0) period = period_frequency(pitch_frame, sample_rate, period_threshold);
  transform(block, 0, fft_size);
  transform(block, fft_hop, fft_size);

  const double bin_width = static_cast<double>(sample_rate) / static_cast<double>(fft_size);
  if (period > 0.0) {
    // The strongest of the estimate's bin and its neighbours.
    const auto centre = static_cast<std::uint32_t>(std::lround(period / bin_width));
    std::uint32_t bin = centre;
    for (std::uint32_t candidate = centre == 0 ? 0 : centre - 1;
         candidate <= centre + 1 && candidate < half; ++candidate) {
      if (candidate >= 1 && (bin >= half || magnitudes[candidate] > magnitudes[bin])) {
        bin = candidate;
      }
    }
    if (has_energy(bin)) {
      const double frequency = refined(bin, fft_hop, fft_size, sample_rate);
      if (std::isfinite(frequency) && frequency > 0.0 &&
          std::fabs(cents_between(frequency, period)) <= agreement_cents) {
        return {frequency, VoteOutcome::replaced_by_period};
      }
    }
  }
  const double mean =
      std::accumulate(magnitudes.begin(), magnitudes.end(), 0.0) / static_cast<double>(half);
  const BinSearchResult lowest =
      find_next_peak(magnitudes, 1, mean * static_cast<double>(peak_threshold));
  if (lowest.found) {
    const double frequency = refined(lowest.bin, fft_hop, fft_size, sample_rate);
    if (std::isfinite(frequency) && frequency > 0.0) {
      return {frequency, VoteOutcome::replaced_by_lowest_peak};
    }
  }
  return {0.0, VoteOutcome::rejected};
}

}  // namespace toneprint
