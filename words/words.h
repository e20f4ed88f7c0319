#pragma once

#include <unicode/ubrk.h>
#include <unicode/unorm2.h>
#include <unicode/utext.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "words/wordtable.h"

namespace punb::words {

// Receives the words of a text, in text order.
class WordSink {
 public:
  virtual void word(std::string_view w) = 0;

 protected:
  ~WordSink() = default;
};

// Splits UTF-8 text into words with ICU's word segmentation and keeps the segments that are
// words (letters, numbers, kana, ideographs), folded with NFKC_Casefold unless `fold` is off.
// Words are found in the text as written and folded one by one, so folding never moves a word
// boundary. Ill-formed UTF-8 reads as U+FFFD, which separates words; such sequences are counted.
// One splitter per thread: it owns its break iterator and buffers.
class WordSplitter {
 public:
  // `ascii_fast_path` off sends every byte through ICU; on, stretches of pure ASCII between
  // white space take a shortcut that yields the same words.
  explicit WordSplitter(bool fold, bool ascii_fast_path = true);
  ~WordSplitter();
  WordSplitter(const WordSplitter&) = delete;
  WordSplitter& operator=(const WordSplitter&) = delete;

  void split(std::string_view text, WordSink& sink);

  // Folds one word as the splitter folds the words it finds (or returns it as is, with fold off).
  std::string_view fold(std::string_view word);

  // Ill-formed sequences met since the last call.
  std::uint64_t take_replaced() {
    const std::uint64_t n = replaced_;
    replaced_ = 0;
    return n;
  }

 private:
  bool ascii_words(const unsigned char* s, std::size_t n, std::size_t& i);
  void split_with_icu(std::string_view span, WordSink& sink);
  void split_remembered(std::string_view piece, WordSink& sink);
  std::string_view fold_unicode(std::string_view word);
  std::string_view lower_ascii(std::string_view word);

  bool fold_;
  bool ascii_fast_path_;
  UBreakIterator* breaker_ = nullptr;
  UText text_ = UTEXT_INITIALIZER;
  const UNormalizer2* casefold_ = nullptr;
  struct PieceWord {
    std::size_t start;
    std::size_t length;
    bool capitals;
  };
  std::vector<PieceWord> piece_words_;
  WordTable<std::uint32_t> remembered_;  // piece -> its words in arena_
  std::basic_string<char, std::char_traits<char>, HugePageAllocator<char>> arena_;
  std::string folded_;
  std::u16string utf16_;
  std::u16string normalized_;
  std::uint64_t replaced_ = 0;
};

// Number of code points of a well-formed UTF-8 word.
inline std::size_t code_points(std::string_view word) {
  std::size_t n = 0;
  for (char c : word) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return n;
}

}  // namespace punb::words
