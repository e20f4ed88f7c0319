#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <span>
#include <type_traits>
#include <vector>

#include "docfile/parse.h"

namespace punb {

// Word-count tables are indexed by feature index; one entry past the last valid index lets the
// smoothing loop run to L + 1 for any L.
inline constexpr std::size_t kTableSize = kIndexCount + 1;

// A fixed-size array that starts zero-filled. It comes from calloc, so the pages that are never
// written (most of a table sized for every possible feature index) cost neither memory nor time.
template <class T>
class ZeroedArray {
  static_assert(std::is_trivial_v<T>, "zero bytes must be a zero value");

 public:
  ZeroedArray() = default;
  explicit ZeroedArray(std::size_t n)
      : data_(static_cast<T*>(std::calloc(n, sizeof(T)))), size_(n) {
    if (!data_ && n > 0) throw std::bad_alloc();
  }

  T& operator[](std::size_t i) { return data_.get()[i]; }
  const T& operator[](std::size_t i) const { return data_.get()[i]; }
  T* data() { return data_.get(); }
  const T* data() const { return data_.get(); }
  std::size_t size() const { return size_; }

 private:
  struct Free {
    void operator()(T* p) const { std::free(p); }
  };
  std::unique_ptr<T[], Free> data_;
  std::size_t size_ = 0;
};

// Counts per feature index while training documents are read (kTableSize entries).
using CountTable = ZeroedArray<double>;

// 1 where a feature index was counted from a training document; only those are scored
// (kIndexCount entries).
using VocabularyMask = ZeroedArray<std::uint8_t>;

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

// Entries 0 .. L + 1 of a count table, the part every estimate works on.
std::vector<double> used_counts(const CountTable& table, const Vocabulary& vocab);

// Turns the counts of entries 0 .. L + 1 into smoothed word probabilities, in place:
// (lambda + count) / (lambda * V + total count).
void smooth_word_counts(std::span<double> table, double lambda, const Vocabulary& vocab);

}  // namespace punb
