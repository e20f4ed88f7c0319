#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <span>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <vector>

#include "docfile/docset.h"
#include "docfile/docstore.h"
#include "docfile/runfiles.h"
#include "docfile/workpool.h"
#include "nb/model.h"
#include "nb/score.h"
#include "peers/peers.h"

namespace punb {

// The spy step runs this many rounds at most (the per-round counts are kept for each).
inline constexpr int kMaxRounds = 20;

struct SpyStepSettings {
  double threshold_rate = 0.1;
  double smoothing_weight = 0.1;
  double spy_fraction = 0.15;
  int rounds = 1;
};

// How the word indices are shared out among the threads that gather weighted counts: each
// thread adds into the cells of its own ranges, so every cell still sums its documents in
// order. Ranges are cut to hold about equal shares of the counts.
struct GatherRanges {
  unsigned count = 1;
  std::vector<std::uint8_t> of;  // the range of each index 0 .. L + 1

  // `counts` holds a count per index; `ranges` at most 255.
  static GatherRanges balanced(std::span<const double> counts, unsigned ranges);
};

// Where the word indices 0 .. counts.size() - 1 are cut into at most `ranges` contiguous ranges
// of about equal shares of the counts: each range's end, increasing, the last counts.size().
std::vector<std::size_t> cut_by_count(std::span<const double> counts, unsigned ranges);

// The ranges several processes pass their weighted counts on in, so that each can work on one
// range while the others work on theirs: up to two per process, but no narrower than about 48
// pairs of a document on average. A word's count is added to by one document after another, each
// addition waiting for the last: with fewer of a document's pairs between two of them, the
// processor waits more than it adds.
inline unsigned pass_ranges_for(int processes, double pairs_per_document) {
  const double fit = pairs_per_document / 48.0;
  const unsigned most = 2 * static_cast<unsigned>(processes);
  return processes == 1 || fit < 1.0 ? 1 : fit >= most ? most : static_cast<unsigned>(fit);
}

// Up to three threads gather everything in turn, one at a time, between scoring blocks; with
// more threads, the gathering is split into ranges too.
inline unsigned gather_ranges_for(unsigned threads) { return threads <= 3 ? 1 : threads / 2; }

// What the spy step leaves for the final stage. Each process holds its share of the positive and
// unlabeled documents; the counts are of all of them.
struct SpyStepResult {
  std::int64_t positives = 0;  // N
  std::int64_t spies = 0;      // k
  std::int64_t unlabeled = 0;  // U
  DocStore positive_docs;      // this process's share of the positive set, in file order
  DocStore unlabeled_docs;     // this process's share of the unlabeled set, in file order
  // With several processes writing the working files: the lengths of this process's lines of
  // the unlabeled set.
  std::vector<std::uint64_t> unlabeled_line_bytes;
  std::uint64_t positive_count_sum = 0;   // the sum of every count of the positive set
  std::uint64_t unlabeled_count_sum = 0;  // and of the unlabeled set
  DocStore::Selection every_positive;
  GatherRanges ranges;
  std::vector<std::size_t> pass_bounds;  // of the weighted-count cells, cut_by_count's
  VocabularyMask mask;
  Vocabulary vocab;
  // Per round: this process's unlabeled documents of its remaining-unlabeled file and of its
  // reliable-negative file, each in unlabeled-set order, and how many there are of each in all.
  struct Split {
    double threshold = 0.0;  // the spy threshold it was split at
    DocStore::Selection remaining;
    DocStore::Selection reliable;
    std::int64_t all_reliable = 0;
    // With several processes: which of this process's documents of each group hold their
    // pairs out of index order (WeightedCounts::mixed_order's).
    std::vector<std::uint8_t> remaining_mixed;
    std::vector<std::uint8_t> reliable_mixed;
  };
  std::vector<Split> splits;
};

// Runs the spy step on the training sets, each process on its share. With `working_files`, the
// sets are files and their lines are copied to "spy", "pos_withoutspy" and each round's
// reliable-negative and remaining-unlabeled files.
SpyStepResult run_spy_step(TrainingSets& sets, bool working_files, const SpyStepSettings& settings,
                           WorkerPool& pool, Peers& peers);

// Posterior-weighted word counts gathered over the documents of an expectation step, both
// classes side by side (entries 0 .. L + 1).
struct WeightedCounts {
  explicit WeightedCounts(const Vocabulary& vocab)
      : cells(static_cast<std::size_t>(vocab.largest) + 2, {0.0, 0.0}) {}

