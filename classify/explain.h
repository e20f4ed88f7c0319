#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "docfile/docstore.h"
#include "nb/modelfile.h"

namespace punb::classify {

// A word of a document and what it adds to the document's log-odds.
struct Contribution {
  std::uint32_t index;
  double value;  // the word's total count in the document, times its weight
};

// What each word of a model's vocabulary adds to a document's log-odds ln(P(pos|d) / P(neg|d))
// each time it occurs: its weight r = ln P(w|pos) - ln P(w|neg), from the logarithms the scorer
// takes. The log-odds of a document is the priors' log ratio plus its words' contributions, up to
// the rounding of the scorer's own sums.
class WordWeights {
 public:
  // Both are kept by reference.
  WordWeights(const SavedModel& model, const Classifier& classifier);

  double weight(std::uint32_t index) const {
    const double* ln = classifier_.table().ln_words(index);
    return ln[1] - ln[0];
  }
  double prior_log_ratio() const {
    return classifier_.table().ln_prior_pos() - classifier_.table().ln_prior_neg();
  }

  // The word of an index in the model's text vocabulary, or the index in decimal when the model
  // holds no word for it.
  std::string name(std::uint32_t index) const;

  // --words K: the K indices of highest weight, by decreasing weight, then the K of lowest weight
  // by increasing weight, ties by increasing index; each index once, so a vocabulary of fewer than
  // 2K indices is listed whole. A line each: the weight as %+.6f, a tab and the name.
  std::string strongest_lines(std::uint64_t k) const;

  // The document's indices, each once with its contribution, by decreasing absolute contribution,
  // ties by increasing index. The document holds only indices of the vocabulary.
  std::vector<Contribution> contributions(const DocStore::Document& doc);

  // --explain N: appends the first N contributions as NAME:%+.4f, separated by single spaces.
  void explain(const DocStore::Document& doc, std::uint64_t n, std::string& out);

 private:
  const SavedModel& model_;
  const Classifier& classifier_;
  std::vector<std::uint64_t> totals_;  // by index: the counts of the document being explained
  std::vector<std::uint32_t> seen_;    // the indices whose total is not 0
};

}  // namespace punb::classify
