#include "words/wordtable.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace punb::words {
namespace {

// Through many growths: every word keeps its one value, and a listing holds each word once,
// in the order the words came in.
TEST(WordTable, KeepsEveryWordOnceThroughGrowth) {
  WordTable<std::uint32_t> table;
  std::vector<std::string> words;
  for (int i = 0; i < 20000; ++i) {
    words.push_back(std::string(static_cast<std::size_t>(1 + i % 23), 'a' + i % 26) +
                    std::to_string(i));
    table[words.back()] = static_cast<std::uint32_t>(i + 1);
  }
  words.push_back("");  // never inserted
  ASSERT_EQ(table.size(), words.size() - 1);
  for (std::size_t i = 0; i + 1 < words.size(); ++i) {
    ASSERT_NE(table.find(words[i]), nullptr) << words[i];
    EXPECT_EQ(*table.find(words[i]), i + 1);
    ++table[words[i]];
  }
  EXPECT_EQ(table.find("absent"), nullptr);
  EXPECT_EQ(table.find(words.front().substr(1)), nullptr);
  std::size_t n = 0;
  table.for_each([&](std::string_view w, std::uint32_t v) {
    EXPECT_EQ(w, words[n]);
    EXPECT_EQ(v, n + 2);
    ++n;
  });
  EXPECT_EQ(n, table.size());
}

}  // namespace
}  // namespace punb::words
