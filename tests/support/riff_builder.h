#pragma once

// Builds RIFF/WAVE files byte by byte, so that each malformed case in a test
// reads as a line or two: chunk("data", samples({1, 2, 3})).

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace toneprint::test {

std::string u16le(std::uint16_t value);
std::string u32le(std::uint32_t value);

// A chunk whose declared size is the size of its contents, followed by a pad
// byte when that size is odd.
std::string chunk(std::string_view id, std::string_view contents);

// A chunk header declaring `declared` bytes, followed by `contents` as given
// (no pad byte): for sizes that disagree with what follows.
std::string chunk_declaring(std::string_view id, std::uint32_t declared, std::string_view contents);

// A "RIFF" form of the given type holding `chunks`, its size declared right.
std::string riff(std::string_view form_type, std::string_view chunks);

// The contents of a "fmt " chunk: the 16 bytes of PCM fields, then `extra`.
// Mono 16-bit PCM at 44100 Hz unless changed: Format().channels(2).bits(8).
struct Format {
  std::uint16_t format_tag_value = 1;
  std::uint16_t channel_count = 1;
  std::uint32_t rate = 44100;
  std::uint16_t bits_per_sample = 16;
  // Unset means "channels × bytes per sample", as a correct writer sets it.
  std::optional<std::uint16_t> block_align_value;

  Format& format_tag(std::uint16_t v) {
    format_tag_value = v;
    return *this;
  }
  Format& channels(std::uint16_t v) {
    channel_count = v;
    return *this;
  }
  Format& sample_rate(std::uint32_t v) {
    rate = v;
    return *this;
  }
  Format& bits(std::uint16_t v) {
    bits_per_sample = v;
    return *this;
  }
  Format& block_align(std::uint16_t v) {
    block_align_value = v;
    return *this;
  }
};
std::string format_fields(const Format& format, std::string_view extra = {});

// Little-endian 16-bit samples.
std::string samples(std::initializer_list<std::int16_t> values);
std::string samples(const std::vector<std::int16_t>& values);

// A plain mono 16-bit PCM recording at 44100 Hz holding these samples.
std::string mono16_wave(const std::vector<std::int16_t>& values);

}  // namespace toneprint::test
