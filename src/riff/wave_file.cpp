#include "riff/wave_file.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace toneprint {
namespace {

constexpr std::uint32_t format_fields_bytes = 16;
// The fields, cbSize and the extensible format's extension.
constexpr std::uint32_t extension_start = format_fields_bytes + 2;
constexpr std::uint32_t extended_fields_bytes = extension_start + WaveFile::extensible_bytes;
constexpr std::uint32_t streaming_data_size = 0xFFFFFFFFu;

std::uint16_t little_endian_u16(const unsigned char* bytes) {
  return static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8);
}

std::uint32_t little_endian_u32(const unsigned char* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

}  // namespace

bool WaveFile::fail_open(const char* message) {
  if (message != nullptr) error_ = message;
  close();
  return false;
}

void WaveFile::read_sampler_note() {
  if (!reader_->push("smpl")) return;
  // The fields alone, and only when the chunk declares them all: a chunk cut
  // short or past the end of the file gives no note rather than one of
  // bytes that belong to the next chunk or were never written.
  unsigned char fields[sampler_fields_bytes];
  if (reader_->chunk_size() >= sampler_fields_bytes &&
      std::fread(fields, 1, sizeof fields, reader_->file()) == sizeof fields) {
    const std::uint32_t unity_note = little_endian_u32(fields + 12);
    if (unity_note <= 127) sampler_note_ = SamplerNote{unity_note, little_endian_u32(fields + 16)};
  }
  reader_->pop();
}

bool WaveFile::open_read(const char* file_name) {
  close();
  sampler_note_.reset();
  reader_.reset(new (std::nothrow) RiffFile(file_name));
  if (reader_ == nullptr)
    return fail_open(nullptr);  // out of memory: the
                                // old message stays
  std::FILE* const file = reader_->file();
  if (file == nullptr) return fail_open("Couldn't open file");

  const char* const form = reader_->chunk_name();
  const char* const form_type = reader_->chunk_sub_type();
  if (form == nullptr || std::strcmp(form, "RIFF") != 0 || form_type == nullptr ||
      std::strcmp(form_type, "WAVE") != 0 || !reader_->push("fmt ")) {
    return fail_open("Couldn't find RIFF, WAVE, or fmt");
  }

  // The format chunk must hold the 16 bytes of fields and all its declared
  // bytes must be in the file. Only the fields and the extensible format's
  // fixed extension are read, as far as the chunk holds them; the rest (an
  // extension of any length) is stepped over by pop(), so nothing is ever
  // allocated by a size that a header declares.
  const std::uint32_t format_size = reader_->chunk_size();
  const FileOffset format_start = tell(file);
  unsigned char fields[extended_fields_bytes] = {};
  const std::size_t wanted = std::min(format_size, extended_fields_bytes);
  if (format_size < format_fields_bytes || format_start < 0 ||
      format_size > reader_->file_length() - format_start ||
      std::fread(fields, 1, wanted, file) != wanted) {
    return fail_open("Error reading format chunk");
  }
  reader_->pop();

  format_tag_ = little_endian_u16(fields + 0);
  channels_ = little_endian_u16(fields + 2);
  sample_rate_ = little_endian_u32(fields + 4);
  byte_rate_ = little_endian_u32(fields + 8);
  block_align_ = little_endian_u16(fields + 12);
  bits_per_sample_ = little_endian_u16(fields + 14);
  // cbSize, then the extension; a size that claims more than the chunk
  // holds means there is none.
  const std::uint16_t declared_extension = little_endian_u16(fields + 16);
  extension_size_ =
      format_size >= extension_start && declared_extension <= format_size - extension_start
          ? declared_extension
          : 0;
  const bool extensible = extension_size_ >= extensible_bytes;
  valid_bits_per_sample_ = extensible ? little_endian_u16(fields + 18) : 0;
  channel_mask_ = extensible ? little_endian_u32(fields + 20) : 0;
  subformat_ = extensible ? little_endian_u16(fields + 24) : 0;

  // push() searches from the form's start, so this finds a sampler chunk
  // wherever the walk can reach it, and the data chunk is then found as
  // before.
  read_sampler_note();
  const FileOffset start = reader_->push("data") ? tell(file) : -1;
  if (start < 0) return fail_open("Couldn't find data chunk");

  data_length_ = reader_->chunk_size();
  data_start_ = start;
  const FileOffset held = reader_->file_length() - start;
  FileOffset usable = data_length_;
  if (data_length_ == streaming_data_size || usable > held) usable = held;
  if (usable < 0) usable = 0;
  data_end_ = start + usable;
  position_ = start;
  stream_position_ = start;
  buffer_size_ = 0;
  return true;
}

