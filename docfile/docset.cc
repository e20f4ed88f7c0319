#include "docfile/docset.h"

#include "docfile/fatal.h"
#include "docfile/pieces.h"

namespace punb {

std::int64_t DocumentSet::read_into(DocStore& into, WorkerPool& pool) {
  if (is_file()) {
    PieceReader in(name_, kCannotReadTrainingSet);
    return read_document_store(in, pool, into);
  }
  into.reserve_words(words_);
  return for_each_block([&](const DocStore& block) { into.append(block); });
}

}  // namespace punb
