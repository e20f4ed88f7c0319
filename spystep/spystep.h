#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "docfile/docstore.h"
#include "docfile/runfiles.h"
#include "nb/model.h"
#include "nb/score.h"

namespace punb {

// The spy step runs this many rounds at most (the per-round counts are kept for each).
inline constexpr int kMaxRounds = 20;

struct SpyStepSettings {
  double threshold_rate = 0.1;
  double smoothing_weight = 0.1;
  double spy_fraction = 0.15;
  int rounds = 1;
};

// What the spy step leaves for the final stage.
struct SpyStepResult {
  std::int64_t positives = 0;  // N
  std::int64_t spies = 0;      // k
  std::int64_t unlabeled = 0;  // U
  DocStore positive_docs;      // the whole positive set, in file order
  DocStore unlabeled_docs;     // the whole unlabeled set, in file order
  VocabularyMask mask;
  Vocabulary vocab;
  // Per round: 1 where unlabeled document i went to the reliable-negative file.
  std::vector<std::vector<std::uint8_t>> reliable;
  // Per round: the number of documents in the remaining-unlabeled file.
  std::array<std::int64_t, kMaxRounds> remaining{};
};

SpyStepResult run_spy_step(const RunFiles& files, const SpyStepSettings& settings);

// Posterior-weighted word counts gathered over the documents of an expectation step
// (entries 0 .. L + 1).
struct WeightedCounts {
  explicit WeightedCounts(const Vocabulary& vocab)
      : neg(static_cast<std::size_t>(vocab.largest) + 2, 0.0),
        pos(static_cast<std::size_t>(vocab.largest) + 2, 0.0) {}
  std::vector<double> neg;
  std::vector<double> pos;
};

// Scores a document with the current model and adds count x posterior of each of its pairs
// to the weighted counts of both classes, whether or not the index is in the vocabulary.
inline Posteriors score_and_gather(const DocStore::Document& doc, const ScoreTable& table,
                                   WeightedCounts& counts) {
  const Posteriors post = score_document(doc, table);
  doc.for_each_pair([&](std::uint32_t index, std::uint32_t count) {
    counts.neg[index] += static_cast<double>(count) * post.neg;
    counts.pos[index] += static_cast<double>(count) * post.pos;
  });
  return post;
}

// The positive posterior at position trunc((1 - rt) * k) of the spies' positive posteriors,
// sorted in decreasing order (0 past the end); a threshold below exp(-200) becomes 1.1, above
// every posterior.
double choose_spy_threshold(const std::vector<double>& sorted_spy_pos, double threshold_rate);

}  // namespace punb
