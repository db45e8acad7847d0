#pragma once

// A recording's tones as a record, gathered from the tone loop's events,
// with what a musician asks of each: the nearest note and how far from it.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/partial_results.h"
#include "analysis/sample_source.h"
#include "analysis/tone_events.h"

namespace toneprint {

// The equal-tempered note nearest to a frequency.
struct NearestNote {
  int midi = 0;        // 69 is A4, 60 is C4
  std::string name;    // scientific pitch notation with sharps: "A4", "C#5", "B-1"
  double cents = 0.0;  // the frequency's deviation from the note, -50 to +50
};

// The amplitude of a full-scale sine in sample units (the 16-bit scale
// that every recording is measured on): 0 dBFS.
inline constexpr double full_scale = 32768.0;

// The reference pitch that note names and cents are taken from: A4 in Hz,
// its default and the bounds the front-ends accept.
inline constexpr double default_a4 = 440.0;
inline constexpr double min_a4 = 100.0;
inline constexpr double max_a4 = 1000.0;

// The nearest note to `frequency` (Hz, above 0 and finite) when A4 is `a4` Hz.
NearestNote nearest_note(double frequency, double a4);

// What a failed pass's failure is called in results: "no peaks",
// "detection error", "vote rejected".
const char* failure_name(PassFailure failure);

// "C", "C#", ... "B" for a note number, with the octave (C4 = 60).
std::string note_name(int midi);

struct MeasuredPass {
  std::uint64_t first = 0;  // the pitch block's first sample
  double fundamental = 0.0;
  std::vector<double> amplitudes;  // per harmonic index; -1.0 above the Nyquist limit
  // Whether the tone's means include it (the consensus may leave it out).
  bool used = true;
  // What the robust mode's vote check made of it, and the vote it checked.
  VoteOutcome vote = VoteOutcome::kept;
  double voted = 0.0;
  // What the octave guard made of it, when it checked it.
  std::optional<OctaveCheck> octave = std::nullopt;
  // The partials analysis of the pass, when asked for and the pass allowed it.
  std::optional<PassPartials> partials = std::nullopt;
};

struct FailedPass {
  std::uint64_t first = 0;
  PassFailure failure = PassFailure::no_peaks;
};

struct ToneRecord {
  std::uint64_t start = 0;  // the first loud sample
  std::uint64_t end = 0;    // where the closing silence begins, or the recording ends
  ToneTotals totals;        // over the passes used
  std::vector<MeasuredPass> passes;
  std::vector<FailedPass> failures;
  // Set when the robust mode analysed a tone too short for one pass again:
  // from where (after its attack skip) to where (into its tail).
  std::uint64_t analysed_from = 0;
  std::uint64_t analysed_until = 0;
  // Set when the robust mode measured such a tone with a smaller pitch FFT
  // and shorter frames than the settings', since one pass of theirs did not
  // fit.
  struct ShortFrame {
    std::uint32_t fft_size = 0;
    std::uint32_t fft_hop = 0;
    double frame_seconds = 0.0;
  };
  std::optional<ShortFrame> short_frame;
  // The partials analysis's summary of the used passes, when asked for and
  // a pass allowed it.
  std::optional<TonePartials> partials;
  // The note the tone is expected to sound, when the user gave one.
  std::optional<MidiNote> expected;
  // What the octave guard found, when it checked the tone: the frequency
  // before, the target, the frequency after, whether the expected pitch was
  // taken, and the evidence of most of the passes that decided it.
  std::optional<OctaveCheck> octave_check;
  // Set when the robust mode split a tone of notes played legato: the
  // number (from 1) that the unsplit tone would have had in the recording.
  std::optional<std::size_t> split_from;

  bool measured() const { return totals.pass_count > 0; }
  // The tone's fundamental (Hz): the partials analysis's when it gave one,
  // otherwise the mean over the passes; 0 when none was measured.
  double frequency() const;
  // The mean amplitude of harmonic index k over the used passes that
  // measured it; none when it lay above the Nyquist limit in all of them.
  std::optional<double> harmonic(std::size_t k) const;
  // The standard deviation of the used passes' fundamentals, in cents of
  // their mean (0 for a single pass).
  double spread_cents() const;
};

// Leaves out of a tone's means the passes that disagree with the rest: only
// those within agreement_cents of the pass with the most such neighbours
// stay (on a tie, the pass whose neighbours lie closest to it, then the
// earliest). The totals are summed again over them.
void keep_consensus(ToneRecord& tone);

// Gathers the tones as the loop reports them; with `consensus`, each
// tone's means keep to its agreeing passes, and the partials found (in a
// recording of `sample_rate`) are summed up over them.
class ToneCollector final : public ToneListener {
 public:
  explicit ToneCollector(bool consensus = false, std::uint32_t sample_rate = 0)
      : consensus_(consensus), sample_rate_(sample_rate) {}

  void tone_started(std::uint64_t start) override;
  void pass_started(std::uint64_t, double) override {}
  void pass_measured(std::uint64_t first, double f0, std::span<const double> amplitudes) override;
  void pass_failed(std::uint64_t first, PassFailure failure) override;
  void tone_ended(std::uint64_t end, const ToneTotals& totals) override;
  void pass_vote_checked(std::uint64_t first, double voted, VoteOutcome outcome) override;
  void pass_octave_checked(std::uint64_t first, const OctaveCheck& check) override;
  void tone_span(std::uint64_t attack_end, std::uint64_t until) override;
  void tone_frame(std::uint32_t fft_size, std::uint32_t fft_hop, double frame_seconds) override;
  void pass_partials(std::uint64_t first, std::optional<PassPartials>&& partials) override;

  std::vector<ToneRecord>& tones() { return tones_; }

 private:
  bool consensus_;
  std::uint32_t sample_rate_;
  // The last vote checked, for the pass it belongs to.
  std::uint64_t vote_first_ = 0;
  double voted_ = 0.0;
  VoteOutcome vote_ = VoteOutcome::kept;
  // The last octave check, for the pass it belongs to.
  std::uint64_t octave_first_ = 0;
  std::optional<OctaveCheck> octave_;
  std::vector<ToneRecord> tones_;
  ToneRecord current_;
};

}  // namespace toneprint
