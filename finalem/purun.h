#pragma once

#include <cstdint>

#include "docfile/runfiles.h"
#include "docfile/workpool.h"
#include "nb/modelfile.h"

namespace punb {

// Positive-unlabeled mode: the spy step, then the final stage for every round, then the
// selected classifier's result. Returns the selected classifier (the options of the run are left
// for the caller to fill in).
SavedModel positive_unlabeled_mode_run(double threshold_rate, double lambda, double spy_fraction,
                                       int rounds, const RunFiles& files, std::int32_t iterations,
                                       WorkerPool& pool);

}  // namespace punb
