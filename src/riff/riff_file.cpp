#include "riff/riff_file.h"

#include <cstring>
#include <new>

namespace toneprint {
namespace {

std::uint32_t little_endian_u32(const unsigned char* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

bool has_type_field(const char* name) {
  return std::strcmp(name, "RIFF") == 0 || std::strcmp(name, "LIST") == 0;
}

}  // namespace

RiffFile::RiffFile(const char* file_name) {
  if (file_name == nullptr) return;
  file_ = std::fopen(file_name, "rb");
  if (file_ == nullptr) return;
  file_length_ = toneprint::file_length(file_);
  if (file_length_ < 0 || !rewind()) {
    std::fclose(file_);
    file_ = nullptr;
  }
}

RiffFile::~RiffFile() {
  if (file_ != nullptr) std::fclose(file_);
}

bool RiffFile::read_chunk_header(RiffChunk& chunk) {
  const FileOffset header_position = tell(file_);
  if (header_position < 0) return false;

  unsigned char header[8];
  if (std::fread(header, 1, sizeof header, file_) != sizeof header) return false;
  std::memcpy(chunk.name, header, 4);
  chunk.name[4] = '\0';
  const std::uint32_t declared = little_endian_u32(header + 4);

  FileOffset contents = declared;
  chunk.size = declared;
  chunk.sub_type[0] = '\0';
  if (has_type_field(chunk.name)) {
    if (std::fread(chunk.sub_type, 1, 4, file_) != 4) return false;
    chunk.sub_type[4] = '\0';
    chunk.size = declared - 4u;  // wraps below 4, like the 32-bit field does
    contents -= 4;               // negative below 4: the chunk holds nothing
  }

  // The contents start right after what was read; the end follows from the
  // declared size in 64 bits, so it cannot wrap.
  chunk.start = header_position + (has_type_field(chunk.name) ? 12 : 8);
  chunk.end = chunk.start + contents;
  if (contents >= 0 && chunk.end % 2 != 0) chunk.end += 1;
  return true;
}

bool RiffFile::enter(const RiffChunk& chunk) {
  try {
    chunks_.push_back(chunk);
  } catch (const std::bad_alloc&) {
    return false;  // no exception leaves this class
  }
  return true;
}

bool RiffFile::rewind() {
  chunks_.clear();
  if (file_ == nullptr || !seek_to(file_, 0)) return false;
  RiffChunk form;
  if (!read_chunk_header(form)) return false;
  if (std::strcmp(form.name, "RIFF") != 0) return false;
  form_size_ = form.size;
  return enter(form);
}

bool RiffFile::push(const char* name) {
  if (chunks_.empty()) return false;
  const RiffChunk parent = chunks_.back();
  if (name != nullptr && !seek_to(file_, parent.start)) return false;

  for (;;) {
    const FileOffset position = tell(file_);
    if (position < 0 || position >= parent.end) break;

    RiffChunk candidate;
    if (!read_chunk_header(candidate)) break;
    // A "RIFF"/"LIST" child declaring less than its type is malformed; its
    // end would not lie beyond its header, so the walk stops there.
    if (candidate.end < candidate.start) break;

    if (name == nullptr || std::strcmp(candidate.name, name) == 0) {
      return enter(candidate);
    }
    // Step over the child with its contents and pad byte. Every chunk's end
    // lies past its header, so the walk always moves forward.
    if (!seek_to(file_, candidate.end)) return false;
  }

  // Not found: back to the parent's start, which also clears end-of-file.
  seek_to(file_, parent.start);
  return false;
}

bool RiffFile::pop() {
  if (chunks_.size() < 2) return false;
  seek_to(file_, chunks_.back().end);
  chunks_.pop_back();
  return true;
}

std::uint32_t RiffFile::chunk_size() const { return chunks_.empty() ? 0 : chunks_.back().size; }

const char* RiffFile::chunk_name() const { return chunks_.empty() ? nullptr : chunks_.back().name; }

const char* RiffFile::chunk_sub_type() const {
  if (chunks_.empty() || chunks_.back().sub_type[0] == '\0') return nullptr;
  return chunks_.back().sub_type;
}

}  // namespace toneprint
