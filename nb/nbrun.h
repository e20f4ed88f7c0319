#pragma once

#include "docfile/runfiles.h"
#include "docfile/workpool.h"
#include "nb/modelfile.h"

namespace punb {

// Naive Bayes mode: every unlabeled document counts as negative; trains once on the positive
// set against the unlabeled set, writes the positive posterior of every test document to the
// result file and prints the report. Returns the trained model (the options of the run are left
// for the caller to fill in).
SavedModel naive_bayes_mode_run(double lambda, const RunFiles& files, WorkerPool& pool);

}  // namespace punb
