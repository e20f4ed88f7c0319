#include "finalem/final_stage.h"

#include <string>

#include "docfile/fatal.h"
#include "docfile/progress.h"
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
                                     double lambda, WorkerPool& pool, Peers& peers) {
  const std::int64_t reliable_negatives = split.all_reliable;
  const std::size_t n = static_cast<std::size_t>(spy.vocab.largest) + 2;
  SecondStage stage;
  Model& m = stage.model;
  m.priors = priors_from_documents(static_cast<double>(reliable_negatives),
                                   static_cast<double>(reliable_negatives + spy.positives));
  m.pos.assign(n, 0.0);
  m.neg.assign(n, 0.0);
  // Whole counts: exact in any order while their sum stays below 2^53.
  const bool positives_exact = spy.positive_count_sum < kExactWholeSum;
  const bool negatives_exact = spy.unlabeled_count_sum < kExactWholeSum;
  auto count_positives = [&](bool exact) {
    count_documents(spy.positive_docs, &spy.every_positive, m.pos, nullptr, kLowestCountedIndex,
                    exact, pool);
  };
  auto count_reliable = [&](bool exact) {
    count_documents(spy.unlabeled_docs, &split.reliable, m.neg, nullptr, kLowestCountedIndex, exact,
                    pool);
  };
  count_positives(spy.positive_docs.count_sum() < kExactWholeSum);
  add_up_counts(peers, m.pos, positives_exact, 1, [&](int) { count_positives(false); });
  stage.raw_positive_counts = m.pos;
  count_reliable(spy.unlabeled_docs.count_sum() < kExactWholeSum);
  add_up_counts(peers, m.neg, negatives_exact, 1, [&](int) { count_reliable(false); });
  smooth_word_counts(m.neg, lambda, spy.vocab);
  smooth_word_counts(m.pos, lambda, spy.vocab);
  return stage;
}

// The share of positive documents that the model classifies as negative.
double positive_miss_rate(const SpyStepResult& spy, const ScoreTable& table, WorkerPool& pool,
                          Peers& peers, std::vector<Posteriors>& post) {
  score_selection(spy.positive_docs, spy.every_positive, table, pool, post);
  std::int64_t misses = 0;
  for (const Posteriors& p : post) {
    if (!p.positive()) ++misses;
  }
  return static_cast<double>(peers.sum(misses)) / static_cast<double>(spy.positives);
}

// The expectation step over both groups, the remaining unlabeled documents and then the reliable
// negatives: their weighted counts, and the sums of their posteriors (negative, positive).
void score_and_gather_groups(const SpyStepResult& spy, const SpyStepResult::Split& split,
                             const ScoreTable& current, WeightedCounts& counts, WorkerPool& pool,
                             Peers& peers, std::vector<Posteriors> (&post)[2], double (&sums)[2]) {
  const WeightedCounts::Group groups[] = {
      {&spy.unlabeled_docs, &split.remaining, &post[0], &split.remaining_mixed},
      {&spy.unlabeled_docs, &split.reliable, &post[1], &split.reliable_mixed}};
  counts.score_and_gather_in_process_order(peers, groups, current, spy.ranges, spy.pass_bounds,
                                           pool);
  add_in_process_order(peers, sums, 2, [&](int g) {
    for (const Posteriors& p : post[g]) {
      sums[0] += p.neg;
      sums[1] += p.pos;
    }
  });
}

