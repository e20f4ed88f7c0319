#pragma once

#include <string>

#include "words/words.h"
#include "words/wordtable.h"

namespace punb::words {

using WordSet = WordTable<char>;

// The stop words named by --stop-words: "english" for the built-in list of common English
// function words, else a file of one word per line (blank lines and lines starting with '#'
// left out). Each is folded by `folder`, as the words of the text are.
WordSet load_stop_words(const std::string& source, WordSplitter& folder);

}  // namespace punb::words
