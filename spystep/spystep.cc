#include "spystep/spystep.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>

#include "docfile/copy_lines.h"
#include "docfile/fatal.h"
#include "docfile/outfile.h"
#include "docfile/pieces.h"
#include "docfile/reader.h"
#include "nb/passes.h"
#include "spystep/spies.h"

namespace punb {

namespace {

// Positive-unlabeled mode counts index 0 as a word.
constexpr std::int32_t kLowestCountedIndex = 0;

// Adds the whole counts of the selected documents (all when null) into a table, marking them.
void add_counts(const DocStore& docs, const DocStore::Selection* which, CountTable& table,
                VocabularyMask& mask, bool exact_in_any_order, WorkerPool& pool) {
  count_documents(docs, which, {table.data(), table.size()}, mask.data(), kLowestCountedIndex,
                  exact_in_any_order, pool);
}

void refuse_empty_classes(const TrainingSets& sets, const SpyStepResult& s) {
  if (s.positives == 0) {
    throw Fatal("empty positive set",
                sets.positive.name() + ": no documents, so the positive prior is 0");
  }
  if (s.positives == s.spies) {
    throw Fatal("no positive documents besides the spies",
                "every positive document became a spy, so the first model's positive prior is 0 "
                "(lower the spy fraction)");
  }
}

// Copies every unlabeled-set line to the round's remaining-unlabeled or reliable-negative file.
void split_unlabeled_set(const std::string& unlabeled_set, int round,
                         const std::vector<std::uint8_t>& reliable, std::int64_t lines,
                         WorkerPool& pool) {
  PieceReader in(unlabeled_set, kCannotReadTrainingSet);
  const std::string r = std::to_string(round);
  OutFile remaining_file("unlabelmatrix" + r, "can not write unlabelmatrix");
  OutFile reliable_file("truetrain1matrix" + r, "can not write file truetrain1matrix");
  copy_document_lines(in, lines, pool, [&](std::int64_t i) -> OutFile& {
    return reliable[static_cast<std::size_t>(i)] ? reliable_file : remaining_file;
  });
  remaining_file.close();
  reliable_file.close();
}

}  // namespace

double choose_spy_threshold(const std::vector<double>& sorted_spy_pos, double threshold_rate) {
  const double keep = 1 - threshold_rate;
  const double position = keep * static_cast<double>(sorted_spy_pos.size());
  const auto t = static_cast<std::size_t>(position);
  double threshold = t < sorted_spy_pos.size() ? sorted_spy_pos[t] : 0.0;
  if (threshold < std::exp(-200.0)) threshold = 1.1;
  return threshold;
}

namespace {

// The spies and the other positive documents, each in positive-set order.
struct PositiveSplit {
  DocStore::Selection spies;
  DocStore::Selection others;
};

PositiveSplit choose_and_split_spies(TrainingSets& sets, bool working_files, double spy_fraction,
                                     SpyStepResult& s, WorkerPool& pool) {
  s.positives = sets.positive.read_into(s.positive_docs, pool);
  s.spies = spy_count(s.positives, spy_fraction);
  const std::vector<std::uint32_t> spies = choose_spies(s.positives, s.spies);
  if (working_files) split_positive_set(sets.positive.name(), spies, s.positives, pool);
  refuse_empty_classes(sets, s);
  std::size_t next_spy = 0;
  auto [spy_docs, other_docs] = s.positive_docs.partition([&](std::size_t line) {
    if (next_spy == spies.size() || spies[next_spy] != line) return false;
    ++next_spy;
    return true;
  });
  return {std::move(spy_docs), std::move(other_docs)};
}

// The reading phase and the first model: the positives without spies against the unlabeled
// set plus the spies. Returns the positive base counts, which every re-estimate adds back.
std::vector<double> build_first_model(TrainingSets& sets, const PositiveSplit& positives,
                                      double lambda, SpyStepResult& s, Model& model,
                                      WorkerPool& pool) {
  CountTable pos(kTableSize);
  CountTable neg(kTableSize);
  s.mask = VocabularyMask(kIndexCount);
  const std::uint64_t positive_sum = s.positive_docs.count_sum();
  add_counts(s.positive_docs, &positives.others, pos, s.mask, positive_sum < kExactWholeSum, pool);
  s.unlabeled = sets.unlabeled.read_into(s.unlabeled_docs, pool);
  const bool negatives_exact =
      positive_sum < kExactWholeSum && s.unlabeled_docs.count_sum() < kExactWholeSum - positive_sum;
  add_counts(s.unlabeled_docs, nullptr, neg, s.mask, negatives_exact, pool);
  add_counts(s.positive_docs, &positives.spies, neg, s.mask, negatives_exact, pool);
  if (s.unlabeled + s.spies == 0) {
    throw Fatal("empty unlabeled set", sets.unlabeled.name() +
                                           ": no documents and no spies, so the first model's "
                                           "negative prior is 0");
  }
  s.vocab = measure_vocabulary(s.mask);
  model.priors = priors_from_documents(static_cast<double>(s.unlabeled + s.spies),
                                       static_cast<double>(s.positives + s.unlabeled));
  model.neg = used_counts(neg, s.vocab);
  model.pos = used_counts(pos, s.vocab);
  s.ranges = GatherRanges::balanced(model.neg, gather_ranges_for(pool.size()));
  std::vector<double> base_pos = model.pos;
  smooth_word_counts(model.neg, lambda, s.vocab);
  smooth_word_counts(model.pos, lambda, s.vocab);
  return base_pos;
}

// One spy-step round: every spy and unlabeled document scored with the current model and
// gathered, the threshold taken from the spies, the unlabeled set split at it, and the model
// re-estimated for the next round.
void spy_step_round(const TrainingSets& sets, bool working_files, const SpyStepSettings& settings,
                    int round, const PositiveSplit& positives, const std::vector<double>& base_pos,
                    const DocStore::Selection& every_unlabeled, SpyStepResult& s, Model& model,
                    WorkerPool& pool) {
  const ScoreTable table(model, s.mask, s.vocab, &pool);
  WeightedCounts counts(s.vocab);

  std::vector<double> spy_neg;
  std::vector<double> spy_pos;
  std::vector<Posteriors> posts;
  counts.score_and_gather(s.positive_docs, positives.spies, table, s.ranges, pool, posts);
  for (const Posteriors& post : posts) {
    spy_neg.push_back(post.neg);
    spy_pos.push_back(post.pos);
  }
  std::sort(spy_pos.begin(), spy_pos.end(), std::greater<>());
  const double threshold = choose_spy_threshold(spy_pos, settings.threshold_rate);

  std::vector<std::uint8_t> reliable;
  reliable.reserve(static_cast<std::size_t>(s.unlabeled));
  SpyStepResult::Split& split = s.splits.emplace_back();
  split.threshold = threshold;
  double sum_neg = 0.0;
  double sum_pos = 0.0;
  counts.score_and_gather(s.unlabeled_docs, every_unlabeled, table, s.ranges, pool, posts);
  for (std::size_t j = 0; j < posts.size(); ++j) {
    const Posteriors& post = posts[j];
    sum_neg += post.neg;
    sum_pos += post.pos;
    const bool is_reliable = post.pos <= threshold;
    reliable.push_back(is_reliable ? 1 : 0);
    (is_reliable ? split.reliable : split.remaining).push_back(every_unlabeled[j]);
  }
  if (working_files) {
    split_unlabeled_set(sets.unlabeled.name(), round, reliable, s.unlabeled, pool);
  }

  // Re-estimate: the positives without spies count fully for the positive class, every spy
  // and unlabeled document with its posteriors for both; the sums go on from the unlabeled
  // documents' to the spies'.
  for (double p : spy_neg) sum_neg += p;
  for (double p : spy_pos) sum_pos += p;
  const auto all = static_cast<double>(s.positives + s.unlabeled);
  model.priors.neg = sum_neg / all;
  model.priors.pos = (static_cast<double>(s.positives - s.spies) + sum_pos) / all;
  counts.copy_to(model);
  for (std::size_t i = 0; i < model.pos.size(); ++i) model.pos[i] += base_pos[i];
  smooth_word_counts(model.neg, settings.smoothing_weight, s.vocab);
  smooth_word_counts(model.pos, settings.smoothing_weight, s.vocab);
}

}  // namespace

SpyStepResult run_spy_step(TrainingSets& sets, bool working_files, const SpyStepSettings& settings,
                           WorkerPool& pool) {
  if (settings.rounds > kMaxRounds) {
    throw Fatal("too many rounds", "the spy step runs at most 20 rounds");
  }
  SpyStepResult s;
  const PositiveSplit positives =
      choose_and_split_spies(sets, working_files, settings.spy_fraction, s, pool);
  Model model;
  const std::vector<double> base_pos =
      build_first_model(sets, positives, settings.smoothing_weight, s, model, pool);
  s.every_positive = s.positive_docs.all();
  const DocStore::Selection every_unlabeled = s.unlabeled_docs.all();
  for (int round = 0; round < settings.rounds; ++round) {
    spy_step_round(sets, working_files, settings, round, positives, base_pos, every_unlabeled, s,
                   model, pool);
  }
  return s;
}

}  // namespace punb
