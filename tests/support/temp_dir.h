#pragma once

// A folder of its own for one test, removed with everything in it when the
// test ends.

#include <filesystem>
#include <string>
#include <string_view>

namespace toneprint::test {

class TempDir {
 public:
  TempDir();
  ~TempDir();

  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }

  // Writes the bytes to a file of that name in the folder; returns its path.
  std::string write(std::string_view name, std::string_view bytes) const;

  // The path a file of that name would have in the folder.
  std::string file(std::string_view name) const;

 private:
  std::filesystem::path path_;
};

}  // namespace toneprint::test
