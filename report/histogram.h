#pragma once

#include <cstdint>
#include <vector>

namespace punb::report {

// Log-odds of a posterior strictly between 0 and 1: it spreads the posteriors near 0 and 1,
// where a printed posterior can sit 30 orders of magnitude from 0.5, over a readable axis.
double log_odds(double p);

// Posteriors counted in equal log-odds bins, per class. The axis runs from -half_range to
// half_range, the smallest even range of at least 6 that holds every posterior; posteriors of
// exactly 0 or 1, which have no log-odds, are counted apart.
struct Histogram {
  static constexpr int kBins = 40;
  double half_range = 0;
  std::vector<std::int64_t> positives, negatives;  // per bin, from the lowest log-odds
  std::int64_t zero_positives = 0, zero_negatives = 0, one_positives = 0, one_negatives = 0;
};

Histogram bin_posteriors(const std::vector<double>& posteriors, const std::vector<bool>& positive);

}  // namespace punb::report
