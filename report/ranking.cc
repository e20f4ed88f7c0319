#include "report/ranking.h"

#include <algorithm>
#include <numeric>

namespace punb::report {

Ranking rank_documents(const std::vector<double>& scores, const std::vector<bool>& positive) {
  std::vector<std::size_t> order(scores.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::sort(order.begin(), order.end(),
            [&](std::size_t a, std::size_t b) { return scores[a] > scores[b]; });
  Ranking r;
  for (std::size_t i : order) {
    if (r.steps.empty() || r.steps.back().score != scores[i]) r.steps.push_back({scores[i], 0, 0});
    if (positive[i]) {
      ++r.steps.back().positives;
      ++r.positives;
    } else {
      ++r.steps.back().negatives;
      ++r.negatives;
    }
  }
  return r;
}

std::optional<double> roc_auc(const Ranking& r) {
  if (r.positives == 0 || r.negatives == 0) return std::nullopt;
  // Twice the count of won pairs, in integers, so that the only rounding is the final division.
  // The test set is below 2^31 documents, so 2 * positives * negatives fits.
  std::uint64_t twice_won = 0;
  std::uint64_t negatives_above = 0;
  for (const RankStep& s : r.steps) {
    const auto a = static_cast<std::uint64_t>(s.positives);
    const auto b = static_cast<std::uint64_t>(s.negatives);
    const std::uint64_t negatives_below =
        static_cast<std::uint64_t>(r.negatives) - negatives_above - b;
    twice_won += 2 * a * negatives_below + a * b;
    negatives_above += b;
  }
  const double pairs = static_cast<double>(r.positives) * static_cast<double>(r.negatives);
  return static_cast<double>(twice_won) / (2 * pairs);
}

std::optional<double> average_precision(const Ranking& r) {
  if (r.positives == 0) return std::nullopt;
  const auto all_positives = static_cast<double>(r.positives);
  double sum = 0.0;
  std::int64_t tp = 0;
  std::int64_t taken = 0;
  for (const RankStep& s : r.steps) {
    tp += s.positives;
    taken += s.positives + s.negatives;
    if (s.positives == 0) continue;
    const double recall_step = static_cast<double>(s.positives) / all_positives;
    const double precision = static_cast<double>(tp) / static_cast<double>(taken);
    sum += recall_step * precision;
  }
  return sum;
}

std::optional<BestF> best_f_measure(const Ranking& r) {
  if (r.positives == 0) return std::nullopt;
  std::optional<BestF> best;
  std::int64_t tp = 0;
  std::int64_t taken = 0;
  for (const RankStep& s : r.steps) {
    tp += s.positives;
    taken += s.positives + s.negatives;
    // F = 2TP / (2TP + FP + FN), and FP + FN + 2TP = documents taken + all positives.
    const double f = static_cast<double>(2 * tp) / static_cast<double>(taken + r.positives);
    if (!best || f > best->f_measure) best = BestF{f, s.score};
  }
  return best;
}

std::vector<CurvePoint> cumulative_counts(const Ranking& r) {
  std::vector<CurvePoint> points;
  points.reserve(r.steps.size());
  CurvePoint at{0, 0};
  for (const RankStep& s : r.steps) {
    at.true_positives += s.positives;
    at.false_positives += s.negatives;
    points.push_back(at);
  }
  return points;
}

}  // namespace punb::report
