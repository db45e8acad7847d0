// toneprint-batch's page as a browser shows it: Debian's Chromium, headless,
// reads it as HTML and, to catch any markup it would only forgive, as XHTML.

#include <sstream>

#include "html/page_checks.h"
#include "support/test_support.h"

namespace test = toneprint::test;

TEST(HtmlReportInBrowser, ShowsAMarkADotAndARowForEveryToneOfEachRecording) {
  if (const std::string why = test::without_chromium(); !why.empty()) GTEST_SKIP() << why;
  const test::TempDir dir;
  // A tone, one too short to measure (0.35 s) and another tone.
  constexpr std::uint32_t rate = 44100;
  std::vector<std::int16_t> samples(5 * rate, 0);
  const struct {
    double fundamental, start, seconds;
  } tones[] = {{261.63, 0.3, 1.0}, {392.0, 2.0, 0.35}, {523.25, 3.2, 1.0}};
  for (const auto& tone : tones) {
    const test::ToneRecipe recipe{tone.fundamental, {{1, 8000, 0}, {2, 3000, 1}, {4, 800, 2}}};
    const std::vector<double> wave = test::synthesise(recipe, rate, tone.seconds * rate);
    std::copy(wave.begin(), wave.end(),
              samples.begin() + static_cast<std::ptrdiff_t>(tone.start * rate));
  }
  const std::string synthetic = dir.write("synthetic.wav", test::wave(samples, rate));
  const std::string demo = std::string(TONEPRINT_SOURCE_DIR) + "/demo/demo.wav";

  for (const std::string& recording : {demo, synthetic}) {
    const std::string page = dir.file("page.html");
    const std::string csv = dir.file("tones.csv");
    for (const char* format : {"html", "csv"}) {
      const test::ProgramRun run = test::run_program(
          TONEPRINT_BATCH_BINARY,
          std::string("-q --force -f ") + format + " -o \"" +
              (std::string(format) == "html" ? page : csv) + "\" \"" + recording + "\"",
          dir.write("input", ""), dir.file("console"));
      ASSERT_EQ(run.status, 0) << run.console;
    }
    // The tones and the measured ones, as the CSV lists them.
    std::istringstream rows(test::read_file(csv));
    std::string row;
    std::getline(rows, row);  // the header
    std::size_t tones_listed = 0;
    std::size_t measured = 0;
    for (; std::getline(rows, row); ++tones_listed) {
      // file,tone,start_s,end_s,passes,passes_used,frequency_hz: empty when
      // not measured
      std::size_t field = 0;
      for (int comma = 0; comma < 6; ++comma) field = row.find(',', field) + 1;
      if (row[field] != ',') ++measured;
    }
    ASSERT_GE(tones_listed, 3u);
    if (recording == synthetic) {
      EXPECT_EQ(tones_listed - measured, 1u);  // the short tone
    }

    std::filesystem::copy_file(page, dir.file("page.xhtml"),
                               std::filesystem::copy_options::overwrite_existing);
    for (const std::string& shown : {page, dir.file("page.xhtml")}) {
      const std::string dom = test::rendered(dir, shown);
      ASSERT_FALSE(dom.empty()) << "Chromium did not render " << shown;
      EXPECT_EQ(test::occurrences(dom, "parsererror"), 0u) << shown;
      EXPECT_EQ(test::occurrences(dom, "class=\"tone-mark"), tones_listed) << shown;
      EXPECT_EQ(test::occurrences(dom, "class=\"tuning-dot\""), measured) << shown;
      EXPECT_EQ(test::occurrences(dom, "class=\"timbre-row\""), tones_listed) << shown;
      EXPECT_EQ(test::occurrences(dom, "<tr>"), 3 * tones_listed + 1 + 14)
          << shown;  // tone, numbers and settings tables
    }
  }
}
