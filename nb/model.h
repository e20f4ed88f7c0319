#pragma once

#include <cstdint>
#include <vector>

#include "docfile/parse.h"

namespace punb {

// Word-count tables are indexed by feature index; one entry past the last valid index lets the
// smoothing loop run to L + 1 for any L.
inline constexpr std::size_t kTableSize = kIndexCount + 1;

// 1 where a feature index was counted from a training document; only those are scored.
using VocabularyMask = std::vector<std::uint8_t>;

struct Vocabulary {
  std::int64_t size = 0;     // V: distinct indices counted
  std::int32_t largest = 0;  // L: the largest of them, 0 when there is none
};

struct Priors {
  double neg = 0.0;
  double pos = 0.0;
};

// The smoothed model: priors and word probabilities of both classes (entries 0 .. L + 1).
struct Model {
  Priors priors;
  std::vector<double> neg;
  std::vector<double> pos;
};

// Adds a document's pairs into a count table from the lowest counted index up, marking each
// counted index in the vocabulary mask.
struct DocumentCounter {
  double* table;
  std::uint8_t* mask;
  std::int32_t lowest;
  void operator()(std::int32_t index, std::int32_t count) const {
    if (index < lowest) return;
    mask[index] = 1;
    table[index] += static_cast<double>(count);
  }
};

Vocabulary measure_vocabulary(const VocabularyMask& mask);

// P(neg) = w_neg / n_all and P(pos) = 1 - P(neg).
Priors priors_from_documents(double w_neg, double n_all);

// Turns the counts of entries 0 .. L + 1 into smoothed word probabilities, in place:
// (lambda + count) / (lambda * V + total count).
void smooth_word_counts(std::vector<double>& table, double lambda, const Vocabulary& vocab);

}  // namespace punb
