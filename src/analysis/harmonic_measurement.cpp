#include "analysis/harmonic_measurement.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <limits>
#include <mutex>
#include <numeric>
#include <thread>

#include "analysis/harmonic_kernels.h"

#if defined(__linux__)
#include <sched.h>
#endif

namespace toneprint {

namespace {

// 2π as one fixed double, so that every build forms the same angles.
constexpr double two_pi = 6.283185307179586;

// The most candidate lengths one frame-length search tries.
constexpr std::uint64_t max_frame_candidates = 1'000'000;

constexpr std::uint32_t largest_u32 = std::numeric_limits<std::uint32_t>::max();
constexpr std::int32_t largest_i32 = std::numeric_limits<std::int32_t>::max();

// A whole count held in a double, as a u32: NaN and values below 0 give 0,
// values at or beyond the u32 range give the largest u32. Converting an
// out-of-range double to an integer directly would be undefined.
std::uint32_t saturate_to_u32(double count) {
  if (!(count >= 0.0)) return 0;
  if (count >= static_cast<double>(largest_u32)) return largest_u32;
  return static_cast<std::uint32_t>(count);
}

// trunc(a × b) as a u32. The product is rounded to a double before the
// truncation, so 0.3 s at 44100 samples per second is 13230 samples (the
// exact product lies just below 13230; wider arithmetic would give 13229).
std::uint32_t truncated_product(double a, double b) {
  const double product = a * b;
  return saturate_to_u32(std::trunc(product));
}

// Highest measurable frequency: half the sample rate, halved as an integer
// (an odd rate loses its half).
double nyquist_limit(std::uint32_t sample_rate) {
  const std::uint32_t half = sample_rate / 2;
  return static_cast<double>(half);
}

// Adds sample n of a frame to a harmonic's windowed sums: the periodic Hann
// window h(n) = (1 - cos(n delta)) / 2 and the angle n omega, both formed
// directly from n.
inline void add_term(std::int32_t n, double sample, double omega, double delta, double& sine_sum,
                     double& cosine_sum) {
  const double x = static_cast<double>(n);
  const double h = (1.0 - std::cos(x * delta)) * 0.5;
  sine_sum += std::sin(x * omega) * sample * h;
  cosine_sum += std::cos(x * omega) * sample * h;
}

// Over whole cycles a component of peak A makes sqrt(S² + C²) equal to
// A × length / 4, so × 2 / length gives A / 2.
double magnitude_of(double sine_sum, double cosine_sum, std::int32_t length) {
  return std::sqrt(sine_sum * sine_sum + cosine_sum * cosine_sum) * 2.0 /
         static_cast<double>(length);
}

double radians_per_sample(double frequency, std::uint32_t sample_rate) {
  return two_pi * frequency / static_cast<double>(sample_rate);
}

double hann_step(std::int32_t length) { return two_pi / static_cast<double>(length); }

}  // namespace

double round_half_away(double x) {
  if (x > 0.0) return std::floor(x + 0.5);
  if (x < 0.0) return std::ceil(x - 0.5);
  return x;
}

double cycle_fraction_error(double x) {
  const double b = std::fmod(x, 1.0);
  return b > 1.0 - b ? 1.0 - b : b;
}

std::uint32_t whole_cycle_frame_length(double f, std::uint32_t sample_rate, double min_seconds,
                                       double max_cycle_fraction, std::uint32_t min_cycles,
                                       std::uint32_t max_extra_samples) {
  if (sample_rate == 0 || !std::isfinite(f) || !(f > 0.0) || f > nyquist_limit(sample_rate)) {
    return 0;
  }
  const double rate = sample_rate;

  // Twice the frequency, folded back below half the sample rate: the image
  // that has to cancel over the frame.
  double t = 2.0 * f;
  if (rate * 0.5 < t) t = rate - t;
  // f at exactly half an even rate is its own image and has no reference
  // frequency: the shortest frame allowed will do.
  if (t == 0.0) return truncated_product(rate, min_seconds);

  // Reference frequency whose cycles the frame is to hold whole.
  const double m = t * 0.5;
  // Fewest cycles of m allowed.
  double cycles = std::ceil(min_seconds * m);
  if (static_cast<double>(min_cycles) > cycles) cycles = min_cycles;

  const double extra = max_extra_samples;
  double best_length = rate * (cycles / m);
  double best_error = 1.0;
  for (std::uint64_t r = 0;; ++r) {
    const double added = static_cast<double>(r);
    const double length = ((cycles + added) / m) * rate;
    const double error = cycle_fraction_error((round_half_away(length) / rate) * m);
    // Strictly less: among equal errors the earlier, shorter frame stays.
    if (error < best_error) {
      best_length = length;
      best_error = error;
    }
    if (best_error <= max_cycle_fraction) break;
    // One more cycle of m only while the added cycles still last fewer than
    // the extra samples allowed. Written so that a NaN or an infinite
    // duration (m very near 0) ends the search as well.
    if (!(extra > rate * ((added + 1.0) / m))) break;
    // The extra time holds at most max_extra_seconds × m cycles of m, which
    // at real sample rates is far below this limit (96001 candidates at
    // 384000 samples per second and the longest extra time of 1 s). A header
    // claiming billions of samples per second would otherwise make each
    // search try tens of millions of candidates.
    if (r + 1 >= max_frame_candidates) break;
  }
  return saturate_to_u32(round_half_away(best_length));
}

std::uint32_t harmonic_frame_length(double f, const AnalysisSettings& settings) {
  return whole_cycle_frame_length(
      f, settings.sample_rate, settings.min_tone_seconds, settings.max_cycle_fraction,
      settings.min_cycles, truncated_product(settings.sample_rate, settings.max_extra_seconds));
}

std::uint32_t dft_frame_length(double f0, const AnalysisSettings& settings) {
  std::uint32_t longest = 0;
  const std::uint64_t last = std::uint64_t{settings.harmonic_count} + 1;
  for (std::uint64_t k = 1; k <= last; ++k) {
    longest = std::max(longest, harmonic_frame_length(static_cast<double>(k) * f0, settings));
  }
  return longest;
}

void measure_harmonics(std::span<const double> frame, std::span<double> amplitudes, double f0,
                       const AnalysisSettings& settings) {
  SingleFrequencyDft dft(settings.sample_rate, frame.data());
  const double limit = nyquist_limit(settings.sample_rate);
  // No harmonic is summed over more samples than the frame holds.
  const std::uint64_t available =
      std::min<std::uint64_t>(frame.size(), static_cast<std::uint64_t>(largest_i32));
  const std::uint64_t wanted = std::uint64_t{settings.harmonic_count} + 1;
  const std::size_t count =
      static_cast<std::size_t>(std::min<std::uint64_t>(wanted, amplitudes.size()));

  for (std::size_t k = 0; k < count; ++k) {
    const double f = static_cast<double>(k + 1) * f0;
    if (f > limit) {
      amplitudes[k] = -1.0;
      continue;
    }
    const std::uint64_t length =
        std::min<std::uint64_t>(harmonic_frame_length(f, settings), available);
    dft.set_frequency(f, static_cast<std::int32_t>(length));
    amplitudes[k] = dft.amplitude();
  }
}

void SingleFrequencyDft::set_frequency(double frequency, std::int32_t length) {
  if (frequency == frequency_ && length == length_) return;
  frequency_ = frequency;
  length_ = length;
  cache_valid_ = false;
}

double SingleFrequencyDft::magnitude() {
  if (!cache_valid_) compute();
  return cached_magnitude_;
}

void SingleFrequencyDft::compute() {
  cache_valid_ = true;
  if (samples_ == nullptr || length_ <= 0 || sample_rate_ == 0) {
    cached_magnitude_ = 0.0;
    return;
  }
  const double omega = radians_per_sample(frequency_, sample_rate_);
  const double delta = hann_step(length_);
  double sine_sum = 0.0;
  double cosine_sum = 0.0;
  for (std::int32_t n = 0; n < length_; ++n) {
    add_term(n, samples_[n], omega, delta, sine_sum, cosine_sum);
  }
  cached_magnitude_ = magnitude_of(sine_sum, cosine_sum, length_);
}

// A second thread that runs one task at a time alongside its caller. Tasks
// come every fraction of a millisecond while a recording is analysed, and a
// sleeping thread can take as long to wake, so each side first watches for
// the other for a while, and only then sleeps.
class HarmonicWorker {
 public:
  HarmonicWorker() : thread_([this] { serve(); }) {}

