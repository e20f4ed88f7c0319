#pragma once

#include <cstdint>

#include "docfile/docset.h"
#include "docfile/runfiles.h"
#include "docfile/workpool.h"
#include "nb/modelfile.h"
#include "peers/peers.h"

namespace punb {

// Positive-unlabeled mode: the spy step, then the final stage for every round. Returns the
// selected classifier (the options of the run are left for the caller to fill in), its words
// only when `keep_model`. With
// `reports` (the command line, whose training sets are then files), the run also writes the run
// log, the working files and the result file, tests every classifier on the test set and prints
// the reports; without, it only trains. Each of `peers` reads its share of the files; the leading
// process prints.
SavedModel positive_unlabeled_mode_run(double threshold_rate, double lambda, double spy_fraction,
                                       int rounds, TrainingSets& sets, const RunFiles* reports,
                                       bool keep_model, std::int32_t iterations, WorkerPool& pool,
                                       Peers& peers);

}  // namespace punb
