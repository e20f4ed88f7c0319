#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "docfile/fatal.h"
#include "docfile/large_pages.h"
#include "docfile/parse.h"

namespace punb {

// Parsed documents kept in memory, so that passes after the first score them again without
// reading and converting their text again. Each document is a header word (pair words << 1 |
// tag bit) followed by one word per pair: the index in the low 19 bits and the count in the high
// 13; a count too large for that takes the escape value and a second word. That is never more
// bytes than the pair's text.
class DocStore {
 public:
  static constexpr unsigned kIndexBits = 19;
  static constexpr std::uint32_t kIndexMask = (1u << kIndexBits) - 1;
  static constexpr std::uint32_t kCountEscape = (1u << (32 - kIndexBits)) - 1;
  static_assert(kIndexCount <= (1 << kIndexBits));

  void reserve_for_text(std::int64_t text_bytes) {
    // Untouched reserved pages cost no memory; a pair takes at least four bytes of text.
    if (text_bytes > 0) reserve_words(static_cast<std::size_t>(text_bytes / 4 + 1024));
  }
  // Takes room for `words` more words at once, in large pages (filled front to back).
  void reserve_words(std::size_t words) {
    if (words == 0) return;
    words_.reserve(words_.size() + words);
    ask_for_large_pages(words_.data(), words_.capacity() * sizeof(std::uint32_t));
  }

  // The store is filled: the unused part of the large page its last words are on costs no
  // memory from now on (more documents may still be added).
  void settle() {
    release_unused_tail(words_.data() + words_.size(), words_.data() + words_.capacity());
  }

  void begin_document() {
    last_index_ = 0;
    header_ = words_.size();
    starts_.push_back(header_);
    words_.push_back(0);
  }
  // Inlined into the parsers' inner loops, where a call would cost more than the work.
  [[gnu::always_inline]] void add_pair(std::int32_t index, std::int32_t count) {
    auto c = static_cast<std::uint32_t>(count);
    count_sum_ += c;
    auto i = static_cast<std::uint32_t>(index);
    out_of_order_ |= i < last_index_;
    last_index_ = i;
    if (c < kCountEscape) {
      words_.push_back(i | c << kIndexBits);
    } else {
      words_.push_back(i | kCountEscape << kIndexBits);
      words_.push_back(c);
      two_word_pairs_ = true;
    }
  }
  // Drops the document begun last (the reader found no line for it).
  void discard_document() {
    if (!starts_.empty() && starts_.back() == header_) starts_.pop_back();
    words_.resize(header_);
  }
  void end_document(bool tag = false) {
    std::size_t n = words_.size() - header_ - 1;
    if (n >= (std::size_t{1} << 31))
      throw Fatal("document too long", "a line holds over 2^31 pairs");
    words_[header_] = static_cast<std::uint32_t>(n << 1 | (tag ? 1 : 0));
    ++documents_;
  }

  std::size_t documents() const { return documents_; }
  // Words stored: a header per document and a word per pair (two for a large count).
  std::size_t words_held() const { return words_.size(); }

  // The sum of all counts stored: while it stays below 2^53, whole-number sums of any of them
  // are exact as doubles in any order.
  std::uint64_t count_sum() const { return count_sum_; }

  // False when some document, kept or discarded, holds a pair with a lower index than the pair
  // before it: passes that take a range of indices at a time can then not stop at its end.
  bool pairs_in_index_order() const { return !out_of_order_; }

  // Adds the documents of `other` after this store's, in their order.
  void append(const DocStore& other) {
    if (other.documents_ == 0) return;
    const std::uint64_t base = words_.size();
    header_ = base + other.header_;
    for (std::uint64_t start : other.starts_) starts_.push_back(base + start);
    words_.insert(words_.end(), other.words_.begin(), other.words_.end());
    documents_ += other.documents_;
    count_sum_ += other.count_sum_;
    two_word_pairs_ |= other.two_word_pairs_;
    out_of_order_ |= other.out_of_order_;
  }

