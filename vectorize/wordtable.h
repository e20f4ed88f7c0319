#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
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
    if ((used_ + 1) * 4 > slots_.size() * 3) {
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

  static std::uint64_t hash(std::string_view word) { return std::hash<std::string_view>{}(word); }
  std::size_t mask() const { return slots_.size() - 1; }
  bool holds(const Slot& s, std::uint64_t h, std::string_view word) const {
    return s.hash == h && s.length == word.size() &&
           std::memcmp(arena_.data() + s.offset, word.data(), word.size()) == 0;
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
