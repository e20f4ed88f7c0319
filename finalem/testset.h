#pragma once

#include <string>

#include "docfile/docstore.h"
#include "docfile/fatal.h"
#include "docfile/reader.h"
#include "nb/model.h"
#include "nb/score.h"

namespace punb {

// The labelled test set, read and checked on the first test pass and kept, restricted to the
// vocabulary (other words never count), for the passes that follow.
class TestSet {
 public:
  TestSet(std::string path, const VocabularyMask& mask) : path_(std::move(path)), mask_(mask) {}

  // Calls f(label, posteriors) for every test document, in file order.
  template <class F>
  void score_all(const ScoreTable& table, F&& f) {
    if (loaded_) {
      docs_.for_each([&](const DocStore::Document& doc) {
        f(doc.tag() ? 1 : -1, score_document(doc, table));
      });
      return;
    }
    DocumentParser parser(path_, kCannotReadTestSet, true);
    std::int32_t label = 0;
    for (;;) {
      ClassScores scores(table);
      auto keep = [&](std::int32_t index, std::int32_t count) {
        if (mask_[index] != 1) return;
        docs_.add_pair(index, count);
        scores.add_word(static_cast<std::uint32_t>(count), table.ln_words(index));
      };
      docs_.begin_document();
      if (!parser.next(keep, &label)) {
        docs_.discard_document();
        break;
      }
      docs_.end_document(label == 1);
      f(label, scores.posteriors());
    }
    loaded_ = true;
  }

 private:
  std::string path_;
  const VocabularyMask& mask_;
  DocStore docs_;
  bool loaded_ = false;
};

}  // namespace punb
