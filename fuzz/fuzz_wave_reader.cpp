// The WAVE reader on any bytes: a file that opens is read to the end of its
// data chunk, with the skips that the tone loop asks for, and the reader
// must keep to the data chunk and come back exactly over what it read. Then
// its samples are decoded as the format chunk declares them.

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "fuzz_support.h"
#include "readers/wave_source.h"
#include "riff/wave_file.h"

using toneprint::FileOffset;
using toneprint::WaveEncoding;
using toneprint::WaveFile;

namespace {

// The next 2 bytes of the data chunk: a sample, or raw bytes when the
// samples are not 16-bit (read_sample refuses them without moving).
bool read_step(WaveFile& wave, std::int16_t& value) {
  if (wave.bits_per_sample() == 16) return wave.read_sample(value);
  const std::uint64_t before = wave.sample_position();
  FUZZ_CHECK(!wave.read_sample(value) && wave.sample_position() == before);
  return wave.read_raw(&value, sizeof value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const char* const path = toneprint::fuzz::write_input_file(data, size);
  WaveFile wave;
  if (!wave.open_read(path)) return 0;
  // The data chunk lies in the file, and within its declared size unless
  // that size is the streaming writers' "to the end of the file".
  FUZZ_CHECK(wave.data_start() >= 0 && wave.data_bytes() >= 0);
  FUZZ_CHECK(wave.data_start() + wave.data_bytes() <= static_cast<FileOffset>(size));
  FUZZ_CHECK(wave.data_length() == 0xFFFFFFFFu || wave.data_bytes() <= wave.data_length());
  const auto capacity = static_cast<std::uint64_t>(wave.data_bytes()) / WaveFile::sample_bytes;
  const auto at = [&](std::uint64_t position) {
    return wave.sample_position() == position && wave.samples_remaining() == capacity - position;
  };
  FUZZ_CHECK(at(0));
  FUZZ_CHECK(!wave.sampler_note() || wave.sampler_note()->unity_note <= 127);

  // Counts from the input's last bytes, which the fuzzer varies freely: how
  // many samples are read before each skip back, and an attack length.
  const std::uint32_t group = 1 + (size > 0 ? data[size - 1] % 64 : 0);
  const std::uint32_t attack = size > 2 ? data[size - 2] | data[size - 3] << 8 : 0;

  // Every sample, group by group; after each group, back over it and again.
  std::vector<std::int16_t> all;
  std::int16_t value = 0;
  while (wave.samples_remaining() > 0) {
    const std::uint64_t begin = all.size();
    const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(group, capacity - begin));
    for (std::uint32_t i = 0; i < n; ++i) {
      FUZZ_CHECK(read_step(wave, value));
      all.push_back(value);
    }
    FUZZ_CHECK(at(all.size()) && wave.skip_back(n) && at(begin));
    for (std::uint64_t i = begin; i < all.size(); ++i) {
      FUZZ_CHECK(read_step(wave, value) && value == all[i]);
    }
  }
  FUZZ_CHECK(all.size() == capacity);

  // At the end: no sample more, and no skip forward, however short.
  FUZZ_CHECK(!wave.read_sample(value) && at(capacity));
  FUZZ_CHECK(!wave.skip_forward(0) && !wave.skip_forward(attack) && at(capacity));
  // Back over everything to the first sample; no further back than that.
  FUZZ_CHECK(wave.skip_back(static_cast<std::uint32_t>(capacity)) && at(0));
  FUZZ_CHECK(!wave.skip_back(1) && !wave.skip_back(0xFFFFFFFFu) && at(0));
  // An attack skip succeeds when a whole sample is left after it.
  const bool fits = std::uint64_t{attack} < capacity;
  FUZZ_CHECK(wave.skip_forward(attack) == fits && at(fits ? attack : 0));
  if (fits) FUZZ_CHECK(read_step(wave, value) && value == all[attack]);
  // To the last sample in one skip from the start.
  if (capacity > 0) {
    FUZZ_CHECK(wave.skip_back(static_cast<std::uint32_t>(wave.sample_position())) && at(0));
    FUZZ_CHECK(!wave.skip_forward(static_cast<std::uint32_t>(capacity)) && at(0));
    FUZZ_CHECK(wave.skip_forward(static_cast<std::uint32_t>(capacity - 1)));
    FUZZ_CHECK(read_step(wave, value) && value == all.back() && at(capacity));
  }

  // Decoded: every whole frame, each value finite, and integers within the
  // 16-bit range; or, for what cannot be read, a reason and nothing read.
  WaveFile again;
  FUZZ_CHECK(again.open_read(path));
  std::string error;
  const auto encoding = toneprint::wave_encoding(again, error);
  FUZZ_CHECK(encoding.has_value() == error.empty());
  if (!encoding) return 0;
  // The unity note is the sampler chunk's, found again at the second open,
  // and less than a semitone above its MIDI note.
  toneprint::WaveSource source(again, *encoding, {size > 3 ? data[size - 4] % 4u : 0});
  const auto& note = source.format().unity_note;
  const auto& sampler = wave.sampler_note();
  FUZZ_CHECK(note.has_value() == (source.error().empty() && sampler.has_value()));
  FUZZ_CHECK(!note || (std::cmp_equal(note->midi, sampler->unity_note) && note->cents >= 0 &&
                       note->cents < 100));
  const bool is_float = encoding->kind == WaveEncoding::Kind::ieee_float;
  std::vector<double> block(group);
  std::uint64_t frames = 0;
  for (std::size_t n = 0; (n = source.read(block)) > 0; frames += n) {
    for (std::size_t i = 0; i < n; ++i) {
      FUZZ_CHECK(std::isfinite(block[i]) && (is_float || std::abs(block[i]) <= 32768));
    }
  }
  FUZZ_CHECK(frames == (source.error().empty() ? source.format().frames : 0));
  return 0;
}
