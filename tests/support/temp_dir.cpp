#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <random>

namespace toneprint::test {

TempDir::TempDir() {
  static std::atomic<unsigned> counter{0};
  const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
  std::random_device random;
  const std::string name = "toneprint-test-" + std::to_string(random()) + "-" +
                           std::to_string(now) + "-" + std::to_string(counter++);
  path_ = std::filesystem::temp_directory_path() / name;
  std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::file(std::string_view name) const {
  return (path_ / std::filesystem::path(name)).string();
}

std::string TempDir::write(std::string_view name, std::string_view bytes) const {
  const std::string target = file(name);
  std::ofstream out(target, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  EXPECT_TRUE(out.good()) << "could not write the test file " << target;
  return target;
}

}  // namespace toneprint::test
