#include "vectorize/arena.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace punb::vectorize {
namespace {

// Growing through small blocks into mapped ones and back keeps every value (a block given back
// the wrong way would also fail under the sanitizers).
TEST(HugePageAllocator, VectorsKeepTheirValuesAcrossBlockSizes) {
  for (const std::size_t n : {std::size_t{10}, std::size_t{1} << 17, std::size_t{3} << 20}) {
    std::vector<std::uint32_t, HugePageAllocator<std::uint32_t>> v;
    for (std::size_t i = 0; i < n; ++i) v.push_back(static_cast<std::uint32_t>(i ^ 0x5a5a));
    std::vector<std::uint32_t, HugePageAllocator<std::uint32_t>> copy = v;
    v.resize(n / 3);
    v.shrink_to_fit();
    for (std::size_t i = 0; i < n; ++i) ASSERT_EQ(copy[i], static_cast<std::uint32_t>(i ^ 0x5a5a));
    for (std::size_t i = 0; i < n / 3; ++i) ASSERT_EQ(v[i], static_cast<std::uint32_t>(i ^ 0x5a5a));
  }
}

}  // namespace
}  // namespace punb::vectorize
