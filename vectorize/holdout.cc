#include "vectorize/holdout.h"

#include <cmath>

namespace punb::vectorize {

namespace {

std::uint64_t splitmix64(std::uint64_t& state) {
  std::uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  return z ^ (z >> 31);
}

}  // namespace

HoldOut::HoldOut(std::uint64_t documents, double fraction, std::uint64_t seed)
    : documents_(documents), bits_((documents + 63) / 64, 0) {
  // A document count fits a double exactly (below 2^53), so the product rounds only once.
  const auto wanted =
      static_cast<std::uint64_t>(std::llround(fraction * static_cast<double>(documents)));
  std::uint64_t left = wanted < documents ? wanted : documents;
  size_ = left;
  std::uint64_t state = seed;
  for (std::uint64_t k = 0; k < documents && left > 0; ++k) {
    const auto below = static_cast<std::uint64_t>(
        (static_cast<unsigned __int128>(splitmix64(state)) * (documents - k)) >> 64);
    if (below < left) {
      bits_[k / 64] |= std::uint64_t{1} << (k % 64);
      --left;
    }
  }
}

}  // namespace punb::vectorize
