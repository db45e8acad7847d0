#pragma once

// The samples of a WAVE file's data chunk as a SampleSource: integers of 8
// (unsigned) to 32 bits and IEEE floats of 32 and 64 bits, one channel or the
// mean of all of them.
//
// A sample fills ceil(bits / 8) bytes, its container; integers narrower than
// their container are left-justified in it, so they scale by the container.
// A frame is the channels' containers one after another, whatever the
// format chunk's block_align declares. On the 16-bit scale an 8-bit sample v
// is (v - 128) * 256, a 16-bit one v, a 24-bit one v / 256, a 32-bit integer
// v / 65536 and a float v * 32768. A float value that is not finite (as
// stored, once scaled, or in the mean) becomes 0.
//
// The format's unity_note is the WaveFile's sampler note, its pitch
// fraction in cents.
//
// The data chunk is read in blocks of whole frames through the WaveFile, so
// a last frame that the chunk holds only in part is never read, and memory
// does not grow with the recording.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "analysis/sample_source.h"
#include "riff/wave_file.h"

namespace toneprint {

// How the samples of a data chunk are stored. The defaults are the
// interactive program's recordings: mono, signed 16-bit.
struct WaveEncoding {
  enum class Kind {
    integer,     // unsigned at 8 bits and below, signed above
    ieee_float,  // 32 or 64 bits
  };
  Kind kind = Kind::integer;
  std::uint16_t bits = 16;  // bits per sample as declared
  std::uint16_t channels = 1;
};

// The encoding that the open file's format chunk declares: PCM (format tag
// 1), IEEE float (3), or the extensible format (0xFFFE) whose subformat is
// one of those. Anything else, or a sample rate of 0, is refused: no value,
// and `error` says why. Its bits and channels are checked by the WaveSource
// built on it.
std::optional<WaveEncoding> wave_encoding(const WaveFile& wave, std::string& error);

// Whether the format chunk declares an encoding other than PCM and IEEE
// float, directly or as the extensible format's subformat: one that this
// reader refuses but another decoder may read (A-law, ADPCM, ...).
bool declares_other_encoding(const WaveFile& wave);

class WaveSource final : public SampleSource {
 public:
  // Reads `wave`, which the caller keeps open while this object lives, from
  // its read position on as `encoding` says, whatever its format chunk
  // declares. When the encoding cannot be read or `choice` names a channel
  // that it does not have, error() says so and read() gives nothing.
  WaveSource(WaveFile& wave, const WaveEncoding& encoding, ChannelChoice choice);
  // The same, owning the file (which must not be null).
  WaveSource(std::unique_ptr<WaveFile> wave, const WaveEncoding& encoding, ChannelChoice choice);

  std::size_t read(std::span<double> out) override;
  bool seek(std::uint64_t frame) override;
  const RecordingFormat& format() const override { return format_; }
  const std::string& error() const override { return error_; }

 private:
  std::unique_ptr<WaveFile> owned_;
  WaveFile& wave_;
  WaveEncoding encoding_;
  ChannelChoice choice_;
  std::uint32_t container_bytes_ = 0;
  std::uint32_t frame_bytes_ = 0;
  FileOffset origin_ = 0;  // where the first frame begins, after data_start()
  RecordingFormat format_;
  std::string error_;
  std::vector<unsigned char> block_;
};

}  // namespace toneprint
