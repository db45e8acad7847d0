#pragma once

// Recordings in the containers that libsndfile reads (FLAC, AIFF, Ogg Vorbis
// and Opus, MP3, ...), and WAVE files of the encodings that the WAVE reader
// leaves to it (A-law, µ-law, ADPCM, ...), as a SampleSource. Built only
// with libsndfile.
//
// The samples are read as libsndfile's normalised doubles (full scale 1)
// times 32768, so that 16- and 24-bit integers give exactly the values that
// a WAVE file of them gives; a value that is not finite becomes 0. They are
// read in blocks of frames, so memory does not grow with the recording.

#include <sndfile.h>

#include <cstdio>
#include <string>
#include <vector>

#include "analysis/sample_source.h"

namespace toneprint {

class SndfileSource final : public SampleSource {
 public:
  // Opens the file. When libsndfile cannot read it or `choice` names a
  // channel that it does not have, error() says so and read() gives nothing.
  SndfileSource(const std::string& path, ChannelChoice choice);
  ~SndfileSource() override;

  SndfileSource(const SndfileSource&) = delete;
  SndfileSource& operator=(const SndfileSource&) = delete;

  std::size_t read(std::span<double> out) override;
  bool seek(std::uint64_t frame) override;
  const RecordingFormat& format() const override { return format_; }
  const std::string& error() const override { return error_; }

  // Whether libsndfile opened the file (error() may still refuse the
  // channel asked for).
  bool is_open() const { return file_ != nullptr; }

  // The file as libsndfile reads it, through calls of this reader.
  struct Stream {
    std::FILE* file = nullptr;
    int read_errno = 0;  // the first failed read's errno, or 0
  };

 private:
  Stream stream_;
  SNDFILE* file_ = nullptr;
  ChannelChoice choice_;
  RecordingFormat format_;
  std::string error_;
  std::vector<double> block_;  // interleaved frames as libsndfile gives them
};

}  // namespace toneprint
