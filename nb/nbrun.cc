#include "nb/nbrun.h"

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

#include "docfile/fatal.h"
#include "docfile/outfile.h"
#include "docfile/pieces.h"
#include "docfile/progress.h"
#include "docfile/reader.h"
#include "docfile/shared_out.h"
#include "nb/metrics.h"
#include "nb/model.h"
#include "nb/passes.h"
#include "nb/score.h"
#include "nb/testread.h"

namespace punb {

namespace {

// Naive Bayes mode counts from index 1: index 0 is not a word here.
constexpr std::int32_t kLowestCountedIndex = 1;

// Counts pairs a line (or, for very long lines, a few thousand pairs) at a time: the table
// updates then run back to back, where the processor overlaps their cache misses, rather than
// strung out between parsing steps. Their order is the line's.
class BatchCounter {
 public:
  explicit BatchCounter(DocumentCounter counter) : counter_(counter) {}
  void add(std::int32_t index, std::int32_t count) {
    pairs_.emplace_back(index, count);
    if (pairs_.size() == kBatch) flush();
  }
  void flush() {
    for (const auto& [index, count] : pairs_) counter_(index, count);
    pairs_.clear();
  }

 private:
  static constexpr std::size_t kBatch = 4096;
  DocumentCounter counter_;
  std::vector<std::pair<std::int32_t, std::int32_t>> pairs_;
};

// The one-thread count of this process's share, in file order: the fallback when whole counts
// could get too large to add up exactly in another order.
void count_training_file_in_order(const std::string& path, double* table, std::uint8_t* mask,
                                  Peers& peers) {
  PieceReader in(path, kCannotReadTrainingSet, {peers.rank(), peers.size()});
  WorkerPool one(1);
  BatchCounter counter({table, mask, kLowestCountedIndex});
  const ReadOutcome read = parse_file(
      in, one,
      [&](std::size_t, Piece piece, unsigned) {
        return parse_piece(
            piece, false, [] {},
            [&](std::int32_t index, std::int32_t count) { counter.add(index, count); },
            [&](std::int32_t) { counter.flush(); });
      },
      [](std::size_t, const PieceOutcome&) {});
  // The file was read whole before: only a file changed since can fail here.
  if (read.stopped) {
    SoloPeers alone;
    agree_on_reading(read, in, alone).raise();
  }
}

// A training file's whole counts, as this process counted them.
struct CountedFile {
  DocumentShare share;
  std::uint64_t sum = 0;  // of every count added to the table
};

// Counts this process's share of a training file into `table` and `mask` with the pool: each
// thread counts the pieces it parses into a table of its own, and the tables are added up at the
// end.
CountedFile count_training_file(const std::string& path, CountTable& table, VocabularyMask& mask,
                                CountShares& shares, WorkerPool& pool, Peers& peers) {
  PieceReader in(path, kCannotReadTrainingSet, {peers.rank(), peers.size()});
  std::vector<std::uint64_t> sums(pieces_per_window(pool));
  auto parse = [&](std::size_t k, Piece piece, unsigned worker) {
    BatchCounter counter({shares.table(worker, table.data()), shares.mask(worker, mask.data()),
                          kLowestCountedIndex});
    std::uint64_t sum = 0;
    PieceOutcome outcome = parse_piece(
        piece, false, [] {},
        [&](std::int32_t index, std::int32_t count) {
          if (index >= kLowestCountedIndex) sum += static_cast<std::uint32_t>(count);
          counter.add(index, count);
        },
        [&](std::int32_t) { counter.flush(); });
    sums[k] = sum;
    return outcome;
  };
  std::uint64_t total = 0;
  const ReadOutcome read =
      parse_file(in, pool, parse, [&](std::size_t k, const PieceOutcome&) { total += sums[k]; });
  const SharedReading shared = agree_on_reading(read, in, peers);
  shared.raise();
  shares.add_into({table.data(), table.size()}, mask.data(), pool);
  if (pool.size() > 1 && total >= kExactWholeSum) {
    std::fill(table.data(), table.data() + table.size(), 0.0);
    count_training_file_in_order(path, table.data(), mask.data(), peers);
  }
  return {{shared.before, shared.lines, shared.total}, total};
}

// Counts a training set into `table` and `mask`: a file as it is read, documents from memory a
// block at a time. Whole counts add up exactly in any order while the table's total stays below
// 2^53; a block that could take it past is counted in document order, as every one after it.
CountedFile count_training_set(DocumentSet& set, CountTable& table, VocabularyMask& mask,
                               CountShares& shares, WorkerPool& pool, Peers& peers) {
  if (set.is_file()) return count_training_file(set.name(), table, mask, shares, pool, peers);
  std::uint64_t total = 0;
  const std::int64_t n = set.for_each_block([&](const DocStore& block) {
    total += block.count_sum();
    count_documents(block, nullptr, {table.data(), table.size()}, mask.data(), kLowestCountedIndex,
                    total < kExactWholeSum, pool);
  });
  return {{0, n, n}, total};
}

// Every process's counts of a training file added up in every process, exactly: as integers
// while they add up to less than 2^53, otherwise counted again, process after process.
void add_up_training_counts(const DocumentSet& set, std::span<double> table,
                            std::uint64_t local_sum, Peers& peers) {
  const bool exact = sum_over_peers(peers, local_sum) < kExactWholeSum;
  add_up_counts(peers, table, exact, 1, [&](int) {
    VocabularyMask marked_before(kIndexCount);
    count_training_file_in_order(set.name(), table.data(), marked_before.data(), peers);
  });
}

// Scores the test set into the result file and prints the report.
void test_and_report(const std::string& test_set, const VocabularyMask& mask,
                     const ScoreTable& table, SharedOutFile& result, WorkerPool& pool,
                     Peers& peers) {
  EvaluationCounters counters;
  // One process writes its lines as they come; several, each its share at once.
  std::string mine;
  const SharedReading read = read_and_score_test_set(
      test_set, mask, table, pool, peers, nullptr, [&](const ScoredTests& s) {
        if (peers.size() == 1) {
          result.write_at(0, s.lines);
        } else {
          mine += s.lines;
        }
        for (std::size_t j = 0; j < s.labels.size(); ++j) {
          counters.count_label(s.labels[j]);
          counters.count_decision(s.labels[j], s.post[j].positive());
        }
      });
  if (peers.size() > 1) {
    // Lines after a fault are not written, as one process would not have.
    std::size_t keep = 0;
    for (std::int64_t n = read.lines; n > 0 && keep < mine.size(); --n) {
      keep = mine.find('\n', keep) + 1;
    }
    result.write_at(result.take_room(static_cast<std::int64_t>(keep)), {mine.data(), keep});
  }
  read.raise();
  add_up(counters, peers);
  // Closed before the report, so that a result file the disk could not take never comes with
  // figures that look like a finished run.
  result.close();

  const ReportLines lines = report_lines(counters);
  if (peers.leads())
    print("\n" + lines.recall + lines.precision + lines.f_measure + lines.accuracy);
}

void refuse_degenerate_training(const TrainingSets& sets, std::int64_t positives,
                                std::int64_t unlabeled, const Vocabulary& vocab) {
  if (positives == 0) {
    throw Fatal("empty positive set",
                sets.positive.name() + ": no documents, so the positive prior is 0");
  }
  if (unlabeled == 0) {
    throw Fatal("empty unlabeled set",
                sets.unlabeled.name() + ": no documents, so the negative prior is 0");
  }
  if (vocab.size == 0) {
    throw Fatal("no features in training set",
                "the training documents hold no feature index from 1 to 499999");
  }
}

}  // namespace

SavedModel naive_bayes_mode_run(double lambda, TrainingSets& sets, const RunFiles* reports,
                                WorkerPool& pool, Peers& peers) {
  std::optional<SharedOutFile> result;
  if (reports) result.emplace(peers, reports->result, kCannotWriteResult);

  CountTable pos(kTableSize);
  CountTable neg(kTableSize);
  VocabularyMask mask(kIndexCount);
  CountedFile positive_counts;
  CountedFile unlabeled_counts;
  {
    CountShares shares(kTableSize, true, pool);
    positive_counts = count_training_set(sets.positive, pos, mask, shares, pool, peers);
    unlabeled_counts = count_training_set(sets.unlabeled, neg, mask, shares, pool, peers);
  }
  const std::int64_t positives = positive_counts.share.total;
  const std::int64_t unlabeled = unlabeled_counts.share.total;

  peers.any({mask.data(), mask.size()});
  const Vocabulary vocab = measure_vocabulary(mask);
  refuse_degenerate_training(sets, positives, unlabeled, vocab);
  Model model;
  model.priors = priors_from_documents(static_cast<double>(unlabeled),
                                       static_cast<double>(positives + unlabeled));
  model.neg = used_counts(neg, vocab);
  model.pos = used_counts(pos, vocab);
  add_up_training_counts(sets.positive, model.pos, positive_counts.sum, peers);
  add_up_training_counts(sets.unlabeled, model.neg, unlabeled_counts.sum, peers);
  smooth_word_counts(model.neg, lambda, vocab);
  smooth_word_counts(model.pos, lambda, vocab);
  const ScoreTable table(model, mask, vocab, &pool);

  progress_step("test");
  if (reports) test_and_report(reports->test, mask, table, *result, pool, peers);

  SavedModel saved;
  saved.mode = RunMode::naive_bayes;
  saved.positive_documents = positives;
  saved.unlabeled_documents = unlabeled;
  keep_words(model, mask, vocab, saved);
  return saved;
}

}  // namespace punb
