#include "html/chart_scale.h"
#include "html/markup_writer.h"
#include "support/test_support.h"

using namespace toneprint;

// Text and attributes escape differently: a quote only needs it in an
// attribute; control characters that XML forbids are replaced in both.
TEST(MarkupWriter, EscapesTextAndAttributesEachTheirWay) {
  const std::string nasty = "<a href=\"x\">&'\x01\t\r\n</a>";
  std::string out;
  {
    MarkupWriter w(out);
    const auto element = w.open("text");
    w.attr("class", nasty);
    w.text(nasty);
  }
  EXPECT_EQ(out,
            "<text class=\"&lt;a href=&quot;x&quot;&gt;&amp;'\xEF\xBF\xBD\t\r\n&lt;/a&gt;\">"
            "&lt;a href=\"x\"&gt;&amp;'\xEF\xBF\xBD\t\r\n&lt;/a&gt;</text>");
}

TEST(MarkupWriter, ClosesSvgHtmlAndVoidElementsAsBothParsersRead) {
  std::string out;
  {
    MarkupWriter w(out);
    const auto div = w.open_html("div");
    { const auto empty_cell = w.open_html("td"); }
    {
      const auto meta = w.open_html("meta");
      w.attr("charset", "utf-8");
    }
    const auto svg = w.open("svg");
    {
      const auto rect = w.open("rect");
      w.attr("x", 1);
    }
    const auto g = w.open("g");
    w.element("title", "t");
  }
  EXPECT_EQ(out,
            "<div><td></td><meta charset=\"utf-8\" /><svg><rect x=\"1\"/><g><title>t</title>"
            "</g></svg></div>");
}

TEST(MarkupWriter, WritesNumbersRoundedWithADotAndNoNegativeZero) {
  std::string out;
  const MarkupWriter w(out, 2);
  const struct {
    double value;
    const char* text;
  } cases[] = {{0.0, "0"},
               {12.0, "12"},
               {-0.001, "0"},
               {1.005, "1"},
               {2.675, "2.67"},
               {-3.14159, "-3.14"},
               {1e6 + 0.5, "1000000.5"},
               {0.1, "0.1"},
               {std::nan(""), "0"},
               {-std::numeric_limits<double>::infinity(), "0"}};
  for (const auto& c : cases) EXPECT_EQ(w.number(c.value), c.text) << c.value;
}

TEST(ChartScale, NiceTicksStepByOneTwoOrFiveTimesAPowerOfTen) {
  const struct {
    double lo, hi;
    int max_count;
    std::vector<double> ticks;
  } cases[] = {
      {0, 7.9, 12, {0, 1, 2, 3, 4, 5, 6, 7}},
      {0, 336, 12, {0, 50, 100, 150, 200, 250, 300}},
      {-80, 0, 5, {-80, -60, -40, -20, 0}},
      {-50, 10, 7, {-50, -40, -30, -20, -10, 0, 10}},
      {0.013, 0.061, 3, {0.02, 0.04, 0.06}},
      {-1, 1, 1, {0}},
      {3, 3, 4, {3}},
      {2, 1, 4, {}},
      {0, 1, 0, {}},
  };
  for (const auto& c : cases) {
    const std::vector<double> ticks = nice_ticks(c.lo, c.hi, c.max_count);
    ASSERT_EQ(ticks.size(), c.ticks.size()) << c.lo << " " << c.hi;
    for (std::size_t i = 0; i < ticks.size(); ++i) EXPECT_NEAR(ticks[i], c.ticks[i], 1e-12);
  }
}

TEST(ChartScale, MapsEndpointsAndRunsBackwardsForAYAxis) {
  const LinearScale y{-80.0, 0.0, 200.0, 40.0};
  EXPECT_DOUBLE_EQ(y(-80.0), 200.0);
  EXPECT_DOUBLE_EQ(y(0.0), 40.0);
  EXPECT_DOUBLE_EQ(y(-20.0), 80.0);
  EXPECT_DOUBLE_EQ((LinearScale{5.0, 5.0, 0.0, 10.0})(5.0), 5.0);  // an empty range: the middle
}

TEST(ChartScale, DecibelsAndTheColourMap) {
  EXPECT_NEAR(decibels(32768.0 / 10.0, 32768.0, -80.0), -20.0, 1e-12);
  EXPECT_NEAR(decibels(3200.0, 32768.0, -80.0), -20.2060, 1e-4);
  EXPECT_EQ(decibels(0.0, 1.0, -80.0), -80.0);
  EXPECT_EQ(decibels(1e-9, 1.0, -80.0), -80.0);
  EXPECT_EQ(decibels(1.0, 0.0, -80.0), -80.0);
  // viridis' ends and middle; outside 0..1 the ends.
  EXPECT_EQ(viridis(0.0), "#440154");
  EXPECT_EQ(viridis(0.5), "#21908d");
  EXPECT_EQ(viridis(1.0), "#fde725");
  EXPECT_EQ(viridis(-3.0), "#440154");
  EXPECT_EQ(viridis(7.0), "#fde725");
  EXPECT_EQ(viridis(1.0 / 16.0), "#461767");  // halfway between the first two stops
}
