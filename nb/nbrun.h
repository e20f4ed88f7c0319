#pragma once

#include "docfile/runfiles.h"
#include "docfile/workpool.h"

namespace punb {

// Naive Bayes mode: every unlabeled document counts as negative; trains once on the positive
// set against the unlabeled set, writes the positive posterior of every test document to the
// result file and prints the report. Returns the exit status.
int naive_bayes_mode_run(double lambda, const RunFiles& files, WorkerPool& pool);

}  // namespace punb
