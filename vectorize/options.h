#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "vectorize/sources.h"
#include "words/vocabulary.h"

namespace punb::vectorize {

struct WordOptions {
  bool fold = true;            // --no-fold turns it off
  std::size_t min_length = 1;  // --min-length, in code points
  std::string stop_words;      // --stop-words: a file, "english", or empty for none
};

struct Options {
  std::string stem;               // -o
  std::vector<InputPath> inputs;  // training paths first, then test paths, each in order given
  std::string vocabulary_file;    // --vocab; empty: build the vocabulary
  WordOptions words;
  words::VocabularyLimits limits;
  int threads = 0;  // -j; resolved to the default when 0
  // --holdout: the share of the positive documents written to the test set (label 1) instead of
  // the training set; --seed: the seed of that draw.
  std::optional<double> holdout;
  std::uint64_t seed = 1;
  bool help = false;
  bool version = false;

  bool has(SetKind set) const {
    for (const InputPath& p : inputs)
      if (p.set == set) return true;
    return false;
  }
};

class UsageError : public std::runtime_error {
 public:
  explicit UsageError(const std::string& reason) : std::runtime_error(reason) {}
};

// Reads the arguments (without the program name); throws UsageError for a command line that
// cannot start a run.
Options parse_options(const std::vector<std::string>& args);

// The CPUs this process may run on.
int default_thread_count();

extern const char* const kUsage;

}  // namespace punb::vectorize
