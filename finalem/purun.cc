#include "finalem/purun.h"

#include <optional>

#include "docfile/fatal.h"
#include "docfile/outfile.h"
#include "finalem/final_stage.h"
#include "finalem/runlog.h"
#include "finalem/testset.h"
#include "spystep/spystep.h"

namespace punb {

SavedModel positive_unlabeled_mode_run(double threshold_rate, double lambda, double spy_fraction,
                                       int rounds, TrainingSets& sets, const RunFiles* reports,
                                       std::int32_t iterations, WorkerPool& pool) {
  // Created first, so that a run stopped by a later fault still leaves its (empty) log.
  std::optional<OutFile> log;
  if (reports) log.emplace(reports->log, kCannotReadTrainingSet, kWriteErrorNewFile);
  const SpyStepResult spy =
      run_spy_step(sets, reports != nullptr, {threshold_rate, lambda, spy_fraction, rounds}, pool);
  std::optional<TestSet> test;
  if (reports) test.emplace(reports->test, spy.mask);
  const FinalChoice choice = run_final_stage(spy, rounds, lambda, iterations,
                                             test ? &*test : nullptr, log ? &*log : nullptr, pool);
  if (reports) print(write_final_result(*log, *reports, choice.selected));

  SavedModel saved;
  saved.mode = RunMode::positive_unlabeled;
  saved.selected = choice.selected;
  saved.positive_documents = spy.positives;
  saved.unlabeled_documents = spy.unlabeled;
  saved.spies = spy.spies;
  saved.reliable_negatives = static_cast<std::int64_t>(spy.splits.front().reliable.size());
  saved.spy_threshold = spy.splits.front().threshold;
  saved.sequence = choice.sequence;
  keep_words(choice.model, spy.mask, spy.vocab, saved);
  return saved;
}

}  // namespace punb
