// The two choices of a positive-unlabeled run in their corners, which generated corpora rarely
// reach: the spy threshold near its floor and past the last spy, and the classifier selection
// with deltas of exactly 0 or not a number.
#include "spystep/spystep.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <vector>

#include "finalem/final_stage.h"

namespace punb {
namespace {

TEST(SpyThreshold, PositionFloorAndReplacement) {
  const double floor = std::exp(-200.0);
  const struct {
    std::vector<double> sorted_spies;
    double rate;
    double threshold;
  } cases[] = {
      {{0.9, 0.8, 0.7}, 0.1, 0.7},    // trunc(0.9 * 3) = 2
      {{0.9, 0.8, 0.7}, 1e-18, 1.1},  // position 3, past the last spy, holds 0
      {{0.9, 0.8, 0.7}, 1.0, 0.9},   {{}, 0.1, 1.1}, {{0.5, std::nextafter(floor, 0.0)}, 0.5, 1.1},
      {{0.5, floor}, 0.5, floor},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(choose_spy_threshold(c.sorted_spies, c.rate), c.threshold) << c.rate;
  }
}

// delta_i = 2 * (M[i+1] * P[i] - M[i] * P[i]) + (P[i+1] - P[i]); the first i with delta_i > 0.
TEST(ClassifierSelection, FirstPositiveDelta) {
  const struct {
    std::vector<double> prior;      // P[0..T]
    std::vector<double> miss_rate;  // M[0..T]
    std::optional<std::int64_t> selected;
  } cases[] = {
      {{0.5, 0.4, 0.3, 0.2, 0.25, 0.3, 0.1}, {0.1, 0.1, 0.1, 0.1, 0.1, 0.1, 0.1}, 3},
      {{0.5, 0.5, 0.75}, {0.25, 0.25, 0.25}, 1},  // delta 0 does not select
      {{0.5, 0.375}, {0.0, 0.25}, 0},             // a rise of the miss rate counts twice
      {{0.5, 0.25}, {0.0, 0.25}, std::nullopt},
      {{0.5, 0.5, 0.5, 0.9}, {0.1, 0.1, 0.1, 0.1}, 2},  // the last iteration is never chosen
      {{0.5}, {0.1}, std::nullopt},
      {{0.5, NAN, 0.5, 0.75}, {0.1, 0.1, 0.1, 0.1}, 2},  // NaN lets the search go on
  };
  for (const auto& c : cases) {
    ClassifierSelection selection;
    for (std::size_t i = 0; i < c.prior.size(); ++i) selection.record(c.prior[i], c.miss_rate[i]);
    EXPECT_EQ(selection.selected(), c.selected) << ::testing::PrintToString(c.prior);
  }
}

}  // namespace
}  // namespace punb
