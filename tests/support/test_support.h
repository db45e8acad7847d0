#pragma once

// What the tests share: recordings built byte by byte, tones built from a
// recipe, a folder of files of one test's own, a stream that can be read
// back, and runs of the real programs with typed answers piped in.

// Every test includes this header, so it brings the standard headers that
// most of them use.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <numbers>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/sample_source.h"

namespace toneprint::test {

// ------------------------------------------------------------ RIFF and WAVE

// A chunk header declaring `declared` bytes, then `contents` as given (no pad
// byte): for sizes that disagree with what follows.
std::string chunk_declaring(std::string_view id, std::uint32_t declared, std::string_view contents);

// A chunk declaring the size of its contents, with a pad byte after odd ones.
std::string chunk(std::string_view id, std::string_view contents);

// A "RIFF" form of this type holding `chunks`, its size declared right.
std::string riff(std::string_view form_type, std::string_view chunks);

// A "fmt " chunk, block align and byte rate as a correct writer sets them:
// PCM unless `tag` says otherwise; with a `subformat` (a format tag), the
// 22 bytes of the extensible format's extension follow its cbSize.
std::string fmt_chunk(std::uint16_t channels = 1, std::uint32_t rate = 44100,
                      std::uint16_t bits = 16, std::uint16_t tag = 1, int subformat = -1);

// Little-endian 16-bit samples.
std::string pcm(const std::vector<std::int16_t>& samples);

// A plain mono 16-bit recording of these samples.
std::string wave(const std::vector<std::int16_t>& samples, std::uint32_t rate = 44100);

// ------------------------------------------------------------------- tones

struct Partial {
  int harmonic;      // 1 is the fundamental
  double amplitude;  // peak, in sample units
  double phase;      // radians, of a sine
};
struct ToneRecipe {
  double fundamental;  // Hz
  std::vector<Partial> partials;
};

// The first `count` samples of the tone, computed in long double with each
// cycle count reduced to its fraction; partials above half the rate are left
// out. Rounded to 16-bit values unless `rounded` is false.
std::vector<double> synthesise(const ToneRecipe& recipe, std::uint32_t rate, std::size_t count,
                               bool rounded = true);

double cents(double measured, double expected);

// ------------------------------------------------------------------- files

// A folder of one test's own, removed with its contents at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  // The path of a file of that name in the folder.
  std::string file(std::string_view name) const;
  // Writes the bytes to that file; returns its path.
  std::string write(std::string_view name, std::string_view bytes) const;

 private:
  std::filesystem::path path_;
};

// A file's contents: as text (CR LF read back as LF on Windows) or as bytes.
std::string read_file(const std::string& path, bool binary = false);

// Everything written to a stream opened by std::tmpfile(), which it closes.
std::string contents_of(std::FILE* file);

// ----------------------------------------------------------------- sources

// A source of these samples at this rate, served at most `piece` at a time.
class VectorSource final : public SampleSource {
 public:
  VectorSource(std::vector<double> samples, std::uint32_t rate,
               std::size_t piece = std::numeric_limits<std::size_t>::max());
  std::size_t read(std::span<double> out) override;
  const RecordingFormat& format() const override { return format_; }
  const std::string& error() const override { return error_; }

 private:
  std::vector<double> samples_;
  std::size_t piece_;
  std::size_t next_ = 0;
  RecordingFormat format_;
  std::string error_;
};

// How often `part` occurs in `text`, overlaps included.
std::size_t occurrences(const std::string& text, const std::string& part);

// ----------------------------------------------------------- program runs

struct ProgramRun {
  int status = -1;      // exit status
  std::string console;  // standard output and standard error
};

// Runs `program` with `arguments` (quoted for a shell), its standard input
// from the file `input` and its console written to the file `output`.
ProgramRun run_program(const std::string& program, const std::string& arguments,
                       const std::string& input, const std::string& output);

}  // namespace toneprint::test
