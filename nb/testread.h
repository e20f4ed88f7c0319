#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "docfile/docstore.h"
#include "docfile/fatal.h"
#include "docfile/pieces.h"
#include "docfile/workpool.h"
#include "nb/model.h"
#include "nb/score.h"
#include "peers/peers.h"

namespace punb {

// Test documents scored together: their labels, posteriors and probability lines, in file order.
// On cache lines of its own: the threads fill their slots side by side.
struct alignas(64) ScoredTests {
  DocStore docs;  // the documents read, restricted to the vocabulary
  std::vector<std::int32_t> labels;
  std::vector<Posteriors> post;
  std::string lines;

  void clear() {
    docs.clear();
    labels.clear();
    post.clear();
    lines.clear();
  }
};

// Appends the probability line of every posterior to `lines`.
void append_probability_lines(std::span<const Posteriors> post, std::string& lines);

// Reads the document file open in `in` (this process's share of it) with the pool and hands
// take(const ScoredTests&) every piece of it in file order, scored. Each document's words that are
// in the vocabulary (no other word counts) are kept, and appended to `keep` when one is given.
// Test lines lead with their label; other lines' labels read as 0. A fault in a line still hands
// over every document before it in the share; the fault the processes agree on is the caller's
// to raise, after it has written what comes before it.
template <class Take>
SharedReading read_and_score(PieceReader& in, bool test_lines, const VocabularyMask& mask,
                             const ScoreTable& table, WorkerPool& pool, Peers& peers,
                             DocStore* keep, Take&& take) {
  if (keep) keep->reserve_for_text(in.file_size());
  std::vector<ScoredTests> slots(pieces_per_window(pool));
  auto parse = [&](std::size_t k, Piece piece, unsigned) {
    ScoredTests& s = slots[k];
    s.clear();
    const PieceOutcome outcome = parse_piece(
        piece, test_lines, [&] { s.docs.begin_document(); },
        [&](std::int32_t index, std::int32_t count) {
          if (mask[static_cast<std::size_t>(index)] == 1) s.docs.add_pair(index, count);
        },
        [&](std::int32_t label) {
          s.docs.end_document(label == 1);
          s.labels.push_back(label);
        });
    // The line that stopped the parse had begun a document.
    if (outcome.fault.fault != LineFault::none || outcome.error) s.docs.discard_document();
    score_documents(s.docs, table,
                    [&](const DocStore::Document&, const Posteriors& p) { s.post.push_back(p); });
    append_probability_lines(s.post, s.lines);
    return outcome;
  };
  const ReadOutcome read = parse_file(in, pool, parse, [&](std::size_t k, const PieceOutcome&) {
    if (keep) keep->append(slots[k].docs);
    take(slots[k]);
  });
  return agree_on_reading(read, in, peers);
}

// The same for the file at `path` (this process's share of it), whose failures to open end the
// run with `fail_message`.
template <class Take>
SharedReading read_and_score(const std::string& path, const char* fail_message, bool test_lines,
                             const VocabularyMask& mask, const ScoreTable& table, WorkerPool& pool,
                             Peers& peers, DocStore* keep, Take&& take) {
  PieceReader in(path, fail_message, {peers.rank(), peers.size()});
  return read_and_score(in, test_lines, mask, table, pool, peers, keep, take);
}

// Reads and scores the test set.
template <class Take>
SharedReading read_and_score_test_set(const std::string& path, const VocabularyMask& mask,
                                      const ScoreTable& table, WorkerPool& pool, Peers& peers,
                                      DocStore* keep, Take&& take) {
  return read_and_score(path, kCannotReadTestSet, true, mask, table, pool, peers, keep, take);
}

}  // namespace punb
