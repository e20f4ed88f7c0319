#include "nb/passes.h"

#include <algorithm>

namespace punb {

std::vector<Block> cut_into_blocks(const DocStore::Selection& selection, const WorkerPool& pool,
                                   std::size_t words, std::size_t max_docs) {
  max_docs = std::min(max_docs,
                      std::max<std::size_t>(1, selection.size() / (4 * std::size_t{pool.size()})));
  std::vector<Block> blocks;
  std::size_t begin = 0;
  for (std::size_t j = 0; j < selection.size(); ++j) {
    // The words from the block's first document to the next selected one (those of documents
    // left out between them too): reading each document's header instead would cost a pass over
    // the store's memory.
    const std::uint64_t next = j + 1 < selection.size() ? selection[j + 1] : selection[j] + 1;
    if (next - selection[begin] >= words || j + 1 - begin >= max_docs) {
      blocks.push_back({begin, j + 1});
      begin = j + 1;
    }
  }
  if (begin < selection.size()) blocks.push_back({begin, selection.size()});
  return blocks;
}

void score_selection(const DocStore& docs, const DocStore::Selection& selection,
                     const ScoreTable& table, WorkerPool& pool, std::vector<Posteriors>& post) {
  post.resize(selection.size());
  auto score_block = [&](Block b) {
    std::size_t j = b.begin;
    score_in_lanes(
        [&](auto&& take) {
          for (std::size_t i = b.begin; i < b.end; ++i) take(docs.document_at(selection[i]));
        },
        table, [&](const DocStore::Document&, const Posteriors& p) { post[j++] = p; });
  };
  if (pool.size() == 1) {
    score_block({0, selection.size()});
    return;
  }
  const std::vector<Block> blocks = cut_into_blocks(selection, pool, kScoreBlockWords);
  pool.run(blocks.size(), [&](std::size_t k, unsigned) { score_block(blocks[k]); });
}

namespace {

void count_block(const DocStore& docs, const DocStore::Selection& selection, Block b, double* table,
                 std::uint8_t* mask, std::int32_t lowest) {
  for (std::size_t j = b.begin; j < b.end; ++j) {
    docs.document_at(selection[j]).for_each_pair([&](std::uint32_t index, std::uint32_t count) {
      if (static_cast<std::int32_t>(index) < lowest) return;
      if (mask) mask[index] = 1;
      table[index] += static_cast<double>(count);
    });
  }
}

}  // namespace

void count_documents(const DocStore& docs, const DocStore::Selection* selection,
                     std::span<double> table, std::uint8_t* mask, std::int32_t lowest,
                     bool exact_in_any_order, WorkerPool& pool) {
  if (!selection) selection = &docs.all();
  if (pool.size() == 1 || !exact_in_any_order) {
    count_block(docs, *selection, {0, selection->size()}, table.data(), mask, lowest);
    return;
  }
  CountShares shares(table.size(), mask != nullptr, pool);
  const std::vector<Block> blocks = cut_into_blocks(*selection, pool, kScoreBlockWords);
  pool.run(blocks.size(), [&](std::size_t k, unsigned worker) {
    count_block(docs, *selection, blocks[k], shares.table(worker, table.data()),
                shares.mask(worker, mask), lowest);
  });
  shares.add_into(table, mask, pool);
}

CountShares::CountShares(std::size_t table_size, bool with_mask, const WorkerPool& pool) {
  shares_.reserve(pool.size() - 1);
  for (unsigned w = 1; w < pool.size(); ++w) shares_.emplace_back(table_size, with_mask);
}

void CountShares::add_into(std::span<double> table, std::uint8_t* mask, WorkerPool& pool) {
  if (shares_.empty()) return;
  constexpr std::size_t kSpan = std::size_t{1} << 14;
  const std::size_t spans = (table.size() + kSpan - 1) / kSpan;
  pool.run(spans, [&](std::size_t k, unsigned) {
    const std::size_t end = std::min(table.size(), (k + 1) * kSpan);
    for (Share& s : shares_) {
      // A share with a mask touched only the spans where it marked something.
      if (s.mask.size() > 0 && std::all_of(s.mask.data() + k * kSpan, s.mask.data() + end,
                                           [](std::uint8_t m) { return m == 0; })) {
        continue;
      }
      for (std::size_t i = k * kSpan; i < end; ++i) {
        if (s.table[i] != 0.0) {
          table[i] += s.table[i];
          s.table[i] = 0.0;
        }
        if (mask && s.mask[i]) {
          mask[i] = 1;
          s.mask[i] = 0;
        }
      }
    }
  });
}

}  // namespace punb
