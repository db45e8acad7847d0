#include "analysis/result_warnings.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

#include "analysis/partial_analysis.h"
#include "analysis/robust_settings.h"

namespace toneprint {
namespace {

std::string plural(std::size_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

// "2, 5 and 7": the tones' numbers as the results count them, from 1.
std::string tone_list(const std::vector<std::size_t>& numbers) {
  std::string text;
  for (std::size_t i = 0; i < numbers.size(); ++i) {
    if (i > 0) text += i + 1 == numbers.size() ? " and " : ", ";
    text += std::to_string(numbers[i]);
  }
  return text;
}

std::string seconds_text(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%g s", seconds);
  return text;
}

// Whether the consensus left out of a tone's means two or more passes that
// agree with each other: a note of their own rather than stray passes.
bool leaves_out_a_group(const ToneRecord& tone) {
  for (std::size_t i = 0; i < tone.passes.size(); ++i) {
    if (tone.passes[i].used) continue;
    for (std::size_t j = i + 1; j < tone.passes.size(); ++j) {
      if (!tone.passes[j].used &&
          std::fabs(1200.0 * std::log2(tone.passes[i].fundamental /
                                       tone.passes[j].fundamental)) <= agreement_cents) {
        return true;
      }
    }
  }
  return false;
}

}  // namespace

std::vector<std::string> result_warnings(const RecordingResult& result) {
  std::vector<std::string> lines;
  if (!result.opened) return lines;
  std::vector<std::size_t> short_tones;
  std::vector<std::size_t> spread_tones;
  std::vector<std::size_t> without_partials;
  std::vector<std::size_t> left_out_groups;
  double widest = 0.0;
  std::size_t failed = 0;
  std::vector<std::size_t> failed_tones;
  std::map<std::string, std::size_t> failures;  // by name, for a stable order
  for (std::size_t i = 0; i < result.tones.size(); ++i) {
    const ToneRecord& tone = result.tones[i];
    if (!tone.failures.empty()) {
      failed += tone.failures.size();
      failed_tones.push_back(i + 1);
      for (const FailedPass& pass : tone.failures) ++failures[failure_name(pass.failure)];
    } else if (!tone.measured()) {
      short_tones.push_back(i + 1);
    }
    if (result.partials && tone.measured() && !tone.partials) without_partials.push_back(i + 1);
    if (leaves_out_a_group(tone)) left_out_groups.push_back(i + 1);
    if (tone.measured() && tone.spread_cents() > doubtful_spread_cents) {
      spread_tones.push_back(i + 1);
      widest = std::max(widest, tone.spread_cents());
    }
  }
  if (!short_tones.empty()) {
    lines.push_back(plural(short_tones.size(), "tone", "tones") + " too short to measure (tone " +
                    tone_list(short_tones) + "): a pass needs " +
                    seconds_text(result.settings.min_tone_seconds) + " after the attack skip of " +
                    seconds_text(result.settings.attack_seconds));
  }
  if (!spread_tones.empty()) {
    char widest_text[32];
    std::snprintf(widest_text, sizeof widest_text, "%.0f", widest);
    lines.push_back(plural(spread_tones.size(), "tone's", "tones'") + " passes spread more than " +
                    std::to_string(static_cast<int>(doubtful_spread_cents)) + " cents (tone " +
                    tone_list(spread_tones) + ", up to " + widest_text +
                    "): often notes played legato, without silence between them");
  }
  if (!left_out_groups.empty()) {
    lines.push_back(plural(left_out_groups.size(), "tone's", "tones'") +
                    " means leave out passes that agree with each other but not with the "
                    "passes used (tone " +
                    tone_list(left_out_groups) +
                    "): often a second note played legato, which the legato split makes a tone "
                    "of its own");
  }
  if (!without_partials.empty()) {
    char cycles[32];
    std::snprintf(cycles, sizeof cycles, "%g", partials_min_cycles);
    lines.push_back(plural(without_partials.size(), "tone", "tones") +
                    " without partials (tone " + tone_list(without_partials) +
                    "): a pass needs " + cycles +
                    " cycles of the fundamental after the attack skip, and a pitch that can be "
                    "followed");
  }
  if (failed > 0) {
    std::string kinds;
    for (const auto& [name, count] : failures) {
      kinds += (kinds.empty() ? "" : ", ") + std::to_string(count) + " " + name;
    }
    lines.push_back(plural(failed, "pass", "passes") + " failed (tone " + tone_list(failed_tones) +
                    "): " + kinds);
  }
  return lines;
}

}  // namespace toneprint
