#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "docfile/fatal.h"
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
    if (text_bytes > 0) words_.reserve(static_cast<std::size_t>(text_bytes / 4 + 1024));
  }

  void begin_document() {
    header_ = words_.size();
    words_.push_back(0);
  }
  void add_pair(std::int32_t index, std::int32_t count) {
    auto c = static_cast<std::uint32_t>(count);
    auto i = static_cast<std::uint32_t>(index);
    if (c < kCountEscape) {
      words_.push_back(i | c << kIndexBits);
    } else {
      words_.push_back(i | kCountEscape << kIndexBits);
      words_.push_back(c);
    }
  }
  // Drops the document begun last (the reader found no line for it).
  void discard_document() { words_.resize(header_); }
  void end_document(bool tag = false) {
    std::size_t n = words_.size() - header_ - 1;
    if (n >= (std::size_t{1} << 31))
      throw Fatal("document too long", "a line holds over 2^31 pairs");
    words_[header_] = static_cast<std::uint32_t>(n << 1 | (tag ? 1 : 0));
    ++documents_;
  }

  std::size_t size() const { return documents_; }

  class Document {
   public:
    bool tag() const { return tag_; }
    bool empty() const { return begin_ == end_; }
    // Calls f(index, count) for every pair in line order.
    template <class F>
    void for_each_pair(F&& f) const {
      for (const std::uint32_t* w = begin_; w != end_; ++w) {
        std::uint32_t x = *w;
        std::uint32_t count = x >> kIndexBits;
        if (count == kCountEscape) count = *++w;
        f(x & kIndexMask, count);
      }
    }

   private:
    friend class DocStore;
    const std::uint32_t* begin_ = nullptr;
    const std::uint32_t* end_ = nullptr;
    bool tag_ = false;
  };

  // Visits the documents in the order they were added.
  template <class F>
  void for_each(F&& f) const {
    const std::uint32_t* w = words_.data();
    const std::uint32_t* end = w + words_.size();
    Document doc;
    while (w != end) {
      std::uint32_t header = *w++;
      doc.begin_ = w;
      doc.end_ = w + (header >> 1);
      doc.tag_ = header & 1;
      w = doc.end_;
      f(doc);
    }
  }

 private:
  std::vector<std::uint32_t> words_;
  std::size_t header_ = 0;
  std::size_t documents_ = 0;
};

}  // namespace punb
