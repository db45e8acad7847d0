#pragma once

// 64-bit positions on C streams, so that recordings of 2 GiB and more can be
// walked and read on every platform (long is 32 bits on Windows).

#include <cstdint>
#include <cstdio>

namespace toneprint {

using FileOffset = std::int64_t;

// Moves the stream to an absolute position. Returns true on success; clears
// the end-of-file indicator as every seek does.
bool seek_to(std::FILE* file, FileOffset position);

// The stream's current position, or -1 when it cannot be told.
FileOffset tell(std::FILE* file);

// The length of the file in bytes, or -1 when it cannot be told. The stream
// is left where it was.
FileOffset file_length(std::FILE* file);

}  // namespace toneprint