// One EM iteration: the remaining unlabeled documents and then the reliable negatives are
// scored with the current model and gathered; the positives count fully for their class. The
// new model replaces `model`.
void em_iteration(const SpyStepResult& spy, const SpyStepResult::Split& split,
                  const ScoreTable& current, const std::vector<double>& raw_positive_counts,
                  double lambda, WeightedCounts& counts, Model& model, WorkerPool& pool,
                  Peers& peers, std::vector<Posteriors> (&post)[2]) {
  counts.clear();
  double sums[2] = {0.0, 0.0};
  score_and_gather_groups(spy, split, current, counts, pool, peers, post, sums);
  const auto all = static_cast<double>(spy.positives + spy.unlabeled);
  model.priors.neg = sums[0] / all;
  model.priors.pos = (sums[1] + static_cast<double>(spy.positives)) / all;
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

void test_pass(TestSet& test, const ScoreTable& table, WorkerPool& pool, Peers& peers, RunLog& log,
               std::string_view log_header, std::string_view console_header, bool keep) {
  progress_part("test");
  EvaluationCounters counters;
  const auto section = static_cast<std::int64_t>(log.blocks.size());
  // One process writes its lines as they come; several, each its share at once.
  std::string mine;
  test.score_all(table, pool, [&](const ScoredTests& s) {
    if (peers.size() == 1) log.file.append(s.lines);
    if (peers.size() > 1 || keep) mine += s.lines;
    for (std::size_t j = 0; j < s.labels.size(); ++j) {
      counters.count_label(s.labels[j]);
      counters.count_decision(s.labels[j], s.post[j].positive());
    }
  });
  if (peers.size() > 1) {
    // Lines after a fault of the first pass are not written, as one process would not have.
    std::size_t keep_bytes = 0;
    for (std::int64_t n = test.lines_before_fault(); n > 0 && keep_bytes < mine.size(); --n) {
      keep_bytes = mine.find('\n', keep_bytes) + 1;
    }
    mine.resize(keep_bytes);
    log.file.write_at(log.file.take_room(static_cast<std::int64_t>(keep_bytes)), mine);
  }
  test.raise_fault();
  if (keep) log.lines[section] = std::move(mine);
  add_up(counters, peers);
  const ReportLines lines = report_lines(counters);
  std::string& block = log.blocks.emplace_back();
  for (std::string_view text :
       {kSeparator, log_header, std::string_view(lines.recall), std::string_view(lines.precision),
        std::string_view(lines.f_measure), std::string_view(lines.accuracy),
        std::string_view("\n")}) {
    block.append(text);
  }
  log.file.append(peers.leads() ? block : std::string());
  if (peers.leads()) {
    print(std::string(console_header) + lines.recall + lines.precision + lines.f_measure +
          lines.accuracy);
  }
}

FinalChoice run_final_stage(const SpyStepResult& spy, int rounds, double lambda,
                            std::int32_t iterations, TestSet* test, RunLog* log, bool keep_model,
                            WorkerPool& pool, Peers& peers) {
  auto test_and_report = [&](const ScoreTable& table, std::string_view header, bool keep) {
    if (!test || !log) return;
    std::string console = "\n";  // an append: g++ 12 misreads "\n" + header as an overlapping copy
    console.append(header);
    test_pass(*test, table, pool, peers, *log, header, console, keep);
  };
  std::vector<Posteriors> post[2];
  FinalChoice choice;
  for (int round = 0; round < rounds; ++round) {
    const SpyStepResult::Split& split = spy.splits[static_cast<std::size_t>(round)];
    if (split.all_reliable == 0) {
      throw Fatal("no reliable negatives",
                  "every unlabeled document scored above the spy threshold in round " +
                      std::to_string(round) + ", so the negative class would be empty");
    }
    progress_step("first classifier");
    ClassifierSelection selection;
    SecondStage stage = build_second_stage_model(spy, split, lambda, pool, peers);
    Model model = std::move(stage.model);
    ScoreTable table(model, spy.mask, spy.vocab, &pool);
    // The final result is the run log's section of the selected number, and round 0's sections
    // come first: the model and the lines kept are round 0's classifier of that number. They are
    // kept only while they may be selected: the first classifier's, and the latest one's until
    // the next entry tells (any of round 0's when a later round may select).
    const bool keep = round == 0;
    const bool keep_models = keep && keep_model;
    auto record = [&](const Model& current) {
      const double miss_rate = positive_miss_rate(spy, table, pool, peers, post[0]);
      selection.record(current.priors.pos, miss_rate);
      if (keep) choice.sequence.push_back({current.priors.pos, miss_rate});
    };
    record(model);
    test_and_report(table, kFirstClassifierHeader, keep);
    if (keep_models) choice.model = model;  // the first classifier, unless an iteration is selected
    Model previous;
    WeightedCounts counts(spy.vocab);
    for (std::int32_t t = 1; t <= iterations; ++t) {
      progress_step("EM iteration " + std::to_string(t) + " of " + std::to_string(iterations));
      if (keep_models && !selection.selected()) previous = model;
      em_iteration(spy, split, table, stage.raw_positive_counts, lambda, counts, model, pool, peers,
                   post);
      table.rebuild(model, spy.mask, spy.vocab, &pool);
      const bool chose_before = selection.selected().has_value();
      record(model);
      // Entry t decides for entry t - 1 at the earliest: the one before this iteration.
      if (keep_models && !chose_before && selection.selected()) choice.model = std::move(previous);
      if (keep && log && rounds == 1) {
        if (selection.selected()) {
          std::erase_if(log->lines,
                        [&](const auto& s) { return s.first != *selection.selected(); });
        } else if (t > 1) {
          log->lines.erase(t - 1);
        }
      }
      test_and_report(table, iteration_header(t), keep && (rounds > 1 || !selection.selected()));
    }
    if (selection.selected()) choice.selected = *selection.selected();
  }
  return choice;
}

}  // namespace punb
