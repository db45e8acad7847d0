#pragma once

// The input recording: a WAVE file opened through a RiffFile, its format
// fields, and its samples served one at a time from the data chunk, with
// skips forward and back bounded by that chunk.
//
// Failures are returned as false; the text of the last one stays in error()
// and nothing is printed.
//
// Samples come only from the data chunk. Its usable length is the declared
// size clamped to what the file holds (a declared 0xFFFFFFFF, written by
// streaming writers, means "to the end of the file"); bytes of chunks stored
// after it are never read as sound. The skips count in the same 16-bit
// samples that read_sample() returns (2 bytes), whatever block_align()
// declares, so a skip back over n samples just read always returns exactly
// to where they began.
//
// The data chunk is read through a buffer of 64 KiB, so a sample costs a
// copy of two bytes and a skip only moves the read position.
//
// A sampler chunk ("smpl") is looked for on open, by the same walk over the
// form's chunks that finds the data chunk, so it counts before the data as
// well as after it. Only its first 36 bytes of fields are read; what it
// holds cannot make the open fail.

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "riff/file_offset.h"
#include "riff/riff_file.h"

namespace toneprint {

class WaveFile {
 public:
  // Bytes of one sample as read_sample() reads it, and so of one skip step.
  static constexpr std::uint32_t sample_bytes = 2;

  WaveFile() = default;
  ~WaveFile() { close(); }

  WaveFile(const WaveFile&) = delete;
  WaveFile& operator=(const WaveFile&) = delete;

  // Closes any open file, then opens the named WAVE file, decodes its format
  // chunk and leaves the read position at the first sample. On failure the
  // object is closed, error() says why, and format fields already decoded
  // keep their new values.
  bool open_read(const char* file_name);

  // Releases the file. Format fields, data bounds and error() stay.
  bool close();

  bool is_open() const { return reader_ != nullptr; }

  // Reads the next little-endian signed 16-bit sample. False ("Couldn't read
  // samples") with no file open or when fewer than 2 bytes of the data chunk
  // remain, which are then left unread; false ("Sample size mismatch") when
  // bits_per_sample() is not 16.
  bool read_sample(std::int16_t& sample);

  // Reads the next byte_count bytes of the data chunk. When fewer remain, the
  // ones there are consumed and stored and the result is false.
  bool read_raw(void* buffer, std::uint32_t byte_count);

  // Moves forward by `samples` samples if a whole sample remains in the data
  // chunk after the move; otherwise nothing moves and the result is false.
  bool skip_forward(std::uint32_t samples);

  // Moves back by `samples` samples unless that would pass data_start().
  bool skip_back(std::uint32_t samples);

  // Moves to `offset` bytes after data_start() if that is inside the data
  // chunk or just past its last usable byte; otherwise nothing moves.
  bool seek_data(FileOffset offset);

  std::uint16_t format_tag() const { return format_tag_; }
  std::uint16_t channels() const { return channels_; }
  std::uint32_t sample_rate() const { return sample_rate_; }
  std::uint32_t byte_rate() const { return byte_rate_; }
  std::uint16_t block_align() const { return block_align_; }
  std::uint16_t bits_per_sample() const { return bits_per_sample_; }

  // The format chunk's extension. extension_size() is its declared size
  // (cbSize), or 0 when the chunk has no room for that field or the size
  // claims more bytes than the chunk holds. When it is at least
  // extensible_bytes (WAVE_FORMAT_EXTENSIBLE), the valid bits per sample, the
  // channel mask and the first two bytes of the subformat GUID (the format
  // tag that it stands for) are read too; otherwise they are 0.
  static constexpr std::uint16_t extensible_bytes = 22;
  std::uint16_t extension_size() const { return extension_size_; }
  std::uint16_t valid_bits_per_sample() const { return valid_bits_per_sample_; }
  std::uint32_t channel_mask() const { return channel_mask_; }
  std::uint16_t subformat() const { return subformat_; }

  // The sampler chunk's note: the MIDI unity note and the pitch fraction,
  // the part of a semitone above it times 2^32.
  struct SamplerNote {
    std::uint32_t unity_note = 0;
    std::uint32_t pitch_fraction = 0;
  };
  static constexpr std::uint32_t sampler_fields_bytes = 36;
  // The first "smpl" chunk's note, when that chunk declares and the file
  // holds its 36 bytes of fields and its unity note is a MIDI note (at most
  // 127); empty otherwise. Like the format fields, it stays through a
  // failed open once read. The loops that follow the fields, however many
  // the loop count claims, are not read.
  const std::optional<SamplerNote>& sampler_note() const { return sampler_note_; }

  // Declared size of the data chunk in bytes.
  std::uint32_t data_length() const { return data_length_; }
  // Position of the first byte of sample data.
  FileOffset data_start() const { return data_start_; }
  // Bytes of sample data that the file really holds (see above).
  FileOffset data_bytes() const { return data_end_ - data_start_; }

  // Bytes of the data chunk left after the read position.
  FileOffset bytes_remaining() const { return reader_ == nullptr ? 0 : data_end_ - position_; }

  // Samples read or skipped since the first one (the read position).
  std::uint64_t sample_position() const {
    return static_cast<std::uint64_t>(position_ - data_start_) / sample_bytes;
  }
  // Whole samples left in the data chunk after the read position.
  std::uint64_t samples_remaining() const {
    return reader_ == nullptr ? 0
                              : static_cast<std::uint64_t>(data_end_ - position_) / sample_bytes;
  }

  // Message of the most recent failure, or null; never cleared.
  const char* error() const { return error_; }

 private:
  // Bytes read from the file at a time.
  static constexpr FileOffset buffer_capacity = FileOffset{64} * 1024;

  bool fail_open(const char* message);
  // Reads the first sampler chunk's note into sampler_note_, and leaves the
  // walk in the form again.
  void read_sampler_note();
  // Refills the read buffer from the read position; false when nothing of
  // the data chunk could be read there.
  bool fill_buffer();

  std::unique_ptr<RiffFile> reader_;
  std::uint16_t format_tag_ = 0;
  std::uint16_t channels_ = 0;
  std::uint32_t sample_rate_ = 0;
  std::uint32_t byte_rate_ = 0;
  std::uint16_t block_align_ = 0;
  std::uint16_t bits_per_sample_ = 0;
  std::uint16_t extension_size_ = 0;
  std::uint16_t valid_bits_per_sample_ = 0;
  std::uint32_t channel_mask_ = 0;
  std::uint16_t subformat_ = 0;
  std::optional<SamplerNote> sampler_note_;
  std::uint32_t data_length_ = 0;
  FileOffset data_start_ = 0;
  FileOffset data_end_ = 0;         // just past the last usable byte of data
  FileOffset position_ = 0;         // the read position while open
  FileOffset stream_position_ = 0;  // where the stream itself stands
  // The read buffer holds buffer_size_ bytes of the data chunk from
  // buffer_start_ on.
  std::vector<unsigned char> buffer_;
  FileOffset buffer_start_ = 0;
  FileOffset buffer_size_ = 0;
  const char* error_ = nullptr;
};

}  // namespace toneprint
