#pragma once

#include <cstddef>
#include <string_view>

#include "words/stopwords.h"
#include "words/words.h"

namespace punb::words {

// Which words count at all, whatever the vocabulary.
struct WordFilter {
  bool fold = true;
  std::size_t min_length = 1;
  const WordSet* stop_words = nullptr;

  bool keeps(std::string_view word) const {
    return (min_length <= 1 || code_points(word) >= min_length) &&
           !(stop_words && stop_words->find(word));
  }
};

}  // namespace punb::words
