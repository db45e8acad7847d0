#include "analysis/partial_analysis.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <iterator>
#include <limits>
#include <numeric>

#include "dsp/fft_plan.h"
#include "dsp/sinc_interpolator.h"
#include "dsp/windowed_sums.h"

namespace toneprint {

namespace {

constexpr double two_pi = 6.283185307179586;

// The pitch track's frames: this many periods of the fundamental long, so
// that partial 2 falls beyond the Blackman-Harris main lobe, and half of
// that apart, at most 1/200 s.
constexpr double track_periods = 4.0;
constexpr double track_points_per_second = 200.0;

// The phase is followed when it departs from a straight line by more than
// this (radians) at the highest partial; below it, a partial loses less
// than 0.01 dB.
constexpr double follow_threshold = 0.05;

// Readings of the phase along itself: each takes out most of what the
// track's frames smoothed away in the one before.
constexpr int follow_rounds = 2;

// Warped samples per cycle of the fundamental, per cycle below the sample
// rate: the images the interpolation makes (above 0.55 of the rate) stay
// above every partial measured.
constexpr double warped_oversampling = 1.25;

// A partial is looked for within this fraction of the spacing to its
// neighbours around where it is expected; partial 1 within this of 1.
constexpr double search_fraction = 0.4;
constexpr double fundamental_search = 0.2;

// Where the noise is read around a partial, in spacings from it.
constexpr std::array<double, 6> noise_offsets = {-0.7, -0.5, -0.3, 0.3, 0.5, 0.7};

// The vibrato rates looked for (Hz), the step of the first search, and the
// smallest extent (cents) and share of the deviation's variance that count.
constexpr double min_vibrato_hz = 2.0;
constexpr double max_vibrato_hz = 12.0;
constexpr double vibrato_step_hz = 0.05;
constexpr double min_vibrato_cents = 2.0;
constexpr double min_vibrato_share = 0.5;

// A natural cubic spline through points (x[m], y[m]), x increasing, with
// straight lines beyond the ends at the end slopes.
class Spline {
 public:
  Spline(const std::vector<double>& x, const std::vector<double>& y) : x_(x), y_(y) {
    const std::size_t n = x.size();
    second_.assign(n, 0.0);
    if (n < 3) return;
    // The tridiagonal system for the second derivatives, ends at 0.
    std::vector<double> c(n, 0.0), d(n, 0.0);
    for (std::size_t i = 1; i + 1 < n; ++i) {
      const double h0 = x[i] - x[i - 1], h1 = x[i + 1] - x[i];
      const double a = h0 / 6.0, b = (h0 + h1) / 3.0, cc = h1 / 6.0;
      const double r = (y[i + 1] - y[i]) / h1 - (y[i] - y[i - 1]) / h0;
      const double m = b - a * c[i - 1];
      c[i] = cc / m;
      d[i] = (r - a * d[i - 1]) / m;
    }
    for (std::size_t i = n - 2; i >= 1; --i) second_[i] = d[i] - c[i] * second_[i + 1];
  }

  double operator()(double t) const {
    const std::size_t n = x_.size();
    if (n == 1) return y_[0];
    if (t <= x_.front()) return y_.front() + (t - x_.front()) * slope(0);
    if (t >= x_.back()) return y_.back() + (t - x_.back()) * slope(n - 1);
    while (t > x_[at_ + 1]) ++at_;
    while (t < x_[at_]) --at_;
    const double h = x_[at_ + 1] - x_[at_];
    const double a = (x_[at_ + 1] - t) / h, b = (t - x_[at_]) / h;
    return a * y_[at_] + b * y_[at_ + 1] +
           ((a * a * a - a) * second_[at_] + (b * b * b - b) * second_[at_ + 1]) * h * h / 6.0;
  }

 private:
  // The slope at point i (an end).
  double slope(std::size_t i) const {
    const std::size_t n = x_.size();
    if (i == 0) {
      const double h = x_[1] - x_[0];
      return (y_[1] - y_[0]) / h - h * (2.0 * second_[0] + second_[1]) / 6.0;
    }
    const double h = x_[n - 1] - x_[n - 2];
    return (y_[n - 1] - y_[n - 2]) / h + h * (second_[n - 2] + 2.0 * second_[n - 1]) / 6.0;
  }

