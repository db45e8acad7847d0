// Benchmarks of the analysis: the FFT, pitch detection, the harmonic
// measurement and the whole analysis of a long session.

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "analysis/harmonic_measurement.h"
#include "analysis/pitch_detection.h"
#include "classic/classic_report.h"
#include "analysis/tone_analysis.h"
#include "classic/wave_analysis.h"
#include "dsp/fft_plan.h"
#include "dsp/fftmisc.h"
#include "riff/wave_file.h"
#include "session.h"
#include "toneprint/toneprint.h"

namespace toneprint {
namespace {

class NullOutput final : public TextOutput {
 public:
  void write(std::string_view) override {}
};

// A harmonic tone of 440 Hz in raw sample units.
std::vector<double> tone(std::uint32_t rate, std::size_t count, double f0 = 440.0) {
  std::vector<double> samples(count);
  for (std::size_t n = 0; n < count; ++n) {
    double value = 0.0;
    for (int k = 1; k <= 11 && 2 * k * f0 < rate; ++k) {
      value +=
          9000.0 / k * std::sin(6.283185307179586 * k * f0 * static_cast<double>(n) / rate + k);
    }
    samples[n] = std::round(value);
  }
  return samples;
}

void BM_FftDouble(benchmark::State& state) {
  const auto n = static_cast<std::uint32_t>(state.range(0));
  const std::vector<double> input = tone(48000, n);
  std::vector<double> real(n), imaginary(n);
  for (auto _ : state) {
    fft_double(n, 0, input.data(), nullptr, real.data(), imaginary.data());
    benchmark::DoNotOptimize(real.data());
  }
}
BENCHMARK(BM_FftDouble)->RangeMultiplier(2)->Range(2048, 16384);

// The planned FFT of a complex input: the two frames of a pitch block at
// once.
void BM_FftPlan(benchmark::State& state) {
  const auto n = static_cast<std::uint32_t>(state.range(0));
  const std::vector<double> input = tone(48000, 2 * n);
  const FftPlan plan(n);
  // The outputs as the pitch detection holds them: in one buffer, the
  // imaginary parts a cache line further than n values on.
  std::vector<double> outputs(2 * n + 8);
  for (auto _ : state) {
    plan.forward(input.data(), input.data() + n, outputs.data(), outputs.data() + n + 8);
    benchmark::DoNotOptimize(outputs.data());
  }
}
BENCHMARK(BM_FftPlan)->RangeMultiplier(2)->Range(2048, 16384);

void BM_DetectPitch(benchmark::State& state) {
  const auto rate = static_cast<std::uint32_t>(state.range(0));
  AnalysisSettings settings;
  set_default_settings(settings, rate);
  const std::vector<double> block = tone(rate, settings.fft_size + settings.fft_hop);
  PitchDetector detector(state.range(1) == 0 ? Evaluation::fast : Evaluation::reference);
  state.SetLabel(state.range(1) == 0 ? "fast" : "reference");
  for (auto _ : state) {
    benchmark::DoNotOptimize(detector.detect(block, settings.fft_size, settings.fft_hop, rate,
                                             settings.peak_threshold, settings.peak_count));
  }
  state.SetLabel("fft_size " + std::to_string(settings.fft_size));
}
BENCHMARK(BM_DetectPitch)->ArgsProduct({{22050, 44100}, {0, 1}});

// One pass's harmonics with the defaults, as the tone loop measures them
// (second argument 0), and the straightforward reference (1).
void BM_MeasureHarmonics(benchmark::State& state) {
  const auto rate = static_cast<std::uint32_t>(state.range(0));
  const Evaluation evaluation = state.range(1) == 0 ? Evaluation::fast : Evaluation::reference;
  AnalysisSettings settings;
  set_default_settings(settings, rate);
  const double f0 = 440.3;
  const std::vector<double> frame = tone(rate, dft_frame_length(f0, settings), f0);
  std::vector<double> amplitudes(settings.harmonic_count + 1);
  HarmonicAccumulator accumulator(evaluation);
  for (auto _ : state) {
    accumulator.start(f0, settings);
    accumulator.add(frame);
    accumulator.amplitudes(amplitudes);
    benchmark::DoNotOptimize(amplitudes.data());
  }
  state.SetLabel(evaluation == Evaluation::fast ? "fast" : "reference");
}
BENCHMARK(BM_MeasureHarmonics)
    ->ArgsProduct({{44100, 48000}, {0, 1}})
    ->Unit(benchmark::kMillisecond);

// The long session, written into the build folder when it is not there.
std::string session_path() {
  static const std::string path = [] {
    const std::string p = TONEPRINT_BENCH_DIR "/long-session.wav";
    if (!std::filesystem::exists(p) && !bench::write_long_session(p)) std::perror(p.c_str());
    return p;
  }();
  return path;
}

// The whole analysis of the long session with the defaults, report and all.
void BM_LongSession(benchmark::State& state) {
  const std::string path = session_path();
  for (auto _ : state) {
    WaveFile wave;
    if (!wave.open_read(path.c_str())) {
      state.SkipWithError("the long session could not be opened");
      return;
    }
    AnalysisSettings settings;
    set_default_settings(settings, wave.sample_rate());
    std::FILE* report = std::tmpfile();
    NullOutput console;
    write_report_header(report, settings);
    analyse_tones(wave, settings, report, console);
    std::fclose(report);
  }
  state.counters["x_real_time"] =
      benchmark::Counter(bench::session_seconds * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate);
}
BENCHMARK(BM_LongSession)->Unit(benchmark::kSecond)->UseRealTime()->MinTime(3.0);

// The long session through the front-ends' run on one thread, without
// (0) and with (1) the partials analysis: their processor times' ratio is
// what --partials costs.
void BM_LongSessionPartials(benchmark::State& state) {
  const std::string path = session_path();
  AnalysisOptions options;
  options.one_thread = true;
  options.partials = state.range(0) != 0;
  const SettingsFor defaults = [](std::uint32_t rate, AnalysisSettings& settings) {
    set_default_settings(settings, rate);
    return std::string();
  };
  for (auto _ : state) {
    Progress progress;
    const RecordingResult result = analyse_file(path, path, options, defaults, progress);
    if (!result.error.empty() || result.tones.empty()) {
      state.SkipWithError("the long session could not be analysed");
      return;
    }
    benchmark::DoNotOptimize(result.tones.back().frequency());
  }
}
BENCHMARK(BM_LongSessionPartials)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace
}  // namespace toneprint

BENCHMARK_MAIN();
