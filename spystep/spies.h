#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "docfile/workpool.h"
#include "peers/peers.h"

namespace punb {

// The run's only source of chance. Its sequence is fixed by the seed, so the same positive set
// and spy fraction always hide the same spies.
class SpyRandom {
 public:
  explicit SpyRandom(std::uint32_t seed) : state_(seed) {}
  // 0 .. 32767
  std::uint32_t draw() {
    state_ = state_ * 214013u + 2531011u;
    return (state_ >> 16) & 32767u;
  }

 private:
  std::uint32_t state_;
};

inline constexpr std::uint32_t kSpySeed = 2000;

// k = trunc(N * s).
std::int64_t spy_count(std::int64_t positives, double spy_fraction);

// The line numbers (0-based, ascending) of the `spies` documents hidden among the unlabeled
// ones: a seeded shuffle of 0 .. N-1, whose first k entries are taken.
std::vector<std::uint32_t> choose_spies(std::int64_t positives, std::int64_t spies);

// True when the positive document `line` (0-based in the whole set) is one of `spies`.
inline bool is_spy(const std::vector<std::uint32_t>& spies, std::int64_t line) {
  return std::binary_search(spies.begin(), spies.end(), static_cast<std::uint32_t>(line));
}

// Copies every positive-set line of this process's share (`lines` of them, the first being line
// `first` of the set) unchanged to "spy" or "pos_withoutspy", reading and writing on the pool's
// threads.
// `line_bytes`, when it holds them, are the lines' lengths.
void split_positive_set(const std::string& positive_set, const std::vector<std::uint32_t>& spies,
                        std::int64_t first, std::int64_t lines,
                        const std::vector<std::uint64_t>& line_bytes, WorkerPool& pool,
                        Peers& peers);

}  // namespace punb
