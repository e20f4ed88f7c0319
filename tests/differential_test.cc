// Byte-for-byte agreement with an independent, deliberately straightforward implementation
// (line reads, strtok/atoi, every file re-read at every pass) on generated corpora, plain and
// oddly formatted: standard output, the result file, the run log and every working file.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "differential_runs.h"
#include "test_support.h"

namespace punb {
namespace {

using test::TempDir;

using test::Corpus;
using test::kCorpora;
using test::kRuns;
using test::Run;

class Differential : public ::testing::TestWithParam<std::tuple<Corpus, Run>> {};

// Equal texts, or the first line where they part.
::testing::AssertionResult same_text(const std::string& what, const std::string& a,
                                     const std::string& b) {
  if (a == b) return ::testing::AssertionSuccess();
  std::size_t at = 0;
  while (at < a.size() && at < b.size() && a[at] == b[at]) ++at;
  const std::size_t line_start = a.rfind('\n', at == 0 ? 0 : at - 1);
  const std::size_t from = line_start == std::string::npos || at == 0 ? 0 : line_start + 1;
  return ::testing::AssertionFailure()
         << what << " differs at byte " << at << " (line " << test::count_lines(a.substr(0, at)) + 1
         << "): ours " << ::testing::PrintToString(a.substr(from, at - from + 40)) << ", theirs "
         << ::testing::PrintToString(b.substr(from, at - from + 40));
}

// Runs the straightforward implementation and punb at each thread count, each on the corpus
// `make` writes into a folder of its own, and compares every output byte.
void expect_same_bytes(const std::function<void(const TempDir&)>& make,
                       std::vector<std::string> args, const std::vector<const char*>& threads) {
  TempDir theirs;
  make(theirs);
  args.insert(args.end(), {"-f", "c"});
  const test::RunResult b = test::run_in_directory(theirs.root(), BASELINE_BINARY, args);

  for (const char* j : threads) {
    SCOPED_TRACE(std::string("-j ") + j);
    TempDir ours;
    make(ours);
    std::vector<std::string> ours_args = args;
    ours_args.insert(ours_args.end(), {"-j", j});
    const test::RunResult a = test::run_punb(ours, ours_args);
    ASSERT_EQ(a.status, 0) << a.out << a.err;
    EXPECT_TRUE(same_text("standard output", a.out, b.out));
    for (const char* f :
         {"c.output", "c.log", "spy", "pos_withoutspy", "truetrain1matrix0", "unlabelmatrix0"}) {
      EXPECT_EQ(ours.exists(f), theirs.exists(f)) << f;
      EXPECT_TRUE(same_text(f, ours.read(f), theirs.read(f)));
    }
  }
}

TEST_P(Differential, SameBytes) {
  const auto& [corpus, run] = GetParam();
  // One thread, two, and more threads than cores and than some files have pieces.
  expect_same_bytes(
      [&](const TempDir& d) { test::generate_corpus(d, "c", corpus.generator_options); }, run.args,
      {"1", "2", "7"});
}

// Above 2^53 whole counts no longer add up exactly in any order. An unlabeled set whose counts
// pass it (6.2 million pairs near 2^31, on indices 1 and 2, index 1 alone past 2^53) must be
// counted in file order by every mode, whatever the number of threads.
TEST(Differential, CountsPast2Pow53AddUpInFileOrder) {
  auto make = [](const TempDir& d) {
    std::string unlabeled;
    for (int line = 0; line < 6200; ++line) {
      for (int k = 0; k < 1000; ++k) {
        unlabeled += k < 840 ? "1:" : "2:";
        unlabeled += std::to_string(2147483647 - k * 3 - line);
        unlabeled += ' ';
      }
      unlabeled += std::to_string(3 + line % 7);
      unlabeled += ":1\n";
    }
    d.write("c.unlabel", unlabeled);
    std::string positive;
    for (int line = 0; line < 40; ++line) {
      positive += "1:3 2:";
      positive += std::to_string(1 + line % 4);
      positive += " 5:4\n";
    }
    d.write("c.pos", positive);
    d.write("c.test", "1 1:1 2:2\n-1 1:2 8:1\n1 2:1\n-1 9:3 1:1\n1 5:1 1:1\n");
  };
  expect_same_bytes(make, {"-nb"}, {"2"});
  expect_same_bytes(make, {"-kov", "-i", "1"}, {"2"});
}

INSTANTIATE_TEST_SUITE_P(Corpora, Differential,
                         ::testing::Combine(::testing::ValuesIn(kCorpora),
                                            ::testing::ValuesIn(kRuns)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) + "_" +
                                  std::get<1>(info.param).name;
                         });

}  // namespace
}  // namespace punb
