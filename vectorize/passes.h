#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "vectorize/arena.h"
#include "vectorize/batches.h"
#include "vectorize/holdout.h"
#include "vectorize/sources.h"
#include "words/filter.h"
#include "words/vocabulary.h"
#include "words/words.h"

namespace punb::vectorize {

// One word splitter per thread, kept from the first pass to the second, so that the pieces ICU
// split while counting are remembered while writing.
class WordSplitters {
 public:
  WordSplitters(bool fold, int threads)
      : fold_(fold), splitters_(static_cast<std::size_t>(threads)) {}
  // Thread t's splitter, made when it is first asked for.
  words::WordSplitter& of(int t) {
    std::unique_ptr<words::WordSplitter>& s = splitters_[static_cast<std::size_t>(t)];
    if (!s) s = std::make_unique<words::WordSplitter>(fold_);
    return *s;
  }

 private:
  bool fold_;
  std::vector<std::unique_ptr<words::WordSplitter>> splitters_;
};

inline constexpr std::size_t kSets = 3;
inline std::size_t set_number(SetKind s) { return static_cast<std::size_t>(s); }

struct WordTally {
  std::uint64_t documents = 0;
  std::uint64_t occurrences = 0;
  std::uint64_t last_document = 0;  // numbered from 1 by each counter
};

// A word of a document as the first pass counted it: its entry in the counting thread's table.
struct RecordedWord {
  std::uint32_t entry;
  std::uint32_t count;  // in the document
};

struct RecordedDocument {
  std::uint32_t input;
  std::uint32_t held = 0;  // 1 for a held-out positive
  std::uint64_t line;
  std::size_t words_end;  // in the words its thread recorded
};

// A batch of training documents as the first pass saw them.
struct RecordedBatch {
  std::uint32_t thread = 0;
  std::size_t words_begin = 0;  // in the words its thread recorded
  std::vector<RecordedDocument> documents;
  std::vector<std::pair<std::uint32_t, std::uint64_t>> replaced;  // input -> ill-formed sequences
};

// What the first pass keeps of the training documents so that the second writes them without
// reading and splitting their text again; dropped as a whole once it would pass a memory limit,
// and the second pass then reads everything.
struct Recording {
  bool complete = false;
  std::size_t training = 0;                    // input files read by the first pass
  std::vector<RecordedBatch> batches;          // in reading order
  std::vector<FillArray<RecordedWord>> words;  // by thread
  // Thread t's table entry -> entry of the merged table, that is, of TrainingWords::words.
  std::vector<std::vector<std::uint32_t>> merged_entry;
  // The merged table's entries -> vocabulary indices (0: not in the vocabulary), to be filled
  // once the vocabulary is chosen.
  std::vector<std::uint32_t> index_of;
  std::vector<std::uint32_t> skipped;
  std::uint64_t bytes = 0;
};

struct TrainingWords {
  words::WordCounts words;
  std::array<std::uint64_t, kSets> documents{};  // per set
  std::uint64_t bytes = 0;
  Recording recording;
};

// Past this many bytes of recorded words the first pass drops its recording.
inline constexpr std::size_t kRecordingLimit = std::size_t{1} << 30;

// The documents of input files [first, count), as the passes read them.
std::uint64_t count_documents(const Corpus& corpus, std::size_t first, std::size_t count);

// First pass, over input files [0, training): every word's document frequency and count, and
// a recording of the documents' words within `recording_limit` bytes. The positive documents of
// `held_out` (numbered in reading order) are counted as unlabeled documents.
TrainingWords count_training_words(const Corpus& corpus, std::size_t training,
                                   const words::WordFilter& filter, int threads,
                                   WordSplitters& splitters,
                                   std::size_t recording_limit = kRecordingLimit,
                                   const HoldOut* held_out = nullptr);

struct SetTotals {
  std::uint64_t documents = 0;
  std::uint64_t positive = 0;     // test documents labelled 1
  std::uint64_t occurrences = 0;  // of words in the vocabulary
  std::uint64_t out_of_vocabulary = 0;
};

struct WrittenSets {
  std::array<SetTotals, kSets> sets{};
  std::map<std::uint32_t, std::uint64_t> replaced;  // input -> ill-formed sequences met
  std::vector<std::uint32_t> skipped;               // inputs that are not text
  std::uint64_t bytes = 0;
};

// A document as written: its set, its line and its source (`path` or `path:line`), each with its
// line end, and where it came from.
struct WrittenDocument {
  SetKind set;
  std::string_view line;
  std::string_view source;
  std::uint32_t input;   // index into the input files
  std::uint64_t number;  // its line in a file of one document per line; 0 for a whole file
};
using EmitDocument = std::function<void(const WrittenDocument&)>;

// Second pass, over all input files: each document as a line of `index:count` pairs in
// increasing index order (test lines led by their label), handed to `emit` with its source.
// Documents come out in input order whatever the number of threads, one at a time. The
// documents of a complete `recording` (taken apart as they are written) are not read again.
// The positive documents of `held_out` come out twice: as test documents labelled 1, and then as
// unlabeled documents.
WrittenSets encode_sets(const Corpus& corpus, const words::WordFilter& filter,
                        const words::Vocabulary& vocabulary, int threads, const EmitDocument& emit,
                        WordSplitters& splitters, Recording* recording = nullptr,
                        const HoldOut* held_out = nullptr);

}  // namespace punb::vectorize
