// Threshold-free figures (hand-checked rankings, and random rankings with many ties against
// plain pairwise and per-document definitions), probability lines, and text in the picture.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "docfile/workpool.h"
#include "report/histogram.h"
#include "report/inputs.h"
#include "report/pu_figures.h"
#include "report/ranking.h"
#include "report/svg.h"

namespace punb::report {
namespace {

struct Doc {
  double score;
  bool positive;
};

Ranking rank(const std::vector<Doc>& docs) {
  std::vector<double> scores;
  std::vector<bool> positive;
  for (const Doc& d : docs) {
    scores.push_back(d.score);
    positive.push_back(d.positive);
  }
  return rank_documents(scores, positive);
}

constexpr double kNone = -1;  // the figure is undefined

struct Case {
  const char* name;
  std::vector<Doc> docs;
  double auc, ap, best_f, threshold;
};

const Case kCases[] = {
    {"separated", {{0.9, true}, {0.8, true}, {0.3, false}, {0.1, false}}, 1, 1, 1, 0.8},
    {"inverted", {{0.9, false}, {0.1, true}}, 0, 0.5, 2.0 / 3, 0.1},
    {"tie_across_classes", {{0.5, true}, {0.5, false}}, 0.5, 0.5, 2.0 / 3, 0.5},
    {"all_equal",
     {{0.3, true}, {0.3, false}, {0.3, true}, {0.3, false}, {0.3, true}},
     0.5,
     0.6,
     0.75,
     0.3},
    {"mixed_ties",
     {{0.8, true}, {0.8, false}, {0.6, true}, {0.4, false}, {0.4, true}},
     0.5,
     53.0 / 90,
     0.75,
     0.4},
    {"equal_f_keeps_higher_threshold",
     {{0.9, true}, {0.8, false}, {0.7, false}, {0.6, true}},
     0.5,
     0.75,
     2.0 / 3,
     0.9},
    {"input_order_irrelevant",
     {{0.1, false}, {0.8, true}, {0.3, false}, {0.9, true}},
     1,
     1,
     1,
     0.8},
    {"no_negatives", {{0.7, true}, {0.2, true}}, kNone, 1, 1, 0.2},
    {"no_positives", {{0.7, false}, {0.2, false}}, kNone, kNone, kNone, 0},
    {"empty", {}, kNone, kNone, kNone, 0},
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class HandChecked : public ::testing::TestWithParam<Case> {};

void expect_figure(const std::optional<double>& got, double want, const char* what) {
  if (want == kNone) {
    EXPECT_FALSE(got) << what;
  } else {
    ASSERT_TRUE(got) << what;
    EXPECT_NEAR(*got, want, 1e-15) << what;
  }
}

TEST_P(HandChecked, Figures) {
  const Case& c = GetParam();
  const Ranking r = rank(c.docs);
  expect_figure(roc_auc(r), c.auc, "ROC AUC");
  expect_figure(average_precision(r), c.ap, "average precision");
  const std::optional<BestF> best = best_f_measure(r);
  expect_figure(best ? std::optional(best->f_measure) : std::nullopt, c.best_f, "best F");
  if (best) {
    EXPECT_EQ(best->threshold, c.threshold);
  }
}

INSTANTIATE_TEST_SUITE_P(Rankings, HandChecked, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The definitions taken literally, one document or one pair at a time.
double pairwise_auc(const std::vector<Doc>& docs) {
  double won = 0, pairs = 0;
  for (const Doc& p : docs) {
    for (const Doc& n : docs) {
      if (!p.positive || n.positive) continue;
      pairs += 1;
      won += p.score > n.score ? 1 : p.score == n.score ? 0.5 : 0;
    }
  }
  return won / pairs;
}

// Mean over the positive documents of the precision among all documents scoring at least as
// high as each: tied documents are taken together.
double per_document_ap(const std::vector<Doc>& docs) {
  double sum = 0, positives = 0;
  for (const Doc& d : docs) {
    if (!d.positive) continue;
    double above = 0, positive_above = 0;
    for (const Doc& e : docs) {
      if (e.score < d.score) continue;
      above += 1;
      positive_above += e.positive;
    }
    sum += positive_above / above;
    positives += 1;
  }
  return sum / positives;
}

double best_f_by_trial(const std::vector<Doc>& docs) {
  double best = 0;
  for (const Doc& t : docs) {
    double tp = 0, fp = 0, fn = 0;
    for (const Doc& d : docs) {
      const bool decided = d.score >= t.score;
      tp += decided && d.positive;
      fp += decided && !d.positive;
      fn += !decided && d.positive;
    }
    best = std::max(best, 2 * tp / (2 * tp + fp + fn));
  }
  return best;
}

TEST(Curves, OnePointPerDistinctScore) {
  const std::vector<CurvePoint> points = cumulative_counts(rank(kCases[4].docs));  // mixed ties
  const std::vector<std::pair<std::int64_t, std::int64_t>> expected = {{1, 1}, {2, 1}, {3, 2}};
  ASSERT_EQ(points.size(), expected.size());
  for (std::size_t i = 0; i < points.size(); ++i) {
    EXPECT_EQ(points[i].true_positives, expected[i].first) << i;
    EXPECT_EQ(points[i].false_positives, expected[i].second) << i;
  }
}

TEST(RandomRankings, AgreeWithTheLiteralDefinitions) {
  std::mt19937 random(7);
  for (int round = 0; round < 200; ++round) {
    std::vector<Doc> docs;
    const int n = 2 + static_cast<int>(random() % 40);
    const int distinct = 1 + static_cast<int>(random() % 12);  // few values: many ties
    for (int i = 0; i < n; ++i) {
      docs.push_back({static_cast<double>(random() % distinct) / distinct, random() % 3 == 0});
    }
    docs[0].positive = true;
    docs[1].positive = false;
    const Ranking r = rank(docs);
    EXPECT_NEAR(*roc_auc(r), pairwise_auc(docs), 1e-12) << round;
    EXPECT_NEAR(*average_precision(r), per_document_ap(docs), 1e-12) << round;
    EXPECT_NEAR(best_f_measure(r)->f_measure, best_f_by_trial(docs), 1e-12) << round;
  }
}

struct ProbabilityText {
  const char* text;
  double value;  // kNone: not a probability
};

const ProbabilityText kProbabilityTexts[] = {
    {"0.0000846376177911", 0.0000846376177911},
    {"1.0000000000000000", 1},
    {"0", 0},
    {"0.5", 0.5},
    {"", kNone},
    {"-0.1", kNone},
    {"1.0000000000000002", kNone},
    {"nan", kNone},
    {"inf", kNone},
    {" 0.5", kNone},
    {"0.5 ", kNone},
    {"0.5x", kNone},
    {"+0.5", kNone},
    {"1e-5", kNone},
    {"0.5\r", kNone},
};

TEST(ProbabilityLine, ReadsOnlyADecimalFromZeroToOne) {
  for (const ProbabilityText& t : kProbabilityTexts) {
    const std::optional<double> p = parse_probability(t.text);
    if (t.value == kNone) {
      EXPECT_FALSE(p) << t.text;
    } else {
      EXPECT_EQ(p, std::optional(t.value)) << t.text;
    }
  }
}

TEST(Histogram, BinsByLogOddsWithZeroAndOneApart) {
  const Histogram h = bin_posteriors({0, 1, 1, 1e-16, 0.5, 0.9999999999999999, 0.3, 0.5},
                                     {true, false, true, false, true, true, false, false});
  EXPECT_EQ(h.half_range, 38);
  EXPECT_EQ(h.zero_positives, 1);
  EXPECT_EQ(h.zero_negatives, 0);
  EXPECT_EQ(h.one_positives, 1);
  EXPECT_EQ(h.one_negatives, 1);
  std::vector<std::int64_t> positives(Histogram::kBins, 0), negatives(Histogram::kBins, 0);
  negatives[0] = 1;                     // 1e-16: the lowest bin
  negatives[19] = 1;                    // 0.3: just below the middle
  positives[20] = negatives[20] = 1;    // 0.5: log-odds 0
  positives[Histogram::kBins - 1] = 1;  // the largest posterior below 1
  EXPECT_EQ(h.positives, positives);
  EXPECT_EQ(h.negatives, negatives);
  const Histogram narrow = bin_posteriors({0.2, 0.8}, {false, true});
  EXPECT_EQ(narrow.half_range, 6);
  EXPECT_EQ(narrow.negatives[15] + narrow.positives[24], 2);
}

TEST(PictureText, AnyFileNameMakesValidXml) {
  const std::pair<std::string, std::string> kTexts[] = {
      {"a&b<c>\"d'", "a&amp;b&lt;c&gt;&quot;d&apos;"},
      {"caf\xc3\xa9 \xe2\x82\xac", "caf\xc3\xa9 \xe2\x82\xac"},  // UTF-8 stays
      {"x\xffy\xc3", "x\xef\xbf\xbdy\xef\xbf\xbd"},              // stray bytes do not
      {"\xe2\x82z", "\xef\xbf\xbd\xef\xbf\xbdz"},
      {"tab\there\x01\x7f", "tabhere"},
  };
  for (const auto& [text, xml] : kTexts) EXPECT_EQ(xml_text(text), xml) << text;
  // A sequence cut short by the end of the text, whatever follows in memory.
  EXPECT_EQ(xml_text(std::string_view("a\xc3\xa9").substr(0, 2)), "a\xef\xbf\xbd");
}

TEST(PictureText, CoordinatesAreShortAndNeverNan) {
  SvgCanvas svg(10, 10, "t");
  svg.line({1.5, 2}, {3.254, std::nan("")}, {"#000", 1, ""});
  svg.text({-0.001, 1e300 * 1e300}, "x");
  const std::string out = svg.finish();
  EXPECT_NE(out.find("x1=\"1.5\" y1=\"2\" x2=\"3.25\" y2=\"0\""), std::string::npos) << out;
  EXPECT_NE(out.find("<text x=\"0\" y=\"0\""), std::string::npos) << out;
}

// Held-out positives against unlabeled documents, each figure worked out by hand.
struct PuCase {
  const char* name;
  std::vector<double> held, unlabeled;
  double prior;
  double recall, share, lee_liu, precision, f1, auc, corrected_auc, estimate;
};

// clang-format off
const PuCase kPuCases[] = {
    // r 3/4, q 3/6; 15 of 24 pairs won; at 0.9: 1 of 4 held-out and 1 of 6 unlabeled.
    {"mixed", {0.9, 0.8, 0.6, 0.2}, {0.7, 0.4, 0.3, 0.1, 0.95, 0.55}, 0.5,
     0.75, 0.5, 1.125, 0.75, 0.75, 0.625, 0.75, 4.0 / 6},
    {"all_tied", {0.5, 0.5}, {0.5, 0.5}, 0.9, 1, 1, 1, 0.9, 1.8 / 1.9, 0.5, 0.5, 1},
    {"none_found", {0.1}, {0.9, 0.8}, 0.3, 0, 1, 0, 0, 0, 0, 0, 1},  // AUC clipped at 0
    {"nothing_unlabeled_called", {0.7}, {0.2, 0.1}, 0.4, 1, 0, kNone, kNone, kNone, 1, 1, 0},
    {"precision_capped", {0.9, 0.1}, {0.9, 0.1, 0.1, 0.1}, 0.6,
     0.5, 0.25, 1, 1, 2.0 / 3, 0.625, 0.8125, 0.5},
    {"estimate_above_one", {0.9, 0.2, 0.2, 0.2}, {0.95, 0.9}, 0.5,
     0.25, 1, 0.0625, 0.125, 1.0 / 6, 0.0625, 0, 4},
};
// clang-format on

void PrintTo(const PuCase& c, std::ostream* os) { *os << c.name; }

Ranking pu_ranking(const std::vector<double>& held, const std::vector<double>& unlabeled) {
  std::vector<double> scores = held;
  scores.insert(scores.end(), unlabeled.begin(), unlabeled.end());
  std::vector<bool> positive(scores.size(), false);
  std::fill(positive.begin(), positive.begin() + static_cast<std::ptrdiff_t>(held.size()), true);
  return rank_documents(scores, positive);
}

class PuHandChecked : public ::testing::TestWithParam<PuCase> {};

TEST_P(PuHandChecked, Figures) {
  const PuCase& c = GetParam();
  const Ranking r = pu_ranking(c.held, c.unlabeled);
  const PuFigures given = measure_pu(r, c.prior);
  expect_figure(given.recall, c.recall, "recall");
  expect_figure(given.share, c.share, "share");
  expect_figure(given.lee_liu, c.lee_liu, "Lee and Liu");
  expect_figure(given.precision, c.precision, "precision");
  expect_figure(given.f1, c.f1, "F1");
  expect_figure(given.auc, c.auc, "AUC");
  expect_figure(given.corrected_auc, c.corrected_auc, "corrected AUC");
  EXPECT_FALSE(given.estimate);
  const PuFigures estimated = measure_pu(r, std::nullopt);
  ASSERT_TRUE(estimated.estimate);
  EXPECT_NEAR(estimated.estimate->value, c.estimate, 1e-15);
  EXPECT_EQ(estimated.prior, std::min(1.0, c.estimate));
  if (*estimated.prior >= 1) {
    EXPECT_FALSE(estimated.precision || estimated.f1 || estimated.corrected_auc);
  }
}

INSTANTIATE_TEST_SUITE_P(Rankings, PuHandChecked, ::testing::ValuesIn(kPuCases),
                         [](const auto& info) { return std::string(info.param.name); });

// 400 held-out positives, 280 of them decided positive, against 4000 unlabeled documents.
TEST(PuBootstrap, IntervalsHoldTheFigureAtTheirBinomialWidthAtAnyThreadCount) {
  std::mt19937 random(3);
  std::vector<double> held, unlabeled;
  for (int i = 0; i < 400; ++i) held.push_back((i < 280 ? 0.5 : 0) + (random() % 1000) / 2000.0);
  for (int i = 0; i < 4000; ++i) unlabeled.push_back((random() % 1000) / 999.0);
  const Ranking r = pu_ranking(held, unlabeled);
  WorkerPool one(1), three(3);
  const PuIntervals a = bootstrap_pu(r, std::nullopt, 1000, 1, one);
  const PuIntervals b = bootstrap_pu(r, std::nullopt, 1000, 1, three);
  const PuFigures f = measure_pu(r, std::nullopt);
  auto check = [](const std::optional<Interval>& i, const std::optional<Interval>& j,
                  const std::optional<double>& v, const char* what) {
    ASSERT_TRUE(i && j && v) << what;
    EXPECT_EQ(i->low, j->low) << what;
    EXPECT_EQ(i->high, j->high) << what;
    EXPECT_LT(i->low, *v) << what;
    EXPECT_GT(i->high, *v) << what;
  };
  check(a.recall, b.recall, f.recall, "recall");
  check(a.share, b.share, f.share, "share");
  check(a.prior, b.prior, f.prior, "prior");
  check(a.f1, b.f1, f.f1, "F1");
  check(a.corrected_auc, b.corrected_auc, f.corrected_auc, "corrected AUC");
  // 2 x 1.96 x sqrt(0.7 x 0.3 / 400) = 0.0898
  EXPECT_NEAR(a.recall->high - a.recall->low, 0.0898, 0.006);
  const PuIntervals other = bootstrap_pu(r, std::nullopt, 200, 2, one);
  EXPECT_NE(other.recall->low + other.share->low, a.recall->low + a.share->low);
}

TEST(PuWarning, AlmostEverythingOrAlmostNothingCalledPositive) {
  EXPECT_NE(degenerate_decision({100, 99, 1000, 950}).find("95.0 %"), std::string::npos);
  EXPECT_NE(degenerate_decision({100, 5, 1000, 0}).find("5.0 %"), std::string::npos);
  EXPECT_EQ(degenerate_decision({100, 6, 1000, 949}), "");
}

}  // namespace
}  // namespace punb::report
