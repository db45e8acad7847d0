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

double cents_between(double a, double b) { return 1200.0 * std::log2(a / b); }

// Whether `higher` lies within agreement_cents of 2, 4, 8 ... times `lower`.
bool is_octave_above(double higher, double lower) {
  const double octaves = std::log2(higher / lower);
  const double whole = std::round(octaves);
  return whole >= 1.0 && std::fabs(octaves - whole) * 1200.0 <= agreement_cents;
}

std::uint32_t next_power_of_two(std::size_t n) {
  std::uint32_t power = 2;
  while (power < n) power *= 2;
  return power;
}

}  // namespace

double period_frequency(std::span<const double> samples, std::uint32_t sample_rate,
                        double threshold) {
  const std::size_t window = samples.size() / 2;
  if (window < 4 || sample_rate == 0) return 0.0;
  // d(lag) = sum over the window of (x[j] - x[j + lag])^2, from the energies
  // and the correlation r(lag) = sum x[j] x[j + lag], which one transform of
  // twice the length gives for every lag at once.
  const std::uint32_t n = next_power_of_two(2 * samples.size());
  std::vector<double> a(n, 0.0), b(n, 0.0), ra(n), ia(n), rb(n), ib(n);
  std::copy_n(samples.begin(), window, a.begin());
  std::copy(samples.begin(), samples.end(), b.begin());
  fft_double(n, 0, a.data(), nullptr, ra.data(), ia.data());
  fft_double(n, 0, b.data(), nullptr, rb.data(), ib.data());
  // conj(A) B transforms back to the correlation.
  for (std::uint32_t i = 0; i < n; ++i) {
    const double re = ra[i] * rb[i] + ia[i] * ib[i];
    const double im = ra[i] * ib[i] - ia[i] * rb[i];
    ra[i] = re;
    ia[i] = im;
  }
  fft_double(n, 1, ra.data(), ia.data(), a.data(), b.data());
  const double scale = 1.0 / static_cast<double>(n);

  std::vector<double> energy(samples.size() + 1, 0.0);  // prefix sums of x^2
  for (std::size_t j = 0; j < samples.size(); ++j) {
    energy[j + 1] = energy[j] + samples[j] * samples[j];
  }
  const double first = energy[window];
  std::vector<double> normalised(window, 1.0);
  double running = 0.0;
  for (std::size_t lag = 1; lag < window; ++lag) {
    const double d = std::max(
        0.0, first + (energy[lag + window] - energy[lag]) - 2.0 * a[lag] * scale);
    running += d;
    normalised[lag] = running > 0.0 ? d * static_cast<double>(lag) / running : 1.0;
  }
  for (std::size_t lag = 2; lag + 1 < window; ++lag) {
    if (normalised[lag] >= threshold) continue;
    while (lag + 2 < window && normalised[lag + 1] < normalised[lag]) ++lag;
    // A parabola through the dip and its neighbours.
    const double left = normalised[lag - 1];
    const double middle = normalised[lag];
    const double right = normalised[lag + 1];
    const double curve = left - 2.0 * middle + right;
    const double shift = curve > 0.0 ? 0.5 * (left - right) / curve : 0.0;
    return static_cast<double>(sample_rate) / (static_cast<double>(lag) + shift);
  }
  return 0.0;
}

double VoteChecker::refined(std::uint32_t bin, std::uint32_t fft_hop, std::uint32_t fft_size,
                            std::uint32_t sample_rate) const {
  const double first = -phase_angle(imaginary_[0][bin], real_[0][bin]);
  const double second = -phase_angle(imaginary_[1][bin], real_[1][bin]);
  return phase_difference_frequency(bin, first, second, fft_hop, fft_size, sample_rate);
}

CheckedVote VoteChecker::check(std::span<const double> block, std::uint32_t fft_size,
                               std::uint32_t fft_hop, std::uint32_t sample_rate,
                               std::uint32_t peak_threshold, std::uint32_t peak_count,
                               double voted) {
  const std::uint32_t half = fft_size / 2;
  frame_.resize(fft_size);
  magnitudes_.resize(half);
  for (int f = 0; f < 2; ++f) {
    real_[f].resize(fft_size);
    imaginary_[f].resize(fft_size);
    apply_hann_window(block.data() + (f == 0 ? 0 : fft_hop), frame_.data(), fft_size);
    fft_double(fft_size, 0, frame_.data(), nullptr, real_[f].data(), imaginary_[f].data());
  }
  magnitude_spectrum(real_[0].data(), imaginary_[0].data(), magnitudes_.data(), half);
  const double strongest = *std::max_element(magnitudes_.begin() + 1, magnitudes_.end());
  const double energy_floor = strongest * std::pow(10.0, -no_energy_db / 20.0);
  const auto has_energy = [&](std::uint32_t bin) {
    return bin >= 1 && bin < half && magnitudes_[bin] >= energy_floor;
  };

  const BinSearchResult vote =
      find_fundamental(magnitudes_, static_cast<double>(peak_threshold), peak_count);
  const double period = period_frequency(block.first(fft_size), sample_rate);
  const bool period_disagrees = period > 0.0 && cents_between(period, voted) > agreement_cents &&
                                !is_octave_above(period, voted);
  if (vote.found && has_energy(vote.bin) && !period_disagrees) return {voted, VoteOutcome::kept};

  const double bin_width = static_cast<double>(sample_rate) / static_cast<double>(fft_size);
  if (period > 0.0) {
    // The strongest of the estimate's bin and its neighbours.
    const auto centre = static_cast<std::uint32_t>(std::lround(period / bin_width));
    std::uint32_t bin = centre;
    for (std::uint32_t candidate = centre == 0 ? 0 : centre - 1;
         candidate <= centre + 1 && candidate < half; ++candidate) {
      if (candidate >= 1 && (bin >= half || magnitudes_[candidate] > magnitudes_[bin])) {
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
      std::accumulate(magnitudes_.begin(), magnitudes_.end(), 0.0) / static_cast<double>(half);
  const BinSearchResult lowest =
      find_next_peak(magnitudes_, 1, mean * static_cast<double>(peak_threshold));
  if (lowest.found) {
    const double frequency = refined(lowest.bin, fft_hop, fft_size, sample_rate);
    if (std::isfinite(frequency) && frequency > 0.0) {
      return {frequency, VoteOutcome::replaced_by_lowest_peak};
    }
  }
  return {0.0, VoteOutcome::rejected};
}

}  // namespace toneprint
