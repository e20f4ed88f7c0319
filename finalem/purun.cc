#include "finalem/purun.h"

#include <optional>

#include "docfile/fatal.h"
#include "docfile/outfile.h"
#include "docfile/progress.h"
#include "docfile/shared_out.h"
#include "finalem/final_stage.h"
#include "finalem/runlog.h"
#include "finalem/testset.h"
#include "spystep/spystep.h"

namespace punb {

SavedModel positive_unlabeled_mode_run(double threshold_rate, double lambda, double spy_fraction,
                                       int rounds, TrainingSets& sets, const RunFiles* reports,
                                       bool keep_model, std::int32_t iterations, WorkerPool& pool,
                                       Peers& peers) {
  // Created first, so that a run stopped by a later fault still leaves its (empty) log.
  std::optional<SharedOutFile> log_file;
  std::optional<RunLog> log;
  if (reports) {
    log_file.emplace(peers, reports->log, kCannotReadTrainingSet, kWriteErrorNewFile);
    log.emplace(*log_file);
  }
  SpyStepResult spy = run_spy_step(sets, reports != nullptr,
                                   {threshold_rate, lambda, spy_fraction, rounds}, pool, peers);
  std::optional<TestSet> test;
  if (reports) test.emplace(reports->test, spy.mask, peers);
  const FinalChoice choice =
      run_final_stage(spy, rounds, lambda, iterations, test ? &*test : nullptr,
                      log ? &*log : nullptr, keep_model, pool, peers);
  if (reports) {
    progress_step("final result");
    const std::string report = write_final_result(*log, *reports, choice.selected, peers);
    if (peers.leads()) print(report);
  }
  // The documents are not needed any more: their memory goes before the model is kept.
  test.reset();
  spy.positive_docs = DocStore();
  spy.unlabeled_docs = DocStore();

  SavedModel saved;
  saved.mode = RunMode::positive_unlabeled;
  saved.selected = choice.selected;
  saved.positive_documents = spy.positives;
  saved.unlabeled_documents = spy.unlabeled;
  saved.spies = spy.spies;
  saved.reliable_negatives = spy.splits.front().all_reliable;
  saved.spy_threshold = spy.splits.front().threshold;
  saved.sequence = choice.sequence;
  if (keep_model) keep_words(choice.model, spy.mask, spy.vocab, saved);
  return saved;
}

}  // namespace punb
