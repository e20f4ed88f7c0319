#include "docfile/docset.h"

#include "docfile/fatal.h"
#include "docfile/pieces.h"

namespace punb {

DocumentShare DocumentSet::read_into(DocStore& into, WorkerPool& pool, Peers& peers,
                                     std::vector<std::uint64_t>* line_bytes) {
  if (is_file()) {
    PieceReader in(name_, kCannotReadTrainingSet, {peers.rank(), peers.size()});
    const SharedReading read = read_document_store(in, pool, peers, into, 0, line_bytes);
    return {read.before, read.lines, read.total};
  }
  into.reserve_words(words_);
  const std::int64_t n = for_each_block([&](const DocStore& block) { into.append(block); });
  return {0, n, n};
}

}  // namespace punb
