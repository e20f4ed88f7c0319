#pragma once

#include <optional>
#include <string>
#include <vector>

#include "report/pu_figures.h"
#include "report/table.h"

namespace punb {
class WorkerPool;
}

namespace punb::report {

// A run's figures without labelled negatives: its held-out positives (the positive lines of the
// test set, whose posteriors the result file holds) against unlabeled documents scored by the
// run's classifier.
struct PuReport {
  std::string test_path, unlabeled_path;
  std::vector<double> held_out;         // posteriors of the held-out positives
  std::vector<double> unlabeled;        // posteriors of the unlabeled documents
  std::int64_t negatives_left_out = 0;  // negative test documents, not used here
  // The held-out positives' posteriors found among the unlabeled file's lines, and taken out.
  bool held_out_taken_out = false;
  Ranking ranking;
  PuFigures figures;
  PuIntervals intervals;
  std::string warning;  // the decision calls almost everything or almost nothing positive
};

PuReport load_pu_report(const std::string& stem, const std::string& unlabeled_path,
                        std::optional<double> prior, WorkerPool& pool);

std::string format_pu_table(const PuReport& report, TableStyle style);

// The picture: the figures with their intervals, and the two score distributions with the
// decision, the prior's share of positives and, for an estimated prior, its threshold.
std::string draw_pu_report(const PuReport& report, const std::string& stem);

}  // namespace punb::report
