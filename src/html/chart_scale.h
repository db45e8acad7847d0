#pragma once

// The arithmetic of the report's charts: data to drawing coordinates, tick
// values, decibels and a colour map.

#include <string>
#include <vector>

namespace toneprint {

// Maps [data_lo, data_hi] linearly onto [draw_lo, draw_hi]; either range may
// run backwards (a y axis does).
struct LinearScale {
  double data_lo;
  double data_hi;
  double draw_lo;
  double draw_hi;

  double operator()(double value) const;
};

// Maps [10^decade_lo, 10^decade_hi] onto [draw_lo, draw_hi] by the
// logarithm, as a log axis draws it; 0 and below map to draw_lo.
struct LogScale {
  int decade_lo;
  int decade_hi;
  double draw_lo;
  double draw_hi;

  double operator()(double value) const;
};

// Ticks at multiples of 1, 2 or 5 times a power of ten, the finest step that
// puts at most `max_count` of them in [lo, hi]; every tick lies in the range.
std::vector<double> nice_ticks(double lo, double hi, int max_count);

// 20 log10(amplitude / reference); `floor` for an amplitude of 0 or less and
// below it.
double decibels(double amplitude, double reference, double floor);

// The colour of `t` (0 to 1, clamped) on the viridis map, as "#rrggbb":
// perceptually even, dark to light, and readable with any colour vision.
std::string viridis(double t);

}  // namespace toneprint
