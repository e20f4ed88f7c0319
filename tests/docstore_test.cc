#include "docfile/docstore.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <utility>
#include <vector>

#include "nb/score.h"

namespace punb {
namespace {

using Pairs = std::vector<std::pair<std::uint32_t, std::uint32_t>>;

Pairs pairs_of(const DocStore::Document& doc) {
  Pairs p;
  doc.for_each_pair([&](std::uint32_t i, std::uint32_t c) { p.emplace_back(i, c); });
  return p;
}

void add(DocStore& store, const Pairs& pairs, bool tag = false) {
  store.begin_document();
  for (auto [i, c] : pairs)
    store.add_pair(static_cast<std::int32_t>(i), static_cast<std::int32_t>(c));
  store.end_document(tag);
}

TEST(DocStore, KeepsEveryPairAndTagIncludingLargeCounts) {
  const std::vector<Pairs> docs = {{{0, 0}, {499999, 1}},
                                   {},
                                   {{7, 8190}, {8, 8191}, {9, 8192}, {10, 2147483647}},
                                   {{3, 1}, {3, 1}}};
  DocStore store;
  for (std::size_t d = 0; d < docs.size(); ++d) add(store, docs[d], d % 2 == 1);
  ASSERT_EQ(store.size(), docs.size());
  std::size_t d = 0;
  store.for_each([&](const DocStore::Document& doc) {
    EXPECT_EQ(pairs_of(doc), docs[d]) << d;
    EXPECT_EQ(doc.tag(), d % 2 == 1) << d;
    ++d;
  });
  const auto [odd, even] = store.partition([](std::size_t i) { return i % 2 == 1; });
  ASSERT_EQ(odd.size(), 2u);
  ASSERT_EQ(even.size(), 2u);
  std::vector<Pairs> seen;
  store.for_each_in(even, [&](const DocStore::Document& doc) { seen.push_back(pairs_of(doc)); });
  EXPECT_EQ(seen, (std::vector<Pairs>{docs[0], docs[2]}));
}

// Scoring four documents side by side must give each the bits it gets alone, whatever their
// lengths, empty documents and two-word counts included.
TEST(ScoreLanes, SameBitsAsOneByOne) {
  std::mt19937 random(99);
  Model model;
  model.priors = {0.3, 0.7};
  const Vocabulary vocab{50, 49};
  VocabularyMask mask(kIndexCount);
  model.neg.assign(51, 0.0);
  model.pos.assign(51, 0.0);
  for (int i = 0; i < 50; ++i) {
    mask[static_cast<std::size_t>(i)] = 1;
    model.neg[static_cast<std::size_t>(i)] = (1.0 + random() % 100) / 3000.0;
    model.pos[static_cast<std::size_t>(i)] = (1.0 + random() % 100) / 3000.0;
  }
  const ScoreTable table(model, mask, vocab);
  DocStore store;
  for (int d = 0; d < 400; ++d) {
    Pairs p;
    const int length = random() % 5 == 0 ? 0 : static_cast<int>(random() % 40);
    for (int w = 0; w < length; ++w) {
      const std::uint32_t count = random() % 9 == 0 ? 8191 + random() % 50000 : random() % 4;
      p.emplace_back(random() % 50, count);
    }
    add(store, p);
  }
  std::vector<Posteriors> alone;
  store.for_each(
      [&](const DocStore::Document& doc) { alone.push_back(score_document(doc, table)); });
  std::size_t d = 0;
  score_documents(store, table, [&](const DocStore::Document&, const Posteriors& post) {
    EXPECT_EQ(post.pos, alone[d].pos) << d;
    EXPECT_EQ(post.neg, alone[d].neg) << d;
    ++d;
  });
  EXPECT_EQ(d, alone.size());
}

}  // namespace
}  // namespace punb
