#include "app/format_check.h"

#include <gtest/gtest.h>

#include "support/riff_builder.h"
#include "support/temp_dir.h"

namespace toneprint {
namespace {

using test::chunk;
using test::Format;
using test::format_fields;
using test::riff;
using namespace std::string_literals;

constexpr const char* mono_error = "\nError: the input wave file must be mono (1 channel).\n";
constexpr const char* bits_error = "\nError: the input wave file must have 16-bit samples.\n";

struct FormatCase {
  std::uint16_t channels;
  std::uint16_t bits;
  bool accepted;
  std::string console;
};

void PrintTo(const FormatCase& c, std::ostream* out) {
  *out << c.channels << " channel(s), " << c.bits << "-bit";
}

class CheckInputFormat : public ::testing::TestWithParam<FormatCase> {};

TEST_P(CheckInputFormat, AcceptsOnlyMonoSixteenBit) {
  const FormatCase& c = GetParam();
  test::TempDir dir;
  const std::string bytes =
      riff("WAVE", chunk("fmt ", format_fields(Format().channels(c.channels).bits(c.bits))) +
                       chunk("data", "\0\0\0\0"s));
  WaveFile wave;
  ASSERT_TRUE(wave.open_read(dir.write("take.wav", bytes).c_str())) << wave.error();
  ScriptedConsole console;
  EXPECT_EQ(check_input_format(wave, console), c.accepted);
  EXPECT_EQ(console.output(), c.console);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, CheckInputFormat,
    ::testing::Values(FormatCase{1, 16, true, ""},
                      FormatCase{2, 8, false, std::string(mono_error) + bits_error},
                      FormatCase{1, 8, false, bits_error}, FormatCase{2, 16, false, mono_error},
                      FormatCase{0, 16, false, mono_error}, FormatCase{1, 24, false, bits_error}),
    [](const ::testing::TestParamInfo<FormatCase>& info) {
      return "Channels" + std::to_string(info.param.channels) + "_Bits" +
             std::to_string(info.param.bits);
    });

}  // namespace
}  // namespace toneprint
