#include "spystep/spystep.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <vector>

#include "finalem/final_stage.h"
#include "spystep/spies.h"

namespace punb {
namespace {

struct SpyCase {
  std::int64_t positives;
  double fraction;
  std::vector<std::uint32_t> spies;
};

void PrintTo(const SpyCase& c, std::ostream* os) { *os << c.positives << " x " << c.fraction; }

class SpyTable : public ::testing::TestWithParam<SpyCase> {};

TEST_P(SpyTable, SeededShuffleChoosesTheSameSpies) {
  const SpyCase& c = GetParam();
  const std::int64_t k = spy_count(c.positives, c.fraction);
  EXPECT_EQ(choose_spies(c.positives, k), c.spies);
}

INSTANTIATE_TEST_SUITE_P(Examples, SpyTable,
                         ::testing::Values(SpyCase{10, 0.3, {3, 8, 9}},
                                           SpyCase{20, 0.15, {7, 8, 15}},
                                           SpyCase{7, 0.5, {0, 4, 5}}, SpyCase{0, 0.15, {}},
                                           SpyCase{6, 0.15, {}},  // N * s below 1
                                           SpyCase{1, 1.0, {0}}, SpyCase{4, 1.0, {0, 1, 2, 3}}));

// Spy posteriors 1, 0.99, 0.98, ... in decreasing order.
std::vector<double> sorted_posteriors(std::size_t k) {
  std::vector<double> v(k);
  for (std::size_t i = 0; i < k; ++i) v[i] = 1.0 - static_cast<double>(i) / 100.0;
  return v;
}

TEST(SpyThreshold, PositionIsNinetyPercentOfTheSpiesRoundedDown) {
  const struct {
    std::size_t k;
    double rate;
    std::size_t position;
  } cases[] = {{1, 0.1, 0},    {3, 0.1, 2},  {10, 0.1, 9}, {15, 0.1, 13},
               {100, 0.1, 90}, {15, 1.0, 0}, {10, 0.5, 5}, {3, 1e-18, 3}};
  for (const auto& c : cases) {
    const std::vector<double> spies = sorted_posteriors(c.k);
    const double expected = c.position < c.k ? spies[c.position] : 1.1;  // past the end: 0 -> 1.1
    EXPECT_EQ(choose_spy_threshold(spies, c.rate), expected) << c.k << " " << c.rate;
  }
}

TEST(SpyThreshold, ValuesBelowTheFloorBecomeOnePointOne) {
  const double floor = std::exp(-200.0);
  EXPECT_EQ(choose_spy_threshold({}, 0.1), 1.1);
  EXPECT_EQ(choose_spy_threshold({0.0}, 0.1), 1.1);
  EXPECT_EQ(choose_spy_threshold({std::nextafter(floor, 0.0)}, 0.1), 1.1);
  EXPECT_EQ(choose_spy_threshold({floor}, 0.1), floor);
}

struct SelectionCase {
  const char* name;
  std::vector<double> prior;      // P[0..T]
  std::vector<double> miss_rate;  // M[0..T]
  std::optional<std::int64_t> selected;
};

void PrintTo(const SelectionCase& c, std::ostream* os) { *os << c.name; }

class SelectionTable : public ::testing::TestWithParam<SelectionCase> {};

TEST_P(SelectionTable, FirstPositiveDelta) {
  const SelectionCase& c = GetParam();
  ClassifierSelection selection;
  for (std::size_t i = 0; i < c.prior.size(); ++i) selection.record(c.prior[i], c.miss_rate[i]);
  EXPECT_EQ(selection.selected(), c.selected);
}

// delta_i = 2 * (M[i+1] * P[i] - M[i] * P[i]) + (P[i+1] - P[i])
// clang-format off
INSTANTIATE_TEST_SUITE_P(Sequences, SelectionTable,
    ::testing::Values(
    SelectionCase{"first_positive_is_three", {0.5, 0.4, 0.3, 0.2, 0.25, 0.3, 0.1, 0.1, 0.1}, {0.1, 0.1, 0.1, 0.1, 0.1, 0.1, 0.1, 0.1, 0.1}, 3},
    SelectionCase{"delta_zero_does_not_select", {0.5, 0.5, 0.75}, {0.25, 0.25, 0.25}, 1},
    SelectionCase{"miss_rate_rise_counts_twice", {0.5, 0.375}, {0.0, 0.25}, 0},
    SelectionCase{"miss_rate_rise_not_enough", {0.5, 0.25}, {0.0, 0.25}, std::nullopt},
    SelectionCase{"never_positive", {0.5, 0.4, 0.3}, {0.2, 0.2, 0.2}, std::nullopt},
    SelectionCase{ "last_iteration_is_never_chosen", {0.5, 0.5, 0.5, 0.9}, {0.1, 0.1, 0.1, 0.1}, 2},
    SelectionCase{"one_iteration", {0.5, 0.9}, {0.1, 0.1}, 0},
    SelectionCase{"no_iteration", {0.5}, {0.1}, std::nullopt},
    SelectionCase{"nan_lets_the_search_go_on", {0.5, NAN, 0.5, 0.75}, {0.1, 0.1, 0.1, 0.1}, 2}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

}  // namespace
}  // namespace punb
