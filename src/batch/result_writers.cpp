#include "batch/result_writers.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <nlohmann/json.hpp>
#include <sstream>

#include "classic/classic_report.h"
#include "html/html_report.h"
#include "html/tone_table.h"

namespace toneprint {
namespace {

double shown_setting(const AnalysisSettings& settings, std::size_t index) {
  return setting_value(settings, setting_bounds[index].setting);
}

// A name of the tables as a key: "follow_tail" for "follow-tail".
std::string key_of(const char* name) {
  std::string key = name;
  std::replace(key.begin(), key.end(), '-', '_');
  return key;
}

// A number in a CSV cell, without the sign of a negative zero.
std::string number_cell(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  if (text[0] == '-' && std::strtod(text, nullptr) == 0.0) return text + 1;
  return text;
}

std::string channel_text(const ChannelChoice& choice) {
  return choice.channel == 0 ? "mix" : std::to_string(choice.channel);
}

// file, then the tone table's columns: one row per tone.
class CsvWriter final : public ResultWriter {
 public:
  CsvWriter(const BatchOptions& options, std::FILE* out) : options_(options), out_(out) {
    harmonics_ = static_cast<std::uint32_t>(
        options.given(Setting::harmonic_count).value_or(AnalysisSettings{}.harmonic_count));
    std::fputs("file", out_);
    for (const std::string& column : with_target(tone_table_columns(harmonics_), [] {
           return target_table_columns();
         })) {
      std::fprintf(out_, ",%s", column.c_str());
    }
    if (options_.partials) std::fputs(",b,vibrato_hz,vibrato_cents", out_);
    for (const std::string& column : timbre_table_columns()) {
      std::fprintf(out_, ",%s", column.c_str());
    }
    std::fputs("\n", out_);
  }

  void recording(const RecordingResult& result) override {
    const std::string file = csv_field(result.path);
    for (std::size_t i = 0; i < result.tones.size(); ++i) {
      std::fputs(file.c_str(), out_);
      for (const std::string& cell :
           with_target(tone_table_row(result, i, harmonics_, options_.a4),
                       [&] { return target_table_cells(result.tones[i], *options_.tuning); })) {
        std::fprintf(out_, ",%s", csv_field(cell).c_str());
      }
      if (options_.partials) {
        // B and the vibrato, empty where the tone has none.
        const std::optional<TonePartials>& partials = result.tones[i].partials;
        const bool b = partials && partials->inharmonicity;
        const bool vibrato = partials && partials->vibrato;
        std::fprintf(out_, ",%s,%s,%s",
                     b ? number_cell("%.6g", partials->inharmonicity->b).c_str() : "",
                     vibrato ? number_cell("%.2f", partials->vibrato->rate_hz).c_str() : "",
                     vibrato ? number_cell("%.1f", partials->vibrato->extent_cents).c_str() : "");
      }
      for (const std::string& cell :
           timbre_table_cells(result.tones[i], result.format.sample_rate, options_.partials)) {
        std::fprintf(out_, ",%s", cell.c_str());
      }
      std::fputs("\n", out_);
    }
  }

 private:
  // The table's cells with the target's put in, when a target was asked
  // for.
  template <typename Cells>
  std::vector<std::string> with_target(std::vector<std::string> row, Cells cells) const {
    if (!options_.tuning) return row;
    const std::vector<std::string> added = cells();
    row.insert(row.begin() + static_cast<std::ptrdiff_t>(target_table_at), added.begin(),
               added.end());
    return row;
  }

  const BatchOptions& options_;
  std::FILE* out_;
  std::uint32_t harmonics_ = 0;
};

// A row per tone and partial, for the tones that the partials analysis
// summed up: tidy for spreadsheets and data frames.
class PartialsCsvWriter final : public ResultWriter {
 public:
  PartialsCsvWriter(const BatchOptions& options, std::FILE* out) : options_(options), out_(out) {
    std::fputs(
        "file,tone,note,partial,frequency_hz,cents_from_harmonic,amplitude,level_db,below_noise\n",
        out_);
  }

