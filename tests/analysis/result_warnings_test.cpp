#include "analysis/result_warnings.h"
#include "analysis/tone_results.h"

#include <gtest/gtest.h>

using namespace toneprint;

namespace {

// A tone measured over passes at these fundamentals.
ToneRecord measured(std::vector<double> fundamentals) {
  ToneRecord tone;
  tone.totals.reset(1);
  for (const double f : fundamentals) {
    const double amplitudes[] = {1000.0, 100.0};
    tone.totals.add_pass(f, amplitudes);
    MeasuredPass pass;
    pass.fundamental = f;
    tone.passes.push_back(pass);
  }
  return tone;
}

}  // namespace

// Each kind of doubt is one line that names its tones, counted from 1.
TEST(ResultWarnings, OneLinePerKindOfDoubtNamingItsTones) {
  RecordingResult result;
  result.opened = true;
  result.settings.min_tone_seconds = 0.3;
  result.settings.attack_seconds = 0.2;
  result.tones.push_back(measured({440.0, 440.5}));      // 1: clean
  result.tones.push_back(measured({440.0}));             // 2: one failed pass
  result.tones.back().failures.push_back({0, PassFailure::no_peaks});
  result.tones.push_back(ToneRecord{});                  // 3: too short
  result.tones.push_back(measured({440.0, 660.0}));      // 4: spread 351 cents
  result.tones.push_back(measured({220.0}));             // 5: two failed passes
  result.tones.back().failures.push_back({0, PassFailure::vote_rejected});
  result.tones.back().failures.push_back({0, PassFailure::no_peaks});
  const std::vector<std::string> expected = {
      "1 tone too short to measure (tone 3): a pass needs 0.3 s after the attack skip of 0.2 s",
      "1 tone's passes spread more than 50 cents (tone 4, up to 351): often notes played legato, "
      "without silence between them",
      "3 passes failed (tone 2 and 5): 2 no peaks, 1 vote rejected",
  };
  EXPECT_EQ(result_warnings(result), expected);

  // With the partials asked for, the measured tones without them too.
  result.partials = true;
  result.tones[0].partials = TonePartials{};
  result.tones[4].partials = TonePartials{};
  const std::vector<std::string> lines = result_warnings(result);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[2],
            "2 tones without partials (tone 2 and 4): a pass needs 24 cycles of the fundamental "
            "after the attack skip, and a pitch that can be followed");

  // Nothing to doubt, or nothing read: no line.
  result.tones = {measured({440.0})};
  result.tones[0].partials = TonePartials{};
  EXPECT_TRUE(result_warnings(result).empty());
  result.opened = false;
  result.tones.push_back(ToneRecord{});
  EXPECT_TRUE(result_warnings(result).empty());
}

// A consensus that leaves out passes agreeing among themselves has dropped
// a note, not stray passes: the line names those tones alone.
TEST(ResultWarnings, NamesTheTonesWhoseConsensusLeftOutAnAgreeingGroup) {
  RecordingResult result;
  result.opened = true;
  for (const std::vector<double>& fundamentals : std::vector<std::vector<double>>{
           {440.0, 440.5, 441.0, 660.0, 661.0},   // 1: two passes at 660 Hz left out
           {440.0, 440.5, 441.0, 660.0, 700.0},   // 2: two left out, 102 cents apart
           {440.0, 440.5, 441.0, 660.0},          // 3: one left out
           {293.7, 294.0, 261.6, 262.0, 329.6}})  // 4: 262 Hz left out, 330 Hz alone
  {
    result.tones.push_back(measured(fundamentals));
    keep_consensus(result.tones.back());
  }
  const std::vector<std::string> expected = {
      "2 tones' means leave out passes that agree with each other but not with the passes used "
      "(tone 1 and 4): often a second note played legato, which the legato split makes a tone "
      "of its own",
  };
  EXPECT_EQ(result_warnings(result), expected);
}
