#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <iterator>
#include <nlohmann/json.hpp>

#include "analysis/report.h"
#include "batch/recording_result.h"

namespace toneprint {
namespace {

std::string format_number(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

// Rounded to two decimals, without the sign of a negative zero.
double hundredths(double value) {
  const double rounded = std::round(value * 100.0) / 100.0;
  return rounded == 0.0 ? 0.0 : rounded;
}

std::string channel_text(const ChannelChoice& choice) {
  return choice.channel == 0 ? "mix" : std::to_string(choice.channel);
}

// file,tone,start_s,end_s,passes,frequency_hz,note,cents,spread_cents,
// max_fundamental,h0,...,hN: one row per tone. The frequency and the
// amplitudes have the classic report's digits; a tone too short to measure
// has empty pitch columns, a harmonic above the Nyquist limit an empty cell.
class CsvWriter final : public ResultWriter {
 public:
  CsvWriter(const BatchOptions& options, std::FILE* out) : options_(options), out_(out) {
    harmonics_ = static_cast<std::uint32_t>(
        options.given(Setting::harmonic_count).value_or(AnalysisSettings{}.harmonic_count));
    std::fputs(
        "file,tone,start_s,end_s,passes,frequency_hz,note,cents,spread_cents,max_fundamental",
        out_);
    for (std::uint32_t k = 0; k <= harmonics_; ++k) std::fprintf(out_, ",h%u", k);
    std::fputs("\n", out_);
  }

  void recording(const RecordingResult& result) override {
    const std::string file = csv_field(result.path);
    for (std::size_t i = 0; i < result.tones.size(); ++i) {
      const ToneRecord& tone = result.tones[i];
      std::fprintf(out_, "%s,%zu,%s,%s,%" PRIu32, file.c_str(), i + 1,
                   format_number("%.6f", result.seconds(tone.start)).c_str(),
                   format_number("%.6f", result.seconds(tone.end)).c_str(),
                   tone.totals.frame_count);
      if (!tone.measured()) {
        std::fputs(",,,,,", out_);
        for (std::uint32_t k = 0; k <= harmonics_; ++k) std::fputs(",", out_);
        std::fputs("\n", out_);
        continue;
      }
      const NearestNote note = nearest_note(tone.frequency(), options_.a4);
      std::fprintf(out_, ",%.3f,%s,%.2f,%.2f,%.1f", tone.frequency(), note.name.c_str(),
                   hundredths(note.cents), tone.spread_cents(),
                   tone.totals.max_fundamental_amplitude);
      for (std::uint32_t k = 0; k <= harmonics_; ++k) {
        const std::optional<double> amplitude = tone.harmonic(k);
        if (amplitude) {
          std::fprintf(out_, ",%.1f", *amplitude);
        } else {
          std::fputs(",", out_);
        }
      }
      std::fputs("\n", out_);
    }
  }

 private:
  const BatchOptions& options_;
  std::FILE* out_;
  std::uint32_t harmonics_ = 0;
};

// One document: the program, the run's settings, and every recording with
// its format, its settings, its tones and every pass, numbers at full
// precision. Amplitudes above the Nyquist limit are null.
class JsonWriter final : public ResultWriter {
 public:
  using json = nlohmann::ordered_json;

  JsonWriter(const BatchOptions& options, std::FILE* out) : options_(options), out_(out) {
    document_["program"] = "toneprint-batch";
    document_["version"] = TONEPRINT_VERSION;
    document_["a4_hz"] = options.a4;
    document_["channel"] = channel_text(options.channel);
    document_["recordings"] = json::array();
  }

  void recording(const RecordingResult& result) override {
    json entry;
    entry["file"] = result.path;
    if (!result.error.empty()) entry["error"] = result.error;
    if (result.opened) {
      entry["format"] = {{"container", result.format.container},
                         {"sample_type", result.format.sample_type},
                         {"sample_rate", result.format.sample_rate},
                         {"channels", result.format.channels},
                         {"duration_s", result.seconds(result.samples)}};
      json settings;
      for (std::size_t i = 0; i < setting_bounds.size(); ++i) {
        const Setting setting = setting_bounds[i].setting;
        std::string key = setting_option_name(i) + 2;
        std::replace(key.begin(), key.end(), '-', '_');
        const double value = setting == Setting::fft_choice
                                 ? static_cast<double>(result.settings.fft_size)
                                 : setting_value(result.settings, setting);
        if (setting_bounds[i].kind == SettingKind::whole) {
          settings[key] = static_cast<std::uint64_t>(value);
        } else {
          settings[key] = value;
        }
      }
      entry["settings"] = settings;
      entry["tones"] = json::array();
      for (std::size_t i = 0; i < result.tones.size(); ++i) {
        entry["tones"].push_back(tone(result, result.tones[i], i + 1));
      }
    }
    document_["recordings"].push_back(std::move(entry));
  }

  void finish() override {
    const std::string text = document_.dump(2) + "\n";
    std::fwrite(text.data(), 1, text.size(), out_);
  }

 private:
  static json amplitudes(const std::vector<double>& values) {
    json list = json::array();
    std::transform(values.begin(), values.end(), std::back_inserter(list),
                   [](double value) { return value < 0.0 ? json(nullptr) : json(value); });
    return list;
  }

  json tone(const RecordingResult& result, const ToneRecord& tone, std::size_t number) const {
    json entry;
    entry["tone"] = number;
    entry["start_s"] = result.seconds(tone.start);
    entry["end_s"] = result.seconds(tone.end);
    entry["start_sample"] = tone.start;
    entry["end_sample"] = tone.end;
    entry["passes"] = tone.totals.frame_count;
    if (tone.measured()) {
      const NearestNote note = nearest_note(tone.frequency(), options_.a4);
      entry["frequency_hz"] = tone.frequency();
      entry["note"] = note.name;
      entry["cents"] = note.cents;
      entry["spread_cents"] = tone.spread_cents();
      entry["max_fundamental"] = tone.totals.max_fundamental_amplitude;
      json harmonics = json::array();
      for (std::size_t k = 0; k < tone.totals.amplitude_sums.size(); ++k) {
        const std::optional<double> amplitude = tone.harmonic(k);
        harmonics.push_back(amplitude ? json(*amplitude) : json(nullptr));
      }
      entry["harmonics"] = harmonics;
    }
    entry["measured"] = json::array();
    for (const MeasuredPass& pass : tone.passes) {
      entry["measured"].push_back({{"time_s", result.seconds(pass.first)},
                                   {"fundamental_hz", pass.fundamental},
                                   {"amplitudes", amplitudes(pass.amplitudes)}});
    }
    entry["failed"] = json::array();
    for (const FailedPass& pass : tone.failures) {
      entry["failed"].push_back(
          {{"time_s", result.seconds(pass.first)}, {"message", pass.message}});
    }
    return entry;
  }

  const BatchOptions& options_;
  std::FILE* out_;
  json document_;
};

// Exactly the interactive program's report of one recording.
class ClassicWriter final : public ResultWriter {
 public:
  explicit ClassicWriter(std::FILE* out) : out_(out) {}

  void recording(const RecordingResult& result) override {
    if (!result.opened) return;
    write_report_header(out_, result.settings);
    for (const ToneRecord& tone : result.tones) write_tone_line(out_, tone.totals, result.settings);
  }

 private:
  std::FILE* out_;
};

}  // namespace

std::string csv_field(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

std::unique_ptr<ResultWriter> make_writer(const BatchOptions& options, std::FILE* out) {
  switch (options.format) {
    case OutputFormat::json: return std::make_unique<JsonWriter>(options, out);
    case OutputFormat::classic: return std::make_unique<ClassicWriter>(out);
    case OutputFormat::csv: break;
  }
  return std::make_unique<CsvWriter>(options, out);
}

}  // namespace toneprint