  void recording(const RecordingResult& result) override {
    const std::string file = csv_field(result.path);
    for (std::size_t i = 0; i < result.tones.size(); ++i) {
      const ToneRecord& tone = result.tones[i];
      if (!tone.partials) continue;
      const std::string note = nearest_note(tone.frequency(), options_.a4).name;
      for (const TonePartial& p : tone.partials->partials) {
        const auto cell = [](const char* format, const std::optional<double>& value) {
          return value ? number_cell(format, *value) : std::string();
        };
        std::fprintf(out_, "%s,%zu,%s,%d,%s,%s,%s,%s,%s\n", file.c_str(), i + 1, note.c_str(),
                     p.number, cell("%.4f", p.frequency).c_str(),
                     cell("%.3f", p.cents_from_harmonic).c_str(), cell("%.2f", p.amplitude).c_str(),
                     cell("%.2f", p.level_db).c_str(), p.below_noise ? "true" : "false");
      }
    }
  }

 private:
  const BatchOptions& options_;
  std::FILE* out_;
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
    document_["format_version"] = results_format_version;
    document_["a4_hz"] = options.a4;
    document_["channel"] = channel_text(options.channel);
    if (options.tuning) {
      const Tuning& tuning = *options.tuning;
      document_["tuning"] = {
          {"temperament",
           tuning.temperament.name.empty() ? std::string("equal") : tuning.temperament.name},
          {"temperament_root", pitch_class_name(tuning.root)},
          {"stretch_cents_per_octave", tuning.stretch_cents},
          {"expect", expectation_text(options.expectation.kind)}};
      document_["best_reference"] = nullptr;
    }
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
        const std::string key = key_of(setting_names[i].name);
        const double value = shown_setting(result.settings, i);
        if (setting_bounds[i].kind == SettingKind::whole) {
          settings[key] = static_cast<std::uint64_t>(value);
        } else {
          settings[key] = value;
        }
      }
      entry["settings"] = settings;
      if (options_.robust.any()) entry["robust"] = robust(options_.robust);
      entry["tones"] = json::array();
      for (std::size_t i = 0; i < result.tones.size(); ++i) {
        entry["tones"].push_back(tone(result, result.tones[i], i + 1));
      }
    }
    document_["recordings"].push_back(std::move(entry));
  }

  void finish(const std::optional<BestReference>& best) override {
    if (options_.tuning && best) {
      document_["best_reference"] = {
          {"a4_hz", best->a4_hz}, {"interval_hz", best->interval_hz}, {"tones", best->tones}};
    }
    // A file name need not be UTF-8, which JSON text must be: such bytes
    // become U+FFFD.
    const std::string text = document_.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
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
    entry["passes"] = tone.passes.size();
    entry["passes_used"] = tone.totals.pass_count;
    if (options_.robust.split_legato) {
      // The tone's number before notes played legato were split apart.
      entry["split_from"] = tone.split_from ? json(*tone.split_from) : json(nullptr);
    }
    if (tone.analysed_until > 0) {
      // Analysed again, with a shorter attack skip or into its tail.
      entry["analysed_from_s"] = result.seconds(tone.analysed_from);
      entry["analysed_until_s"] = result.seconds(tone.analysed_until);
      entry["attack_skip_s"] = result.seconds(tone.analysed_from - tone.start);
      entry["tail_followed"] = tone.analysed_until > tone.end;
      if (tone.short_frame) {
        entry["short_frame"] = {{"fft_size", tone.short_frame->fft_size},
                                {"hop", tone.short_frame->fft_hop},
                                {"frame_s", tone.short_frame->frame_seconds}};
      }
    }
    if (tone.measured()) {
      const NearestNote note = nearest_note(tone.frequency(), options_.a4);
      entry["frequency_hz"] = tone.frequency();
      entry["note"] = note.name;
      entry["cents"] = note.cents;
    }
    if (options_.tuning) add_target(entry, tone, *options_.tuning);
    if (tone.measured()) {
      entry["spread_cents"] = tone.spread_cents();
      entry["max_fundamental"] = tone.totals.max_fundamental_amplitude;
      json harmonics = json::array();
      for (std::size_t k = 0; k < tone.totals.amplitude_sums.size(); ++k) {
        const std::optional<double> amplitude = tone.harmonic(k);
        harmonics.push_back(amplitude ? json(*amplitude) : json(nullptr));
      }
      entry["harmonics"] = harmonics;
    }
    if (options_.partials && tone.measured()) add_partials(entry, tone);
    if (tone.measured()) entry["descriptors"] = descriptors(tone, result.format.sample_rate);
    entry["measured"] = json::array();
    for (const MeasuredPass& pass : tone.passes) {
      json measured = {{"time_s", result.seconds(pass.first)},
                       {"fundamental_hz", pass.fundamental},
                       {"amplitudes", amplitudes(pass.amplitudes)},
                       {"used", pass.used}};
      if (!pass.used) measured["left_out"] = "outside the consensus";
      if (options_.robust.check_vote) {
        measured["vote"] = vote_text(pass.vote);
        measured["voted_hz"] = pass.voted;
      }
      entry["measured"].push_back(std::move(measured));
    }
    entry["failed"] = json::array();
    for (const FailedPass& pass : tone.failures) {
      entry["failed"].push_back({{"time_s", result.seconds(pass.first)},
                                 {"failure", failure_name(pass.failure)},
                                 {"message", failure_message(pass.failure)}});
    }
    return entry;
  }

  // The target the tone is judged against, and what the octave guard
  // found when it checked the tone.
  static void add_target(json& entry, const ToneRecord& tone, const Tuning& tuning) {
    const std::optional<ToneTarget> target = tone_target(tone, tuning);
    entry["expected_note"] = target ? json(note_name(target->note.midi)) : json(nullptr);
    entry["expected_hz"] = target ? json(target->hz) : json(nullptr);
    entry["expected_from"] =
        target ? json(target->expected ? "expectation" : "nearest") : json(nullptr);
    entry["deviation_cents"] =
        target && target->deviation_cents ? json(*target->deviation_cents) : json(nullptr);
    if (tone.octave_check) {
      const OctaveCheck& check = *tone.octave_check;
      entry["octave_check"] = {{"found_hz", check.measured},
                               {"expected_hz", check.expected},
                               {"taken", check.taken ? "expected" : "found"},
                               {"evidence", octave_evidence_name(check.evidence)}};
    }
  }

  // The tone's timbre descriptors, null where no harmonic was left to
  // compute them from; an odd-to-even ratio or slope without the harmonics
  // it needs is null.
  json descriptors(const ToneRecord& tone, std::uint32_t sample_rate) const {
    const std::optional<TimbreDescriptors> d = tone_timbre(tone, sample_rate, options_.partials);
    if (!d) return nullptr;
    const auto optional = [](const std::optional<double>& value) {
      return value ? json(*value) : json(nullptr);
    };
    return {{"harmonics_used", d->harmonics_used},
            {"centroid_hz", d->centroid_hz},
            {"centroid_harmonic", d->centroid_harmonic},
            {"odd_even_db", optional(d->odd_even_db)},
            {"t1", d->t1},
            {"t2", d->t2},
            {"t3", d->t3},
            {"slope_db_per_octave", optional(d->slope_db_per_octave)}};
  }

  static json expectation_text(ExpectationKind kind) {
    switch (kind) {
      case ExpectationKind::list: return "list";
      case ExpectationKind::file_name: return "filename";
      case ExpectationKind::sampler: return "smpl";
      case ExpectationKind::none: break;
    }
    return nullptr;
  }

  // The partials analysis's summary; null where a tone's passes were too
  // short for it.
  static void add_partials(json& entry, const ToneRecord& tone) {
    const auto optional = [](const std::optional<double>& value) {
      return value && std::isfinite(*value) ? json(*value) : json(nullptr);
    };
    if (!tone.partials) {
      entry["inharmonicity"] = nullptr;
      entry["vibrato"] = nullptr;
      entry["partials"] = nullptr;
      return;
    }
    const TonePartials& partials = *tone.partials;
    if (partials.inharmonicity) {
      const Inharmonicity& b = *partials.inharmonicity;
      entry["inharmonicity"] = {{"b", b.b},
                                {"b_uncertainty", optional(b.uncertainty)},
                                {"b_uncertainty_from", b.from_passes ? "passes" : "fit"}};
    } else {
      entry["inharmonicity"] = nullptr;
    }
    if (partials.vibrato) {
      entry["vibrato"] = {{"rate_hz", partials.vibrato->rate_hz},
                          {"extent_cents", partials.vibrato->extent_cents}};
    } else {
      entry["vibrato"] = nullptr;
    }
    json list = json::array();
    std::transform(partials.partials.begin(), partials.partials.end(), std::back_inserter(list),
                   [&](const TonePartial& p) {
                     return json{{"number", p.number},
                                 {"frequency_hz", optional(p.frequency)},
                                 {"cents_from_harmonic", optional(p.cents_from_harmonic)},
                                 {"amplitude", optional(p.amplitude)},
                                 {"level_db", optional(p.level_db)},
                                 {"below_noise", p.below_noise}};
                   });
    entry["partials"] = std::move(list);
  }

  static json robust(const RobustSettings& robust) {
    json changes;
    for (const RobustChange& change : robust_changes) {
      changes[key_of(change.name)] = robust.*change.flag;
      if (change.flag == &RobustSettings::follow_tail) changes["tail_depth_db"] = robust.tail_depth_db;
    }
    return changes;
  }

  static const char* vote_text(VoteOutcome outcome) {
    switch (outcome) {
      case VoteOutcome::replaced_by_period: return "replaced by the period's bin";
      case VoteOutcome::replaced_by_lowest_peak: return "replaced by the lowest peak";
      case VoteOutcome::rejected: return "rejected";
      case VoteOutcome::kept: break;
    }
    return "kept";
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

// One page of charts and tables (see html/html_report.h), written
// recording by recording.
class HtmlWriter final : public ResultWriter {
 public:
  HtmlWriter(const BatchOptions& options, std::FILE* out)
      : options_(options),
        out_(out),
        report_(std::string("toneprint-batch ") + TONEPRINT_VERSION, options.a4, options.partials,
                options.tuning) {
    write(report_.begin());
  }

  void recording(const RecordingResult& result) override {
    std::vector<std::pair<std::string, std::string>> settings;
    if (result.opened) {
      for (std::size_t i = 0; i < setting_bounds.size(); ++i) {
        std::ostringstream text;
        text << shown_setting(result.settings, i);
        settings.emplace_back(setting_option_name(i), text.str());
      }
      std::ostringstream a4;
      a4 << options_.a4;
      settings.emplace_back("--a4", a4.str());
      settings.emplace_back("--channel", channel_text(options_.channel));
      if (options_.partials) settings.emplace_back("--partials", "on");
    }
    write(report_.recording(result, settings));
  }

  void finish(const std::optional<BestReference>& best) override { write(report_.end(best)); }

 private:
  void write(const std::string& text) { std::fwrite(text.data(), 1, text.size(), out_); }

  const BatchOptions& options_;
  std::FILE* out_;
  HtmlReport report_;
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
    case OutputFormat::html: return std::make_unique<HtmlWriter>(options, out);
    case OutputFormat::partials_csv: return std::make_unique<PartialsCsvWriter>(options, out);
    case OutputFormat::csv: break;
  }
  return std::make_unique<CsvWriter>(options, out);
}

}  // namespace toneprint
