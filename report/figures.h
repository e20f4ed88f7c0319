#pragma once

#include <optional>
#include <string>
#include <vector>

#include "nb/metrics.h"
#include "report/ranking.h"

namespace punb::report {

// punb's decision from a printed posterior p: positive when P(neg|d) <= P(pos|d), a tie going to
// the positive class.
inline bool decided_positive(double p) { return 1 - p <= p; }

// The counters punb keeps for one test pass, rebuilt from the printed posteriors.
EvaluationCounters count_decisions(const std::vector<bool>& positive,
                                   const std::vector<double>& posteriors);

// What the report says about one classifier's posteriors on the test set.
struct Figures {
  // The four figures of the 0.5 decision as punb prints them ("88.889", in percent), "-" where
  // the test set leaves one undefined.
  std::string recall;
  std::string precision;
  std::string f_measure;
  std::string accuracy;
  std::optional<double> auc;
  std::optional<double> average_precision;
  std::optional<BestF> best_f;
};

Figures measure(const std::vector<bool>& positive, const std::vector<double>& posteriors);

// `v` with `decimals` decimals, rounded as printf rounds.
std::string fixed_decimals(double v, int decimals);

// A figure text as a number, for plotting; none for "-".
std::optional<double> figure_value(const std::string& text);

}  // namespace punb::report
