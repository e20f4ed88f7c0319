#include "nb/metrics.h"

#include <cstdio>

namespace punb {

namespace {

std::string figure_line(const char* format, double value) {
  char text[128];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

}  // namespace

ReportLines report_lines(const EvaluationCounters& c) {
  const double tp = c.true_positives;
  const double pp = c.predicted_positives;
  const auto test_pos = static_cast<double>(c.test_positives);
  ReportLines lines;
  if (c.test_positives != 0) {
    lines.recall =
        figure_line("The Recall of the positive class is %.3f%%\n", (tp / test_pos) * 100);
  } else {
    lines.recall = "There is no positive examples in test set\n";
  }
  const double precision = pp != 0 ? (tp / pp) * 100 : 0.0;
  lines.precision = figure_line("The Precision of the positive class is %.3f%%\n", precision);
  double f = 0.0;
  if (pp != 0 && c.test_positives != 0) {
    const double r = tp / test_pos;
    const double p = tp / pp;
    if (r + p > 0) f = 2 * r * p / (r + p);
  }
  lines.f_measure = figure_line("The F_measure for positive class is %.3f%%\n", f * 100);
  // An empty test set has no accuracy to speak of; 0 keeps NaN out of the report.
  const std::int64_t tested = c.test_positives + c.test_negatives;
  const double accuracy =
      tested != 0 ? ((tp + c.true_negatives) * 100) / static_cast<double>(tested) : 0.0;
  lines.accuracy = figure_line("The Accuracy for both classes is %.3f%%\n", accuracy);
  return lines;
}

}  // namespace punb
