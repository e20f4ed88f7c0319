#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "docfile/shared_out.h"
#include "finalem/testset.h"
#include "nb/modelfile.h"
#include "spystep/spystep.h"

namespace punb {

// The end-of-round choice among the classifiers of a round (entry 0 the first classifier, entry
// t EM iteration t): the first i whose
//   delta_i = 2 * (M[i+1] * P[i] - M[i] * P[i]) + (P[i+1] - P[i])
// is above 0, with P the positive prior and M the positive miss rate. Entries come one at a
// time, so the last one can end a search but never be chosen.
class ClassifierSelection {
 public:
  void record(double positive_prior, double miss_rate);
  std::optional<std::int64_t> selected() const { return selected_; }

 private:
  std::int64_t entries_ = 0;
  double prior_ = 0.0;
  double miss_rate_ = 0.0;
  std::optional<std::int64_t> selected_;
};

// The run log as the processes write it. It is only ever written, never read back (it may be
// /dev/null or a pipe): the final result comes from what is kept here, every section's result
// block, and this process's probability lines of the sections that may still be selected.
struct RunLog {
  explicit RunLog(SharedOutFile& file) : file(file) {}
  SharedOutFile& file;
  std::vector<std::string> blocks;
  std::map<std::int64_t, std::string> lines;  // by section number
};

// Tests a model on the test set: one probability line per document and the result block go to
// the run log, the header and the report lines to standard output. With `keep`, the log keeps
// the lines as the section's.
void test_pass(TestSet& test, const ScoreTable& table, WorkerPool& pool, Peers& peers, RunLog& log,
               std::string_view log_header, std::string_view console_header, bool keep);

// What the final stage chose: the selected classifier index and that classifier's model, and the
// statistics the selection read (entry 0 the first classifier, entry t iteration t).
struct FinalChoice {
  std::int64_t selected = 0;
  Model model;
  std::vector<SequenceEntry> sequence;
};

// Runs the final stage of every round (second-stage model, the EM iterations) and returns what it
// selected, with the selected model only when `keep_model` (a copy or two of the model is kept
// until the selection is known). With a test set and a run log, every classifier is tested into
// the log and reported.
FinalChoice run_final_stage(const SpyStepResult& spy, int rounds, double lambda,
                            std::int32_t iterations, TestSet* test, RunLog* log, bool keep_model,
                            WorkerPool& pool, Peers& peers);

}  // namespace punb
