#include "spystep/spystep.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>

#include "docfile/copy_lines.h"
#include "docfile/fatal.h"
#include "docfile/pieces.h"
#include "docfile/progress.h"
#include "docfile/reader.h"
#include "docfile/shared_out.h"
#include "nb/passes.h"
#include "spystep/spies.h"

namespace punb {

namespace {

// Positive-unlabeled mode counts index 0 as a word.
constexpr std::int32_t kLowestCountedIndex = 0;

// Adds the whole counts of the selected documents (all when null) into a table, marking them
// when a mask is given.
void add_counts(const DocStore& docs, const DocStore::Selection* which, std::span<double> table,
                VocabularyMask* mask, bool exact_in_any_order, WorkerPool& pool) {
  count_documents(docs, which, table, mask ? mask->data() : nullptr, kLowestCountedIndex,
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

// Copies every unlabeled-set line of this process's share to the round's remaining-unlabeled or
// reliable-negative file.
void split_unlabeled_set(const std::string& unlabeled_set, int round,
                         const std::vector<std::uint8_t>& reliable,
                         const std::vector<std::uint64_t>& line_bytes, WorkerPool& pool,
                         Peers& peers) {
  PieceReader in(unlabeled_set, kCannotReadTrainingSet, {peers.rank(), peers.size()});
  const std::string r = std::to_string(round);
  SharedOutFile remaining_file(peers, "unlabelmatrix" + r, "can not write unlabelmatrix");
  SharedOutFile reliable_file(peers, "truetrain1matrix" + r, "can not write file truetrain1matrix");
  SharedOutFile* const files[] = {&remaining_file, &reliable_file};
  copy_shared_lines(
      in, static_cast<std::int64_t>(reliable.size()), pool, peers, files,
      [&](std::int64_t i) -> std::size_t { return reliable[static_cast<std::size_t>(i)]; },
      &line_bytes);
  close_together(files);
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

// This process's spies and other positive documents, each in positive-set order.
struct PositiveSplit {
  DocStore::Selection spies;
  DocStore::Selection others;
};

PositiveSplit choose_and_split_spies(TrainingSets& sets, bool working_files, double spy_fraction,
                                     SpyStepResult& s, WorkerPool& pool, Peers& peers) {
  // Several processes write their lines of the working files at once, each at a place the
  // lengths of the lines of those before it give.
  std::vector<std::uint64_t> line_bytes;
  const bool measure = working_files && peers.size() > 1;
  const DocumentShare share =
      sets.positive.read_into(s.positive_docs, pool, peers, measure ? &line_bytes : nullptr);
  s.positives = share.total;
  s.spies = spy_count(s.positives, spy_fraction);
  const std::vector<std::uint32_t> spies = choose_spies(s.positives, s.spies);
  if (working_files) {
    split_positive_set(sets.positive.name(), spies, share.before, share.count, line_bytes, pool,
                       peers);
  }
  refuse_empty_classes(sets, s);
  auto [spy_docs, other_docs] = s.positive_docs.partition([&](std::size_t line) {
    return is_spy(spies, share.before + static_cast<std::int64_t>(line));
  });
  return {std::move(spy_docs), std::move(other_docs)};
}

// The reading phase and the first model: the positives without spies against the unlabeled
// set plus the spies. Returns the positive base counts, which every re-estimate adds back.
std::vector<double> build_first_model(TrainingSets& sets, bool working_files,
                                      const PositiveSplit& positives, double lambda,
                                      SpyStepResult& s, Model& model, WorkerPool& pool,
                                      Peers& peers) {
  CountTable pos(kTableSize);
  CountTable neg(kTableSize);
  s.mask = VocabularyMask(kIndexCount);
  const std::uint64_t local_positive_sum = s.positive_docs.count_sum();
  add_counts(s.positive_docs, &positives.others, {pos.data(), pos.size()}, &s.mask,
             local_positive_sum < kExactWholeSum, pool);
  s.unlabeled =
      sets.unlabeled
          .read_into(s.unlabeled_docs, pool, peers,
                     working_files && peers.size() > 1 ? &s.unlabeled_line_bytes : nullptr)
          .total;
  const std::uint64_t local_unlabeled_sum = s.unlabeled_docs.count_sum();
  const bool local_exact = local_positive_sum < kExactWholeSum &&
                           local_unlabeled_sum < kExactWholeSum - local_positive_sum;
  add_counts(s.unlabeled_docs, nullptr, {neg.data(), neg.size()}, &s.mask, local_exact, pool);
  add_counts(s.positive_docs, &positives.spies, {neg.data(), neg.size()}, &s.mask, local_exact,
             pool);
  if (s.unlabeled + s.spies == 0) {
    throw Fatal("empty unlabeled set", sets.unlabeled.name() +
                                           ": no documents and no spies, so the first model's "
                                           "negative prior is 0");
  }
  peers.any({s.mask.data(), s.mask.size()});
  s.vocab = measure_vocabulary(s.mask);
  s.positive_count_sum = sum_over_peers(peers, local_positive_sum);
  s.unlabeled_count_sum = sum_over_peers(peers, local_unlabeled_sum);
  const bool positives_exact = s.positive_count_sum < kExactWholeSum;
  const bool negatives_exact =
      positives_exact && s.unlabeled_count_sum < kExactWholeSum - s.positive_count_sum;
  model.priors = priors_from_documents(static_cast<double>(s.unlabeled + s.spies),
                                       static_cast<double>(s.positives + s.unlabeled));
  model.neg = used_counts(neg, s.vocab);
  model.pos = used_counts(pos, s.vocab);
  add_up_counts(peers, model.pos, positives_exact, 1, [&](int) {
    add_counts(s.positive_docs, &positives.others, model.pos, nullptr, false, pool);
  });
  add_up_counts(peers, model.neg, negatives_exact, 2, [&](int lap) {
    if (lap == 0) add_counts(s.unlabeled_docs, nullptr, model.neg, nullptr, false, pool);
    if (lap == 1) add_counts(s.positive_docs, &positives.spies, model.neg, nullptr, false, pool);
  });
  s.ranges = GatherRanges::balanced(model.neg, gather_ranges_for(pool.size()));
  // Every process cuts the ranges alike, from counts of all of them.
  std::int64_t sizes[2] = {static_cast<std::int64_t>(s.unlabeled_docs.words_held()),
                           static_cast<std::int64_t>(s.unlabeled_docs.documents())};
  peers.sum(sizes);
  const double pairs_per_document =
      sizes[1] > 0 ? static_cast<double>(sizes[0] - sizes[1]) / static_cast<double>(sizes[1]) : 0;
  s.pass_bounds = cut_by_count(model.neg, pass_ranges_for(peers.size(), pairs_per_document));
  std::vector<double> base_pos = model.pos;
  smooth_word_counts(model.neg, lambda, s.vocab);
  smooth_word_counts(model.pos, lambda, s.vocab);
  return base_pos;
}

// With several processes: which of this process's spies and unlabeled documents hold their pairs
// out of index order, found once for every round.
struct MixedOrder {
  std::vector<std::uint8_t> spies;
  std::vector<std::uint8_t> unlabeled;
};

// The posterior-weighted counts of the spies and then of the unlabeled documents of every
// process, and each group's posteriors of this process's documents.
void score_and_gather_spies_and_unlabeled(SpyStepResult& s, const PositiveSplit& positives,
                                          const DocStore::Selection& every_unlabeled,
                                          const MixedOrder& mixed, const ScoreTable& table,
                                          WeightedCounts& counts, WorkerPool& pool, Peers& peers,
                                          std::vector<Posteriors>& spy_posts,
                                          std::vector<Posteriors>& unlabeled_posts) {
  const WeightedCounts::Group groups[] = {
      {&s.positive_docs, &positives.spies, &spy_posts, &mixed.spies},
      {&s.unlabeled_docs, &every_unlabeled, &unlabeled_posts, &mixed.unlabeled}};
  counts.score_and_gather_in_process_order(peers, groups, table, s.ranges, s.pass_bounds, pool);
}

// One spy-step round: every spy and unlabeled document scored with the current model and
// gathered, the threshold taken from the spies, the unlabeled set split at it, and the model
// re-estimated for the next round.
void spy_step_round(const TrainingSets& sets, bool working_files, const SpyStepSettings& settings,
                    int round, const PositiveSplit& positives, const std::vector<double>& base_pos,
                    const DocStore::Selection& every_unlabeled, const MixedOrder& mixed,
                    SpyStepResult& s, Model& model, WorkerPool& pool, Peers& peers) {
  const ScoreTable table(model, s.mask, s.vocab, &pool);
  WeightedCounts counts(s.vocab);

  std::vector<Posteriors> spy_posts;
  std::vector<Posteriors> posts;
  score_and_gather_spies_and_unlabeled(s, positives, every_unlabeled, mixed, table, counts, pool,
                                       peers, spy_posts, posts);
  std::vector<double> spy_neg;
  std::vector<double> my_spy_pos;
  for (const Posteriors& post : spy_posts) {
    spy_neg.push_back(post.neg);
    my_spy_pos.push_back(post.pos);
  }
  std::vector<double> spy_pos = peers.gather(my_spy_pos);
  std::sort(spy_pos.begin(), spy_pos.end(), std::greater<>());
  const double threshold = choose_spy_threshold(spy_pos, settings.threshold_rate);

  std::vector<std::uint8_t> reliable;
  reliable.reserve(posts.size());
  SpyStepResult::Split& split = s.splits.emplace_back();
  split.threshold = threshold;
  for (std::size_t j = 0; j < posts.size(); ++j) {
    const bool is_reliable = posts[j].pos <= threshold;
    reliable.push_back(is_reliable ? 1 : 0);
    (is_reliable ? split.reliable : split.remaining).push_back(every_unlabeled[j]);
    if (!mixed.unlabeled.empty()) {
      (is_reliable ? split.reliable_mixed : split.remaining_mixed).push_back(mixed.unlabeled[j]);
    }
  }
  split.all_reliable = peers.sum(static_cast<std::int64_t>(split.reliable.size()));
  if (working_files)
    split_unlabeled_set(sets.unlabeled.name(), round, reliable, s.unlabeled_line_bytes, pool,
                        peers);

  // Re-estimate: the positives without spies count fully for the positive class, every spy
  // and unlabeled document with its posteriors for both; the sums go on from the unlabeled
  // documents' to the spies'.
  double sums[2] = {0.0, 0.0};  // negative, positive
  add_in_process_order(peers, sums, 2, [&](int lap) {
    for (const Posteriors& p : lap == 0 ? posts : spy_posts) {
      sums[0] += p.neg;
      sums[1] += p.pos;
    }
  });
  const auto all = static_cast<double>(s.positives + s.unlabeled);
  model.priors.neg = sums[0] / all;
  model.priors.pos = (static_cast<double>(s.positives - s.spies) + sums[1]) / all;
  counts.copy_to(model);
  for (std::size_t i = 0; i < model.pos.size(); ++i) model.pos[i] += base_pos[i];
  smooth_word_counts(model.neg, settings.smoothing_weight, s.vocab);
  smooth_word_counts(model.pos, settings.smoothing_weight, s.vocab);
}

}  // namespace

SpyStepResult run_spy_step(TrainingSets& sets, bool working_files, const SpyStepSettings& settings,
                           WorkerPool& pool, Peers& peers) {
  if (settings.rounds > kMaxRounds) {
    throw Fatal("too many rounds", "the spy step runs at most 20 rounds");
  }
  SpyStepResult s;
  const PositiveSplit positives =
      choose_and_split_spies(sets, working_files, settings.spy_fraction, s, pool, peers);
  Model model;
  const std::vector<double> base_pos = build_first_model(
      sets, working_files, positives, settings.smoothing_weight, s, model, pool, peers);
  progress_step("spy step");
  s.every_positive = s.positive_docs.all();
  const DocStore::Selection every_unlabeled = s.unlabeled_docs.all();
  MixedOrder mixed;
  if (peers.size() > 1) {
    mixed.spies = WeightedCounts::mixed_order(s.positive_docs, positives.spies);
    mixed.unlabeled = WeightedCounts::mixed_order(s.unlabeled_docs, every_unlabeled);
  }
  for (int round = 0; round < settings.rounds; ++round) {
    spy_step_round(sets, working_files, settings, round, positives, base_pos, every_unlabeled,
                   mixed, s, model, pool, peers);
  }
  return s;
}

}  // namespace punb
