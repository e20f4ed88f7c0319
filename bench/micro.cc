// Micro-benchmarks of the inner loops: the line parser (per pair), the scorer (per counted word,
// one document at a time and in lanes) and the gathering of weighted counts (per counted word).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "docfile/docstore.h"
#include "docfile/parse.h"
#include "docfile/workpool.h"
#include "nb/model.h"
#include "nb/score.h"
#include "spystep/spystep.h"

namespace {

constexpr int kWords = 100;
constexpr std::uint32_t kVocabulary = 100000;

// A line of kWords pairs like the generated corpora's: ascending indices, small counts.
std::string sample_line(std::mt19937& random) {
  std::vector<std::uint32_t> indices(kWords);
  for (auto& i : indices) i = 1 + random() % kVocabulary;
  std::sort(indices.begin(), indices.end());
  std::string line;
  for (std::uint32_t i : indices) {
    line += std::to_string(i) + ":" + std::to_string(1 + random() % 3) + " ";
  }
  line.back() = '\n';
  return line;
}

void BM_ParseLine(benchmark::State& state) {
  std::mt19937 random(1);
  std::vector<std::string> lines;
  for (int i = 0; i < 256; ++i)
    lines.push_back(sample_line(random) + std::string(punb::kLineSlack, 0));
  std::int64_t pairs = 0;
  std::size_t next = 0;
  for (auto _ : state) {
    std::string& line = lines[next++ % lines.size()];
    std::int64_t sum = 0;
    punb::parse_document_line(
        line.data(), line.size() - punb::kLineSlack, false,
        [&](std::int32_t index, std::int32_t count) { sum += index + count; });
    benchmark::DoNotOptimize(sum);
    pairs += kWords;
  }
  state.counters["ns/pair"] = benchmark::Counter(
      static_cast<double>(pairs), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_ParseLine);

struct ScoringFixture {
  punb::Model model;
  punb::VocabularyMask mask{punb::kIndexCount};
  punb::Vocabulary vocab{kVocabulary, static_cast<std::int32_t>(kVocabulary)};
  punb::DocStore docs;
  std::int64_t words = 0;

  // `varied`: documents of 40 to 240 pairs in increasing index order, as a corpus's are, and
  // more of them than the processor's caches hold; else 2000 of 100 pairs in random order.
  explicit ScoringFixture(bool varied = false) {
    std::mt19937 random(2);
    model.priors = {0.6, 0.4};
    model.neg.assign(kVocabulary + 2, 0.0);
    model.pos.assign(kVocabulary + 2, 0.0);
    for (std::uint32_t i = 1; i <= kVocabulary; ++i) {
      mask[i] = 1;
      model.neg[i] = (1.0 + random() % 1000) / 5e7;
      model.pos[i] = (1.0 + random() % 1000) / 5e7;
    }
    const int documents = varied ? 50000 : 2000;
    std::vector<std::int32_t> indices;
    for (int d = 0; d < documents; ++d) {
      const int pairs = varied ? 40 + static_cast<int>(random() % 201) : kWords;
      indices.clear();
      for (int w = 0; w < pairs; ++w)
        indices.push_back(static_cast<std::int32_t>(1 + random() % kVocabulary));
      if (varied) std::sort(indices.begin(), indices.end());
      docs.begin_document();
      for (std::int32_t index : indices)
        docs.add_pair(index, static_cast<std::int32_t>(1 + random() % 3));
      docs.end_document();
      words += pairs;
    }
  }
};

void BM_ScoreOneByOne(benchmark::State& state) {
  static const ScoringFixture f;
  const punb::ScoreTable table(f.model, f.mask, f.vocab);
  std::int64_t words = 0;
  for (auto _ : state) {
    f.docs.for_each([&](const punb::DocStore::Document& doc) {
      benchmark::DoNotOptimize(punb::score_document(doc, table));
    });
    words += f.words;
  }
  state.counters["ns/word"] = benchmark::Counter(
      static_cast<double>(words), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_ScoreOneByOne);

void score_in_lanes(benchmark::State& state, const ScoringFixture& f) {
  const punb::ScoreTable table(f.model, f.mask, f.vocab);
  std::int64_t words = 0;
  for (auto _ : state) {
    punb::score_documents(f.docs, f.docs.all(), table,
                          [&](const punb::DocStore::Document&, const punb::Posteriors& post) {
                            benchmark::DoNotOptimize(post);
                          });
    words += f.words;
  }
  state.counters["ns/word"] = benchmark::Counter(
      static_cast<double>(words), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_ScoreInLanes(benchmark::State& state) {
  static const ScoringFixture f;
  score_in_lanes(state, f);
}
BENCHMARK(BM_ScoreInLanes);

// Documents of many lengths, their pairs in index order, from memory: lanes end at different
// steps and take documents the processor has not read yet.
void BM_ScoreInLanesVaried(benchmark::State& state) {
  static const ScoringFixture f(true);
  score_in_lanes(state, f);
}
BENCHMARK(BM_ScoreInLanesVaried);

void BM_Gather(benchmark::State& state) {
  static const ScoringFixture f;
  punb::WeightedCounts counts(f.vocab);
  std::vector<punb::Posteriors> post;
  std::mt19937 random(3);
  f.docs.for_each([&](const punb::DocStore::Document&) {
    const double p = (1.0 + random() % 1000) / 1001.0;
    post.push_back({1.0 - p, p});
  });
  std::int64_t words = 0;
  for (auto _ : state) {
    std::size_t j = 0;
    f.docs.for_each([&](const punb::DocStore::Document& doc) { counts.gather(doc, post[j++]); });
    benchmark::DoNotOptimize(counts.cells.data());
    words += f.words;
  }
  state.counters["ns/word"] = benchmark::Counter(
      static_cast<double>(words), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_Gather);

// One thread's expectation step: each document scored and its weighted counts gathered at once.
void BM_ScoreAndGatherVaried(benchmark::State& state) {
  static const ScoringFixture f(true);
  const punb::ScoreTable table(f.model, f.mask, f.vocab);
  punb::WeightedCounts counts(f.vocab);
  punb::WorkerPool pool(1);
  const punb::GatherRanges ranges;
  std::vector<punb::Posteriors> post;
  std::int64_t words = 0;
  for (auto _ : state) {
    counts.score_and_gather(f.docs, f.docs.all(), table, ranges, pool, post);
    benchmark::DoNotOptimize(counts.cells.data());
    words += f.words;
  }
  state.counters["ns/word"] = benchmark::Counter(
      static_cast<double>(words), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_ScoreAndGatherVaried);

}  // namespace

BENCHMARK_MAIN();