  ~HarmonicWorker() {
    stopping_.store(true);
    advance(given_, given_.load() + 1);
    thread_.join();
  }

  HarmonicWorker(const HarmonicWorker&) = delete;
  HarmonicWorker& operator=(const HarmonicWorker&) = delete;

  // Runs `task` on the worker and `own` on the calling thread; returns when
  // both have finished.
  template <typename Own>
  void run_alongside(const std::function<void()>& task, Own&& own) {
    task_ = &task;
    const std::uint64_t ticket = given_.load() + 1;
    advance(given_, ticket);
    own();
    await(finished_, ticket);
  }

  // Whether this process may run on two processors or more.
  static bool worth_having() {
#if defined(__linux__)
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0) return CPU_COUNT(&set) >= 2;
#endif
    return std::thread::hardware_concurrency() >= 2;
  }

 private:
  // Sets `counter` to `value` and wakes the other side if it sleeps. Taking
  // the lock between the two orders the change before any sleeper's last
  // look at the counter, so no wake-up is lost.
  void advance(std::atomic<std::uint64_t>& counter, std::uint64_t value) {
    counter.store(value, std::memory_order_release);
    { const std::lock_guard<std::mutex> lock(mutex_); }
    wake_.notify_all();
  }

  // Waits until `counter` reaches `value`: watching it for up to 20
  // microseconds, then sleeping until it is advanced.
  void await(const std::atomic<std::uint64_t>& counter, std::uint64_t value) {
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::microseconds(20);
    for (int round = 0; counter.load(std::memory_order_acquire) < value; ++round) {
      if (round % 64 == 63 && std::chrono::steady_clock::now() > give_up) {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait(lock, [&] { return counter.load(std::memory_order_acquire) >= value; });
        return;
      }
    }
  }

