#pragma once

// Reading a RIFF container chunk by chunk.
//
// A RiffFile opens a file for binary reading and keeps a stack of the chunks
// entered, the outermost "RIFF" form at the bottom. push() finds a chunk by
// its four-character id among the children of the current chunk, enters it
// and leaves the stream at the first byte of its contents, so that the owner
// reads the contents straight from file(). pop() leaves the current chunk and
// positions the stream just past it (pad byte included).
//
// Every failure is a false or null result; nothing is printed.
//
// Positions are 64-bit, so chunk ends never wrap: every chunk's end lies
// beyond its header, except a "RIFF" or "LIST" chunk whose declared size is
// smaller than its 4-byte type. Such a form holds nothing, and such a child
// ends a search as "not found". A form that declares more bytes than the
// file holds (streaming writers put 0xFFFFFFFF there) is searched up to the
// end of the file.

#include <cstdint>
#include <cstdio>
#include <vector>

#include "riff/file_offset.h"

namespace toneprint {

// What is known about one chunk once its header has been read.
struct RiffChunk {
  char name[5] = {};       // the chunk id and a NUL
  std::uint32_t size = 0;  // declared size; less 4 for "RIFF"/"LIST" (wraps
                           // when the declared size is below 4)
  char sub_type[5] = {};   // the form or list type and a NUL; "" otherwise
  FileOffset start = 0;    // first byte of the contents (after any type)
  FileOffset end = 0;      // just past the contents and the pad byte
};

class RiffFile {
 public:
  // Opens the file ("rb") and enters its RIFF form. file() is null when the
  // file cannot be opened or does not begin with a complete RIFF header.
  explicit RiffFile(const char* file_name);
  ~RiffFile();

  RiffFile(const RiffFile&) = delete;
  RiffFile& operator=(const RiffFile&) = delete;

  // The open stream, or null. Owned by this object.
  std::FILE* file() const { return file_; }

  // Declared size of the RIFF form less 4, recorded by rewind().
  std::uint32_t form_size() const { return form_size_; }

  // Length of the file in bytes, measured when it was opened.
  FileOffset file_length() const { return file_length_; }

  // Empties the stack and enters the RIFF form at offset 0.
  bool rewind();

  // Enters the first child of the current chunk whose id is `name`, searching
  // from the current chunk's start; with a null `name`, enters the chunk at
  // the current position, whatever its id. On "not found" the stream returns
  // to the current chunk's start and the stack is unchanged.
  bool push(const char* name);

  // Leaves the current chunk (never the form), positioning the stream at its
  // end.
  bool pop();

  // Queries on the current chunk; 0 or null when the stack is empty.
  // chunk_sub_type() is also null when the chunk has no type.
  std::uint32_t chunk_size() const;
  const char* chunk_name() const;
  const char* chunk_sub_type() const;

 private:
  // Reads a chunk header at the current position; false when the file ends
  // (or fails) before the header is complete.
  bool read_chunk_header(RiffChunk& chunk);
  // Pushes a chunk onto the stack; false when memory runs out.
  bool enter(const RiffChunk& chunk);

  std::FILE* file_ = nullptr;
  std::uint32_t form_size_ = 0;
  FileOffset file_length_ = 0;
  std::vector<RiffChunk> chunks_;
};

}  // namespace toneprint
