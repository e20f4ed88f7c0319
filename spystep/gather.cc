#include <algorithm>
#include <atomic>
#include <memory>

#include "nb/passes.h"
#include "spystep/spystep.h"

namespace punb {

namespace {

// A bucket word whose index bits hold this names the document (its place in the block, in the
// count bits) whose pairs follow; no pair has that index.
constexpr std::uint32_t kDocMark = DocStore::kIndexMask;
static_assert(kDocMark >= static_cast<std::uint32_t>(kIndexCount));

// A block's documents are named by 13 bits.
constexpr std::size_t kBlockDocs = std::size_t{1} << (32 - DocStore::kIndexBits);
constexpr std::size_t kBlockWords = std::size_t{1} << 16;

}  // namespace

// Sorts the pair words of a block's documents by range, each range's in document order: counts
// first, so that every word goes straight to its place.
void WeightedCounts::Buckets::fill(const DocStore& docs, const DocStore::Selection& selection,
                                   std::size_t begin, std::size_t end, const GatherRanges& ranges) {
  const std::uint8_t* of = ranges.of.data();
  const unsigned n = ranges.count;
  std::vector<std::size_t> count(n, end - begin);  // room for a mark per document
  for (std::size_t j = begin; j < end; ++j) {
    const DocStore::Document doc = docs.document_at(selection[j]);
    for (const std::uint32_t* w = doc.words_begin(); w != doc.words_end(); ++w) {
      const std::uint32_t x = *w;
      std::size_t& c = count[of[x & DocStore::kIndexMask]];
      ++c;
      if (x >> DocStore::kIndexBits == DocStore::kCountEscape) {
        ++c;
        ++w;
      }
    }
  }
  first.resize(n);
  last.resize(n);
  std::size_t total = 0;
  for (unsigned r = 0; r < n; ++r) {
    first[r] = total;
    total += count[r];
  }
  if (words.size() < total) words.resize(total);
  std::vector<std::uint32_t*> at(n);
  for (unsigned r = 0; r < n; ++r) at[r] = words.data() + first[r];
  std::vector<std::size_t> marked(n, SIZE_MAX);
  for (std::size_t j = begin; j < end; ++j) {
    const DocStore::Document doc = docs.document_at(selection[j]);
    const std::size_t local = j - begin;
    for (const std::uint32_t* w = doc.words_begin(); w != doc.words_end(); ++w) {
      const std::uint32_t x = *w;
      const unsigned r = of[x & DocStore::kIndexMask];
      std::uint32_t*& out = at[r];
      if (marked[r] != local) {
        *out++ = kDocMark | static_cast<std::uint32_t>(local) << DocStore::kIndexBits;
        marked[r] = local;
      }
      *out++ = x;
      if (x >> DocStore::kIndexBits == DocStore::kCountEscape) *out++ = *++w;
    }
  }
  for (unsigned r = 0; r < n; ++r) last[r] = static_cast<std::size_t>(at[r] - words.data());
}

namespace {

// Adds a bucket's pairs, weighted by their documents' posteriors, into the cells.
void add_bucket(const std::uint32_t* w, const std::uint32_t* end, const Posteriors* post,
                std::array<double, 2>* cells) {
#if defined(__SSE2__)
  __m128d weights = _mm_setzero_pd();
  while (w != end) {
    if ((*w & DocStore::kIndexMask) == kDocMark) {
      const Posteriors& p = post[*w++ >> DocStore::kIndexBits];
      weights = _mm_set_pd(p.pos, p.neg);
      continue;
    }
    std::uint32_t index;
    std::uint32_t count;
    DocStore::next_pair(w, index, count);
    double* cell = cells[index].data();
    const __m128d c = _mm_set1_pd(static_cast<double>(count));
    _mm_storeu_pd(cell, _mm_add_pd(_mm_loadu_pd(cell), _mm_mul_pd(c, weights)));
  }
#else
  Posteriors weights;
  while (w != end) {
    if ((*w & DocStore::kIndexMask) == kDocMark) {
      weights = post[*w++ >> DocStore::kIndexBits];
      continue;
    }
    std::uint32_t index;
    std::uint32_t count;
    DocStore::next_pair(w, index, count);
    cells[index][0] += static_cast<double>(count) * weights.neg;
    cells[index][1] += static_cast<double>(count) * weights.pos;
  }
#endif
}

}  // namespace

std::vector<std::size_t> cut_by_count(std::span<const double> counts, unsigned ranges) {
  double total = 0.0;
  for (double c : counts) total += c;
  std::vector<std::size_t> ends;
  double before = 0.0;
  for (std::size_t i = 0; i < counts.size(); ++i) {
    // A range ends where the counts before an index reach its share.
    if (total > 0.0 && before >= total * static_cast<double>(ends.size() + 1) / ranges &&
        ends.size() + 1 < ranges && (ends.empty() || ends.back() < i)) {
      ends.push_back(i);
    }
    before += counts[i];
  }
  ends.push_back(counts.size());
  return ends;
}

std::vector<std::uint8_t> WeightedCounts::mixed_order(const DocStore& docs,
                                                      const DocStore::Selection& selection) {
  std::vector<std::uint8_t> mixed(selection.size(), 0);
  if (docs.pairs_in_index_order()) return mixed;
  for (std::size_t j = 0; j < selection.size(); ++j) {
    std::uint32_t last = 0;
    docs.document_at(selection[j]).for_each_pair([&](std::uint32_t index, std::uint32_t) {
      if (index < last) mixed[j] = 1;
      last = index;
    });
  }
  return mixed;
}

void WeightedCounts::score_and_gather_in_process_order(Peers& peers, std::span<const Group> groups,
                                                       const ScoreTable& table,
                                                       const GatherRanges& ranges,
                                                       std::span<const std::size_t> bounds,
                                                       WorkerPool& pool) {
  if (peers.size() == 1) {
    for (const Group& g : groups)
      score_and_gather(*g.docs, *g.selection, table, ranges, pool, *g.post);
    return;
  }
  auto score = [&](const Group& g) {
    score_selection(*g.docs, *g.selection, table, pool, *g.post);
  };
  // The first process's first group adds onto zero counts: it is gathered as it is scored, as one
  // process does, read once and passed on at once; each of its later groups is scored as its turn
  // comes. The others score all theirs while they wait for the counts before them.
  const bool leads = peers.rank() == 0;
  if (!leads) {
    for (const Group& g : groups) score(g);
  }
  gather_in_process_order(peers, groups, bounds, [&](int lap) {
    if (!leads) return false;
    const Group& g = groups[static_cast<std::size_t>(lap)];
    if (lap > 0) {
      score(g);
      return false;
    }
    score_and_gather(*g.docs, *g.selection, table, ranges, pool, *g.post);
    return true;
  });
}

void WeightedCounts::gather_in_process_order(Peers& peers, std::span<const Group> groups,
                                             std::span<const std::size_t> bounds,
                                             const std::function<bool(int)>& before_lap) {
  std::vector<std::size_t> flat_bounds;  // two doubles a cell
  for (std::size_t b : bounds) flat_bounds.push_back(2 * b);
  // Where each document's next range starts and where the document ends, as word offsets in its
  // store: a range is then gathered from the documents in index order without reading their
  // headers, and the places a few documents ahead can be asked for early.
  std::vector<std::uint64_t> next;
  std::vector<std::uint64_t> end;
  bool gathered = false;  // the lap's group, by before_lap
  add_in_process_order_by_range(
      peers, flat(), static_cast<int>(groups.size()), flat_bounds,
      [&](int lap, std::size_t flat_begin, std::size_t flat_end) {
        if (gathered) return;
        const Group& g = groups[static_cast<std::size_t>(lap)];
        const DocStore& docs = *g.docs;
        const DocStore::Selection& selection = *g.selection;
        const std::size_t n = selection.size();
        if (flat_begin == 0) {
          next.resize(n);
          end.resize(n);
          for (std::size_t j = 0; j < n; ++j) {
            next[j] = selection[j] + 1;
            end[j] = selection[j] + docs.words_at(selection[j]);
          }
        }
        const auto first = static_cast<std::uint32_t>(flat_begin / 2);
        const auto width = static_cast<std::uint32_t>(flat_end / 2 - first);
        for (std::size_t j = 0; j < n; ++j) {
          // The next cache lines of a document a few steps ahead: the pass waits on memory.
          constexpr std::size_t kAhead = 8;
          constexpr std::size_t kLines = 4;
          if (j + kAhead < n) {
            // Addresses made as numbers: a line's step may pass the store's last word.
            auto a = reinterpret_cast<std::uintptr_t>(docs.word_at(next[j + kAhead]));
            const auto z = reinterpret_cast<std::uintptr_t>(docs.word_at(end[j + kAhead]));
            for (std::size_t k = 0; k < kLines && a < z; ++k, a += 64)
              __builtin_prefetch(reinterpret_cast<const void*>(a));
          }
          const Posteriors& p = (*g.post)[j];
          auto add = [&](std::uint32_t index, std::uint32_t count) {
            std::array<double, 2>& cell = cells[index];
            cell[0] += static_cast<double>(count) * p.neg;
            cell[1] += static_cast<double>(count) * p.pos;
          };
          if ((*g.mixed)[j]) {
            docs.document_at(selection[j])
                .for_each_pair([&](std::uint32_t index, std::uint32_t count) {
                  if (index - first < width) add(index, count);
                });
            continue;
          }
          // In index order: this range's pairs are the ones from where the last range ended.
          const std::uint32_t* w = docs.word_at(next[j]);
          const std::uint32_t* const stop = docs.word_at(end[j]);
          while (w != stop && (*w & DocStore::kIndexMask) - first < width) {
            std::uint32_t index;
            std::uint32_t count;
            DocStore::next_pair(w, index, count);
            add(index, count);
          }
          next[j] = static_cast<std::uint64_t>(w - docs.word_at(0));
        }
      },
      [&](int lap) { gathered = before_lap(lap); });
}

GatherRanges GatherRanges::balanced(std::span<const double> counts, unsigned ranges) {
  GatherRanges g;
  g.count = std::clamp(ranges, 1u, 255u);
  g.of.assign(counts.size(), 0);
  double total = 0.0;
  for (double c : counts) total += c;
  if (g.count == 1 || !(total > 0.0)) return g;
  double before = 0.0;
  for (std::size_t i = 0; i < counts.size(); ++i) {
    const auto r = static_cast<unsigned>(before / total * g.count);
    g.of[i] = static_cast<std::uint8_t>(std::min(r, g.count - 1));
    before += counts[i];
  }
  return g;
}

void WeightedCounts::score_then_gather_in_turn(const DocStore& docs,
                                               const DocStore::Selection& selection,
                                               const ScoreTable& table, WorkerPool& pool,
                                               std::vector<Posteriors>& post) {
  // Every thread scores blocks; the calling thread also gathers, in document order and between
  // the blocks it scores, every block scored so far, and after the run what is left. Gathering on
  // one thread only keeps the weighted counts in that processor's cache.
  post.resize(selection.size());
  const std::vector<Block> blocks = cut_into_blocks(selection, pool, kBlockWords, kBlockDocs);
  const std::size_t n = blocks.size();
  const auto scored = std::make_unique<std::atomic<bool>[]>(n);
  std::size_t gathered = 0;
  auto gather_scored = [&] {
    for (; gathered < n && scored[gathered].load(std::memory_order_acquire); ++gathered) {
      for (std::size_t j = blocks[gathered].begin; j < blocks[gathered].end; ++j) {
        gather(docs.document_at(selection[j]), post[j]);
      }
    }
  };
  pool.run(n, [&](std::size_t b, unsigned worker) {
    std::size_t j = blocks[b].begin;
    score_in_lanes(
        [&](auto&& take) {
          for (std::size_t i = blocks[b].begin; i < blocks[b].end; ++i)
            take(docs.document_at(selection[i]));
        },
        table, [&](const DocStore::Document&, const Posteriors& p) { post[j++] = p; });
    scored[b].store(true, std::memory_order_release);
    if (worker == 0) gather_scored();
  });
  gather_scored();
}

void WeightedCounts::score_and_gather(const DocStore& docs, const DocStore::Selection& selection,
                                      const ScoreTable& table, const GatherRanges& ranges,
                                      WorkerPool& pool, std::vector<Posteriors>& post) {
  if (pool.size() == 1) {
    post.clear();
    post.reserve(selection.size());
    score_documents(docs, selection, table,
                    [&](const DocStore::Document& doc, const Posteriors& p) {
                      gather(doc, p);
                      post.push_back(p);
                    });
    return;
  }
  if (ranges.count == 1) {
    score_then_gather_in_turn(docs, selection, table, pool, post);
    return;
  }
  // Windows of blocks go through two steps: all threads score the blocks of a window while the
  // window before is gathered, in document order, by one thread per range of word indices.
  post.resize(selection.size());
  const std::vector<Block> blocks = cut_into_blocks(selection, pool, kBlockWords, kBlockDocs);
  const std::size_t window = 2 * std::size_t{pool.size()};
  const std::size_t windows = (blocks.size() + window - 1) / window;
  const unsigned range_count = ranges.count;
  buckets_.resize(2 * window);
  auto blocks_of = [&](std::size_t w) {
    return Block{w * window, std::min(blocks.size(), (w + 1) * window)};
  };
  auto score_block = [&](std::size_t w, std::size_t b) {
    const Block block = blocks[b];
    std::size_t j = block.begin;
    score_in_lanes(
        [&](auto&& take) {
          for (std::size_t i = block.begin; i < block.end; ++i)
            take(docs.document_at(selection[i]));
        },
        table, [&](const DocStore::Document&, const Posteriors& p) { post[j++] = p; });
    buckets_[(w % 2) * window + (b - w * window)].fill(docs, selection, block.begin, block.end,
                                                       ranges);
  };
  auto gather_range = [&](std::size_t w, unsigned r) {
    const Block in = blocks_of(w);
    for (std::size_t b = in.begin; b < in.end; ++b) {
      const Buckets& bucket = buckets_[(w % 2) * window + (b - in.begin)];
      add_bucket(bucket.words.data() + bucket.first[r], bucket.words.data() + bucket.last[r],
                 post.data() + blocks[b].begin, cells.data());
    }
  };
  for (std::size_t step = 0; step <= windows; ++step) {
    const std::size_t gathers = step > 0 ? range_count : 0;
    const Block scored = step < windows ? blocks_of(step) : Block{0, 0};
    pool.run(gathers + (scored.end - scored.begin), [&](std::size_t i, unsigned) {
      if (i < gathers) {
        gather_range(step - 1, static_cast<unsigned>(i));
      } else {
        score_block(step, scored.begin + (i - gathers));
      }
    });
  }
}

}  // namespace punb