  const std::vector<double>& x_;
  const std::vector<double>& y_;
  std::vector<double> second_;
  mutable std::size_t at_ = 0;
};

// The fundamental's phase (radians) at the centres of the track's frames,
// measured on partial `partial`: on x times e^(-i partial base(n)), each
// frame's phase is base at its centre plus the angle of its windowed sum
// over `partial`.
struct PhaseTrack {
  std::vector<double> centre;  // sample index
  std::vector<double> phase;
};

PhaseTrack frame_phases(std::span<const std::complex<double>> demodulated,
                        std::span<const double> base, std::size_t length, std::size_t hop,
                        int partial) {
  PhaseTrack track;
  const std::size_t n = demodulated.size();
  if (length > n) return track;
  std::vector<double> window(length);
  for (std::size_t j = 0; j < length; ++j) {
    window[j] = blackman_harris((static_cast<double>(j) + 0.5) / static_cast<double>(length));
  }
  double unwrapped = 0.0, last = 0.0;
  for (std::size_t start = 0; start + length <= n; start += hop) {
    std::complex<double> sum = 0.0;
    for (std::size_t j = 0; j < length; ++j) sum += window[j] * demodulated[start + j];
    const std::size_t middle = start + length / 2;
    const double angle = std::arg(sum);
    if (track.centre.empty()) {
      unwrapped = angle;
    } else {
      unwrapped += std::remainder(angle - last, two_pi);
    }
    last = angle;
    track.centre.push_back(static_cast<double>(middle));
    track.phase.push_back(base[middle] + unwrapped / partial);
  }
  return track;
}

}  // namespace

// How a pass was read for its partials, and how the frequencies of what was
// read map to Hz.
struct PassReading {
  std::vector<double> warped;  // the pass read along its phase, when followed
  double unit = 0.0;           // cycles per sample of partial 1, at ratio 1
  double frequency = 0.0;      // the track's mean frequency (Hz)
  bool followed = false;
  std::vector<PitchPoint> track;  // samples from the frame's start
};

namespace {

// The frequency at each inner point of a phase track, from its neighbours.
std::vector<PitchPoint> pitch_points(const PhaseTrack& track, double rate) {
  std::vector<PitchPoint> points;
  for (std::size_t m = 1; m + 1 < track.centre.size(); ++m) {
    const double cycles = (track.phase[m + 1] - track.phase[m - 1]) / two_pi;
    const double seconds = (track.centre[m + 1] - track.centre[m - 1]) / rate;
    points.push_back({static_cast<std::uint64_t>(track.centre[m]), cycles / seconds});
  }
  return points;
}

std::optional<PassReading> read_pass(std::span<const double> frame, double f0,
                                     std::uint32_t sample_rate, int count, int partial) {
  const double rate = static_cast<double>(sample_rate);
  const std::size_t n = frame.size();
  auto length = static_cast<std::size_t>(std::lround(track_periods * rate / f0));
  length |= 1;
  const std::size_t hop = std::max<std::size_t>(
      1,
      std::min<std::size_t>(length / 2, static_cast<std::size_t>(rate / track_points_per_second)));
  if (length < 9 || length + 4 * hop > n) return std::nullopt;

  // First along f0's straight phase, the phasor by rotation.
  std::vector<double> base(n);
  std::vector<std::complex<double>> demodulated(n);
  const double step = two_pi * f0 / rate;
  const double partial_step = step * partial;
  const std::complex<double> turn = std::polar(1.0, -partial_step);
  std::complex<double> phasor = 1.0;
  for (std::size_t i = 0; i < n; ++i) {
    if (i % 256 == 0) {
      phasor = std::polar(1.0, -std::fmod(partial_step * static_cast<double>(i), two_pi));
    }
    base[i] = step * static_cast<double>(i);
    demodulated[i] = frame[i] * phasor;
    phasor *= turn;
  }
  PhaseTrack track = frame_phases(demodulated, base, length, hop, partial);
  const std::size_t points = track.centre.size();
  if (points < 4) return std::nullopt;

  // The straight line through the phases, and how far they leave it.
  const double mean_x =
      std::accumulate(track.centre.begin(), track.centre.end(), 0.0) / static_cast<double>(points);
  const double mean_y =
      std::accumulate(track.phase.begin(), track.phase.end(), 0.0) / static_cast<double>(points);
  double sxy = 0.0, sxx = 0.0;
  for (std::size_t m = 0; m < points; ++m) {
    sxy += (track.centre[m] - mean_x) * (track.phase[m] - mean_y);
    sxx += (track.centre[m] - mean_x) * (track.centre[m] - mean_x);
  }
  const double slope = sxy / sxx;
  double departure = 0.0;
  for (std::size_t m = 0; m < points; ++m) {
    departure = std::max(departure,
                         std::fabs(track.phase[m] - mean_y - slope * (track.centre[m] - mean_x)));
  }
  if (!(slope > 0.0)) return std::nullopt;

  PassReading reading;
  if (departure * count < follow_threshold) {
    reading.unit = slope / two_pi;
    reading.frequency = reading.unit * rate;
    reading.track = pitch_points(track, rate);
    return reading;
  }

  // Along the phase itself, read again each round.
  for (int round = 0; round < follow_rounds; ++round) {
    const Spline spline(track.centre, track.phase);
    for (std::size_t i = 0; i < n; ++i) {
      base[i] = spline(static_cast<double>(i));
      demodulated[i] = frame[i] * std::polar(1.0, -partial * base[i]);
    }
    PhaseTrack again = frame_phases(demodulated, base, length, hop, partial);
    if (again.centre.size() != points) return std::nullopt;
    track = std::move(again);
  }
  const Spline spline(track.centre, track.phase);
  const auto from = static_cast<std::size_t>(track.centre.front());
  const auto to = static_cast<std::size_t>(track.centre.back());
  std::vector<double> phase(to - from + 1);
  for (std::size_t i = from; i <= to; ++i) phase[i - from] = spline(static_cast<double>(i));
  for (std::size_t i = 1; i < phase.size(); ++i) {
    if (!(phase[i] > phase[i - 1])) return std::nullopt;  // the phase must only advance
  }
  const double cycles = (phase.back() - phase.front()) / two_pi;
  const double mean_unit = cycles / static_cast<double>(to - from);
  const double per_cycle = std::ceil(warped_oversampling / mean_unit);
  const auto warped = static_cast<std::size_t>(std::floor(cycles * per_cycle));
  static const SincInterpolator interpolator;
  reading.warped.resize(warped);
  std::size_t i = 0;
  for (std::size_t j = 0; j < warped; ++j) {
    const double target = phase.front() + two_pi * static_cast<double>(j) / per_cycle;
    while (i + 2 < phase.size() && phase[i + 1] <= target) ++i;
    const double t = static_cast<double>(i) + (target - phase[i]) / (phase[i + 1] - phase[i]);
    reading.warped[j] = interpolator.at(frame, static_cast<double>(from) + t);
  }
  reading.unit = 1.0 / per_cycle;
  reading.frequency = mean_unit * rate;
  reading.followed = true;
  reading.track = pitch_points(track, rate);
  return reading;
}

// Where partial n is expected, as a ratio to partial 1, for B.
double expected_ratio(int n, double b) {
  const double k = n;
  return k * std::sqrt((1.0 + b * k * k) / (1.0 + b));
}

// The weighted least-squares B of partials (number, ratio, amplitude):
// r² - n² = B (n⁴ - r²), each weighted by (amplitude / n)², for which the
// residuals have about equal variance.
struct BFit {
  double b = 0.0;
  double error = std::numeric_limits<double>::quiet_NaN();
  int used = 0;
};
BFit fit_b(const std::vector<PassPartial>& partials) {
  double sxy = 0.0, sxx = 0.0;
  BFit fit;
  for (const PassPartial& p : partials) {
    if (p.below_noise || p.number < 2) continue;
    const double n2 = static_cast<double>(p.number) * p.number;
    const double w = (p.amplitude / p.number) * (p.amplitude / p.number);
    const double y = p.ratio * p.ratio - n2;
    const double x = n2 * n2 - p.ratio * p.ratio;
    sxy += w * x * y;
    sxx += w * x * x;
    ++fit.used;
  }
  if (fit.used == 0 || !(sxx > 0.0)) return BFit{};
  fit.b = sxy / sxx;
  if (fit.used >= 2) {
    double residual = 0.0;
    for (const PassPartial& p : partials) {
      if (p.below_noise || p.number < 2) continue;
      const double n2 = static_cast<double>(p.number) * p.number;
      const double w = (p.amplitude / p.number) * (p.amplitude / p.number);
      const double e = p.ratio * p.ratio - n2 - fit.b * (n2 * n2 - p.ratio * p.ratio);
      residual += w * e * e;
    }
    fit.error = std::sqrt(residual / (fit.used - 1) / sxx);
  }
  return fit;
}

// Where partial 1 lies (as a ratio in the partials' own unit) by the
// weighted least squares of r²/n² = s² + s² B n² over the partials above
// the noise: s sqrt(1 + B); none with fewer than two of them.
std::optional<double> fitted_first_ratio(const std::vector<PassPartial>& partials) {
  double sw = 0.0, sx = 0.0, sy = 0.0, sxx = 0.0, sxy = 0.0;
  int used = 0;
  for (const PassPartial& p : partials) {
    if (p.below_noise) continue;
    const double n2 = static_cast<double>(p.number) * p.number;
    const double w = (p.amplitude * p.number) * (p.amplitude * p.number);
    const double x = n2, y = p.ratio * p.ratio / n2;
    sw += w;
    sx += w * x;
    sy += w * y;
    sxx += w * x * x;
    sxy += w * x * y;
    ++used;
  }
  if (used < 2) return std::nullopt;
  const double det = sw * sxx - sx * sx;
  if (!(det > 0.0)) return std::nullopt;
  const double a = (sxx * sy - sx * sxy) / det;  // s²
  const double c = (sw * sxy - sx * sy) / det;   // s² B
  if (!(a + c > 0.0)) return std::nullopt;
  return std::sqrt(a + c);
}

}  // namespace

std::uint64_t partials_frame_length(double f0, std::uint32_t sample_rate) {
  if (!(f0 > 0.0) || !std::isfinite(f0)) return 0;
  return static_cast<std::uint64_t>(std::ceil(partials_min_cycles * sample_rate / f0));
}

std::optional<PassPartials> analyse_partials(std::span<const double> frame, std::uint64_t first,
                                             double f0, std::uint32_t sample_rate, int count) {
  PartialsAnalyser analyser;
  return analyser.analyse(frame, first, f0, sample_rate, count);
}

std::optional<PassPartials> PartialsAnalyser::analyse(std::span<const double> frame,
                                                      std::uint64_t first, double f0,
                                                      std::uint32_t sample_rate, int count) {
  if (!(f0 > 0.0) || !std::isfinite(f0) || sample_rate == 0 || count < 1) return std::nullopt;
  const double rate = static_cast<double>(sample_rate);
  if (static_cast<double>(frame.size()) * f0 / rate < partials_min_cycles - 1e-9) {
    return std::nullopt;
  }
  if (frame.size() < 16 || frame.size() > (std::size_t{1} << 30)) return std::nullopt;
  // The frame's own spectrum, which also serves to find the partials when
  // the pass is read as it is. The phase followed is that of the loudest
  // of the first partials there: a weak fundamental (a piano's lowest
  // notes) gives none to follow, and the pass's fundamental may be some
  // percent off, which the peak mends.
  WindowedSignal signal(frame);
  transform(signal);
  const double bin_hz = rate / fft_size_;
  const auto low = static_cast<std::size_t>(std::max(1.0, 0.5 * f0 / bin_hz));
  const std::size_t top_bin = fft_size_ / 2 - 1;
  const auto high = static_cast<std::size_t>(
      std::min(static_cast<double>(top_bin), (max_followed_partial + 0.5) * f0 / bin_hz));
  if (low + 2 > high) return std::nullopt;
  const double hz = peak_top(low, high) * bin_hz;
  const int followed = std::clamp(static_cast<int>(std::lround(hz / f0)), 1, max_followed_partial);
  const double fundamental = hz / followed;
  // The frame was made 24 cycles long of the pass's fundamental; a refined
  // one a little lower still leaves the track its margins.
  if (static_cast<double>(frame.size()) * fundamental / rate < 0.9 * partials_min_cycles) {
    return std::nullopt;
  }

  std::optional<PassReading> reading = read_pass(frame, fundamental, sample_rate, count, followed);
  if (!reading) return std::nullopt;
  if (reading->followed) {
    if (reading->warped.size() < 16 || reading->warped.size() > (std::size_t{1} << 30)) {
      return std::nullopt;
    }
    signal.assign(reading->warped);
    transform(signal);
  }
  // The followed partial is measured even where fewer are asked for: it
  // places the others. Only those asked for are given.
  std::optional<PassPartials> result =
      measure(signal, *reading, first, rate, std::max(count, followed), followed);
  if (result && result->partials.size() > static_cast<std::size_t>(count)) {
    result->partials.resize(static_cast<std::size_t>(count));
    const BFit fit = fit_b(result->partials);
    result->b = fit.b;
    result->b_error = fit.error;
    result->b_partials = fit.used;
  }
  return result;
}

void PartialsAnalyser::transform(const WindowedSignal& signal) {
  // A real transform of fft_size points as a complex one of half as many:
  // even samples as the real parts, odd ones as the imaginary parts.
  const std::size_t size = signal.size();
  std::uint32_t fft_size = 4;
  while (fft_size < size) fft_size *= 2;
  const std::uint32_t half = fft_size / 2;
  if (plan_.size() != half) {
    plan_ = FftPlan(half);
    twiddles_.resize(half + 1);
    for (std::uint32_t k = 0; k <= half; ++k) {
      twiddles_[k] = std::polar(1.0, two_pi * static_cast<double>(k) / fft_size);
    }
  }
  fft_size_ = fft_size;
  input_.assign(fft_size, 0.0);
  std::copy(signal.windowed().begin(), signal.windowed().end(), input_.begin());
  re_.resize(fft_size);
  im_.resize(fft_size);
  for (std::uint32_t m = 0; m < half; ++m) {
    re_[half + m] = input_[2 * static_cast<std::size_t>(m)];
    im_[half + m] = input_[2 * static_cast<std::size_t>(m) + 1];
  }
  plan_.forward(re_.data() + half, im_.data() + half, re_.data(), im_.data());
  magnitude_.resize(half + 1);
  unpacked_ = 0;
}

double PartialsAnalyser::magnitude(std::size_t k) {
  const std::size_t half = fft_size_ / 2;
  for (; unpacked_ <= k; ++unpacked_) {
    // X[k] = E[k] + W^k O[k], E and O the even and odd samples'
    // transforms, unpacked from Z[k] and conj(Z[half - k]);
    // W = e^(+i 2π / fft_size), as the plan's transform turns that way.
    const std::size_t j = unpacked_ % half, mirror = (half - unpacked_) % half;
    const std::complex<double> z(re_[j], im_[j]), zc(re_[mirror], -im_[mirror]);
    const std::complex<double> e = 0.5 * (z + zc);
    const std::complex<double> o = std::complex<double>(0.0, -0.5) * (z - zc);
    const std::complex<double> x = e + twiddles_[unpacked_] * o;
    magnitude_[unpacked_] = std::sqrt(x.real() * x.real() + x.imag() * x.imag());
  }
  return magnitude_[k];
}

double PartialsAnalyser::peak_top(std::size_t low, std::size_t high) {
  std::size_t peak = low;
  for (std::size_t k = low; k <= high; ++k) {
    if (magnitude(k) > magnitude(peak)) peak = k;
  }
  // The top of the parabola through the peak's bin and its neighbours, in dB.
  const double y0 = std::log(magnitude(peak - 1) + 1e-300);
  const double y1 = std::log(magnitude(peak) + 1e-300);
  const double y2 = std::log(magnitude(peak + 1) + 1e-300);
  const double curve = y0 - 2.0 * y1 + y2;
  return static_cast<double>(peak) +
         (curve < 0.0 ? std::clamp(0.5 * (y0 - y2) / curve, -0.5, 0.5) : 0.0);
}

std::optional<PassPartials> PartialsAnalyser::measure(const WindowedSignal& signal,
                                                      PassReading& reading, std::uint64_t first,
                                                      double rate, int count, int followed) {
  const std::size_t size = signal.size();
  const std::uint32_t fft_size = fft_size_;
  const std::size_t bins = fft_size / 2;
  const double bins_per_ratio = reading.unit * fft_size;
  const double limit = partial_rate_limit * rate / reading.frequency;  // as a ratio
  // Half a main lobe, in cycles per sample: the most a refinement moves.
  const double half_lobe = 2.0 / static_cast<double>(size);
  const double to_amplitude = signal.amplitude({std::complex<double>(1.0, 0.0), {}});

  PassPartials result;
  result.followed = reading.followed;
  // Where partials are expected: by the B of those found so far, from
  // partial 1 as found (the followed partial's unit lies above it on a
  // stiff string).
  double b = 0.0;
  double scale = 1.0;
  const auto b_so_far = [&] {
    std::vector<PassPartial> scaled = result.partials;
    for (PassPartial& p : scaled) p.ratio /= scale;
    return fit_b(scaled).b;
  };
  for (int n = 1; n <= count; ++n) {
    const double expected = scale * expected_ratio(n, std::max(b, 0.0));
    if (expected >= limit) break;
    const double spacing =
        n == 1 ? 1.0 : expected - scale * expected_ratio(n - 1, std::max(b, 0.0));
    const double reach = n == 1 ? fundamental_search : search_fraction * spacing;
    // The loudest bin within reach, then the top of its parabola (in dB).
    const auto low = static_cast<std::size_t>(
        std::clamp((expected - reach) * bins_per_ratio, 1.0, static_cast<double>(bins - 1)));
    const auto high = static_cast<std::size_t>(
        std::clamp((expected + reach) * bins_per_ratio, 1.0, static_cast<double>(bins - 1)));
    const double top = peak_top(low, high);
    // The single-frequency sums there: the amplitude (which a frequency a
    // small part of a bin off hardly changes) and the frequency refined.
    double nu = top / fft_size;
    const WindowedSignal::Sums sums = signal.sums(nu);
    const double amplitude = signal.amplitude(sums);
    nu += std::clamp(signal.offset(sums), -half_lobe, half_lobe);

    PassPartial partial;
    partial.number = n;
    partial.ratio = nu / reading.unit;
    partial.amplitude = amplitude;
    // The noise: the spectrum between this partial and its neighbours.
    double power = 0.0;
    for (const double offset : noise_offsets) {
      const double at = (partial.ratio + offset * spacing) * bins_per_ratio;
      const auto k =
          static_cast<std::size_t>(std::clamp(std::round(at), 0.0, static_cast<double>(bins)));
      const double a = magnitude(k) * to_amplitude;
      power += a * a;
    }
    partial.noise = std::sqrt(power / static_cast<double>(noise_offsets.size()));
    partial.below_noise = !(partial.amplitude > below_noise_factor * partial.noise);
    result.partials.push_back(partial);
    if (n == 1 && !partial.below_noise) scale = partial.ratio;
    if (n >= 2 && !partial.below_noise) b = b_so_far();
  }
  if (result.partials.size() < static_cast<std::size_t>(followed)) return std::nullopt;
  if (result.partials[static_cast<std::size_t>(followed) - 1].below_noise) return std::nullopt;

  // Ratios to partial 1 as measured, and partial 1's frequency; where
  // partial 1 is below the noise, where the string's fit puts it.
  double first_ratio = result.partials.front().ratio;
  if (result.partials.front().below_noise) {
    const std::optional<double> fitted = fitted_first_ratio(result.partials);
    if (!fitted) return std::nullopt;
    first_ratio = *fitted;
  }
  for (PassPartial& p : result.partials) p.ratio /= first_ratio;
  result.frequency = first_ratio * reading.frequency;
  const BFit fit = fit_b(result.partials);
  result.b = fit.b;
  result.b_error = fit.error;
  result.b_partials = fit.used;
  result.track = std::move(reading.track);
  for (PitchPoint& point : result.track) {
    point.sample += first;
    point.frequency *= first_ratio;
  }
  return result;
}

std::optional<Vibrato> fit_vibrato(std::span<const PitchPoint> track, std::uint32_t sample_rate,
                                   double& centre) {
  const std::size_t n = track.size();
  if (n < 8 || !(centre > 0.0) || sample_rate == 0) return std::nullopt;
  const double rate = static_cast<double>(sample_rate);
  std::vector<double> t(n), cents(n);
  for (std::size_t i = 0; i < n; ++i) {
    t[i] = static_cast<double>(track[i].sample) / rate;
    cents[i] = track[i].frequency > 0.0 ? 1200.0 * std::log2(track[i].frequency / centre) : 0.0;
  }
  const double span = t.back() - t.front();
  if (!(span * min_vibrato_hz >= 1.0)) return std::nullopt;  // not one slow cycle
  // A track that stays within the smallest extent of its mean has none.
  const auto [low, high] = std::minmax_element(cents.begin(), cents.end());
  if (*high - *low < 2.0 * min_vibrato_cents) return std::nullopt;
  // Least squares of cents against [1, t - mid, sin 2πft, cos 2πft] by the
  // normal equations; the residual's sum of squares.
  const double mid = 0.5 * (t.front() + t.back());
  struct Fit {
    double residual = std::numeric_limits<double>::infinity();
    double coefficients[4] = {0, 0, 0, 0};
  };
  const auto solve = [&](double f, std::size_t columns) {
    double a[4][5] = {};
    for (std::size_t i = 0; i < n; ++i) {
      const double row[4] = {1.0, t[i] - mid, std::sin(two_pi * f * t[i]),
                             std::cos(two_pi * f * t[i])};
      for (std::size_t r = 0; r < columns; ++r) {
        for (std::size_t c = 0; c < columns; ++c) a[r][c] += row[r] * row[c];
        a[r][4] += row[r] * cents[i];
      }
    }
    Fit fit;
    // Gaussian elimination with partial pivoting.
    for (std::size_t c = 0; c < columns; ++c) {
      std::size_t pivot = c;
      for (std::size_t r = c + 1; r < columns; ++r) {
        if (std::fabs(a[r][c]) > std::fabs(a[pivot][c])) pivot = r;
      }
      if (std::fabs(a[pivot][c]) < 1e-12) return fit;
      for (std::size_t k = 0; k < 5; ++k) std::swap(a[c][k], a[pivot][k]);
      for (std::size_t r = 0; r < columns; ++r) {
        if (r == c) continue;
        const double factor = a[r][c] / a[c][c];
        for (std::size_t k = c; k < 5; ++k) a[r][k] -= factor * a[c][k];
      }
    }
    for (std::size_t c = 0; c < columns; ++c) fit.coefficients[c] = a[c][4] / a[c][c];
    fit.residual = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
      const double row[4] = {1.0, t[i] - mid, std::sin(two_pi * f * t[i]),
                             std::cos(two_pi * f * t[i])};
      double e = cents[i];
      for (std::size_t c = 0; c < columns; ++c) e -= fit.coefficients[c] * row[c];
      fit.residual += e * e;
    }
    return fit;
  };
  const Fit line = solve(0.0, 2);
  if (!std::isfinite(line.residual) || !(line.residual > 0.0)) return std::nullopt;
  double best_f = 0.0;
  Fit best;
  const auto steps =
      static_cast<int>(std::lround((max_vibrato_hz - min_vibrato_hz) / vibrato_step_hz));
  for (int step = 0; step <= steps; ++step) {
    const double f = min_vibrato_hz + step * vibrato_step_hz;
    const Fit fit = solve(f, 4);
    if (fit.residual < best.residual) {
      best = fit;
      best_f = f;
    }
  }
  // The best rate between the neighbouring steps, by golden sections.
  double lo = std::max(min_vibrato_hz, best_f - vibrato_step_hz);
  double hi = std::min(max_vibrato_hz, best_f + vibrato_step_hz);
  constexpr double golden = 0.6180339887498949;
  for (int i = 0; i < 30; ++i) {
    const double a = hi - golden * (hi - lo), b = lo + golden * (hi - lo);
    if (solve(a, 4).residual < solve(b, 4).residual) {
      hi = b;
    } else {
      lo = a;
    }
  }
  const double f = 0.5 * (lo + hi);
  const Fit fit = solve(f, 4);
  if (!std::isfinite(fit.residual)) return std::nullopt;
  const double extent = std::hypot(fit.coefficients[2], fit.coefficients[3]);
  if (extent < min_vibrato_cents || fit.residual > (1.0 - min_vibrato_share) * line.residual) {
    return std::nullopt;
  }
  centre *= std::exp2(fit.coefficients[0] / 1200.0);
  return Vibrato{f, extent};
}

