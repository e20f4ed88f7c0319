#pragma once

#include <string>
#include <vector>

#include "docfile/docstore.h"
#include "docfile/workpool.h"
#include "nb/model.h"
#include "nb/passes.h"
#include "nb/score.h"
#include "nb/testread.h"

namespace punb {

// The labelled test set (this process's share of it), read and checked on the first test pass
// and kept, restricted to the vocabulary (other words never count), for the passes that follow.
class TestSet {
 public:
  TestSet(std::string path, const VocabularyMask& mask, Peers& peers)
      : path_(std::move(path)), mask_(mask), peers_(peers) {}

  // Scores every test document and hands take(const ScoredTests&) the results in file order,
  // a block of documents at a time. A fault found on the first pass is raise_fault()'s, for the
  // caller to raise when it has written what came before it.
  template <class Take>
  void score_all(const ScoreTable& table, WorkerPool& pool, Take&& take) {
    if (!loaded_) {
      reading_ = read_and_score_test_set(path_, mask_, table, pool, peers_, &docs_, take);
      docs_.settle();
      every_ = docs_.all();
      blocks_ = cut_into_blocks(every_, pool, kScoreBlockWords);
      scored_.resize(blocks_.size());
      loaded_ = true;
      return;
    }
    pool.run(blocks_.size(), [&](std::size_t k, unsigned) {
      ScoredTests& s = scored_[k];
      s.clear();
      for (std::size_t j = blocks_[k].begin; j < blocks_[k].end; ++j) {
        s.labels.push_back(docs_.document_at(every_[j]).tag() ? 1 : -1);
      }
      score_in_lanes(
          [&](auto&& visit) {
            for (std::size_t j = blocks_[k].begin; j < blocks_[k].end; ++j)
              visit(docs_.document_at(every_[j]));
          },
          table, [&](const DocStore::Document&, const Posteriors& p) { s.post.push_back(p); });
      append_probability_lines(s.post, s.lines);
    });
    for (const ScoredTests& s : scored_) take(s);
  }

  // Of the lines of this process's share, how many come before a fault of the first pass (all
  // when there is none).
  std::int64_t lines_before_fault() const { return reading_.lines; }
  void raise_fault() const { reading_.raise(); }

 private:
  std::string path_;
  const VocabularyMask& mask_;
  Peers& peers_;
  SharedReading reading_;
  DocStore docs_;
  DocStore::Selection every_;
  std::vector<Block> blocks_;
  std::vector<ScoredTests> scored_;
  bool loaded_ = false;
};

}  // namespace punb
