#pragma once

// The report as one self-contained HTML page: per recording an overview of
// its level and tones, the tones' tuning, a map of their harmonic levels,
// a bar chart per tone, and the numbers with the settings used; where the
// run measured the partials, also each tone's partials against the
// harmonic series, the tones' inharmonicity B by note, and their vibrato
// (the page of a run without them is exactly as before); where a target
// was asked for, each tone's target in the tables and, at the page's end,
// every tone's deviation from its target by key with the reference pitch
// that fits them best. Inline SVG
// and one style sheet; no script, nothing fetched; light and dark colour
// schemes, and printable.

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "toneprint/toneprint.h"
#include "html/markup_writer.h"
#include "html/report_figures.h"

namespace toneprint {

class HtmlReport {
 public:
  // `generator` names the program and version; notes are named for A4 =
  // `a4` Hz; `partials` says that the run measured the partials; `tuning`,
  // that the tones are judged against its targets.
  HtmlReport(std::string generator, double a4, bool partials = false,
             std::optional<Tuning> tuning = std::nullopt)
      : generator_(std::move(generator)), a4_(a4), partials_(partials), tuning_(std::move(tuning)) {}

  // The page's start, up to the first recording.
  std::string begin() const;
  // One recording's section; `settings` are the names and values to list.
  std::string recording(const RecordingResult& result,
                        const std::vector<std::pair<std::string, std::string>>& settings);
  // The page's end; with a tuning, after the run's deviations by key and
  // `best`, the reference pitch that fits them, where there is one.
  std::string end(const std::optional<BestReference>& best = std::nullopt) const;

 private:
  void recording_section(MarkupWriter& w, const RecordingResult& result,
                         const std::vector<std::pair<std::string, std::string>>& settings,
                         int number) const;
  void tuning_and_timbre(MarkupWriter& w, const RecordingResult& result,
                         const RecordingFigure& figure) const;
  void tones_and_numbers(MarkupWriter& w, const RecordingResult& result,
                         const RecordingFigure& figure, int number) const;
  static void settings_table(MarkupWriter& w,
                             const std::vector<std::pair<std::string, std::string>>& settings);

  std::string generator_;
  double a4_;
  bool partials_;
  std::optional<Tuning> tuning_;
  int sections_ = 0;
  // The run's tones against their targets, gathered for the page's end.
  std::vector<TargetPoint> targets_;
};

}  // namespace toneprint
