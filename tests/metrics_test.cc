// The four figures and their fallbacks, for counters a generated test set rarely gives.
#include "nb/metrics.h"

#include <gtest/gtest.h>

#include <string>

namespace punb {
namespace {

TEST(ReportLines, FiguresAndFallbacks) {
  const struct {
    EvaluationCounters counters;  // test pos., test neg., predicted pos., TP, TN
    std::string recall, precision, f_measure, accuracy;  // "-": the no-positives line
  } cases[] = {
      {{3, 2, 3, 2, 1}, "66.667", "66.667", "66.667", "60.000"},
      {{7, 5, 6, 4, 3}, "57.143", "66.667", "61.538", "58.333"},
      {{0, 4, 1, 0, 3}, "-", "0.000", "0.000", "75.000"},
      {{2, 2, 0, 0, 2}, "0.000", "0.000", "0.000", "50.000"},  // nothing predicted positive
      {{2, 2, 2, 0, 0}, "0.000", "0.000", "0.000", "0.000"},   // no true positive
      {{0, 0, 0, 0, 0}, "-", "0.000", "0.000", "0.000"},       // an empty test set
  };
  for (const auto& c : cases) {
    const ReportLines lines = report_lines(c.counters);
    EXPECT_EQ(lines.recall, c.recall == "-"
                                ? "There is no positive examples in test set\n"
                                : "The Recall of the positive class is " + c.recall + "%\n");
    EXPECT_EQ(lines.precision, "The Precision of the positive class is " + c.precision + "%\n");
    EXPECT_EQ(lines.f_measure, "The F_measure for positive class is " + c.f_measure + "%\n");
    EXPECT_EQ(lines.accuracy, "The Accuracy for both classes is " + c.accuracy + "%\n");
  }
}

}  // namespace
}  // namespace punb
