// The scorer that keeps several documents in flight against the one that scores a document at a
// time: the same bits for every document, whatever the lengths, large counts and batch sizes.
#include "nb/score.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

namespace punb {
namespace {

struct StoreShape {
  const char* name;
  std::size_t documents;
  int longest;           // words per document, 0 .. longest
  double empty_share;    // documents without words
  double large_share;    // pairs whose count takes a second word
  std::int32_t indices;  // 1 .. indices
};

const StoreShape kShapes[] = {
    {"one_document", 1, 40, 0.0, 0.0, 50},
    {"fewer_than_the_lanes", 5, 30, 0.0, 0.0, 50},
    {"uneven_lengths", 700, 300, 0.1, 0.0, 5000},
    {"large_counts", 600, 120, 0.05, 0.02, 3000},
    {"a_large_count_in_every_document", 300, 9, 0.0, 0.5, 20},
    {"mostly_empty", 400, 3, 0.7, 0.1, 10},
    {"one_long_among_short", 520, 2, 0.0, 0.0, 100},
};

DocStore make_store(const StoreShape& shape, std::mt19937& random) {
  DocStore docs;
  std::uniform_real_distribution<double> share(0.0, 1.0);
  for (std::size_t d = 0; d < shape.documents; ++d) {
    docs.begin_document();
    int words = share(random) < shape.empty_share
                    ? 0
                    : static_cast<int>(random() % static_cast<unsigned>(shape.longest + 1));
    if (shape.longest == 2 && d == shape.documents / 2) words = 5000;  // one lane runs long
    for (int w = 0; w < words; ++w) {
      const auto index = static_cast<std::int32_t>(random() % static_cast<unsigned>(shape.indices));
      const std::int32_t count = share(random) < shape.large_share
                                     ? static_cast<std::int32_t>(8191 + random() % 100000)
                                     : static_cast<std::int32_t>(random() % 4);
      docs.add_pair(index, count);
    }
    docs.end_document();
  }
  return docs;
}

// Word probabilities that keep the two classes close, so that the shifts stay small and every
// digit of the posteriors matters.
Model make_model(std::int32_t indices, std::mt19937& random) {
  Model model;
  model.priors = {0.55, 0.45};
  model.neg.assign(static_cast<std::size_t>(indices) + 2, 0.0);
  model.pos.assign(static_cast<std::size_t>(indices) + 2, 0.0);
  for (std::int32_t i = 0; i <= indices; ++i) {
    model.neg[static_cast<std::size_t>(i)] = (1.0 + random() % 997) / 1e6;
    model.pos[static_cast<std::size_t>(i)] = (1.0 + random() % 991) / 1e6;
  }
  return model;
}

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST(ScoreInLanes, SameBitsAsOneAtATime) {
  for (const StoreShape& shape : kShapes) {
    SCOPED_TRACE(shape.name);
    std::mt19937 random(7);
    const DocStore docs = make_store(shape, random);
    const Model model = make_model(shape.indices, random);
    VocabularyMask mask(kIndexCount);
    for (std::int32_t i = 0; i <= shape.indices; ++i) mask[static_cast<std::size_t>(i)] = 1;
    const ScoreTable table(model, mask, {shape.indices + 1, shape.indices});

    std::vector<Posteriors> expected;
    docs.for_each(
        [&](const DocStore::Document& doc) { expected.push_back(score_document(doc, table)); });
    ASSERT_EQ(expected.size(), shape.documents);
    const DocStore::Selection every = docs.all();
    std::size_t j = 0;
    score_documents(docs, table, [&](const DocStore::Document& doc, const Posteriors& p) {
      ASSERT_LT(j, expected.size());
      EXPECT_EQ(doc.words_begin(), docs.document_at(every[j]).words_begin()) << j;
      EXPECT_TRUE(same_bits(p.neg, expected[j].neg) && same_bits(p.pos, expected[j].pos))
          << "document " << j << ": " << p.pos << " against " << expected[j].pos;
      ++j;
    });
    EXPECT_EQ(j, expected.size());

    // A selection takes the same path: every other document, in order.
    DocStore::Selection odd;
    for (std::size_t k = 1; k < every.size(); k += 2) odd.push_back(every[k]);
    j = 1;
    score_documents(docs, odd, table, [&](const DocStore::Document&, const Posteriors& p) {
      EXPECT_TRUE(same_bits(p.pos, expected[j].pos)) << "selected document " << j;
      j += 2;
    });
  }
}

// Documents of one store are scored in batches; the posteriors must not depend on where a
// batch starts, so a store is scored whole and in every split of two.
TEST(ScoreBatch, SplitsDoNotMatter) {
  std::mt19937 random(11);
  const StoreShape shape = {"split", 40, 60, 0.1, 0.05, 200};
  const DocStore docs = make_store(shape, random);
  const Model model = make_model(shape.indices, random);
  VocabularyMask mask(kIndexCount);
  for (std::int32_t i = 0; i <= shape.indices; ++i) mask[static_cast<std::size_t>(i)] = 1;
  const ScoreTable table(model, mask, {shape.indices + 1, shape.indices});
  std::vector<DocStore::Document> list;
  docs.for_each([&](const DocStore::Document& doc) { list.push_back(doc); });
  std::vector<Posteriors> whole(list.size());
  score_batch(list.data(), list.size(), table, whole.data());
  for (std::size_t cut = 0; cut <= list.size(); ++cut) {
    std::vector<Posteriors> parts(list.size());
    score_batch(list.data(), cut, table, parts.data());
    score_batch(list.data() + cut, list.size() - cut, table, parts.data() + cut);
    for (std::size_t k = 0; k < list.size(); ++k) {
      ASSERT_TRUE(same_bits(parts[k].pos, whole[k].pos) && same_bits(parts[k].neg, whole[k].neg))
          << "cut " << cut << ", document " << k;
    }
  }
}

}  // namespace
}  // namespace punb
