#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace punb::report {

// The test documents ordered by score, highest first, with equal scores taken together: one
// step of the ranking per distinct score. Every threshold-free figure is read off these steps,
// so tied documents always move together and a tie can never be broken by input order.
struct RankStep {
  double score;
  std::int64_t positives;
  std::int64_t negatives;
};

struct Ranking {
  std::vector<RankStep> steps;  // by decreasing score
  std::int64_t positives = 0;
  std::int64_t negatives = 0;
};

// `scores[i]` belongs to a document labelled positive when `positive[i]` is set.
Ranking rank_documents(const std::vector<double>& scores, const std::vector<bool>& positive);

// The probability that a random positive document scores above a random negative one, ties
// counting one half; none without documents of both classes.
std::optional<double> roc_auc(const Ranking& r);

// The sum, over the steps that hold positives, of the precision down to that step times the
// recall the step adds; none without positive documents.
std::optional<double> average_precision(const Ranking& r);

// The decision "positive when the score is at least `threshold`" with the highest F-measure;
// of equal F-measures the highest threshold. None without positive documents.
struct BestF {
  double f_measure;  // a fraction, 0..1
  double threshold;
};
std::optional<BestF> best_f_measure(const Ranking& r);

// One point per step for the curves: the true and false positives of the decision that takes
// every document down to that step as positive.
struct CurvePoint {
  std::int64_t true_positives;
  std::int64_t false_positives;
};
std::vector<CurvePoint> cumulative_counts(const Ranking& r);

}  // namespace punb::report
