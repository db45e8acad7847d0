// Large-file positions: off_t is 64 bits on 64-bit POSIX systems and with
// _FILE_OFFSET_BITS=64 (set by the build) on 32-bit ones; Windows has its
// own 64-bit calls.

#include "riff/file_offset.h"

#include <sys/types.h>

namespace toneprint {

bool seek_to(std::FILE* file, FileOffset position) {
  if (position < 0) return false;
#if defined(_WIN32)
  return _fseeki64(file, position, SEEK_SET) == 0;
#else
  return fseeko(file, static_cast<off_t>(position), SEEK_SET) == 0;
#endif
}

FileOffset tell(std::FILE* file) {
#if defined(_WIN32)
  return _ftelli64(file);
#else
  return static_cast<FileOffset>(ftello(file));
#endif
}

FileOffset file_length(std::FILE* file) {
  const FileOffset here = tell(file);
  if (here < 0) return -1;
#if defined(_WIN32)
  const bool at_end = _fseeki64(file, 0, SEEK_END) == 0;
#else
  const bool at_end = fseeko(file, 0, SEEK_END) == 0;
#endif
  const FileOffset length = at_end ? tell(file) : -1;
  if (!seek_to(file, here)) return -1;
  return length;
}

}  // namespace toneprint
