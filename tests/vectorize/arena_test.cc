#include "vectorize/arena.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace punb::vectorize {
namespace {

struct FillCase {
  std::size_t capacity;
  std::size_t pushes;
  std::size_t kept;  // size after the pushes
  bool overflowed;
};

// Values pushed within the capacity are kept in order; a push past it is refused and
// remembered; moving hands over values, size and the refusal, and leaves an empty array.
TEST(FillArray, KeepsWhatFitsAndRemembersWhatDidNot) {
  const FillCase cases[] = {
      {0, 0, 0, false},
      {0, 1, 0, true},
      {4, 4, 4, false},
      {4, 5, 4, true},
      {std::size_t{1} << 20, 300000, 300000, false},  // past one huge page
  };
  for (const FillCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.capacity) + " " + std::to_string(c.pushes));
    FillArray<std::uint64_t> a(c.capacity);
    for (std::size_t i = 0; i < c.pushes; ++i) a.push_back(i * 7 + 1);
    EXPECT_EQ(a.size(), c.kept);
    EXPECT_EQ(a.overflowed(), c.overflowed);
    FillArray<std::uint64_t> moved(std::move(a));
    EXPECT_EQ(a.size(), 0u);
    EXPECT_FALSE(a.overflowed());
    FillArray<std::uint64_t> assigned(2);
    assigned.push_back(5);
    assigned = std::move(moved);
    EXPECT_EQ(moved.size(), 0u);
    EXPECT_FALSE(moved.overflowed());
    ASSERT_EQ(assigned.size(), c.kept);
    EXPECT_EQ(assigned.overflowed(), c.overflowed);
    for (std::size_t i = 0; i < c.kept; ++i) ASSERT_EQ(assigned.data()[i], i * 7 + 1) << i;
    if (c.kept > 0) {
      assigned[c.kept - 1] = 3;
      EXPECT_EQ(assigned.data()[c.kept - 1], 3u);
    }
  }
}

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
