#include "report/histogram.h"

#include <algorithm>
#include <cmath>

namespace punb::report {

double log_odds(double p) { return std::log(p) - std::log(1 - p); }

Histogram bin_posteriors(const std::vector<double>& p, const std::vector<bool>& positive) {
  Histogram h;
  double widest = 6;
  for (double v : p) {
    if (v > 0 && v < 1) widest = std::max(widest, std::abs(log_odds(v)));
  }
  h.half_range = 2 * std::ceil(widest / 2);
  h.positives.assign(Histogram::kBins, 0);
  h.negatives.assign(Histogram::kBins, 0);
  for (std::size_t i = 0; i < p.size(); ++i) {
    if (p[i] == 0) {
      ++(positive[i] ? h.zero_positives : h.zero_negatives);
    } else if (p[i] == 1) {
      ++(positive[i] ? h.one_positives : h.one_negatives);
    } else {
      const double at = (log_odds(p[i]) + h.half_range) / (2 * h.half_range) * Histogram::kBins;
      const auto bin = std::clamp(static_cast<int>(at), 0, Histogram::kBins - 1);
      ++(positive[i] ? h.positives : h.negatives)[static_cast<std::size_t>(bin)];
    }
  }
  return h;
}

}  // namespace punb::report
