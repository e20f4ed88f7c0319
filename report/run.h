#pragma once

#include <string>
#include <vector>

#include "report/figures.h"

namespace punb::report {

// One row of the report: a classifier of the run log, or the result file.
struct ClassifierRow {
  std::string name;  // "first classifier", "iteration 3", "result file"
  bool selected = false;
  Figures figures;
};

struct RunReport {
  std::vector<bool> positive;       // the test labels
  std::vector<double> result;       // the result file's posteriors
  std::vector<ClassifierRow> rows;  // the run log's classifiers, if any, then the result file
  std::string note;                 // why a run log on disk was left out, if it was
};

// Reads the files of the run named by `stem` and measures every classifier they hold. A run log
// counts when one of its sections holds the result file's lines (a log of an earlier run with
// the same stem does not, after a naive Bayes run); it is then checked throughout, and the
// sections that hold those lines, the last one excepted (punb never selects it), are marked.
RunReport load_run(const std::string& stem);

}  // namespace punb::report
