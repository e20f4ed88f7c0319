#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <new>
#include <vector>

namespace punb {

// Page faults are costly on the machines this runs on (a virtual machine takes thousands of
// cycles for each): large long-lived blocks come in 2 MB pages where the system gives them. A
// refusal leaves small pages, which hold the same bytes.
inline constexpr std::size_t kHugePage = std::size_t{2} << 20;

// Has blocks of 128 kB and more mapped on their own and given back when freed, and the heap
// trimmed: glibc otherwise raises that bound after the first such block is freed, and then keeps
// the freed megabytes of one pass for the next, which a process's peak memory feels. For the
// programs that spread a run to hold less a process; it costs a single process about 5% of its
// time (fresh pages at every pass), which punb does not pay.
void keep_heap_lean();

// Asks for huge pages for the 2 MB pages that lie wholly in [begin, begin + bytes).
void ask_for_large_pages(void* begin, std::size_t bytes);

// Gives back the unused part of the huge page that holds `used_end`, up to `end` at most, in a
// block that was filled front to back up to `used_end`: a partly filled huge page costs 2 MB.
void release_unused_tail(const void* used_end, const void* end);

// Maps `bytes` (a megabyte or more) rounded up to whole huge pages, at a huge page's boundary, and
// asks for huge pages for all of it but a last page filled less than half: that one comes in
// small pages, so that its unused part costs no memory.
void* map_in_huge_pages(std::size_t bytes);

// An allocator for the large arrays that passes read at random or fill front to back (score
// tables, gathered counts, word tables): blocks of a megabyte and more are mappings of whole
// huge pages, so that a lookup rarely misses the address cache and a fill takes one fault per
// 2 MB; smaller ones come from operator new.
template <class T>
struct HugePageAllocator {
  using value_type = T;
  HugePageAllocator() = default;
  template <class U>
  HugePageAllocator(const HugePageAllocator<U>&) noexcept {}

  static std::size_t mapped(std::size_t n) {
    return (n * sizeof(T) + kHugePage - 1) / kHugePage * kHugePage;
  }
  static bool large(std::size_t n) { return n * sizeof(T) >= kHugePage / 2; }

  T* allocate(std::size_t n) {
    if (n > std::size_t(-1) / 2 / sizeof(T)) throw std::bad_array_new_length();
    if (!large(n)) return static_cast<T*>(::operator new(n * sizeof(T)));
    return static_cast<T*>(map_in_huge_pages(n * sizeof(T)));
  }
  void deallocate(T* p, std::size_t n) noexcept {
    if (large(n))
      munmap(p, mapped(n));
    else
      ::operator delete(p);
  }
  friend bool operator==(const HugePageAllocator&, const HugePageAllocator&) { return true; }
};

template <class T>
using HugePageVector = std::vector<T, HugePageAllocator<T>>;

}  // namespace punb
