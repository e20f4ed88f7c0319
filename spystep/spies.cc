#include "spystep/spies.h"

#include <algorithm>
#include <numeric>

#include "docfile/copy_lines.h"
#include "docfile/fatal.h"
#include "docfile/pieces.h"
#include "docfile/shared_out.h"

namespace punb {

std::int64_t spy_count(std::int64_t positives, double spy_fraction) {
  return static_cast<std::int64_t>(static_cast<double>(positives) * spy_fraction);
}

std::vector<std::uint32_t> choose_spies(std::int64_t positives, std::int64_t spies) {
  if (positives > std::int64_t{UINT32_MAX}) {
    throw Fatal("positive set too large", "more than 4294967295 positive documents");
  }
  std::vector<std::uint32_t> order(static_cast<std::size_t>(positives));
  std::iota(order.begin(), order.end(), 0u);
  SpyRandom random(kSpySeed);
  const double scale = 1.0 / 32767.0;
  for (std::int64_t i = positives - 1; i >= 1; --i) {
    const double r = static_cast<double>(random.draw());
    const auto j = static_cast<std::int64_t>((r * scale) * static_cast<double>(i));
    std::swap(order[static_cast<std::size_t>(i)], order[static_cast<std::size_t>(j)]);
  }
  order.resize(static_cast<std::size_t>(spies));
  std::sort(order.begin(), order.end());
  return order;
}

void split_positive_set(const std::string& positive_set, const std::vector<std::uint32_t>& spies,
                        std::int64_t first, std::int64_t lines,
                        const std::vector<std::uint64_t>& line_bytes, WorkerPool& pool,
                        Peers& peers) {
  PieceReader in(positive_set, kCannotReadTrainingSet, {peers.rank(), peers.size()});
  SharedOutFile spy(peers, "spy", kWriteErrorNewFile);
  SharedOutFile rest(peers, "pos_withoutspy", kWriteErrorNewFile);
  SharedOutFile* const files[] = {&spy, &rest};
  copy_shared_lines(
      in, lines, pool, peers, files,
      [&](std::int64_t line) -> std::size_t { return is_spy(spies, first + line) ? 0 : 1; },
      &line_bytes);
  close_together(files);
}

}  // namespace punb
