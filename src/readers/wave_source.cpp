#include "readers/wave_source.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <limits>

#include "readers/channel_check.h"

namespace toneprint {
namespace {

constexpr std::uint16_t tag_pcm = 1;
constexpr std::uint16_t tag_ieee_float = 3;
constexpr std::uint16_t tag_extensible = 0xFFFE;

// Bytes read from the file at a time, rounded down to whole frames (but at
// least one frame).
constexpr std::uint32_t block_bytes = 64 * 1024;

static_assert(std::numeric_limits<float>::is_iec559 && std::numeric_limits<double>::is_iec559,
              "the float samples are decoded as the IEEE formats that they store");

std::string hex(std::uint16_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(value));
  return text;
}

// Why samples of this encoding cannot be decoded, or empty.
std::string encoding_problem(const WaveEncoding& encoding) {
  const unsigned bits = encoding.bits;
  if (encoding.kind == WaveEncoding::Kind::ieee_float) {
    if (bits == 32 || bits == 64) return {};
    return std::to_string(bits) + "-bit IEEE float samples are not read (only 32 and 64 bits)";
  }
  if (bits >= 8 && bits <= 32) return {};
  return std::to_string(bits) + "-bit integer samples are not read (only 8 to 32 bits)";
}

// The `count` bytes from `bytes` on, little-endian.
std::uint64_t little_endian(const unsigned char* bytes, std::uint32_t count) {
  std::uint64_t value = 0;
  for (std::uint32_t i = count; i-- > 0;) value = value << 8 | bytes[i];
  return value;
}

// The IEEE value that `stored` holds. Not std::bit_cast: Emscripten's C++
// library lacks it; the compiler's own builtin is the same cast.
template <typename Float, typename Bits>
Float float_of(Bits stored) {
  static_assert(sizeof(Float) == sizeof(Bits));
  return __builtin_bit_cast(Float, stored);
}

// The value of a sample stored in `bytes` little-endian bytes from `at`,
// on the 16-bit scale.
template <std::uint32_t bytes, bool is_float>
double sample(const unsigned char* at) {
  const std::uint64_t stored = little_endian(at, bytes);
  if constexpr (is_float) {
    if constexpr (bytes == 4) {
      return float_of<float>(static_cast<std::uint32_t>(stored)) * 32768.0;
    } else {
      return float_of<double>(stored) * 32768.0;
    }
  } else {
    // The container's bits at the top of 32, so that the sign is bit 31 and
    // full scale is 2^31; 8-bit samples are unsigned, offset by 128.
    auto top = static_cast<std::uint32_t>(stored << (32 - 8 * bytes));
    if constexpr (bytes == 1) top ^= 0x80000000u;
    return static_cast<std::int32_t>(top) / 65536.0;
  }
}

// Decodes `frames` frames of `channels` samples each: the sample of one
// channel (`offset` bytes into the frame), or with `mix` the channels' mean.
template <std::uint32_t bytes, bool is_float>
void decode(const unsigned char* frame, std::uint32_t frames, std::uint32_t channels, bool mix,
            std::uint32_t offset, double* out) {
  const std::size_t frame_bytes = std::size_t{bytes} * channels;
  if constexpr (bytes == 2 && !is_float) {
    if (!mix) {
      // The common case, 16-bit values one after the other or one channel
      // of several: each is its own value on the 16-bit scale, which the
      // compiler converts several at a time.
      const unsigned char* at = frame + offset;
      for (std::uint32_t i = 0; i < frames; ++i, at += frame_bytes) {
        out[i] = static_cast<std::int16_t>(static_cast<std::uint16_t>(at[0] | at[1] << 8));
      }
      return;
    }
  }
  for (std::uint32_t i = 0; i < frames; ++i, frame += frame_bytes) {
    double value = 0;
    if (mix) {
      for (std::size_t c = 0; c < channels; ++c) {
        value += sample<bytes, is_float>(frame + c * bytes);
      }
      value /= channels;
    } else {
      value = sample<bytes, is_float>(frame + offset);
    }
    if constexpr (is_float) {
      if (!std::isfinite(value)) value = 0.0;
    }
    out[i] = value;
  }
}

using Decoder = void (*)(const unsigned char*, std::uint32_t, std::uint32_t, bool, std::uint32_t,
                         double*);

Decoder decoder_for(WaveEncoding::Kind kind, std::uint32_t bytes) {
  if (kind == WaveEncoding::Kind::ieee_float) {
    return bytes == 4 ? decode<4, true> : decode<8, true>;
  }
  constexpr Decoder integers[] = {decode<1, false>, decode<2, false>, decode<3, false>,
                                  decode<4, false>};
  return integers[bytes - 1];
}

}  // namespace

