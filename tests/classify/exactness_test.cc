// A kept classifier gives exactly the run's posteriors: punb-classify on the model and the test
// set reproduces the result file and the final figures byte for byte, in both modes, for several
// option sets and thread counts, and the model file does not depend on the thread count.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"

namespace punb::test {
namespace {

// The last four lines of a text: the figure lines of a run's final report.
std::string figure_lines(const std::string& out) {
  std::size_t at = out.size();
  for (int k = 0; k < 5 && at != std::string::npos; ++k) at = out.rfind('\n', at - 1);
  return out.substr(at + 1);
}

struct Corpus {
  const char* name;
  const char* generator_options;  // empty: the bundled example corpus
};

struct Options {
  const char* name;
  std::vector<std::string> args;
};

const Corpus kCorpora[] = {
    {"example", ""},
    {"odd_lines",
     "--pos 250 --unlabel 900 --test 250 --vocab 3000 --words 20 --overlap 0.9 --odd 0.3 --seed 5"},
    {"mostly_positive_unlabeled",
     "--pos 200 --unlabel 600 --test 150 --vocab 2000 --words 15 "
     "--overlap 0.95 --unlabeled-pos-share 0.8 --odd 0.1 --seed 3"},
};

const Options kOptions[] = {
    {"nb", {"-nb"}},
    {"nb_weight", {"-nb", "-l", "2.5"}},
    {"kov", {"-kov"}},
    {"kov_options", {"-kov", "-s", "0.3", "-rt", "0.25", "-i", "3", "-l", "0.5"}},
    {"kov_one_iteration", {"-kov", "-i", "1", "-l", "0.01"}},
    {"kov_largest_threshold", {"-kov", "-rt", "1", "-i", "2"}},
};

void PrintTo(const Corpus& c, std::ostream* os) { *os << c.name; }
void PrintTo(const Options& o, std::ostream* os) { *os << o.name; }

void make_corpus(const TempDir& dir, const Corpus& corpus) {
  if (corpus.generator_options[0] != '\0') {
    generate_corpus(dir, "c", corpus.generator_options);
    return;
  }
  for (const char* ext : {".pos", ".unlabel", ".test"})
    std::filesystem::copy_file(std::string(EXAMPLES_DIR) + "/demo" + ext, dir.path("c") + ext);
}

class KeptClassifier : public ::testing::TestWithParam<std::tuple<Corpus, Options>> {};

TEST_P(KeptClassifier, ReproducesTheResultFileAndTheFigures) {
  const auto& [corpus, options] = GetParam();
  std::string model;  // the bytes of the first thread count's model
  for (const char* j : {"1", "2", "7"}) {
    SCOPED_TRACE(std::string("-j ") + j);
    TempDir dir;
    make_corpus(dir, corpus);
    std::vector<std::string> args = options.args;
    args.insert(args.end(), {"-f", "c", "-j", j, "--model", "c.model"});
    const RunResult run = run_punb(dir, args);
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    if (model.empty()) model = dir.read("c.model");
    EXPECT_EQ(dir.read("c.model"), model) << "the model depends on the thread count";

    const RunResult c = run_classify(dir, {"c.model", "--labeled", "c.test", "-j", j, "-o", "out"});
    ASSERT_EQ(c.status, 0) << c.err;
    EXPECT_EQ(dir.read("out"), dir.read("c.output"));
    EXPECT_EQ(c.out, figure_lines(run.out));
    // To standard output, the posteriors come first.
    EXPECT_EQ(run_classify(dir, {"c.model", "--labeled", "c.test", "-j", j}).out,
              dir.read("c.output") + figure_lines(run.out));
  }
}

INSTANTIATE_TEST_SUITE_P(Corpora, KeptClassifier,
                         ::testing::Combine(::testing::ValuesIn(kCorpora),
                                            ::testing::ValuesIn(kOptions)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) + "_" +
                                  std::get<1>(info.param).name;
                         });

// The test set takes no part in training or selection: scoring the unlabeled set with the kept
// classifier gives the posteriors of a run whose test set is the unlabeled set, labels added.
TEST(KeptClassifier, ScoresTheUnlabeledSetAsARunTestingOnIt) {
  for (const char* mode : {"-nb", "-kov"}) {
    SCOPED_TRACE(mode);
    TempDir dir;
    generate_corpus(dir, "c",
                    "--pos 120 --unlabel 400 --test 50 --vocab 900 --words 12 --odd 0.2 --seed 8");
    ASSERT_EQ(run_punb(dir, {mode, "-f", "c", "--model", "c.model"}).status, 0);
    const RunResult scored = run_classify(dir, {"c.model", "c.unlabel", "-j", "3"});
    ASSERT_EQ(scored.status, 0) << scored.err;

    std::string labeled;
    std::istringstream lines(dir.read("c.unlabel"));
    for (std::string line; std::getline(lines, line);) labeled += "1 " + line + "\n";
    dir.write("c.test", labeled);
    ASSERT_EQ(run_punb(dir, {mode, "-f", "c"}).status, 0);
    EXPECT_EQ(scored.out, dir.read("c.output"));
  }
}

}  // namespace
}  // namespace punb::test
