#include "support/riff_builder.h"

namespace toneprint::test {

std::string u16le(std::uint16_t value) {
  return {static_cast<char>(value & 0xFF), static_cast<char>(value >> 8)};
}

std::string u32le(std::uint32_t value) {
  return u16le(static_cast<std::uint16_t>(value & 0xFFFF)) +
         u16le(static_cast<std::uint16_t>(value >> 16));
}

std::string chunk(std::string_view id, std::string_view contents) {
  std::string bytes = chunk_declaring(id, static_cast<std::uint32_t>(contents.size()), contents);
  if (contents.size() % 2 != 0) bytes += '\0';
  return bytes;
}

std::string chunk_declaring(std::string_view id, std::uint32_t declared,
                            std::string_view contents) {
  return std::string(id) + u32le(declared) + std::string(contents);
}

std::string riff(std::string_view form_type, std::string_view chunks) {
  return chunk_declaring("RIFF", static_cast<std::uint32_t>(4 + chunks.size()),
                         std::string(form_type) + std::string(chunks));
}

std::string format_fields(const Format& f, std::string_view extra) {
  const auto block_align = f.block_align_value.value_or(
      static_cast<std::uint16_t>(f.channel_count * ((f.bits_per_sample + 7) / 8)));
  return u16le(f.format_tag_value) + u16le(f.channel_count) + u32le(f.rate) +
         u32le(f.rate * block_align) + u16le(block_align) + u16le(f.bits_per_sample) +
         std::string(extra);
}

std::string samples(std::initializer_list<std::int16_t> values) {
  return samples(std::vector<std::int16_t>(values));
}

std::string samples(const std::vector<std::int16_t>& values) {
  std::string bytes;
  bytes.reserve(values.size() * 2);
  for (const std::int16_t value : values) bytes += u16le(static_cast<std::uint16_t>(value));
  return bytes;
}

std::string mono16_wave(const std::vector<std::int16_t>& values) {
  return riff("WAVE", chunk("fmt ", format_fields({})) + chunk("data", samples(values)));
}

}  // namespace toneprint::test
