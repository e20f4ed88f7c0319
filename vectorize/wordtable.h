#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace punb::vectorize {

// A hash table from words to values: open addressing with linear probing, the words' bytes
// kept back to back in one arena. Much lighter than a node-based map for millions of short keys.
template <class Value>
class WordTable {
 public:
  WordTable() : slots_(kInitialSlots) {}

  const Value* find(std::string_view word) const {
    const std::uint64_t h = hash(word);
    for (std::size_t i = h & mask(); slots_[i].length != 0; i = (i + 1) & mask())
      if (holds(slots_[i], h, word)) return &slots_[i].value;
    return nullptr;
  }

  // The word's value, value-initialised when the word is new.
  Value& operator[](std::string_view word) {
    const std::uint64_t h = hash(word);
    std::size_t i = h & mask();
    for (; slots_[i].length != 0; i = (i + 1) & mask())
      if (holds(slots_[i], h, word)) return slots_[i].value;
    if ((used_ + 1) * 2 > slots_.size()) {  // short probe sequences
      grow();
      return (*this)[word];
    }
    Slot& s = slots_[i];
    s.hash = h;
    s.offset = arena_.size();
    s.length = static_cast<std::uint32_t>(word.size());
    arena_.append(word);
    ++used_;
    return s.value;
  }

  std::size_t size() const { return used_; }

  template <class F>
  void for_each(F&& f) const {
    for (const Slot& s : slots_)
      if (s.length != 0) f(std::string_view(arena_).substr(s.offset, s.length), s.value);
  }

 private:
  static constexpr std::size_t kInitialSlots = 1024;

  struct Slot {
    std::uint64_t hash = 0;
    std::uint64_t offset = 0;
    std::uint32_t length = 0;  // 0: free (words are never empty)
    Value value{};
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
  static bool same_bytes(const char* a, const char* b, std::size_t n) {
    for (; n > 8; a += 8, b += 8, n -= 8)
      if (load8(a) != load8(b)) return false;
    return tail(a, n) == tail(b, n);
  }
  std::size_t mask() const { return slots_.size() - 1; }
  bool holds(const Slot& s, std::uint64_t h, std::string_view word) const {
    return s.hash == h && s.length == word.size() &&
           same_bytes(arena_.data() + s.offset, word.data(), word.size());
  }

  void grow() {
    std::vector<Slot> old(slots_.size() * 2);
    old.swap(slots_);
    for (const Slot& s : old) {
      if (s.length == 0) continue;
      std::size_t i = s.hash & mask();
      while (slots_[i].length != 0) i = (i + 1) & mask();
      slots_[i] = s;
    }
  }

  std::vector<Slot> slots_;
  std::string arena_;
  std::size_t used_ = 0;
};

}  // namespace punb::vectorize
