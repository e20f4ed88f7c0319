#pragma once

#include <string>
#include <string_view>

#include "words/words.h"
#include "words/wordtable.h"

namespace punb::words {

using WordSet = WordTable<char>;

// The stop words named by --stop-words: "english" for the built-in list of common English
// function words, else a file of one word per line (blank lines and lines starting with '#'
// left out). Each is folded by `folder`, as the words of the text are.
WordSet load_stop_words(const std::string& source, WordSplitter& folder);

// Adds a stop word, without the blanks around it, folded by `folder`; a blank one adds nothing.
// The word must be well-formed UTF-8.
void add_stop_word(WordSet& set, std::string_view word, WordSplitter& folder);

}  // namespace punb::words
