#include "finalem/final_stage.h"

#include <string>

#include "docfile/fatal.h"
#include "nb/metrics.h"
#include "nb/passes.h"

namespace punb {

namespace {

constexpr std::string_view kSeparator = "****************************************************\n";
constexpr std::string_view kFirstClassifierHeader =
    "************< Naivebayes Result > *************\n";

std::string iteration_header(std::int32_t t) {
  return "************<  Iteration " + std::to_string(t) + " > *************\n";
}

// The fixed positives' counts and the model built from them against the reliable negatives.
struct SecondStage {
  std::vector<double> raw_positive_counts;
  Model model;
};

// Positive-unlabeled mode counts index 0 as a word.
constexpr std::int32_t kLowestCountedIndex = 0;

SecondStage build_second_stage_model(const SpyStepResult& spy, const SpyStepResult::Split& split,
                                     double lambda, WorkerPool& pool) {
  const auto reliable_negatives = static_cast<std::int64_t>(split.reliable.size());
  const std::size_t n = static_cast<std::size_t>(spy.vocab.largest) + 2;
  SecondStage stage;
  Model& m = stage.model;
  m.priors = priors_from_documents(static_cast<double>(reliable_negatives),
                                   static_cast<double>(reliable_negatives + spy.positives));
  m.pos.assign(n, 0.0);
  m.neg.assign(n, 0.0);
  // Whole counts: exact in any order while their sum stays below 2^53.
  const std::uint64_t positive_sum = spy.positive_docs.count_sum();
  const std::uint64_t unlabeled_sum = spy.unlabeled_docs.count_sum();
  count_documents(spy.positive_docs, &spy.every_positive, m.pos, nullptr, kLowestCountedIndex,
                  positive_sum < kExactWholeSum, pool);
  stage.raw_positive_counts = m.pos;
  count_documents(spy.unlabeled_docs, &split.reliable, m.neg, nullptr, kLowestCountedIndex,
                  unlabeled_sum < kExactWholeSum, pool);
  smooth_word_counts(m.neg, lambda, spy.vocab);
  smooth_word_counts(m.pos, lambda, spy.vocab);
  return stage;
}

// The share of positive documents that the model classifies as negative.
double positive_miss_rate(const SpyStepResult& spy, const ScoreTable& table, WorkerPool& pool,
                          std::vector<Posteriors>& post) {
  score_selection(spy.positive_docs, spy.every_positive, table, pool, post);
  std::int64_t misses = 0;
  for (const Posteriors& p : post) {
    if (!p.positive()) ++misses;
  }
  return static_cast<double>(misses) / static_cast<double>(spy.positives);
}

// One EM iteration: the remaining unlabeled documents and then the reliable negatives are
// scored with the current model and gathered; the positives count fully for their class. The
// new model replaces `model`.
void em_iteration(const SpyStepResult& spy, const SpyStepResult::Split& split,
                  const ScoreTable& current, const std::vector<double>& raw_positive_counts,
                  double lambda, WeightedCounts& counts, Model& model, WorkerPool& pool,
                  std::vector<Posteriors>& post) {
  counts.clear();
  double sum_neg = 0.0;
  double sum_pos = 0.0;
  for (const DocStore::Selection* group : {&split.remaining, &split.reliable}) {
    counts.score_and_gather(spy.unlabeled_docs, *group, current, spy.ranges, pool, post);
    for (const Posteriors& p : post) {
      sum_neg += p.neg;
      sum_pos += p.pos;
    }
  }
  const auto all = static_cast<double>(spy.positives + spy.unlabeled);
  model.priors.neg = sum_neg / all;
  model.priors.pos = (sum_pos + static_cast<double>(spy.positives)) / all;
  counts.copy_to(model);
  for (std::size_t i = 0; i < model.pos.size(); ++i) model.pos[i] += raw_positive_counts[i];
  smooth_word_counts(model.neg, lambda, spy.vocab);
  smooth_word_counts(model.pos, lambda, spy.vocab);
}

}  // namespace

void ClassifierSelection::record(double positive_prior, double miss_rate) {
  if (entries_ > 0 && !selected_) {
    const double delta = 2 * (miss_rate * prior_ - miss_rate_ * prior_) + (positive_prior - prior_);
    if (delta > 0) selected_ = entries_ - 1;
  }
  prior_ = positive_prior;
  miss_rate_ = miss_rate;
  ++entries_;
}

void test_pass(TestSet& test, const ScoreTable& table, WorkerPool& pool, OutFile& log,
               std::string_view log_header, std::string_view console_header) {
  EvaluationCounters counters;
  test.score_all(table, pool, [&](const ScoredTests& s) {
    log.write(s.lines);
    for (std::size_t j = 0; j < s.labels.size(); ++j) {
      counters.count_label(s.labels[j]);
      counters.count_decision(s.labels[j], s.post[j].positive());
    }
  });
  const ReportLines lines = report_lines(counters);
  for (std::string_view text :
       {kSeparator, log_header, std::string_view(lines.recall), std::string_view(lines.precision),
        std::string_view(lines.f_measure), std::string_view(lines.accuracy),
        std::string_view("\n")}) {
    log.write(text);
  }
  print(std::string(console_header) + lines.recall + lines.precision + lines.f_measure +
        lines.accuracy);
}

FinalChoice run_final_stage(const SpyStepResult& spy, int rounds, double lambda,
                            std::int32_t iterations, TestSet* test, OutFile* log,
                            WorkerPool& pool) {
  auto test_and_report = [&](const ScoreTable& table, std::string_view header) {
    if (!test || !log) return;
    std::string console = "\n";  // an append: g++ 12 misreads "\n" + header as an overlapping copy
    console.append(header);
    test_pass(*test, table, pool, *log, header, console);
  };
  std::vector<Posteriors> post;
  FinalChoice choice;
  for (int round = 0; round < rounds; ++round) {
    const SpyStepResult::Split& split = spy.splits[static_cast<std::size_t>(round)];
    if (split.reliable.empty()) {
      throw Fatal("no reliable negatives",
                  "every unlabeled document scored above the spy threshold in round " +
                      std::to_string(round) + ", so the negative class would be empty");
    }
    ClassifierSelection selection;
    const SecondStage stage = build_second_stage_model(spy, split, lambda, pool);
    Model model = stage.model;
    ScoreTable table(model, spy.mask, spy.vocab, &pool);
    // The final result is read from the run log by section number, and round 0's sections come
    // first: the model kept is round 0's classifier of the selected number. The models are kept
    // only until the selection is known.
    const bool keep = round == 0;
    auto record = [&](const Model& current) {
      const double miss_rate = positive_miss_rate(spy, table, pool, post);
      selection.record(current.priors.pos, miss_rate);
      if (keep) choice.sequence.push_back({current.priors.pos, miss_rate});
    };
    record(model);
    test_and_report(table, kFirstClassifierHeader);
    if (keep) choice.model = model;  // the first classifier, unless an iteration is selected
    Model previous;
    WeightedCounts counts(spy.vocab);
    for (std::int32_t t = 1; t <= iterations; ++t) {
      if (keep && !selection.selected()) previous = model;
      em_iteration(spy, split, table, stage.raw_positive_counts, lambda, counts, model, pool, post);
      table.rebuild(model, spy.mask, spy.vocab, &pool);
      const bool chose_before = selection.selected().has_value();
      record(model);
      // Entry t decides for entry t - 1 at the earliest: the one before this iteration.
      if (keep && !chose_before && selection.selected()) choice.model = std::move(previous);
      test_and_report(table, iteration_header(t));
    }
    if (selection.selected()) choice.selected = *selection.selected();
  }
  return choice;
}

}  // namespace punb