  // Adds count x posterior of each of the document's pairs to both classes.
  void gather(const DocStore::Document& doc, const Posteriors& post) {
#if defined(__SSE2__)
    // Both classes in one register: the same two products and sums, one instruction each.
    const __m128d weights = _mm_set_pd(post.pos, post.neg);
    doc.for_each_pair([&](std::uint32_t index, std::uint32_t count) {
      double* cell = cells[index].data();
      const __m128d c = _mm_set1_pd(static_cast<double>(count));
      _mm_storeu_pd(cell, _mm_add_pd(_mm_loadu_pd(cell), _mm_mul_pd(c, weights)));
    });
#else
    doc.for_each_pair([&](std::uint32_t index, std::uint32_t count) {
      std::array<double, 2>& cell = cells[index];
      cell[0] += static_cast<double>(count) * post.neg;
      cell[1] += static_cast<double>(count) * post.pos;
    });
#endif
  }

  void clear() { std::fill(cells.begin(), cells.end(), std::array<double, 2>{0.0, 0.0}); }

  // Both classes' cells, one after another, as the running sums processes pass on.
  std::span<double> flat() { return {cells.data()->data(), 2 * cells.size()}; }

  // A group of this process's documents: (*selection)[j] of `docs`, its posterior to go to
  // post[j]; mixed[j] is 1 when that document's pairs are not in increasing index order
  // (mixed_order's).
  struct Group {
    const DocStore* docs;
    const DocStore::Selection* selection;
    std::vector<Posteriors>* post;
    const std::vector<std::uint8_t>* mixed;
  };
  // Which of the selected documents hold their pairs out of increasing index order. A range of
  // indices is then gathered from the others by going on from where the range before ended.
  static std::vector<std::uint8_t> mixed_order(const DocStore& docs,
                                               const DocStore::Selection& selection);
  // Scores the documents of each group, *post of each, and gathers the weighted counts of the
  // groups of every process, each group of every process in turn, in document order: each
  // process receives the counts of those before it a range of indices at a time (`bounds`,
  // cut_by_count's), adds its own documents' and passes them on.
  void score_and_gather_in_process_order(Peers& peers, std::span<const Group> groups,
                                         const ScoreTable& table, const GatherRanges& ranges,
                                         std::span<const std::size_t> bounds, WorkerPool& pool);

  // Scores the selected documents, post[j] for selection[j], and gathers them in that order.
  void score_and_gather(const DocStore& docs, const DocStore::Selection& selection,
                        const ScoreTable& table, const GatherRanges& ranges, WorkerPool& pool,
                        std::vector<Posteriors>& post);

  // Copies the counts of each class into a model's tables, as the start of its estimate.
  void copy_to(Model& model) const {
    model.neg.resize(cells.size());
    model.pos.resize(cells.size());
    for (std::size_t i = 0; i < cells.size(); ++i) {
      model.neg[i] = cells[i][0];
      model.pos[i] = cells[i][1];
    }
  }

  HugePageVector<std::array<double, 2>> cells;  // {negative, positive}

 private:
  // The chain of score_and_gather_in_process_order: before_lap(k) is called as group k's turn
  // begins, and returns true when it has added the group into the cells itself.
  void gather_in_process_order(Peers& peers, std::span<const Group> groups,
                               std::span<const std::size_t> bounds,
                               const std::function<bool(int)>& before_lap);

  // score_and_gather with a single range of word indices.
  void score_then_gather_in_turn(const DocStore& docs, const DocStore::Selection& selection,
                                 const ScoreTable& table, WorkerPool& pool,
                                 std::vector<Posteriors>& post);

  // A block's pair words sorted by range: range r's are words[first[r] .. last[r]), each
  // document's preceded by a mark that names it.
  struct Buckets {
    std::vector<std::uint32_t> words;
    std::vector<std::size_t> first;
    std::vector<std::size_t> last;
    void fill(const DocStore& docs, const DocStore::Selection& selection, std::size_t begin,
              std::size_t end, const GatherRanges& ranges);
  };
  std::vector<Buckets> buckets_;  // one per block of a window
};

// The positive posterior at position trunc((1 - rt) * k) of the spies' positive posteriors,
// sorted in decreasing order (0 past the end); a threshold below exp(-200) becomes 1.1, above
// every posterior.
double choose_spy_threshold(const std::vector<double>& sorted_spy_pos, double threshold_rate);

}  // namespace punb
