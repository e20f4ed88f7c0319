#include "nb/model.h"

namespace punb {

Vocabulary measure_vocabulary(const VocabularyMask& mask) {
  Vocabulary v;
  for (std::int32_t i = 0; i < kIndexCount; ++i) {
    if (mask[i] == 1) {
      ++v.size;
      v.largest = i;
    }
  }
  return v;
}

Priors priors_from_documents(double w_neg, double n_all) {
  Priors p;
  p.neg = w_neg / n_all;
  p.pos = 1 - p.neg;
  return p;
}

std::vector<double> used_counts(const CountTable& table, const Vocabulary& vocab) {
  return {table.data(), table.data() + vocab.largest + 2};
}

void smooth_word_counts(std::span<double> table, double lambda, const Vocabulary& vocab) {
  const std::size_t end = static_cast<std::size_t>(vocab.largest) + 2;
  double total = 0.0;
  for (std::size_t i = 0; i < end; ++i) total += table[i];
  const double denominator = lambda * static_cast<double>(vocab.size) + total;
  for (std::size_t i = 0; i < end; ++i) table[i] = (lambda + table[i]) / denominator;
}

}  // namespace punb
