#include "toneprint/toneprint.h"

#include <algorithm>
#include <cstdint>
#include <string_view>
#include <utility>

#include "classic/classic_report.h"
#include "readers/memory_source.h"

namespace toneprint {

template <typename Sample>
std::unique_ptr<SampleSource> memory_source(std::span<const Sample> samples,
                                            const RecordingFormat& format, ChannelChoice choice,
                                            double scale) {
  return std::make_unique<MemorySource<Sample>>(samples, format, choice, scale);
}

#define TONEPRINT_MEMORY_SOURCE(Sample)                                                   \
  template std::unique_ptr<SampleSource> memory_source<Sample>(                           \
      std::span<const Sample>, const RecordingFormat&, ChannelChoice, double);
TONEPRINT_MEMORY_SOURCE(std::int8_t)
TONEPRINT_MEMORY_SOURCE(std::uint8_t)
TONEPRINT_MEMORY_SOURCE(std::int16_t)
TONEPRINT_MEMORY_SOURCE(std::uint16_t)
TONEPRINT_MEMORY_SOURCE(std::int32_t)
TONEPRINT_MEMORY_SOURCE(std::uint32_t)
TONEPRINT_MEMORY_SOURCE(std::int64_t)
TONEPRINT_MEMORY_SOURCE(std::uint64_t)
TONEPRINT_MEMORY_SOURCE(float)
TONEPRINT_MEMORY_SOURCE(double)
#undef TONEPRINT_MEMORY_SOURCE

namespace {

// Tells progress.report of the reading every so many samples.
class ReportingSource final : public SampleSource {
 public:
  ReportingSource(std::unique_ptr<SampleSource> source, const Progress& progress)
      : source_(std::move(source)), progress_(progress) {}
  std::size_t read(std::span<double> out) override {
    const std::size_t got = source_->read(out);
    unreported_ += got;
    if (unreported_ >= report_interval) {
      unreported_ = 0;
      progress_.report(progress_);
    }
    return got;
  }
  bool seek(std::uint64_t frame) override { return source_->seek(frame); }
  const RecordingFormat& format() const override { return source_->format(); }
  const std::string& error() const override { return source_->error(); }

 private:
  static constexpr std::uint64_t report_interval = 1u << 18;
  std::unique_ptr<SampleSource> source_;
  const Progress& progress_;
  std::uint64_t unreported_ = 0;
};

}  // namespace

RecordingResult analyse_file(const std::string& path, const std::string& name,
                             const AnalysisOptions& options, const SettingsFor& settings_for,
                             Progress& progress) {
  RecordingResult result;
  result.path = name;
  std::unique_ptr<SampleSource> source = open_recording(path, options.channel, result.error);
  if (source == nullptr) return result;
  result.format = source->format();
  result.error = settings_for(result.format.sample_rate, result.settings);
  if (!result.error.empty()) return result;
  if (result.format.frames != RecordingFormat::unknown_frames) {
    progress.frames = result.format.frames;
  }
  const auto reported = [&progress](std::unique_ptr<SampleSource> opened) {
    if (opened == nullptr || !progress.report) return opened;
    return std::unique_ptr<SampleSource>(
        std::make_unique<ReportingSource>(std::move(opened), progress));
  };
  source = reported(std::move(source));
  const Reopen reopen = [&](std::string& error) {
    return reported(open_recording(path, options.channel, error));
  };
  analyse_source(source, reopen, options, result, progress.read);
  return result;
}

std::string guard_octaves_in_file(RecordingResult& result, const Tuning& tuning,
                                  const std::string& path, const AnalysisOptions& options) {
  // Opened again only for a tone that the guard checks.
  const auto checked = [&tuning](const ToneRecord& tone) {
    return needs_octave_guard(tone, tuning);
  };
  if (!guards_octaves(options) ||
      std::none_of(result.tones.begin(), result.tones.end(), checked)) {
    return {};
  }
  std::string error;
  const std::unique_ptr<SampleSource> source = open_recording(path, options.channel, error);
  if (source == nullptr) return error;
  return guard_octaves(result, tuning, *source, options);
}

std::string failure_message(PassFailure failure) {
  std::string_view line = failure_line(failure);
  while (!line.empty() && (line.back() == '\n' || line.back() == ' ')) line.remove_suffix(1);
  return std::string(line);
}

}  // namespace toneprint
