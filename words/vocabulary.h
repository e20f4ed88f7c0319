#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "docfile/large_pages.h"

namespace punb {
class OutFile;
}

namespace punb::words {

// punb reads feature indices up to this one; index 0 is left out, naive Bayes mode ignores it.
inline constexpr std::uint32_t kMaxIndex = 499999;

struct WordCount {
  std::string word;
  std::uint64_t documents = 0;    // training documents holding the word
  std::uint64_t occurrences = 0;  // in all training documents
};

// Hundreds of thousands of them: in huge pages.
using WordCounts = std::vector<WordCount, HugePageAllocator<WordCount>>;

struct VocabularyEntry {
  std::uint32_t index = 0;
  std::uint64_t documents = 0;
  std::uint64_t occurrences = 0;
  std::string word;
};

// Entries in increasing index order.
using Vocabulary = std::vector<VocabularyEntry, HugePageAllocator<VocabularyEntry>>;

struct VocabularyLimits {
  std::uint64_t min_documents = 1;  // --min-df
  double max_share = 1.0;           // --max-df: of the training documents
  std::uint32_t max_words = kMaxIndex;
};

// What the limits took out, in distinct words.
struct VocabularyCuts {
  std::uint64_t seen = 0;
  std::uint64_t too_rare = 0;
  std::uint64_t too_common = 0;
  std::uint64_t over_cap = 0;
};

// Keeps the words within the limits and numbers them 1..V by decreasing document frequency,
// ties in byte order of the word, so the same counts always give the same vocabulary. With
// `index_of`, fills it with each word's index, in the order of `words` (0 for a word left out).
Vocabulary select_vocabulary(WordCounts words, std::uint64_t training_documents,
                             const VocabularyLimits& limits, VocabularyCuts& cuts,
                             std::vector<std::uint32_t>* index_of = nullptr);

// One line per word: index, document frequency, total count and the word, separated by tabs
// (the word last: a folded word may hold a space, never a tab or a line break).
void write_vocabulary(const Vocabulary& vocabulary, OutFile& out);

// Reads a file written by write_vocabulary; a line that does not parse ends the run with its
// path and line number.
Vocabulary read_vocabulary(const std::string& path);

// How the words of the text were read, kept beside the vocabulary (STEM.vocab.options) so that
// new text can be read the same way: "fold yes|no" and "min-length N", a line each. Stop words
// need no record: they never reach the vocabulary, and only its words count.
struct WordReading {
  bool fold = true;
  std::uint64_t min_length = 1;
};
void write_word_reading(const WordReading& reading, OutFile& out);
// Reads such a file; nullopt when there is none. A file that does not parse ends the run.
std::optional<WordReading> read_word_reading(const std::string& path);

}  // namespace punb::words
