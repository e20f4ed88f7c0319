#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "report/svg.h"

namespace punb::report {

// What the pictures share: plotting areas, axes and their ticks.

inline constexpr const char* kGrid = "#e4e4e4";
inline constexpr const char* kAxis = "#444";
inline constexpr const char* kPositiveColor = "#0072B2";
inline constexpr const char* kNegativeColor = "#D55E00";

// A plotting area and the data range it shows.
struct Frame {
  double left, top, width, height;
  double x_min, x_max, y_min, y_max;

  Point at(double x, double y) const {
    return {left + (x - x_min) / (x_max - x_min) * width,
            top + height - (y - y_min) / (y_max - y_min) * height};
  }
  double right() const { return left + width; }
  double bottom() const { return top + height; }
};

struct Tick {
  double value;
  std::string label;
};

std::vector<Tick> even_ticks(double from, double to, double step, int decimals);

// Grid lines, tick labels and axis titles; the x ticks are placed at data values.
void draw_axes(SvgCanvas& svg, const Frame& f, const std::vector<Tick>& x_ticks,
               const std::vector<Tick>& y_ticks, const std::string& x_title,
               const std::string& y_title);

void legend_entry(SvgCanvas& svg, Point at, const Stroke& s, const std::string& label);

void heading(SvgCanvas& svg, Point at, const std::string& text);

// Posterior ticks on the log-odds axis: 0.5, and 10^-e and 1 - 10^-e where they fit.
std::vector<Tick> posterior_ticks(double half_range);

// A step of 1, 2 or 5 times a power of ten giving at most five ticks up to `most`.
double count_step(double most);

}  // namespace punb::report
