#pragma once

#include "docfile/docset.h"
#include "docfile/runfiles.h"
#include "docfile/workpool.h"
#include "nb/modelfile.h"

namespace punb {

// Naive Bayes mode: every unlabeled document counts as negative; trains once on the positive set
// against the unlabeled set and returns the model (the options of the run are left for the
// caller to fill in). With `reports` (the command line), it also writes the positive posterior of
// every test document to the result file and prints the report.
SavedModel naive_bayes_mode_run(double lambda, TrainingSets& sets, const RunFiles* reports,
                                WorkerPool& pool);

}  // namespace punb
