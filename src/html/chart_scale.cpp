#include "html/chart_scale.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

namespace toneprint {

double LinearScale::operator()(double value) const {
  if (data_hi == data_lo) return (draw_lo + draw_hi) / 2.0;
  return draw_lo + (value - data_lo) * (draw_hi - draw_lo) / (data_hi - data_lo);
}

double LogScale::operator()(double value) const {
  if (!(value > 0.0)) return draw_lo;
  return LinearScale{static_cast<double>(decade_lo), static_cast<double>(decade_hi), draw_lo,
                     draw_hi}(std::log10(value));
}

std::vector<double> nice_ticks(double lo, double hi, int max_count) {
  std::vector<double> ticks;
  if (!(lo <= hi) || !std::isfinite(lo) || !std::isfinite(hi) || max_count < 1) return ticks;
  if (lo == hi) return {lo};
  // The steps 1, 2, 5 times 10^e from a step surely too fine upwards.
  int exponent = static_cast<int>(std::floor(std::log10((hi - lo) / max_count))) - 1;
  for (;; ++exponent) {
    for (const double mantissa : {1.0, 2.0, 5.0}) {
      const double step = mantissa * std::pow(10.0, exponent);
      const double first = std::ceil(lo / step - 1e-9);
      const double last = std::floor(hi / step + 1e-9);
      if (last - first + 1 > max_count) continue;
      const auto count = static_cast<int>(last - first) + 1;
      for (int i = 0; i < count; ++i) {
        const double tick = (first + i) * step;
        ticks.push_back(tick == 0.0 ? 0.0 : tick);
      }
      return ticks;
    }
  }
}

double decibels(double amplitude, double reference, double floor) {
  if (!(amplitude > 0.0) || !(reference > 0.0)) return floor;
  return std::max(floor, 20.0 * std::log10(amplitude / reference));
}

std::string viridis(double t) {
  // The map at nine even steps, joined by straight lines.
  static constexpr std::array<std::array<int, 3>, 9> stops = {{{0x44, 0x01, 0x54},
                                                               {0x47, 0x2c, 0x7a},
                                                               {0x3b, 0x51, 0x8b},
                                                               {0x2c, 0x71, 0x8e},
                                                               {0x21, 0x90, 0x8d},
                                                               {0x27, 0xad, 0x81},
                                                               {0x5c, 0xc8, 0x63},
                                                               {0xaa, 0xdc, 0x32},
                                                               {0xfd, 0xe7, 0x25}}};
  const double position = std::clamp(std::isnan(t) ? 0.0 : t, 0.0, 1.0) * (stops.size() - 1);
  const auto below = std::min(static_cast<std::size_t>(position), stops.size() - 2);
  const double fraction = position - static_cast<double>(below);
  std::array<int, 3> rgb{};
  for (std::size_t c = 0; c < 3; ++c) {
    rgb[c] = static_cast<int>(
        std::lround(stops[below][c] + fraction * (stops[below + 1][c] - stops[below][c])));
  }
  char text[8];
  std::snprintf(text, sizeof text, "#%02x%02x%02x", rgb[0], rgb[1], rgb[2]);
  return text;
}

}  // namespace toneprint