  void serve() {
    for (std::uint64_t done = 0;;) {
      await(given_, done + 1);
      if (stopping_.load()) return;
      done = given_.load(std::memory_order_acquire);
      (*task_)();
      advance(finished_, done);
    }
  }

  const std::function<void()>* task_ = nullptr;
  std::atomic<std::uint64_t> given_{0};
  std::atomic<std::uint64_t> finished_{0};
  std::atomic<bool> stopping_{false};
  std::mutex mutex_;
  std::condition_variable wake_;
  std::thread thread_;
};

HarmonicAccumulator::HarmonicAccumulator(Evaluation evaluation) : evaluation_(evaluation) {}

HarmonicAccumulator::HarmonicAccumulator(double f0, const AnalysisSettings& settings,
                                         Evaluation evaluation)
    : evaluation_(evaluation) {
  start(f0, settings);
}

HarmonicAccumulator::~HarmonicAccumulator() = default;

void HarmonicAccumulator::start(double f0, const AnalysisSettings& settings) {
  next_ = 0;
  run_first_ = 0;
  run_.clear();
  run_.reserve(run_length);
  // The same choices as measure_harmonics over a frame of
  // dft_frame_length(f0) samples, the longest of the harmonics' frames: each
  // harmonic's frame length is found once, and the frame's is their largest.
  const double limit = nyquist_limit(settings.sample_rate);
  harmonics_.assign(std::size_t{settings.harmonic_count} + 1, Harmonic{});
  std::uint32_t longest = 0;
  for (std::size_t k = 0; k < harmonics_.size(); ++k) {
    Harmonic& h = harmonics_[k];
    h.frequency = static_cast<double>(k + 1) * f0;
    h.frame_length = harmonic_frame_length(h.frequency, settings);
    h.measured = !(h.frequency > limit);
    longest = std::max(longest, h.frame_length);
  }
  length_ = longest;
  const std::uint64_t available = std::min<std::uint64_t>(length_, largest_i32);
  for (Harmonic& h : harmonics_) {
    if (!h.measured) continue;
    h.length = static_cast<std::int32_t>(std::min<std::uint64_t>(h.frame_length, available));
    if (h.length > 0) {
      const double omega = radians_per_sample(h.frequency, settings.sample_rate);
      const double delta = hann_step(h.length);
      if (evaluation_ == Evaluation::fast) {
        static const detail::PhasorPreparer prepare = detail::fastest_phasor_preparer();
        prepare(omega, delta, h.phasors);
      } else {
        h.phasors.omega = omega;
        h.phasors.delta = delta;
      }
    }
  }
}

