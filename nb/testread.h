#pragma once

#include <cstdint>
#include <string>

#include "docfile/docstore.h"
#include "docfile/fatal.h"
#include "docfile/reader.h"
#include "nb/model.h"
#include "nb/score.h"

namespace punb {

// Reads the test set and hands f(label, posteriors) for every document, in file order. Each
// document's words that are in the vocabulary (no other word counts) go to `docs`, which keeps
// them all when `keep` is set and only the documents being scored otherwise. Documents are
// scored in lanes as they come; a fault in a line still hands over every document before it.
template <class F>
void read_and_score_test_set(const std::string& path, const VocabularyMask& mask,
                             const ScoreTable& table, DocStore& docs, bool keep, F&& f) {
  DocumentParser parser(path, kCannotReadTestSet, true);
  std::uint64_t pending[kLanes];
  std::int32_t labels[kLanes];
  int filled = 0;
  auto hand_over = [&] {
    DocStore::Document batch[kLanes];
    Posteriors post[kLanes];
    for (int k = 0; k < filled; ++k) batch[k] = docs.document_at(pending[k]);
    if (filled == kLanes) {
      score_lanes(batch, table, post);
    } else {
      for (int k = 0; k < filled; ++k) post[k] = score_document(batch[k], table);
    }
    for (int k = 0; k < filled; ++k) f(labels[k], post[k]);
    filled = 0;
    if (!keep) docs.clear();
  };
  auto keep_word = [&](std::int32_t index, std::int32_t count) {
    if (mask[static_cast<std::size_t>(index)] == 1) docs.add_pair(index, count);
  };
  try {
    for (;;) {
      docs.begin_document();
      std::int32_t label = 0;
      if (!parser.next(keep_word, &label)) {
        docs.discard_document();
        break;
      }
      docs.end_document(label == 1);
      pending[filled] = docs.last_offset();
      labels[filled++] = label;
      if (filled == kLanes) hand_over();
    }
  } catch (const Fatal&) {
    docs.discard_document();
    hand_over();
    throw;
  }
  hand_over();
}

}  // namespace punb
