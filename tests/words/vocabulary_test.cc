#include "words/vocabulary.h"

#include <gtest/gtest.h>

#include "docfile/fatal.h"
#include "docfile/outfile.h"
#include "test_support.h"

namespace punb::words {
namespace {

std::vector<std::string> words_in_order(const Vocabulary& v) {
  std::vector<std::string> w;
  for (std::size_t i = 0; i < v.size(); ++i) {
    EXPECT_EQ(v[i].index, i + 1);
    w.push_back(v[i].word);
  }
  return w;
}

// Seven training documents.
WordCounts counts() {
  return {{"pear", 2, 9}, {"apple", 5, 5}, {"\u00e9t\u00e9", 2, 2}, {"Zebra", 2, 3}, {"a", 7, 30},
          {"fig", 1, 1},  {"b", 6, 6}};
}

struct LimitCase {
  VocabularyLimits limits;
  std::vector<std::string> order;
  VocabularyCuts cuts;
};

TEST(Vocabulary, OrderedByDocumentFrequencyThenBytesWithinTheLimits) {
  const LimitCase cases[] = {
      {{}, {"a", "b", "apple", "Zebra", "pear", "\u00e9t\u00e9", "fig"}, {7, 0, 0, 0}},
      {{2, 1.0, kMaxIndex}, {"a", "b", "apple", "Zebra", "pear", "\u00e9t\u00e9"}, {7, 1, 0, 0}},
      {{1, 0.9, kMaxIndex}, {"b", "apple", "Zebra", "pear", "\u00e9t\u00e9", "fig"}, {7, 0, 1, 0}},
      {{1, 0.5, 3}, {"Zebra", "pear", "\u00e9t\u00e9"}, {7, 0, 3, 1}},
      {{3, 1.0, 1}, {"a"}, {7, 4, 0, 2}},
  };
  for (const LimitCase& c : cases) {
    VocabularyCuts cuts;
    const Vocabulary v = select_vocabulary(counts(), 7, c.limits, cuts);
    EXPECT_EQ(words_in_order(v), c.order);
    EXPECT_EQ(cuts.seen, c.cuts.seen);
    EXPECT_EQ(cuts.too_rare, c.cuts.too_rare);
    EXPECT_EQ(cuts.too_common, c.cuts.too_common);
    EXPECT_EQ(cuts.over_cap, c.cuts.over_cap);

    // Each counted word's index, in the order they were counted: the word of that index, or 0
    // for exactly the words left out.
    std::vector<std::uint32_t> index_of;
    const Vocabulary again = select_vocabulary(counts(), 7, c.limits, cuts, &index_of);
    EXPECT_EQ(words_in_order(again), c.order);
    const WordCounts counted = counts();
    ASSERT_EQ(index_of.size(), counted.size());
    std::size_t kept = 0;
    for (std::size_t i = 0; i < counted.size(); ++i) {
      if (index_of[i] == 0) continue;
      ++kept;
      ASSERT_LE(index_of[i], again.size());
      EXPECT_EQ(again[index_of[i] - 1].word, counted[i].word);
    }
    EXPECT_EQ(kept, c.order.size());
  }
}

TEST(Vocabulary, ReadsBackWhatItWrites) {
  const test::TempDir dir;
  VocabularyCuts cuts;
  const Vocabulary written = select_vocabulary(counts(), 7, {}, cuts);
  {
    OutFile out(dir.path("v"), "x");
    write_vocabulary(written, out);
    out.close();
  }
  EXPECT_EQ(dir.read("v").substr(0, 17), "1\t7\t30\ta\n2\t6\t6\tb\n");
  const Vocabulary read = read_vocabulary(dir.path("v"));
  ASSERT_EQ(read.size(), written.size());
  for (std::size_t i = 0; i < read.size(); ++i) {
    EXPECT_EQ(read[i].word, written[i].word);
    EXPECT_EQ(read[i].index, written[i].index);
    EXPECT_EQ(read[i].documents, written[i].documents);
    EXPECT_EQ(read[i].occurrences, written[i].occurrences);
  }
  // Edited by hand: lines in any order, gaps, a space inside a word, Windows line ends.
  dir.write("e", "9\t1\t1\tnew york\r\n2\t3\t4\tb\n");
  const Vocabulary edited = read_vocabulary(dir.path("e"));
  ASSERT_EQ(edited.size(), 2u);
  EXPECT_EQ(edited[0].word, "b");
  EXPECT_EQ(edited[1].word, "new york");
  EXPECT_EQ(edited[1].index, 9u);
}

struct BadFile {
  const char* content;
  const char* where;
};

TEST(Vocabulary, AFileThatDoesNotParseNamesItsLine) {
  const BadFile cases[] = {
      {"1\t1\t1\ta\n2\t1\t1\n", ":2: expected"},
      {"1\t1\t1\ta\tb\n", ":1: expected"},
      {"0\t1\t1\ta\n", ":1: index '0'"},
      {"500000\t1\t1\ta\n", ":1: index '500000'"},
      {"+1\t1\t1\ta\n", ":1: index '+1'"},
      {"1\tx\t1\ta\n", ":1: document frequency"},
      {"1\t1\t-1\ta\n", ":1: document frequency"},
      {"1\t1\t1\t\n", ":1: empty word"},
      {"1\t1\t1\tcaf\xc3\n", ":1: word is not valid"},
      {"1\t1\t1\ta\n1\t1\t1\tb\n", ":2: index 1 appears twice"},
      {"1\t1\t1\ta\n2\t1\t1\ta\n", ":2: word 'a' appears twice"},
      {"1\t1\t1\ta\n\n", ":2: expected"},
      {"", ": no words"},
  };
  const test::TempDir dir;
  for (const BadFile& c : cases) {
    dir.write("bad", c.content);
    const std::string path = dir.path("bad");
    try {
      read_vocabulary(path);
      ADD_FAILURE() << "accepted: " << c.content;
    } catch (const Fatal& e) {
      EXPECT_EQ(e.detail().rfind(path + c.where, 0), 0u) << e.detail();
    }
  }
  EXPECT_THROW(read_vocabulary(dir.path("missing")), Fatal);
}

}  // namespace
}  // namespace punb::words