void HarmonicAccumulator::add(double sample) {
  if (next_ >= length_) return;
  if (evaluation_ == Evaluation::reference) {
    const auto n = static_cast<std::int32_t>(std::min<std::int64_t>(next_, largest_i32));
    for (Harmonic& h : harmonics_) {
      if (n < h.length) {
        add_term(n, sample, h.phasors.omega, h.phasors.delta, h.sine_sums[0], h.cosine_sums[0]);
      }
    }
  } else {
    run_.push_back(sample);
    if (run_.size() == run_length) measure_run();
  }
  ++next_;
}

void HarmonicAccumulator::add(std::span<const double> samples) {
  if (evaluation_ == Evaluation::reference) {
    for (const double sample : samples) add(sample);
    return;
  }
  // The frame's samples in, a run at a time; those past its end are ignored.
  const std::int64_t wanted = std::min<std::int64_t>(
      static_cast<std::int64_t>(samples.size()), std::max<std::int64_t>(0, length_ - next_));
  std::size_t from = 0;
  while (static_cast<std::int64_t>(from) < wanted) {
    const std::size_t take = std::min<std::size_t>(static_cast<std::size_t>(wanted) - from,
                                                   run_length - run_.size());
    run_.insert(run_.end(), samples.begin() + static_cast<std::ptrdiff_t>(from),
                samples.begin() + static_cast<std::ptrdiff_t>(from + take));
    from += take;
    next_ += static_cast<std::int64_t>(take);
    if (run_.size() == run_length) measure_run();
  }
}

void HarmonicAccumulator::measure_run_for(std::size_t first, std::size_t step) {
  static const detail::HarmonicKernel kernel = detail::fastest_harmonic_kernel();
  const auto count = static_cast<std::int64_t>(run_.size());
  for (std::size_t k = first; k < harmonics_.size(); k += step) {
    Harmonic& h = harmonics_[k];
    // Only the samples within the harmonic's own frame count.
    const std::int64_t within = std::min<std::int64_t>(count, h.length - run_first_);
    if (within > 0) {
      kernel(run_.data(), run_first_, within, h.phasors, h.sine_sums, h.cosine_sums);
    }
  }
}

void HarmonicAccumulator::measure_run() {
  // The run's terms: only a run with many of them is worth handing half to
  // a second processor, as handing it over and waiting for it back costs
  // tens of microseconds.
  const auto run_size = static_cast<std::int64_t>(run_.size());
  const std::int64_t terms = std::accumulate(
      harmonics_.begin(), harmonics_.end(), std::int64_t{0},
      [&](std::int64_t sum, const Harmonic& h) {
        return sum + std::max<std::int64_t>(0, std::min(run_size, h.length - run_first_));
      });
  const bool shared = terms >= shared_run_terms && harmonics_.size() > 1 && !one_thread_;
  // With a second processor, it takes every other harmonic: their frame
  // lengths are alike, so the halves of the work are too.
  if (shared && worker_ == nullptr && HarmonicWorker::worth_having()) {
    worker_ = std::make_unique<HarmonicWorker>();
  }
  if (shared && worker_ != nullptr) {
    const std::function<void()> odd = [this] { measure_run_for(1, 2); };
    worker_->run_alongside(odd, [this] { measure_run_for(0, 2); });
  } else {
    measure_run_for(0, 1);
  }
  run_first_ += static_cast<std::int64_t>(run_.size());
  run_.clear();
}

void HarmonicAccumulator::amplitudes(std::span<double> amplitudes) {
  if (!run_.empty()) measure_run();
  const std::size_t count = std::min(amplitudes.size(), harmonics_.size());
  for (std::size_t k = 0; k < count; ++k) {
    const Harmonic& h = harmonics_[k];
    if (!h.measured) {
      amplitudes[k] = -1.0;
    } else if (h.length <= 0) {
      amplitudes[k] = 0.0;
    } else {
      // The partial sums in order; the reference keeps all in the first.
      double sine_sum = 0.0;
      double cosine_sum = 0.0;
      for (int lane = 0; lane < detail::harmonic_lanes; ++lane) {
        sine_sum += h.sine_sums[lane];
        cosine_sum += h.cosine_sums[lane];
      }
      amplitudes[k] = 2.0 * magnitude_of(sine_sum, cosine_sum, h.length);
    }
  }
}

}  // namespace toneprint
