#pragma once

#include <cstddef>
#include <new>
#include <vector>

namespace punb {

// Asks the system to back the 2 MB pages that lie wholly in [begin, begin + bytes) with large
// pages where it can.
void ask_for_large_pages(void* begin, std::size_t bytes);

// An allocator for the large arrays that passes read at random or fill from front to back
// (stored documents, score tables, gathered counts): in 2 MB pages, a table lookup rarely
// misses the address cache and a fill takes one fault per 2 MB instead of one per 4 kB. Small
// blocks come from the ordinary heap. The values are the same either way.
template <class T>
struct LargePageAllocator {
  using value_type = T;
  static constexpr std::size_t kLargePage = std::size_t{2} << 20;
  static constexpr std::size_t kLargeBlock = kLargePage / 2;

  LargePageAllocator() = default;
  template <class U>
  LargePageAllocator(const LargePageAllocator<U>&) {}

  T* allocate(std::size_t n) {
    const std::size_t bytes = n * sizeof(T);
    if (bytes < kLargeBlock) return static_cast<T*>(::operator new(bytes));
    const std::size_t rounded = (bytes + kLargePage - 1) / kLargePage * kLargePage;
    void* p = ::operator new (rounded, std::align_val_t{kLargePage});
    ask_for_large_pages(p, rounded);
    return static_cast<T*>(p);
  }
  void deallocate(T* p, std::size_t n) {
    if (n * sizeof(T) < kLargeBlock) {
      ::operator delete(p);
    } else {
      ::operator delete (p, std::align_val_t{kLargePage});
    }
  }
  template <class U>
  bool operator==(const LargePageAllocator<U>&) const {
    return true;
  }
};

template <class T>
using LargePageVector = std::vector<T, LargePageAllocator<T>>;

}  // namespace punb
