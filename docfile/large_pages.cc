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

void keep_heap_lean() {
  constexpr int kBound = 128 << 10;
  mallopt(M_MMAP_THRESHOLD, kBound);
  mallopt(M_TRIM_THRESHOLD, kBound);
}

}  // namespace punb
