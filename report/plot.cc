#include "report/plot.h"

#include <cmath>

#include "report/figures.h"
#include "report/histogram.h"

namespace punb::report {

std::vector<Tick> even_ticks(double from, double to, double step, int decimals) {
  std::vector<Tick> ticks;
  for (double v = from; v <= to + step / 1000; v += step)
    ticks.push_back({v, fixed_decimals(v, decimals)});
  return ticks;
}

// Grid lines, tick labels and axis titles; the x ticks are placed at data values.
void draw_axes(SvgCanvas& svg, const Frame& f, const std::vector<Tick>& x_ticks,
               const std::vector<Tick>& y_ticks, const std::string& x_title,
               const std::string& y_title) {
  for (const Tick& t : y_ticks) {
    const Point p = f.at(f.x_min, t.value);
    svg.line(p, {f.right(), p.y}, {kGrid, 1, ""});
    svg.text({p.x - 6, p.y + 4}, t.label, 12, Anchor::end);
  }
  for (const Tick& t : x_ticks) {
    const Point p = f.at(t.value, f.y_min);
    svg.line({p.x, f.top}, {p.x, f.bottom()}, {kGrid, 1, ""});
    svg.text({p.x, f.bottom() + 16}, t.label, 12, Anchor::middle);
  }
  svg.line({f.left, f.top}, {f.left, f.bottom()}, {kAxis, 1, ""});
  svg.line({f.left, f.bottom()}, {f.right(), f.bottom()}, {kAxis, 1, ""});
  svg.text({f.left + f.width / 2, f.bottom() + 38}, x_title, 13, Anchor::middle);
  svg.text({f.left - 44, f.top + f.height / 2}, y_title, 13, Anchor::middle, false, -90);
}

void legend_entry(SvgCanvas& svg, Point at, const Stroke& s, const std::string& label) {
  svg.line({at.x, at.y - 4}, {at.x + 26, at.y - 4}, s);
  svg.text({at.x + 32, at.y}, label, 12);
}

void heading(SvgCanvas& svg, Point at, const std::string& text) {
  svg.text(at, text, 15, Anchor::start, true);
}

// Posterior ticks on the log-odds axis: 0.5, and 10^-e and 1 - 10^-e where they fit.
std::vector<Tick> posterior_ticks(double half_range) {
  std::vector<Tick> ticks = {{0, "0.5"}};
  const int step = half_range > 24 ? 5 : half_range > 10 ? 2 : 1;
  for (int e = step; e <= 16; e += step) {
    const double p = std::pow(10.0, -e);
    const double x = log_odds(p);
    if (-x > half_range) break;
    const std::string exponent = "1e-" + std::to_string(e);
    ticks.push_back({x, e == 1 ? "0.1" : exponent});
    ticks.push_back({-x, e == 1 ? "0.9" : "1-" + exponent});
  }
  return ticks;
}

// Steps from 1 up, so that whole counts get whole ticks.
double count_step(double most) {
  double step = 1;
  while (most / step > 5) {
    const double mantissa = step / std::pow(10.0, std::floor(std::log10(step)));
    step *= mantissa == 2 ? 2.5 : 2;
  }
  return step;
}

}  // namespace punb::report
