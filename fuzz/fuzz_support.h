#pragma once

// What the fuzz targets share: a check that aborts, so that libFuzzer keeps
// the input, and the one scratch file of the process that each input is
// written to before the WAVE reader opens it.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#define FUZZ_CHECK(condition)                                                            \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (false)

namespace toneprint::fuzz {

// Writes the input to this process's scratch file, replacing what the last
// input left there, and returns the file's path. The file is removed when
// the process exits normally.
inline const char* write_input_file(const std::uint8_t* data, std::size_t size) {
  struct ScratchFile {
    std::string path = (std::filesystem::temp_directory_path() /
                        ("toneprint-fuzz-" + std::to_string(getpid()) + ".wav"))
                           .string();
    ~ScratchFile() { std::remove(path.c_str()); }
  };
  static const ScratchFile scratch;
  std::FILE* const file = std::fopen(scratch.path.c_str(), "wb");
  FUZZ_CHECK(file != nullptr);
  FUZZ_CHECK(size == 0 || std::fwrite(data, 1, size, file) == size);
  FUZZ_CHECK(std::fclose(file) == 0);
  return scratch.path.c_str();
}

}  // namespace toneprint::fuzz
