#include "finalem/purun.h"

#include "docfile/fatal.h"
#include "docfile/outfile.h"
#include "finalem/final_stage.h"
#include "finalem/runlog.h"
#include "finalem/testset.h"
#include "spystep/spystep.h"

namespace punb {

int positive_unlabeled_mode_run(double threshold_rate, double lambda, double spy_fraction,
                                int rounds, const RunFiles& files, std::int32_t iterations,
                                WorkerPool& pool) {
  // Created first, so that a run stopped by a later fault still leaves its (empty) log.
  OutFile log(files.log, kCannotReadTrainingSet, kWriteErrorNewFile);
  const SpyStepResult spy =
      run_spy_step(files, {threshold_rate, lambda, spy_fraction, rounds}, pool);
  TestSet test(files.test, spy.mask);
  const std::int64_t selected = run_final_stage(spy, rounds, lambda, iterations, test, log, pool);
  print(write_final_result(log, files, selected));
  return 0;
}

}  // namespace punb