std::optional<TonePartials> summarise_partials(std::span<const PassPartials* const> passes,
                                               std::uint32_t sample_rate) {
  std::vector<const PassPartials*> measured;
  std::copy_if(passes.begin(), passes.end(), std::back_inserter(measured),
               [](const PassPartials* pass) { return pass != nullptr && !pass->partials.empty(); });
  if (measured.empty()) return std::nullopt;
  TonePartials tone;
  for (const PassPartials* pass : measured) tone.frequency += pass->frequency;
  tone.frequency /= static_cast<double>(measured.size());

  std::vector<PitchPoint> track;
  for (const PassPartials* pass : measured) {
    track.insert(track.end(), pass->track.begin(), pass->track.end());
  }
  tone.vibrato = fit_vibrato(track, sample_rate, tone.frequency);

  std::size_t count = 0;
  for (const PassPartials* pass : measured) count = std::max(count, pass->partials.size());
  for (std::size_t i = 0; i < count; ++i) {
    TonePartial partial;
    partial.number = static_cast<int>(i) + 1;
    int looked = 0, found = 0;
    double ratio = 0.0, amplitude = 0.0;
    for (const PassPartials* pass : measured) {
      if (i >= pass->partials.size()) continue;
      ++looked;
      const PassPartial& p = pass->partials[i];
      if (p.below_noise) continue;
      ++found;
      ratio += p.ratio;
      amplitude += p.amplitude;
    }
    partial.below_noise = 2 * found <= looked;
    if (!partial.below_noise) {
      ratio /= found;
      partial.frequency = ratio * tone.frequency;
      partial.cents_from_harmonic = 1200.0 * std::log2(ratio / partial.number);
      partial.amplitude = amplitude / found;
    }
    tone.partials.push_back(partial);
  }
  if (tone.partials.front().amplitude) {
    for (TonePartial& p : tone.partials) {
      if (p.amplitude && *p.amplitude > 0.0) {
        p.level_db = 20.0 * std::log10(*p.amplitude / *tone.partials.front().amplitude);
      }
    }
  }

  std::vector<const PassPartials*> fitted;
  std::copy_if(measured.begin(), measured.end(), std::back_inserter(fitted),
               [](const PassPartials* pass) { return pass->b_partials > 0; });
  if (!fitted.empty()) {
    Inharmonicity b;
    b.b = std::accumulate(fitted.begin(), fitted.end(), 0.0,
                          [](double sum, const PassPartials* pass) { return sum + pass->b; }) /
          static_cast<double>(fitted.size());
    if (fitted.size() >= 2) {
      const double squares = std::accumulate(fitted.begin(), fitted.end(), 0.0,
                                             [&](double sum, const PassPartials* pass) {
                                               return sum + (pass->b - b.b) * (pass->b - b.b);
                                             });
      const double k = static_cast<double>(fitted.size());
      b.uncertainty = std::sqrt(squares / (k - 1.0) / k);
      b.from_passes = true;
    } else {
      b.uncertainty = fitted.front()->b_error;
    }
    tone.inharmonicity = b;
  }
  return tone;
}

}  // namespace toneprint