bool WaveFile::close() {
  reader_.reset();
  buffer_size_ = 0;
  return true;
}

bool WaveFile::fill_buffer() {
  // The stream is moved only when the read position is not where the last
  // fill left it: skips themselves cost nothing.
  if (stream_position_ != position_) {
    if (!seek_to(reader_->file(), position_)) return false;
    stream_position_ = position_;
  }
  if (buffer_.size() < buffer_capacity) buffer_.resize(buffer_capacity);
  const auto wanted =
      static_cast<std::size_t>(std::min<FileOffset>(buffer_capacity, data_end_ - position_));
  const std::size_t got = wanted == 0 ? 0 : std::fread(buffer_.data(), 1, wanted, reader_->file());
  buffer_start_ = position_;
  buffer_size_ = static_cast<FileOffset>(got);
  stream_position_ = position_ + buffer_size_;
  return got > 0;
}

bool WaveFile::read_raw(void* buffer, std::uint32_t byte_count) {
  if (reader_ == nullptr) {
    error_ = "Couldn't read samples";
    return false;
  }
  // Only bytes of the data chunk are delivered, through the read buffer.
  const FileOffset wanted =
      std::min<FileOffset>(byte_count, std::max<FileOffset>(data_end_ - position_, 0));
  auto* out = static_cast<unsigned char*>(buffer);
  FileOffset copied = 0;
  while (copied < wanted) {
    const FileOffset offset = position_ - buffer_start_;
    if (offset < 0 || offset >= buffer_size_) {
      if (!fill_buffer()) break;
      continue;
    }
    const FileOffset take = std::min(wanted - copied, buffer_size_ - offset);
    std::memcpy(out + copied, buffer_.data() + offset, static_cast<std::size_t>(take));
    copied += take;
    position_ += take;
  }
  if (copied < byte_count) {
    error_ = "Couldn't read samples";
    return false;
  }
  return true;
}

bool WaveFile::read_sample(std::int16_t& sample) {
  if (reader_ == nullptr) {
    error_ = "Couldn't read samples";
    return false;
  }
  if (bits_per_sample_ != 16) {
    error_ = "Sample size mismatch";
    return false;
  }
  // A last byte that cannot make a whole sample stays unread, so the
  // position keeps to whole samples and the skips after a failed read still
  // land on samples.
  if (data_end_ - position_ < static_cast<FileOffset>(sample_bytes)) {
    error_ = "Couldn't read samples";
    return false;
  }
  unsigned char bytes[sample_bytes];
  const FileOffset offset = position_ - buffer_start_;
  if (offset >= 0 && offset + static_cast<FileOffset>(sample_bytes) <= buffer_size_) {
    std::memcpy(bytes, buffer_.data() + offset, sample_bytes);
    position_ += sample_bytes;
  } else if (!read_raw(bytes, sample_bytes)) {
    return false;
  }
  sample = static_cast<std::int16_t>(little_endian_u16(bytes));
  return true;
}

bool WaveFile::skip_forward(std::uint32_t samples) {
  if (reader_ == nullptr) return false;
  const FileOffset bytes = static_cast<FileOffset>(samples) * sample_bytes;
  const FileOffset target = position_ + bytes;
  // At least one whole sample must remain in the data chunk after the move.
  if (target + static_cast<FileOffset>(sample_bytes) > data_end_) return false;
  position_ = target;
  return true;
}

bool WaveFile::skip_back(std::uint32_t samples) {
  if (reader_ == nullptr) return false;
  const FileOffset bytes = static_cast<FileOffset>(samples) * sample_bytes;
  const FileOffset target = position_ - bytes;
  if (target < data_start_) return false;
  position_ = target;
  return true;
}

bool WaveFile::seek_data(FileOffset offset) {
  if (reader_ == nullptr || offset < 0 || offset > data_end_ - data_start_) return false;
  position_ = data_start_ + offset;
  return true;
}

}  // namespace toneprint
