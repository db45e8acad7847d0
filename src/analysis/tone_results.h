#pragma once

// A recording's tones as a record, gathered from the tone loop's events,
// with what a musician asks of each: the nearest note and how far from it.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/tone_events.h"

namespace toneprint {

// The equal-tempered note nearest to a frequency.
struct NearestNote {
  int midi = 0;        // 69 is A4, 60 is C4
  std::string name;    // scientific pitch notation with sharps: "A4", "C#5", "B-1"
  double cents = 0.0;  // the frequency's deviation from the note, -50 to +50
};

// The nearest note to `frequency` (Hz, above 0 and finite) when A4 is `a4` Hz.
NearestNote nearest_note(double frequency, double a4);

// "C", "C#", ... "B" for a note number, with the octave (C4 = 60).
std::string note_name(int midi);

struct MeasuredPass {
  std::uint64_t first = 0;  // the pitch block's first sample
  double fundamental = 0.0;
  std::vector<double> amplitudes;  // per harmonic index; -1.0 above the Nyquist limit
};

struct FailedPass {
  std::uint64_t first = 0;
  PassFailure failure = PassFailure::no_peaks;
  std::string message;  // the console's line, without its line break
};

struct ToneRecord {
  std::uint64_t start = 0;  // the first loud sample
  std::uint64_t end = 0;    // where the closing silence begins, or the recording ends
  ToneTotals totals;
  std::vector<MeasuredPass> passes;
  std::vector<FailedPass> failures;

  bool measured() const { return totals.frame_count > 0; }
  // The mean fundamental over the passes (Hz); 0 when none was measured.
  double frequency() const;
  // The mean amplitude of harmonic index k; none above the Nyquist limit.
  std::optional<double> harmonic(std::size_t k) const;
  // The standard deviation of the passes' fundamentals, in cents of their
  // mean (0 for a single pass).
  double spread_cents() const;
};

// Gathers the tones as the loop reports them.
class ToneCollector final : public ToneListener {
 public:
  void tone_started(std::uint64_t start) override;
  void pass_started(std::uint64_t, double) override {}
  void pass_measured(std::uint64_t first, double f0, std::span<const double> amplitudes) override;
  void pass_failed(std::uint64_t first, PassFailure failure, std::string_view message) override;
  void tone_ended(std::uint64_t end, const ToneTotals& totals) override;

  std::vector<ToneRecord>& tones() { return tones_; }

 private:
  std::vector<ToneRecord> tones_;
  ToneRecord current_;
};

}  // namespace toneprint
