#pragma once

#include "docfile/docset.h"
#include "docfile/runfiles.h"
#include "docfile/workpool.h"
#include "nb/modelfile.h"
#include "peers/peers.h"

namespace punb {

// Naive Bayes mode: every unlabeled document counts as negative; trains once on the positive set
// against the unlabeled set and returns the model (the options of the run are left for the
// caller to fill in). With `reports` (the command line), it also writes the positive posterior of
// every test document to the result file and prints the report. Each of `peers` reads its share
// of the files; the leading process prints.
SavedModel naive_bayes_mode_run(double lambda, TrainingSets& sets, const RunFiles* reports,
                                WorkerPool& pool, Peers& peers);

}  // namespace punb
