#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "docfile/large_pages.h"

namespace punb::words {

// A hash table from words to values, built for millions of short keys and lookups that mostly
// find the same few thousand: a compact array of 8-byte slots (part of the hash and an entry
// number) over entries kept in insertion order, the words' bytes back to back in one arena.
// The slots of the common words and their entries, early in both arrays, stay in cache.
template <class Value>
class WordTable {
 public:
  WordTable() : slots_(kInitialSlots) {}

  const Value* find(std::string_view word) const { return find(word, hash(word)); }
  Value& operator[](std::string_view word) { return at(word, hash(word)); }

  // The same with the word's hash(), for callers that prefetch().
  const Value* find(std::string_view word, std::uint64_t h) const {
    const auto tag = static_cast<std::uint32_t>(h >> 32);
    for (std::size_t i = h & mask(); slots_[i].entry != 0; i = (i + 1) & mask())
      if (slots_[i].tag == tag && holds(entries_[slots_[i].entry - 1], word))
        return &entries_[slots_[i].entry - 1].value;
    return nullptr;
  }
  Value& at(std::string_view word, std::uint64_t h) { return entries_[number(word, h)].value; }

  // The word's entry number (0, 1, ... in the order the words came in), added if new.
  std::uint32_t number(std::string_view word, std::uint64_t h) {
    const auto tag = static_cast<std::uint32_t>(h >> 32);
    std::size_t i = h & mask();
    for (; slots_[i].entry != 0; i = (i + 1) & mask())
      if (slots_[i].tag == tag && holds(entries_[slots_[i].entry - 1], word))
        return slots_[i].entry - 1;
    if ((entries_.size() + 1) * 2 > slots_.size()) {
      grow();
      return number(word, h);
    }
    entries_.push_back({arena_.size(), static_cast<std::uint32_t>(word.size()), Value{}});
    arena_.append(word);
    slots_[i] = {tag, static_cast<std::uint32_t>(entries_.size())};
    return static_cast<std::uint32_t>(entries_.size() - 1);
  }
  Value& value(std::uint32_t number) { return entries_[number].value; }
  const Value& value(std::uint32_t number) const { return entries_[number].value; }

  // Starts loading the slot a word of this hash is looked up in; with the slot at hand, the
  // entry it names.
  void prefetch(std::uint64_t h) const { __builtin_prefetch(&slots_[h & mask()]); }
  void prefetch_entry(std::uint64_t h) const {
    const Slot& s = slots_[h & mask()];
    if (s.entry != 0) __builtin_prefetch(&entries_[s.entry - 1]);
  }

  std::size_t size() const { return entries_.size(); }

  static std::uint64_t hash(std::string_view word) {
    const char* p = word.data();
    std::size_t n = word.size();
    std::uint64_t h = 0x9e3779b97f4a7c15ull ^ n;
    for (; n > 8; p += 8, n -= 8) h = mix(h, load8(p));
    h = mix(h, tail(p, n));
    h ^= h >> 29;
    h *= 0xc4ceb9fe1a85ec53ull;
    return h ^ (h >> 32);
  }

  // In the order the words came in.
  template <class F>
  void for_each(F&& f) const {
    for (const Entry& e : entries_) f(std::string_view(arena_).substr(e.offset, e.length), e.value);
  }

 private:
  static constexpr std::size_t kInitialSlots = 1024;

  struct Slot {
    std::uint32_t tag = 0;
    std::uint32_t entry = 0;  // 1 + its index in entries_; 0: free
  };
  struct Entry {
    std::uint64_t offset;
    std::uint32_t length;
    Value value;
  };

  static std::uint64_t load8(const char* p) {
    std::uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
  }
  static std::uint32_t load4(const char* p) {
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
  }
  // The last up to 8 bytes of a word, read without a call: words are mostly short.
  static std::uint64_t tail(const char* p, std::size_t n) {
    if (n >= 4) return load4(p) | std::uint64_t{load4(p + n - 4)} << 32;
    if (n == 0) return 0;
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    return u[0] | std::uint64_t{u[n / 2]} << 8 | std::uint64_t{u[n - 1]} << 16;  // all of 1-3 bytes
  }
  static std::uint64_t mix(std::uint64_t h, std::uint64_t v) {
    h = (h ^ v) * 0xff51afd7ed558ccdull;
    return h ^ (h >> 32);
  }
  static bool same_bytes(const char* a, const char* b, std::size_t n) {
    for (; n > 8; a += 8, b += 8, n -= 8)
      if (load8(a) != load8(b)) return false;
    return tail(a, n) == tail(b, n);
  }
  std::size_t mask() const { return slots_.size() - 1; }
  bool holds(const Entry& e, std::string_view word) const {
    return e.length == word.size() &&
           same_bytes(arena_.data() + e.offset, word.data(), word.size());
  }

  void grow() {
    decltype(slots_) larger(slots_.size() * 2);
    slots_.swap(larger);
    for (std::uint32_t n = 1; n <= entries_.size(); ++n) {
      const Entry& e = entries_[n - 1];
      const std::uint64_t h = hash(std::string_view(arena_).substr(e.offset, e.length));
      std::size_t i = h & mask();
      while (slots_[i].entry != 0) i = (i + 1) & mask();
      slots_[i] = {static_cast<std::uint32_t>(h >> 32), n};
    }
  }

  std::vector<Slot, HugePageAllocator<Slot>> slots_;
  std::vector<Entry, HugePageAllocator<Entry>> entries_;
  std::basic_string<char, std::char_traits<char>, HugePageAllocator<char>> arena_;
};

}  // namespace punb::words
