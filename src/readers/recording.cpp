#include "readers/recording.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "readers/wave_source.h"
#include "riff/wave_file.h"

#if defined(TONEPRINT_HAVE_SNDFILE)
#include "readers/sndfile_source.h"
#endif

namespace toneprint {
namespace {

// Whether the file begins as a RIFF form of type WAVE; false with `error`
// set when it cannot be opened.
bool starts_as_wave(const std::string& path, bool& is_wave, std::string& error) {
  std::FILE* const file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    error = std::string("cannot open the file: ") + std::strerror(errno);
    return false;
  }
  unsigned char head[12];
  const std::size_t got = std::fread(head, 1, sizeof head, file);
  std::fclose(file);
  is_wave = got == sizeof head && std::memcmp(head, "RIFF", 4) == 0 &&
            std::memcmp(head + 8, "WAVE", 4) == 0;
  return true;
}

// The source, or null with `error` saying why it cannot be read.
std::unique_ptr<SampleSource> checked(std::unique_ptr<SampleSource> source, std::string& error) {
  if (source->error().empty()) return source;
  error = source->error();
  return nullptr;
}

}  // namespace

std::unique_ptr<SampleSource> open_recording(const std::string& path, ChannelChoice choice,
                                             std::string& error) {
  error.clear();
  bool is_wave = false;
  if (!starts_as_wave(path, is_wave, error)) return nullptr;
  if (is_wave) {
    auto wave = std::make_unique<WaveFile>();
    if (!wave->open_read(path.c_str())) {
      error = wave->error() != nullptr ? wave->error() : "out of memory";
      return nullptr;
    }
    const std::optional<WaveEncoding> encoding = wave_encoding(*wave, error);
    if (encoding) {
      return checked(std::make_unique<WaveSource>(std::move(wave), *encoding, choice), error);
    }
#if defined(TONEPRINT_HAVE_SNDFILE)
    // A-law, µ-law, ADPCM and the like go to libsndfile; PCM and float stay
    // with the reader above, whose values are every front-end's.
    if (declares_other_encoding(*wave)) {
      wave.reset();
      auto source = std::make_unique<SndfileSource>(path, choice);
      if (source->is_open()) {
        error.clear();
        return checked(std::move(source), error);
      }
      error += "; " + source->error();
    }
#endif
    return nullptr;
  }
#if defined(TONEPRINT_HAVE_SNDFILE)
  return checked(std::make_unique<SndfileSource>(path, choice), error);
#else
  error = "not a WAVE file; this build reads only WAVE files (built without libsndfile)";
  return nullptr;
#endif
}

std::string sndfile_version() {
#if defined(TONEPRINT_HAVE_SNDFILE)
  return sf_version_string();
#else
  return {};
#endif
}

}  // namespace toneprint
