#include "docfile/large_pages.h"

#include <malloc.h>

#include <algorithm>
#include <cstdint>

namespace punb {

void ask_for_large_pages(void* begin, std::size_t bytes) {
  const auto first = reinterpret_cast<std::uintptr_t>(begin);
  const std::uintptr_t start = (first + kHugePage - 1) & ~(kHugePage - 1);
  const std::uintptr_t end = (first + bytes) & ~(kHugePage - 1);
  if (end > start) madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
}

void release_unused_tail(const void* used_end, const void* end) {
  constexpr std::uintptr_t kPage = 4096;
  const auto from = (reinterpret_cast<std::uintptr_t>(used_end) + kPage - 1) & ~(kPage - 1);
  const std::uintptr_t huge_end = (from + kHugePage - 1) & ~(kHugePage - 1);
  const std::uintptr_t to =
      std::min(huge_end, reinterpret_cast<std::uintptr_t>(end) & ~(kPage - 1));
  if (to > from) madvise(reinterpret_cast<void*>(from), to - from, MADV_DONTNEED);
}

void* map_in_huge_pages(std::size_t bytes) {
  const std::size_t size = (bytes + kHugePage - 1) / kHugePage * kHugePage;
  // Mapped a huge page longer, then cut to a boundary: a fault then fills a whole huge page.
  void* p =
      mmap(nullptr, size + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) throw std::bad_alloc();
  const auto first = reinterpret_cast<std::uintptr_t>(p);
  const std::uintptr_t start = (first + kHugePage - 1) & ~(kHugePage - 1);
  if (start > first) munmap(p, start - first);
  munmap(reinterpret_cast<void*>(start + size), first + kHugePage - start);
  auto* begin = reinterpret_cast<char*>(start);
  const std::size_t tail = bytes % kHugePage;
  const std::size_t huge = tail == 0 || tail >= kHugePage / 2 ? size : size - kHugePage;
  if (huge > 0) madvise(begin, huge, MADV_HUGEPAGE);
  if (huge < size) madvise(begin + huge, size - huge, MADV_NOHUGEPAGE);
  return begin;
}

void keep_heap_lean() {
  constexpr int kBound = 128 << 10;
  mallopt(M_MMAP_THRESHOLD, kBound);
  mallopt(M_TRIM_THRESHOLD, kBound);
}

}  // namespace punb
