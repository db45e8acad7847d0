#pragma once

// A recording as the analysis reads it: one value per sample frame (one
// channel, or the mean of all of them), on the 16-bit scale whatever the
// file stores (full scale 32768), served in blocks. Readers of each file
// format implement it; the analysis only ever sees this.

#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <optional>
#include <string>

namespace toneprint {

// A note as a sampler stores it: a MIDI note number (60 is C4, 69 is A4)
// and a fraction of a semitone above it, in cents.
struct MidiNote {
  int midi = 69;
  double cents = 0.0;  // 0 to below 100
};

// The most channels a recording may have for the front-ends.
inline constexpr std::uint32_t max_channels = 256;

// Which channel of a recording of several becomes the analysed signal.
struct ChannelChoice {
  // 1-based channel number, or 0 for the mean of all channels.
  std::uint32_t channel = 0;
  static ChannelChoice mix() { return {}; }
};

// What a recording holds, as its reader found it.
struct RecordingFormat {
  std::string container;    // "WAVE", "FLAC", "AIFF", ...
  std::string sample_type;  // "uint8", "int16", "int24", "int32", "float32", "float64", ...
  std::uint32_t sample_rate = 0;
  std::uint32_t channels = 0;
  // Sample frames, or unknown_frames when the reader cannot tell in advance.
  std::uint64_t frames = 0;
  static constexpr std::uint64_t unknown_frames = std::numeric_limits<std::uint64_t>::max();
  // The note that a WAVE file's sampler chunk names as the recording's
  // pitch (its unity note and pitch fraction), when it has a valid one.
  std::optional<MidiNote> unity_note;
};

class SampleSource {
 public:
  virtual ~SampleSource() = default;

  // Fills `out` from the next samples; returns how many were stored. Fewer
  // than out.size() means the recording ended there, or could not be read
  // further (error() then says why).
  virtual std::size_t read(std::span<double> out) = 0;

  // Moves to sample `frame` (counted from where the source began), so that
  // the next read starts there. False, and nothing moves, when the source
  // cannot seek or the recording holds no such sample.
  virtual bool seek(std::uint64_t /*frame*/) { return false; }

  virtual const RecordingFormat& format() const = 0;

  // Why the last read stopped short of the recording's end, or empty.
  virtual const std::string& error() const = 0;
};

}  // namespace toneprint
