#pragma once

#include <string>

#include "report/run.h"

namespace punb::report {

// The picture of a run, as a self-contained SVG file: (1) the figures of every classifier with
// the selected one marked, (2) the ROC and precision-recall curves of the result file's
// posteriors, (3) histograms of those posteriors for the positive and the negative test
// documents on a log-odds axis.
std::string draw_run(const RunReport& run, const std::string& stem);

}  // namespace punb::report
