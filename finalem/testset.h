#pragma once

#include <string>

#include "docfile/docstore.h"
#include "docfile/fatal.h"
#include "docfile/reader.h"
#include "nb/model.h"
#include "nb/score.h"
#include "nb/testread.h"

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
      score_documents(docs_, table, [&](const DocStore::Document& doc, const Posteriors& post) {
        f(doc.tag() ? 1 : -1, post);
      });
      return;
    }
    read_and_score_test_set(path_, mask_, table, docs_, true, f);
    loaded_ = true;
  }

 private:
  std::string path_;
  const VocabularyMask& mask_;
  DocStore docs_;
  bool loaded_ = false;
};

}  // namespace punb
