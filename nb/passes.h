#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "docfile/docstore.h"
#include "docfile/workpool.h"
#include "nb/model.h"
#include "nb/score.h"
#include "peers/peers.h"

namespace punb {

// Passes over stored documents, spread over the threads of a run. Every document is scored on
// its own, exactly as one thread would; what is summed over documents is either summed in
// document order on the calling thread or made of whole numbers that no order can round.

// Consecutive documents of a selection, for one task: [begin, end) positions in the selection.
struct Block {
  std::size_t begin;
  std::size_t end;
};

// Cuts a selection into blocks of at most about `words` words and at most `max_docs` documents,
// and at most a quarter of a thread's share of the documents, so that a small selection still
// gives every thread work.
std::vector<Block> cut_into_blocks(const DocStore::Selection& selection, const WorkerPool& pool,
                                   std::size_t words, std::size_t max_docs = SIZE_MAX);

// The blocks a plain scoring pass uses.
inline constexpr std::size_t kScoreBlockWords = std::size_t{1} << 16;

// Scores the selected documents of the store: post[j] for selection[j].
void score_selection(const DocStore& docs, const DocStore::Selection& selection,
                     const ScoreTable& table, WorkerPool& pool, std::vector<Posteriors>& post);

// Adds the pairs of the selected documents (all when `selection` is null), each pair with an index
// of `lowest` or more, into `table` as whole counts, and marks their indices in `mask` when one
// is given. Split over the threads only while `exact_in_any_order`: the caller vouches that the
// counts going into the table add up to less than 2^53.
void count_documents(const DocStore& docs, const DocStore::Selection* selection,
                     std::span<double> table, std::uint8_t* mask, std::int32_t lowest,
                     bool exact_in_any_order, WorkerPool& pool);

// Tables of whole counts, one per thread but the first, which counts into the real table; added
// into it at the end. Whole numbers below 2^53 add up exactly in any order.
class CountShares {
 public:
  CountShares(std::size_t table_size, bool with_mask, const WorkerPool& pool);
  // The table and mask that `worker` counts into, given the real ones.
  double* table(unsigned worker, double* real) {
    return worker == 0 ? real : shares_[worker - 1].table.data();
  }
  std::uint8_t* mask(unsigned worker, std::uint8_t* real) {
    return worker == 0 || !real ? real : shares_[worker - 1].mask.data();
  }
  // Adds every share into the real table and mask and empties the shares.
  void add_into(std::span<double> table, std::uint8_t* mask, WorkerPool& pool);

 private:
  struct Share {
    Share(std::size_t n, bool with_mask) : table(n), mask(with_mask ? n : 0) {}
    ZeroedArray<double> table;
    ZeroedArray<std::uint8_t> mask;
  };
  std::vector<Share> shares_;
};

// Whole counts below this are exact as doubles, whatever the order of their sum.
inline constexpr std::uint64_t kExactWholeSum = std::uint64_t{1} << 53;

// Adds the whole counts that every process counted into its `table` from its own documents, so
// that every process holds the sums of all. While `exact_in_any_order` (all the counts of the
// table add up to less than 2^53) they are added as integers; otherwise the table is emptied and
// the processes count again, one after another in document order, recount(lap) adding this
// process's documents of that lap (the table's laps in order) onto the sums of those before.
template <class Recount>
void add_up_counts(Peers& peers, std::span<double> table, bool exact_in_any_order, int laps,
                   Recount&& recount) {
  if (peers.size() == 1) return;
  if (exact_in_any_order) {
    std::vector<std::int64_t> whole(table.begin(), table.end());
    peers.sum(whole);
    std::copy(whole.begin(), whole.end(), table.begin());
    return;
  }
  std::fill(table.begin(), table.end(), 0.0);
  add_in_process_order(peers, table, laps, recount);
}

// The sum of every process's `value`, for the sums of counts that decide whether whole counts
// add up exactly in any order.
inline std::uint64_t sum_over_peers(Peers& peers, std::uint64_t value) {
  const auto capped = static_cast<std::int64_t>(std::min<std::uint64_t>(value, kExactWholeSum));
  return static_cast<std::uint64_t>(peers.sum(capped));
}

}  // namespace punb
