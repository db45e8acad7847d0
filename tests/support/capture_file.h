#pragma once

// A temporary stream whose contents a test can read back, for code that
// writes to a std::FILE*.

#include <cstdio>
#include <string>

namespace toneprint::test {

class CaptureFile {
 public:
  CaptureFile() : file_(std::tmpfile()) {}
  ~CaptureFile() {
    if (file_ != nullptr) std::fclose(file_);
  }
  CaptureFile(const CaptureFile&) = delete;
  CaptureFile& operator=(const CaptureFile&) = delete;

  std::FILE* get() const { return file_; }

  // Everything written so far.
  std::string text() const {
    std::fflush(file_);
    std::rewind(file_);
    std::string contents;
    char buffer[4096];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file_)) > 0) contents.append(buffer, got);
    std::fseek(file_, 0, SEEK_END);
    return contents;
  }

 private:
  std::FILE* file_;
};

}  // namespace toneprint::test
