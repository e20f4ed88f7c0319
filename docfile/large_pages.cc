#include "docfile/large_pages.h"

#include <sys/mman.h>

#include <cstdint>

namespace punb {

void ask_for_large_pages(void* begin, std::size_t bytes) {
  // Only the whole large pages inside the block can be asked for. A refusal (no such pages on
  // this system) leaves small pages, which hold the same bytes.
  constexpr std::uintptr_t kLargePage = std::uintptr_t{2} << 20;
  const auto first = reinterpret_cast<std::uintptr_t>(begin);
  const std::uintptr_t start = (first + kLargePage - 1) & ~(kLargePage - 1);
  const std::uintptr_t end = (first + bytes) & ~(kLargePage - 1);
  if (end > start) madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
}

}  // namespace punb
