#include "support/test_support.h"

#include <algorithm>
#include <atomic>
#include <fstream>
#include <iterator>

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/wait.h>
#endif

namespace toneprint::test {

// Little-endian fields.
static std::string u16le(std::uint16_t value) {
  return {static_cast<char>(value & 0xFF), static_cast<char>(value >> 8)};
}
static std::string u32le(std::uint32_t value) { return u16le(value & 0xFFFF) + u16le(value >> 16); }

std::string chunk_declaring(std::string_view id, std::uint32_t declared,
                            std::string_view contents) {
  return std::string(id) + u32le(declared) + std::string(contents);
}

std::string chunk(std::string_view id, std::string_view contents) {
  const auto size = static_cast<std::uint32_t>(contents.size());
  return chunk_declaring(id, size, contents) + (size % 2 != 0 ? std::string(1, '\0') : "");
}

std::string riff(std::string_view form_type, std::string_view chunks) {
  return chunk_declaring("RIFF", static_cast<std::uint32_t>(4 + chunks.size()),
                         std::string(form_type) + std::string(chunks));
}

std::string fmt_chunk(std::uint16_t channels, std::uint32_t rate, std::uint16_t bits,
                      std::uint16_t tag, int subformat) {
  const auto align = static_cast<std::uint16_t>(channels * ((bits + 7) / 8));
  // cbSize, valid bits, a channel mask, then the subformat's GUID.
  const std::string extension =
      subformat < 0
          ? ""
          : u16le(22) + u16le(bits) + u32le(0x3F) + u16le(static_cast<std::uint16_t>(subformat)) +
                std::string("\0\0\0\0\x10\0\x80\0\0\xAA\0\x38\x9B\x71", 14);
  return chunk("fmt ", u16le(tag) + u16le(channels) + u32le(rate) + u32le(rate * align) +
                           u16le(align) + u16le(bits) + extension);
}

std::string pcm(const std::vector<std::int16_t>& samples) {
  std::string bytes;
  for (const std::int16_t s : samples) bytes += u16le(static_cast<std::uint16_t>(s));
  return bytes;
}

std::string wave(const std::vector<std::int16_t>& samples, std::uint32_t rate) {
  return riff("WAVE", fmt_chunk(1, rate) + chunk("data", pcm(samples)));
}

std::vector<double> synthesise(const ToneRecipe& recipe, std::uint32_t rate, std::size_t count,
                               bool rounded) {
  const long double two_pi = 6.283185307179586476925286766559L;
  std::vector<double> samples(count);
  for (std::size_t i = 0; i < count; ++i) {
    long double value = 0;
    for (const Partial& p : recipe.partials) {
      const long double f = static_cast<long double>(recipe.fundamental) * p.harmonic;
      if (2 * f > rate) continue;
      const long double turns = std::fmod(f * static_cast<long double>(i) / rate, 1.0L);
      value += p.amplitude * std::sin(two_pi * turns + p.phase);
    }
    samples[i] = rounded ? std::clamp(std::round(static_cast<double>(value)), -32768.0, 32767.0)
                         : static_cast<double>(value);
  }
  return samples;
}

double cents(double measured, double expected) { return 1200.0 * std::log2(measured / expected); }

TempDir::TempDir() {
  static std::atomic<unsigned> counter{0};
  path_ = std::filesystem::temp_directory_path() /
          ("toneprint-test-" + std::to_string(std::random_device()()) + "-" +
           std::to_string(counter++));
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

std::string read_file(const std::string& path, bool binary) {
  std::ifstream in(path, binary ? std::ios::in | std::ios::binary : std::ios::in);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string contents_of(std::FILE* file) {
  std::string contents(static_cast<std::size_t>(std::ftell(file)), '\0');
  std::rewind(file);
  contents.resize(std::fread(contents.data(), 1, contents.size(), file));
  std::fclose(file);
  return contents;
}

VectorSource::VectorSource(std::vector<double> samples, std::uint32_t rate, std::size_t piece)
    : samples_(std::move(samples)), piece_(piece) {
  format_.sample_rate = rate;
  format_.frames = samples_.size();
}

std::size_t VectorSource::read(std::span<double> out) {
  const std::size_t n = std::min({out.size(), piece_, samples_.size() - next_});
  std::copy_n(samples_.begin() + static_cast<std::ptrdiff_t>(next_), n, out.begin());
  next_ += n;
  return n;
}

std::size_t occurrences(const std::string& text, const std::string& part) {
  std::size_t found = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++found;
  }
  return found;
}

ProgramRun run_program(const std::string& program, const std::string& arguments,
                       const std::string& input, const std::string& output) {
  ProgramRun run;
#if defined(_WIN32)
  // Started directly, with its standard handles on the two files, so that
  // no command interpreter's quoting comes into play.
  SECURITY_ATTRIBUTES inherit = {sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  HANDLE in = CreateFileA(input.c_str(), GENERIC_READ, share, &inherit, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
  HANDLE out = CreateFileA(output.c_str(), GENERIC_WRITE, share, &inherit, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in;
  startup.hStdOutput = startup.hStdError = out;
  PROCESS_INFORMATION process = {};
  std::string command = "\"" + program + "\" " + arguments;
  // Under wine on a loaded machine a start now and then fails for no reason
  // of the program's; one more try, and the reason kept when that fails too.
  const auto start = [&] {
    return CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                          &startup, &process) != 0;
  };
  bool started = in != INVALID_HANDLE_VALUE && out != INVALID_HANDLE_VALUE && start();
  if (!started && in != INVALID_HANDLE_VALUE && out != INVALID_HANDLE_VALUE) {
    Sleep(200);
    started = start();
  }
  const DWORD start_error = started ? 0 : GetLastError();
  if (started) {
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    if (GetExitCodeProcess(process.hProcess, &code)) run.status = static_cast<int>(code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  if (in != INVALID_HANDLE_VALUE) CloseHandle(in);
  if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
#else
  const int raw = std::system(
      ("\"" + program + "\" " + arguments + " < \"" + input + "\" > \"" + output + "\" 2>&1")
          .c_str());
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
#endif
  run.console = read_file(output);
#if defined(_WIN32)
  if (!started) {
    run.console += "[the test could not start the program: error " + std::to_string(start_error) +
                   (in == INVALID_HANDLE_VALUE || out == INVALID_HANDLE_VALUE ? ", its files" : "") +
                   "]";
  }
#endif
  return run;
}

}  // namespace toneprint::test
