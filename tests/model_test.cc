#include "nb/model.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "docfile/fatal.h"
#include "nb/metrics.h"
#include "nb/score.h"

namespace punb {
namespace {

struct Training {
  CountTable pos = CountTable(kTableSize);
  CountTable neg = CountTable(kTableSize);
  VocabularyMask mask = VocabularyMask(kIndexCount);
  void add(CountTable& table, std::vector<std::pair<int, int>> pairs, int lowest) {
    DocumentCounter counter{table.data(), mask.data(), lowest};
    for (auto [i, c] : pairs) counter(i, c);
  }
};

Model estimate(Training& t, double lambda, double w_neg, double n_all, Vocabulary& vocab) {
  vocab = measure_vocabulary(t.mask);
  Model m;
  m.priors = priors_from_documents(w_neg, n_all);
  m.neg = used_counts(t.neg, vocab);
  m.pos = used_counts(t.pos, vocab);
  smooth_word_counts(m.neg, lambda, vocab);
  smooth_word_counts(m.pos, lambda, vocab);
  return m;
}

TEST(Estimate, SmoothsWithTheNumberOfDistinctIndices) {
  Training t;
  t.add(t.pos, {{1, 2}, {2, 1}}, 1);
  t.add(t.neg, {{3, 4}}, 1);
  Vocabulary v;
  const Model m = estimate(t, 0.1, 1, 2, v);
  EXPECT_EQ(v.size, 3);
  EXPECT_EQ(v.largest, 3);
  const double pos[] = {2.1 / 3.3, 1.1 / 3.3, 0.1 / 3.3};
  const double neg[] = {0.1 / 4.3, 0.1 / 4.3, 4.1 / 4.3};
  for (int i = 1; i <= 3; ++i) {
    EXPECT_NEAR(m.pos[i], pos[i - 1], 1e-15) << i;
    EXPECT_NEAR(m.neg[i], neg[i - 1], 1e-15) << i;
  }
  EXPECT_EQ(m.priors.neg, 0.5);
  EXPECT_EQ(m.priors.pos, 0.5);
}

TEST(Estimate, VocabularyCountsDistinctIndicesNotTheLargest) {
  Training t;
  t.add(t.pos, {{5, 1}, {1000, 2}, {5, 3}}, 1);
  Vocabulary v;
  const Model m = estimate(t, 0.5, 1, 2, v);
  EXPECT_EQ(v.size, 2);
  EXPECT_EQ(v.largest, 1000);
  EXPECT_EQ(m.pos[5], (0.5 + 4.0) / (0.5 * 2 + 6.0));  // repeated pairs add up
}

// A one-word vocabulary model with chosen priors and word probabilities.
Model one_word_model(double prior_pos, double p_pos, double p_neg) {
  Model m;
  m.priors = {1 - prior_pos, prior_pos};
  m.pos = {0.0, p_pos, 0.0};
  m.neg = {0.0, p_neg, 0.0};
  return m;
}

Posteriors score_words(const Model& m, const std::vector<std::uint32_t>& counts) {
  VocabularyMask mask(kIndexCount);
  mask[1] = 1;
  const ScoreTable table(m, mask, {1, 1});
  ClassScores s(table);
  for (std::uint32_t c : counts) s.add_word(c, table.ln_words(1));
  return s.posteriors();
}

TEST(Score, DocumentWithoutCountedWordsGetsThePriors) {
  const Posteriors p = score_words(one_word_model(0.5, 0.3, 0.7), {});
  EXPECT_EQ(p.pos, 0.5);
  EXPECT_TRUE(p.positive()) << "a tie goes to the positive class";
  char line[kProbabilityLineMax];
  EXPECT_EQ(std::string(line, format_probability_line(p.pos, line)), "0.5000000000000000\n");
}

TEST(Score, LongDocumentsStayInRange) {
  // 4000 words at a likelihood ratio of 1.001 each: ln ratio ~4, still representable, while the
  // unshifted scores (~ -4000 * 1.2) would underflow exp().
  const Posteriors p =
      score_words(one_word_model(0.5, 0.3003, 0.3), std::vector<std::uint32_t>(4000, 1));
  const double log_odds = 4000 * std::log(1.001);
  EXPECT_NEAR(p.pos, 1 / (1 + std::exp(-log_odds)), 1e-11);
  // Strongly separated documents saturate rather than turning into NaN.
  const Posteriors q =
      score_words(one_word_model(0.5, 0.9, 0.01), std::vector<std::uint32_t>(4000, 5));
  EXPECT_EQ(q.pos, 1.0);
  EXPECT_EQ(q.neg, 0.0);
}

TEST(Score, RefusesModelsWhoseLogarithmIsNotFinite) {
  VocabularyMask mask(kIndexCount);
  mask[1] = 1;
  const Model cases[] = {one_word_model(0.0, 0.5, 0.5), one_word_model(1.0, 0.5, 0.5),
                         one_word_model(0.5, 0.0, 0.5), one_word_model(0.5, 0.5, NAN)};
  for (const Model& m : cases) {
    EXPECT_THROW(ScoreTable(m, mask, {1, 1}), Fatal);
  }
}

TEST(ProbabilityLine, MatchesPrintfDigitForDigit) {
  std::vector<double> values = {0.0,
                                1.0,
                                0.5,
                                1e-300,
                                4.9e-324,
                                0.99999999999999994,
                                0.12345678901234565,
                                0.00000762939453125};
  // Exact ties at the 17th decimal: printf rounds them half to even.
  for (int k = 1; k < 200; k += 2) values.push_back(std::ldexp(k, -17));
  std::mt19937_64 random(7);
  for (int i = 0; i < 200000; ++i) {
    values.push_back(std::uniform_real_distribution<double>(0.0, 1.0)(random));
    values.push_back(std::ldexp(1.0, -static_cast<int>(random() % 60)) *
                     std::uniform_real_distribution<double>(0.5, 1.0)(random));
  }
  for (double v : values) {
    char expected[64];
    std::snprintf(expected, sizeof expected, "%.16f\n", v);
    char line[kProbabilityLineMax];
    ASSERT_EQ(std::string(line, format_probability_line(v, line)), expected) << v;
  }
}

struct MetricsCase {
  const char* name;
  EvaluationCounters counters;
  const char* recall;
  const char* precision;
  const char* f_measure;
  const char* accuracy;
};

EvaluationCounters counters(std::int64_t tp_labels, std::int64_t tn_labels, double tp, double pp,
                            double tn) {
  EvaluationCounters c;
  c.test_positives = tp_labels;
  c.test_negatives = tn_labels;
  c.true_positives = tp;
  c.predicted_positives = pp;
  c.true_negatives = tn;
  c.predicted_negatives = static_cast<double>(tp_labels + tn_labels) - pp;
  return c;
}

void PrintTo(const MetricsCase& c, std::ostream* os) { *os << c.name; }

class MetricsTable : public ::testing::TestWithParam<MetricsCase> {};

TEST_P(MetricsTable, ReportLines) {
  const MetricsCase& c = GetParam();
  const ReportLines lines = report_lines(c.counters);
  EXPECT_EQ(lines.recall, c.recall);
  EXPECT_EQ(lines.precision, std::string("The Precision of the positive class is ") + c.precision);
  EXPECT_EQ(lines.f_measure, std::string("The F_measure for positive class is ") + c.f_measure);
  EXPECT_EQ(lines.accuracy, std::string("The Accuracy for both classes is ") + c.accuracy);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Counters, MetricsTable, ::testing::Values(
    // counters(test positives, test negatives, true positives, predicted positives, true negatives)
    MetricsCase{"two_thirds", counters(3, 2, 2, 3, 1), "The Recall of the positive class is 66.667%\n", "66.667%\n", "66.667%\n", "60.000%\n"},
    MetricsCase{"no_positive_test_line", counters(0, 4, 0, 1, 3), "There is no positive examples in test set\n", "0.000%\n", "0.000%\n", "75.000%\n"},
    MetricsCase{"nothing_predicted_positive", counters(2, 2, 0, 0, 2), "The Recall of the positive class is 0.000%\n", "0.000%\n", "0.000%\n", "50.000%\n"},
    MetricsCase{"no_true_positive", counters(2, 2, 0, 2, 0), "The Recall of the positive class is 0.000%\n", "0.000%\n", "0.000%\n", "0.000%\n"},
    MetricsCase{"all_correct", counters(3, 4, 3, 3, 4), "The Recall of the positive class is 100.000%\n", "100.000%\n", "100.000%\n", "100.000%\n"},
    MetricsCase{"uneven", counters(7, 5, 4, 6, 3), "The Recall of the positive class is 57.143%\n", "66.667%\n", "61.538%\n", "58.333%\n"},
    MetricsCase{"empty_test_set", counters(0, 0, 0, 0, 0), "There is no positive examples in test set\n", "0.000%\n", "0.000%\n", "0.000%\n"}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

}  // namespace
}  // namespace punb
