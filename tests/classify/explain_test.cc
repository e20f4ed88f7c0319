// The words' weights and a document's contributions: the contributions and the priors' log ratio
// add up to the log-odds the scorer computes, and the orders and names are those --words and
// --explain promise.
#include "classify/explain.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "nb/score.h"

namespace punb::classify {
namespace {

// A model over `n` indices from `first`, every third one skipped, whose probabilities repeat
// every 7 indices, so that weights tie; every tenth kept index has a word.
SavedModel model_of(std::uint32_t first, std::uint32_t n, bool with_text) {
  SavedModel m;
  m.mode = first == 0 ? RunMode::positive_unlabeled : RunMode::naive_bayes;
  m.priors = {0.7, 0.3};
  std::mt19937_64 random(11);
  std::uniform_real_distribution<double> unit(1e-6, 1.0);
  std::vector<std::pair<double, double>> cycle;
  for (int k = 0; k < 7; ++k) cycle.emplace_back(unit(random) / 50, unit(random) / 50);
  if (with_text) m.text.emplace();
  for (std::uint32_t i = first; m.indices.size() < n; ++i) {
    if (i % 3 == 2) continue;
    m.indices.push_back(i);
    m.neg.push_back(cycle[i % 7].first);
    m.pos.push_back(cycle[i % 7].second);
    if (with_text && m.indices.size() % 10 == 0 && i > 0) {
      m.text->indices.push_back(i);
      std::string& word = m.text->words.emplace_back("w");
      word.append(std::to_string(i)).append("\u00e9");
    }
  }
  return m;
}

std::string name_of(const SavedModel& m, std::uint32_t index) {
  if (m.text) {
    for (std::size_t k = 0; k < m.text->indices.size(); ++k)
      if (m.text->indices[k] == index) return m.text->words[k];
  }
  return std::to_string(index);
}

TEST(WordWeights, ContributionsAndThePriorsAddUpToTheScorersLogOdds) {
  for (const std::uint32_t first : {0u, 1u}) {
    SCOPED_TRACE(first);
    const SavedModel m = model_of(first, 300, false);
    const Classifier classifier(m);
    WordWeights weights(m, classifier);
    std::map<std::uint32_t, double> r;
    for (std::size_t k = 0; k < m.indices.size(); ++k)
      r[m.indices[k]] = std::log(m.pos[k]) - std::log(m.neg[k]);
    std::mt19937_64 random(first + 3);
    DocStore docs;
    std::vector<std::map<std::uint32_t, std::uint64_t>> totals;
    for (int d = 0; d < 60; ++d) {
      docs.begin_document();
      auto& total = totals.emplace_back();
      const int pairs = d % 20 == 0 ? 0 : static_cast<int>(random() % 40) + 1;
      for (int k = 0; k < pairs; ++k) {
        // Repeated indices, counts of 0 and a few large counts (two words in the store).
        const std::uint32_t index = m.indices[random() % 40];
        const auto count = static_cast<std::int32_t>(k % 13 == 5 ? 100000 : random() % 4);
        docs.add_pair(static_cast<std::int32_t>(index), count);
        if (count > 0) total[index] += static_cast<std::uint64_t>(count);
      }
      docs.end_document();
    }
    std::size_t d = 0;
    docs.for_each([&](const DocStore::Document& doc) {
      const std::vector<Contribution> c = weights.contributions(doc);
      ASSERT_EQ(c.size(), totals[d].size());
      double sum = weights.prior_log_ratio();
      for (std::size_t k = 0; k < c.size(); ++k) {
        ASSERT_EQ(totals[d].count(c[k].index), 1u);
        EXPECT_EQ(c[k].value, static_cast<double>(totals[d][c[k].index]) * r[c[k].index]);
        if (k > 0) {
          const double before = std::fabs(c[k - 1].value);
          const double now = std::fabs(c[k].value);
          EXPECT_TRUE(before > now || (before == now && c[k - 1].index < c[k].index));
        }
        sum += c[k].value;
      }
      // The scorer shifts both class scores after every word; its difference is the log-odds.
      ClassScores scores(classifier.table());
      doc.for_each_pair([&](std::uint32_t index, std::uint32_t count) {
        scores.add_word(count, classifier.table().ln_words(index));
      });
      const Posteriors p = scores.posteriors();
      const double log_odds = std::log(p.pos) - std::log(p.neg);
      EXPECT_NEAR(sum, log_odds, 1e-9 * std::max(1.0, std::fabs(log_odds)));
      ++d;
    });
  }
}

// The lines of --words, from the model's probabilities: the K highest weights, then the K lowest
// of the others, ties by increasing index.
std::string expected_lines(const SavedModel& m, std::uint64_t k) {
  std::vector<std::pair<double, std::uint32_t>> all;
  for (std::size_t j = 0; j < m.indices.size(); ++j)
    all.emplace_back(std::log(m.pos[j]) - std::log(m.neg[j]), m.indices[j]);
  std::stable_sort(all.begin(), all.end(), [](auto& a, auto& b) { return a.first > b.first; });
  const std::size_t top = std::min<std::size_t>(k, all.size());
  std::stable_sort(all.begin() + static_cast<std::ptrdiff_t>(top), all.end(),
                   [](auto& a, auto& b) { return a.first < b.first; });
  const std::size_t bottom = std::min<std::size_t>(k, all.size() - top);
  std::string out;
  for (std::size_t j = 0; j < top + bottom; ++j) {
    char weight[32];
    std::snprintf(weight, sizeof weight, "%+.6f", all[j].first);
    out += std::string(weight) + "\t" + name_of(m, all[j].second) + "\n";
  }
  return out;
}

TEST(WordWeights, StrongestLinesInBothDirectionsWithTiesByIndex) {
  struct Case {
    std::uint32_t first;
    std::uint32_t words;
    bool with_text;
    std::uint64_t k;
    std::size_t lines;
  };
  const Case cases[] = {
      {1, 40, false, 1, 2},  {1, 40, true, 5, 10}, {0, 40, true, 20, 40}, {0, 40, false, 25, 40},
      {1, 3, true, 1000, 3}, {1, 1, false, 2, 1},  {1, 0, false, 3, 0},   {0, 300, true, 7, 14},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.first << " " << c.words << " " << c.k);
    const SavedModel m = model_of(c.first, c.words, c.with_text);
    const Classifier classifier(m);
    const WordWeights weights(m, classifier);
    const std::string lines = weights.strongest_lines(c.k);
    EXPECT_EQ(lines, expected_lines(m, c.k));
    EXPECT_EQ(static_cast<std::size_t>(std::count(lines.begin(), lines.end(), '\n')), c.lines);
  }
  // Weights repeat every 7 indices, so ties are met: the first lines name the same weight.
  const SavedModel m = model_of(1, 40, false);
  const Classifier classifier(m);
  const std::string lines = WordWeights(m, classifier).strongest_lines(3);
  EXPECT_EQ(lines.substr(0, 10), lines.substr(lines.find('\n') + 1, 10)) << lines;
}

}  // namespace
}  // namespace punb::classify