  // Reads the pair at `w` and moves past it.
  static void next_pair(const std::uint32_t*& w, std::uint32_t& index, std::uint32_t& count) {
    const std::uint32_t x = *w++;
    index = x & kIndexMask;
    count = x >> kIndexBits;
    if (count == kCountEscape) count = *w++;
  }

  class Document {
   public:
    bool tag() const { return tag_; }
    // True when every pair takes one word (its store holds no large count), so that readers
    // may step through words and pairs alike.
    bool one_word_pairs() const { return one_word_pairs_; }
    // The pair words, for readers that step through several documents at once (next_pair).
    const std::uint32_t* words_begin() const { return begin_; }
    const std::uint32_t* words_end() const { return end_; }
    // Calls f(index, count) for every pair in line order.
    template <class F>
    void for_each_pair(F&& f) const {
      std::uint32_t index;
      std::uint32_t count;
      for (const std::uint32_t* w = begin_; w != end_;) {
        next_pair(w, index, count);
        f(index, count);
      }
    }

   private:
    friend class DocStore;
    const std::uint32_t* begin_ = nullptr;
    const std::uint32_t* end_ = nullptr;
    bool tag_ = false;
    bool one_word_pairs_ = false;
  };

  // Visits the documents in the order they were added.
  template <class F>
  void for_each(F&& f) const {
    const std::uint32_t* w = words_.data();
    const std::uint32_t* end = w + words_.size();
    while (w != end) {
      const Document doc = at(w);
      w = doc.end_;
      f(doc);
    }
  }

  Document document_at(std::uint64_t offset) const { return at(words_.data() + offset); }
  // Where the word at `offset` is, without reading it (to ask for it early).
  const std::uint32_t* word_at(std::uint64_t offset) const { return words_.data() + offset; }

  void clear() {
    words_.clear();
    starts_.clear();
    header_ = 0;
    documents_ = 0;
    count_sum_ = 0;
    two_word_pairs_ = false;
    out_of_order_ = false;
  }

  // Some of the documents, in store order: where each one's header word is, so that a pass
  // over them goes straight from one to the next instead of stepping over the others.
  using Selection = std::vector<std::uint64_t>;

  // The documents at the positions i (0-based, in store order) that in_first(i) accepts, and
  // the others.
  template <class InFirst>
  std::pair<Selection, Selection> partition(InFirst&& in_first) const {
    std::pair<Selection, Selection> parts;
    std::size_t i = 0;
    for_each([&](const Document& doc) {
      (in_first(i++) ? parts.first : parts.second).push_back(offset_of(doc));
    });
    return parts;
  }

  // Every document, for passes that split the store into blocks.
  const Selection& all() const { return starts_; }

  // The number of words of the document at `offset`, header included.
  std::size_t words_at(std::uint64_t offset) const { return 1 + (words_[offset] >> 1); }

  std::uint64_t offset_of(const Document& doc) const {
    return static_cast<std::uint64_t>(doc.begin_ - 1 - words_.data());
  }

  template <class F>
  void for_each_in(const Selection& selection, F&& f) const {
    // Documents come from scattered places: ask for the ones a few steps ahead early.
    constexpr std::size_t kAhead = 8;
    const std::size_t n = selection.size();
    for (std::size_t i = 0; i < n; ++i) {
      if (i + kAhead < n) __builtin_prefetch(words_.data() + selection[i + kAhead]);
      f(at(words_.data() + selection[i]));
    }
  }

 private:
  Document at(const std::uint32_t* header) const {
    Document doc;
    doc.begin_ = header + 1;
    doc.end_ = doc.begin_ + (*header >> 1);
    doc.tag_ = *header & 1;
    doc.one_word_pairs_ = !two_word_pairs_;
    return doc;
  }

  std::vector<std::uint32_t> words_;
  // Where each document's header word is, kept as documents are added: finding them later
  // would walk the whole store one header after another, each a wait on memory.
  Selection starts_;
  std::size_t header_ = 0;
  std::size_t documents_ = 0;
  std::uint64_t count_sum_ = 0;
  bool two_word_pairs_ = false;   // set for good by a large count, also one discarded later
  std::uint32_t last_index_ = 0;  // of the document being added
  bool out_of_order_ = false;
};

}  // namespace punb
