#include "session.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace toneprint::bench {
namespace {

constexpr std::uint32_t rate = 48000;
constexpr int tone_count = 120;
constexpr double tone_seconds = 2.0;
constexpr double gap_seconds = 0.8;
constexpr int harmonics = 12;

void put_u16(std::vector<unsigned char>& out, std::uint32_t v) {
  out.push_back(static_cast<unsigned char>(v & 0xFF));
  out.push_back(static_cast<unsigned char>((v >> 8) & 0xFF));
}

void put_u32(std::vector<unsigned char>& out, std::uint32_t v) {
  put_u16(out, v & 0xFFFF);
  put_u16(out, v >> 16);
}

}  // namespace

bool write_long_session(const std::string& path) {
  const auto tone_samples = static_cast<std::size_t>(tone_seconds * rate);
  const auto gap_samples = static_cast<std::size_t>(gap_seconds * rate);
  const std::size_t total = tone_count * (tone_samples + gap_samples);
  const auto data_bytes = static_cast<std::uint32_t>(total * 2);

  std::vector<unsigned char> bytes;
  bytes.reserve(44 + data_bytes);
  for (const char c : {'R', 'I', 'F', 'F'}) bytes.push_back(static_cast<unsigned char>(c));
  put_u32(bytes, 36 + data_bytes);
  for (const char c : {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '}) {
    bytes.push_back(static_cast<unsigned char>(c));
  }
  put_u32(bytes, 16);
  put_u16(bytes, 1);  // PCM
  put_u16(bytes, 1);  // mono
  put_u32(bytes, rate);
  put_u32(bytes, rate * 2);
  put_u16(bytes, 2);
  put_u16(bytes, 16);
  for (const char c : {'d', 'a', 't', 'a'}) bytes.push_back(static_cast<unsigned char>(c));
  put_u32(bytes, data_bytes);

  const double two_pi = 6.283185307179586;
  const auto fade = static_cast<std::size_t>(0.01 * rate);
  for (int tone = 0; tone < tone_count; ++tone) {
    const double f0 = 82.40689 * std::pow(2.0, (tone % 48) / 12.0);
    for (std::size_t n = 0; n < tone_samples; ++n) {
      double value = 0.0;
      for (int k = 1; k <= harmonics; ++k) {
        const double f = k * f0;
        if (2 * f >= rate) break;
        const double level = 9000.0 / std::pow(k, 1.2);
        const double phase = 0.7 * k * k;  // spread, so the peaks do not add up
        value +=
            level * std::sin(two_pi * std::fmod(f * static_cast<double>(n) / rate, 1.0) + phase);
      }
      const std::size_t edge = std::min(n, tone_samples - 1 - n);
      if (edge < fade) value *= static_cast<double>(edge) / static_cast<double>(fade);
      const long sample = std::lround(std::fmax(-32768.0, std::fmin(32767.0, value)));
      put_u16(bytes, static_cast<std::uint32_t>(sample) & 0xFFFF);
    }
    for (std::size_t n = 0; n < gap_samples; ++n) put_u16(bytes, 0);
  }

  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && written;
}

}  // namespace toneprint::bench
