#pragma once

#include <cstdint>
#include <vector>

namespace punb::vectorize {

// The positive documents that go to the test set instead of the training set: exactly
// round(fraction × documents) of them, drawn by selection sampling. Document k (from 0, in the
// order the positive set is read) is held out when floor(x_k × (documents − k) / 2^64) is below
// the number still to be drawn, x_k being the k-th output of splitmix64 started at `seed`. The
// draw depends on nothing but the document count, the fraction and the seed.
class HoldOut {
 public:
  HoldOut(std::uint64_t documents, double fraction, std::uint64_t seed);

  bool contains(std::uint64_t document) const {
    return document < documents_ && (bits_[document / 64] >> (document % 64) & 1) != 0;
  }
  std::uint64_t size() const { return size_; }
  std::uint64_t documents() const { return documents_; }

 private:
  std::uint64_t documents_;
  std::uint64_t size_ = 0;
  std::vector<std::uint64_t> bits_;
};

}  // namespace punb::vectorize
