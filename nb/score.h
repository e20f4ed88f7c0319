#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

#include "docfile/docstore.h"
#include "docfile/workpool.h"
#include "nb/model.h"

namespace punb {

// Caps the per-word shift and floors the final maximum of the class scores.
inline constexpr double kScoreBound = static_cast<double>(std::int64_t{100000000000000});

struct Posteriors {
  double neg = 0.0;
  double pos = 0.0;
  // Ties, and comparisons that cannot be decided, go to the positive class.
  bool positive() const { return !(neg > pos); }
};

// A model prepared for scoring: the logarithms of the priors and of the word probabilities of
// every index in the vocabulary, taken once per model instead of once per word.
class ScoreTable {
 public:
  // Ends the run when a prior or a word probability in the vocabulary is 0 or not finite: its
  // logarithm would turn every posterior into a NaN.
  // The logarithms are taken by the pool's threads when one is given.
  ScoreTable(const Model& model, const VocabularyMask& mask, const Vocabulary& vocab,
             WorkerPool* pool = nullptr) {
    rebuild(model, mask, vocab, pool);
  }
  // Takes the next model of a run, reusing the memory of the last.
  void rebuild(const Model& model, const VocabularyMask& mask, const Vocabulary& vocab,
               WorkerPool* pool = nullptr);

  double ln_prior_neg() const { return ln_prior_neg_; }
  double ln_prior_pos() const { return ln_prior_pos_; }
  const double* ln_words(std::uint32_t index) const { return ln_[index].data(); }

 private:
  double ln_prior_neg_ = 0.0;
  double ln_prior_pos_ = 0.0;
  HugePageVector<std::array<double, 2>> ln_;  // {ln P(i|neg), ln P(i|pos)}
};

// The running log scores of one document. After every counted word both are shifted so that
// the smaller is 0, which keeps long documents in range and fixes the digits of the result.
class ClassScores {
 public:
  explicit ClassScores(const ScoreTable& table)
      : neg_(table.ln_prior_neg()), pos_(table.ln_prior_pos()) {}

  void add_word(std::uint32_t count, const double* ln_words) {
    const double c = static_cast<double>(count);
    neg_ = neg_ + c * ln_words[0];
    pos_ = pos_ + c * ln_words[1];
    double m = kScoreBound;
    if (neg_ < m) m = neg_;
    if (pos_ < m) m = pos_;
    neg_ = neg_ - m;
    pos_ = pos_ - m;
  }

  Posteriors posteriors() const { return posteriors_of(neg_, pos_); }

  // The posteriors of the final scores of a document.
  static Posteriors posteriors_of(double neg, double pos) {
    double top = -kScoreBound;
    if (neg > top) top = neg;
    if (pos > top) top = pos;
    const double e_neg = std::exp(neg - (top + 2));
    const double e_pos = std::exp(pos - (top + 2));
    const double sum = e_neg + e_pos;
    return {e_neg / sum, e_pos / sum};
  }

 private:
  double neg_;
  double pos_;
};

// Scores a stored document all of whose indices are in the vocabulary.
inline Posteriors score_document(const DocStore::Document& doc, const ScoreTable& table) {
  ClassScores scores(table);
  doc.for_each_pair([&](std::uint32_t index, std::uint32_t count) {
    scores.add_word(count, table.ln_words(index));
  });
  return scores.posteriors();
}

// Scores docs[0 .. n), out[j] for docs[j]. Several documents are in flight at once, each lane
// taking the next document when its own ends, so that the processor overlaps their independent
// chains of operations; each document's own operations are exactly score_document's.
void score_batch(const DocStore::Document* docs, std::size_t n, const ScoreTable& table,
                 Posteriors* out);

// Documents are scored in batches of this many: the lanes run idle only at a batch's end.
inline constexpr std::size_t kScoreBatch = 256;

// Scores documents in the order `visit` hands them over and hands each to f(doc, posteriors) in
// that same order.
template <class Visit, class F>
void score_in_lanes(Visit&& visit, const ScoreTable& table, F&& f) {
  DocStore::Document batch[kScoreBatch];
  Posteriors post[kScoreBatch];
  std::size_t filled = 0;
  auto flush = [&] {
    score_batch(batch, filled, table, post);
    for (std::size_t k = 0; k < filled; ++k) f(batch[k], post[k]);
    filled = 0;
  };
  visit([&](const DocStore::Document& doc) {
    batch[filled++] = doc;
    if (filled == kScoreBatch) flush();
  });
  if (filled > 0) flush();
}

// Scores every document of the store, in order.
template <class F>
void score_documents(const DocStore& docs, const ScoreTable& table, F&& f) {
  score_in_lanes([&](auto&& take) { docs.for_each(take); }, table, f);
}

// Scores the selected documents of the store, in order.
template <class F>
void score_documents(const DocStore& docs, const DocStore::Selection& selection,
                     const ScoreTable& table, F&& f) {
  score_in_lanes([&](auto&& take) { docs.for_each_in(selection, take); }, table, f);
}

// Writes P(pos|d) as the probability line "%.16f\n"; returns the end of the text.
// `out` needs room for kProbabilityLineMax bytes.
inline constexpr std::size_t kProbabilityLineMax = 32;
char* format_probability_line(double p, char* out);

}  // namespace punb