std::optional<WaveEncoding> wave_encoding(const WaveFile& wave, std::string& error) {
  std::uint16_t tag = wave.format_tag();
  if (tag == tag_extensible) {
    if (wave.extension_size() < WaveFile::extensible_bytes) {
      error = "extensible WAVE format (0xFFFE) without its 22-byte extension";
      return std::nullopt;
    }
    tag = wave.subformat();
    if (tag != tag_pcm && tag != tag_ieee_float) {
      error = "unsupported subformat " + hex(tag) +
              " of the extensible WAVE format (only PCM 0x0001 and IEEE float 0x0003 are read)";
      return std::nullopt;
    }
  } else if (tag != tag_pcm && tag != tag_ieee_float) {
    error = "unsupported WAVE format tag " + hex(tag) +
            " (only PCM 0x0001, IEEE float 0x0003 and extensible 0xFFFE are read)";
    return std::nullopt;
  }
  if (wave.sample_rate() == 0) {
    error = "the recording declares a sample rate of 0";
    return std::nullopt;
  }
  return WaveEncoding{
      tag == tag_ieee_float ? WaveEncoding::Kind::ieee_float : WaveEncoding::Kind::integer,
      wave.bits_per_sample(), wave.channels()};
}

bool declares_other_encoding(const WaveFile& wave) {
  std::uint16_t tag = wave.format_tag();
  if (tag == tag_extensible) {
    if (wave.extension_size() < WaveFile::extensible_bytes) return false;
    tag = wave.subformat();
  }
  return tag != tag_pcm && tag != tag_ieee_float;
}

WaveSource::WaveSource(std::unique_ptr<WaveFile> wave, const WaveEncoding& encoding,
                       ChannelChoice choice)
    : WaveSource(*wave, encoding, choice) {
  owned_ = std::move(wave);
}

WaveSource::WaveSource(WaveFile& wave, const WaveEncoding& encoding, ChannelChoice choice)
    : wave_(wave), encoding_(encoding), choice_(choice), error_(encoding_problem(encoding)) {
  if (error_.empty()) error_ = channel_problem(choice, encoding.channels);
  if (!error_.empty()) return;
  container_bytes_ = (encoding.bits + 7u) / 8;
  frame_bytes_ = container_bytes_ * encoding.channels;
  const bool is_float = encoding.kind == WaveEncoding::Kind::ieee_float;
  const char* const integer_names[] = {"uint8", "int16", "int24", "int32"};
  format_.container = "WAVE";
  format_.sample_type = is_float ? (container_bytes_ == 4 ? "float32" : "float64")
                                 : integer_names[container_bytes_ - 1];
  format_.sample_rate = wave.sample_rate();
  format_.channels = encoding.channels;
  if (const auto& note = wave.sampler_note()) {
    format_.unity_note =
        MidiNote{static_cast<int>(note->unity_note), std::ldexp(note->pitch_fraction, -32) * 100.0};
  }
  origin_ = wave.data_bytes() - std::max<FileOffset>(wave.bytes_remaining(), 0);
  format_.frames = static_cast<std::uint64_t>(wave.data_bytes() - origin_) / frame_bytes_;
}

bool WaveSource::seek(std::uint64_t frame) {
  if (frame_bytes_ == 0 || !error_.empty() || frame > format_.frames) return false;
  return wave_.seek_data(origin_ + static_cast<FileOffset>(frame * frame_bytes_));
}

std::size_t WaveSource::read(std::span<double> out) {
  if (frame_bytes_ == 0 || !error_.empty()) return 0;
  const std::uint32_t block_frames = std::max(1u, block_bytes / frame_bytes_);
  const std::uint32_t channels = encoding_.channels;
  std::size_t done = 0;
  while (done < out.size()) {
    const auto whole_frames =
        static_cast<std::uint64_t>(std::max<FileOffset>(wave_.bytes_remaining(), 0)) / frame_bytes_;
    const auto frames = static_cast<std::uint32_t>(
        std::min<std::uint64_t>({out.size() - done, block_frames, whole_frames}));
    if (frames == 0) break;
    if (block_.empty()) block_.resize(std::size_t{block_frames} * frame_bytes_);
    if (!wave_.read_raw(block_.data(), frames * frame_bytes_)) {
      error_ = "the samples could not be read to the end of the data chunk";
      break;
    }
    // One channel alone is read as it is, not as a mean of one.
    const bool mix = choice_.channel == 0 && channels > 1;
    const std::uint32_t offset =
        choice_.channel == 0 ? 0 : (choice_.channel - 1) * container_bytes_;
    decoder_for(encoding_.kind, container_bytes_)(block_.data(), frames, channels, mix, offset,
                                                  out.data() + done);
    done += frames;
  }
  return done;
}

}  // namespace toneprint
