// Runs from documents in memory, handed over a few at a time: what only they can reach. (That
// they keep the command line's models bit for bit, the Python package's tests compare.)
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "docfile/docset.h"
#include "docfile/reader.h"
#include "finalem/purun.h"
#include "nb/modelfile.h"
#include "nb/nbrun.h"
#include "test_support.h"

namespace punb {
namespace {

using test::TempDir;

// The documents of a training file, as the Python package hands them over: parsed, every pair of
// an index of 0 or more kept, `per_block` documents at a time.
DocumentSet in_blocks(const std::string& path, std::size_t per_block) {
  auto docs = std::make_shared<std::vector<std::vector<std::pair<int, int>>>>();
  DocumentParser parser(path, "can not read", false);
  std::vector<std::pair<int, int>> pairs;
  while (parser.next([&](int index, int count) { pairs.emplace_back(index, count); })) {
    docs->push_back(pairs);
    pairs.clear();
  }
  auto next = std::make_shared<std::size_t>(0);
  return DocumentSet::blocks(
      [=](DocStore& block) {
        if (*next == docs->size()) return false;
        for (std::size_t k = 0; k < per_block && *next < docs->size(); ++k) {
          block.begin_document();
          for (const auto& [index, count] : (*docs)[(*next)++]) block.add_pair(index, count);
          block.end_document();
        }
        return true;
      },
      path);
}

// Past 2^53, whole counts no longer add up exactly in any order: blocks whose counts take the
// total past it are counted in document order, so three threads keep the bits of one.
TEST(MemoryRun, CountsPast2Pow53AddUpInDocumentOrder) {
  auto run = [](unsigned threads) {
    int line = 0;
    DocumentSet unlabeled = DocumentSet::blocks(
        [&](DocStore& block) {
          for (int end = line + 400; line < end && line < 6200; ++line) {
            block.begin_document();
            for (int k = 0; k < 1000; ++k)
              block.add_pair(k < 840 ? 1 : 2, 2147483647 - k * 3 - line);
            block.add_pair(3 + line % 7, 1);
            block.end_document();
          }
          return block.documents() > 0;
        },
        "unlabeled");
    int positive = 0;
    DocumentSet positives = DocumentSet::blocks(
        [&](DocStore& block) {
          if (positive++ > 0) return false;
          for (int k = 0; k < 40; ++k) {
            block.begin_document();
            block.add_pair(1, 3);
            block.add_pair(2, 1 + k % 4);
            block.add_pair(5, 4);
            block.end_document();
          }
          return true;
        },
        "positive");
    TrainingSets sets{std::move(positives), std::move(unlabeled)};
    WorkerPool pool(threads);
    SoloPeers alone;
    return format_model_file(naive_bayes_mode_run(0.1, sets, nullptr, pool, alone));
  };
  EXPECT_EQ(run(3), run(1));
}

// The command line reads 0 as the default, so these values reach positive-unlabeled mode only
// from the Python package, which takes them as they are: the runs finish, alike at one and at
// three threads (and clean under the sanitizers, which run this suite too).
struct LiteralCase {
  const char* name;
  double threshold_rate;
  double spy_fraction;
  std::int32_t iterations;
};

TEST(MemoryRun, OptionsOnlyThePythonPackageGivesRunAlike) {
  TempDir dir;
  test::generate_corpus(dir, "c",
                        "--pos 90 --unlabel 300 --test 20 --vocab 800 --words 14 --seed 6");
  const LiteralCase cases[] = {{"no iteration", 0.1, 0.15, 0},
                               {"no spy", 0.1, 0.0, 2},
                               {"threshold rate 0", 0.0, 0.15, 2},
                               {"threshold rate 1", 1.0, 0.15, 2}};
  for (const LiteralCase& c : cases) {
    auto run = [&](unsigned threads) {
      WorkerPool pool(threads);
      SoloPeers alone;
      TrainingSets sets{in_blocks(dir.path("c.pos"), 7), in_blocks(dir.path("c.unlabel"), 7)};
      return positive_unlabeled_mode_run(c.threshold_rate, 0.1, c.spy_fraction, 1, sets, nullptr,
                                         true, c.iterations, pool, alone);
    };
    const SavedModel one = run(1);
    EXPECT_EQ(one.sequence.size(), static_cast<std::size_t>(c.iterations) + 1) << c.name;
    EXPECT_EQ(one.spies, c.spy_fraction == 0.0 ? 0 : 13) << c.name;
    EXPECT_GT(one.reliable_negatives, 0) << c.name;
    EXPECT_EQ(format_model_file(run(3)), format_model_file(one)) << c.name;
  }
}

}  // namespace
}  // namespace punb
